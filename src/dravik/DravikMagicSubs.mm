/*
 * DravikMagicSubs.mm --
 *
 *	The Perl subs of Dravik::Magic that every kind of retaining
 *	container answers: the TIE constructors, FETCH, STORE, EXISTS,
 *	DELETE, CLEAR, the key walk and DESTROY, which Perl calls through
 *	the tie magic of a retaining container (and when its inner container
 *	is freed).  The subs only arrays need are in DravikMagicArray.mm.
 *
 *	Every sub but the TIE constructors takes a tie object first: a
 *	reference to an inner container blessed into Dravik::Magic; its
 *	referent's type says the kind.  A key is a string for a hash and an
 *	integer for an array.  The key "selfObject" of a hash is stored
 *	without a retain and never released, and EXISTS denies it.
 */
#import <Foundation/Foundation.h>

#include "DravikMagicPriv.h"

#include <string.h>

/* The inner container of a sub's tie object argument; croaks for
 * anything else. */
static SV *
TieArgument(pTHX_ SV *argument, const char *subName)
{
    SV *inner = DravikPriv_Inner(aTHX_ argument);
    if (inner == NULL) {
	croak("%s: not a tie object of Dravik::Magic", subName);
    }
    return inner;
}

/* A hash key argument as hv_fetch takes it (negative length: UTF-8). */
static const char *
HashKey(pTHX_ SV *argument, I32 *lengthPtr, const char *subName)
{
    STRLEN length;
    const char *key = SvPV_const(argument, length);
    if (length > (STRLEN) I32_MAX) {
	croak("%s: key too long", subName);
    }
    *lengthPtr = SvUTF8(argument) ? -(I32) length : (I32) length;
    return key;
}

/* An array index argument counted from the end when negative, as Perl
 * counts it; -1 when that is still before the first element. */
static SSize_t
ArrayIndex(pTHX_ AV *inner, SV *argument)
{
    IV index = SvIV(argument);
    if (index < 0) {
	index += av_top_index(inner) + 1;
    }
    return index < 0 ? -1 : (SSize_t) index;
}

/* A hash entry's key as a new mortal scalar, or undef at the end. */
static SV *
EntryKey(pTHX_ HE *entry)
{
    return entry != NULL ? hv_iterkeysv(entry) : &PL_sv_undef;
}

/*
 *----------------------------------------------------------------------
 * TIEHASH, TIEARRAY, TIESCALAR --
 *	(CLASS): a tie object of a new empty inner container; the class is
 *	not used.
 *----------------------------------------------------------------------
 */
static void
ReturnNewTieObject(pTHX_ SV **slot, SV *inner)
{
    *slot = sv_bless(sv_2mortal(newRV_noinc(inner)), DravikPriv_MagicStash(aTHX));
}

XS_INTERNAL(XS_Dravik__Magic__TIEHASH)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(1, 1, "Usage: Dravik::Magic::TIEHASH(x)");
    ReturnNewTieObject(aTHX_ &ST(0), (SV *) newHV());
    XSRETURN(1);
}

XS_INTERNAL(XS_Dravik__Magic__TIEARRAY)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(1, 1, "Usage: Dravik::Magic::TIEARRAY(x)");
    ReturnNewTieObject(aTHX_ &ST(0), (SV *) newAV());
    XSRETURN(1);
}

XS_INTERNAL(XS_Dravik__Magic__TIESCALAR)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(1, 1, "Usage: Dravik::Magic::TIESCALAR(x)");
    ReturnNewTieObject(aTHX_ &ST(0), newSV(0));
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * FETCH --
 *	(TIE): a copy of the inner scalar.  (TIE, KEY): a copy of the
 *	value under KEY, undef when there is none (nothing is made).
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__Magic__FETCH)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(1, 2, "Usage: Dravik::Magic::FETCH(x[,elem])");
    SV *inner = TieArgument(aTHX_ ST(0), "Dravik::Magic::FETCH");
    int kind = DravikPriv_KindOf(inner);
    SV **found = NULL;
    if (items == 1) {
	found = kind == DRAVIK_MAGIC_SCALAR ? &inner : NULL;
    } else if (kind == DRAVIK_MAGIC_HASH) {
	I32 length;
	const char *key = HashKey(aTHX_ ST(1), &length, "Dravik::Magic::FETCH");
	found = Dravik_Magic_fetch(ST(0), key, length, 0);
    } else if (kind == DRAVIK_MAGIC_ARRAY) {
	found = av_fetch((AV *) inner, (SSize_t) SvIV(ST(1)), 0);
    }
    ST(0) = found != NULL && *found != NULL ? sv_mortalcopy(*found) : &PL_sv_undef;
    XSRETURN(1);
}

