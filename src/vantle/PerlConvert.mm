/*
 * PerlConvert.mm --
 *
 *	Conversion by value between Perl data and Foundation objects, and the
 *	XS subs Vantle::obj and Vantle::pl that offer it to Perl code.
 *
 *	Perl strings become NSStrings and back as text: a string with Perl's
 *	UTF-8 flag is decoded as UTF-8, one without it holds characters
 *	0..255 (Latin-1); strings come back as UTF-8, flagged when they hold
 *	anything beyond ASCII.  Bytes are a separate kind: NSData comes back
 *	as a byte string, and Vantle::data makes NSData of one, since a Perl
 *	string alone does not say whether it is text or bytes.  Integers keep
 *	all 64 bits, signed or unsigned; Perl's booleans and the NSNumbers of
 *	BOOLs map onto each other.  Arrays and hashes convert element by
 *	element, nil standing in as the shared BqNil inside collections;
 *	NSNull comes back as undef.
 *
 *	Errors are words appended to the caller's dynamic string; a failure
 *	inside a container abandons the whole container.  Objective-C work is
 *	done in small guarded steps that never call Perl, and Perl work
 *	(which may run tie methods that die) is done outside them, so
 *	neither kind of error ever unwinds through the other's frames.
 *
 *	Ownership: objects made here are autoreleased and never retained.  A
 *	Perl container made here belongs to a mortal until it is handed to
 *	its receiver, so a Perl error in the middle leaks nothing.
 */
#import <Foundation/Foundation.h>

#include "VantlePriv.h"
#include "PerlContext.h"
#include "PerlStringCache.h"
#include "BqNil.h"

#include <limits.h>
#include <string.h>

Class VantlePriv_NSStringClass;
Class VantlePriv_NSMutableStringClass;
Class VantlePriv_NSArrayClass;
Class VantlePriv_NSMutableArrayClass;
Class VantlePriv_NSDictionaryClass;
Class VantlePriv_NSMutableDictionaryClass;
Class VantlePriv_NSNumberClass;
id    VantlePriv_NilObject;

/*
 * Further classes the conversion tells apart, looked up with the ones
 * above.  Process-wide like them: a class is the same for every
 * interpreter of the process, and nothing changes them after start-up.
 *  - data: NSData, whose bytes cross as a Perl byte string;
 *  - null: NSNull, which becomes undef;
 *  - boolNumber: the class of [NSNumber numberWithBool:] when BOOLs have
 *    a class of their own (GNUstep's are singletons of a private one),
 *    else Nil; its numbers become Perl's booleans.
 */
static struct {
    Class data;
    Class null;
    Class boolNumber;
} convertClasses;

Vantle_ObjectForSVHookFunction Vantle_ObjectForSVHook;
Vantle_SVForObjectHookFunction Vantle_SVForObjectHook;


/* Deepest nesting of containers either direction converts. */
#define MAX_CONVERSION_DEPTH 99

/* A capacity hint is only a hint: a tied array may claim any size. */
#define MAX_CAPACITY_HINT 4096

static Class
CachedClass(const char *name)
{
    Class cls = objc_getClass(name);
    return cls != Nil ? [cls class] : Nil;
}

/* The class of BOOL numbers, or Nil when they share the class of other
 * small numbers. */
static Class
BoolNumberClass(void)
{
    if (VantlePriv_NSNumberClass == Nil) {
	return Nil;
    }
    Class boolClass = object_getClass([VantlePriv_NSNumberClass numberWithBool: YES]);
    if (boolClass == object_getClass([VantlePriv_NSNumberClass numberWithUnsignedChar: 1])
	    || boolClass == object_getClass([VantlePriv_NSNumberClass numberWithInt: 1])) {
	return Nil;
    }
    return boolClass;
}

/* Runs under the boot sub's guard: the messages above cannot unwind
 * through Perl. */
void
VantlePriv_ConvertInit(void)
{
    VantlePriv_NSStringClass = CachedClass("NSString");
    VantlePriv_NSMutableStringClass = CachedClass("NSMutableString");
    VantlePriv_NSArrayClass = CachedClass("NSArray");
    VantlePriv_NSMutableArrayClass = CachedClass("NSMutableArray");
    VantlePriv_NSDictionaryClass = CachedClass("NSDictionary");
    VantlePriv_NSMutableDictionaryClass = CachedClass("NSMutableDictionary");
    VantlePriv_NSNumberClass = CachedClass("NSNumber");
    VantlePriv_NilObject = [BqNil sharedInstance];
    convertClasses.data = CachedClass("NSData");
    convertClasses.null = CachedClass("NSNull");
    convertClasses.boolNumber = BoolNumberClass();
}

int
VantlePriv_IsKindOfClass(id object, Class cls)
{
    if (object == nil || cls == Nil) {
	return 0;
    }
    for (Class c = object_getClass(object); c != Nil; c = class_getSuperclass(c)) {
	if (c == cls) {
	    return 1;
	}
    }
    return 0;
}

