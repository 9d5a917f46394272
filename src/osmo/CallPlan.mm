/*
 * CallPlan.mm --
 *
 *	libffi descriptions of signatures.
 *
 *	Scalars map to libffi's own types.  Aggregates (structures, unions,
 *	arrays) are described for the x86-64 calling convention rather than
 *	member by member, because libffi knows neither unions nor bit-fields:
 *	an aggregate of up to 16 bytes travels in up to two registers, one
 *	per eightbyte, an SSE register when everything in that eightbyte is a
 *	float or a double and a general register otherwise.  So the type is
 *	flattened into its scalar leaves, each eightbyte is classified from
 *	the leaves that overlap it, and the description lists one element per
 *	eightbyte of that class (floats and doubles for SSE, integers for the
 *	rest).  A larger aggregate travels in memory whatever its members,
 *	so a run of integers of its size describes it.
 *
 *	libffi may round an aggregate's size up to its elements' alignment;
 *	frame slots and the result buffer are rounded up to the word and
 *	carry slack, so the extra bytes read or written stay inside them.
 */
#include "CallPlan.h"
#include "BqOsmoCore.h"
#include "TypeEncoding.h"
#include "KxLock.h"

#include <stdlib.h>
#include <string.h>

/* Guards making plans and the cache of variadic calls: both are shared
 * by every thread. */
KX_MUTEX_DEFINE(plansLock);

enum { CLASS_NONE = 0, CLASS_SSE = 1, CLASS_INTEGER = 2 };

/* What the leaves of an aggregate of at most 16 bytes put in each of its
 * two eightbytes and four 4-byte halves. */
typedef struct Eightbytes {
    char cls[2];
    char hasDouble[2];
    char hasFloat[4];
} Eightbytes;

#define MAX_AGGREGATE_ELEMENTS 9	/* two eightbytes of at most 4+3 */

static void
MarkInteger(Eightbytes *eb, int from, int to)
{
    for (int byte = from; byte < to && byte < 16; byte += 8 - byte % 8) {
	eb->cls[byte / 8] = CLASS_INTEGER;
    }
}

static void
MarkFloating(Eightbytes *eb, int offset, char code)
{
    if (offset < 0 || offset >= 16) {
	return;
    }
    int half = offset / 8;
    if (eb->cls[half] != CLASS_INTEGER) {
	eb->cls[half] = CLASS_SSE;
    }
    if (code == 'd') {
	eb->hasDouble[half] = 1;
    } else {
	eb->hasFloat[offset / 4] = 1;
    }
}

/*
 *----------------------------------------------------------------------
 * CollectLeaves --
 *	Marks, in eb, the eightbytes that the scalar leaves of type (placed
 *	at offset) occupy.  Only called for aggregates of at most 16 bytes,
 *	so arrays have few elements.  Returns 0, or 1 on a malformed or
 *	unsupported type.
 *----------------------------------------------------------------------
 */
static int
CollectLeaves(const char *type, int offset, Eightbytes *eb, int depth)
{
    if (depth > BQ_TYPESPEC_MAX_DEPTH) {
	return 1;
    }
    const char *code = BqTypeSpec_SkipTypeQualifiers(type);
    switch (*code) {
    case 'f':
    case 'd':
	MarkFloating(eb, offset, *code);
	return 0;
    case '[': {
	const char *element = code + 1;
	long count = strtol(element, (char **) &element, 10);
	int elementSize = BqTypeSpec_AlignedSizeOfType(element);
	if (elementSize <= 0) {
	    return 0;
	}
	for (long i = 0; i < count && offset + i * elementSize < 16; i++) {
	    if (CollectLeaves(element, offset + (int) (i * elementSize), eb, depth + 1)) {
		return 1;
	    }
	}
	return 0;
    }
    case '{':
    case '(': {
	BqTypeMember member;
	int more = BqTypeSpec_FirstMember(code, &member);
	for (; more == 1; more = BqTypeSpec_NextMember(&member)) {
	    if (member.layout.isBitField) {
		int first = member.layout.bitPosition / 8;
		int last = (member.layout.bitPosition + member.layout.bitWidth + 7) / 8;
		MarkInteger(eb, offset + first, offset + last);
	    } else if (CollectLeaves(member.type, offset + member.offset, eb, depth + 1)) {
		return 1;
	    }
	}
	return more < 0 ? 1 : 0;
    }
    default: {
	int size = BqTypeSpec_SizeOfType(code);
	MarkInteger(eb, offset, offset + (size > 0 ? size : 1));
	return 0;
    }
    }
}

