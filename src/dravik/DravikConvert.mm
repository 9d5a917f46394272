/*
 * DravikConvert.mm --
 *
 *	The web layer's converters between Perl values and objects, installed
 *	as the binding's converter hooks when the web layer starts, so every
 *	conversion anywhere goes through them:
 *	- to objects: a blessed hash is the object that owns it (its
 *	  "selfObject") or a BqPerlObject over it; a string is an NSString
 *	  (never a number, however it looks); a number an NSNumber; a handle
 *	  its object; what the binding cannot convert stays a Perl value in a
 *	  BqPerlVar instead of failing;
 *	- to Perl: a host object with a Perl object becomes that object's
 *	  blessed reference; an NSNumber a number; a BqPerlVar its value;
 *	  everything else as the binding converts it.
 *	Neither converter croaks: failures are reported through the caller's
 *	error string and flag.
 */
#import <Foundation/Foundation.h>

#include "DravikConvert.h"
#include "BqPerlObject.h"
#include "BqPerlVar.h"
#include "DravikMagic.h"
#include "Vantle.h"
#include "VantlePriv.h"

#include <math.h>

void
Dravik_ConvertInit(void)
{
    static int done;
    if (done) {
	return;
    }
    done = 1;
    Vantle_ObjectForSVHook = Dravik_ObjectForSV;
    Vantle_SVForObjectHook = Dravik_SVForObject;
}

/* The "selfObject" slot of a blessed hash, through its inner hash when it
 * is a retaining one; null when it has none. */
static SV **
SelfObjectSlot(pTHX_ HV *hv)
{
    if (Dravik_IsMagic((SV *) hv, DRAVIK_MAGIC_HASH)) {
	return Dravik_Magic_fetch(Dravik_GetMagic((SV *) hv, DRAVIK_MAGIC_HASH),
		DRAVIK_MAGIC_SELF_KEY, sizeof DRAVIK_MAGIC_SELF_KEY - 1, 0);
    }
    return hv_fetchs(hv, DRAVIK_MAGIC_SELF_KEY, 0);
}

/* An NSString of a Perl string's text: UTF-8 when flagged, else the
 * characters 0..255 it holds. */
static NSString *
StringOf(pTHX_ SV *sv)
{
    STRLEN length;
    const char *bytes = SvPV_nomg(sv, length);
    return [[[NSString alloc] initWithBytes: bytes length: length
	    encoding: SvUTF8(sv) ? NSUTF8StringEncoding : NSISOLatin1StringEncoding]
	    autorelease];
}

id
Dravik_ObjectForSV(SV *sv, Tcl_DString *errors, char *errorFlag)
{
    BQCPERL_dTHX;
    if (errorFlag != NULL) {
	*errorFlag = 0;
    }
    if (sv == NULL) {
	return nil;
    }
    if (SvROK(sv)) {
	SV *referent = SvRV(sv);
	if (SvOBJECT(referent) && SvTYPE(referent) == SVt_PVHV) {
	    SV **slot = SelfObjectSlot(aTHX_ (HV *) referent);
	    if (slot != NULL) {
		return Vantle_SVGetObject2(*slot, errors, errorFlag);
	    }
	    return [[[BqPerlObject alloc] initForRVHV: sv magic: NO] autorelease];
	}
    } else if (!SvGMAGICAL(sv)) {
	if (SvPOK(sv) && SvPOKp(sv)) {
	    return StringOf(aTHX_ sv);
	}
	if (!SvPOK(sv) && SvNOK(sv)) {
	    return [NSNumber numberWithDouble: SvNV_nomg(sv)];
	}
	if (!SvPOK(sv) && SvIOK(sv)) {
	    return SvIsUV(sv) ? [NSNumber numberWithUnsignedLongLong: SvUV_nomg(sv)]
		: [NSNumber numberWithLongLong: SvIV_nomg(sv)];
	}
    }
    if (VantlePriv_HandleReferent(aTHX_ sv) != NULL) {
	return Vantle_SVGetObject2NM(sv, errors, errorFlag);
    }
    char failed = 0;
    id object = Vantle_ObjectForSV_Default(sv, NULL, &failed);
    if (failed) {
	/* What cannot be converted stays a Perl value. */
	return [BqPerlVar wrapSV: sv];
    }
    return object;
}

/* What a host of Perl code (component, application) answers. */
@protocol DravikPerlObjectHost
- (id) perlObject;
@end

int
Dravik_SVForObject(SV *sv, id object, Tcl_DString *errors)
{
    BQCPERL_dTHX;
    static Class numberClass, perlVarClass;
    if (numberClass == Nil) {
	numberClass = [NSNumber class];
	perlVarClass = [BqPerlVar class];
    }
    /* A host of Perl code (component, application) is its Perl object;
     * one that has none yet (an application before its file ran) stays
     * a handle. */
    if (object != nil && class_respondsToSelector(object_getClass(object), @selector(perlObject))) {
	id perlObject = [(id <DravikPerlObjectHost>) object perlObject];
	if (perlObject != nil) {
	    object = perlObject;
	}
    }
    if (object != nil && VantlePriv_IsKindOfClass(object, numberClass)) {
	/* The double, and the integer only when it is exact: a number
	 * like 2.5 keeps its fraction in Perl's arithmetic (its integer
	 * value, 2, is Perl's own conversion). */
	double value = [object doubleValue];
	sv_setnv(sv, value);
	if (value == trunc(value) && fabs(value) < 9.2e18) {
	    SvUPGRADE(sv, SVt_PVNV);	/* room for both */
	    SvIV_set(sv, (IV) [object longLongValue]);
	    SvIOK_on(sv);
	}
	return 1;
    }
    /* One not initialised yet (just allocated) has no value: it stays a
     * handle, so Perl code can initialise it. */
    if (object != nil && VantlePriv_IsKindOfClass(object, perlVarClass)
	    && [(BqPerlVar *) object sValue] != NULL) {
	sv_setsv(sv, [(BqPerlVar *) object sValue]);
	return 1;
    }
    return Vantle_SVForObject_Default(sv, object, errors);
}