static void
SetFlag(char *errorFlag, char value)
{
    if (errorFlag != NULL) {
	*errorFlag = value;
    }
}

/* Appends the words (a null-terminated list), sets the flag, answers nil. */
static id
FailWith(Tcl_DString *errors, char *errorFlag, const char *problem)
{
    BqTcl_DStringApp(errors, problem, (char *) NULL);
    SetFlag(errorFlag, 1);
    return nil;
}

static void
FreeDStringDestructor(pTHX_ void *dsPtr)
{
    PERL_UNUSED_CONTEXT;
    Tcl_DStringFree((Tcl_DString *) dsPtr);
}

void
VantlePriv_EnterConversion(pTHX_ Tcl_DString *errors)
{
    Tcl_DStringInit(errors);
    SAVEDESTRUCTOR_X(FreeDStringDestructor, errors);
}

/*
 *----------------------------------------------------------------------
 * Perl to objects
 *----------------------------------------------------------------------
 */

/*
 * AppendKind --
 *	Appends the kind of a value as Perl names it: "CODE reference",
 *	"Regexp", "GLOB reference blessed into IO::File" for the referent of
 *	a reference, "GLOB value" for a value given as itself.
 */
static void
AppendKind(pTHX_ SV *sv, int isReferent, Tcl_DString *errors)
{
    const char *kind = sv_reftype(sv, 0);
    const char *suffix = isReferent ? " reference" : " value";
    if (SvTYPE(sv) == SVt_REGEXP) {
	kind = "Regexp";
	suffix = "";
    }
    BqTcl_DStringApp(errors, kind, suffix, (char *) NULL);
    const char *className = isReferent && SvOBJECT(sv) ? sv_reftype(sv, 1) : NULL;
    if (className != NULL && strcmp(className, kind) != 0) {
	BqTcl_DStringApp(errors, " blessed into ", className, (char *) NULL);
    }
}

/* Reports a value that has no object, by its kind.  Answers nil. */
static id
Unconvertible(pTHX_ SV *sv, int isReferent, Tcl_DString *errors, char *errorFlag)
{
    BqTcl_DStringApp(errors, "don't know how to convert ", (char *) NULL);
    AppendKind(aTHX_ sv, isReferent, errors);
    BqTcl_DStringApp(errors, " to an object", (char *) NULL);
    SetFlag(errorFlag, 1);
    return nil;
}

/* The shared NSNumber of YES or NO, or nil with an error. */
static id
BoolNumber(int truth, Tcl_DString *errors, char *errorFlag)
{
    id number = nil;
    if (!VantlePriv_Guard(errors, [&] {
	number = [VantlePriv_NSNumberClass numberWithBool: truth ? YES : NO];
    })) {
	SetFlag(errorFlag, 1);
    }
    return number;
}

/* An NSNumber of a scalar's number, or nil with an error.  The integer
 * slot is used when it is the exact value and the double slot is not
 * (a 64-bit integer that a double cannot hold); otherwise a double value
 * wins, as the string value won before it. */
static id
NumberForScalar(pTHX_ SV *sv, Tcl_DString *errors, char *errorFlag)
{
    int integerIsExact = SvIOK(sv) && !SvNOK(sv);
    id number = nil;
    int completed;
    if (SvNOKp(sv) && !integerIsExact) {
	NV value = SvNVX(sv);
	completed = VantlePriv_Guard(errors, [&] {
	    number = [VantlePriv_NSNumberClass numberWithDouble: value];
	});
    } else if (SvIOKp(sv) && SvIsUV(sv)) {
	unsigned long long value = SvUVX(sv);
	completed = VantlePriv_Guard(errors, [&] {
	    number = [VantlePriv_NSNumberClass numberWithUnsignedLongLong: value];
	});
    } else if (SvIOKp(sv)) {
	long long value = SvIVX(sv);
	completed = VantlePriv_Guard(errors, [&] {
	    number = [VantlePriv_NSNumberClass numberWithLongLong: value];
	});
    } else {
	return Unconvertible(aTHX_ sv, 0, errors, errorFlag);
    }
    if (!completed) {
	SetFlag(errorFlag, 1);
    }
    return number;
}

/* True for the types of plain scalars, lvalue scalars (tied elements,
 * substr and the like) included. */
static int
IsScalarType(svtype type)
{
    switch (type) {
    case SVt_IV:
    case SVt_NV:
    case SVt_PV:
    case SVt_PVIV:
    case SVt_PVNV:
    case SVt_PVMG:
    case SVt_PVLV:
	return 1;
    default:
	return 0;
    }
}

/* Converts a nested array or hash with the depth counter raised; the
 * save stack puts the counter back even when Perl code inside dies. */
