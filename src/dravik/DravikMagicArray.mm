/*
 * DravikMagicArray.mm --
 *
 *	The subs of Dravik::Magic that only retaining arrays answer: what
 *	Perl calls for the size of a tied array and for push, pop, shift,
 *	unshift and splice.  Elements that come in are copies whose objects
 *	are retained before they are stored (a retain that raises croaks
 *	with the array unchanged); elements that go out have their objects
 *	released (autoreleased, so a returned one stays usable).
 */
#import <Foundation/Foundation.h>

#include "DravikMagicPriv.h"

/* The inner array of a sub's tie object argument; croaks for anything
 * else. */
static AV *
ArrayArgument(pTHX_ SV *argument, const char *subName)
{
    SV *inner = DravikPriv_Inner(aTHX_ argument);
    if (inner == NULL || SvTYPE(inner) != SVt_PVAV) {
	croak("%s: not a tie object of a Dravik::Magic array", subName);
    }
    return (AV *) inner;
}

/* Croaks with failure, a message from DravikPriv_Foundation, if any. */
static inline void
CroakOnFailure(pTHX_ SV *failure)
{
    if (failure != NULL) {
	croak_sv(failure);
    }
}

/*
 * RetainAll --
 *	Retains the objects of count values; when one raises, the retains
 *	done are released again and the message for the raise answered.
 */
static SV *
RetainAll(pTHX_ const char *subName, SV **values, SSize_t count)
{
    SSize_t done = 0;
    SV *failure = DravikPriv_Foundation(aTHX_ subName, [&] {
	for (; done < count; done++) {
	    DravikPriv_Retain(aTHX_ values[done]);
	}
    });
    if (failure != NULL) {
	(void) DravikPriv_Foundation(aTHX_ subName, [&] {
	    while (done > 0) {
		DravikPriv_Release(aTHX_ values[--done]);
	    }
	});
    }
    return failure;
}

/* Replaces the arguments from ST(first) on by mortal copies. */
#define COPY_ARGUMENTS(first)				\
    for (I32 i = (first); i < items; i++) {		\
	ST(i) = sv_mortalcopy(ST(i));			\
    }

/*
 *----------------------------------------------------------------------
 * FETCHSIZE, STORESIZE, EXTEND --
 *	(TIE): the number of elements.  (TIE, COUNT): makes it COUNT,
 *	releasing the elements cut off.  EXTEND does nothing.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__Magic__FETCHSIZE)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(1, 1, "Usage: Dravik::Magic::FETCHSIZE(x)");
    AV *inner = ArrayArgument(aTHX_ ST(0), "Dravik::Magic::FETCHSIZE");
    ST(0) = sv_2mortal(newSViv(av_top_index(inner) + 1));
    XSRETURN(1);
}

XS_INTERNAL(XS_Dravik__Magic__STORESIZE)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(2, 2, "Usage: Dravik::Magic::STORESIZE(x,count)");
    AV *inner = ArrayArgument(aTHX_ ST(0), "Dravik::Magic::STORESIZE");
    IV count = SvIV(ST(1));
    if (count < 0) {
	count = 0;
    }
    SSize_t last = av_top_index(inner);
    CroakOnFailure(aTHX_ DravikPriv_Foundation(aTHX_ "Dravik::Magic::STORESIZE", [&] {
	for (SSize_t i = (SSize_t) count; i <= last; i++) {
	    SV **element = av_fetch(inner, i, 0);
	    if (element != NULL) {
		DravikPriv_Release(aTHX_ *element);
	    }
	}
    }));
    av_fill(inner, (SSize_t) count - 1);
    XSRETURN_EMPTY;
}

XS_INTERNAL(XS_Dravik__Magic__EXTEND)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(2, 2, "Usage: Dravik::Magic::EXTEND(x,count)");
    (void) ArrayArgument(aTHX_ ST(0), "Dravik::Magic::EXTEND");
    XSRETURN_EMPTY;
}

/*
 *----------------------------------------------------------------------
 * PUSH, UNSHIFT --
 *	(TIE, LIST): adds copies of LIST at the end or the start.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__Magic__PUSH)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(1, I32_MAX, "Usage: Dravik::Magic::PUSH(x,list)");
    AV *inner = ArrayArgument(aTHX_ ST(0), "Dravik::Magic::PUSH");
    COPY_ARGUMENTS(1);
    CroakOnFailure(aTHX_ RetainAll(aTHX_ "Dravik::Magic::PUSH", &ST(1), items - 1));
    for (I32 i = 1; i < items; i++) {
	av_push(inner, SvREFCNT_inc_simple_NN(ST(i)));
    }
    XSRETURN_EMPTY;
}

XS_INTERNAL(XS_Dravik__Magic__UNSHIFT)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(1, I32_MAX, "Usage: Dravik::Magic::UNSHIFT(x,list)");
    AV *inner = ArrayArgument(aTHX_ ST(0), "Dravik::Magic::UNSHIFT");
    COPY_ARGUMENTS(1);
    CroakOnFailure(aTHX_ RetainAll(aTHX_ "Dravik::Magic::UNSHIFT", &ST(1), items - 1));
    av_unshift(inner, items - 1);
    for (I32 i = 1; i < items; i++) {
	(void) av_store(inner, i - 1, SvREFCNT_inc_simple_NN(ST(i)));
    }
    XSRETURN_EMPTY;
}

/* An element taken out of an inner array (owned, or the immortal undef
 * for none) as the sub's mortal result, its object released. */