/* Stores a copy into the inner scalar: the copy's object is retained,
 * then the replaced one released. */
static void
StoreScalar(pTHX_ SV *inner, SV *value)
{
    SV *copy = sv_mortalcopy(value);
    SV *failure = DravikPriv_Foundation(aTHX_ "Dravik::Magic::STORE", [&] {
	DravikPriv_Retain(aTHX_ copy);
	DravikPriv_Release(aTHX_ inner);
    });
    if (failure != NULL) {
	croak_sv(failure);
    }
    sv_setsv(inner, copy);
}

/* Stores a copy at an index of an inner array, as STORE does. */
static void
StoreElement(pTHX_ AV *inner, SV *indexArgument, SV *value)
{
    SSize_t index = ArrayIndex(aTHX_ inner, indexArgument);
    if (index < 0) {
	croak("Modification of non-creatable array value attempted, subscript %" IVdf,
	      SvIV(indexArgument));
    }
    SV *copy = sv_mortalcopy(value);
    SV *failure = DravikPriv_Foundation(aTHX_ "Dravik::Magic::STORE", [&] {
	DravikPriv_Retain(aTHX_ copy);
	SV **old = av_fetch(inner, index, 0);
	SV *replaced = old != NULL ? sv_2mortal(SvREFCNT_inc_simple_NN(*old)) : NULL;
	(void) av_store(inner, index, SvREFCNT_inc_simple_NN(copy));
	if (replaced != NULL) {
	    DravikPriv_Release(aTHX_ replaced);
	}
    });
    if (failure != NULL) {
	croak_sv(failure);
    }
}

