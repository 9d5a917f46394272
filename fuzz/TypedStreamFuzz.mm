/*
 * TypedStreamFuzz.mm --
 *
 *	libFuzzer target over the typed-stream reader.  Each input is the
 *	archive of a stream: a file's contents after its 24-byte container
 *	header, so no checksum stands between the fuzzer and the decoder.
 *	The target opens a read stream on it in memory and reads what a
 *	program would: each value with the type its type record announces
 *	(objects through KxReadObject), until the end, a limit of values or
 *	the first error; then it closes the stream.
 *
 *	The stream allows the Foundation classes the writer's users archive
 *	(collections, strings, numbers, data, NSValue) and
 *	TypedStreamTestNode, the tests' class with a strong and a
 *	conditional reference (tests/TypedStreamNode.h), so graphs with
 *	shared and cyclic references get exercised.  Other classes are
 *	refused by the list, as a reader of untrusted files should have it;
 *	with TYPEDSTREAM_FUZZ_ANY_CLASS set there is no list, which shows
 *	what the initWithCoder: methods of other classes make of bad data.
 *
 *	Beside "no crash, no leak, no over-read", one property must hold
 *	for every input: every failure is a typed-stream error (8000..8005).
 *	A broken property is written to standard error and aborts.
 *	GNUstep's log lines are dropped.
 *
 *	With the environment variable TYPEDSTREAM_FUZZ_SEEDS set to a
 *	directory, the target writes its seed corpus there (archives the
 *	writer made of every value kind and of object graphs) and exits;
 *	with TYPEDSTREAM_FUZZ_VERBOSE set, it reports every typed-stream
 *	error on standard error.
 */
#import <Foundation/Foundation.h>

#include "KxPlatform.h"
#include "KxTypedStreamPriv.h"
#include "TypedStreamNode.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <string>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

#define MAX_VALUES	64		/* values read from one input */
#define MAX_BUFFER	(1 << 20)	/* largest value the target reads */

static FILE *realStderr;	/* where the target reports */

static const char *const allowedClasses[] = {
    "NSArray", "NSMutableArray", "NSDictionary", "NSMutableDictionary", "NSSet",
    "NSMutableSet", "NSString", "NSMutableString", "NSNumber", "NSValue", "NSData",
    "NSMutableData", "TypedStreamTestNode",
};

/* GNUstep's log lines (NSLog) go nowhere: the fuzzer runs at speed and
 * its own report stays readable. */
static void
DropLogLine(NSString *message)
{
    (void) message;
}

static void
RunBody(void *context)
{
    (*(std::function<void()> *) context)();
}

static int verbose;
static int anyClass;		/* TYPEDSTREAM_FUZZ_ANY_CLASS: no allowed list */

/* The code body raised, 0 for none; with TYPEDSTREAM_FUZZ_VERBOSE set,
 * the message of a typed-stream error goes to standard error. */
static int
Guarded(std::function<void()> body)
{
    KxErrorInfo error;
    int code = KxGuard(RunBody, &body, &error);
    if (verbose && TS_getExceptionName(code) != NULL) {
	fprintf(realStderr, "%s: %s\n", TS_getExceptionName(code), (const char *) error.data1);
    }
    KxErrorInfoClear(&error);
    return code;
}

static void
Check(int holds, const char *property, int code)
{
    if (holds) {
	return;
    }
    fprintf(realStderr, "property broken: %s (code %d)\n", property, code);
    fflush(realStderr);
    abort();
}

/* --- Reading ---------------------------------------------------------- */

static uint32_t
Big32(const uint8_t *p)
{
    return ((uint32_t) p[0] << 24) | ((uint32_t) p[1] << 16) | ((uint32_t) p[2] << 8) | p[3];
}

/*
 * NextType --
 *	The type record at offset, as the writer stores it (an int length,
 *	then the bytes as an array of unsigned chars), copied into type;
 *	answers 0 when the bytes there are no such record.
 */
static int
NextType(const uint8_t *data, size_t size, size_t offset, char *type)
{
    if (offset > size || size - offset < 12 || data[offset] != 0x25
	|| data[offset + 5] != 0x15 || data[offset + 10] != 0x02) {
	return 0;
    }
    uint32_t length = Big32(data + offset + 1);
    if (length == 0 || length > KX_TS_MAX_TYPE_LENGTH || Big32(data + offset + 6) != length
	|| size - offset - 11 < length) {
	return 0;
    }
    memcpy(type, data + offset + 11, length);
    type[length] = '\0';
    return strlen(type) == length;
}

/*
 * BreakCycles --
 *	Empties the containers and nodes of a graph that was read, so that
 *	its reference cycles (which the seeds have on purpose) do not keep
 *	it alive: what stays allocated after an input is then a leak.
 */
