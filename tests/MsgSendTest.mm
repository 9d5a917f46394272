/*
 * MsgSendTest.mm --
 *
 *	The generic message send, driven through a small C type table whose
 *	"interpreter values" are raw byte buffers: its converters copy the C
 *	value's bytes in and out, so every argument and result kind can be
 *	checked against what the compiler itself passes.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqOsmo.h"
#include "BqOsmoCore.h"
#include "CTypes.h"
#include "BqOsmoSupport.h"
#include "FormatArgs.h"
#include "MsgSend.h"
#include "TypeEncoding.h"
#include "ByteValues.h"
#include "TargetProxy.h"

#include <float.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>
#include <string>
#include <vector>

static int
RefuseFromC(void *, Tcl_DString *errors, CTypeTable *, void *, void *, int, const char *,
	CTypeEntry *, unsigned)
{
    BqTcl_DStringApp(errors, "refused result", (char *) NULL);
    return 1;
}

static CTypeTable *
TestTable(void)
{
    static CTypeTable *table;
    if (table == NULL) {
	table = BqOsmo_NewCTypeTable("MsgSendTest", NULL, NULL, NULL, NULL, NULL,
		BytesToC, BytesFromC, 0);
    }
    return table;
}

typedef struct Pair { int a; int b; } Pair;
typedef struct Mixed { char c; double d; char e; } Mixed;
typedef struct Floats { float x, y, z; } Floats;
typedef struct Big { double d[5]; long long tag; } Big;
typedef struct Nested { Pair p; float f; } Nested;
typedef union Either { int i; float f; } Either;

/* Calls of -countedWithFormat:, so a test can tell that none was made. */
static int formatCalls;

@interface SendTarget : NSObject
- (char) echoChar: (char)x;
- (unsigned char) echoUChar: (unsigned char)x;
- (short) echoShort: (short)x;
- (unsigned short) echoUShort: (unsigned short)x;
- (int) echoInt: (int)x;
- (unsigned int) echoUInt: (unsigned int)x;
- (long) echoLong: (long)x;
- (unsigned long) echoULong: (unsigned long)x;
- (long long) echoLongLong: (long long)x;
- (unsigned long long) echoULongLong: (unsigned long long)x;
- (float) echoFloat: (float)x;
- (double) echoDouble: (double)x;
- (BOOL) echoBool: (BOOL)x;
- (bool) negate: (bool)x;
- (int) choose: (bool)second between: (int)a and: (int)b;
- (int) wholePart: (long double)x;
- (SEL) echoSel: (SEL)x;
- (Class) echoClass: (Class)x;
- (char *) echoString: (char *)x;
- (void *) echoPointer: (void *)x;
- (double) mixInt: (int)i double: (double)d char: (char)c float: (float)f longLong: (long long)q;
- (Pair) swap: (Pair)p;
- (Mixed) mixed: (Mixed)m;
- (Floats) scale: (Floats)f by: (float)k;
- (Big) big: (Big)b;
- (Nested) nested: (Nested)n;
- (Either) either: (Either)e;
- (int) sum: (Pair)p orRaise: (BOOL)raise;
- (int) countUntilNil: (id)first, ...;
- (NSString *) textWithCFormat: (const char *)format, ...;
- (NSString *) countedWithFormat: (NSString *)format, ...;
- (int) value;
- (id) deallocAndAnswerSelf;
- (void) raiseFoundation;
- (void) raiseOwn;
- (void) raiseCoded;
- (void) raiseOther;
- (void) raiseSilently;
+ (int) classTwice: (int)x;
@end

@implementation SendTarget
- (char) echoChar: (char)x { return x; }
- (unsigned char) echoUChar: (unsigned char)x { return x; }
- (short) echoShort: (short)x { return x; }
- (unsigned short) echoUShort: (unsigned short)x { return x; }
- (int) echoInt: (int)x { return x; }
- (unsigned int) echoUInt: (unsigned int)x { return x; }
- (long) echoLong: (long)x { return x; }
- (unsigned long) echoULong: (unsigned long)x { return x; }
- (long long) echoLongLong: (long long)x { return x; }
- (unsigned long long) echoULongLong: (unsigned long long)x { return x; }
- (float) echoFloat: (float)x { return x; }
- (double) echoDouble: (double)x { return x; }
- (BOOL) echoBool: (BOOL)x { return x; }
- (bool) negate: (bool)x { return !x; }
- (int) choose: (bool)second between: (int)a and: (int)b { return second ? b : a; }
- (int) wholePart: (long double)x { return (int) x; }
- (SEL) echoSel: (SEL)x { return x; }
- (Class) echoClass: (Class)x { return x; }
- (char *) echoString: (char *)x { return x; }
- (void *) echoPointer: (void *)x { return x; }
- (double) mixInt: (int)i double: (double)d char: (char)c float: (float)f longLong: (long long)q
{
    return i + d + c + f + (double) q;
}
- (Pair) swap: (Pair)p { Pair r = { p.b, p.a }; return r; }
- (Mixed) mixed: (Mixed)m { Mixed r = { m.e, m.d * 2, m.c }; return r; }
- (Floats) scale: (Floats)f by: (float)k { Floats r = { f.x * k, f.y * k, f.z * k }; return r; }
- (Big) big: (Big)b
{
    Big r = b;
    for (int i = 0; i < 5; i++) {
	r.d[i] = b.d[4 - i];
    }
    r.tag = -b.tag;
    return r;
}
- (Nested) nested: (Nested)n { Nested r = { { n.p.a + 1, n.p.b + 1 }, n.f / 2 }; return r; }
- (Either) either: (Either)e { Either r; r.f = e.f + 1; return r; }
- (int) sum: (Pair)p orRaise: (BOOL)raise
{
    if (raise) {
	[NSException raise: NSGenericException format: @"asked to"];
    }
    return p.a + p.b;
}
- (int) countUntilNil: (id)first, ...
{
    int count = 0;
    va_list list;
    va_start(list, first);
    for (id next = first; next != nil && count < 100; next = va_arg(list, id)) {
	count++;
    }
    va_end(list);
    return count;
}
- (NSString *) textWithCFormat: (const char *)format, ...
{
    char text[256];
    va_list list;
    va_start(list, format);
    vsnprintf(text, sizeof text, format, list);
    va_end(list);
    return [NSString stringWithUTF8String: text];
}
- (NSString *) countedWithFormat: (NSString *)format, ...
{
    formatCalls++;
    va_list list;
    va_start(list, format);
    NSString *text = [[[NSString alloc] initWithFormat: format arguments: list] autorelease];
    va_end(list);
    return text;
}
- (int) value { return 1; }
- (id) deallocAndAnswerSelf { [self dealloc]; return self; }
- (void) raiseFoundation
{
    [NSException raise: @"TestFailure" format: @"went %@", @"wrong"];
}
- (void) raiseOwn { _KxRaiseError(BQ_OSMO_DOESNOTRECOGNIZE_ERROR, "own runtime error", NULL); }
- (void) raiseCoded { KxRaiseCodedException(100601, "CodedName", "coded reason"); }
- (void) raiseOther { _KxRaiseError(4242, "platform text", NULL); }
- (void) raiseSilently { _KxRaiseError(BQ_ERROR_SILENT, "ignored", NULL); }
+ (int) classTwice: (int)x { return 2 * x; }
@end

