/*
 * BqVantleSV.mm --
 *
 *	The wrapper of a Perl scalar: typed reads and writes, handles, and
 *	references.
 *
 *	Reads of a value whose get-magic or overloading may run Perl code go
 *	through a trapped call; a Perl error then raises "Perl Error".
 *	Writes refuse read-only values with NSInvalidArgumentException, as
 *	Perl itself would refuse them, but without unwinding the caller.
 *	Writes store the value only: no set-magic is run.  A wrapper whose
 *	value is no scalar answers 0 or null and ignores writes.
 */
#import <Foundation/Foundation.h>

#include "BqVantleVar.h"
#include "VantlePriv.h"

@implementation BqVantleSV

/* The scalar to read, or null when the value is no scalar. */
- (SV *) _scalar
{
    return sv != NULL && VantlePriv_IsScalarType(sv) ? sv : NULL;
}

/* The scalar to write, or null; raises for a read-only value. */
- (SV *) _writableScalar: (const char *)doing
{
    SV *value = [self _scalar];
    if (value != NULL) {
	VantlePriv_CheckWritable(value, doing);
    }
    return value;
}

/*
 * _numberOf: --
 *	The value's number (as an NV, or an IV when integer is set), with
 *	magic and overloading trapped when they may run Perl code.
 */
- (NV) _numberOf: (SV *)value integer: (IV *)integer doing: (const char *)doing
{
    PerlInterpreter *my_perl = _perl;
    NV number = 0;
    if (!VantlePriv_NeedsTrap(value)) {
	if (integer != NULL) {
	    *integer = SvIV(value);
	} else {
	    number = SvNV(value);
	}
	return number;
    }
    if (!VantlePriv_Trapped(aTHX_ [&] {
	    if (integer != NULL) {
		*integer = SvIV(value);
	    } else {
		number = SvNV(value);
	    }
	})) {
	VantlePriv_RaisePerlError(aTHX_ doing);
    }
    return number;
}

- (const char *) stringValue
{
    SV *value = [self _scalar];
    return value != NULL ? VantlePriv_StringOf(_perl, value, "stringValue") : NULL;
}

- (void) setStringValue: (const char *)text
{
    SV *value = [self _writableScalar: "setStringValue:"];
    if (value != NULL) {
	PerlInterpreter *my_perl = _perl;
	sv_setpv(value, text);
    }
}

- (int) intValue
{
    SV *value = [self _scalar];
    IV integer = 0;
    if (value != NULL) {
	[self _numberOf: value integer: &integer doing: "intValue"];
    }
    return (int) integer;
}

- (void) setIntValue: (int)integer
{
    SV *value = [self _writableScalar: "setIntValue:"];
    if (value != NULL) {
	PerlInterpreter *my_perl = _perl;
	sv_setiv(value, integer);
    }
}

- (double) doubleValue
{
    SV *value = [self _scalar];
    return value != NULL ? (double) [self _numberOf: value integer: NULL doing: "doubleValue"]
			 : 0.0;
}

- (void) setDoubleValue: (double)number
{
    SV *value = [self _writableScalar: "setDoubleValue:"];
    if (value != NULL) {
	PerlInterpreter *my_perl = _perl;
	sv_setnv(value, number);
    }
}

- (float) floatValue
{
    return (float) [self doubleValue];
}

- (void) setFloatValue: (float)number
{
    [self setDoubleValue: (double) number];
}

/*
 *----------------------------------------------------------------------
 * idValue --
 *	The object of a handle, nil or class name; nil for anything else.
 *	Handles are overloaded, but reading one runs no overload, so only
 *	get-magic needs the trap.
 *----------------------------------------------------------------------
 */
- (id) idValue
{
    SV *value = [self _scalar];
    if (value == NULL) {
	return nil;
    }
    PerlInterpreter *my_perl = _perl;
    BqCPerl_SetInterp(my_perl);
    if (!SvGMAGICAL(value)) {
	return Vantle_SVGetObject2(value, NULL, NULL);
    }
    id object = nil;
    if (!VantlePriv_Trapped(aTHX_ [&] { object = Vantle_SVGetObject2(value, NULL, NULL); })) {
	VantlePriv_RaisePerlError(aTHX_ "idValue");
    }
    return object;
}

/*
 *----------------------------------------------------------------------
 * setIdValue: --
 *	Makes the scalar a handle of object (nil allowed).  An object that
 *	fails the validity check raises NSInvalidArgumentException with the
 *	reason, and the scalar is left undefined.
 *----------------------------------------------------------------------
 */
- (void) setIdValue: (id)object
{
    SV *value = [self _writableScalar: "setIdValue:"];
    if (value == NULL) {
	return;
    }
    BqCPerl_SetInterp(_perl);
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    int made = Vantle_SVSetObject(value, object, &errors);
    if (!made) {
	NSString *reason = [NSString stringWithFormat: @"setIdValue:: %s",
	    Tcl_DStringValue(&errors)];
	Tcl_DStringFree(&errors);
	[NSException raise: NSInvalidArgumentException format: @"%@", reason];
    }
    Tcl_DStringFree(&errors);
}

/*
 *----------------------------------------------------------------------
 * referenceValue --
 *	A wrapper of the referent (of the receiver's class when the type
 *	does not choose one), after running get-magic; nil when the
 *	scalar is no reference.
 *----------------------------------------------------------------------
 */
- (id) referenceValue
{
    SV *value = [self _scalar];
    if (value == NULL) {
	return nil;
    }
    PerlInterpreter *my_perl = _perl;
    if (SvGMAGICAL(value)) {
	if (!VantlePriv_Trapped(aTHX_ [&] { mg_get(value); })) {
	    VantlePriv_RaisePerlError(aTHX_ "referenceValue");
	}
    }
    if (!SvROK(value)) {
	return nil;
    }
    BqCPerl_SetInterp(my_perl);
    return [[self class] varWithSV: SvRV(value)];
}

/*
 *----------------------------------------------------------------------
 * setReferenceValue: --
 *	Makes the scalar a reference to the target's value, which gains one
 *	count; whatever the scalar held before (a string, another
 *	reference) is released as Perl releases it.
 *----------------------------------------------------------------------
 */
- (void) setReferenceValue: (BqVantleVar *)target
{
    SV *value = [self _writableScalar: "setReferenceValue:"];
    SV *referent = target != nil ? [target sValue] : NULL;
    if (value == NULL || referent == NULL) {
	return;
    }
    PerlInterpreter *my_perl = _perl;
    sv_setrv_inc(value, referent);
}

@end