static id
NestedContainer(SV *container, Tcl_DString *errors, char *errorFlag)
{
    BQCPERL_dTHX;
    ENTER;
    int *depth = &VantlePriv_Context(aTHX)->perlToObjectDepth;
    SAVEINT(*depth);
    (*depth)++;
    id result = SvTYPE(container) == SVt_PVAV
	? Vantle_ArrayForAV((AV *) container, errors, errorFlag)
	: Vantle_DictionaryForHV((HV *) container, errors, errorFlag);
    LEAVE;
    return result;
}

static id
ObjectForReference(pTHX_ SV *sv, Tcl_DString *errors, char *errorFlag)
{
    if (VantlePriv_HandleReferent(aTHX_ sv) != NULL) {
	return Vantle_SVGetObject2NM(sv, errors, errorFlag);
    }
    SV *referent = SvRV(sv);
    if (SvTYPE(referent) == SVt_PVAV || SvTYPE(referent) == SVt_PVHV) {
	return NestedContainer(referent, errors, errorFlag);
    }
    return Unconvertible(aTHX_ referent, 1, errors, errorFlag);
}

static id
ObjectForPlainValue(pTHX_ SV *sv, Tcl_DString *errors, char *errorFlag)
{
    svtype type = SvTYPE(sv);
    if (type == SVt_PVAV || type == SVt_PVHV) {
	return NestedContainer(sv, errors, errorFlag);
    }
    if (type != SVt_NULL && !IsScalarType(type)) {
	return Unconvertible(aTHX_ sv, 0, errors, errorFlag);
    }
    if (!SvOK(sv)) {
	return nil;
    }
    /* Before the string: a boolean has the string "1" or "". */
    if (SvIsBOOL(sv)) {
	return BoolNumber(SvTRUE_nomg(sv), errors, errorFlag);
    }
    if (SvPOKp(sv)) {
	STRLEN length;
	const char *bytes = SvPV_nomg_const(sv, length);
	id string = VantlePriv_StringForBytes(aTHX_ bytes, length, SvUTF8(sv) != 0, errors);
	if (string == nil) {
	    SetFlag(errorFlag, 1);
	}
	return string;
    }
    return NumberForScalar(aTHX_ sv, errors, errorFlag);
}

/*
 *----------------------------------------------------------------------
 * Vantle_ObjectForSV_Default --
 *	The object for a Perl value whose get-magic has run: nil for undef,
 *	NSString, NSNumber, NSMutableArray or NSMutableDictionary by value,
 *	the object of a handle.  Without Foundation, only handles, nil and
 *	class names convert.
 *----------------------------------------------------------------------
 */
id
Vantle_ObjectForSV_Default(SV *sv, Tcl_DString *errors, char *errorFlag)
{
    BQCPERL_dTHX;
    if (VantlePriv_Context(aTHX)->perlToObjectDepth > MAX_CONVERSION_DEPTH) {
	return FailWith(errors, errorFlag, "recursive perl data structure");
    }
    SetFlag(errorFlag, 0);
    if (sv == NULL) {
	return nil;
    }
    if (VantlePriv_NSStringClass == Nil) {
	return Vantle_SVGetObject2NM(sv, errors, errorFlag);
    }
    if (sv == &PL_sv_undef) {
	return nil;
    }
    if (SvTYPE(sv) != SVt_PVAV && SvTYPE(sv) != SVt_PVHV && SvROK(sv)) {
	return ObjectForReference(aTHX_ sv, errors, errorFlag);
    }
    return ObjectForPlainValue(aTHX_ sv, errors, errorFlag);
}

id
Vantle_ObjectForSV(SV *sv, Tcl_DString *errors, char *errorFlag)
{
    BQCPERL_dTHX;
    if (sv != NULL) {
	SvGETMAGIC(sv);
    }
    if (Vantle_ObjectForSVHook != NULL) {
	return Vantle_ObjectForSVHook(sv, errors, errorFlag);
    }
    return Vantle_ObjectForSV_Default(sv, errors, errorFlag);
}

/* The object for one element of a container: nil becomes BqNil. */
static id
ElementObject(SV *sv, Tcl_DString *errors, char *errorFlag)
{
    id object = Vantle_ObjectForSV(sv, errors, errorFlag);
    if (object == nil && !*errorFlag) {
	object = VantlePriv_NilObject;
    }
    return object;
}

/*
 *----------------------------------------------------------------------
 * Vantle_ArrayForAV --
 *	A new NSMutableArray of the converted elements.  Undefined elements
 *	become BqNil; holes are skipped, so the result may be shorter.
 *----------------------------------------------------------------------
 */
id
Vantle_ArrayForAV(AV *av, Tcl_DString *errors, char *errorFlag)
{
    BQCPERL_dTHX;
    SetFlag(errorFlag, 0);
    if (av == NULL) {
	return nil;
    }
    SSize_t last = av_len(av);
    NSUInteger capacity = last + 1 < MAX_CAPACITY_HINT ? (NSUInteger) (last + 1)
	: MAX_CAPACITY_HINT;
    id array = nil;
    if (!VantlePriv_Guard(errors, [&] {
	array = [VantlePriv_NSMutableArrayClass arrayWithCapacity: capacity];
    })) {
	SetFlag(errorFlag, 1);
	return nil;
    }
    for (SSize_t i = 0; i <= last; i++) {
	SV **slot = av_fetch(av, i, 0);
	if (slot == NULL) {
	    continue;
	}
	char failed = 0;
	id element = ElementObject(*slot, errors, &failed);
	if (failed || !VantlePriv_Guard(errors, [&] { [array addObject: element]; })) {
	    SetFlag(errorFlag, 1);
	    return nil;
	}
    }
    return array;
}