@interface SendSubTarget : SendTarget
@end
@implementation SendSubTarget
- (int) value { return 2; }
@end

/* Answers "ghost:" only through forwarding. */
@interface SendForwarder : NSObject
@end
@implementation SendForwarder
- (NSMethodSignature *) methodSignatureForSelector: (SEL)selector
{
    if (sel_isEqual(selector, @selector(ghost:))) {
	return [NSMethodSignature signatureWithObjCTypes: "i@:i"];
    }
    return [super methodSignatureForSelector: selector];
}
- (void) forwardInvocation: (NSInvocation *)invocation
{
    int x;
    [invocation getArgument: &x atIndex: 2];
    int result = x * 3;
    [invocation setReturnValue: &result];
}
@end

class MsgSend : public testing::Test {
protected:
    Tcl_DString errors;
    void SetUp() override { Tcl_DStringInit(&errors); }
    void TearDown() override { Tcl_DStringFree(&errors); }
    std::string Errors() { return Tcl_DStringValue(&errors); }

    /* Sends selector with the given argument values; returns the code. */
    int Send(id receiver, const char *selector, Value *result,
	     std::initializer_list<Value *> arguments = {}) {
	void *argv[16] = { NULL, NULL };
	int argc = 2;
	for (Value *argument : arguments) {
	    argv[argc++] = argument;
	}
	return BqOsmo_MsgSend(NULL, &errors, TestTable(), BQ_SEND_MESSAGE, receiver,
		sel_registerName(selector), NULL, argc, argv, result);
    }
};

TEST_F(MsgSend, IntegersAtTheirLimits)
{
    SendTarget *t = [[[SendTarget alloc] init] autorelease];
    Value r;
#define ECHO(sel, T, x) do { Value a = V<T>(x); ASSERT_EQ(0, Send(t, sel, &r, { &a })) << Errors(); \
	EXPECT_EQ((T) (x), As<T>(r)) << sel; } while (0)
    ECHO("echoChar:", char, CHAR_MIN);
    ECHO("echoUChar:", unsigned char, UCHAR_MAX);
    ECHO("echoShort:", short, SHRT_MIN);
    ECHO("echoUShort:", unsigned short, USHRT_MAX);
    ECHO("echoInt:", int, INT_MIN);
    ECHO("echoUInt:", unsigned int, UINT_MAX);
    ECHO("echoLong:", long, LONG_MIN);
    ECHO("echoULong:", unsigned long, ULONG_MAX);
    ECHO("echoLongLong:", long long, LLONG_MIN);
    ECHO("echoLongLong:", long long, LLONG_MAX);
    ECHO("echoULongLong:", unsigned long long, ULLONG_MAX);
    ECHO("echoBool:", BOOL, YES);
    ECHO("echoSel:", SEL, @selector(description));
    ECHO("echoClass:", Class, [NSString class]);
    ECHO("echoString:", char *, (char *) "bytes");
    ECHO("echoPointer:", void *, (void *) &r);
#undef ECHO
    EXPECT_EQ(BQ_QUAL_RESULT, r.qualifiers) << "results carry the result bit";
}

TEST_F(MsgSend, CBoolArgumentsAndResults)
{
    SendTarget *t = [[[SendTarget alloc] init] autorelease];
    Value r, yes = V<bool>(true), no = V<bool>(false), a = V<int>(-7), b = V<int>(9);
    ASSERT_EQ(0, Send(t, "negate:", &r, { &yes })) << Errors();
    EXPECT_FALSE(As<bool>(r));
    ASSERT_EQ(0, Send(t, "negate:", &r, { &no })) << Errors();
    EXPECT_TRUE(As<bool>(r));
    ASSERT_EQ(0, Send(t, "choose:between:and:", &r, { &yes, &a, &b })) << Errors();
    EXPECT_EQ(9, As<int>(r));
    ASSERT_EQ(0, Send(t, "choose:between:and:", &r, { &no, &a, &b })) << Errors();
    EXPECT_EQ(-7, As<int>(r));
}

