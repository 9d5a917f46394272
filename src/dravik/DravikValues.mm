/*
 * DravikValues.mm --
 *
 *	Single values between Perl and objects, trapped when they run Perl
 *	code (DravikValues.h).
 */
#import <Foundation/Foundation.h>

#include "DravikValues.h"
#include "DravikRawConvert.h"
#include "DravikPerlError.h"
#include "BqPerlVar.h"
#include "VantlePriv.h"

int
DravikPriv_ReadMayRunPerl(pTHX_ SV *value, BOOL raw)
{
    if (value == NULL) {
	return 0;
    }
    if (raw) {
	return SvGMAGICAL(value) ? 1 : 0;
    }
    if (Vantle_ObjectForSVHook != NULL || VantlePriv_NeedsTrap(value)) {
	return 1;
    }
    svtype type = SvTYPE(value);
    if (type == SVt_PVAV || type == SVt_PVHV) {
	return 1;
    }
    return SvROK(value) && VantlePriv_HandleReferent(aTHX_ value) == NULL;
}

int
DravikPriv_ObjectForValue(pTHX_ SV *value, BOOL raw, Tcl_DString *errors, char *failed,
	id *result)
{
    *failed = 0;
    *result = nil;
    auto body = [&] {
	*result = raw ? Dravik_ObjectForSV_Raw(value, errors, failed)
	    : Vantle_ObjectForSV(value, errors, failed);
    };
    if (!DravikPriv_ReadMayRunPerl(aTHX_ value, raw)) {
	body();
	return 1;
    }
    return VantlePriv_Trapped(aTHX_ body);
}

/* Whether setting a scalar from object may run Perl code: a converter
 * hook, or the get-magic of a raw wrapper's value. */
static int
WriteMayRunPerl(id object, BOOL raw)
{
    if (!raw) {
	return Vantle_SVForObjectHook != NULL;
    }
    return object != nil && VantlePriv_IsKindOfClass(object, DravikPriv_PerlVarClass)
	&& VantlePriv_NeedsTrap([(BqPerlVar *) object sValue]);
}

int
DravikPriv_ValueForObject(pTHX_ SV *target, id object, BOOL raw, Tcl_DString *errors,
	char *failed)
{
    *failed = 0;
    auto body = [&] {
	int done = raw ? Dravik_SVForObject_Raw(target, object, errors)
	    : Vantle_SVForObject(target, object, errors);
	*failed = done ? 0 : 1;
    };
    if (!WriteMayRunPerl(object, raw)) {
	body();
	return 1;
    }
    return VantlePriv_Trapped(aTHX_ body);
}

id
DravikPriv_ObjectForValueOrRaise(pTHX_ SV *value, BOOL raw, const char *doing,
	const char *subject)
{
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    char failed = 0;
    id result = nil;
    int ran = DravikPriv_ObjectForValue(aTHX_ value, raw, &errors, &failed, &result);
    if (!ran || failed) {
	DravikPriv_RaiseFailure(aTHX_ doing, subject, !ran, &errors);
    }
    Tcl_DStringFree(&errors);
    return result;
}

void
DravikPriv_ValueForObjectOrRaise(pTHX_ SV *target, id object, BOOL raw, const char *doing,
	const char *subject)
{
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    char failed = 0;
    int ran = DravikPriv_ValueForObject(aTHX_ target, object, raw, &errors, &failed);
    if (!ran || failed) {
	DravikPriv_RaiseFailure(aTHX_ doing, subject, !ran, &errors);
    }
    Tcl_DStringFree(&errors);
}
