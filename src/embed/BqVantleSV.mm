/*
 * BqVantleSV.mm --
 *
 *	The wrapper of a Perl scalar: typed reads and writes, handles, and
 *	references.
 *
 *	Reads of a value whose get-magic or overloading may run Perl code go
 *	through a trapped call; a Perl error then raises "Perl Error".
 *	Integers are read and written with Perl's full 64 bits
 *	(longLongValue, unsignedLongLongValue); intValue cuts to an int.
 *	Writes refuse read-only values with NSInvalidArgumentException, as
 *	Perl itself would refuse them, but without unwinding the caller.
 *	Writes store the value only: no set-magic is run.  A wrapper whose
 *	value is no scalar answers 0 or null and ignores writes.
 */
#import <Foundation/Foundation.h>

#include "BqVantleVar.h"
#include "BqVantleInterpPriv.h"
#include "VantlePriv.h"

/* The number kinds a scalar is read as. */
typedef enum NumberKind {
    NUMBER_SIGNED,		/* IV */
    NUMBER_UNSIGNED,		/* UV */
    NUMBER_FLOATING		/* NV */
} NumberKind;

typedef union Number {
    IV iv;
    UV uv;
    NV nv;
} Number;

/* The value's number of the given kind, as Perl reads it. */
static Number
ReadNumber(pTHX_ SV *value, NumberKind kind)
{
    Number number;
    switch (kind) {
    case NUMBER_SIGNED:
	number.iv = SvIV(value);
	break;
    case NUMBER_UNSIGNED:
	number.uv = SvUV(value);
	break;
    default:
	number.nv = SvNV(value);
	break;
    }
    return number;
}

/* The scalar of a wrapper, for reading it; null when the value is no
 * scalar.  Raises when the wrapper's interpreter was destroyed. */
static SV *
ScalarOf(BqVantleVar *var)
{
    SV *value = VantlePriv_VarValue(var);
    return value != NULL && VantlePriv_IsScalarType(value) ? value : NULL;
}

/*
 * ReadyNumber --
 *	Whether value holds its number of the given kind already, without
 *	get-magic (so without conversion, interpreter or Perl code), as
 *	Perl's own SvIV, SvUV and SvNV find it; the number goes to *number.
 */
static int
ReadyNumber(SV *value, NumberKind kind, Number *number)
{
    switch (kind) {
    case NUMBER_SIGNED:
	if (SvIOK_nog(value)) {
	    number->iv = SvIVX(value);
	    return 1;
	}
	return 0;
    case NUMBER_UNSIGNED:
	if (SvIOK_nog(value)) {
	    number->uv = SvIsUV(value) ? SvUVX(value) : (UV) SvIVX(value);
	    return 1;
	}
	return 0;
    default:
	if (SvNOK_nog(value)) {
	    number->nv = SvNVX(value);
	    return 1;
	}
	return 0;
    }
}

/*
 * NumberOf --
 *	The scalar's number of the given kind (0 for a value that is no
 *	scalar): read directly when it is ready, else converted in the
 *	wrapper's interpreter, with magic and overloading trapped when they
 *	may run Perl code.
 */
static Number
NumberOf(BqVantleVar *var, NumberKind kind, const char *doing)
{
    Number number;
    number.uv = 0;
    SV *value = ScalarOf(var);
    if (value == NULL || ReadyNumber(value, kind, &number)) {
	return number;
    }
    VANTLE_dCURRENT(VantlePriv_VarPerl(var), doing);
    VantlePriv_OnValue(aTHX_ value, doing, [&] { number = ReadNumber(aTHX_ value, kind); });
    return number;
}

@implementation BqVantleSV

+ (void) load
{
    VantlePriv_SVClass = self;
}

/* The scalar to read, or null when the value is no scalar. */
- (SV *) _scalar
{
    return ScalarOf(self);
}

/* The scalar to write, or null; raises for a read-only value. */
- (SV *) _writableScalar: (const char *)doing
{
    SV *value = ScalarOf(self);
    if (value != NULL) {
	VantlePriv_CheckWritable(value, doing);
    }
    return value;
}