static ffi_type *
NewAggregate(ffi_type **elements, int count)
{
    ffi_type *aggregate = (ffi_type *) BqOsmo_RuntimeAlloc(sizeof(ffi_type));
    ffi_type **list = (ffi_type **) BqOsmo_RuntimeAlloc(sizeof(ffi_type *) * (count + 1));
    memcpy(list, elements, sizeof(ffi_type *) * count);
    list[count] = NULL;
    aggregate->size = 0;
    aggregate->alignment = 0;
    aggregate->type = FFI_TYPE_STRUCT;
    aggregate->elements = list;
    return aggregate;
}

/* Appends integer elements covering length bytes (at most 8). */
static int
AppendIntegers(ffi_type **elements, int count, int length)
{
    if (length >= 8) {
	elements[count++] = &ffi_type_uint64;
	return count;
    }
    if (length >= 4) {
	elements[count++] = &ffi_type_uint32;
	length -= 4;
    }
    while (length-- > 0) {
	elements[count++] = &ffi_type_uint8;
    }
    return count;
}

static ffi_type *
DescribeSmallAggregate(const char *type, int size, Tcl_DString *errors)
{
    Eightbytes eb;
    memset(&eb, 0, sizeof eb);
    if (CollectLeaves(type, 0, &eb, 0)) {
	BqTcl_DStringApp(errors, "malformed aggregate type \"", type, "\"", (char *) NULL);
	return NULL;
    }
    ffi_type *elements[MAX_AGGREGATE_ELEMENTS];
    int count = 0;
    for (int half = 0; half * 8 < size; half++) {
	int length = size - half * 8 < 8 ? size - half * 8 : 8;
	if (eb.cls[half] != CLASS_SSE) {
	    count = AppendIntegers(elements, count, length);
	} else if (eb.hasDouble[half]) {
	    elements[count++] = &ffi_type_double;
	} else {
	    elements[count++] = &ffi_type_float;
	    if (eb.hasFloat[half * 2 + 1]) {
		elements[count++] = &ffi_type_float;
	    }
	}
    }
    return NewAggregate(elements, count);
}

static ffi_type *
DescribeLargeAggregate(int size)
{
    int words = size / 8;
    ffi_type **elements = (ffi_type **) malloc(sizeof(ffi_type *) * (size_t) (words + 8));
    if (elements == NULL) {
	return NULL;
    }
    int count = 0;
    while (count < words) {
	elements[count++] = &ffi_type_uint64;
    }
    count = AppendIntegers(elements, count, size % 8);
    ffi_type *aggregate = NewAggregate(elements, count);
    free(elements);
    return aggregate;
}

ffi_type *
BqCallPlan_TypeFor(const char *type, Tcl_DString *errors)
{
    const char *code = BqTypeSpec_SkipTypeQualifiers(type);
    switch (*code) {
    case 'c': return &ffi_type_sint8;
    case 'C':
    case 'B': return &ffi_type_uint8;
    case 's': return &ffi_type_sint16;
    case 'S': return &ffi_type_uint16;
    case 'i': return &ffi_type_sint32;
    case 'I': return &ffi_type_uint32;
    case 'l': return sizeof(long) == 8 ? &ffi_type_sint64 : &ffi_type_sint32;
    case 'L': return sizeof(long) == 8 ? &ffi_type_uint64 : &ffi_type_uint32;
    case 'q': return &ffi_type_sint64;
    case 'Q': return &ffi_type_uint64;
    case 'f': return &ffi_type_float;
    case 'd': return &ffi_type_double;
    case 'v':
    case 'V': return &ffi_type_void;
    case '*': case '@': case '#': case ':': case '%': case '?': case '^':
	return &ffi_type_pointer;
    case '{':
    case '(':
    case '[': {
	if (!BqTypeSpec_IsValidCType(code)) {
	    break;
	}
	int size = BqTypeSpec_AlignedSizeOfType(code);
	if (size <= 0) {
	    break;
	}
	return size <= 16 ? DescribeSmallAggregate(code, size, errors)
			  : DescribeLargeAggregate(size);
    }
    default:
	break;
    }
    const char *end = BqTypeSpec_SkipTypeSpec(type);
    Tcl_DStringAppend(errors, "cannot pass a value of type \"", -1);
    Tcl_DStringAppend(errors, type, end > type ? (int) (end - type) : -1);
    Tcl_DStringAppend(errors, "\"", -1);
    return NULL;
}

