/*
 * PerlOverload.mm --
 *
 *	Object handles under Perl's operators.  Without these subs Perl
 *	would print a handle as a blessed reference and compare handles as
 *	addresses; with them a handle prints as its object, and with the
 *	perlify_foundation control on, handles of Foundation strings and
 *	numbers act like the Perl strings and numbers they hold.
 *
 *	The conversions answer a new value in place of their first argument
 *	and never croak over a bad handle: a stale or illegal one prints as
 *	"<BAD OBJECT: ...>" and is false.  The comparisons fall back to
 *	Perl's own integer or string comparison when an operand is no
 *	object.  Objective-C work runs under the platform guard; Perl code
 *	(overloaded operands, get-magic) only outside it.
 */
#import <Foundation/Foundation.h>

#include "PerlOverload.h"
#include "VantlePriv.h"

#include <strings.h>

typedef enum ConversionMode {
    ModeString,
    ModeNumber,
    ModeBoolean,
    ModeIncrement,
    ModeDecrement
} ConversionMode;

/*
 * StringIsFalse --
 *	Whether a string object reads as false: empty, or "no", "false" or
 *	"0" in any case.  Answers -1 (text in errors) when asking it raised.
 */
static int
StringIsFalse(id string, Tcl_DString *errors)
{
    int isFalse = 0;
    if (!VantlePriv_Guard(errors, [&] {
	const char *text = [string UTF8String];
	isFalse = [string length] == 0 || text == NULL || strcasecmp(text, "no") == 0
		|| strcasecmp(text, "false") == 0 || strcasecmp(text, "0") == 0;
    })) {
	return -1;
    }
    return isFalse;
}

/* Whether a number object reads as false; -1 when asking it raised. */
static int
NumberIsFalse(id number, Tcl_DString *errors)
{
    int isFalse = 0;
    if (!VantlePriv_Guard(errors, [&] { isFalse = ![number boolValue]; })) {
	return -1;
    }
    return isFalse;
}

/*
 * TruthOf --
 *	The boolean form of a live, non-nil object: true, except for empty
 *	and negative strings and zero numbers when perlify_foundation is on.
 *	Answers -1 (text in errors) when asking the object raised.
 */
static int
TruthOf(id object, Tcl_DString *errors)
{
    if (!VantlePriv_PerlifyFoundation) {
	return 1;
    }
    int isFalse = 0;
    if (VantlePriv_IsKindOfClass(object, VantlePriv_NSStringClass)) {
	isFalse = StringIsFalse(object, errors);
    } else if (VantlePriv_IsKindOfClass(object, VantlePriv_NSNumberClass)) {
	isFalse = NumberIsFalse(object, errors);
    }
    return isFalse < 0 ? -1 : !isFalse;
}

/*
 * SetValueOf --
 *	Sets result to the string or number form of a live, non-nil object:
 *	a class's name ("#" in front for a metaclass); with perlify_foundation
 *	on, a string's text or a number's value (an integer or a floating
 *	value by what the number holds, so 2.5 + 1 stays 3.5); else
 *	"<Class:0xADDRESS>" with the full address.  Answers 0 with the text
 *	in errors when asking the object raised.
 */
static int
SetValueOf(pTHX_ SV *result, id object, Tcl_DString *errors)
{
    Class cls = object_getClass(object);
    if (cls != Nil && class_isMetaClass(cls)) {
	sv_setpvf(result, "%s%s", class_isMetaClass((Class) object) ? "#" : "",
		class_getName((Class) object));
	return 1;
    }
    if (VantlePriv_PerlifyFoundation
	    && (VantlePriv_IsKindOfClass(object, VantlePriv_NSStringClass)
		|| VantlePriv_IsKindOfClass(object, VantlePriv_NSNumberClass))) {
	return Vantle_SVForObject_Default(result, object, errors);
    }
    sv_setpvf(result, "<%s:0x%" UVxf ">", cls != Nil ? class_getName(cls) : "Nil",
	    PTR2UV(object));
    return 1;
}

/*
 *----------------------------------------------------------------------
 * Convert --
 *	The body of the five conversion subs: leaves in ST(0) the form of
 *	the handle in ST(0) that mode asks for.  A value that is no handle
 *	is warned about and comes back unchanged.  Croaks only when there is
 *	no argument or when a Foundation object raised while being asked for
 *	its value.
 *----------------------------------------------------------------------
 */