/*
 *----------------------------------------------------------------------
 * Vantle_DictionaryForHV --
 *	A new NSMutableDictionary of the converted values under NSString
 *	keys.  Iterates with the hash's own iterator.
 *----------------------------------------------------------------------
 */
id
Vantle_DictionaryForHV(HV *hv, Tcl_DString *errors, char *errorFlag)
{
    BQCPERL_dTHX;
    SetFlag(errorFlag, 0);
    if (hv == NULL) {
	return nil;
    }
    id dictionary = nil;
    if (!VantlePriv_Guard(errors, [&] {
	dictionary = [VantlePriv_NSMutableDictionaryClass dictionary];
    })) {
	SetFlag(errorFlag, 1);
	return nil;
    }
    hv_iterinit(hv);
    HE *entry;
    while ((entry = hv_iternext(hv)) != NULL) {
	/* The key first: converting the value may run Perl code that moves
	 * this hash's iterator on. */
	STRLEN keyLength;
	const char *keyBytes = HePV(entry, keyLength);
	id key = VantlePriv_StringForBytes(aTHX_ keyBytes, keyLength, HeUTF8(entry) != 0, errors);
	if (key == nil) {
	    SetFlag(errorFlag, 1);
	    return nil;
	}
	char failed = 0;
	id value = ElementObject(hv_iterval(hv, entry), errors, &failed);
	if (failed || !VantlePriv_Guard(errors, [&] {
	    [dictionary setObject: value forKey: key];
	})) {
	    SetFlag(errorFlag, 1);
	    return nil;
	}
    }
    return dictionary;
}

/*
 *----------------------------------------------------------------------
 * Objects to Perl
 *----------------------------------------------------------------------
 */

typedef enum ObjectKind {
    KindOther = 0,
    KindString,
    KindArray,
    KindDictionary,
    KindNumber,
    KindData,
    KindNull
} ObjectKind;

static ObjectKind
KindOfObject(id object)
{
    if (VantlePriv_IsKindOfClass(object, VantlePriv_NSStringClass)) {
	return KindString;
    }
    if (VantlePriv_IsKindOfClass(object, VantlePriv_NSArrayClass)) {
	return KindArray;
    }
    if (VantlePriv_IsKindOfClass(object, VantlePriv_NSDictionaryClass)) {
	return KindDictionary;
    }
    if (VantlePriv_IsKindOfClass(object, VantlePriv_NSNumberClass)) {
	return KindNumber;
    }
    if (VantlePriv_IsKindOfClass(object, convertClasses.data)) {
	return KindData;
    }
    if (VantlePriv_IsKindOfClass(object, convertClasses.null)) {
	return KindNull;
    }
    return KindOther;
}

/* The UTF-8 bytes of a string object, or of an object's description
 * (an autoreleased buffer), or null with an error appended. */
static const char *
TextBytes(id object, int useDescription, NSUInteger *lengthPtr, Tcl_DString *errors)
{
    NSData *data = nil;
    if (!VantlePriv_Guard(errors, [&] {
	NSString *text = useDescription ? [object description] : object;
	data = [text dataUsingEncoding: NSUTF8StringEncoding];
	if (data != nil) {
	    *lengthPtr = [data length];
	}
    })) {
	return NULL;
    }
    if (data == nil) {
	BqTcl_DStringApp(errors, "string cannot be converted to UTF-8", (char *) NULL);
	return NULL;
    }
    return *lengthPtr > 0 ? (const char *) [data bytes] : "";
}

/* Sets sv to text given as UTF-8 bytes, flagged as UTF-8 when needed.
 * (sv_setpvn keeps a flag sv had, so it is set either way.) */
static void
SetUTF8Text(pTHX_ SV *sv, const char *bytes, STRLEN length)
{
    sv_setpvn(sv, bytes, length);
    if (is_utf8_invariant_string((const U8 *) bytes, length)) {
	SvUTF8_off(sv);
    } else {
	SvUTF8_on(sv);
    }
}

static int
SetFromString(pTHX_ SV *sv, id string, Tcl_DString *errors)
{
    NSUInteger length = 0;
    const char *bytes = TextBytes(string, 0, &length, errors);
    if (bytes == NULL) {
	return 0;
    }
    SetUTF8Text(aTHX_ sv, bytes, length);
    return 1;
}

