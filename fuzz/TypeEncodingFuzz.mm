/*
 * TypeEncodingFuzz.mm --
 *
 *	libFuzzer target over the type-encoding walkers and signature
 *	completion.  Each input is one or two encodings: the bytes up to the
 *	first NUL, and the bytes after it (or the first again) as the other
 *	side of comparisons.  Both are copied into blocks of exactly their
 *	size, so any read past a terminating NUL is a read past a block.
 *
 *	Beside "no crash, no over-read, no hang", the target checks
 *	properties that must hold for every input: the walk over a string
 *	always advances and stays inside it; layouts have power-of-two
 *	alignments that divide the size; an encoding equals itself; canonical
 *	qualifiers are a fixed point; a completed signature completes to
 *	itself and walks to its own argument count.
 *
 *	The library's diagnostics go to a null stream so the fuzzer runs at
 *	speed; a broken property is written to the real standard error and
 *	aborts.
 */
#import <Foundation/Foundation.h>

#include "BqOsmo.h"
#include "CTypes.h"
#include "ObjectTypeCheck.h"
#include "MethodDesc.h"
#include "TypeEncoding.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static FILE *realStderr;
static CTypeTable *fuzzTable;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

/* Reports a broken property with the input and aborts. */
static void
Check(int holds, const char *property, const char *input)
{
    if (holds) {
	return;
    }
    fprintf(realStderr, "property broken: %s\ninput: \"%s\"\n", property, input);
    fflush(realStderr);
    abort();
}

static int
AcceptAnything(void *, Tcl_DString *, CTypeTable *, void *, void *, int, const char *,
	CTypeEntry *, unsigned)
{
    return 0;
}

int
LLVMFuzzerInitialize(int *argc, char ***argv)
{
    (void) argc;
    (void) argv;
    BqOsmo_Init();
    realStderr = fdopen(dup(2), "w");
    FILE *null = fopen("/dev/null", "w");
    if (realStderr != NULL && null != NULL) {
	stderr = null;
    } else {
	realStderr = stderr;
    }
    fuzzTable = BqOsmo_NewCTypeTable("fuzz", NULL, NULL, NULL, NULL, NULL,
	    AcceptAnything, AcceptAnything, 0);
    BqOsmo_AddCType(fuzzTable, "i", "int", NULL, NULL, NULL, NULL);
    BqOsmo_AddCType(fuzzTable, "#", "Class", NULL, NULL, NULL, NULL);
    BqOsmo_AddCType(fuzzTable, "^v", "voidPtr", NULL, NULL, NULL, NULL);
    BqOsmo_AddCType(fuzzTable, "{pt=\"x\"i\"y\"i}", "point", NULL, NULL, NULL, NULL);
    return 0;
}

static char *
ExactCopy(const uint8_t *data, size_t size)
{
    char *copy = (char *) malloc(size + 1);
    memcpy(copy, data, size);
    copy[size] = '\0';
    return copy;
}

static int
IsPowerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

/* The walks over a whole string: always forward, never past the end. */
static void
ExerciseWalks(const char *a)
{
    const char *end = a + strlen(a);
    for (const char *p = a; *p != '\0';) {
	const char *next = BqTypeSpec_SkipArgument(p);
	Check(next > p && next <= end, "SkipArgument advances inside the string", a);
	p = next;
    }
    const char *skipped = BqTypeSpec_SkipTypeSpec(a);
    Check(skipped >= a && skipped <= end, "SkipTypeSpec stays inside", a);

    BqOsmoMethodDescription method = { NULL, a, NULL };
    int count = BqMethod_GetNumberOfArguments(&method);
    BqMethod_GetSizeOfArguments(&method);
    char stacked[16];
    void *frame[4] = { stacked, NULL, NULL, NULL };
    const char *cursor;
    int walked = 0;
    for (void *arg = BqMethod_GetFirstArgument(&method, frame, &cursor); arg != NULL;
	    arg = BqMethod_GetNextArgument(frame, &cursor)) {
	Check(cursor >= a && cursor < end, "the cursor stays inside", a);
	walked++;
    }
    Check(walked == count, "the argument walk matches the argument count", a);
}

