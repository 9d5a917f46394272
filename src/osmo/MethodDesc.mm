/*
 * MethodDesc.mm --
 *
 *	Selector-name checks, building and completing method signatures, and
 *	the signature cache.
 *
 *	The cache maps a type string to its BqMethodSignature record.  Both
 *	the string that was asked for and the completed signature itself are
 *	keys, so every spelling of a signature (the compiler's offsets, no
 *	offsets, ours) reaches the same record after its first use, and the
 *	record, with whatever the message send stored in it, is shared.
 *	Failures are not cached.
 */
#import <Foundation/Foundation.h>

#include "MethodDesc.h"
#include "BqOsmoCore.h"
#include "KxLock.h"

#include <objc/runtime.h>

#include <limits.h>
#include <stdio.h>
#include <string.h>

/* Shared by every thread; read and entered under its lock.  Records are
 * never freed, so one found stays valid after the lock is left. */
KX_MUTEX_DEFINE(signatureCacheLock);
static Tcl_HashTable signatureCache;	/* type string -> BqMethodSignature * */
static int signatureCacheReady;

static inline int
IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_ArgcForMName --
 *	The number of arguments a selector name takes: its colons.  Letters,
 *	'_', ':' and digits (not first) are allowed; a name with colons must
 *	end with one.  "@" alone takes none.  Answers -1 for anything else.
 *----------------------------------------------------------------------
 */
int
BqOsmo_ArgcForMName(const char *name)
{
    if (name == NULL) {
	return -1;
    }
    if (strcmp(name, "@") == 0) {
	return 0;
    }
    int colons = 0;
    size_t i;
    for (i = 0; name[i] != '\0'; i++) {
	char c = name[i];
	if (c == ':') {
	    colons++;
	} else if (!IsLetter(c) && c != '_' && !(i > 0 && c >= '0' && c <= '9')) {
	    return -1;
	}
    }
    if (colons > 0 && name[i - 1] != ':') {
	return -1;
    }
    return colons;
}

/*
 *----------------------------------------------------------------------
 * ReadWholeType --
 *	Whether text is exactly one type, nothing before or after it; its
 *	layout goes to *layoutPtr.  Says nothing on standard error.
 *----------------------------------------------------------------------
 */
static int
ReadWholeType(const char *text, BqTypeLayout *layoutPtr)
{
    if (text == NULL) {
	return 0;
    }
    const char *end = BqTypeSpec_ScanType(text, layoutPtr, NULL);
    return end != NULL && *end == '\0';
}

/*
 * IsFrameType --
 *	Whether text is one whole type that can occupy a slot of an
 *	argument frame: valid for the table, and neither a bit-field nor a
 *	pointer to one.  Those are never passed or returned, and a
 *	bit-field's trailing digits would run into the offset that follows
 *	it in a signature, so the signature would not read back.
 */
static int
IsFrameType(CTypeTable *table, const char *text, int isReturn, BqTypeLayout *layoutPtr)
{
    if (!ReadWholeType(text, layoutPtr)) {
	return 0;
    }
    const char *code = BqTypeSpec_SkipTypeQualifiers(text);
    while (*code == '^') {
	code = BqTypeSpec_SkipTypeQualifiers(code + 1);
    }
    if (*code == 'b') {
	return 0;
    }
    return isReturn ? BqOsmo_IsValidReturnType(table, text) : BqOsmo_IsValidArgType(table, text);
}

