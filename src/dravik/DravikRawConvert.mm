/*
 * DravikRawConvert.mm --
 *
 *	The raw conversions (DravikRawConvert.h).
 */
#import <Foundation/Foundation.h>

#include "DravikRawConvert.h"
#include "BqPerlVar.h"
#include "Vantle.h"
#include "VantlePriv.h"
#include "BqVantleVar.h"

BOOL
Dravik_SVForObject_Raw(SV *sv, id object, Tcl_DString *errors)
{
    BQCPERL_dTHX;
    if (object == nil || !VantlePriv_IsKindOfClass(object, DravikPriv_PerlVarClass)) {
	return Vantle_SVSetObject(sv, object, errors) ? YES : NO;
    }
    BqPerlVar *var = (BqPerlVar *) object;
    if (DravikPriv_VarPerl(var) != aTHX) {
	BqTcl_DStringApp(errors, "the Perl value belongs to another Perl interpreter",
		(char *) NULL);
	return NO;
    }
    SV *value = [var sValue];
    if (VantlePriv_IsScalarType(value)) {
	sv_setsv(sv, value);
    } else {
	SV *reference = newRV_inc(value);
	sv_setsv(sv, reference);
	SvREFCNT_dec_NN(reference);
    }
    return YES;
}

id
Dravik_ObjectForSV_Raw(SV *sv, Tcl_DString *errors, char *errorFlag)
{
    BQCPERL_dTHX;
    if (errorFlag != NULL) {
	*errorFlag = 0;
    }
    if (sv == NULL) {
	return nil;
    }
    SvGETMAGIC(sv);
    if (VantlePriv_SVIsObjectNM(aTHX_ sv)) {
	return Vantle_SVGetObject2NM(sv, errors, errorFlag);
    }
    return [BqPerlVar wrapSV: sv];
}