/*
 *----------------------------------------------------------------------
 * STORE --
 *	(TIE, VALUE): a scalar's new value.  (TIE, KEY, VALUE): a copy of
 *	VALUE under KEY.  The object of the new value is retained and the
 *	object of the value it replaces released; a retain that raises
 *	croaks and stores nothing.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__Magic__STORE)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(2, 3, "Usege: Dravik::Magic::STORE(x[,elem],value)");
    SV *inner = TieArgument(aTHX_ ST(0), "Dravik::Magic::STORE");
    int kind = DravikPriv_KindOf(inner);
    if (items == 2) {
	if (kind == DRAVIK_MAGIC_SCALAR) {
	    StoreScalar(aTHX_ inner, ST(1));
	}
    } else if (kind == DRAVIK_MAGIC_HASH) {
	I32 length;
	const char *key = HashKey(aTHX_ ST(1), &length, "Dravik::Magic::STORE");
	SV *copy = sv_mortalcopy(ST(2));
	SV *failure = DravikPriv_Foundation(aTHX_ "Dravik::Magic::STORE", [&] {
	    DravikPriv_StoreInHash(aTHX_ (HV *) inner, key, length, copy, YES);
	});
	if (failure != NULL) {
	    croak_sv(failure);
	}
    } else if (kind == DRAVIK_MAGIC_ARRAY) {
	StoreElement(aTHX_ (AV *) inner, ST(1), ST(2));
    }
    XSRETURN_EMPTY;
}

/*
 *----------------------------------------------------------------------
 * EXISTS --
 *	(TIE, KEY): whether KEY is there; never for "selfObject".
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__Magic__EXISTS)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(2, 2, "Usege: Dravik::Magic::EXISTS(x,elem)");
    SV *inner = TieArgument(aTHX_ ST(0), "Dravik::Magic::EXISTS");
    BOOL exists = NO;
    if (DravikPriv_KindOf(inner) == DRAVIK_MAGIC_HASH) {
	I32 length;
	const char *key = HashKey(aTHX_ ST(1), &length, "Dravik::Magic::EXISTS");
	exists = !DravikPriv_IsSelfKey(key, length) && Dravik_Magic_exists(ST(0), key, length);
    } else if (DravikPriv_KindOf(inner) == DRAVIK_MAGIC_ARRAY) {
	IV index = SvIV(ST(1));
	exists = index >= 0 && index <= av_top_index((AV *) inner)
	    && av_fetch((AV *) inner, (SSize_t) index, 0) != NULL;
    }
    ST(0) = exists ? &PL_sv_yes : &PL_sv_no;
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * DELETE --
 *	(TIE, KEY): removes KEY's value, releasing its object ("selfObject"
 *	goes unreleased).  An array's element becomes absent; an index
 *	past the end does nothing.  Answers nothing.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__Magic__DELETE)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(2, 2, "Usege: Dravik::Magic::DELETE(x,elem)");
    SV *inner = TieArgument(aTHX_ ST(0), "Dravik::Magic::DELETE");
    SV **old = NULL;
    I32 length = 0;
    const char *key = NULL;
    SSize_t index = -1;
    if (DravikPriv_KindOf(inner) == DRAVIK_MAGIC_HASH) {
	key = HashKey(aTHX_ ST(1), &length, "Dravik::Magic::DELETE");
	old = DravikPriv_IsSelfKey(key, length) ? NULL : Dravik_Magic_fetch(ST(0), key, length, 0);
    } else if (DravikPriv_KindOf(inner) == DRAVIK_MAGIC_ARRAY) {
	index = ArrayIndex(aTHX_ (AV *) inner, ST(1));
	old = index >= 0 ? av_fetch((AV *) inner, index, 0) : NULL;
    }
    if (old != NULL) {
	SV *failure = DravikPriv_Foundation(aTHX_ "Dravik::Magic::DELETE", [&] {
	    DravikPriv_Release(aTHX_ *old);
	});
	if (failure != NULL) {
	    croak_sv(failure);
	}
    }
    if (key != NULL) {
	(void) hv_delete((HV *) inner, key, length, G_DISCARD);
    } else if (old != NULL) {
	(void) av_delete((AV *) inner, index, G_DISCARD);
    }
    XSRETURN_EMPTY;
}

/*
 *----------------------------------------------------------------------
 * CLEAR --
 *	(TIE): empties a hash or an array, releasing what it removes.  A
 *	hash keeps "selfObject", the link to its owner.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__Magic__CLEAR)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(1, 1, "Usage: Dravik::Magic::CLEAR(x)");
    SV *inner = TieArgument(aTHX_ ST(0), "Dravik::Magic::CLEAR");
    SV *failure = DravikPriv_Foundation(aTHX_ "Dravik::Magic::CLEAR", [&] {
	if (DravikPriv_KindOf(inner) == DRAVIK_MAGIC_HASH) {
	    DravikPriv_EmptyHash(aTHX_ (HV *) inner, 1);
	} else if (DravikPriv_KindOf(inner) == DRAVIK_MAGIC_ARRAY) {
	    DravikPriv_EmptyArray(aTHX_ (AV *) inner);
	}
    });
    if (failure != NULL) {
	croak_sv(failure);
    }
    XSRETURN_EMPTY;
}

/*
 *----------------------------------------------------------------------
 * SCALAR --
 *	(TIE): a hash's number of keys ("selfObject" counts, as keys lists
 *	it), for scalar(%h) and a hash in boolean context, which would
 *	otherwise restart the hash's key walk.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__Magic__SCALAR)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(1, 1, "Usage: Dravik::Magic::SCALAR(x)");
    SV *inner = TieArgument(aTHX_ ST(0), "Dravik::Magic::SCALAR");
    ST(0) = DravikPriv_KindOf(inner) == DRAVIK_MAGIC_HASH
	? sv_2mortal(newSVuv(HvUSEDKEYS((HV *) inner))) : &PL_sv_undef;
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * FIRSTKEY --
 *	(TIE): the first key of a hash walk (undef when empty); 0 for an
 *	array with elements; a scalar's tie object answers itself.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__Magic__FIRSTKEY)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(1, 1, "Usege: Dravik::Magic::FIRSTKEY(x)");
    SV *inner = TieArgument(aTHX_ ST(0), "Dravik::Magic::FIRSTKEY");
    switch (DravikPriv_KindOf(inner)) {
    case DRAVIK_MAGIC_HASH:
	hv_iterinit((HV *) inner);
	ST(0) = EntryKey(aTHX_ hv_iternext((HV *) inner));
	DravikPriv_SetLastWalked(aTHX_ (HV *) inner);
	break;
    case DRAVIK_MAGIC_ARRAY:
	ST(0) = av_top_index((AV *) inner) >= 0 ? sv_2mortal(newSViv(0)) : &PL_sv_undef;
	break;
    default:
	break;
    }
    XSRETURN(1);
}

/* Whether key's bytes are those of prev. */
static int
SameKey(pTHX_ HE *entry, const char *prev, STRLEN prevLength)
{
    if (HeKLEN(entry) == HEf_SVKEY) {
	return 0;
    }
    return (STRLEN) HeKLEN(entry) == prevLength && memcmp(HeKEY(entry), prev, prevLength) == 0;
}

/*
 * NextHashKey --
 *	The entry after prev in a walk of inner.  The hash's own iterator
 *	goes on from where it is when inner is the hash walked last, or
 *	when the iterator stands at prev (a walk of another hash came in
 *	between, which left this one's iterator alone; prev may even have
 *	been deleted since).  Otherwise the walk starts again from the
 *	first entry and stops after prev; without prev it is over.
 */