/* Whether a value of this code travels in one general register. */
static int
IsWordCode(char code)
{
    return strchr("cCBsSiIlLqQ*@#:^%?", code) != NULL && code != '\0';
}

static void
ChooseDirectCall(BqCallPlan *plan)
{
    plan->directArgc = -1;
    if (plan->numberOfArguments > BQ_DIRECT_MAX_ARGS) {
	return;
    }
    for (int i = 0; i < plan->numberOfArguments; i++) {
	char code = *BqTypeSpec_SkipTypeQualifiers(plan->argTypes[i]);
	if (!IsWordCode(code)) {
	    return;
	}
	plan->directCodes[i] = code;
    }
    char code = plan->returnCode;
    if (code == 'v' || code == 'V' || IsWordCode(code)) {
	plan->directResult = 'w';
    } else if (code == 'f' || code == 'd') {
	plan->directResult = code;
    } else {
	return;
    }
    plan->directArgc = plan->numberOfArguments;
}

/*
 * An argument's value widened to a word the way the caller of a C
 * function widens it: signed codes sign-extend, the others zero-extend.
 */
static inline uintptr_t
WordArgument(char code, const char *address)
{
    switch (code) {
    case 'c': return (uintptr_t) (intptr_t) *(const signed char *) address;
    case 'C':
    case 'B': return *(const unsigned char *) address;
    case 's': return (uintptr_t) (intptr_t) *(const short *) address;
    case 'S': return *(const unsigned short *) address;
    case 'i': return (uintptr_t) (intptr_t) *(const int *) address;
    case 'I': return *(const unsigned int *) address;
    default: return *(const uintptr_t *) address;
    }
}

typedef uintptr_t W;

/* Every direct call passes six words: those past the plan's arguments
 * are zero.  A method that takes fewer ignores the extra registers; a
 * variadic one that reads a nil-terminated list (+arrayWithObjects:)
 * finds its terminator right after the arguments given instead of
 * whatever the registers last held. */
_Static_assert(BQ_DIRECT_MAX_ARGS == 6, "DIRECT_CALL passes six words");
#define DIRECT_CALL(R, imp, w) \
    ((R (*)(W, W, W, W, W, W)) (imp))(w[0], w[1], w[2], w[3], w[4], w[5])

/*
 * The direct calls go through a pointer type of words that is not the
 * implementation's own type, on purpose: on this ABI a word-sized
 * argument lands in the register the implementation reads, whatever its
 * declared integer or pointer type, as with objc_msgSend.  The function
 * sanitizer (which compares the exact C++ types) is therefore off here.
 */
__attribute__((no_sanitize("function")))
void
BqCallPlan_Call(BqCallPlan *plan, IMP implementation, char *stacked, void **arguments,
	void *returnValue)
{
    int argc = plan->directArgc;
    if (argc < 0) {
	ffi_call(&plan->cif, FFI_FN(implementation), returnValue, arguments);
	return;
    }
    W words[BQ_DIRECT_MAX_ARGS] = { 0, 0, 0, 0, 0, 0 };
    for (int i = 0; i < argc; i++) {
	words[i] = WordArgument(plan->directCodes[i], stacked + plan->argOffsets[i]);
    }
    switch (plan->directResult) {
    case 'f': {
	float result = DIRECT_CALL(float, implementation, words);
	memcpy(returnValue, &result, sizeof result);
	break;
    }
    case 'd': {
	double result = DIRECT_CALL(double, implementation, words);
	memcpy(returnValue, &result, sizeof result);
	break;
    }
    default: {
	W result = DIRECT_CALL(W, implementation, words);
	memcpy(returnValue, &result, sizeof result);
	break;
    }
    }
}