static void
Convert(pTHX_ I32 ax, I32 items, ConversionMode mode, const char *name)
{
    if (items < 1) {
	croak("%s: no object", name);
    }
    SV *handle = ST(0);
    SvGETMAGIC(handle);
    if (VantlePriv_HandleReferent(aTHX_ handle) == NULL) {
	warn("%s: not an object", name);
	return;
    }

    SV *result = NULL;
    SV *failure = NULL;
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    char failed = 0;
    id object = Vantle_SVGetObject2NM(handle, &errors, &failed);
    if (failed) {
	result = mode == ModeBoolean ? &PL_sv_no
		: sv_2mortal(newSVpvf("<BAD OBJECT: %s>", Tcl_DStringValue(&errors)));
    } else if (object == nil) {
	result = mode == ModeString ? sv_2mortal(newSVpvs("nil"))
		: mode == ModeIncrement || mode == ModeDecrement ? sv_2mortal(newSViv(0))
		: &PL_sv_undef;
    } else if (mode == ModeBoolean) {
	int truth = TruthOf(object, &errors);
	if (truth < 0) {
	    failure = sv_2mortal(newSVpvf("%s: %s", name, Tcl_DStringValue(&errors)));
	} else {
	    result = truth ? &PL_sv_yes : &PL_sv_no;
	}
    } else {
	result = sv_newmortal();
	if (!SetValueOf(aTHX_ result, object, &errors)) {
	    failure = sv_2mortal(newSVpvf("%s: %s", name, Tcl_DStringValue(&errors)));
	}
    }
    Tcl_DStringFree(&errors);
    if (failure != NULL) {
	croak_sv(failure);
    }
    ST(0) = result;
}

#define CONVERSION_SUB(function, mode, name)	\
XS_INTERNAL(function)				\
{						\
    dXSARGS;					\
    BqCPerl_SetInterp(aTHX);			\
    Convert(aTHX_ ax, items, mode, name);	\
    XSRETURN(1);				\
}

CONVERSION_SUB(XS_Vantle__Object__Id_2_String, ModeString, "Vantle::Object::Id_2_String")
CONVERSION_SUB(XS_Vantle__Object__Id_2_Number, ModeNumber, "Vantle::Object::Id_2_Number")
CONVERSION_SUB(XS_Vantle__Object__Id_2_Boolean, ModeBoolean, "Vantle::Object::Id_2_Boolean")
CONVERSION_SUB(XS_Vantle__Object__Id_Incr, ModeIncrement, "Vantle::Object::Id_Incr")
CONVERSION_SUB(XS_Vantle__Object__Id_Decr, ModeDecrement, "Vantle::Object::Id_Decr")

/* Whether an object counts as a Perl scalar for comparisons. */
static int
IsStringOrNumber(id object)
{
    return VantlePriv_IsKindOfClass(object, VantlePriv_NSNumberClass)
	|| VantlePriv_IsKindOfClass(object, VantlePriv_NSStringClass);
}

/*
 *----------------------------------------------------------------------
 * IsSame --
 *	Identity of two operands: the same object (nil is nil); operands
 *	that are no objects, or with perlify_foundation on two string or
 *	number objects, compare as integers.
 *----------------------------------------------------------------------
 */
static int
IsSame(pTHX_ SV *left, SV *right)
{
    char leftFailed = 0, rightFailed = 0;
    id leftObject = Vantle_SVGetObject2(left, NULL, &leftFailed);
    id rightObject = Vantle_SVGetObject2(right, NULL, &rightFailed);
    if (leftFailed || rightFailed
	    || (VantlePriv_PerlifyFoundation && VantlePriv_NSNumberClass != Nil
		&& VantlePriv_NSStringClass != Nil
		&& IsStringOrNumber(leftObject) && IsStringOrNumber(rightObject))) {
	return SvIV(left) == SvIV(right);
    }
    return leftObject == rightObject;
}

/*
 *----------------------------------------------------------------------
 * IsEqual --
 *	Equality of two operands: isEqual: sent to the first object with
 *	the second (so nil equals nothing, not even nil); operands that are
 *	no objects compare as strings.  Answers -1 with the text in errors
 *	when isEqual: raised.
 *----------------------------------------------------------------------
 */