/* Sets sv to the bytes of a data object, as a byte string. */
static int
SetFromData(pTHX_ SV *sv, id data, Tcl_DString *errors)
{
    const void *bytes = NULL;
    NSUInteger length = 0;
    if (!VantlePriv_Guard(errors, [&] {
	length = [data length];
	bytes = [data bytes];
    })) {
	return 0;
    }
    sv_setpvn(sv, length > 0 ? (const char *) bytes : "", length);
    SvUTF8_off(sv);
    return 1;
}

/* The value of a number object, by the kind of C value it holds. */
typedef struct NumberValue {
    enum { SignedValue, UnsignedValue, FloatingValue } kind;
    long long signedValue;
    unsigned long long unsignedValue;
    double floatingValue;
} NumberValue;

static int
ReadNumber(id number, NumberValue *value, Tcl_DString *errors)
{
    return VantlePriv_Guard(errors, [&] {
	const char *type = [number objCType];
	switch (type != NULL ? type[0] : 'd') {
	case 'c': case 's': case 'i': case 'l': case 'q': case 'B':
	    value->kind = NumberValue::SignedValue;
	    value->signedValue = [number longLongValue];
	    break;
	case 'C': case 'S': case 'I': case 'L': case 'Q':
	    value->kind = NumberValue::UnsignedValue;
	    value->unsignedValue = [number unsignedLongLongValue];
	    break;
	default:
	    value->kind = NumberValue::FloatingValue;
	    value->floatingValue = [number doubleValue];
	    break;
	}
    });
}

/*
 * SetFromNumber --
 *	A BOOL number sets Perl's true or false; another integer number sets
 *	the scalar's integer (unsigned beyond the signed range); any other
 *	number sets its floating value, from which Perl derives the integer
 *	in integer context (2.5 reads as 2 there).
 */
static int
SetFromNumber(pTHX_ SV *sv, id number, Tcl_DString *errors)
{
    if (VantlePriv_IsKindOfClass(number, convertClasses.boolNumber)) {
	BOOL truth = NO;
	if (!VantlePriv_Guard(errors, [&] { truth = [number boolValue]; })) {
	    return 0;
	}
	sv_setbool(sv, truth);
	return 1;
    }
    NumberValue value;
    if (!ReadNumber(number, &value, errors)) {
	return 0;
    }
    switch (value.kind) {
    case NumberValue::SignedValue:
	sv_setiv(sv, (IV) value.signedValue);
	break;
    case NumberValue::UnsignedValue:
	if (value.unsignedValue > (unsigned long long) IV_MAX) {
	    sv_setuv(sv, (UV) value.unsignedValue);
	} else {
	    sv_setiv(sv, (IV) value.unsignedValue);
	}
	break;
    case NumberValue::FloatingValue:
	sv_setnv(sv, (NV) value.floatingValue);
	break;
    }
    return 1;
}

/* Converts a nested collection into a new mortal container and, on
 * success, makes sv a reference to it.  The depth counter is raised
 * around the conversion. */
static int
SetFromCollection(pTHX_ SV *sv, id collection, ObjectKind kind, Tcl_DString *errors)
{
    SV *container = sv_2mortal(kind == KindArray ? (SV *) newAV() : (SV *) newHV());
    ENTER;
    int *depth = &VantlePriv_Context(aTHX)->objectToPerlDepth;
    SAVEINT(*depth);
    (*depth)++;
    int ok = kind == KindArray
	? Vantle_AVForArray((AV *) container, collection, errors)
	: Vantle_HVForDictionary((HV *) container, collection, errors);
    LEAVE;
    if (ok) {
	sv_setrv_inc(sv, container);
    }
    return ok;
}

/*
 *----------------------------------------------------------------------
 * Vantle_SVForObject_Default --
 *	Sets sv from an object: undef for nil, BqNil and NSNull; text, an
 *	array or hash reference, a number or a byte string for Foundation
 *	strings, arrays, dictionaries, numbers and data; a handle for
 *	anything else.
 *----------------------------------------------------------------------
 */
int
Vantle_SVForObject_Default(SV *sv, id object, Tcl_DString *errors)
{
    BQCPERL_dTHX;
    if (VantlePriv_Context(aTHX)->objectToPerlDepth > MAX_CONVERSION_DEPTH) {
	BqTcl_DStringApp(errors, "recursive object structure", (char *) NULL);
	return 0;
    }
    if (object == nil || object == VantlePriv_NilObject) {
	sv_setsv(sv, &PL_sv_undef);
	return 1;
    }
    ObjectKind kind = KindOfObject(object);
    switch (kind) {
    case KindString:
	return SetFromString(aTHX_ sv, object, errors);
    case KindArray:
    case KindDictionary:
	return SetFromCollection(aTHX_ sv, object, kind, errors);
    case KindNumber:
	return SetFromNumber(aTHX_ sv, object, errors);
    case KindData:
	return SetFromData(aTHX_ sv, object, errors);
    case KindNull:
	sv_setsv(sv, &PL_sv_undef);
	return 1;
    case KindOther:
	break;
    }
    return Vantle_SVSetObject(sv, object, errors);
}