static HE *
NextHashKey(pTHX_ HV *inner, SV *prevArgument)
{
    STRLEN prevLength;
    const char *prev = SvPV_const(prevArgument, prevLength);
    HE *current = HvEITER_get(inner);
    if (!DravikPriv_IsLastWalked(aTHX_ inner)
	    && (current == NULL || !SameKey(aTHX_ current, prev, prevLength))) {
	hv_iterinit(inner);
	HE *entry;
	while ((entry = hv_iternext(inner)) != NULL && !SameKey(aTHX_ entry, prev, prevLength)) {
	}
	if (entry == NULL) {
	    DravikPriv_SetLastWalked(aTHX_ inner);
	    return NULL;
	}
    }
    DravikPriv_SetLastWalked(aTHX_ inner);
    return hv_iternext(inner);
}

/*
 *----------------------------------------------------------------------
 * NEXTKEY --
 *	(TIE, PREV): the key after PREV, undef at the end.  A scalar's tie
 *	object answers itself.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__Magic__NEXTKEY)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(2, 2, "Usege: Dravik::Magic::NEXTKEY(x,elem)");
    SV *inner = TieArgument(aTHX_ ST(0), "Dravik::Magic::NEXTKEY");
    switch (DravikPriv_KindOf(inner)) {
    case DRAVIK_MAGIC_HASH:
	ST(0) = EntryKey(aTHX_ NextHashKey(aTHX_ (HV *) inner, ST(1)));
	break;
    case DRAVIK_MAGIC_ARRAY: {
	IV next = SvIV(ST(1)) + 1;
	ST(0) = next >= 0 && next <= av_top_index((AV *) inner)
	    ? sv_2mortal(newSViv(next)) : &PL_sv_undef;
	break;
    }
    default:
	break;
    }
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * DESTROY --
 *	(REF): Perl calls it when an inner container is freed.  Releases
 *	every value it retained ("selfObject" goes first, unreleased) and
 *	empties it, so a second call releases nothing again.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__Magic__DESTROY)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(1, 1, "Usage: Dravik::Magic::DESTROY(x)");
    SV *inner = TieArgument(aTHX_ ST(0), "Dravik::Magic::DESTROY");
    SV *failure = DravikPriv_Foundation(aTHX_ "Dravik::Magic::DESTROY", [&] {
	switch (DravikPriv_KindOf(inner)) {
	case DRAVIK_MAGIC_HASH:
	    DravikPriv_EmptyHash(aTHX_ (HV *) inner, 0);
	    break;
	case DRAVIK_MAGIC_ARRAY:
	    DravikPriv_EmptyArray(aTHX_ (AV *) inner);
	    break;
	default:
	    DravikPriv_Release(aTHX_ inner);
	    sv_set_undef(inner);
	    break;
	}
    });
    if (failure != NULL) {
	croak_sv(failure);
    }
    XSRETURN_EMPTY;
}

/*
 *----------------------------------------------------------------------
 * DravikPriv_BootMagic --
 *	Registers the subs of Dravik::Magic in the current interpreter and
 *	gives it the state they keep.
 *----------------------------------------------------------------------
 */
void
DravikPriv_BootMagic(pTHX)
{
    DravikPriv_BootMagicContext(aTHX);
    (void) DravikPriv_MagicStash(aTHX);
    newXS("Dravik::Magic::FETCH", XS_Dravik__Magic__FETCH, "Dravik");
    newXS("Dravik::Magic::STORE", XS_Dravik__Magic__STORE, "Dravik");
    newXS("Dravik::Magic::DELETE", XS_Dravik__Magic__DELETE, "Dravik");
    newXS("Dravik::Magic::EXISTS", XS_Dravik__Magic__EXISTS, "Dravik");
    newXS("Dravik::Magic::FIRSTKEY", XS_Dravik__Magic__FIRSTKEY, "Dravik");
    newXS("Dravik::Magic::NEXTKEY", XS_Dravik__Magic__NEXTKEY, "Dravik");
    newXS("Dravik::Magic::TIEHASH", XS_Dravik__Magic__TIEHASH, "Dravik");
    newXS("Dravik::Magic::TIESCALAR", XS_Dravik__Magic__TIESCALAR, "Dravik");
    newXS("Dravik::Magic::TIEARRAY", XS_Dravik__Magic__TIEARRAY, "Dravik");
    newXS("Dravik::Magic::DESTROY", XS_Dravik__Magic__DESTROY, "Dravik");
    newXS("Dravik::Magic::CLEAR", XS_Dravik__Magic__CLEAR, "Dravik");
    newXS("Dravik::Magic::SCALAR", XS_Dravik__Magic__SCALAR, "Dravik");
    DravikPriv_BootMagicArray(aTHX);
}