TEST_F(MsgSend, SignatureThatCannotBeCalledFailsTheSameWayEveryTime)
{
    /* libffi has no way here to pass a long double from a frame slot. */
    SendTarget *t = [[[SendTarget alloc] init] autorelease];
    Value r, x = V<long double>(2.5L);
    EXPECT_EQ(1, Send(t, "wholePart:", &r, { &x }));
    std::string first = Errors();
    EXPECT_NE(std::string::npos, first.find("cannot pass a value of type \"D\"")) << first;

    /* Failing again costs the runtime zone nothing: the failure is kept. */
    size_t before = NSZoneStats(BqOsmo_GetRuntimeZone()).bytes_used;
    for (int i = 0; i < 100; i++) {
	Tcl_DStringSetLength(&errors, 0);
	EXPECT_EQ(1, Send(t, "wholePart:", &r, { &x }));
    }
    EXPECT_EQ(before, NSZoneStats(BqOsmo_GetRuntimeZone()).bytes_used);
    EXPECT_EQ(first, Errors());
}

/* The release procedure's calls, with the structure each one saw. */
static int releaseCalls;
static Pair releasedPair;

static void
CountRelease(CTypeTable *, const char *type, void *cstorage)
{
    EXPECT_EQ('{', *type);
    releaseCalls++;
    memcpy(&releasedPair, cstorage, sizeof releasedPair);
}

TEST_F(MsgSend, AggregateArgumentsAreReleasedOnEveryWayOut)
{
    SendTarget *t = [[[SendTarget alloc] init] autorelease];
    CTypeTable *table = TestTable();
    table->releaseArgument = CountRelease;
    Pair p = { 5, 6 };
    Value r, pair = V(p), no = V<BOOL>(NO), yes = V<BOOL>(YES), refused = V<BOOL>(NO);
    refused.refuse = 1;

    releaseCalls = 0;
    ASSERT_EQ(0, Send(t, "sum:orRaise:", &r, { &pair, &no })) << Errors();
    EXPECT_EQ(11, As<int>(r));
    EXPECT_EQ(1, releaseCalls) << "after a call that returned";
    EXPECT_EQ(5, releasedPair.a);

    releaseCalls = 0;
    EXPECT_EQ(1, Send(t, "sum:orRaise:", &r, { &pair, &yes }));
    EXPECT_EQ(1, releaseCalls) << "after a call that raised";

    releaseCalls = 0;
    EXPECT_EQ(1, Send(t, "sum:orRaise:", &r, { &pair, &refused }));
    EXPECT_EQ(1, releaseCalls) << "after a later argument failed to convert";

    releaseCalls = 0;
    Value i = V<int>(3);
    ASSERT_EQ(0, Send(t, "echoInt:", &r, { &i })) << Errors();
    EXPECT_EQ(0, releaseCalls) << "scalar arguments own nothing";
    table->releaseArgument = NULL;
}

TEST_F(MsgSend, VariadicListEndsAfterTheGivenArguments)
{
    SendTarget *t = [[[SendTarget alloc] init] autorelease];
    Value r, first = V<id>(t);
    /* Dirty the argument registers with a send of many words first. */
    Value i = V<int>(-1), d = V<double>(1), c = V<char>(-1), f = V<float>(1),
	q = V<long long>(-1);
    ASSERT_EQ(0, Send(t, "mixInt:double:char:float:longLong:", &r, { &i, &d, &c, &f, &q }));
    ASSERT_EQ(0, Send(t, "countUntilNil:", &r, { &first })) << Errors();
    EXPECT_EQ(1, As<int>(r));
}

TEST_F(MsgSend, FloatingResultsArriveInTheirSlots)
{
    SendTarget *t = [[[SendTarget alloc] init] autorelease];
    Value r, a = V<float>(-1.5e30f);
    ASSERT_EQ(0, Send(t, "echoFloat:", &r, { &a })) << Errors();
    EXPECT_EQ(-1.5e30f, As<float>(r));
    EXPECT_EQ(-1.5e30f, *BqOsmo_FloatResultSlot());
    a = V<double>(DBL_MAX);
    ASSERT_EQ(0, Send(t, "echoDouble:", &r, { &a })) << Errors();
    EXPECT_EQ(DBL_MAX, As<double>(r));
    EXPECT_EQ(DBL_MAX, *BqOsmo_DoubleResultSlot());

    /* Integer and floating arguments interleaved across registers. */
    Value i = V<int>(1), d = V<double>(0.25), c = V<char>(2), f = V<float>(0.5f),
	q = V<long long>(1LL << 40);
    ASSERT_EQ(0, Send(t, "mixInt:double:char:float:longLong:", &r, { &i, &d, &c, &f, &q }))
	<< Errors();
    EXPECT_EQ(1 + 0.25 + 2 + 0.5 + (double) (1LL << 40), As<double>(r));
}

TEST_F(MsgSend, StructuresAndUnionsByValueBothWays)
{
    SendTarget *t = [[[SendTarget alloc] init] autorelease];
    Value r;
    Pair p = { 7, -9 };
    Value a = V(p);
    ASSERT_EQ(0, Send(t, "swap:", &r, { &a })) << Errors();
    EXPECT_EQ(-9, As<Pair>(r).a);
    EXPECT_EQ(7, As<Pair>(r).b);

    Mixed m = { 'x', 1.25, 'y' };
    a = V(m);
    ASSERT_EQ(0, Send(t, "mixed:", &r, { &a })) << Errors();
    EXPECT_EQ('y', As<Mixed>(r).c);
    EXPECT_EQ(2.5, As<Mixed>(r).d);
    EXPECT_EQ('x', As<Mixed>(r).e);

    Floats f = { 1, 2, 3 };
    Value k = V<float>(2);
    a = V(f);
    ASSERT_EQ(0, Send(t, "scale:by:", &r, { &a, &k })) << Errors();
    EXPECT_EQ(2, As<Floats>(r).x);
    EXPECT_EQ(4, As<Floats>(r).y);
    EXPECT_EQ(6, As<Floats>(r).z);

    Big b = { { 1, 2, 3, 4, 5 }, 99 };
    a = V(b);
    ASSERT_EQ(0, Send(t, "big:", &r, { &a })) << Errors();
    EXPECT_EQ(5, As<Big>(r).d[0]);
    EXPECT_EQ(1, As<Big>(r).d[4]);
    EXPECT_EQ(-99, As<Big>(r).tag);

    Nested n = { { 1, 2 }, 3 };
    a = V(n);
    ASSERT_EQ(0, Send(t, "nested:", &r, { &a })) << Errors();
    EXPECT_EQ(2, As<Nested>(r).p.a);
    EXPECT_EQ(3, As<Nested>(r).p.b);
    EXPECT_EQ(1.5f, As<Nested>(r).f);

    Either e;
    e.f = 1.5f;
    a = V(e);
    ASSERT_EQ(0, Send(t, "either:", &r, { &a })) << Errors();
    EXPECT_EQ(2.5f, As<Either>(r).f);
}