/*
 *----------------------------------------------------------------------
 * MakePlan --
 *	The plan for a completed signature.  A signature that cannot be
 *	called still gets a plan, one that holds the reason (failure), so
 *	that later sends of it report the same reason without building
 *	anything again.
 *----------------------------------------------------------------------
 */
static BqCallPlan *
MakePlan(BqMethodSignature *signature)
{
    int argc = signature->numberOfArguments;
    BqCallPlan *plan = (BqCallPlan *) BqOsmo_RuntimeAlloc(sizeof(BqCallPlan));
    memset(plan, 0, sizeof *plan);
    plan->numberOfArguments = argc;
    plan->argTypes = (const char **) BqOsmo_RuntimeAlloc(sizeof(char *) * (argc + 1));
    plan->argOffsets = (int *) BqOsmo_RuntimeAlloc(sizeof(int) * (argc + 1));
    plan->ffiArgTypes = (ffi_type **) BqOsmo_RuntimeAlloc(sizeof(ffi_type *) * (argc + 1));
    plan->argConversions = (BqOsmoCTypeConversion *)
	BqOsmo_RuntimeAlloc(sizeof(BqOsmoCTypeConversion) * (argc + 1));
    memset(plan->argConversions, 0, sizeof(BqOsmoCTypeConversion) * (argc + 1));

    /* The completed signature: return type, frame size, then one
     * (type, offset) pair per argument. */
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    const char *cursor = signature->types;
    plan->returnType = cursor;
    plan->returnCode = *BqTypeSpec_SkipTypeQualifiers(cursor);
    plan->returnSize = BqTypeSpec_SizeOfType(cursor);
    ffi_type *returnFfi = BqCallPlan_TypeFor(cursor, &errors);
    cursor = BqTypeSpec_SkipOffset(BqTypeSpec_SkipTypeSpec(cursor));
    int ok = returnFfi != NULL;
    for (int i = 0; ok && i < argc; i++) {
	if (*cursor == '\0') {
	    BqTcl_DStringApp(&errors, "signature \"", signature->types, "\" is cut short",
		    (char *) NULL);
	    ok = 0;
	    break;
	}
	plan->argTypes[i] = cursor;
	if (BqCallPlan_IsAggregateType(cursor)) {
	    plan->hasAggregateArgs = 1;
	}
	const char *offset = BqTypeSpec_SkipTypeSpec(cursor);
	plan->argOffsets[i] = (int) strtol(offset, NULL, 10);
	plan->ffiArgTypes[i] = BqCallPlan_TypeFor(cursor, &errors);
	ok = plan->ffiArgTypes[i] != NULL;
	cursor = BqTypeSpec_SkipOffset(offset);
    }
    int frameSize = signature->frameSize > 0 ? signature->frameSize : 0;
    plan->frameSize = (frameSize + 7) & ~7;
    plan->returnFfi = returnFfi;
    if (ok && ffi_prep_cif(&plan->cif, FFI_DEFAULT_ABI, (unsigned) argc, returnFfi,
	    plan->ffiArgTypes) != FFI_OK) {
	BqTcl_DStringApp(&errors, "cannot prepare a call for signature \"", signature->types,
		"\"", (char *) NULL);
	ok = 0;
    }
    if (ok) {
	ChooseDirectCall(plan);
    } else {
	plan->failure = BqOsmo_RuntimeStrdup(Tcl_DStringValue(&errors));
    }
    Tcl_DStringFree(&errors);
    return plan;
}

/*
 * BqCallPlan_ForSignature --
 *	The signature's plan, made on first use.  Signature records are
 *	shared by every thread: a plan is made under the plans' lock and
 *	published complete, so a thread that finds one reads it without the
 *	lock.
 */
BqCallPlan *
BqCallPlan_ForSignature(BqMethodSignature *signature, Tcl_DString *errors)
{
    BqCallPlan *plan = (BqCallPlan *) __atomic_load_n(&signature->callInfo, __ATOMIC_ACQUIRE);
    if (plan == NULL) {
	KxLockGuard guard(&plansLock);
	plan = (BqCallPlan *) signature->callInfo;
	if (plan == NULL) {
	    plan = MakePlan(signature);
	    __atomic_store_n(&signature->callInfo, (void *) plan, __ATOMIC_RELEASE);
	}
    }
    if (plan->failure != NULL) {
	Tcl_DStringAppend(errors, plan->failure, -1);
	return NULL;
    }
    return plan;
}