int
Vantle_SVForObject(SV *sv, id object, Tcl_DString *errors)
{
    if (Vantle_SVForObjectHook != NULL) {
	return Vantle_SVForObjectHook(sv, object, errors);
    }
    return Vantle_SVForObject_Default(sv, object, errors);
}

/* The next object of an enumerator (nil at the end), in *objectPtr. */
static int
NextObject(NSEnumerator *enumerator, id *objectPtr, Tcl_DString *errors)
{
    return VantlePriv_Guard(errors, [&] { *objectPtr = [enumerator nextObject]; });
}

/*
 *----------------------------------------------------------------------
 * Vantle_AVForArray --
 *	Fills a plain Perl array with the converted elements of an array
 *	object, replacing its contents.  A nil array empties it.  On failure
 *	the elements converted so far stay.
 *----------------------------------------------------------------------
 */
int
Vantle_AVForArray(AV *av, id array, Tcl_DString *errors)
{
    BQCPERL_dTHX;
    if (av == NULL) {
	BqTcl_DStringApp(errors, "NULL array", (char *) NULL);
	return 0;
    }
    if (array == nil) {
	av_clear(av);
	return 1;
    }
    if (!VantlePriv_IsKindOfClass(array, VantlePriv_NSArrayClass)) {
	BqTcl_DStringApp(errors, "not an NSArray instance", (char *) NULL);
	return 0;
    }
    NSUInteger count = 0;
    NSEnumerator *enumerator = nil;
    if (!VantlePriv_Guard(errors, [&] {
	count = [array count];
	enumerator = [array objectEnumerator];
    })) {
	return 0;
    }
    av_clear(av);
    if (count > 0) {
	av_extend(av, (SSize_t) count - 1);
    }
    for (SSize_t index = 0;; index++) {
	id element = nil;
	if (!NextObject(enumerator, &element, errors)) {
	    return 0;
	}
	if (element == nil) {
	    return 1;
	}
	/* Stored first, so the array owns the scalar whatever happens. */
	SV *elementSV = newSV(0);
	av_store(av, index, elementSV);
	if (!Vantle_SVForObject(elementSV, element, errors)) {
	    SvREFCNT_dec(av_pop(av));
	    return 0;
	}
    }
}

/*
 *----------------------------------------------------------------------
 * Vantle_HVForDictionary --
 *	Fills a plain Perl hash with the converted values of a dictionary
 *	object, each under the text of its key's description, replacing its
 *	contents.  A nil dictionary empties it.  Two keys with the same text
 *	(the number 1 and the string "1") fail rather than lose an entry.
 *----------------------------------------------------------------------
 */
int
Vantle_HVForDictionary(HV *hv, id dictionary, Tcl_DString *errors)
{
    BQCPERL_dTHX;
    if (hv == NULL) {
	BqTcl_DStringApp(errors, "NULL hash", (char *) NULL);
	return 0;
    }
    if (dictionary == nil) {
	hv_clear(hv);
	return 1;
    }
    if (!VantlePriv_IsKindOfClass(dictionary, VantlePriv_NSDictionaryClass)) {
	BqTcl_DStringApp(errors, "not an NSDictionary instance", (char *) NULL);
	return 0;
    }
    NSEnumerator *keys = nil;
    if (!VantlePriv_Guard(errors, [&] { keys = [dictionary keyEnumerator]; })) {
	return 0;
    }
    hv_clear(hv);
    SV *keySV = sv_newmortal();
    for (;;) {
	id key = nil, value = nil;
	if (!NextObject(keys, &key, errors)) {
	    return 0;
	}
	if (key == nil) {
	    return 1;
	}
	if (!VantlePriv_Guard(errors, [&] { value = [dictionary objectForKey: key]; })) {
	    return 0;
	}
	NSUInteger keyLength = 0;
	const char *keyBytes = TextBytes(key, 1, &keyLength, errors);
	if (keyBytes == NULL) {
	    return 0;
	}
	SetUTF8Text(aTHX_ keySV, keyBytes, keyLength);
	if (hv_exists_ent(hv, keySV, 0)) {
	    BqTcl_DStringApp(errors, "two dictionary keys become the Perl key \"", (char *) NULL);
	    Tcl_DStringAppend(errors, keyBytes, (int) keyLength);
	    BqTcl_DStringApp(errors, "\"", (char *) NULL);
	    return 0;
	}
	SV *valueSV = newSV(0);
	hv_store_ent(hv, keySV, valueSV, 0);
	if (!Vantle_SVForObject(valueSV, value, errors)) {
	    hv_delete_ent(hv, keySV, G_DISCARD, 0);
	    return 0;
	}
    }
}