TEST_F(MsgSend, FoundationMethodsWithStructures)
{
    NSString *s = @"hello, world";
    Value r;
    ASSERT_EQ(0, Send(s, "length", &r)) << Errors();
    EXPECT_EQ(12u, As<NSUInteger>(r));

    NSRange range = { 7, 5 };
    Value a = V(range);
    ASSERT_EQ(0, Send(s, "substringWithRange:", &r, { &a })) << Errors();
    EXPECT_STREQ("world", [As<NSString *>(r) UTF8String]);

    a = V<id>(@"world");
    ASSERT_EQ(0, Send(s, "rangeOfString:", &r, { &a })) << Errors();
    EXPECT_EQ(7u, As<NSRange>(r).location);
    EXPECT_EQ(5u, As<NSRange>(r).length);

    a = V<double>(2.75);
    ASSERT_EQ(0, Send([NSNumber class], "numberWithDouble:", &r, { &a })) << Errors();
    id number = As<id>(r);
    ASSERT_EQ(0, Send(number, "doubleValue", &r)) << Errors();
    EXPECT_EQ(2.75, As<double>(r));

    a = V<int>(21);
    ASSERT_EQ(0, Send([SendTarget class], "classTwice:", &r, { &a })) << Errors();
    EXPECT_EQ(42, As<int>(r));
}

TEST_F(MsgSend, NilAndReceiverOnly)
{
    Value r = V<id>(@"junk");
    ASSERT_EQ(0, Send(nil, "length", &r)) << Errors();
    EXPECT_EQ(nil, As<id>(r));

    id object = @"receiver";
    void *argv[1] = { NULL };
    ASSERT_EQ(0, BqOsmo_MsgSend(NULL, &errors, TestTable(), BQ_SEND_MESSAGE, object,
	    @selector(length), NULL, 1, argv, &r));
    EXPECT_EQ(object, As<id>(r));
}

TEST_F(MsgSend, SuperSends)
{
    SendSubTarget *t = [[[SendSubTarget alloc] init] autorelease];
    Value r;
    ASSERT_EQ(0, Send(t, "value", &r)) << Errors();
    EXPECT_EQ(2, As<int>(r));

    KxSuper super = { t, [SendTarget class] };
    void *argv[2] = { NULL, NULL };
    ASSERT_EQ(0, BqOsmo_MsgSend(NULL, &errors, TestTable(), BQ_SEND_SUPER, &super,
	    @selector(value), NULL, 2, argv, &r)) << Errors();
    EXPECT_EQ(1, As<int>(r));

    KxSuper none = { t, Nil };
    EXPECT_EQ(1, BqOsmo_MsgSend(NULL, &errors, TestTable(), BQ_SEND_SUPER, &none,
	    @selector(value), NULL, 2, argv, &r));
    EXPECT_EQ("msg_send_super: no superclass", Errors());
    Tcl_DStringSetLength(&errors, 0);
    EXPECT_EQ(1, BqOsmo_MsgSend(NULL, &errors, TestTable(), BQ_SEND_SUPER, &super,
	    @selector(value), NULL, 1, argv, &r));
    EXPECT_EQ("msg_send_super with no arguments", Errors());
    Tcl_DStringSetLength(&errors, 0);
    EXPECT_EQ(1, BqOsmo_MsgSend(NULL, &errors, TestTable(), BQ_SEND_SUPER, &super,
	    @selector(noSuchThing), NULL, 2, argv, &r));
    EXPECT_EQ("message to super: instances of SendTarget do not respond to \"noSuchThing\"",
	    Errors());
}

TEST_F(MsgSend, ForwardingAndProxies)
{
    SendForwarder *forwarder = [[[SendForwarder alloc] init] autorelease];
    Value r, a = V<int>(14);
    ASSERT_EQ(0, Send(forwarder, "ghost:", &r, { &a })) << Errors();
    EXPECT_EQ(42, As<int>(r));

    EXPECT_EQ(1, Send(forwarder, "notEvenForwarded:", &r, { &a }));
    EXPECT_EQ("SendForwarder does not respond to -notEvenForwarded: (no method signature)",
	    Errors());
    Tcl_DStringSetLength(&errors, 0);

    SendTarget *target = [[[SendTarget alloc] init] autorelease];
    TargetProxy *proxy = [[TargetProxy alloc] initWithTarget: target];
    a = V<int>(-5);
    ASSERT_EQ(0, Send(proxy, "echoInt:", &r, { &a })) << Errors();
    EXPECT_EQ(-5, As<int>(r));
    EXPECT_EQ(BQ_QUAL_RESULT | BQ_QUAL_OWNED, r.qualifiers) << "results from proxies are owned";
    Pair p = { 3, 4 };
    a = V(p);
    ASSERT_EQ(0, Send(proxy, "swap:", &r, { &a })) << Errors();
    EXPECT_EQ(4, As<Pair>(r).a);
    [proxy release];
}