static int
IsEqual(pTHX_ SV *left, SV *right, Tcl_DString *errors)
{
    char leftFailed = 0, rightFailed = 0;
    id leftObject = Vantle_SVGetObject2(left, NULL, &leftFailed);
    id rightObject = Vantle_SVGetObject2(right, NULL, &rightFailed);
    if (leftFailed || rightFailed) {
	return sv_eq(left, right) ? 1 : 0;
    }
    if (leftObject == nil) {
	return 0;
    }
    int equal = 0;
    if (!VantlePriv_Guard(errors, [&] { equal = [leftObject isEqual: rightObject] ? 1 : 0; })) {
	return -1;
    }
    return equal;
}

typedef enum ComparisonKind {
    CompareSame,
    CompareEqual
} ComparisonKind;

/*
 *----------------------------------------------------------------------
 * Compare --
 *	The body of the four comparison subs: leaves Perl's true or false
 *	value in ST(0), negated when negate is set.
 *----------------------------------------------------------------------
 */
static void
Compare(pTHX_ I32 ax, I32 items, ComparisonKind kind, int negate, const char *name)
{
    if (items < 2) {
	croak("%s: needs two args", name);
    }
    int answer;
    if (kind == CompareSame) {
	answer = IsSame(aTHX_ ST(0), ST(1));
    } else {
	Tcl_DString errors;
	Tcl_DStringInit(&errors);
	answer = IsEqual(aTHX_ ST(0), ST(1), &errors);
	if (answer < 0) {
	    SV *failure = sv_2mortal(newSVpvf("%s: %s", name, Tcl_DStringValue(&errors)));
	    Tcl_DStringFree(&errors);
	    croak_sv(failure);
	}
	Tcl_DStringFree(&errors);
    }
    ST(0) = (answer != 0) != (negate != 0) ? &PL_sv_yes : &PL_sv_no;
}

#define COMPARISON_SUB(function, kind, negate, name)	\
XS_INTERNAL(function)					\
{							\
    dXSARGS;						\
    BqCPerl_SetInterp(aTHX);				\
    Compare(aTHX_ ax, items, kind, negate, name);	\
    XSRETURN(1);					\
}

COMPARISON_SUB(XS_Vantle__Object__Id_Is_Same, CompareSame, 0, "Vantle::Object::Id_Is_Same")
COMPARISON_SUB(XS_Vantle__Object__Id_Is_Not_Same, CompareSame, 1,
	"Vantle::Object::Id_Is_Not_Same")
COMPARISON_SUB(XS_Vantle__Object__Id_Is_Equal, CompareEqual, 0, "Vantle::Object::Id_Is_Equal")
COMPARISON_SUB(XS_Vantle__Object__Id_Is_Not_Equal, CompareEqual, 1,
	"Vantle::Object::Id_Is_Not_Equal")

typedef struct OverloadSub {
    const char *name;
    XSUBADDR_t fn;
} OverloadSub;

static const OverloadSub overloadSubs[] = {
    { "Vantle::Object::Id_2_String", XS_Vantle__Object__Id_2_String },
    { "Vantle::Object::Id_2_Number", XS_Vantle__Object__Id_2_Number },
    { "Vantle::Object::Id_2_Boolean", XS_Vantle__Object__Id_2_Boolean },
    { "Vantle::Object::Id_Is_Same", XS_Vantle__Object__Id_Is_Same },
    { "Vantle::Object::Id_Is_Not_Same", XS_Vantle__Object__Id_Is_Not_Same },
    { "Vantle::Object::Id_Is_Equal", XS_Vantle__Object__Id_Is_Equal },
    { "Vantle::Object::Id_Is_Not_Equal", XS_Vantle__Object__Id_Is_Not_Equal },
    { "Vantle::Object::Id_Incr", XS_Vantle__Object__Id_Incr },
    { "Vantle::Object::Id_Decr", XS_Vantle__Object__Id_Decr },
};

/*
 *----------------------------------------------------------------------
 * Vantle_OverloadInit --
 *	Registers the nine subs in the current interpreter.  Every
 *	interpreter that loads the module needs them (its overloading table
 *	refers to them); one that has them already is left alone, so a
 *	second call redefines nothing.
 *----------------------------------------------------------------------
 */
void
Vantle_OverloadInit(void)
{
    BQCPERL_dTHX;
    for (size_t i = 0; i < sizeof overloadSubs / sizeof overloadSubs[0]; i++) {
	CV *existing = get_cv(overloadSubs[i].name, 0);
	if (existing != NULL && CvISXSUB(existing) && CvXSUB(existing) == overloadSubs[i].fn) {
	    continue;
	}
	newXS(overloadSubs[i].name, overloadSubs[i].fn, "PerlOverload");
    }
}
