/*
 * DravikMagic.mm --
 *
 *	Retaining containers seen from C: making one out of a Perl
 *	container, recognising one, and the hash operations the web layer's
 *	objects use on their inner hashes; with them the retain and release
 *	of stored values that the Perl subs of Dravik::Magic share.
 */
#import <Foundation/Foundation.h>

#include "DravikMagicPriv.h"
#include "Vantle.h"

#include <string.h>

/* The type of tie magic a kind of container carries. */
static inline int
TieMagicType(int kind)
{
    return kind == DRAVIK_MAGIC_SCALAR ? PERL_MAGIC_tiedscalar : PERL_MAGIC_tied;
}

/* Whether key is "selfObject", given as hv_fetch takes it. */
int
DravikPriv_IsSelfKey(const char *key, I32 length)
{
    static const I32 selfLength = (I32) sizeof(DRAVIK_MAGIC_SELF_KEY) - 1;
    return (length == selfLength || length == -selfLength)
	&& memcmp(key, DRAVIK_MAGIC_SELF_KEY, (size_t) selfLength) == 0;
}

/* The kind an inner container's Perl type gives. */
int
DravikPriv_KindOf(SV *inner)
{
    switch (SvTYPE(inner)) {
    case SVt_PVHV:
	return DRAVIK_MAGIC_HASH;
    case SVt_PVAV:
	return DRAVIK_MAGIC_ARRAY;
    default:
	return DRAVIK_MAGIC_SCALAR;
    }
}

/* The referent of tieObject when that is blessed into Dravik::Magic. */
SV *
DravikPriv_Inner(pTHX_ SV *tieObject)
{
    if (tieObject == NULL || !SvROK(tieObject)) {
	return NULL;
    }
    SV *inner = SvRV(tieObject);
    if (!SvOBJECT(inner) || SvSTASH(inner) != DravikPriv_MagicStash(aTHX)) {
	return NULL;
    }
    return inner;
}

/*
 * HandleObject --
 *	The object of value when value is the handle of a live object; nil
 *	for everything else (plain values, class names, nil and dead
 *	handles).  Runs value's get-magic once.
 */
static id
HandleObject(pTHX_ SV *value)
{
    if (value == NULL || (!SvROK(value) && !SvGMAGICAL(value))) {
	return nil;
    }
    char failed = 0;
    id object = Vantle_SVGetObject2(value, NULL, &failed);
    return SvROK(value) ? object : nil;
}

/* Retains the object of a handle value; may raise. */
void
DravikPriv_Retain(pTHX_ SV *value)
{
    id object = HandleObject(aTHX_ value);
    if (object != nil) {
	[object retain];
    }
}

/* Autoreleases the object of a handle value; may raise. */
void
DravikPriv_Release(pTHX_ SV *value)
{
    id object = HandleObject(aTHX_ value);
    if (object != nil) {
	[object autorelease];
    }
}

/*
 * DravikPriv_StoreInHash --
 *	Stores value under key, the hash taking a count of its own.  With
 *	retain (and another key than "selfObject") the new object is
 *	retained first, so a raise there changes nothing; the replaced
 *	value is kept as a mortal until its object is released.
 */
void
DravikPriv_StoreInHash(pTHX_ HV *inner, const char *key, I32 length, SV *value, BOOL retain)
{
    if (!retain || DravikPriv_IsSelfKey(key, length)) {
	(void) hv_store(inner, key, length, SvREFCNT_inc_simple_NN(value), 0);
	return;
    }
    DravikPriv_Retain(aTHX_ value);
    SV **old = hv_fetch(inner, key, length, 0);
    SV *replaced = old != NULL ? sv_2mortal(SvREFCNT_inc_simple_NN(*old)) : NULL;
    (void) hv_store(inner, key, length, SvREFCNT_inc_simple_NN(value), 0);
    if (replaced != NULL) {
	DravikPriv_Release(aTHX_ replaced);
    }
}

/*
 * DravikPriv_EmptyHash --
 *	Takes "selfObject" out (unreleased), releases the objects of the
 *	other values and clears the hash; "selfObject" goes back in when
 *	keepSelf.  The walk resets the hash's iterator, so it is no longer
 *	the last walked.
 */
void
DravikPriv_EmptyHash(pTHX_ HV *inner, int keepSelf)
{
    SV **slot = hv_fetchs(inner, DRAVIK_MAGIC_SELF_KEY, 0);
    SV *self = slot != NULL && keepSelf ? sv_2mortal(SvREFCNT_inc_simple_NN(*slot)) : NULL;
    (void) hv_deletes(inner, DRAVIK_MAGIC_SELF_KEY, G_DISCARD);
    DravikPriv_ForgetWalk(aTHX_ inner);
    hv_iterinit(inner);
    HE *entry;
    while ((entry = hv_iternext(inner)) != NULL) {
	DravikPriv_Release(aTHX_ HeVAL(entry));
    }
    hv_clear(inner);
    if (self != NULL) {
	(void) hv_stores(inner, DRAVIK_MAGIC_SELF_KEY, SvREFCNT_inc_simple_NN(self));
    }
}