static void
BreakCycles(id object, NSMutableSet *seen)
{
    if (object == nil || [seen containsObject: [NSValue valueWithNonretainedObject: object]]) {
	return;
    }
    [seen addObject: [NSValue valueWithNonretainedObject: object]];
    if ([object isKindOfClass: [TypedStreamTestNode class]]) {
	TypedStreamTestNode *node = (TypedStreamTestNode *) object;
	id strong = [node->strong autorelease];
	node->strong = nil;
	node->weak = nil;
	BreakCycles(strong, seen);
    } else if ([object isKindOfClass: [NSArray class]] || [object isKindOfClass: [NSSet class]]) {
	NSArray *elements = [object isKindOfClass: [NSSet class]] ? [object allObjects] : object;
	for (id element in [[elements copy] autorelease]) {
	    BreakCycles(element, seen);
	}
	if ([object respondsToSelector: @selector(removeAllObjects)]) {
	    [object removeAllObjects];
	}
    } else if ([object isKindOfClass: [NSDictionary class]]) {
	for (id key in [[object copy] autorelease]) {
	    BreakCycles(key, seen);
	    BreakCycles([object objectForKey: key], seen);
	}
	if ([object respondsToSelector: @selector(removeAllObjects)]) {
	    [object removeAllObjects];
	}
    }
}

/*
 * ReleaseLeaf --
 *	Gives back what a leaf of a value that was read holds: a C string
 *	is freed, an object's cycles are broken.
 */
typedef struct Release {
    KxZone *zone;
    NSMutableSet *seen;
} Release;

static void
ReleaseLeaf(void *context, char code, unsigned char *data, int count, int isArray)
{
    (void) count;
    (void) isArray;
    Release *release = (Release *) context;
    if (code == '*') {
	KxZoneFree(release->zone, *(char **) data);
    } else if (code == '@') {
	BreakCycles(*(id *) data, release->seen);
    }
}

/* Reads the next value; answers the code raised. */
static int
ReadNext(KxTypedStream *ts, const uint8_t *data, size_t size)
{
    char type[KX_TS_MAX_TYPE_LENGTH + 1], canon[KX_TS_MAX_TYPE_LENGTH + 1];
    KxTSLayout layout;
    if (!NextType(data, size, [ts->decoder fileOffset], type)
	|| KxTSParseType(type, canon, &layout) != NULL || layout.size > MAX_BUFFER) {
	strcpy(canon, "i");
	layout.size = sizeof(int);
    }
    NSMutableSet *seen = [NSMutableSet set];
    if (strcmp(canon, "@") == 0) {
	id object = nil;
	int code = Guarded([&] { object = KxReadObject(ts); });
	BreakCycles(object, seen);
	return code;
    }
    unsigned char *buffer = (unsigned char *) calloc(1, layout.size > 0 ? layout.size : 1);
    int code = Guarded([&] { KxReadType(ts, canon, buffer); });
    if (code == 0) {
	Release release = { KxGetTypedStreamZone(ts), seen };
	KxTSWalkValue(canon, buffer, ReleaseLeaf, &release);
    }
    free(buffer);
    return code;
}

int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    @autoreleasepool {
	NSData *archive = [[NSData alloc] initWithBytes: data length: size];
	KxTypedStream *ts = NULL;
	int code = Guarded([&] { ts = KxTSOpenArchive(archive, 0); });
	Check(code == 0 || TS_getExceptionName(code) != NULL,
	      "opening fails with a typed-stream error", code);
	if (ts == NULL) {
	    return 0;
	}
	if (!anyClass) {
	    KxSetTypedStreamAllowedClasses(ts, allowedClasses,
					   (int) (sizeof allowedClasses / sizeof allowedClasses[0]));
	}
	for (int i = 0; i < MAX_VALUES && !KxEndOfTypedStream(ts); i++) {
	    code = ReadNext(ts, data, size);
	    Check(code == 0 || TS_getExceptionName(code) != NULL,
		  "reading fails with a typed-stream error", code);
	    if (code != 0) {
		break;
	    }
	}
	KxTypedStreamClassVersion(ts, "NSValue");
	KxCloseTypedStream(ts);
    }
    return 0;
}

/* --- Seeds ------------------------------------------------------------ */

/* Writes one seed: the archive of a stream that body writes. */
static void
WriteSeed(const std::string &dir, const char *name, std::function<void(KxTypedStream *)> body)
{
    std::string path = dir + "/" + name;
    std::string file = path + ".ts";
    KxTypedStream *ts = KxOpenTypedStreamForFile(file.c_str(), KX_WRITEONLY);
    body(ts);
    KxCloseTypedStream(ts);
    FILE *in = fopen(file.c_str(), "rb");
    FILE *out = fopen(path.c_str(), "wb");
    fseek(in, KX_TS_FILE_HEADER, SEEK_SET);
    int c;
    while ((c = getc(in)) != EOF) {
	putc(c, out);
    }
    fclose(in);
    fclose(out);
    unlink(file.c_str());
}