static void
ExerciseLayout(const char *a)
{
    BqTypeLayout layout;
    const char *typeEnd = BqTypeSpec_ScanType(a, &layout, NULL);
    if (typeEnd != NULL) {
	Check(IsPowerOfTwo(layout.align) && layout.align <= 16, "alignment is a power of two", a);
	Check(layout.size >= 0 && layout.size % layout.align == 0,
		"the size is a multiple of the alignment", a);
	Check(BqTypeSpec_SizeOfType(a) == layout.size, "SizeOfType agrees with the scan", a);
	Check(BqTypeSpec_AlignOfType(a) == layout.align, "AlignOfType agrees with the scan", a);
    } else {
	Check(!BqTypeSpec_IsValidCType(a), "an unreadable type is not valid", a);
    }
    BqTypeSpec_AlignedSizeOfType(a);
    BqTypeSpec_WordSizeOfType(a);

    BqTypeMember member;
    int steps = 0;
    for (int status = BqTypeSpec_FirstMember(a, &member); status == 1;
	    status = BqTypeSpec_NextMember(&member)) {
	Check(member.offset >= 0 && member.typeEnd > member.type, "members are sane", a);
	Check(++steps <= (int) strlen(a), "the member walk ends", a);
    }
}

static void
ExerciseQualifiers(const char *a, size_t length)
{
    BqTypeSpec_GetTypeQualifiers(a);
    BqTypeSpec_GetArgInOutType(a);
    char *copy = strdup(a);
    char *fixed = BqTypeSpec_FixTypeQualifiers(copy);
    Check(fixed >= copy && fixed <= copy + length, "canonical qualifiers fit their room", a);
    Check(strcmp(BqTypeSpec_SkipTypeQualifiers(fixed), BqTypeSpec_SkipTypeQualifiers(a)) == 0,
	    "canonical qualifiers keep the type", a);
    char *again = strdup(fixed);
    Check(strcmp(BqTypeSpec_FixTypeQualifiers(again), fixed) == 0,
	    "canonical qualifiers are a fixed point", a);
    free(again);
    free(copy);

    Tcl_DString ds;
    Tcl_DStringInit(&ds);
    BqTypeSpec_Qualifiers(&ds, (unsigned char) a[0]);
    Tcl_DStringFree(&ds);

    char *stripped = (char *) malloc(length + 1);
    BqTypeSpec_StripCTypeQuote(a, stripped);
    Check(strlen(stripped) <= length, "stripping never grows", a);
    free(stripped);
}

static void
ExerciseComparison(const char *a, const char *b)
{
    if (*BqTypeSpec_SkipTypeQualifiers(a) != '\0') {
	Check(BqTypeSpec_EqTypes(a, a), "an encoding equals itself", a);
    }
    BqTypeSpec_EqTypes(a, b);
    BqTypeSpec_EqTypes(b, a);
    BqTypeSpec_CompatiblePtrTypes(a, b);
    BqTypeSpec_CompatiblePtrTypes(b, a);
}

/* Completion: the completed signature completes to itself. */
static void
ExerciseCompletion(const char *a)
{
    Tcl_DString completed;
    Tcl_DStringInit(&completed);
    if (BqMethod_CompleteTypes(a, &completed) == 0) {
	Tcl_DString again;
	Tcl_DStringInit(&again);
	Check(BqMethod_CompleteTypes(Tcl_DStringValue(&completed), &again) == 0,
		"a completed signature completes", a);
	Check(strcmp(Tcl_DStringValue(&again), Tcl_DStringValue(&completed)) == 0,
		"completion is a fixed point", a);
	Tcl_DStringFree(&again);
	ExerciseWalks(Tcl_DStringValue(&completed));
    }
    Tcl_DStringFree(&completed);
    BqOsmo_ArgcForMName(a);
}

static void
ExerciseTable(const char *a)
{
    BqOsmo__CTypeTFind(fuzzTable, a);
    BqOsmo_IsValidCType(fuzzTable, a);
    Tcl_DString ds;
    Tcl_DStringInit(&ds);
    BqOsmo_T2N(fuzzTable, a, &ds);
    BqOsmo_N2T(fuzzTable, a, &ds);
    long long storage = 0;
    BqOsmo_I2C(NULL, &ds, fuzzTable, NULL, &storage, 0, a, 0);
    BqOsmo_C2I(NULL, &ds, fuzzTable, NULL, &storage, 0, a, 0);
    BqOsmo_CheckObjectType(@"fuzz", a, "L: ", "what", &ds);
    Tcl_DStringFree(&ds);
}

int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint8_t *nul = (const uint8_t *) memchr(data, 0, size);
    size_t aSize = nul != NULL ? (size_t) (nul - data) : size;
    char *a = ExactCopy(data, aSize);
    char *b = nul != NULL ? ExactCopy(nul + 1, size - aSize - 1) : ExactCopy(data, aSize);

    ExerciseWalks(a);
    ExerciseLayout(a);
    ExerciseQualifiers(a, aSize);
    ExerciseComparison(a, b);
    ExerciseCompletion(a);
    ExerciseTable(a);

    free(a);
    free(b);
    return 0;
}
