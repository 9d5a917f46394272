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
 *	"<BAD OBJECT: ...>" and is false.
 *
 *	The comparisons keep Perl's two families apart.  The numeric ones
 *	(==, !=, <=>, <, <=, >, >=) compare string and number objects, and
 *	plain values beside them, by value as Perl compares numbers; two
 *	handles of other objects compare by identity (in address order), and
 *	a plain value beside such a handle stands for the object it names
 *	when it names one (a false value nil, a string a class).  The string
 *	ones (eq, ne, cmp, lt, le, gt, ge) compare what the operands print
 *	as; two handles of other objects are also the same when the first
 *	answers isEqual: with the second.  A handle whose object is gone
 *	equals only the handles of that same object.  Objective-C work runs
 *	under the platform guard; Perl code (overloaded operands, get-magic,
 *	warnings) only outside it.
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
 * FormOfObject --
 *	A new mortal (or an immortal) holding the form of a live object, or
 *	nil, that mode asks for.  Croaks, naming the sub, only when a
 *	Foundation object raised while being asked for its value.
 *----------------------------------------------------------------------
 */
static SV *
FormOfObject(pTHX_ id object, ConversionMode mode, const char *name)
{
    if (object == nil) {
	return mode == ModeString ? sv_2mortal(newSVpvs("nil"))
	    : mode == ModeIncrement || mode == ModeDecrement ? sv_2mortal(newSViv(0))
	    : &PL_sv_undef;
    }
    SV *result = NULL;
    SV *failure = NULL;
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    if (mode == ModeBoolean) {
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
    return result;
}

/*
 *----------------------------------------------------------------------
 * FormOf --
 *	As FormOfObject, for a handle (a reference to a Vantle::Object
 *	referent, get-magic run).  A bad handle gives "<BAD OBJECT: ...>",
 *	false in boolean mode.
 *----------------------------------------------------------------------
 */
static SV *
FormOf(pTHX_ SV *handle, ConversionMode mode, const char *name)
{
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    char failed = 0;
    id object = Vantle_SVGetObject2NM(handle, &errors, &failed);
    SV *bad = NULL;
    if (failed) {
	bad = mode == ModeBoolean ? &PL_sv_no
	    : sv_2mortal(newSVpvf("<BAD OBJECT: %s>", Tcl_DStringValue(&errors)));
    }
    Tcl_DStringFree(&errors);
    return bad != NULL ? bad : FormOfObject(aTHX_ object, mode, name);
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
    ST(0) = FormOf(aTHX_ handle, mode, name);
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

/*
 *----------------------------------------------------------------------
 * Comparisons.
 *
 * Each comparison sub reads its two operands (in the order written: the
 * swapped flag of overloading is undone), works out their order in the
 * family of its operator, and answers that order as the operator does.
 *----------------------------------------------------------------------
 */

typedef enum Relation {
    RelationEqual,
    RelationNotEqual,
    RelationLess,
    RelationLessOrEqual,
    RelationGreater,
    RelationGreaterOrEqual,
    RelationOrder		/* <=> and cmp: -1, 0 or 1 */
} Relation;

typedef struct ComparisonSub {
    const char *name;
    int numeric;		/* ==, <=> ... rather than eq, cmp ... */
    Relation relation;
    int opType;			/* Perl's operator, named in warnings */
} ComparisonSub;

/* The order of two values that have none, as NaN has with anything. */
#define UNORDERED 2

/* One operand, read once. */
typedef struct Operand {
    SV *sv;			/* as passed, get-magic run */
    int isHandle;
    char failed;		/* a handle whose object is gone or illegal */
    id object;			/* a handle's live object, or nil */
    int isValue;		/* a string or number object that acts as one */
} Operand;

/* Whether an object acts as the Perl string or number it holds. */
static int
IsStringOrNumber(id object)
{
    return VantlePriv_IsKindOfClass(object, VantlePriv_NSNumberClass)
	|| VantlePriv_IsKindOfClass(object, VantlePriv_NSStringClass);
}

static void
ReadOperand(pTHX_ SV *sv, Operand *operand)
{
    operand->sv = sv;
    operand->failed = 0;
    operand->object = nil;
    operand->isHandle = VantlePriv_HandleReferent(aTHX_ sv) != NULL;
    if (operand->isHandle) {
	operand->object = Vantle_SVGetObject2NM(sv, NULL, &operand->failed);
    }
    operand->isValue = operand->isHandle && !operand->failed && operand->object != nil
	&& VantlePriv_PerlifyFoundation && IsStringOrNumber(operand->object);
}

/* The form of an operand that is a handle, from the object it was read
 * with (a bad handle is read again for its error text). */
static SV *
OperandForm(pTHX_ Operand *operand, ConversionMode mode, const char *name)
{
    return operand->failed ? FormOf(aTHX_ operand->sv, mode, name)
	: FormOfObject(aTHX_ operand->object, mode, name);
}

/*
 * Identity --
 *	What tells a handle's object apart from every other: its address
 *	(0 for nil); for a handle whose object is gone, the handle's own
 *	referent, which only the handles of that one object share.
 */
static UV
Identity(Operand *operand)
{
    return operand->failed ? PTR2UV(SvRV(operand->sv)) : PTR2UV(operand->object);
}

/* Perl's warning for an undefined operand of the operator opType. */
static void
WarnUninitialized(pTHX_ int opType)
{
    Perl_ck_warner(aTHX_ packWARN(WARN_UNINITIALIZED), "Use of uninitialized value in %s",
	    PL_op_desc[opType]);
}

/*
 * PlainNumber --
 *	A plain value ready for numeric use (comparison or arithmetic), with
 *	Perl's warnings for undef and for strings that are no numbers,
 *	naming the operator (a conversion inside an overloading sub would
 *	name no operator).
 */
static SV *
PlainNumber(pTHX_ SV *sv, int opType)
{
    if (!SvOK(sv)) {
	WarnUninitialized(aTHX_ opType);
	return sv_2mortal(newSViv(0));
    }
    if (SvROK(sv) || !SvPOKp(sv) || looks_like_number(sv)) {
	return sv;
    }
    STRLEN length;
    const char *text = SvPV_nomg(sv, length);
    if (ckWARN(WARN_NUMERIC)) {
	SV *shown = sv_newmortal();
	pv_pretty(shown, text, length, 32, NULL, NULL,
		PERL_PV_PRETTY_ELLIPSES | (SvUTF8(sv) ? PERL_PV_ESCAPE_UNI : 0));
	Perl_warner(aTHX_ packWARN(WARN_NUMERIC), "Argument \"%" SVf "\" isn't numeric in %s",
		SVfARG(shown), PL_op_desc[opType]);
    }
    return sv_2mortal(newSVnv(my_atof(text)));
}

/*
 * NumericOrder --
 *	Perl's numeric order of two plain values: integers exactly, whatever
 *	their sizes and signs, anything else as floating values; UNORDERED
 *	when one is NaN.
 */
static int
NumericOrder(pTHX_ SV *left, SV *right)
{
    if (SvIV_please_nomg(right) && SvIV_please_nomg(left)) {
	if (!SvUOK(left) && !SvUOK(right)) {
	    IV l = SvIVX(left), r = SvIVX(right);
	    return (l > r) - (l < r);
	}
	if (!SvUOK(left) && SvIVX(left) < 0) {
	    return -1;
	}
	if (!SvUOK(right) && SvIVX(right) < 0) {
	    return 1;
	}
	UV l = SvUVX(left), r = SvUVX(right);
	return (l > r) - (l < r);
    }
    NV l = SvNV_nomg(left), r = SvNV_nomg(right);
    if (l < r) {
	return -1;
    }
    if (l > r) {
	return 1;
    }
    return l == r ? 0 : UNORDERED;
}

/*
 * NumericOperand --
 *	An operand as a value for numeric comparison, before PlainNumber: a
 *	string or number object's value; another handle's identity; a plain
 *	value as it is, or, when designate is set and it names an object (a
 *	false value nil, a string a class), that object's identity.  Runs
 *	no Perl code.
 */
static SV *
NumericOperand(pTHX_ Operand *operand, int designate, const ComparisonSub *sub)
{
    if (operand->isValue) {
	return OperandForm(aTHX_ operand, ModeNumber, sub->name);
    }
    if (operand->isHandle) {
	return sv_2mortal(newSVuv(Identity(operand)));
    }
    if (designate) {
	char failed = 0;
	id named = Vantle_SVGetObject2NM(operand->sv, NULL, &failed);
	if (!failed) {
	    return sv_2mortal(newSVuv(PTR2UV(named)));
	}
    }
    return operand->sv;
}

/*
 * StringOperand --
 *	An operand as a value for string comparison, before PlainString:
 *	what a handle prints as (a string or number object's value), a
 *	plain value as it is.  Runs no Perl code.
 */
static SV *
StringOperand(pTHX_ Operand *operand, const ComparisonSub *sub)
{
    return operand->isHandle ? OperandForm(aTHX_ operand, ModeString, sub->name) : operand->sv;
}

/* A value ready for string comparison: undef reads as "", with Perl's
 * warning naming the operator opType. */
static SV *
PlainString(pTHX_ SV *sv, int opType)
{
    if (!SvOK(sv)) {
	WarnUninitialized(aTHX_ opType);
	return sv_2mortal(newSVpvs(""));
    }
    return sv;
}

/*
 * ObjectsAreEqual --
 *	Whether left answers isEqual: with right (both live, not nil);
 *	croaks naming the sub when the message raised.
 */
static int
ObjectsAreEqual(pTHX_ id left, id right, const char *subName)
{
    int equal = 0;
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    if (!VantlePriv_Guard(&errors, [&] { equal = [left isEqual: right] ? 1 : 0; })) {
	SV *message = sv_2mortal(newSVpvf("%s: %s", subName, Tcl_DStringValue(&errors)));
	Tcl_DStringFree(&errors);
	croak_sv(message);
    }
    Tcl_DStringFree(&errors);
    return equal;
}

/* Whether an operand is a handle of an object that is no Perl value. */
static int
IsPlainObject(Operand *operand)
{
    return operand->isHandle && !operand->isValue;
}

/*
 * OrderOf --
 *	The order of two operands in the family of sub's operator: -1, 0, 1,
 *	or UNORDERED.
 *
 *	Numeric: string and number objects and plain values compare by
 *	value; when neither operand is a string or number object and one is
 *	a handle, the two compare by identity, and a plain value stands for
 *	the object it names.  String: the printed forms compare as strings;
 *	two handles of other objects are the same when they are one object
 *	or the first answers isEqual: with the second, and otherwise never
 *	compare as the same (their identities settle a tie of forms).
 */
static int
OrderOf(pTHX_ Operand *left, Operand *right, const ComparisonSub *sub)
{
    /* Both operands' objects are read before Perl code (a warning's
     * handler) can run and do away with one. */
    if (sub->numeric) {
	int designate = !left->isValue && !right->isValue
	    && (left->isHandle || right->isHandle);
	SV *l = NumericOperand(aTHX_ left, designate, sub);
	SV *r = NumericOperand(aTHX_ right, designate, sub);
	return NumericOrder(aTHX_ PlainNumber(aTHX_ l, sub->opType),
		PlainNumber(aTHX_ r, sub->opType));
    }
    int objects = IsPlainObject(left) && IsPlainObject(right);
    if (objects && Identity(left) == Identity(right)) {
	return 0;
    }
    SV *l = StringOperand(aTHX_ left, sub);
    SV *r = StringOperand(aTHX_ right, sub);
    if (objects && !left->failed && !right->failed && left->object != nil
	    && right->object != nil
	    && ObjectsAreEqual(aTHX_ left->object, right->object, sub->name)) {
	return 0;
    }
    int order = sv_cmp_flags(PlainString(aTHX_ l, sub->opType), PlainString(aTHX_ r, sub->opType),
	    0);
    if (order == 0 && objects) {
	order = Identity(left) < Identity(right) ? -1 : 1;
    }
    return order;
}

/* The answer of sub's operator for an order. */
static SV *
AnswerFor(pTHX_ int order, Relation relation)
{
    int yes = 0;
    switch (relation) {
    case RelationOrder:
	return order == UNORDERED ? &PL_sv_undef : sv_2mortal(newSViv(order));
    case RelationEqual:
	yes = order == 0;
	break;
    case RelationNotEqual:
	yes = order != 0;
	break;
    case RelationLess:
	yes = order == -1;
	break;
    case RelationLessOrEqual:
	yes = order == -1 || order == 0;
	break;
    case RelationGreater:
	yes = order == 1;
	break;
    case RelationGreaterOrEqual:
	yes = order == 1 || order == 0;
	break;
    }
    return yes ? &PL_sv_yes : &PL_sv_no;
}

/*
 * OperandsAsWritten --
 *	The two operands of a binary operator sub, get-magic run, in the
 *	order written: (left, right, swapped) as overloading passes them,
 *	or (left, right) when called as a function.  Croaks with fewer.
 */
static void
OperandsAsWritten(pTHX_ I32 ax, I32 items, const char *name, SV **firstPtr, SV **secondPtr)
{
    if (items < 2) {
	croak("%s: needs two args", name);
    }
    SV *first = ST(0);
    SV *second = ST(1);
    SvGETMAGIC(first);
    SvGETMAGIC(second);
    int swapped = items > 2 && SvTRUE(ST(2));
    *firstPtr = swapped ? second : first;
    *secondPtr = swapped ? first : second;
}

/*
 *----------------------------------------------------------------------
 * XS_Vantle__Object__Compare --
 *	The body of every comparison sub (its ComparisonSub in XSANY):
 *	(left, right, swapped) as overloading passes them, or (left, right)
 *	when called as a function.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__Object__Compare)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    const ComparisonSub *sub = (const ComparisonSub *) XSANY.any_ptr;
    SV *first, *second;
    OperandsAsWritten(aTHX_ ax, items, sub->name, &first, &second);
    Operand left, right;
    ReadOperand(aTHX_ first, &left);
    ReadOperand(aTHX_ second, &right);
    ST(0) = AnswerFor(aTHX_ OrderOf(aTHX_ &left, &right, sub), sub->relation);
    XSRETURN(1);
}

static const ComparisonSub comparisonSubs[] = {
    { "Vantle::Object::Id_Is_Same", 1, RelationEqual, OP_EQ },
    { "Vantle::Object::Id_Is_Not_Same", 1, RelationNotEqual, OP_NE },
    { "Vantle::Object::Id_Num_Lt", 1, RelationLess, OP_LT },
    { "Vantle::Object::Id_Num_Le", 1, RelationLessOrEqual, OP_LE },
    { "Vantle::Object::Id_Num_Gt", 1, RelationGreater, OP_GT },
    { "Vantle::Object::Id_Num_Ge", 1, RelationGreaterOrEqual, OP_GE },
    { "Vantle::Object::Id_Num_Cmp", 1, RelationOrder, OP_NCMP },
    { "Vantle::Object::Id_Is_Equal", 0, RelationEqual, OP_SEQ },
    { "Vantle::Object::Id_Is_Not_Equal", 0, RelationNotEqual, OP_SNE },
    { "Vantle::Object::Id_Str_Lt", 0, RelationLess, OP_SLT },
    { "Vantle::Object::Id_Str_Le", 0, RelationLessOrEqual, OP_SLE },
    { "Vantle::Object::Id_Str_Gt", 0, RelationGreater, OP_SGT },
    { "Vantle::Object::Id_Str_Ge", 0, RelationGreaterOrEqual, OP_SGE },
    { "Vantle::Object::Id_Str_Cmp", 0, RelationOrder, OP_SCMP },
};

/*
 *----------------------------------------------------------------------
 * Addition and subtraction.
 *
 * Perl makes ++ and -- on a handle from these, calling them with the
 * handle, its immortal true and an undefined swapped flag, and stores
 * their answer where the handle was.  Having no ++ of its own spares
 * the handle the copy that Perl makes before a mutator, which it would
 * store through a tied element before the step.  Any other sum is of
 * the operands' number forms, as Perl adds numbers.
 *----------------------------------------------------------------------
 */

typedef struct ArithmeticSub {
    const char *name;
    int subtract;
    int opType;			/* Perl's operator, named in warnings */
} ArithmeticSub;

/* An operand's number as a plain value: a handle's number form, or the
 * plain value itself.  As the target of += or -= (assigned set), nil is
 * 0 without a warning, as Perl takes undef there. */
static SV *
ArithmeticOperand(pTHX_ SV *sv, int assigned, const ArithmeticSub *sub)
{
    if (VantlePriv_HandleReferent(aTHX_ sv) != NULL) {
	sv = FormOf(aTHX_ sv, ModeNumber, sub->name);
	if (assigned && !SvOK(sv)) {
	    return sv_2mortal(newSViv(0));
	}
    }
    return PlainNumber(aTHX_ sv, sub->opType);
}

/*
 * Sum --
 *	A new mortal: left plus (or minus) right, both plain values, as Perl
 *	computes it: exactly while the result is an integer of 64 bits,
 *	signed or not, else in floating point.
 */
static SV *
Sum(pTHX_ SV *left, SV *right, int subtract)
{
    if (SvIV_please_nomg(right) && SvIV_please_nomg(left)) {
	__int128 l = SvUOK(left) ? (__int128) SvUVX(left) : (__int128) SvIVX(left);
	__int128 r = SvUOK(right) ? (__int128) SvUVX(right) : (__int128) SvIVX(right);
	__int128 sum = subtract ? l - r : l + r;
	if (sum >= IV_MIN && sum <= IV_MAX) {
	    return sv_2mortal(newSViv((IV) sum));
	}
	if (sum >= 0 && sum <= (__int128) UV_MAX) {
	    return sv_2mortal(newSVuv((UV) sum));
	}
    }
    NV l = SvNV_nomg(left), r = SvNV_nomg(right);
    return sv_2mortal(newSVnv(subtract ? l - r : l + r));
}

/*
 *----------------------------------------------------------------------
 * XS_Vantle__Object__Arithmetic --
 *	The body of Id_Add and Id_Subtract (their ArithmeticSub in XSANY):
 *	(left, right, swapped) as overloading passes them; swapped is undef
 *	for += and -=, whose target is left.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__Object__Arithmetic)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    const ArithmeticSub *sub = (const ArithmeticSub *) XSANY.any_ptr;
    SV *first, *second;
    OperandsAsWritten(aTHX_ ax, items, sub->name, &first, &second);
    /* An undefined swapped flag: += or -=, or a step. */
    int assigned = items > 2 && !SvOK(ST(2));
    if (assigned && second == &PL_sv_yes && VantlePriv_HandleReferent(aTHX_ first) != NULL) {
	SV *value = sv_mortalcopy(FormOf(aTHX_ first,
		sub->subtract ? ModeDecrement : ModeIncrement, sub->name));
	if (sub->subtract) {
	    sv_dec_nomg(value);
	} else {
	    sv_inc_nomg(value);
	}
	ST(0) = value;
	XSRETURN(1);
    }
    SV *left = ArithmeticOperand(aTHX_ first, assigned, sub);
    SV *right = ArithmeticOperand(aTHX_ second, 0, sub);
    ST(0) = Sum(aTHX_ left, right, sub->subtract);
    XSRETURN(1);
}

static const ArithmeticSub arithmeticSubs[] = {
    { "Vantle::Object::Id_Add", 0, OP_ADD },
    { "Vantle::Object::Id_Subtract", 1, OP_SUBTRACT },
};

typedef struct ConversionSub {
    const char *name;
    XSUBADDR_t fn;
} ConversionSub;

static const ConversionSub conversionSubs[] = {
    { "Vantle::Object::Id_2_String", XS_Vantle__Object__Id_2_String },
    { "Vantle::Object::Id_2_Number", XS_Vantle__Object__Id_2_Number },
    { "Vantle::Object::Id_2_Boolean", XS_Vantle__Object__Id_2_Boolean },
    { "Vantle::Object::Id_Incr", XS_Vantle__Object__Id_Incr },
    { "Vantle::Object::Id_Decr", XS_Vantle__Object__Id_Decr },
};

/* Registers fn under name with data in its XSANY, unless the current
 * interpreter has that very sub already. */
static void
Register(pTHX_ const char *name, XSUBADDR_t fn, const void *data)
{
    CV *existing = get_cv(name, 0);
    if (existing != NULL && CvISXSUB(existing) && CvXSUB(existing) == fn
	    && CvXSUBANY(existing).any_ptr == data) {
	return;
    }
    CV *cv = newXS(name, fn, "PerlOverload");
    CvXSUBANY(cv).any_ptr = (void *) data;
}

/*
 *----------------------------------------------------------------------
 * Vantle_OverloadInit --
 *	Registers the conversion, comparison and arithmetic subs in the
 *	current interpreter.  Every interpreter that loads the module needs
 *	them (its overloading table refers to them); one that has them
 *	already is left alone, so a second call redefines nothing.
 *----------------------------------------------------------------------
 */
void
Vantle_OverloadInit(void)
{
    BQCPERL_dTHX;
    for (size_t i = 0; i < sizeof conversionSubs / sizeof conversionSubs[0]; i++) {
	Register(aTHX_ conversionSubs[i].name, conversionSubs[i].fn, NULL);
    }
    for (size_t i = 0; i < sizeof comparisonSubs / sizeof comparisonSubs[0]; i++) {
	Register(aTHX_ comparisonSubs[i].name, XS_Vantle__Object__Compare, &comparisonSubs[i]);
    }
    for (size_t i = 0; i < sizeof arithmeticSubs / sizeof arithmeticSubs[0]; i++) {
	Register(aTHX_ arithmeticSubs[i].name, XS_Vantle__Object__Arithmetic, &arithmeticSubs[i]);
    }
}
