/*
 * TypedStreamTest.mm --
 *
 *	Typed streams: round trips of every kind of value, object graphs
 *	with shared and cyclic references, conditional references, versions,
 *	end of stream, refused calls and type encodings, failures half way,
 *	zones, a corpus of damaged and foreign files that must each be
 *	refused with a typed-stream error, never a crash, crafted files
 *	(checksum recomputed) read in child processes, objects that fail to
 *	read, and the read options.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "KxPlatform.h"
#include "KxTypedStreamPriv.h"
#include "TypedStreamNode.h"

#include <float.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <objc/runtime.h>

/* How much a refused read may grow the process.  Under AddressSanitizer
 * every allocation also costs shadow memory and waits in a quarantine;
 * the unguarded reader grew by gigabytes either way. */
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define REFUSED_READ_GROWTH_KB 16384
#endif
#endif
#ifndef REFUSED_READ_GROWTH_KB
#define REFUSED_READ_GROWTH_KB 4096
#endif

/* --- Helpers ---------------------------------------------------------- */

static void
RunBody(void *context)
{
    (*(std::function<void()> *) context)();
}

/* The code body raised (0 for none); its message into *message. */
static int
Raised(std::function<void()> body, std::string *message = nullptr)
{
    KxErrorInfo error;
    int code = KxGuard(RunBody, &body, &error);
    if (message != nullptr) {
	*message = TS_getExceptionName(code) != NULL ? (const char *) error.data1 : "";
    }
    KxErrorInfoClear(&error);
    return code;
}

static std::string
FileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