TEST_F(MsgSend, ArgumentErrors)
{
    SendTarget *t = [[[SendTarget alloc] init] autorelease];
    Value r, a = V<int>(1);
    EXPECT_EQ(1, Send(t, "echoInt:", &r, {}));
    EXPECT_EQ("echoInt: takes 1 argument, 0 given", Errors());
    Tcl_DStringSetLength(&errors, 0);
    EXPECT_EQ(1, Send(t, "echoInt:", &r, { &a, &a }));
    EXPECT_EQ("echoInt: takes 1 argument, 2 given", Errors());
    Tcl_DStringSetLength(&errors, 0);
    EXPECT_EQ(1, Send(t, "value", &r, { &a }));
    EXPECT_EQ("value takes 0 arguments, 1 given", Errors());
    Tcl_DStringSetLength(&errors, 0);
    EXPECT_EQ(1, Send(t, "choose:between:and:", &r, { &a }));
    EXPECT_EQ("choose:between:and: takes 3 arguments, 1 given", Errors());
    Tcl_DStringSetLength(&errors, 0);
    KxSuper super = { t, [NSObject class] };
    void *argv[3] = { NULL, NULL, &a };
    EXPECT_EQ(1, BqOsmo_MsgSend(NULL, &errors, TestTable(), BQ_SEND_SUPER, &super,
	    @selector(description), NULL, 3, argv, &r));
    EXPECT_EQ("description takes 0 arguments, 1 given", Errors()) << "messages to super too";
    Tcl_DStringSetLength(&errors, 0);

    a.refuse = 1;
    EXPECT_EQ(1, Send(t, "echoInt:", &r, { &a }));
    char expected[128];
    snprintf(expected, sizeof expected,
	    "refused value (while converting arguments for -[<SendTarget:0x%lx> echoInt:])",
	    (unsigned long) (uintptr_t) t);
    EXPECT_EQ(expected, Errors());
    Tcl_DStringSetLength(&errors, 0);

    EXPECT_EQ(1, Send([SendTarget class], "classTwice:", &r, { &a }));
    snprintf(expected, sizeof expected,
	    "refused value (while converting arguments for +[<%s:0x%lx> classTwice:])",
	    class_getName(object_getClass([SendTarget class])),
	    (unsigned long) (uintptr_t) [SendTarget class]);
    EXPECT_EQ(expected, Errors());
}

/*
 * A method that frees its receiver, then a result that fails to convert:
 * the failure names the call from what the send knew before the call.
 * In a process of its own, since reading the freed receiver may crash.
 */
static void
FailAfterTheReceiverIsFreed(void)
{
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    Value result;
    void *argv[2] = { NULL, NULL };
    id target = [[SendTarget alloc] init];
    CTypeTable *refusing = BqOsmo_NewCTypeTable("MsgSendTestRefusing", NULL, NULL, NULL, NULL,
	    NULL, BytesToC, RefuseFromC, 0);
    int code = BqOsmo_MsgSend(NULL, &errors, refusing, BQ_SEND_MESSAGE, target,
	    @selector(deallocAndAnswerSelf), NULL, 2, argv, &result);
    fprintf(stderr, "%d %s\n", code, Tcl_DStringValue(&errors));
    exit(0);
}

TEST_F(MsgSend, FailureAfterTheReceiverWasFreedNamesTheCall)
{
    EXPECT_EXIT(FailAfterTheReceiverIsFreed(), testing::ExitedWithCode(0),
	    "1 refused result \\(while value returned from "
	    "-\\[<SendTarget:0x[0-9a-f]+> deallocAndAnswerSelf\\]\\)");
}

/*
 * A send made while a thread ends, by the destructor of a thread key made
 * after the send's own (so run after the one that frees the thread's
 * method cache), as a library's clean-up at thread exit may: it must find
 * no freed cache.  The thread's first send makes its cache.
 */
static pthread_key_t lateKey;

static int
SendValue(void)
{
    static id target = [[SendTarget alloc] init];
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    Value r;
    void *argv[2] = { NULL, NULL };
    int code = BqOsmo_MsgSend(NULL, &errors, TestTable(), BQ_SEND_MESSAGE, target,
	    @selector(value), NULL, 2, argv, &r);
    Tcl_DStringFree(&errors);
    return code == 0 && As<int>(r) == 1 ? 0 : 1;
}

static void
SendAtThreadExit(void *)
{
    if (SendValue() != 0) {
	_exit(2);
    }
}

static void *
SendAndEnd(void *)
{
    pthread_setspecific(lateKey, (void *) 1);
    return SendValue() == 0 ? NULL : (void *) 1;
}

static void
SendWhileAThreadEnds(void)
{
    SendValue();		/* the send's own key exists before lateKey */
    pthread_key_create(&lateKey, SendAtThreadExit);
    pthread_t thread;
    void *answer = (void *) 1;
    if (pthread_create(&thread, NULL, SendAndEnd, NULL) != 0
	    || pthread_join(thread, &answer) != 0) {
	_exit(3);
    }
    _exit(answer == NULL ? 0 : 1);
}

TEST(MsgSendThreads, SendAtThreadExitFindsNoFreedCache)
{
    EXPECT_EXIT(SendWhileAThreadEnds(), testing::ExitedWithCode(0), "");
}

TEST_F(MsgSend, ReceiversThatCannotBeMessaged)
{
    Value r;
    EXPECT_EQ(1, Send((id) (uintptr_t) UINTPTR_MAX, "length", &r));
    EXPECT_EQ("illegal object", Errors());
    Tcl_DStringSetLength(&errors, 0);
    EXPECT_EQ(1, Send((id) (uintptr_t) 0x10, "length", &r));
    EXPECT_EQ("Not an object nor a class", Errors());
    Tcl_DStringSetLength(&errors, 0);
    NSObject *object = [[[NSObject alloc] init] autorelease];
    EXPECT_EQ(1, Send(object, "noSuchMethod", &r));
    EXPECT_EQ("NSObject does not respond to -noSuchMethod (no method signature)", Errors());
}