/* Clears result and appends the failure message; answers 1. */
static int
Fail(Tcl_DString *result, const char *message, int index)
{
    Tcl_DStringSetLength(result, 0);
    if (index >= 0) {
	BqTcl_DStringPrintf(result, "%s%d", message, index);
    } else {
	Tcl_DStringAppend(result, message, -1);
    }
    return 1;
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_GetMethodDescription --
 *	Appends the complete signature of the return type types[0] and the
 *	argument types types[1..argc-1] to result.  Each type must be one
 *	whole type, valid for the table (or by the general rule when table
 *	is null) and no bit-field; an argument must not be void or oneway.  Arguments keep
 *	their qualifiers; each is followed by its offset, offsets advancing
 *	by the argument's size rounded up to a word.
 *
 * Results:
 *	0; or 1 with the message in result ("arg type cannot be void", "arg
 *	type cannot be oneway", "illegal type for arg <i>", "illegal return
 *	type", "signature too large").  Except for the first two, the
 *	message replaces what result held.
 *----------------------------------------------------------------------
 */
int
BqOsmo_GetMethodDescription(CTypeTable *table, int argc, const char *const *types,
	Tcl_DString *result)
{
    if (argc < 1 || types == NULL) {
	return Fail(result, "illegal return type", -1);
    }
    Tcl_DString arguments;
    Tcl_DStringInit(&arguments);
    long long offset = 0;
    long long frameSize = 0;
    for (int i = 1; i < argc; i++) {
	const char *type = types[i];
	const char *bare = type != NULL ? BqTypeSpec_SkipTypeQualifiers(type) : "";
	if (*bare == 'v' || *bare == 'V') {
	    BqTcl_DStringApp(result, "arg type cannot be ", *bare == 'v' ? "void" : "oneway",
		    (char *) NULL);
	    Tcl_DStringFree(&arguments);
	    return 1;
	}
	BqTypeLayout layout;
	if (!IsFrameType(table, type, 0, &layout)) {
	    Tcl_DStringFree(&arguments);
	    return Fail(result, "illegal type for arg ", i);
	}
	BqTcl_DStringPrintf(&arguments, "%s%lld", type, offset);
	frameSize = offset + layout.size;
	offset += (layout.size + BQ_TYPESPEC_WORD - 1) / BQ_TYPESPEC_WORD * BQ_TYPESPEC_WORD;
	if (offset > INT_MAX) {
	    Tcl_DStringFree(&arguments);
	    return Fail(result, "signature too large", -1);
	}
    }
    BqTypeLayout returnLayout;
    if (!IsFrameType(table, types[0], 1, &returnLayout)) {
	Tcl_DStringFree(&arguments);
	return Fail(result, "illegal return type", -1);
    }
    BqTcl_DStringPrintf(result, "%s%lld", types[0], frameSize);
    Tcl_DStringAppend(result, Tcl_DStringValue(&arguments), Tcl_DStringLength(&arguments));
    Tcl_DStringFree(&arguments);
    return 0;
}

/*
 *----------------------------------------------------------------------
 * BqMethod_CompleteTypes --
 *	Splits a type string into single types, dropping the offset after
 *	each, and builds the complete signature from them (no table).
 *	Appends the signature, or the message, to result.
 *----------------------------------------------------------------------
 */
int
BqMethod_CompleteTypes(const char *types, Tcl_DString *result)
{
    if (types == NULL || *types == '\0') {
	Tcl_DStringAppend(result, "illegal return type", -1);
	return 1;
    }
    /* pieces: each type NUL-terminated; starts: their offsets in pieces. */
    Tcl_DString pieces, starts, list, message;
    Tcl_DStringInit(&pieces);
    Tcl_DStringInit(&starts);
    int count = 0;
    for (const char *p = types; *p != '\0'; count++) {
	const char *end = BqTypeSpec_SkipTypeSpec(p);
	int start = Tcl_DStringLength(&pieces);
	Tcl_DStringAppend(&starts, (const char *) &start, sizeof start);
	Tcl_DStringAppend(&pieces, p, (int) (end - p));
	Tcl_DStringAppend(&pieces, "", 1);
	p = BqTypeSpec_SkipOffset(end);
    }
    Tcl_DStringInit(&list);
    Tcl_DStringSetLength(&list, (int) (count * sizeof(const char *)));
    const char **typeList = (const char **) Tcl_DStringValue(&list);
    for (int i = 0; i < count; i++) {
	int start;
	memcpy(&start, Tcl_DStringValue(&starts) + i * sizeof start, sizeof start);
	typeList[i] = Tcl_DStringValue(&pieces) + start;
    }
    Tcl_DStringInit(&message);
    int code = BqOsmo_GetMethodDescription(NULL, count, typeList, &message);
    Tcl_DStringAppend(result, Tcl_DStringValue(&message), Tcl_DStringLength(&message));
    Tcl_DStringFree(&message);
    Tcl_DStringFree(&list);
    Tcl_DStringFree(&starts);
    Tcl_DStringFree(&pieces);
    return code;
}

static BqMethodSignature *
CachedSignature(const char *types)
{
    if (!signatureCacheReady) {
	return NULL;
    }
    Tcl_HashEntry *hPtr = Tcl_FindHashEntry(&signatureCache, types);
    return hPtr != NULL ? (BqMethodSignature *) Tcl_GetHashValue(hPtr) : NULL;
}

/* Makes types a key for record, unless it is one already. */
static void
CacheSignature(const char *types, BqMethodSignature *record)
{
    if (!signatureCacheReady) {
	Tcl_InitHashTable(&signatureCache, TCL_STRING_KEYS);
	signatureCacheReady = 1;
    }
    int isNew;
    Tcl_HashEntry *hPtr = Tcl_CreateHashEntry(&signatureCache, types, &isNew);
    if (isNew) {
	Tcl_SetHashValue(hPtr, (ClientData) record);
    }
}

/*
 * NewSignatureRecord --
 *	A record for a completed signature, with the text in the same block
 *	of the runtime zone.
 */
static BqMethodSignature *
NewSignatureRecord(const char *completed)
{
    size_t length = strlen(completed);
    BqMethodSignature *record = (BqMethodSignature *)
	    BqOsmo_RuntimeAlloc(sizeof *record + length + 1);
    char *text = (char *) (record + 1);
    memcpy(text, completed, length + 1);
    BqOsmoMethodDescription method = { NULL, text, NULL };
    record->types = text;
    record->numberOfArguments = BqMethod_GetNumberOfArguments(&method);
    record->frameSize = BqMethod_GetSizeOfArguments(&method);
    record->callInfo = NULL;
    return record;
}

/*
 *----------------------------------------------------------------------
 * LookupOrComplete --
 *	The record for types: from the cache, or completed, recorded under
 *	both types and the completed text, and answered.  Null with the
 *	message appended to errors when types cannot be completed.
 *----------------------------------------------------------------------
 */
static BqMethodSignature *
LookupOrComplete(const char *types, Tcl_DString *errors)
{
    KxLockGuard guard(&signatureCacheLock);
    BqMethodSignature *record = CachedSignature(types);
    if (record != NULL) {
	return record;
    }
    Tcl_DString completed;
    Tcl_DStringInit(&completed);
    if (BqMethod_CompleteTypes(types, &completed) != 0) {
	Tcl_DStringAppend(errors, Tcl_DStringValue(&completed), Tcl_DStringLength(&completed));
	Tcl_DStringFree(&completed);
	return NULL;
    }
    record = CachedSignature(Tcl_DStringValue(&completed));
    if (record == NULL) {
	record = NewSignatureRecord(Tcl_DStringValue(&completed));
	CacheSignature(record->types, record);
    }
    CacheSignature(types, record);
    Tcl_DStringFree(&completed);
    return record;
}

/*
 *----------------------------------------------------------------------
 * BqMethod_SignatureRecordForString --
 *	The cached record of a type string.  A string that cannot be
 *	completed answers null, with the reason appended to errors when
 *	errors is given; it is tried again on the next request.
 *----------------------------------------------------------------------
 */
BqMethodSignature *
BqMethod_SignatureRecordForString(const char *types, Tcl_DString *errors)
{
    if (types == NULL) {
	BqTcl_DStringApp(errors, "no types", (char *) NULL);
	return NULL;
    }
    BqMethodSignature *record;
    {
	KxLockGuard guard(&signatureCacheLock);
	record = CachedSignature(types);
    }
    if (record != NULL) {
	return record;
    }
    Tcl_DString message;
    Tcl_DStringInit(&message);
    record = LookupOrComplete(types, &message);
    if (record == NULL && errors != NULL) {
	Tcl_DStringAppend(errors, Tcl_DStringValue(&message), Tcl_DStringLength(&message));
    }
    Tcl_DStringFree(&message);
    return record;
}

/*
 *----------------------------------------------------------------------
 * BqMethod_SignatureForString --
 *	The completed signature of a type string, from the cache.  A string
 *	that cannot be completed prints "cannot get signature for ..." on
 *	standard error and answers null.
 *----------------------------------------------------------------------
 */
const char *
BqMethod_SignatureForString(const char *types)
{
    Tcl_DString message;
    Tcl_DStringInit(&message);
    BqMethodSignature *record = BqMethod_SignatureRecordForString(types, &message);
    if (record == NULL) {
	fprintf(stderr, "cannot get signature for \"%s\": %s\n",
		types != NULL ? types : "(null)", Tcl_DStringValue(&message));
    }
    Tcl_DStringFree(&message);
    return record != NULL ? record->types : NULL;
}

/*
 * SignatureClass --
 *	NSMethodSignature, looked up once: on this runtime every [Foo class]
 *	looks the class up by its name, and the message send asks on every
 *	forwarded message.
 */
static Class
SignatureClass(void)
{
    static Class signatureClass = [NSMethodSignature class];
    return signatureClass;
}

static int
IsMethodSignature(id object)
{
    Class wanted = SignatureClass();
    for (Class cls = object_getClass(object); cls != Nil; cls = class_getSuperclass(cls)) {
	if (cls == wanted) {
	    return 1;
	}
    }
    return 0;
}

/*
 * GNUstep's NSMethodSignature keeps the whole type string it was made
 * from and answers it with -methodType, which its headers do not
 * declare.  Its per-argument accessors build a table from that string on
 * first use, and for a structure with element names ({?="x"i}) the
 * table's type strings are left unterminated: they run past their buffer
 * into whatever memory follows.
 */
@interface NSMethodSignature (BqWholeTypeString)
- (const char *) methodType;
@end

/*
 *----------------------------------------------------------------------
 * SameMethodAsBase --
 *	Whether cls, a kind of NSMethodSignature, answers selector with the
 *	implementation NSMethodSignature itself has (which must exist).  The
 *	implementations come from the dispatch tables, not from a walk of
 *	every method list of the class and its superclasses.
 *----------------------------------------------------------------------
 */
static int
SameMethodAsBase(Class cls, SEL selector)
{
    Class base = SignatureClass();
    return class_respondsToSelector(base, selector)
	    && class_getMethodImplementation(cls, selector)
		    == class_getMethodImplementation(base, selector);
}

/*
 *----------------------------------------------------------------------
 * HasGNUstepTypeAccessors --
 *	Whether a signature object reports its types through GNUstep's own
 *	accessors, so that its whole type string says the same and can be
 *	read instead.  A subclass that answers the types itself is read
 *	through its accessors.
 *----------------------------------------------------------------------
 */
static int
HasGNUstepTypeAccessors(NSMethodSignature *signature)
{
    Class cls = object_getClass(signature);
    return SameMethodAsBase(cls, @selector(methodType))
	    && SameMethodAsBase(cls, @selector(methodReturnType))
	    && SameMethodAsBase(cls, @selector(getArgumentTypeAtIndex:))
	    && SameMethodAsBase(cls, @selector(numberOfArguments));
}

/*
 *----------------------------------------------------------------------
 * AppendSignatureTypes --
 *	Appends the return type and every argument type of a method
 *	signature object, as it reports them, to types: GNUstep's own
 *	signatures as the whole type string they hold, others type by type.
 *	Answers 0, or 1 with a message in errors when the object raised.
 *----------------------------------------------------------------------
 */
static int
AppendSignatureTypes(NSMethodSignature *signature, Tcl_DString *types, Tcl_DString *errors)
{
    @try {
	if (HasGNUstepTypeAccessors(signature)) {
	    const char *whole = [signature methodType];
	    Tcl_DStringAppend(types, whole != NULL ? whole : "", -1);
	    return 0;
	}
	const char *type = [signature methodReturnType];
	Tcl_DStringAppend(types, type != NULL ? type : "", -1);
	NSUInteger count = [signature numberOfArguments];
	for (NSUInteger i = 0; i < count; i++) {
	    type = [signature getArgumentTypeAtIndex: i];
	    Tcl_DStringAppend(types, type != NULL ? type : "", -1);
	}
    } @catch (NSException *exception) {
	BqTcl_DStringApp(errors, "cannot read method signature: ",
		[[exception reason] UTF8String], (char *) NULL);
	return 1;
    } @catch (id thrown) {
	BqTcl_DStringApp(errors, "cannot read method signature", (char *) NULL);
	return 1;
    }
    return 0;
}

/*
 *----------------------------------------------------------------------
 * BqMethod_SignatureText --
 *	The whole type string of a method signature object of GNUstep's
 *	own, as it holds it (its offsets included): null for nil, for an
 *	object that is no method signature, and for a signature class that
 *	reports its types through accessors of its own.  The text belongs to
 *	the signature object.
 *----------------------------------------------------------------------
 */
const char *
BqMethod_SignatureText(NSMethodSignature *signature)
{
    if (signature == nil || !IsMethodSignature(signature)
	    || !HasGNUstepTypeAccessors(signature)) {
	return NULL;
    }
    return [signature methodType];
}

/*
 *----------------------------------------------------------------------
 * BqMethod_SignatureRecordForSignature --
 *	The cached record for the types of an NSMethodSignature.  Null with
 *	a message in errors for nil, for an object that is no method
 *	signature, and for types that cannot be completed.
 *----------------------------------------------------------------------
 */
BqMethodSignature *
BqMethod_SignatureRecordForSignature(NSMethodSignature *signature, Tcl_DString *errors)
{
    if (signature == nil || !IsMethodSignature(signature)) {
	BqTcl_DStringApp(errors, "not a method signature", (char *) NULL);
	return NULL;
    }
    Tcl_DString types;
    Tcl_DStringInit(&types);
    BqMethodSignature *record = NULL;
    if (AppendSignatureTypes(signature, &types, errors) == 0) {
	record = LookupOrComplete(Tcl_DStringValue(&types), errors);
    }
    Tcl_DStringFree(&types);
    return record;
}

int
BqMethod_SignatureForSignature(NSMethodSignature *signature, Tcl_DString *result)
{
    BqMethodSignature *record = BqMethod_SignatureRecordForSignature(signature, result);
    if (record == NULL) {
	return 1;
    }
    Tcl_DStringAppend(result, record->types, -1);
    return 0;
}