/* Releases the objects of an array's elements and clears it. */
void
DravikPriv_EmptyArray(pTHX_ AV *inner)
{
    SSize_t last = av_top_index(inner);
    for (SSize_t i = 0; i <= last; i++) {
	SV **element = av_fetch(inner, i, 0);
	if (element != NULL) {
	    DravikPriv_Release(aTHX_ *element);
	}
    }
    av_clear(inner);
}

/*
 *----------------------------------------------------------------------
 * Dravik_IsMagic --
 *	Whether container is a retaining container of kind.
 *----------------------------------------------------------------------
 */
BOOL
Dravik_IsMagic(SV *container, int kind)
{
    BQCPERL_dTHX;
    if (container == NULL || SvTYPE(container) < SVt_PVMG) {
	return NO;
    }
    MAGIC *magic = mg_find(container, TieMagicType(kind));
    return magic != NULL && DravikPriv_Inner(aTHX_ magic->mg_obj) != NULL;
}

/* Whether container's Perl type can be the inner container of kind: a
 * hash, an array, or a plain scalar (not a glob, a pattern or an
 * lvalue). */
static int
FitsKind(SV *container, int kind)
{
    switch (kind) {
    case DRAVIK_MAGIC_HASH:
	return SvTYPE(container) == SVt_PVHV;
    case DRAVIK_MAGIC_ARRAY:
	return SvTYPE(container) == SVt_PVAV;
    case DRAVIK_MAGIC_SCALAR:
	return SvTYPE(container) <= SVt_PVMG;
    default:
	return 0;
    }
}

/*
 * RetainContents --
 *	Retains the values a container holds as it becomes an inner
 *	container, since the inner container releases every value it holds
 *	when it goes ("selfObject" excepted).  When a retain raises, the
 *	ones done are undone and the exception goes on.
 */
static void
RetainContents(pTHX_ SV *container, int kind)
{
    if (kind == DRAVIK_MAGIC_SCALAR) {
	DravikPriv_Retain(aTHX_ container);
	return;
    }
    if (kind == DRAVIK_MAGIC_ARRAY) {
	AV *array = (AV *) container;
	SSize_t last = av_top_index(array), i = 0;
	@try {
	    for (; i <= last; i++) {
		SV **element = av_fetch(array, i, 0);
		if (element != NULL) {
		    DravikPriv_Retain(aTHX_ *element);
		}
	    }
	} @catch (id exception) {
	    while (--i >= 0) {
		SV **element = av_fetch(array, i, 0);
		if (element != NULL) {
		    DravikPriv_Release(aTHX_ *element);
		}
	    }
	    @throw;
	}
	return;
    }
    HV *hash = (HV *) container;
    I32 count = 0;
    hv_iterinit(hash);
    @try {
	HE *entry;
	while ((entry = hv_iternext(hash)) != NULL) {
	    I32 length;
	    const char *key = hv_iterkey(entry, &length);
	    if (!DravikPriv_IsSelfKey(key, HeKUTF8(entry) ? -length : length)) {
		DravikPriv_Retain(aTHX_ HeVAL(entry));
	    }
	    count++;
	}
    } @catch (id exception) {
	hv_iterinit(hash);
	for (I32 i = 0; i < count; i++) {
	    HE *entry = hv_iternext(hash);
	    I32 length;
	    const char *key = hv_iterkey(entry, &length);
	    if (!DravikPriv_IsSelfKey(key, HeKUTF8(entry) ? -length : length)) {
		DravikPriv_Release(aTHX_ HeVAL(entry));
	    }
	}
	@throw;
    }
}

/*
 *----------------------------------------------------------------------
 * Dravik_MakeMagic --
 *	A retaining container of kind around container (see DravikMagic.h).
 *	Null, besides for null, when container cannot be the inner
 *	container of kind (another Perl type, read-only, or already the
 *	inner container of a retaining container).  The values container holds
 *	are retained.  Raises what retaining them raised, container then
 *	left as it was.
 *----------------------------------------------------------------------
 */
SV *
Dravik_MakeMagic(SV *container, int kind)
{
    BQCPERL_dTHX;
    if (container == NULL) {
	return NULL;
    }
    if (Dravik_IsMagic(container, kind)) {
	return container;
    }
    HV *stash = DravikPriv_MagicStash(aTHX);
    if (!FitsKind(container, kind) || SvREADONLY(container)
	    || (SvOBJECT(container) && SvSTASH(container) == stash)) {
	return NULL;
    }
    RetainContents(aTHX_ container, kind);
    SV *outer = kind == DRAVIK_MAGIC_ARRAY ? (SV *) newAV()
	: kind == DRAVIK_MAGIC_HASH ? (SV *) newHV() : newSV(0);
    if (SvOBJECT(container)) {
	/* The blessing goes to the container Perl code will see. */
	if (SvTYPE(outer) < SVt_PVMG) {
	    sv_upgrade(outer, SVt_PVMG);
	}
	SvSTASH_set(outer, SvSTASH(container));
	SvOBJECT_on(outer);
	SvSTASH_set(container, NULL);
	SvOBJECT_off(container);
    }
    SV *tieObject = sv_2mortal(newRV_noinc(container));
    sv_bless(tieObject, stash);
    sv_magic(outer, tieObject, (char) TieMagicType(kind), NULL, 0);
    return outer;
}