TEST_F(MsgSend, ExceptionsBecomeMessages)
{
    SendTarget *t = [[[SendTarget alloc] init] autorelease];
    Value r;
    EXPECT_EQ(1, Send(t, "raiseFoundation", &r));
    EXPECT_EQ("[NSException TestFailure]: went wrong", Errors());
    Tcl_DStringSetLength(&errors, 0);

    EXPECT_EQ(1, Send(t, "raiseOwn", &r));
    EXPECT_EQ("own runtime error", Errors());
    Tcl_DStringSetLength(&errors, 0);

    EXPECT_EQ(1, Send(t, "raiseCoded", &r));
    EXPECT_EQ("[NSException 100601]: CodedName: coded reason", Errors());
    Tcl_DStringSetLength(&errors, 0);
    BQ_CONTROL(use_ns_exceptions) = 1;
    EXPECT_EQ(1, Send(t, "raiseCoded", &r));
    BQ_CONTROL(use_ns_exceptions) = 0;
    EXPECT_EQ("coded reason", Errors());
    Tcl_DStringSetLength(&errors, 0);

    EXPECT_EQ(1, Send(t, "raiseOther", &r));
    EXPECT_EQ("KxException 4242: platform text", Errors());
    Tcl_DStringSetLength(&errors, 0);

    EXPECT_EQ(0, Send(t, "raiseSilently", &r)) << Errors();
    EXPECT_EQ("", Errors());

    /* The process is healthy afterwards. */
    Value a = V<int>(5);
    ASSERT_EQ(0, Send(t, "echoInt:", &r, { &a }));
    EXPECT_EQ(5, As<int>(r));
}

static int
AddInts(int a, int b)
{
    return a + b;
}

TEST_F(MsgSend, FunctionCallsThroughADescription)
{
    BqOsmoMethodDescription description = { NULL, "iii", (IMP) AddInts };
    Value a = V<int>(40), b = V<int>(2), r;
    void *argv[2] = { &a, &b };
    ASSERT_EQ(0, BqOsmo_MsgSend(NULL, &errors, TestTable(), BQ_SEND_FUNCTION, NULL, NULL,
	    &description, 2, argv, &r)) << Errors();
    EXPECT_EQ(42, As<int>(r));
    EXPECT_EQ(1, BqOsmo_MsgSend(NULL, &errors, TestTable(), BQ_SEND_FUNCTION, NULL, NULL,
	    &description, 1, argv, &r));
    char expected[64];
    snprintf(expected, sizeof expected, "function 0x%lx takes 2 arguments, 1 given",
	    (unsigned long) (uintptr_t) AddInts);
    EXPECT_EQ(expected, Errors());
    Tcl_DStringSetLength(&errors, 0);
    EXPECT_EQ(1, BqOsmo_MsgSend(NULL, &errors, TestTable(), BQ_SEND_FUNCTION, NULL, NULL,
	    NULL, 2, argv, &r));
    EXPECT_EQ("no function description", Errors());
}

static int hookCalls;
static int
CountingHook2(void *, Tcl_DString *, CTypeTable *, int, void *, SEL selector,
	BqOsmoMethodDescription *method, int, void **, void **frameHeader, int)
{
    hookCalls++;
    if (sel_isEqual(selector, @selector(value))) {
	return 77;
    }
    /* The frame holds the converted argument where the signature walk
     * finds it: receiver, selector, then the int. */
    const char *cursor;
    void *address = BqMethod_GetFirstArgument(method, frameHeader, &cursor);
    address = BqMethod_GetNextArgument(frameHeader, &cursor);
    address = BqMethod_GetNextArgument(frameHeader, &cursor);
    return address != NULL && *(int *) address == 3 ? 0 : 99;
}

TEST_F(MsgSend, SecondHookSeesTheFrameAndCanEndTheSend)
{
    SendTarget *t = [[[SendTarget alloc] init] autorelease];
    BqOsmo_SetMessageHook2(CountingHook2);
    Value r, a = V<int>(3);
    hookCalls = 0;
    EXPECT_EQ(0, Send(t, "echoInt:", &r, { &a })) << Errors();
    EXPECT_EQ(77, Send(t, "value", &r));
    BqOsmo_SetMessageHook2(NULL);
    EXPECT_EQ(2, hookCalls);
}

/* A root of GCC's runtime: no -methodSignatureForSelector:, so the send
 * asks -respondsTo: and then -descriptionForMethod:. */
@interface SendBareRoot : Object
- (int) answer;
@end
@implementation SendBareRoot
- (int) answer { return 42; }
@end

TEST_F(MsgSend, ReceiversWithoutSignatureLookupUseRespondsTo)
{
    id bare = class_createInstance(objc_getClass("SendBareRoot"), 0);
    Value r;
    ASSERT_EQ(0, Send(bare, "answer", &r)) << Errors();
    EXPECT_EQ(42, As<int>(r));
    EXPECT_EQ(1, Send(bare, "unknownThing", &r));
    EXPECT_EQ("instances of SendBareRoot do not respond to \"unknownThing\"", Errors());
    Tcl_DStringSetLength(&errors, 0);
    EXPECT_EQ(1, Send((id) objc_getClass("SendBareRoot"), "unknownThing", &r));
    EXPECT_EQ("class SendBareRoot does not respond to \"unknownThing\"", Errors());
    object_dispose(bare);
}

/* ---------------------------------------------------------------------
 * Format methods
 * ------------------------------------------------------------------ */

/* The codes a format's values travel as, or "error: <message>". */
static std::string
Codes(const char *format, int objects = 1)
{
    char codes[32];
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    int count = BqFormat_Scan(format, strlen(format), objects, codes, (int) sizeof codes,
	    &errors);
    std::string answer = count < 0 ? "error: " + std::string(Tcl_DStringValue(&errors))
				   : std::string(codes, (size_t) count);
    Tcl_DStringFree(&errors);
    return answer;
}