static void
WriteValues(KxTypedStream *ts)
{
    signed char c = -5;
    unsigned char C = 200;
    bool B = true;
    short s = -300;
    unsigned short S = 60000;
    int i = 42;
    unsigned int I = 4000000000u;
    long l = -(1L << 40);
    unsigned long L = 1UL << 41;
    long long q = -(1LL << 50);
    unsigned long long Q = 1ULL << 52;
    float f = 1.5f;
    double d = 2.25;
    const char *text = "text", *empty = "", *none = NULL;
    Class cls = [NSString class];
    SEL sel = @selector(count);
    int ints[3] = { 1, 2, 3 };
    const char *texts[2] = { "x", "yz" };
    struct { int n; const char *s; double w; } record = { 3, "inside", 0.5 };
    KxWriteType(ts, "c", &c);
    KxWriteType(ts, "C", &C);
    KxWriteType(ts, "B", &B);
    KxWriteType(ts, "s", &s);
    KxWriteType(ts, "S", &S);
    KxWriteType(ts, "i", &i);
    KxWriteType(ts, "I", &I);
    KxWriteType(ts, "l", &l);
    KxWriteType(ts, "L", &L);
    KxWriteType(ts, "q", &q);
    KxWriteType(ts, "Q", &Q);
    KxWriteType(ts, "f", &f);
    KxWriteType(ts, "d", &d);
    KxWriteType(ts, "*", &text);
    KxWriteType(ts, "*", &empty);
    KxWriteType(ts, "*", &none);
    KxWriteType(ts, "%", &text);
    KxWriteType(ts, "#", &cls);
    KxWriteType(ts, ":", &sel);
    KxWriteType(ts, "[3i]", ints);
    KxWriteArray(ts, "*", 2, texts);
    KxWriteType(ts, "{record=i*d}", &record);
}

static void
WriteFoundationGraph(KxTypedStream *ts)
{
    NSMutableArray *array = [NSMutableArray array];
    NSString *shared = [NSString stringWithFormat: @"shared %d", 1];
    id itself = array;
    [array addObject: shared];
    [array addObject: shared];
    [array addObject: itself];
    [array addObject: [NSString stringWithUTF8String: "h\xc3\xa9llo \xe2\x98\xba"]];
    [array addObject: [NSMutableString stringWithString: @"mutable"]];
    [array addObject: [NSNumber numberWithInt: 7]];
    [array addObject: [NSNumber numberWithDouble: 0.5]];
    [array addObject: [NSNumber numberWithBool: YES]];
    [array addObject: [NSDictionary dictionaryWithObject: shared forKey: @"key"]];
    [array addObject: [NSMutableSet setWithObjects: @"a", @"b", nil]];
    [array addObject: [NSData dataWithBytes: "\x00\x01\x02" length: 3]];
    [array addObject: [NSValue valueWithPoint: NSMakePoint(1, 2)]];
    [array addObject: [NSValue valueWithRange: NSMakeRange(3, 4)]];
    [array addObject: [NSValue valueWithRect: NSMakeRect(1, 2, 3, 4)]];
    KxWriteRootObject(ts, array);
    KxWriteObject(ts, shared);
    KxWriteType(ts, "@", &array);
    KxWriteObject(ts, nil);
    [array removeAllObjects];
}

static void
WriteNodeGraph(KxTypedStream *ts)
{
    TypedStreamTestNode *root = [[TypedStreamTestNode new] autorelease];
    TypedStreamTestNode *kept = [[TypedStreamTestNode new] autorelease];
    TypedStreamTestNode *dropped = [[TypedStreamTestNode new] autorelease];
    root->strong = [kept retain];
    root->weak = dropped;
    kept->strong = [[NSArray arrayWithObjects: root, @"leaf", nil] retain];
    kept->weak = kept;
    kept->number = 9;
    KxWriteRootObject(ts, root);
    struct { id object; int n; } pair = { kept, 5 };
    KxWriteType(ts, "{pair=@i}", &pair);
    [kept->strong release];
    kept->strong = nil;
}

int
LLVMFuzzerInitialize(int *argc, char ***argv)
{
    (void) argc;
    (void) argv;
    const char *seeds = getenv("TYPEDSTREAM_FUZZ_SEEDS");
    if (seeds != NULL) {
	@autoreleasepool {
	    WriteSeed(seeds, "seed-values", WriteValues);
	    WriteSeed(seeds, "seed-foundation-graph", WriteFoundationGraph);
	    WriteSeed(seeds, "seed-node-graph", WriteNodeGraph);
	    WriteSeed(seeds, "seed-mixed", [](KxTypedStream *ts) {
		WriteNodeGraph(ts);
		WriteValues(ts);
		WriteFoundationGraph(ts);
	    });
	    WriteSeed(seeds, "seed-empty", [](KxTypedStream *) {});
	}
	exit(0);
    }
    verbose = getenv("TYPEDSTREAM_FUZZ_VERBOSE") != NULL;
    anyClass = getenv("TYPEDSTREAM_FUZZ_ANY_CLASS") != NULL;
    realStderr = stderr;
    _NSLog_printf_handler = DropLogLine;
    return 0;
}