/* ---------------------------------------------------------------------
 * Variadic calls
 *
 * Prepared calls of a signature followed by values of given codes, in a
 * direct-mapped cache that a later preparation may overwrite: a caller
 * gets a copy of the entry's call, never the entry itself, so a send that
 * runs while another one waits for its call (a method that calls back
 * into the interpreter) cannot change the waiting call.  Process-wide,
 * like the signature records the entries point to.
 * ------------------------------------------------------------------ */

#define VARIADIC_CACHE_SIZE 64		/* a power of two */
#define VARIADIC_MAX_NAMED 8		/* larger calls are not cached */
#define VARIADIC_MAX_VALUES 16

typedef struct VariadicEntry {
    BqCallPlan *plan;
    int count;
    char codes[VARIADIC_MAX_VALUES];
    ffi_cif cif;
    ffi_type *types[VARIADIC_MAX_NAMED + VARIADIC_MAX_VALUES];
} VariadicEntry;

static VariadicEntry variadicCache[VARIADIC_CACHE_SIZE];	/* under plansLock */

static ffi_type *
VariadicType(char code)
{
    switch (code) {
    case 'i': return &ffi_type_sint32;
    case 'I': return &ffi_type_uint32;
    case 'l': case 'q': return &ffi_type_sint64;
    case 'L': case 'Q': return &ffi_type_uint64;
    case 'd': return &ffi_type_double;
    case '*': case '@': return &ffi_type_pointer;
    default: return NULL;
    }
}

static VariadicEntry *
VariadicSlot(BqCallPlan *plan, const char *codes, int count)
{
    uintptr_t hash = (uintptr_t) plan >> 4;
    for (int i = 0; i < count; i++) {
	hash = hash * 31 + (unsigned char) codes[i];
    }
    return &variadicCache[(hash ^ (unsigned) count) & (VARIADIC_CACHE_SIZE - 1)];
}

int
BqCallPlan_PrepareVariadic(BqCallPlan *plan, const char *codes, int count, ffi_cif *cif,
	ffi_type **types, Tcl_DString *errors)
{
    int named = plan->numberOfArguments;
    int total = named + count;
    int cacheable = named <= VARIADIC_MAX_NAMED && count <= VARIADIC_MAX_VALUES;
    KxLockGuard guard(&plansLock);
    VariadicEntry *entry = cacheable ? VariadicSlot(plan, codes, count) : NULL;
    if (entry != NULL && entry->plan == plan && entry->count == count
	    && memcmp(entry->codes, codes, (size_t) count) == 0) {
	memcpy(types, entry->types, sizeof(ffi_type *) * (size_t) total);
	*cif = entry->cif;
	cif->arg_types = types;
	return 0;
    }
    memcpy(types, plan->ffiArgTypes, sizeof(ffi_type *) * (size_t) named);
    for (int i = 0; i < count; i++) {
	types[named + i] = VariadicType(codes[i]);
	if (types[named + i] == NULL) {
	    char code[2] = { codes[i], '\0' };
	    BqTcl_DStringApp(errors, "cannot pass a variadic value of type \"", code, "\"",
		    (char *) NULL);
	    return 1;
	}
    }
    if (ffi_prep_cif_var(cif, FFI_DEFAULT_ABI, (unsigned) named, (unsigned) total,
	    plan->returnFfi, types) != FFI_OK) {
	BqTcl_DStringApp(errors, "cannot prepare a variadic call for signature \"",
		plan->returnType, "\"", (char *) NULL);
	return 1;
    }
    if (entry != NULL) {
	entry->plan = plan;
	entry->count = count;
	memcpy(entry->codes, codes, (size_t) count);
	memcpy(entry->types, types, sizeof(ffi_type *) * (size_t) total);
	entry->cif = *cif;
	entry->cif.arg_types = entry->types;
    }
    return 0;
}