TEST(FormatArgs, EachDirectiveReadsItsPromotedType)
{
    EXPECT_EQ("iiIIIIi", Codes("%d %i %u %x %X %o %c"));
    EXPECT_EQ("iiilqqlql", Codes("%hhd %hd %d %ld %lld %qd %zd %jd %td"));
    EXPECT_EQ("IIILQQLQL", Codes("%hhu %hx %o %lu %llX %qu %zu %ju %tx"));
    EXPECT_EQ("dddddddd", Codes("%f %F %e %E %g %G %a %lf"));
    EXPECT_EQ("*@", Codes("%s %@"));
    EXPECT_EQ("iid", Codes("%*.*f")) << "a star reads an int before the value";
    EXPECT_EQ("i", Codes("%-+ #0'12.4d"));
    EXPECT_EQ("", Codes("100%% and %%d"));
    EXPECT_EQ("", Codes(""));
    EXPECT_EQ("i", Codes("%d\xe2\x98\xba")) << "text after a directive is text";

    char codes[1];
    EXPECT_EQ(3, BqFormat_Scan("%d%f%s", 6, 1, codes, 1, NULL)) << "counts beyond max";
    EXPECT_EQ('i', codes[0]);
    EXPECT_EQ(2, BqFormat_Scan("%d\0%s", 5, 1, codes, 1, NULL)) << "a NUL byte ends nothing";
    EXPECT_EQ(1, BqFormat_Scan("%d%s", 2, 1, codes, 1, NULL)) << "nothing is read past length";
}

TEST(FormatArgs, DirectivesThatCannotBeTold)
{
    EXPECT_EQ("error: unknown directive \"%y\"", Codes("a %y b"));
    EXPECT_EQ("error: unknown directive \"%@\"", Codes("%@", 0)) << "a C format has no objects";
    EXPECT_EQ("error: unknown directive \"%Lf\"", Codes("%Lf"));
    EXPECT_EQ("error: unknown directive \"%ls\"", Codes("%ls"));
    EXPECT_EQ("error: unknown directive \"%p\"", Codes("%p"));
    EXPECT_EQ("error: unknown directive \"%l\xe2\x98\xba\"", Codes("%l\xe2\x98\xba"))
	    << "a whole character";
    EXPECT_EQ("error: directive \"%5n\" is refused (it writes to memory)", Codes("%d%5n"));
    EXPECT_EQ("error: incomplete directive \"%-5\" at the end", Codes("%d %-5"));
    EXPECT_EQ("error: incomplete directive \"%\" at the end", Codes("100%"));
    EXPECT_EQ("error: positional directive \"%2$...\" is not supported", Codes("%2$d"));
}

TEST(FormatArgs, WhichSelectorsTakeAFormatAndItsValues)
{
    for (const char *name : { "stringWithFormat:", "initWithFormat:", "appendFormat:",
	    "stringByAppendingFormat:", "raise:format:", "predicateWithFormat:",
	    "localizedStringWithFormat:", "textWithCFormat:", "format:" }) {
	EXPECT_TRUE(BqFormat_IsFormatSelector(name)) << name;
    }
    for (const char *name : { "initWithFormat:arguments:", "initWithFormat:locale:",
	    "setDateFormat:", "setFormat:", "descriptionWithCalendarFormat:",
	    "dateWithString:calendarFormat:", "stringWithFormat", "Format:", "format", "",
	    "reformat:", "settingsFormat:" }) {
	EXPECT_EQ(strcmp(name, "settingsFormat:") == 0, BqFormat_IsFormatSelector(name)) << name;
    }
    EXPECT_FALSE(BqFormat_IsFormatSelector(NULL));
}

TEST_F(MsgSend, FormatValuesConvertByTheirDirectives)
{
    Value r, format = V<id>(@"%d|%5.2f|%s|%@|%x|%c|%%|%*d|%lld|%hhd|%-3u|%g");
    Value i = V<int>(-42), d = V<double>(3.14159), str = V<const char *>("text"),
	obj = V<id>(@"object"), x = V<unsigned>(255), c = V<int>('A'), width = V<int>(4),
	q = V<long long>(1LL << 40), hh = V<int>(300), u = V<unsigned>(7), g = V<double>(1e-5);
    ASSERT_EQ(0, Send([NSString class], "stringWithFormat:", &r,
	    { &format, &i, &d, &str, &obj, &x, &c, &width, &i, &q, &hh, &u, &g })) << Errors();
    NSString *expected = [NSString stringWithFormat: @"%d|%5.2f|%s|%@|%x|%c|%%|%*d|%lld|%hhd|%-3u|%g",
	    -42, 3.14159, "text", @"object", 255u, 'A', 4, -42, 1LL << 40, (char) 300, 7u, 1e-5];
    EXPECT_STREQ([expected UTF8String], [As<NSString *>(r) UTF8String]);
    EXPECT_EQ("", Errors());

    SendTarget *t = [[[SendTarget alloc] init] autorelease];
    format = V<const char *>("%s=%d, %.1f");
    ASSERT_EQ(0, Send(t, "textWithCFormat:", &r, { &format, &str, &i, &d })) << Errors();
    EXPECT_STREQ("text=-42, 3.1", [As<NSString *>(r) UTF8String]);

    /* The same signature with other directives, and more values than a
     * call plan keeps prepared, in turn. */
    std::string many;
    std::vector<Value> values(20);
    std::vector<Value *> list;
    Value manyFormat = V<const char *>("%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d");
    list.push_back(&manyFormat);
    for (int k = 0; k < 20; k++) {
	values[(size_t) k] = V<int>(k % 10);
	list.push_back(&values[(size_t) k]);
	many += std::to_string(k % 10);
    }
    void *argv[24] = { NULL, NULL };
    for (size_t k = 0; k < list.size(); k++) {
	argv[k + 2] = list[k];
    }
    for (int round = 0; round < 3; round++) {
	format = V<const char *>("%f");
	ASSERT_EQ(0, Send(t, "textWithCFormat:", &r, { &format, &d })) << Errors();
	EXPECT_STREQ("3.141590", [As<NSString *>(r) UTF8String]);
	format = V<const char *>("%d");
	ASSERT_EQ(0, Send(t, "textWithCFormat:", &r, { &format, &i })) << Errors();
	EXPECT_STREQ("-42", [As<NSString *>(r) UTF8String]);
	ASSERT_EQ(0, BqOsmo_MsgSend(NULL, &errors, TestTable(), BQ_SEND_MESSAGE, t,
		@selector(textWithCFormat:), NULL, 23, argv, &r)) << Errors();
	EXPECT_EQ(many, [As<NSString *>(r) UTF8String]);
    }
}