static SV *
TakenElement(pTHX_ const char *subName, SV *taken)
{
    if (taken == &PL_sv_undef) {
	return taken;
    }
    sv_2mortal(taken);
    CroakOnFailure(aTHX_ DravikPriv_Foundation(aTHX_ subName, [&] {
	DravikPriv_Release(aTHX_ taken);
    }));
    return taken;
}

/*
 *----------------------------------------------------------------------
 * POP, SHIFT --
 *	(TIE): removes and answers the last or the first element; undef
 *	when there is none.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__Magic__POP)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(1, 1, "Usage: Dravik::Magic::POP(x)");
    AV *inner = ArrayArgument(aTHX_ ST(0), "Dravik::Magic::POP");
    ST(0) = TakenElement(aTHX_ "Dravik::Magic::POP", av_pop(inner));
    XSRETURN(1);
}

XS_INTERNAL(XS_Dravik__Magic__SHIFT)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(1, 1, "Usage: Dravik::Magic::SHIFT(x)");
    AV *inner = ArrayArgument(aTHX_ ST(0), "Dravik::Magic::SHIFT");
    ST(0) = TakenElement(aTHX_ "Dravik::Magic::SHIFT", av_shift(inner));
    XSRETURN(1);
}

/*
 * SpliceRange --
 *	The offset and length of a splice of an array of size elements, as
 *	Perl's splice reads them: negative values count from the end, an
 *	offset past the end warns and means the end, and the length is
 *	clipped to the elements there are.
 */
static void
SpliceRange(pTHX_ I32 items, SV *offsetArgument, SV *lengthArgument, SSize_t size,
	    SSize_t *offsetPtr, SSize_t *lengthPtr)
{
    IV offset = items > 1 ? SvIV(offsetArgument) : 0;
    if (offset < 0) {
	offset += size;
	if (offset < 0) {
	    croak("Modification of non-creatable array value attempted, subscript %" IVdf,
		  offset - size);
	}
    }
    if (offset > size) {
	Perl_ck_warner(aTHX_ packWARN(WARN_MISC), "splice() offset past end of array");
	offset = size;
    }
    IV length = items > 2 ? SvIV(lengthArgument) : size - offset;
    if (length < 0) {
	length += size - offset;
	if (length < 0) {
	    length = 0;
	}
    }
    if (length > size - offset) {
	length = size - offset;
    }
    *offsetPtr = (SSize_t) offset;
    *lengthPtr = (SSize_t) length;
}