/*
 *----------------------------------------------------------------------
 * Vantle::obj --
 *	List context: one handle per argument, each for the object its
 *	value converts to.  Scalar context: one handle, of nil for no
 *	argument, of the one argument's object, or of an NSMutableArray of
 *	all arguments.  A conversion error croaks "Vantle::obj: <text>".
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__obj)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    U8 gimme = GIMME_V;
    int returned = 1;
    SV *failure = NULL;
    Tcl_DString errors;
    if (items == 0) {
	/* Room for the one result; later conversions may move the stack,
	 * so this is the only point where SP is current. */
	EXTEND(SP, 1);
    }

    ENTER;
    VantlePriv_EnterConversion(aTHX_ &errors);
    char failed = 0;
    if (gimme == G_LIST) {
	for (I32 i = 0; i < items && !failed; i++) {
	    id object = Vantle_ObjectForSV(ST(i), &errors, &failed);
	    if (!failed) {
		SV *handle = sv_newmortal();
		Vantle_SVSetObject(handle, object, NULL);
		ST(i) = handle;
	    }
	}
	returned = items;
    } else {
	id object = nil;
	if (items == 1) {
	    object = Vantle_ObjectForSV(ST(0), &errors, &failed);
	} else if (items > 1) {
	    AV *arguments = (AV *) sv_2mortal((SV *) newAV());
	    av_extend(arguments, items - 1);
	    for (I32 i = 0; i < items; i++) {
		av_push(arguments, SvREFCNT_inc_simple_NN(ST(i)));
	    }
	    object = Vantle_ObjectForSV((SV *) arguments, &errors, &failed);
	}
	if (!failed) {
	    SV *handle = sv_newmortal();
	    Vantle_SVSetObject(handle, object, NULL);
	    ST(0) = handle;
	}
    }
    if (failed) {
	failure = sv_2mortal(newSVpvf("Vantle::obj: %s", Tcl_DStringValue(&errors)));
    }
    LEAVE;

    if (failure != NULL) {
	croak_sv(failure);
    }
    XSRETURN(returned);
}

/*
 * DataForBytes --
 *	A new NSData of the bytes of a Perl string, or nil with the reason
 *	appended: a reference that gives no string of its own (no overloaded
 *	'""'), or a character that does not fit a byte.  A string of
 *	characters that all fit is taken as their bytes, as Perl's
 *	utf8::downgrade does.  A handle of an NSData gives that NSData; of
 *	another object, an error (its text would be a choice of encoding,
 *	its description no bytes anyone wants).  The value's get-magic has
 *	run.
 */
static id
DataForBytes(pTHX_ SV *value, Tcl_DString *errors)
{
    if (VantlePriv_HandleReferent(aTHX_ value) != NULL) {
	char failed = 0;
	id object = Vantle_SVGetObject2NM(value, errors, &failed);
	if (failed) {
	    return nil;
	}
	if (!VantlePriv_IsKindOfClass(object, convertClasses.data)) {
	    BqTcl_DStringApp(errors, "object is no NSData", (char *) NULL);
	    return nil;
	}
	return object;
    }
    if (SvROK(value) && !SvAMAGIC(value)) {
	AppendKind(aTHX_ SvRV(value), 1, errors);
	BqTcl_DStringApp(errors, " is no byte string", (char *) NULL);
	return nil;
    }
    SV *bytes = sv_newmortal();
    sv_copypv_nomg(bytes, value);
    if (!sv_utf8_downgrade(bytes, TRUE)) {
	BqTcl_DStringApp(errors, "Wide character in byte string", (char *) NULL);
	return nil;
    }
    STRLEN length;
    const char *start = SvPV_nomg_const(bytes, length);
    if (convertClasses.data == Nil) {
	BqTcl_DStringApp(errors, "NSData is not loaded", (char *) NULL);
	return nil;
    }
    id data = nil;
    VantlePriv_Guard(errors, [&] {
	data = [convertClasses.data dataWithBytes: start length: length];
    });
    return data;
}

/*
 *----------------------------------------------------------------------
 * Vantle::data --
 *	(bytes): a handle of a new autoreleased NSData holding the bytes of
 *	a Perl string.  Croaks "Vantle::data: <reason>" for a value that is
 *	no byte string.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__data)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 1) {
	croak("Usage: Vantle::data(bytes)");
    }
    SV *value = ST(0);
    SV *result = sv_newmortal();
    SV *failure = NULL;
    Tcl_DString errors;
    ENTER;
    VantlePriv_EnterConversion(aTHX_ &errors);
    SvGETMAGIC(value);
    id data = DataForBytes(aTHX_ value, &errors);
    if (data == nil || !Vantle_SVSetObject(result, data, &errors)) {
	failure = sv_2mortal(newSVpvf("Vantle::data: %s", Tcl_DStringValue(&errors)));
    }
    LEAVE;

    if (failure != NULL) {
	croak_sv(failure);
    }
    ST(0) = result;
    XSRETURN(1);
}

/* A new mortal scalar converted from object, or null (text appended). */
static SV *
MortalForObject(pTHX_ id object, Tcl_DString *errors)
{
    SV *result = sv_newmortal();
    return Vantle_SVForObject(result, object, errors) ? result : NULL;
}