static void
PutFile(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

/* Rewrites the container's length and checksum around a changed archive,
 * as a writer would: the result passes the container checks. */
static std::string
Reseal(std::string bytes)
{
    unsigned long long length = bytes.size() - 24;
    unsigned long crc = KxTSChecksum((const unsigned char *) bytes.data() + 24, length);
    for (int i = 0; i < 8; i++) {
	bytes[12 + i] = (char) (length >> (8 * i));
    }
    for (int i = 0; i < 4; i++) {
	bytes[20 + i] = (char) (crc >> (8 * i));
    }
    return bytes;
}

typedef std::function<void(KxTypedStream *)> StreamBody;

class TypedStream : public testing::Test {
protected:
    char dir[64];

    void SetUp() override
    {
	snprintf(dir, sizeof dir, "/tmp/kxts-test-XXXXXX");
	ASSERT_NE(nullptr, mkdtemp(dir));
    }

    void TearDown() override
    {
	EXPECT_EQ(0, system(("rm -rf " + std::string(dir)).c_str()));
    }

    std::string Path(const char *name) { return std::string(dir) + "/" + name; }

    KxTypedStream *Open(const char *name, int mode)
    {
	return KxOpenTypedStreamForFile(Path(name).c_str(), mode);
    }

    /* Runs body on a stream open on name in mode, then closes it. */
    void With(const char *name, int mode, StreamBody body)
    {
	KxTypedStream *ts = Open(name, mode);
	ASSERT_NE(nullptr, ts) << name;
	body(ts);
	KxCloseTypedStream(ts);
    }

    void RoundTrip(const char *name, StreamBody write, StreamBody read)
    {
	With(name, KX_WRITEONLY, write);
	With(name, KX_READONLY, read);
    }
};

/* --- Test classes ----------------------------------------------------- */

/* Archives itself by calling the typed-stream functions on the stream it
 * is archived in, as classes written for typed streams do. */
static KxTypedStream *reentrantStream;
static int reentrantCode;	/* what a close from inside raised */

@interface TypedStreamTestReentrant : NSObject <NSCoding>
{
@public
    int number;
    id other;		/* written as an object reference */
    int closeInside;	/* try to close the stream while archived */
}
@end

@implementation TypedStreamTestReentrant
- (void) encodeWithCoder: (NSCoder *)coder
{
    if (closeInside) {
	reentrantCode = Raised([] { KxCloseTypedStream(reentrantStream); });
    }
    KxWriteType(reentrantStream, "i", &number);
    KxWriteObjectReference(reentrantStream, other);
}
- (id) initWithCoder: (NSCoder *)coder
{
    KxReadType(reentrantStream, "i", &number);
    other = KxReadObject(reentrantStream);
    return self;
}
@end

/* Rooted at the GNU runtime's Object: no NSCoding at all. */
@interface TypedStreamTestBare : Object
@end
@implementation TypedStreamTestBare
@end

/* --- Values ----------------------------------------------------------- */

struct Scalars {
    signed char c; unsigned char C; bool B; short s; unsigned short S;
    int i; unsigned int I; long l; unsigned long L; long long q;
    unsigned long long Q; float f; double d;
};

/* Each field of Scalars: its type code, offset and size. */
static const struct { const char *type; size_t offset, size; } scalarFields[] = {
#define FIELD(name) { #name, offsetof(Scalars, name), sizeof(((Scalars *) 0)->name) }
    FIELD(c), FIELD(C), FIELD(B), FIELD(s), FIELD(S), FIELD(i), FIELD(I),
    FIELD(l), FIELD(L), FIELD(q), FIELD(Q), FIELD(f), FIELD(d),
#undef FIELD
};

TEST_F(TypedStream, ScalarsRoundTripAtTheirLimits)
{
    Scalars values[] = {
	{ SCHAR_MIN, 0, false, SHRT_MIN, 0, INT_MIN, 0, LONG_MIN, 0, LLONG_MIN, 0,
	  -FLT_MAX, -DBL_MAX },
	{ SCHAR_MAX, UCHAR_MAX, true, SHRT_MAX, USHRT_MAX, INT_MAX, UINT_MAX, LONG_MAX,
	  ULONG_MAX, LLONG_MAX, ULLONG_MAX, FLT_MIN / 4, -0.0 },
	{ -1, 1, true, -1, 1, -1, 1, -1, 1, -1, 1, INFINITY, NAN },
    };
    RoundTrip("scalars", [&](KxTypedStream *ts) {
	for (Scalars &v : values) {
	    for (auto &field : scalarFields) {
		KxWriteType(ts, field.type, (char *) &v + field.offset);
	    }
	}
    }, [&](KxTypedStream *ts) {
	for (Scalars &v : values) {
	    for (auto &field : scalarFields) {
		unsigned char got[8];
		KxReadType(ts, field.type, got);
		EXPECT_EQ(0, memcmp((char *) &v + field.offset, got, field.size)) << field.type;
	    }
	}
	EXPECT_TRUE(KxEndOfTypedStream(ts));
    });
}

TEST_F(TypedStream, StringsRoundTripByContentNotAddress)
{
    std::string big(100000, 'x');
    const char *values[] = { "hello", "", NULL, "\xff\x01 bytes", big.c_str() };
    RoundTrip("strings", [&](KxTypedStream *ts) {
	for (const char *value : values) {
	    KxWriteType(ts, "r*", &value);
	}
	/* Two texts written from one buffer stay two texts. */
	char buffer[16], *reused = buffer;
	strcpy(buffer, "first");
	KxWriteType(ts, "*", &reused);
	strcpy(buffer, "second");
	KxWriteType(ts, "*", &reused);
	const char *atom = "interned";
	KxWriteType(ts, "%", &atom);
    }, [&](KxTypedStream *ts) {
	for (const char *value : { values[0], values[1], values[2], values[3], values[4],
				   "first", "second" }) {
	    char *got = (char *) 0x1;
	    KxReadType(ts, "*", &got);
	    if (value == NULL) {
		EXPECT_EQ(nullptr, got);
	    } else {
		EXPECT_STREQ(value, got);
		KxZoneFree(KxGetTypedStreamZone(ts), got);
	    }
	}
	const char *atom = NULL;
	KxReadType(ts, "%", &atom);
	EXPECT_EQ(KxUniqueString("interned"), atom);
    });
}

TEST_F(TypedStream, ArraysInEitherForm)
{
    int ints[5] = { INT_MIN, -1, 0, 1, INT_MAX };
    double doubles[3] = { 0.5, -2.25, 1e300 };
    const char *texts[3] = { "a", NULL, "ccc" };
    RoundTrip("arrays", [&](KxTypedStream *ts) {
	KxWriteArray(ts, "i", 5, ints);
	KxWriteType(ts, "[3d]", doubles);
	KxWriteArray(ts, "*", 3, texts);
	KxWriteArray(ts, "i", 0, NULL);
	KxWriteArray(ts, "i", 5, ints);
    }, [&](KxTypedStream *ts) {
	int gotInts[5];
	KxReadType(ts, "[5i]", gotInts);
	EXPECT_EQ(0, memcmp(ints, gotInts, sizeof ints));
	double gotDoubles[3];
	KxReadArray(ts, "d", 3, gotDoubles);
	EXPECT_EQ(0, memcmp(doubles, gotDoubles, sizeof doubles));
	char *gotTexts[3];
	KxReadArray(ts, "*", 3, gotTexts);
	EXPECT_STREQ("a", gotTexts[0]);
	EXPECT_EQ(nullptr, gotTexts[1]);
	EXPECT_STREQ("ccc", gotTexts[2]);
	KxZoneFree(NULL, gotTexts[0]);
	KxZoneFree(NULL, gotTexts[2]);
	KxReadArray(ts, "i", 0, NULL);
	EXPECT_EQ(TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR,
		  Raised([&] { KxReadArray(ts, "i", 4, gotInts); }))
	    << "the count is part of the type";
    });
}

struct Inner {
    char tag;
    double weight;
};

struct Record {
    short small;
    struct Inner inner;
    int numbers[3];
    char *name;
    id object;
    Class cls;
    SEL selector;
    unsigned char flag;
};

TEST_F(TypedStream, StructuresFollowTheCompilersLayout)
{
    Record record = { -7, { 'x', 3.5 }, { 1, 2, 3 }, (char *) "named",
		      @"object", [NSString class], @selector(initWithCoder:), 200 };
    struct { int a; double b; } pair = { 9, 0.25 };
    RoundTrip("structs", [&](KxTypedStream *ts) {
	KxWriteType(ts, @encode(Record), &record);
	KxWriteType(ts, "{pair=\"a\"i\"b\"d}", &pair);
    }, [&](KxTypedStream *ts) {
	Record got;
	KxReadType(ts, @encode(Record), &got);
	EXPECT_EQ(-7, got.small);
	EXPECT_EQ('x', got.inner.tag);
	EXPECT_EQ(3.5, got.inner.weight);
	EXPECT_EQ(3, got.numbers[2]);
	EXPECT_STREQ("named", got.name);
	EXPECT_TRUE([got.object isEqual: @"object"]);
	EXPECT_EQ([NSString class], got.cls);
	EXPECT_TRUE(sel_isEqual(@selector(initWithCoder:), got.selector));
	EXPECT_EQ(200, got.flag);
	KxZoneFree(NULL, got.name);
	memset(&pair, 0, sizeof pair);
	KxReadType(ts, "{pair=id}", &pair);	/* element names are no part of the type */
	EXPECT_EQ(9, pair.a);
	EXPECT_EQ(0.25, pair.b);
    });
}

TEST_F(TypedStream, BadTypeEncodingsAreRefusedAndLeaveTheStreamUsable)
{
    std::string deep = std::string(40, '[') + "1i" + std::string(40, ']');
    const char *refused[] = {
	"", "^i", "(u=ic)", "b3", "D", "v", "?", "{s}", "{s=}", "[i]", "[3i",
	"{s=i", "ii", "[99999999999i]", "[1073741824[2i]]", "@\"NSString",
	"{s=\"a\"}", "Z", deep.c_str(),
    };
    int value = 5;
    RoundTrip("bad-types", [&](KxTypedStream *ts) {
	for (const char *type : refused) {
	    EXPECT_EQ(TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR,
		      Raised([&] { KxWriteType(ts, type, &value); })) << '"' << type << '"';
	}
	EXPECT_EQ(TYPEDSTREAM_CALLER_ERROR, Raised([&] { KxWriteType(ts, NULL, &value); }));
	EXPECT_EQ(TYPEDSTREAM_CALLER_ERROR, Raised([&] { KxWriteType(ts, "i", NULL); }));
	EXPECT_EQ(TYPEDSTREAM_CALLER_ERROR,
		  Raised([&] { KxWriteArray(ts, "i", -1, &value); }));
	KxWriteType(ts, "i", &value);
    }, [&](KxTypedStream *ts) {
	int got = 0;
	KxReadType(ts, "i", &got);
	EXPECT_EQ(5, got);
	EXPECT_TRUE(KxEndOfTypedStream(ts));
    });
}

TEST_F(TypedStream, ReadingAnotherTypeIsRefused)
{
    long long big = 1;
    With("mismatch", KX_WRITEONLY, [&](KxTypedStream *ts) { KxWriteType(ts, "q", &big); });

    /* NSUnarchiver itself would convert between these silently. */
    for (const char *type : { "i", "l", "Q", "d" }) {
	With("mismatch", KX_READONLY, [&](KxTypedStream *ts) {
	    long long got = 0;
	    std::string message;
	    EXPECT_EQ(TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR,
		      Raised([&] { KxReadType(ts, type, &got); }, &message)) << type;
	    EXPECT_NE(std::string::npos, message.find("type q, not")) << message;
	    EXPECT_EQ(0, got) << "a failed read leaves the data alone";
	    EXPECT_EQ(TYPEDSTREAM_CALLER_ERROR, Raised([&] { KxReadType(ts, "q", &got); }))
		<< "the position is lost after a failed read";
	});
    }
}

/* --- Objects ---------------------------------------------------------- */

TEST_F(TypedStream, ObjectGraphsKeepSharingAndCycles)
{
    NSMutableArray *array = [NSMutableArray array];
    NSString *shared = [NSString stringWithFormat: @"shared %d", 1];
    id itself = array;		/* the compiler warns of cycles it can see */
    [array addObject: shared];
    [array addObject: shared];
    [array addObject: itself];
    [array addObject: [NSDictionary dictionaryWithObject: [NSNumber numberWithInt: 7]
						  forKey: @"seven"]];
    RoundTrip("graph", [&](KxTypedStream *ts) {
	KxWriteRootObject(ts, array);
	KxWriteObject(ts, shared);
	KxWriteType(ts, "@", &array);
	KxWriteObject(ts, nil);
    }, [&](KxTypedStream *ts) {
	NSMutableArray *got = KxReadObject(ts);
	ASSERT_TRUE([got isKindOfClass: [NSArray class]]);
	ASSERT_EQ(4u, [got count]);
	EXPECT_TRUE([[got objectAtIndex: 0] isEqual: @"shared 1"]);
	EXPECT_EQ([got objectAtIndex: 0], [got objectAtIndex: 1]) << "written once, read as one";
	EXPECT_EQ(got, [got objectAtIndex: 2]) << "the cycle is intact";
	EXPECT_EQ(7, [[[got objectAtIndex: 3] objectForKey: @"seven"] intValue]);
	EXPECT_EQ([got objectAtIndex: 0], KxReadObject(ts)) << "shared across writes";
	id again = nil;
	KxReadType(ts, "@", &again);
	EXPECT_EQ(got, again);
	EXPECT_EQ(nil, KxReadObject(ts));
	[got removeAllObjects];	/* break the cycle */
    });
    [array removeAllObjects];
}

TEST_F(TypedStream, FoundationValuesRoundTrip)
{
    /* The classes the reader checks more closely (counts, NSValue's type
     * encoding) read back what they wrote. */
    NSArray *values = [NSArray arrayWithObjects:
	[NSValue valueWithPoint: NSMakePoint(1, 2)], [NSValue valueWithRange: NSMakeRange(3, 4)],
	[NSValue valueWithRect: NSMakeRect(1, 2, 3, 4)], [NSValue valueWithSize: NSMakeSize(5, 6)],
	[NSNumber numberWithBool: YES], [NSNumber numberWithUnsignedLongLong: ULLONG_MAX],
	[NSNumber numberWithDouble: -0.25], [NSDate dateWithTimeIntervalSince1970: 5],
	[NSNull null], [NSMutableString stringWithUTF8String: "\xe2\x98\xba"],
	[NSCountedSet setWithObjects: @"a", @"a", @"b", nil],
	[NSMutableDictionary dictionaryWithObject: [NSSet setWithObject: @"s"] forKey: @"k"],
	[NSData data], [NSMutableData dataWithLength: 300], @"", [NSArray array], nil];
    RoundTrip("foundation", [&](KxTypedStream *ts) {
	KxWriteRootObject(ts, values);
    }, [&](KxTypedStream *ts) {
	NSArray *got = KxReadObject(ts);
	EXPECT_TRUE([got isEqual: values]) << [[got description] UTF8String];
	EXPECT_EQ(2u, [[got objectAtIndex: 10] countForObject: @"a"]);
    });
}

/* Codes a selector, a C string and a pointer to a structure, each twice
 * over: the archiver writes the second of each as a reference to the
 * first. */
@interface TypedStreamTestPointers : NSObject <NSCoding>
{
@public
    SEL selectors[2];
    char *texts[2];
    Inner *inners[2];
}
@end

@implementation TypedStreamTestPointers
- (void) encodeWithCoder: (NSCoder *)coder
{
    for (int i = 0; i < 2; i++) {
	[coder encodeValueOfObjCType: ":" at: &selectors[i]];
	[coder encodeValueOfObjCType: "*" at: &texts[i]];
	[coder encodeValueOfObjCType: "^{Inner=cd}" at: &inners[i]];
    }
}
- (id) initWithCoder: (NSCoder *)coder
{
    for (int i = 0; i < 2; i++) {
	[coder decodeValueOfObjCType: ":" at: &selectors[i]];
	[coder decodeValueOfObjCType: "*" at: &texts[i]];
	[coder decodeValueOfObjCType: "^{Inner=cd}" at: &inners[i]];
    }
    return self;
}
@end

TEST_F(TypedStream, ObjectsCodeSelectorsStringsAndPointersOnceEach)
{
    Inner inner = { 'p', 0.75 };
    TypedStreamTestPointers *object = [[TypedStreamTestPointers new] autorelease];
    object->selectors[0] = object->selectors[1] = @selector(count);
    object->texts[0] = object->texts[1] = (char *) "twice";
    object->inners[0] = object->inners[1] = &inner;
    RoundTrip("pointers", [&](KxTypedStream *ts) { KxWriteRootObject(ts, object); },
	      [&](KxTypedStream *ts) {
	TypedStreamTestPointers *got = KxReadObject(ts);
	for (int i = 0; i < 2; i++) {
	    EXPECT_TRUE(sel_isEqual(@selector(count), got->selectors[i])) << i;
	    EXPECT_STREQ("twice", got->texts[i]) << i;
	    ASSERT_NE(nullptr, got->inners[i]) << i;
	    EXPECT_EQ('p', got->inners[i]->tag) << i;
	    EXPECT_EQ(0.75, got->inners[i]->weight) << i;
	}
	EXPECT_NE(got->texts[0], got->texts[1]) << "each C string is the receiver's own copy";
	EXPECT_EQ(got->inners[0], got->inners[1]) << "a pointer read again is the same memory";
	free(got->texts[0]);
	free(got->texts[1]);
    });
}

TEST_F(TypedStream, ConditionalReferencesInsideRootObjects)
{
    TypedStreamTestNode *root = [[TypedStreamTestNode new] autorelease];
    TypedStreamTestNode *kept = [[TypedStreamTestNode new] autorelease];
    TypedStreamTestNode *dropped = [[TypedStreamTestNode new] autorelease];
    kept->number = 1;
    root->strong = [kept retain];
    root->weak = dropped;	/* referred to conditionally only */
    kept->weak = kept;		/* conditional, but also written in full */
    TypedStreamTestReentrant *outer = [[TypedStreamTestReentrant new] autorelease];
    outer->number = 42;
    outer->other = kept;

    With("outside", KX_WRITEONLY, [&](KxTypedStream *ts) {
	EXPECT_EQ(TYPEDSTREAM_WRITE_REFERENCE_ERROR,
		  Raised([&] { KxWriteObjectReference(ts, kept); }));
	EXPECT_EQ(TYPEDSTREAM_WRITE_REFERENCE_ERROR, Raised([&] { KxWriteObject(ts, root); }))
	    << "the node refers to an object conditionally";
    });
    RoundTrip("conditional", [&](KxTypedStream *ts) {
	KxWriteRootObject(ts, root);
	reentrantStream = ts;	/* its coding calls back into the stream */
	KxWriteRootObject(ts, outer);
    }, [&](KxTypedStream *ts) {
	reentrantStream = ts;
	TypedStreamTestNode *got = KxReadObject(ts);
	TypedStreamTestNode *gotKept = got->strong;
	EXPECT_EQ(1, gotKept->number);
	EXPECT_EQ(gotKept, gotKept->weak);
	EXPECT_EQ(nil, got->weak) << "an object only referred to is not written";
	TypedStreamTestReentrant *gotOuter = KxReadObject(ts);
	EXPECT_EQ(42, gotOuter->number);
	EXPECT_EQ(gotKept, gotOuter->other) << "a reference to an object written earlier";
    });
    reentrantStream = NULL;
}

TEST_F(TypedStream, CloseFromInsideACallIsRefused)
{
    TypedStreamTestReentrant *closer = [[TypedStreamTestReentrant new] autorelease];
    closer->closeInside = 1;
    closer->number = 8;
    reentrantCode = 0;
    RoundTrip("reentrant", [&](KxTypedStream *ts) {
	reentrantStream = ts;
	KxWriteRootObject(ts, closer);
	EXPECT_EQ(TYPEDSTREAM_CALLER_ERROR, reentrantCode);
    }, [&](KxTypedStream *ts) {
	reentrantStream = ts;
	TypedStreamTestReentrant *got = KxReadObject(ts);
	EXPECT_EQ(8, got->number) << "the refused close changed nothing";
    });
    reentrantStream = NULL;
}

TEST_F(TypedStream, WriteStreamsKeepTheirObjectsAlive)
{
    typedStreamTestNodeDeallocs = 0;
    RoundTrip("alive", [&](KxTypedStream *ts) {
	for (int i = 0; i < 3; i++) {
	    TypedStreamTestNode *node = [TypedStreamTestNode new];
	    node->number = i;
	    KxWriteRootObject(ts, node);
	    [node release];
	}
	EXPECT_EQ(0, typedStreamTestNodeDeallocs)
	    << "a freed address could be taken for a written object";
    }, [&](KxTypedStream *ts) {
	EXPECT_EQ(3, typedStreamTestNodeDeallocs) << "closing the stream let them go";
	for (int i = 0; i < 3; i++) {
	    TypedStreamTestNode *got = KxReadObject(ts);
	    EXPECT_EQ(i, got->number) << "three objects, not references to the first";
	}
    });
}

TEST_F(TypedStream, ObjectsThatCannotBeWrittenAreRefused)
{
    id bare = class_createInstance(objc_getClass("TypedStreamTestBare"), 0);
    NSArray *holdsClass = [NSArray arrayWithObject: [NSString class]];
    Class metaclass = object_getClass((id) [NSString class]);
    Class notClass = (Class) &metaclass;
    int first = 11;
    RoundTrip("refused", [&](KxTypedStream *ts) {
	KxWriteType(ts, "i", &first);
	EXPECT_EQ(TYPEDSTREAM_CLASS_ERROR, Raised([&] { KxWriteObject(ts, bare); }));
	EXPECT_EQ(TYPEDSTREAM_CLASS_ERROR,
		  Raised([&] { KxWriteObject(ts, (id) [NSString class]); }));
	EXPECT_EQ(TYPEDSTREAM_CLASS_ERROR, Raised([&] { KxWriteType(ts, "#", &metaclass); }));
	EXPECT_EQ(TYPEDSTREAM_CALLER_ERROR, Raised([&] { KxWriteObject(ts, (id) 0x1001); }));
	EXPECT_EQ(TYPEDSTREAM_CALLER_ERROR, Raised([&] { KxWriteObject(ts, (id) 0x10); }));
	EXPECT_EQ(TYPEDSTREAM_CALLER_ERROR, Raised([&] { KxWriteType(ts, "#", &notClass); }));
	/* Found only inside the graph: the stream fails, keeping what came
	 * before. */
	EXPECT_EQ(TYPEDSTREAM_CLASS_ERROR, Raised([&] { KxWriteObject(ts, holdsClass); }));
	EXPECT_EQ(TYPEDSTREAM_CALLER_ERROR, Raised([&] { KxWriteType(ts, "i", &first); }));
    }, [&](KxTypedStream *ts) {
	int got = 0;
	KxReadType(ts, "i", &got);
	EXPECT_EQ(11, got);
	EXPECT_TRUE(KxEndOfTypedStream(ts));
    });
    object_dispose(bare);
}

TEST_F(TypedStream, UnknownClassesRaiseClassError)
{
    TypedStreamTestNode *node = [[TypedStreamTestNode new] autorelease];
    Class cls = [TypedStreamTestNode class];
    With("class-value", KX_WRITEONLY, [&](KxTypedStream *ts) { KxWriteType(ts, "#", &cls); });
    With("class-object", KX_WRITEONLY, [&](KxTypedStream *ts) { KxWriteRootObject(ts, node); });

    /* Rename the class, as a file from another program would name one. */
    for (const char *name : { "class-value", "class-object" }) {
	std::string bytes = FileBytes(Path(name));
	size_t at = bytes.find("TypedStreamTestNode");
	ASSERT_NE(std::string::npos, at);
	bytes[at] = 'X';
	PutFile(Path(name), Reseal(bytes));
    }
    With("class-value", KX_READONLY, [&](KxTypedStream *ts) {
	EXPECT_EQ(TYPEDSTREAM_CLASS_ERROR, Raised([&] { KxReadType(ts, "#", &cls); }));
    });
    With("class-object", KX_READONLY, [&](KxTypedStream *ts) {
	EXPECT_EQ(TYPEDSTREAM_CLASS_ERROR, Raised([&] { KxReadObject(ts); }));
    });
}

/* --- Streams ---------------------------------------------------------- */

TEST_F(TypedStream, VersionsAsWrittenAndAsStored)
{
    TypedStreamTestNode *node = [[TypedStreamTestNode new] autorelease];
    int system = 0;
    RoundTrip("versions", [&](KxTypedStream *ts) {
	system = KxSystemVersion(ts);
	EXPECT_GT(system, 0);
	EXPECT_EQ(3, KxTypedStreamClassVersion(ts, "TypedStreamTestNode"));
	EXPECT_EQ(TYPEDSTREAM_CLASS_ERROR,
		  Raised([&] { KxTypedStreamClassVersion(ts, "NoSuchClassAnywhere"); }));
	KxWriteRootObject(ts, node);
    }, [&](KxTypedStream *ts) {
	EXPECT_EQ(system, KxSystemVersion(ts));
	EXPECT_EQ(-1, KxTypedStreamClassVersion(ts, "TypedStreamTestNode")) << "not read yet";
	KxReadObject(ts);
	EXPECT_EQ(3, KxTypedStreamClassVersion(ts, "TypedStreamTestNode"));
	EXPECT_EQ(TYPEDSTREAM_CALLER_ERROR,
		  Raised([&] { KxTypedStreamClassVersion(ts, NULL); }));
    });
}

TEST_F(TypedStream, EndOfStreamIsNoFailure)
{
    RoundTrip("empty", [](KxTypedStream *) {}, [&](KxTypedStream *ts) {
	int value;
	EXPECT_TRUE(KxEndOfTypedStream(ts));
	EXPECT_EQ(TYPEDSTREAM_FILE_INCONSISTENCY, Raised([&] { KxReadType(ts, "i", &value); }));
	EXPECT_EQ(TYPEDSTREAM_FILE_INCONSISTENCY, Raised([&] { KxReadObject(ts); }))
	    << "still at the end, not failed";
	EXPECT_TRUE(KxEndOfTypedStream(ts));
    });
}

TEST_F(TypedStream, CallsInTheWrongModeOrWithoutAStreamAreRefused)
{
    int value = 1;
    KxTypedStream *writer = Open("modes", KX_WRITEONLY);
    ASSERT_NE(nullptr, writer);
    KxWriteType(writer, "i", &value);
    KxFlushTypedStream(writer);
    KxTypedStream *reader = Open("modes", KX_READONLY);
    ASSERT_NE(nullptr, reader);

    std::function<void()> refused[] = {
	[&] { KxReadType(writer, "i", &value); },
	[&] { KxReadObject(writer); },
	[&] { KxEndOfTypedStream(writer); },
	[&] { KxWriteType(reader, "i", &value); },
	[&] { KxWriteObject(reader, nil); },
	[&] { KxFlushTypedStream(reader); },
	[&] { KxCloseTypedStream(NULL); },
	[&] { KxFlushTypedStream(NULL); },
	[&] { KxReadType(NULL, "i", &value); },
	[&] { KxSystemVersion(NULL); },
	[&] { KxGetTypedStreamZone(NULL); },
	[&] { KxOpenTypedStreamForFile(Path("modes").c_str(), 3); },
	[&] { KxOpenTypedStreamForFile(NULL, KX_READONLY); },
    };
    for (size_t i = 0; i < sizeof refused / sizeof refused[0]; i++) {
	EXPECT_EQ(TYPEDSTREAM_CALLER_ERROR, Raised(refused[i])) << "case " << i;
    }
    KxReadType(reader, "i", &value);
    EXPECT_EQ(1, value) << "a flushed value is in the file";
    KxCloseTypedStream(reader);
    KxCloseTypedStream(writer);
}

TEST_F(TypedStream, ErrorNames)
{
    const char *names[] = {
	"TYPEDSTREAM_CALLER_ERROR", "TYPEDSTREAM_FILE_INCONSISTENCY",
	"TYPEDSTREAM_CLASS_ERROR", "TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR",
	"TYPEDSTREAM_WRITE_REFERENCE_ERROR", "TYPEDSTREAM_INTERNAL_ERROR",
    };
    for (int code = 8000; code <= 8005; code++) {
	EXPECT_STREQ(names[code - 8000], TS_getExceptionName(code));
    }
    EXPECT_EQ(nullptr, TS_getExceptionName(7999));
    EXPECT_EQ(nullptr, TS_getExceptionName(8006));
}

TEST_F(TypedStream, ZonesForReading)
{
    KxZone *zone = KxCreateZone(KxPageSize(), KxPageSize(), 1);
    TypedStreamTestNode *node = [[TypedStreamTestNode new] autorelease];
    const char *text = "in a zone";
    RoundTrip("zones", [&](KxTypedStream *ts) {
	EXPECT_EQ(KxDefaultMallocZone(), KxGetTypedStreamZone(ts));
	KxWriteType(ts, "*", &text);
	KxWriteRootObject(ts, node);
    }, [&](KxTypedStream *ts) {
	KxSetTypedStreamZone(ts, zone);
	EXPECT_EQ(zone, KxGetTypedStreamZone(ts));
	char *got = NULL;
	KxReadType(ts, "*", &got);
	EXPECT_STREQ("in a zone", got);
	EXPECT_EQ(zone, NSZoneFromPointer(got));
	KxZoneFree(zone, got);
	EXPECT_EQ(zone, NSZoneFromPointer(KxReadObject(ts)));
	KxSetTypedStreamZone(ts, NULL);
	EXPECT_EQ(KxDefaultMallocZone(), KxGetTypedStreamZone(ts));
    });
}

TEST_F(TypedStream, FilesThatCannotBeOpened)
{
    ASSERT_EQ(0, mkfifo(Path("fifo").c_str(), 0600));
    ASSERT_EQ(0, mkdir(Path("directory").c_str(), 0700));
    for (const char *name : { "missing", "fifo", "directory" }) {
	EXPECT_EQ(nullptr, Open(name, KX_READONLY)) << name;
    }
    for (const char *name : { "missing/below", "fifo", "directory" }) {
	EXPECT_EQ(nullptr, Open(name, KX_WRITEONLY)) << name;
    }
}

/* --- Damaged and foreign files ---------------------------------------- */

/* Writes the sample stream that the damaged files are made from. */
static void
WriteSample(KxTypedStream *ts)
{
    int number = 42;
    const char *text = "sample text";
    Inner inner = { 'k', 6.5 };
    NSMutableArray *array = [NSMutableArray arrayWithObjects: @"one", @"two", nil];
    [array addObject: [array objectAtIndex: 0]];
    KxWriteType(ts, "i", &number);
    KxWriteType(ts, "*", &text);
    KxWriteType(ts, @encode(Inner), &inner);
    KxWriteRootObject(ts, array);
    KxWriteArray(ts, "i", 1, &number);
}

/* Reads it back; a damaged file must raise before any value is wrong. */
static void
ReadSample(KxTypedStream *ts)
{
    int number = 0;
    char *text = NULL;
    Inner inner;
    KxReadType(ts, "i", &number);
    EXPECT_EQ(42, number);
    KxReadType(ts, "*", &text);
    EXPECT_STREQ("sample text", text);
    KxZoneFree(NULL, text);
    KxReadType(ts, @encode(Inner), &inner);
    EXPECT_EQ(6.5, inner.weight);
    NSArray *array = KxReadObject(ts);
    EXPECT_EQ(3u, [array count]);
    KxReadArray(ts, "i", 1, &number);
    EXPECT_TRUE(KxEndOfTypedStream(ts));
}

/* Opens path and reads the sample from it (with reader, checking the
 * values by default); answers the code raised, or -1 when the file could
 * not be opened at all. */
static int
ReadDamaged(const std::string &path, void (*reader)(KxTypedStream *) = ReadSample)
{
    KxTypedStream *ts = NULL;
    int code = Raised([&] { ts = KxOpenTypedStreamForFile(path.c_str(), KX_READONLY); });
    if (code != 0 || ts == NULL) {
	return ts == NULL && code == 0 ? -1 : code;
    }
    code = Raised([&] { reader(ts); });
    KxCloseTypedStream(ts);
    return code;
}

class TypedStreamCorpus : public TypedStream {
protected:
    std::string good;

    void SetUp() override
    {
	TypedStream::SetUp();
	With("sample", KX_WRITEONLY, WriteSample);
	good = FileBytes(Path("sample"));
	ASSERT_EQ(0, ReadDamaged(Path("sample"))) << "the sample itself reads back";
    }

    int Try(const std::string &bytes)
    {
	PutFile(Path("damaged"), bytes);
	return ReadDamaged(Path("damaged"));
    }
};

TEST_F(TypedStreamCorpus, EveryTruncationIsRefused)
{
    for (size_t length = 0; length < good.size(); length++) {
	EXPECT_EQ(TYPEDSTREAM_FILE_INCONSISTENCY, Try(good.substr(0, length)))
	    << "cut at " << length;
    }
}

TEST_F(TypedStreamCorpus, ByteFlipsAreRefused)
{
    unsigned long seed = 12345;
    for (int round = 0; round < 600; round++) {
	std::string bytes = good;
	int flips = 1 + round % 3;
	for (int i = 0; i < flips; i++) {
	    seed = seed * 6364136223846793005ul + 1442695040888963407ul;
	    size_t at = (size_t) (seed >> 33) % bytes.size();
	    bytes[at] = (char) (bytes[at] ^ (1 << ((seed >> 20) % 8)));
	}
	EXPECT_EQ(TYPEDSTREAM_FILE_INCONSISTENCY, Try(bytes)) << "round " << round;
    }
}

TEST_F(TypedStreamCorpus, ForeignFilesAreRefused)
{
    std::string noise;
    unsigned long seed = 99;
    for (int i = 0; i < 1000; i++) {
	seed = seed * 6364136223846793005ul + 1442695040888963407ul;
	noise += (char) (seed >> 56);
    }
    NSData *plainArchive = [NSArchiver archivedDataWithRootObject: @"plain"];
    std::string foreign[] = {
	"", "hello, this is a text file\n", noise, good.substr(24),
	std::string((const char *) [plainArchive bytes], [plainArchive length]),
	good + "trailing bytes",
    };
    for (const std::string &bytes : foreign) {
	EXPECT_EQ(TYPEDSTREAM_FILE_INCONSISTENCY, Try(bytes)) << bytes.size() << " bytes";
    }
}

TEST_F(TypedStreamCorpus, ImpossibleHeadersAreRefused)
{
    std::string hugeLength = good;
    hugeLength[12 + 5] = 1;		/* declares 2^40 bytes more */
    EXPECT_EQ(TYPEDSTREAM_FILE_INCONSISTENCY, Try(hugeLength));
    std::string newerFormat = good;
    newerFormat[8] = 2;
    EXPECT_EQ(TYPEDSTREAM_FILE_INCONSISTENCY, Try(newerFormat));

    /* Sealed with a correct checksum, but the archiver's own header is
     * wrong: the reader must not hand it to the unarchiver. */
    const size_t fields = 24 + strlen("GNUstep archive");
    std::string wrongPrefix = good, newerArchiver = good, hugeTable = good, notHex = good;
    wrongPrefix[24] = 'g';
    newerArchiver.replace(fields, 8, "7fffffff");
    hugeTable.replace(fields + 9, 8, "ffffffff");
    notHex.replace(fields + 18, 8, "0000zz00");
    for (const std::string &bytes : { wrongPrefix, newerArchiver, hugeTable, notHex }) {
	EXPECT_EQ(TYPEDSTREAM_FILE_INCONSISTENCY, Try(Reseal(bytes)));
    }
}

/* --- Crafted files ---------------------------------------------------- */

/* How a read in a child process ended: the signal that killed it (0 for
 * none), else the code raised (0 for none), its message, and how much
 * the child's resident memory grew during the read. */
struct Outcome {
    int signal;
    int code;
    std::string message;
    long grownKB;
};

static long
ResidentKB()
{
    long pages = 0, resident = 0;
    FILE *statm = fopen("/proc/self/statm", "r");
    if (statm != NULL) {
	if (fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
	    resident = 0;
	}
	fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

/* Opens path in a child process and runs reader on the stream there
 * (after setup, when given); a crash fails one case, not the test
 * program. */
static Outcome
ReadInChild(const std::string &path, StreamBody reader, StreamBody setup = nullptr)
{
    int fds[2];
    Outcome outcome = { 0, -1, "", 0 };
    if (pipe(fds) != 0) {
	return outcome;
    }
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
	close(fds[0]);
	long before = ResidentKB();
	KxTypedStream *ts = NULL;
	std::string message;
	int code = Raised([&] { ts = KxOpenTypedStreamForFile(path.c_str(), KX_READONLY); },
			  &message);
	if (code == 0 && ts != NULL) {
	    if (setup) {
		setup(ts);
	    }
	    code = Raised([&] { reader(ts); }, &message);
	    KxCloseTypedStream(ts);
	}
	char report[700];
	int n = snprintf(report, sizeof report, "%d %ld %s", code, ResidentKB() - before,
			 message.c_str());
	if (write(fds[1], report, (size_t) n) < 0) {
	    _exit(2);
	}
	_exit(0);
    }
    close(fds[1]);
    std::string report;
    char buffer[256];
    ssize_t got;
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0) {
	report.append(buffer, (size_t) got);
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) {
	outcome.signal = WTERMSIG(status);
	return outcome;
    }
    char *rest = NULL;
    outcome.code = (int) strtol(report.c_str(), &rest, 10);
    outcome.grownKB = strtol(rest, &rest, 10);
    outcome.message = *rest == ' ' ? rest + 1 : rest;
    return outcome;
}

/* The sample's reads, without checking the values: a damaged file may
 * read as other values, but must never crash. */
static void
ReadSampleTypes(KxTypedStream *ts)
{
    int number;
    char *text = NULL;
    Inner inner;
    KxReadType(ts, "i", &number);
    KxReadType(ts, "*", &text);
    KxZoneFree(NULL, text);
    KxReadType(ts, @encode(Inner), &inner);
    KxReadObject(ts);
    KxReadArray(ts, "i", 1, &number);
}

static int
IsTypedStreamCode(int code)
{
    return code == 0 || TS_getExceptionName(code) != NULL;
}

TEST_F(TypedStreamCorpus, ResealedDamageEndsInAnErrorNeverACrash)
{
    std::string archive = good.substr(24);
    unsigned long seed = 4242;
    auto next = [&](size_t bound) {
	seed = seed * 6364136223846793005ul + 1442695040888963407ul;
	return (size_t) (seed >> 33) % bound;
    };
    const uint32_t planted[] = { 0, 1, 0x7f, 0xff, 0x7fffffff, 0x80000000u, 0xffffffffu,
				 0x57000000 };
    std::vector<std::string> cases;
    for (size_t at = 51; at < archive.size(); at++) {	/* past NSArchiver's header */
	std::string flipped = archive;
	flipped[at] = (char) (flipped[at] ^ (1 << next(8)));
	cases.push_back(flipped);
    }
    for (int i = 0; i < 300; i++) {
	std::string bytes = archive;
	size_t at = 51 + next(archive.size() - 51);
	uint32_t value = planted[next(sizeof planted / sizeof planted[0])];
	for (int b = 0; b < 4 && at + (size_t) b < bytes.size(); b++) {
	    bytes[at + (size_t) b] = (char) (value >> (24 - 8 * b));
	}
	cases.push_back(bytes);
	std::string inserted = archive;
	inserted.insert(51 + next(archive.size() - 51), std::string(1 + next(8), (char) next(256)));
	cases.push_back(inserted);
	std::string deleted = archive;
	deleted.erase(51 + next(archive.size() - 51), 1 + next(8));
	cases.push_back(deleted);
    }
    int refused = 0, crashed = 0;
    for (size_t i = 0; i < cases.size(); i++) {
	PutFile(Path("damaged"), Reseal(good.substr(0, 24) + cases[i]));
	Outcome outcome = ReadInChild(Path("damaged"), ReadSampleTypes);
	EXPECT_EQ(0, outcome.signal) << "case " << i;
	EXPECT_TRUE(IsTypedStreamCode(outcome.code)) << "case " << i << ": " << outcome.code;
	crashed += outcome.signal != 0;
	refused += outcome.code != 0;
    }
    EXPECT_GT(refused, (int) cases.size() / 2);
    ASSERT_EQ(0, crashed);

    /* None crashes a child, so the same reads run here, after which this
     * process still reads the good file. */
    for (const std::string &bytes : cases) {
	PutFile(Path("damaged"), Reseal(good.substr(0, 24) + bytes));
	EXPECT_TRUE(IsTypedStreamCode(ReadDamaged(Path("damaged"), ReadSampleTypes)));
    }
    EXPECT_EQ(0, ReadDamaged(Path("sample")));
}

/* The archive of a stream that body writes, and the file around a
 * changed archive. */
class TypedStreamCrafted : public TypedStream {
protected:
    std::string container;	/* the 24-byte header of the last file */

    std::string Archive(StreamBody body)
    {
	With("made", KX_WRITEONLY, body);
	std::string bytes = FileBytes(Path("made"));
	container = bytes.substr(0, 24);
	return bytes.substr(24);
    }

    /* Replaces the one occurrence of from after offset after by to,
     * seals the file and reads it in a child process. */
    Outcome Patched(std::string archive, const std::string &from, const std::string &to,
		    StreamBody read, size_t after = 0, StreamBody setup = nullptr)
    {
	size_t at = archive.find(from, after);
	EXPECT_NE(std::string::npos, at) << "nothing to patch";
	if (at != std::string::npos) {
	    archive.replace(at, from.size(), to);
	}
	PutFile(Path("crafted"), Reseal(container + archive));
	return ReadInChild(Path("crafted"), read, setup);
    }
};

static void
ReadOneObject(KxTypedStream *ts)
{
    KxReadObject(ts);
}

static std::string
Bytes(std::initializer_list<int> list)
{
    std::string bytes;
    for (int b : list) {
	bytes += (char) b;
    }
    return bytes;
}

static void
ExpectRefused(const Outcome &outcome, int code, const char *text, const char *what)
{
    EXPECT_EQ(0, outcome.signal) << what;
    EXPECT_EQ(code, outcome.code) << what << ": " << outcome.message;
    EXPECT_NE(std::string::npos, outcome.message.find(text)) << what << ": " << outcome.message;
    EXPECT_NE(std::string::npos, outcome.message.find(" at byte ")) << what << ": "
	<< outcome.message;
}

TEST_F(TypedStreamCrafted, HugeCountsAreRefusedBeforeAnythingIsAllocated)
{
    /* Each object's element count (or length), as its initWithCoder:
     * reads it, set far beyond the file's size. */
    struct Case {
	const char *what;
	id object;
	std::string count;	/* the count as written, after its tag */
	const char *message;
    } cases[] = {
	{ "an empty set", [NSMutableSet set], Bytes({ 0x26, 0, 0, 0, 0 }), "a count of" },
	{ "an array", [NSArray arrayWithObject: @"x"], Bytes({ 0x26, 0, 0, 0, 1 }),
	  "a count of" },
	{ "a dictionary", [NSMutableDictionary dictionaryWithObject: @"v" forKey: @"k"],
	  Bytes({ 0x26, 0, 0, 0, 1 }), "a count of" },
	{ "a string", [NSString stringWithUTF8String: "abc"], Bytes({ 0x26, 0, 0, 0, 3 }),
	  "a count of" },
	{ "data", [NSData dataWithBytes: "ab" length: 2], Bytes({ 0x26, 0, 0, 0, 2 }),
	  "bytes of data when" },
	{ "a value's type", [NSValue valueWithPoint: NSMakePoint(1, 2)],
	  Bytes({ 0x26, 0, 0, 0, 0x0e }), "a count of" },
    };
    for (const uint32_t huge : { 0x57000000u, 0x7fffffffu, 0xffffffffu }) {
	for (Case &c : cases) {
	    std::string archive = Archive([&](KxTypedStream *ts) { KxWriteRootObject(ts, c.object); });
	    std::string to = c.count.substr(0, 1)
		+ Bytes({ (int) (huge >> 24), (int) (huge >> 16) & 0xff, (int) (huge >> 8) & 0xff,
			  (int) huge & 0xff });
	    Outcome outcome = Patched(archive, c.count, to, ReadOneObject, 51);
	    ExpectRefused(outcome, TYPEDSTREAM_FILE_INCONSISTENCY, c.message, c.what);
	    EXPECT_LT(outcome.grownKB, REFUSED_READ_GROWTH_KB) << c.what << " made the reader grow";
	}
    }

    /* Counts of the stream's own values: a string's length and the count
     * of an array of numbers. */
    int numbers[3] = { 1, 2, 3 };
    const char *text = "text";
    std::string archive = Archive([&](KxTypedStream *ts) {
	KxWriteType(ts, "*", &text);
	KxWriteType(ts, "[3i]", numbers);
    });
    ExpectRefused(Patched(archive, Bytes({ 0x25, 0, 0, 0, 4 }), Bytes({ 0x25, 0x7f, 0, 0, 0 }),
			  [](KxTypedStream *ts) { char *s; KxReadType(ts, "*", &s); }),
		  TYPEDSTREAM_FILE_INCONSISTENCY, "damaged string length", "a string");
    ExpectRefused(Patched(archive, Bytes({ 0x15, 0, 0, 0, 3, 0x25 }),
			  Bytes({ 0x15, 0x7f, 0, 0, 0, 0x25 }),
			  [](KxTypedStream *ts) {
			      char *s;
			      int n[3];
			      KxReadType(ts, "*", &s);
			      KxZoneFree(NULL, s);
			      KxReadType(ts, "[3i]", n);
			  }),
		  TYPEDSTREAM_FILE_INCONSISTENCY, "where 3 were expected", "an array of numbers");
}

static int lazyInitialized;

/* Named like TypedStreamTestNode, so an archive of one can be made to
 * name the other; only this test touches it. */
@interface TypedStreamTestLazy : TypedStreamTestNode
@end

@implementation TypedStreamTestLazy
+ (void) initialize
{
    lazyInitialized = 1;
}
@end

TEST_F(TypedStreamCrafted, ClassesThatAreMissingOrNotAllowedOrNotArchivable)
{
    TypedStreamTestNode *node = [[TypedStreamTestNode new] autorelease];
    node->number = 7;
    std::string archive = Archive([&](KxTypedStream *ts) { KxWriteRootObject(ts, node); });
    const char *onlyNodes[] = { "TypedStreamTestNode" };
    auto allowNodes = [&](KxTypedStream *ts) { KxSetTypedStreamAllowedClasses(ts, onlyNodes, 1); };

    ExpectRefused(Patched(archive, "TypedStreamTestNode", "TypedStreamTestNoda", ReadOneObject),
		  TYPEDSTREAM_CLASS_ERROR, "no class named TypedStreamTestNoda", "missing");
    ExpectRefused(Patched(archive, "TypedStreamTestNode", "TypedStreamTestBare", ReadOneObject),
		  TYPEDSTREAM_CLASS_ERROR, "objects of class TypedStreamTestBare cannot be read",
		  "not rooted at NSObject");
    const char *none[] = { NULL };
    ExpectRefused(Patched(archive, "TypedStreamTestNode", "TypedStreamTestNode", ReadOneObject,
			  0, [&](KxTypedStream *ts) { KxSetTypedStreamAllowedClasses(ts, none, 0); }),
		  TYPEDSTREAM_CLASS_ERROR, "class TypedStreamTestNode is not among", "an empty list");

    /* A class left out of the list is refused before anything is sent
     * to it; the same file reads when the list allows it. */
    ASSERT_EQ(0, lazyInitialized);
    ExpectRefused(Patched(archive, "TypedStreamTestNode", "TypedStreamTestLazy", ReadOneObject,
			  0, allowNodes),
		  TYPEDSTREAM_CLASS_ERROR,
		  "class TypedStreamTestLazy is not among the stream's allowed classes",
		  "not allowed");
    With("crafted", KX_READONLY, [&](KxTypedStream *ts) {
	EXPECT_EQ(TYPEDSTREAM_CLASS_ERROR, Raised([&] { allowNodes(ts); KxReadObject(ts); }));
    });
    EXPECT_EQ(0, lazyInitialized) << "the class was touched";
    With("crafted", KX_READONLY, [&](KxTypedStream *ts) {
	const char *names[] = { "TypedStreamTestNode", "TypedStreamTestLazy" };
	KxSetTypedStreamAllowedClasses(ts, names, 2);
	TypedStreamTestNode *got = KxReadObject(ts);
	EXPECT_EQ(7, got->number);
	EXPECT_TRUE([got isKindOfClass: [TypedStreamTestLazy class]]);
    });
}

TEST_F(TypedStreamCrafted, ReferencesForwardAndOutOfRange)
{
    TypedStreamTestNode *one = [[TypedStreamTestNode new] autorelease];
    TypedStreamTestNode *two = [[TypedStreamTestNode new] autorelease];
    NSArray *graph = [NSArray arrayWithObjects: one, two, one, nil];
    std::string archive = Archive([&](KxTypedStream *ts) { KxWriteRootObject(ts, graph); });
    /* Objects: the array 1, one 2, two 3; classes: NSArray 1, NSObject 2,
     * TypedStreamTestNode 3.  two refers to its class as 3, the array's
     * last element to one as 2. */
    struct {
	std::string from, to;
	const char *message;
    } cases[] = {
	{ Bytes({ 0xb0, 0x02 }), Bytes({ 0xb0, 0x04 }), "a reference to object 4 when 3 were read" },
	{ Bytes({ 0xb0, 0x02 }), Bytes({ 0xb0, 0x00 }), "a reference to object 0" },
	{ Bytes({ 0xb0, 0x02 }), Bytes({ 0xf0, 0x7f, 0xff, 0xff, 0xff }), "a reference to object 2147483647" },
	{ Bytes({ 0x30, 0x03, 0xb1, 0x03 }), Bytes({ 0x30, 0x03, 0xb1, 0x09 }),
	  "a reference to class 9 when 3 were read" },
	{ Bytes({ 0x30, 0x03 }), Bytes({ 0x30, 0x05 }), "object number 5 where 3 was next" },
	{ Bytes({ 0x30, 0x03, 0xb1, 0x03 }), Bytes({ 0x30, 0x03, 0x37 }), "where a class was expected" },
    };
    for (auto &c : cases) {
	ExpectRefused(Patched(archive, c.from, c.to, ReadOneObject, 51),
		      TYPEDSTREAM_FILE_INCONSISTENCY, c.message, c.message);
    }
}

TEST_F(TypedStreamCrafted, CollectionsNeverHoldNil)
{
    /* GNUstep's collections store what they read unchecked; nil in one
     * would surprise every later use. */
    for (id collection : { (id) [NSArray arrayWithObject: @"x"],
			   (id) [NSMutableSet setWithObject: @"x"],
			   (id) [NSDictionary dictionaryWithObject: @"x" forKey: @"k"] }) {
	std::string archive = Archive([&](KxTypedStream *ts) { KxWriteRootObject(ts, collection); });
	size_t element = archive.rfind(Bytes({ 0x30 }));
	ASSERT_NE(std::string::npos, element);
	ExpectRefused(Patched(archive.substr(0, element) + "\x90", "\x90", "\x90", ReadOneObject),
		      TYPEDSTREAM_FILE_INCONSISTENCY, "nil inside a collection",
		      class_getName([collection class]));
    }
}

TEST_F(TypedStreamCrafted, AStringsCharactersMustAllBeThere)
{
    /* NSString allocates for its characters before it reads them, and
     * loses that memory when the read fails: they are checked first. */
    std::string archive = Archive([&](KxTypedStream *ts) {
	KxWriteRootObject(ts, [NSString stringWithUTF8String: "abc"]);
    });
    ExpectRefused(Patched(archive, "abc", "ab", ReadOneObject), TYPEDSTREAM_FILE_INCONSISTENCY,
		  "a string whose characters are not all there", "cut short");
    ExpectRefused(Patched(archive, Bytes({ 0x15, 0, 0, 0, 3 }), Bytes({ 0x15, 0, 0, 0, 2 }),
			  ReadOneObject),
		  TYPEDSTREAM_FILE_INCONSISTENCY, "a string whose characters do not follow its count",
		  "another count");
}

TEST_F(TypedStreamCrafted, AValuesTypeEncodingIsChecked)
{
    /* NSValue hands the type encoding it reads to the runtime's layout
     * functions, which abort on what they cannot parse, and sizes stack
     * buffers by it. */
    std::string archive = Archive([&](KxTypedStream *ts) {
	KxWriteRootObject(ts, [NSValue valueWithPoint: NSMakePoint(1, 2)]);
    });
    std::string point = std::string("{_NSPoint=dd}") + '\0';
    struct {
	std::string to;
	const char *why;
    } cases[] = {
	{ std::string("{_(SPoint=dd}") + '\0', "structure name the runtime cannot read" },
	{ std::string("{_NSPoint=@d}") + '\0', "only numbers are allowed here" },
	{ std::string("[65537c]") + std::string(6, '\0'), "value too large" },
	{ std::string("[0c]") + std::string(10, '\0'), "a value of no size" },
	{ "{_NSPoint=dd}}", "no terminating NUL" },
	{ std::string("{_NSPoint=\"x\"d}") + '\0', "member names are not allowed here" },
    };
    for (auto &c : cases) {
	std::string patched = archive;
	if (c.to.size() != point.size()) {	/* keep the stored length right */
	    size_t at = patched.find(point);
	    ASSERT_NE(std::string::npos, at);
	    patched[at - 2] = (char) c.to.size();	/* the array's count */
	    patched[at - 7] = (char) c.to.size();	/* the length before it */
	}
	ExpectRefused(Patched(patched, point, c.to, ReadOneObject), TYPEDSTREAM_FILE_INCONSISTENCY,
		      c.why, c.why);
    }
}

TEST_F(TypedStreamCrafted, ACycleThroughAReplacedObjectIsRefused)
{
    /* A mutable array may hold itself; an immutable one is made by a
     * placeholder that its initWithCoder: replaces, so a reference to it
     * from inside would be a reference to the placeholder. */
    NSMutableArray *array = [NSMutableArray array];
    id itself = array;
    [array addObject: itself];
    std::string archive = Archive([&](KxTypedStream *ts) { KxWriteRootObject(ts, array); });
    [array removeAllObjects];
    ExpectRefused(Patched(archive, Bytes({ 0, 14 }) + "NSMutableArray", Bytes({ 0, 7 }) + "NSArray",
			  ReadOneObject),
		  TYPEDSTREAM_FILE_INCONSISTENCY,
		  "an object of class NSArray referred to while it was read, then replaced",
		  "a cycle through a placeholder");
}

static int fragileDeallocs, catcherDeallocs;

/* Reads its number and refuses a negative one, releasing itself first
 * for -2. */
@interface TypedStreamTestFragile : NSObject <NSCoding>
{
@public
    int number;
}
@end

@implementation TypedStreamTestFragile
- (void) encodeWithCoder: (NSCoder *)coder
{
    [coder encodeValueOfObjCType: "i" at: &number];
}
- (id) initWithCoder: (NSCoder *)coder
{
    [coder decodeValueOfObjCType: "i" at: &number];
    if (number == -2) {
	[self release];		/* as some classes do before they raise */
    }
    if (number < 0) {
	[NSException raise: NSInvalidArgumentException format: @"negative number"];
    }
    return self;
}
- (void) dealloc
{
    fragileDeallocs++;
    [super dealloc];
}
@end

/* Reads two objects, carrying on when the first fails. */
@interface TypedStreamTestCatcher : NSObject <NSCoding>
{
@public
    id first, second;
}
@end

@implementation TypedStreamTestCatcher
- (void) encodeWithCoder: (NSCoder *)coder
{
    [coder encodeObject: first];
    [coder encodeObject: second];
}
- (id) initWithCoder: (NSCoder *)coder
{
    @try {
	first = [[coder decodeObject] retain];
    } @catch (NSException *e) {
	(void) e;
    }
    second = [[coder decodeObject] retain];
    return self;
}
- (void) dealloc
{
    catcherDeallocs++;
    [first release];
    [second release];
    [super dealloc];
}
@end

static int pairDeallocs;

/* Holds two objects, read as one array of objects, the way GNUstep's
 * collections read theirs. */
@interface TypedStreamTestPair : NSObject <NSCoding>
{
@public
    id items[2];
}
@end

@implementation TypedStreamTestPair
- (void) encodeWithCoder: (NSCoder *)coder
{
    [coder encodeArrayOfObjCType: @encode(id) count: 2 at: items];
}
- (id) initWithCoder: (NSCoder *)coder
{
    [coder decodeArrayOfObjCType: @encode(id) count: 2 at: items];
    return self;
}
- (void) dealloc
{
    pairDeallocs++;
    [items[0] release];
    [items[1] release];
    [super dealloc];
}
@end

TEST_F(TypedStream, AnObjectThatFailsToReadIsReleasedAndUnreachable)
{
    TypedStreamTestFragile *bad = [[TypedStreamTestFragile new] autorelease];
    TypedStreamTestNode *before = [[TypedStreamTestNode new] autorelease];
    std::string message;

    /* Inside an array, after an element read well. */
    bad->number = -1;
    With("failing", KX_WRITEONLY, [&](KxTypedStream *ts) {
	KxWriteRootObject(ts, [NSMutableArray arrayWithObjects: before, bad, before, nil]);
    });
    fragileDeallocs = typedStreamTestNodeDeallocs = 0;
    With("failing", KX_READONLY, [&](KxTypedStream *ts) {
	EXPECT_EQ(TYPEDSTREAM_FILE_INCONSISTENCY, Raised([&] { KxReadObject(ts); }, &message));
	EXPECT_NE(std::string::npos, message.find("negative number")) << message;
	EXPECT_EQ(1, fragileDeallocs) << "the failed object is released at once";
	EXPECT_EQ(0, typedStreamTestNodeDeallocs) << "the stream keeps what it read until it closes";
    });
    EXPECT_EQ(1, typedStreamTestNodeDeallocs) << "the element read before the failure is not leaked";

    /* One that released itself before raising is not released again. */
    bad->number = -2;
    With("failing", KX_WRITEONLY, [&](KxTypedStream *ts) { KxWriteRootObject(ts, bad); });
    Outcome outcome = ReadInChild(Path("failing"), ReadOneObject);
    ASSERT_EQ(0, outcome.signal);
    EXPECT_EQ(TYPEDSTREAM_FILE_INCONSISTENCY, outcome.code);
    fragileDeallocs = 0;
    With("failing", KX_READONLY, [&](KxTypedStream *ts) {
	EXPECT_EQ(TYPEDSTREAM_FILE_INCONSISTENCY, Raised([&] { KxReadObject(ts); }));
	EXPECT_EQ(1, fragileDeallocs);
    });

    /* An initWithCoder: that catches the failure gets no reference to
     * the failed object afterwards. */
    bad->number = -1;
    TypedStreamTestCatcher *catcher = [[TypedStreamTestCatcher new] autorelease];
    catcher->first = [bad retain];
    catcher->second = [bad retain];
    With("failing", KX_WRITEONLY, [&](KxTypedStream *ts) { KxWriteRootObject(ts, catcher); });
    fragileDeallocs = catcherDeallocs = 0;
    With("failing", KX_READONLY, [&](KxTypedStream *ts) {
	EXPECT_EQ(TYPEDSTREAM_FILE_INCONSISTENCY, Raised([&] { KxReadObject(ts); }, &message));
	EXPECT_NE(std::string::npos, message.find("cannot be read on after an error")) << message;
	EXPECT_EQ(1, fragileDeallocs);
	EXPECT_EQ(1, catcherDeallocs);
    });

    /* One that held a reference to itself when an element after it
     * failed: the reader takes that reference back, and then knows the
     * object is referred to no more. */
    TypedStreamTestPair *pair = [[TypedStreamTestPair new] autorelease];
    pair->items[0] = pair;	/* not retained: dealloc is never reached */
    pair->items[1] = bad;
    With("failing", KX_WRITEONLY, [&](KxTypedStream *ts) { KxWriteRootObject(ts, pair); });
    pair->items[0] = pair->items[1] = nil;
    fragileDeallocs = pairDeallocs = 0;
    With("failing", KX_READONLY, [&](KxTypedStream *ts) {
	EXPECT_EQ(TYPEDSTREAM_FILE_INCONSISTENCY, Raised([&] { KxReadObject(ts); }));
	EXPECT_EQ(1, fragileDeallocs);
	EXPECT_EQ(1, pairDeallocs) << "the object that held itself is not leaked";
    });
}

/* --- Read options ----------------------------------------------------- */

TEST_F(TypedStream, AllowedClassesCoverObjectsAndClassValues)
{
    Class cls = [NSDictionary class];
    int number = 3;
    RoundTrip("allowed", [&](KxTypedStream *ts) {
	KxWriteType(ts, "i", &number);
	KxWriteType(ts, "#", &cls);
	KxWriteRootObject(ts, [NSArray arrayWithObject: @"x"]);
	const char *names[] = { "NSArray" };
	EXPECT_EQ(TYPEDSTREAM_CALLER_ERROR,
		  Raised([&] { KxSetTypedStreamAllowedClasses(ts, names, 1); }))
	    << "a write stream has no such option";
    }, [&](KxTypedStream *ts) {
	const char *none[] = { NULL };
	KxSetTypedStreamAllowedClasses(ts, none, 0);	/* no class allowed */
	EXPECT_EQ(TYPEDSTREAM_CALLER_ERROR,
		  Raised([&] { KxSetTypedStreamAllowedClasses(ts, NULL, 1); }));
	int got = 0;
	KxReadType(ts, "i", &got);
	EXPECT_EQ(3, got) << "numbers need no class";
	std::string message;
	Class gotClass = Nil;
	EXPECT_EQ(TYPEDSTREAM_CLASS_ERROR, Raised([&] { KxReadType(ts, "#", &gotClass); },
						  &message));
	EXPECT_NE(std::string::npos, message.find("class NSDictionary at byte ")) << message;
    });
    With("allowed", KX_READONLY, [&](KxTypedStream *ts) {
	const char *names[] = { "NSDictionary", "NSArray", "NSString" };
	KxSetTypedStreamAllowedClasses(ts, names, 3);
	int got;
	Class gotClass;
	KxReadType(ts, "i", &got);
	KxReadType(ts, "#", &gotClass);
	EXPECT_EQ([NSDictionary class], gotClass);
	EXPECT_EQ(1u, [(NSArray *) KxReadObject(ts) count]);
    });
}

TEST_F(TypedStream, AllocationLimitBoundsOneRead)
{
    std::string big(10000, 'x');
    const char *text = big.c_str();
    RoundTrip("limit", [&](KxTypedStream *ts) {
	KxWriteType(ts, "*", &text);
	KxWriteRootObject(ts, [NSString stringWithUTF8String: text]);
	EXPECT_EQ(TYPEDSTREAM_CALLER_ERROR,
		  Raised([&] { KxSetTypedStreamAllocationLimit(ts, 1); }));
    }, [&](KxTypedStream *ts) {
	size_t archive = FileBytes(Path("limit")).size() - 24;
	EXPECT_EQ(64 * archive + (1u << 20), KxGetTypedStreamAllocationLimit(ts));
	KxSetTypedStreamAllocationLimit(ts, 5000);
	EXPECT_EQ(5000u, KxGetTypedStreamAllocationLimit(ts));
	char *got = NULL;
	std::string message;
	EXPECT_EQ(TYPEDSTREAM_INTERNAL_ERROR, Raised([&] { KxReadType(ts, "*", &got); }, &message));
	EXPECT_NE(std::string::npos, message.find("limit of 5000 bytes")) << message;
    });
    With("limit", KX_READONLY, [&](KxTypedStream *ts) {
	KxSetTypedStreamAllocationLimit(ts, 5000);
	KxSetTypedStreamAllocationLimit(ts, 0);	/* the default again */
	char *got = NULL;
	KxReadType(ts, "*", &got);
	EXPECT_EQ(big, got);
	KxZoneFree(NULL, got);
	EXPECT_EQ(10000u, [(NSString *) KxReadObject(ts) length]) << "each read has the whole limit";
    });
}