/*
 *----------------------------------------------------------------------
 * SPLICE --
 *	(TIE, OFFSET, LENGTH, LIST): Perl's splice on the inner array.
 *	Answers the elements removed (their objects released), in scalar
 *	context the last of them or undef.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__Magic__SPLICE)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    CHECK_ITEMS(1, I32_MAX, "Usage: Dravik::Magic::SPLICE(x[,offset[,length[,list]]])");
    AV *inner = ArrayArgument(aTHX_ ST(0), "Dravik::Magic::SPLICE");
    SSize_t size = av_top_index(inner) + 1, offset, length;
    SpliceRange(aTHX_ items, items > 1 ? ST(1) : NULL, items > 2 ? ST(2) : NULL, size,
		&offset, &length);

    /* The new elements (copies, retained) and the ones after the
     * removed range move into arrays of their own for the change. */
    AV *added = (AV *) sv_2mortal((SV *) newAV());
    for (I32 i = 3; i < items; i++) {
	av_push(added, newSVsv(ST(i)));
    }
    SSize_t addedCount = av_top_index(added) + 1;
    CroakOnFailure(aTHX_ RetainAll(aTHX_ "Dravik::Magic::SPLICE", AvARRAY(added), addedCount));
    AV *kept = (AV *) sv_2mortal((SV *) newAV());
    for (SSize_t i = offset + length; i < size; i++) {
	SV **element = av_fetch(inner, i, 0);
	if (element != NULL) {
	    (void) av_store(kept, i - offset - length, SvREFCNT_inc_simple_NN(*element));
	}
    }

    /* The removed elements become the results, as mortals. */
    SP = MARK;
    EXTEND(SP, length);
    for (SSize_t i = 0; i < length; i++) {
	SV **element = av_fetch(inner, offset + i, 0);
	PUSHs(element != NULL ? sv_2mortal(SvREFCNT_inc_simple_NN(*element)) : &PL_sv_undef);
    }
    PUTBACK;

    av_fill(inner, offset - 1);
    for (SSize_t i = 0; i < addedCount; i++) {
	av_push(inner, SvREFCNT_inc_simple_NN(AvARRAY(added)[i]));
    }
    SSize_t keptCount = size - offset - length;
    for (SSize_t i = 0; i < keptCount; i++) {
	SV **element = av_fetch(kept, i, 0);
	if (element != NULL) {
	    (void) av_store(inner, offset + addedCount + i, SvREFCNT_inc_simple_NN(*element));
	}
    }
    av_fill(inner, offset + addedCount + keptCount - 1);

    SV **removed = PL_stack_base + ax;
    CroakOnFailure(aTHX_ DravikPriv_Foundation(aTHX_ "Dravik::Magic::SPLICE", [&] {
	for (SSize_t i = 0; i < length; i++) {
	    DravikPriv_Release(aTHX_ removed[i]);
	}
    }));
    if (GIMME_V != G_LIST) {
	ST(0) = length > 0 ? removed[length - 1] : &PL_sv_undef;
	XSRETURN(1);
    }
    XSRETURN((IV) length);
}

/* Registers the subs only retaining arrays answer. */
void
DravikPriv_BootMagicArray(pTHX)
{
    newXS("Dravik::Magic::FETCHSIZE", XS_Dravik__Magic__FETCHSIZE, "Dravik");
    newXS("Dravik::Magic::STORESIZE", XS_Dravik__Magic__STORESIZE, "Dravik");
    newXS("Dravik::Magic::EXTEND", XS_Dravik__Magic__EXTEND, "Dravik");
    newXS("Dravik::Magic::PUSH", XS_Dravik__Magic__PUSH, "Dravik");
    newXS("Dravik::Magic::POP", XS_Dravik__Magic__POP, "Dravik");
    newXS("Dravik::Magic::SHIFT", XS_Dravik__Magic__SHIFT, "Dravik");
    newXS("Dravik::Magic::UNSHIFT", XS_Dravik__Magic__UNSHIFT, "Dravik");
    newXS("Dravik::Magic::SPLICE", XS_Dravik__Magic__SPLICE, "Dravik");
}