/*
 * ExpandArrayOnStack --
 *	Leaves the converted elements of an array object on the stack from
 *	ST(0) on; answers how many, or -1 on failure.  The stack top follows
 *	each value pushed, so Perl code run by a conversion pushes above it.
 */
static I32
ExpandArrayOnStack(pTHX_ I32 ax, id array, Tcl_DString *errors)
{
    NSEnumerator *enumerator = nil;
    if (!VantlePriv_Guard(errors, [&] { enumerator = [array objectEnumerator]; })) {
	return -1;
    }
    PL_stack_sp = PL_stack_base + ax - 1;
    for (I32 count = 0;; count++) {
	id element = nil;
	if (!NextObject(enumerator, &element, errors)) {
	    return -1;
	}
	if (element == nil) {
	    return count;
	}
	SV *value = MortalForObject(aTHX_ element, errors);
	if (value == NULL) {
	    return -1;
	}
	dSP;
	XPUSHs(value);
	PUTBACK;
    }
}

/*
 * ConvertEachInPlace --
 *	Replaces each argument that is an object (a handle, nil or a class
 *	name) by a new mortal scalar converted from it; others stay as they
 *	are.  Answers 0 on failure.
 */
static int
ConvertEachInPlace(pTHX_ I32 ax, I32 items, Tcl_DString *errors)
{
    for (I32 i = 0; i < items; i++) {
	char notObject = 0;
	id object = Vantle_SVGetObject2(ST(i), NULL, &notObject);
	if (notObject) {
	    continue;
	}
	SV *value = MortalForObject(aTHX_ object, errors);
	if (value == NULL) {
	    return 0;
	}
	ST(i) = value;
    }
    return 1;
}

/*
 * ArrayOfConverted --
 *	A new mortal reference to an array holding, per argument, the value
 *	converted from its object, or the argument itself when it is no
 *	object.  Null on failure (the array is freed with the mortal).
 */
static SV *
ArrayOfConverted(pTHX_ I32 ax, I32 items, Tcl_DString *errors)
{
    AV *av = newAV();
    SV *reference = sv_2mortal(newRV_noinc((SV *) av));
    if (items > 0) {
	av_extend(av, items - 1);
    }
    for (I32 i = 0; i < items; i++) {
	char notObject = 0;
	id object = Vantle_SVGetObject2(ST(i), NULL, &notObject);
	if (notObject) {
	    av_store(av, i, SvREFCNT_inc_simple_NN(ST(i)));
	    continue;
	}
	SV *value = newSV(0);
	av_store(av, i, value);
	if (!Vantle_SVForObject(value, object, errors)) {
	    return NULL;
	}
    }
    return reference;
}

/*
 *----------------------------------------------------------------------
 * Vantle::pl --
 *	Converts objects to Perl data.  One argument in list context: the
 *	elements of an array object as a list, else the one converted value
 *	(a value that is no object comes back unchanged).  List context, or
 *	scalar context with one argument: each argument converted in place.
 *	Scalar context otherwise: a reference to an array of them.  A
 *	conversion error croaks "Vantle::pl: <text>".
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__pl)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    U8 gimme = GIMME_V;
    I32 returned = items;
    SV *failure = NULL;
    Tcl_DString errors;
    if (items == 0) {
	EXTEND(SP, 1);
    }

    ENTER;
    VantlePriv_EnterConversion(aTHX_ &errors);
    int ok = 1;
    if (items == 1 && gimme == G_LIST && VantlePriv_NSArrayClass != Nil) {
	char notObject = 0;
	id object = Vantle_SVGetObject2(ST(0), NULL, &notObject);
	if (!notObject && VantlePriv_IsKindOfClass(object, VantlePriv_NSArrayClass)) {
	    returned = ExpandArrayOnStack(aTHX_ ax, object, &errors);
	    ok = returned >= 0;
	} else if (!notObject) {
	    SV *value = MortalForObject(aTHX_ object, &errors);
	    ok = value != NULL;
	    if (ok) {
		ST(0) = value;
	    }
	}
    } else if (gimme == G_LIST || items == 1) {
	ok = ConvertEachInPlace(aTHX_ ax, items, &errors);
    } else {
	SV *reference = ArrayOfConverted(aTHX_ ax, items, &errors);
	ok = reference != NULL;
	if (ok) {
	    ST(0) = reference;
	    returned = 1;
	}
    }
    if (!ok) {
	failure = sv_2mortal(newSVpvf("Vantle::pl: %s", Tcl_DStringValue(&errors)));
    }
    LEAVE;

    if (failure != NULL) {
	croak_sv(failure);
    }
    XSRETURN(returned);
}

void
VantlePriv_BootConvert(pTHX)
{
    newXS("Vantle::obj", XS_Vantle__obj, "Vantle");
    newXS("Vantle::pl", XS_Vantle__pl, "Vantle");
    newXS("Vantle::data", XS_Vantle__data, "Vantle");
}