/* The kind of a tie object: its referent's type; 0 without one. */
int
Dravik_GetMagicType(SV *tieObject)
{
    if (tieObject == NULL || !SvROK(tieObject)) {
	return DRAVIK_MAGIC_SCALAR;
    }
    return DravikPriv_KindOf(SvRV(tieObject));
}

/* The object of container's tie magic of kind's type, or null (also
 * for a container that cannot carry magic). */
SV *
Dravik_GetMagic(SV *container, int kind)
{
    if (container == NULL || SvTYPE(container) < SVt_PVMG) {
	return NULL;
    }
    MAGIC *magic = mg_find(container, TieMagicType(kind));
    return magic != NULL ? magic->mg_obj : NULL;
}

/* The inner hash of a tie object, or null (no tie object, another kind). */
static HV *
InnerHash(pTHX_ SV *tieObject)
{
    SV *inner = DravikPriv_Inner(aTHX_ tieObject);
    return inner != NULL && SvTYPE(inner) == SVt_PVHV ? (HV *) inner : NULL;
}

/* hv_fetch on the inner hash of tieObject; null without one. */
SV **
Dravik_Magic_fetch(SV *tieObject, const char *key, I32 length, I32 lval)
{
    BQCPERL_dTHX;
    HV *inner = InnerHash(aTHX_ tieObject);
    return inner != NULL ? hv_fetch(inner, key, length, lval) : NULL;
}

/*
 *----------------------------------------------------------------------
 * Dravik_Magic_store --
 *	Stores value under key (see DravikMagic.h).  The hash takes the
 *	caller's count of value; when retaining raises, nothing is stored
 *	and the count stays the caller's.  "selfObject" is never retained
 *	nor released.
 *----------------------------------------------------------------------
 */
void
Dravik_Magic_store(SV *tieObject, const char *key, I32 length, SV *value, BOOL retain)
{
    BQCPERL_dTHX;
    HV *inner = InnerHash(aTHX_ tieObject);
    if (inner == NULL || value == NULL) {
	return;
    }
    DravikPriv_StoreInHash(aTHX_ inner, key, length, value, retain);
    SvREFCNT_dec_NN(value);
}

/* hv_exists on the inner hash of tieObject; NO without one. */
BOOL
Dravik_Magic_exists(SV *tieObject, const char *key, I32 length)
{
    BQCPERL_dTHX;
    HV *inner = InnerHash(aTHX_ tieObject);
    return inner != NULL && hv_exists(inner, key, length) ? YES : NO;
}

/* A key of a hash entry as an NSString: UTF-8 keys as such, the others
 * (Perl's byte strings) as Latin-1, so no character is lost. */
static NSString *
KeyString(pTHX_ HE *entry)
{
    I32 length;
    const char *key = hv_iterkey(entry, &length);
    NSStringEncoding encoding = HeKUTF8(entry) ? NSUTF8StringEncoding : NSISOLatin1StringEncoding;
    NSString *string = [[NSString alloc] initWithBytes: key length: (NSUInteger) length
					      encoding: encoding];
    if (string == nil) {
	string = [[NSString alloc] initWithBytes: key length: (NSUInteger) length
					encoding: NSISOLatin1StringEncoding];
    }
    return [string autorelease];
}

/*
 *----------------------------------------------------------------------
 * Dravik_Magic_keys --
 *	The keys of an inner container (see DravikMagic.h).  A hash's walk
 *	resets its iterator, so it is no longer the last walked one.
 *----------------------------------------------------------------------
 */
NSMutableArray *
Dravik_Magic_keys(SV *tieObject)
{
    BQCPERL_dTHX;
    SV *inner = DravikPriv_Inner(aTHX_ tieObject);
    if (inner == NULL) {
	return nil;
    }
    NSMutableArray *keys = [NSMutableArray array];
    switch (DravikPriv_KindOf(inner)) {
    case DRAVIK_MAGIC_ARRAY: {
	SSize_t last = av_top_index((AV *) inner);
	for (SSize_t i = 0; i <= last; i++) {
	    [keys addObject: [NSNumber numberWithInt: (int) i]];
	}
	break;
    }
    case DRAVIK_MAGIC_HASH: {
	HV *hash = (HV *) inner;
	DravikPriv_ForgetWalk(aTHX_ hash);
	hv_iterinit(hash);
	HE *entry;
	while ((entry = hv_iternext(hash)) != NULL) {
	    I32 length;
	    const char *key = hv_iterkey(entry, &length);
	    if (!DravikPriv_IsSelfKey(key, length)) {
		[keys addObject: KeyString(aTHX_ entry)];
	    }
	}
	break;
    }
    default:
	break;
    }
    return keys;
}