- (const char *) stringValue
{
    SV *value = ScalarOf(self);
    if (value == NULL) {
	return NULL;
    }
    VANTLE_dWRAPPER("stringValue");
    return VantlePriv_StringOf(aTHX_ value, "stringValue");
}

- (void) setStringValue: (const char *)text
{
    SV *value = [self _writableScalar: "setStringValue:"];
    if (value != NULL) {
	VANTLE_dWRAPPER("setStringValue:");
	sv_setpv(value, text);
    }
}

- (int) intValue
{
    return (int) NumberOf(self, NUMBER_SIGNED, "intValue").iv;
}

- (void) setIntValue: (int)integer
{
    SV *value = [self _writableScalar: "setIntValue:"];
    if (value != NULL) {
	VANTLE_dWRAPPER("setIntValue:");
	sv_setiv(value, integer);
    }
}

/* The full 64-bit integer: Perl's integer value of the scalar. */
- (long long) longLongValue
{
    return (long long) NumberOf(self, NUMBER_SIGNED, "longLongValue").iv;
}

- (void) setLongLongValue: (long long)integer
{
    SV *value = [self _writableScalar: "setLongLongValue:"];
    if (value != NULL) {
	VANTLE_dWRAPPER("setLongLongValue:");
	sv_setiv(value, (IV) integer);
    }
}

/* Perl's unsigned integer value of the scalar: integers up to 2**64-1,
 * and negative ones as C converts them. */
- (unsigned long long) unsignedLongLongValue
{
    return (unsigned long long) NumberOf(self, NUMBER_UNSIGNED, "unsignedLongLongValue").uv;
}

- (void) setUnsignedLongLongValue: (unsigned long long)integer
{
    SV *value = [self _writableScalar: "setUnsignedLongLongValue:"];
    if (value != NULL) {
	VANTLE_dWRAPPER("setUnsignedLongLongValue:");
	sv_setuv(value, (UV) integer);
    }
}

- (double) doubleValue
{
    return (double) NumberOf(self, NUMBER_FLOATING, "doubleValue").nv;
}

- (void) setDoubleValue: (double)number
{
    SV *value = [self _writableScalar: "setDoubleValue:"];
    if (value != NULL) {
	VANTLE_dWRAPPER("setDoubleValue:");
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
    SV *value = ScalarOf(self);
    if (value == NULL) {
	return nil;
    }
    VANTLE_dWRAPPER("idValue");
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
    VANTLE_dWRAPPER("setIdValue:");
    PERL_UNUSED_CONTEXT;
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
    SV *value = ScalarOf(self);
    if (value == NULL) {
	return nil;
    }
    VANTLE_dWRAPPER("referenceValue");
    if (SvGMAGICAL(value)) {
	if (!VantlePriv_Trapped(aTHX_ [&] { mg_get(value); })) {
	    VantlePriv_RaisePerlError(aTHX_ "referenceValue");
	}
    }
    if (!SvROK(value)) {
	return nil;
    }
    return [[self class] varWithSV: SvRV(value)];
}

/*
 *----------------------------------------------------------------------
 * setReferenceValue: --
 *	Makes the scalar a reference to the target's value, which gains one
 *	count; whatever the scalar held before (a string, another
 *	reference) is released as Perl releases it.  A target of another
 *	interpreter raises NSInvalidArgumentException.
 *----------------------------------------------------------------------
 */
- (void) setReferenceValue: (BqVantleVar *)target
{
    SV *value = [self _writableScalar: "setReferenceValue:"];
    SV *referent = target != nil ? [target sValue] : NULL;
    if (value == NULL || referent == NULL) {
	return;
    }
    VANTLE_dWRAPPER("setReferenceValue:");
    if ([target _perl] != my_perl) {
	[NSException raise: NSInvalidArgumentException
		    format: @"setReferenceValue:: the value belongs to another Perl interpreter"];
    }
    sv_setrv_inc(value, referent);
}

@end