/*
 * Sends -countedWithFormat: with format and values, in a child process
 * (before the values are checked, such a send could read what was not
 * passed and crash).  The child exits with 0 when the send failed with
 * message and the method did not run; it shows what it got on stderr.
 */
static void
RefusedInChild(Value *format, std::vector<Value *> values, const char *message)
{
    SendTarget *t = [[[SendTarget alloc] init] autorelease];
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    Value r;
    void *argv[8] = { NULL, NULL, format };
    for (size_t k = 0; k < values.size(); k++) {
	argv[k + 3] = values[k];
    }
    formatCalls = 0;
    int code = BqOsmo_MsgSend(NULL, &errors, TestTable(), BQ_SEND_MESSAGE, t,
	    @selector(countedWithFormat:), NULL, (int) values.size() + 3, argv, &r);
    fprintf(stderr, "code %d, %d calls: %s\n", code, formatCalls, Tcl_DStringValue(&errors));
    exit(code == 1 && formatCalls == 0 && strcmp(Tcl_DStringValue(&errors), message) == 0
	    ? 0 : 1);
}

TEST_F(MsgSend, FormatsThatWouldReadWhatWasNotPassedAreRefused)
{
    SendTarget *t = [[[SendTarget alloc] init] autorelease];
    Value r, one = V<int>(1);
    struct { Value format; std::vector<Value *> values; const char *message; } cases[] = {
	{ V<id>(@"%@%@%@%@%@%@%@%@"), {},
	  "countedWithFormat: format \"%@%@%@%@%@%@%@%@\" reads 8 values, 0 given" },
	{ V<id>(@"%d and %*d"), { &one, &one },
	  "countedWithFormat: format \"%d and %*d\" reads 3 values, 2 given" },
	{ V<id>(@"%d %y"), { &one, &one },
	  "countedWithFormat: unknown directive \"%y\" in format \"%d %y\"" },
	{ V<id>(@"%d%n"), { &one, &one },
	  "countedWithFormat: directive \"%n\" is refused (it writes to memory) in format \"%d%n\"" },
	{ V<id>(nil), {}, "countedWithFormat: the format is nil" },
	{ V<id>([NSString stringWithCharacters: (const unichar[]) { 'a', 0, '%', 'd' } length: 4]),
	  { &one }, "countedWithFormat: the format holds a NUL character" },
	{ V<id>([NSNumber numberWithInt: 3]), {},
	  "countedWithFormat: the format is not a string (NSIntNumber)" },
    };
    for (auto &c : cases) {
	EXPECT_EXIT(RefusedInChild(&c.format, c.values, c.message), testing::ExitedWithCode(0),
		"") << c.message;
    }

    Tcl_DStringSetLength(&errors, 0);
    EXPECT_EQ(1, Send(t, "countedWithFormat:", &r));
    EXPECT_EQ("countedWithFormat: takes at least 1 argument, 0 given", Errors());
    Tcl_DStringSetLength(&errors, 0);
    Value cFormat = V<const char *>("%@");
    EXPECT_EQ(1, Send(t, "textWithCFormat:", &r, { &cFormat, &one }));
    EXPECT_EQ("textWithCFormat: unknown directive \"%@\" in format \"%@\"", Errors());
    Tcl_DStringSetLength(&errors, 0);
    cFormat = V<const char *>(NULL);
    EXPECT_EQ(1, Send(t, "textWithCFormat:", &r, { &cFormat }));
    EXPECT_EQ("textWithCFormat: the format is NULL", Errors());
    Tcl_DStringSetLength(&errors, 0);
    Value refused = V<int>(1);
    refused.refuse = 1;
    Value format = V<id>(@"%d");
    EXPECT_EQ(1, Send(t, "countedWithFormat:", &r, { &format, &refused }));
    EXPECT_EQ(0u, Errors().find("refused value (while converting arguments for -[<SendTarget:"))
	    << Errors();
}

TEST_F(MsgSend, FormatValuesBeyondTheDirectivesAreLeftOutWithAWarning)
{
    SendTarget *t = [[[SendTarget alloc] init] autorelease];
    Value r, format = V<id>(@"%d!"), one = V<int>(1), two = V<int>(2);
    formatCalls = 0;
    ASSERT_EQ(0, Send(t, "countedWithFormat:", &r, { &format, &one, &two }));
    EXPECT_STREQ("1!", [As<NSString *>(r) UTF8String]);
    EXPECT_EQ("Redundant argument in countedWithFormat:", Errors());
    EXPECT_EQ(1, formatCalls);
}

TEST_F(MsgSend, FormatOfARaisedException)
{
    Value r, name = V<id>(@"Overheated"), format = V<id>(@"%d degrees, %s"),
	degrees = V<int>(451), reason = V<const char *>("paper burns");
    EXPECT_EQ(1, Send([NSException class], "raise:format:", &r,
	    { &name, &format, &degrees, &reason }));
    EXPECT_EQ("[NSException Overheated]: 451 degrees, paper burns", Errors());
}
