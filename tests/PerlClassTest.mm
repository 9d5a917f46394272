/*
 * PerlClassTest.mm --
 *
 *	A class defined in Perl (tests/data/Counter.pl, loaded once per test
 *	program by the interpreter object), seen only from Objective-C in
 *	the embedding host: instances made and messaged by compiled code and
 *	by NSInvocation, class methods, instance variables read by the
 *	runtime and by key-value coding, Foundation using its Perl methods
 *	(description, isEqual:/hash in a set, compare: in a sort, NSCopying),
 *	structures by value, Perl errors and Objective-C exceptions crossing
 *	one and two levels of calls, the Perl stacks after many failures,
 *	and the Perl dealloc and Perl data of a released instance.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqVantleInterp.h"
#include "EmbeddedPerl.h"

#include <objc/runtime.h>

#include <string.h>

#include <string>

/* A structure that fits in registers, and one returned in memory; the
 * Perl declarations in Counter.pl give the same members. */
struct Span {
    int start;
    int length;
};

struct Box {
    double x;
    double y;
    double width;
    double height;
};

/* The methods Counter.pl defines, as compiled code declares them. */
@protocol PerlCounter
- (int) add: (int)a to: (int)b;
- (int) increment;
- (long) compare: (id)other;
- (struct Span) stretch: (struct Span)span by: (int)n;
- (struct Box) scaleBox: (struct Box)box;
- (int) boom: (int)n;
- (id) sorted: (NSArray *)array;
- (id) element: (NSArray *)array at: (int)index;
- (void) relay: (id)thrower;
- (id) failureName: (NSArray *)array at: (int)index;
- (void) keep: (int)token;
@end

@protocol PerlCounterClass
- (id) counterWithCount: (int)n;
- (int) madeCount;
@end

/* Raises the exception it was made with, from compiled code. */
@interface PerlClassTestThrower : NSObject {
    NSException *_kept;
}
- (id) initWithException: (NSException *)exception;
- (void) raiseKept;
@end

@implementation PerlClassTestThrower
- (id) initWithException: (NSException *)exception
{
    if ((self = [super init]) != nil) {
	_kept = [exception retain];
    }
    return self;
}

- (void) dealloc
{
    [_kept release];
    [super dealloc];
}

- (void) raiseKept
{
    @throw _kept;
}
@end

namespace {

typedef id<PerlCounter> Counter;

class PerlClass : public ::testing::Test {
protected:
    PerlInterpreter *my_perl;
    BqVantleInterp *interp;
    NSAutoreleasePool *pool;
    Class counterClass;

    void SetUp() override
    {
	my_perl = EmbeddedPerl();
	pool = [[NSAutoreleasePool alloc] init];
	interp = [BqVantleInterp defaultInterp];
	ASSERT_NE(nil, interp);
	LoadCounterOnce();
	counterClass = NSClassFromString(@"Counter");
	ASSERT_NE(Nil, counterClass);
    }

    void TearDown() override
    {
	[pool release];
    }

    /* Loads Counter.pl the first time a test of this program asks. */
    void LoadCounterOnce()
    {
	static bool loaded;
	if (loaded) {
	    return;
	}
	int code = -1;
	BqVantleVar *result = [interp evalFile: TEST_DATA_DIR "/Counter.pl" errorCode: &code];
	std::string error = code != 0 && result != nil && [result descr] != NULL
	    ? [result descr] : "";
	[result free];
	ASSERT_EQ(0, code) << error;
	loaded = true;
    }

    /* The string of a Perl expression, evaluated in scalar context. */
    std::string Perl(const char *text)
    {
	int code = -1;
	BqVantleSV *value = [interp eval: text errorCode: &code listContext: NO];
	EXPECT_EQ(0, code) << text;
	std::string result = value != nil && [value descr] != NULL ? [value descr] : "";
	[value free];
	return result;
    }

    int PerlInt(const char *text)
    {
	return std::stoi(Perl(text));
    }

    /* A new counter, made as compiled code makes one. */
    Counter Make()
    {
	return [[counterClass alloc] init];
    }

    /* A counter holding count, autoreleased, from the Perl class method. */
    Counter WithCount(int count)
    {
	return [(id<PerlCounterClass>) counterClass counterWithCount: count];
    }

    /* The int instance variable "count" as the runtime reads it. */
    static int CountOf(id object)
    {
	Ivar ivar = class_getInstanceVariable(object_getClass(object), "count");
	return ivar != NULL ? *(int *) ((char *) object + ivar_getOffset(ivar)) : -9999;
    }
};

/* The name and reason of the exception body raises, "" for none. */
template <typename Body>
static std::string
Raised(Body body)
{
    @try {
	body();
    } @catch (NSException *exception) {
	return std::string([[exception name] UTF8String]) + ": "
	    + [[exception reason] UTF8String];
    }
    return "";
}

/*
 * Made by alloc/init from compiled code, the instance answers its Perl
 * methods with C arguments and results, by compiled sends and by
 * NSInvocation; its instance variables are real ones.
 */
TEST_F(PerlClass, UsedFromObjectiveCLikeACompiledClass)
{
    int made = [(id<PerlCounterClass>) counterClass madeCount];
    Counter counter = Make();
    ASSERT_NE(nil, counter);
    EXPECT_EQ(counterClass, object_getClass(counter));
    EXPECT_EQ(made + 1, [(id<PerlCounterClass>) counterClass madeCount]);
    EXPECT_EQ(5, [counter add: 2 to: 3]);
    EXPECT_EQ(-7, [counter add: -10 to: 3]);
    EXPECT_EQ(1, [counter increment]);
    EXPECT_EQ(2, [counter increment]);

    NSMethodSignature *signature = [(id) counter methodSignatureForSelector: @selector(add:to:)];
    ASSERT_NE(nil, signature);
    EXPECT_STREQ("i", [signature methodReturnType]);
    NSInvocation *invocation = [NSInvocation invocationWithMethodSignature: signature];
    int a = 40, b = 2, sum = 0;
    [invocation setTarget: counter];
    [invocation setSelector: @selector(add:to:)];
    [invocation setArgument: &a atIndex: 2];
    [invocation setArgument: &b atIndex: 3];
    [invocation invoke];
    [invocation getReturnValue: &sum];
    EXPECT_EQ(42, sum);

    /* The instance variables, as the runtime and key-value coding see them. */
    void *raw = NULL;
    Ivar count = object_getInstanceVariable(counter, "count", &raw);
    ASSERT_NE((Ivar) NULL, count);
    EXPECT_STREQ("i", ivar_getTypeEncoding(count));
    EXPECT_EQ(2, (int) (intptr_t) raw);
    EXPECT_EQ(2, CountOf(counter));
    EXPECT_EQ(2, [[(id) counter valueForKey: @"count"] intValue]);
    EXPECT_EQ(1.5, [[(id) counter valueForKey: @"scale"] doubleValue]);
    [(id) counter setValue: [NSNumber numberWithInt: 9] forKey: @"count"];
    EXPECT_EQ(10, [counter increment]) << "Perl reads the ivar Objective-C wrote";

    EXPECT_STREQ("<Counter 10>", [[(id) counter description] UTF8String]);
    NSString *formatted = [NSString stringWithFormat: @"[%@]", counter];
    EXPECT_STREQ("[<Counter 10>]", [formatted UTF8String]);

    Counter made7 = WithCount(7);
    EXPECT_EQ(counterClass, object_getClass(made7));
    EXPECT_EQ(7, CountOf(made7));
    [(id) counter release];
}

/*
 * Foundation's collections use the Perl isEqual:, hash and compare:, and
 * the class conforms to the protocol it adopted (whose copyWithZone:
 * answers a copy the caller owns).
 */
TEST_F(PerlClass, FoundationUsesThePerlMethods)
{
    NSMutableSet *set = [NSMutableSet set];
    for (int count : { 1, 2, 1, 3, 2 }) {
	[set addObject: WithCount(count)];
    }
    EXPECT_EQ(3u, [set count]);
    EXPECT_TRUE([set containsObject: WithCount(3)]);
    EXPECT_FALSE([set containsObject: WithCount(4)]);
    EXPECT_TRUE([(id) WithCount(5) isEqual: WithCount(5)]);
    EXPECT_FALSE([(id) WithCount(5) isEqual: @"5"]);
    EXPECT_EQ(5u, [(id) WithCount(5) hash]);

    NSArray *unsorted = [NSArray arrayWithObjects: WithCount(3), WithCount(1), WithCount(4),
	WithCount(1), WithCount(5), WithCount(2), nil];
    NSArray *sorted = [unsorted sortedArrayUsingSelector: @selector(compare:)];
    ASSERT_EQ(6u, [sorted count]);
    std::string order;
    for (id counter in sorted) {
	order += std::to_string(CountOf(counter));
    }
    EXPECT_EQ("112345", order);

    EXPECT_TRUE([counterClass conformsToProtocol: objc_getProtocol("NSCopying")]);
    EXPECT_TRUE([(id) WithCount(1) conformsToProtocol: objc_getProtocol("NSCopying")]);
    EXPECT_FALSE([counterClass conformsToProtocol: objc_getProtocol("NSCoding")]);
    int deallocated = PerlInt("$Counter::deallocated");
    id copy = [(id) WithCount(8) copy];
    EXPECT_NE(nil, copy);
    EXPECT_EQ(8, CountOf(copy));
    [copy release];
    EXPECT_EQ(deallocated + 1, PerlInt("$Counter::deallocated")) << "the copy was the caller's";
}

/* Structures cross by value both ways, in registers and in memory. */
TEST_F(PerlClass, StructuresCrossByValue)
{
    Counter counter = WithCount(0);
    struct Span span = [counter stretch: (struct Span) { 10, 4 } by: 3];
    EXPECT_EQ(7, span.start);
    EXPECT_EQ(10, span.length);

    struct Box box = [counter scaleBox: (struct Box) { 1, -2, 3.5, 40 }];
    EXPECT_EQ(1.5, box.x);
    EXPECT_EQ(-3, box.y);
    EXPECT_EQ(5.25, box.width);
    EXPECT_EQ(60, box.height);
}

/*
 * A structure type declared in Perl with member names reaches the runtime
 * without them, as compiled methods' types are: GNUstep's
 * NSMethodSignature misreads names ("Unknown type in sig" in cifframe.m),
 * and an NSInvocation of the method must work.
 */
TEST_F(PerlClass, StructureMethodsHaveTypesFoundationReads)
{
    Counter counter = WithCount(0);
    NSMethodSignature *signature = [(id) counter methodSignatureForSelector:
	@selector(stretch:by:)];
    ASSERT_NE(nil, signature);
    EXPECT_EQ(sizeof(struct Span), [signature methodReturnLength]);
    EXPECT_EQ(0, strncmp("{Span=ii}", [signature getArgumentTypeAtIndex: 2], 9));
    NSInvocation *invocation = nil;
    @try {
	invocation = [NSInvocation invocationWithMethodSignature: signature];
    } @catch (NSException *exception) {
	FAIL() << [[exception reason] UTF8String];
    }
    struct Span in = { 1, 1 }, out = { 0, 0 };
    int by = 1;
    [invocation setTarget: counter];
    [invocation setSelector: @selector(stretch:by:)];
    [invocation setArgument: &in atIndex: 2];
    [invocation setArgument: &by atIndex: 3];
    [invocation invoke];
    [invocation getReturnValue: &out];
    EXPECT_EQ(0, out.start);
    EXPECT_EQ(3, out.length);
}

/*
 * A Perl die is an NSException "Perl Error" whose reason names the
 * method; a thousand of them leave the Perl stacks, the temporaries and
 * the count of live values where they were, and good calls still work.
 */
TEST_F(PerlClass, ADyingMethodRaisesPerlErrorAndLeavesPerlBalanced)
{
    Counter counter = WithCount(0);
    EXPECT_EQ("Perl Error: -[Counter boom:]: boom 3\n", Raised([&] { [counter boom: 3]; }));

    SSize_t stack = PL_stack_sp - PL_stack_base;
    I32 *marks = PL_markstack_ptr;
    I32 scopes = PL_scopestack_ix, saves = PL_savestack_ix;
    SSize_t temps = PL_tmps_ix, floor = PL_tmps_floor;
    I32 contexts = cxstack_ix;
    I32 values = PL_sv_count;
    int failures = 0;
    for (int i = 0; i < 1000; i++) {
	NSAutoreleasePool *inner = [[NSAutoreleasePool alloc] init];
	@try {
	    [counter boom: i];
	} @catch (NSException *exception) {
	    failures += [[exception name] isEqualToString: @"Perl Error"];
	}
	[inner release];
    }
    EXPECT_EQ(1000, failures);
    EXPECT_EQ(stack, PL_stack_sp - PL_stack_base);
    EXPECT_EQ(marks, PL_markstack_ptr);
    EXPECT_EQ(scopes, PL_scopestack_ix);
    EXPECT_EQ(saves, PL_savestack_ix);
    EXPECT_EQ(temps, PL_tmps_ix);
    EXPECT_EQ(floor, PL_tmps_floor);
    EXPECT_EQ(contexts, cxstack_ix);
    EXPECT_LT(PL_sv_count - values, 100) << "values leaked by failed methods";
    EXPECT_EQ(1001, [counter add: 1000 to: 1]);
    EXPECT_EQ(2, PerlInt("1 + 1"));
}

/*
 * Objective-C -> Perl method -> Objective-C (-> Perl method): what fails
 * in the inner Objective-C code and Perl lets through reaches the outer
 * caller as the very exception raised; a die in the innermost Perl
 * method reaches it as that method's "Perl Error".  A failure the Perl
 * method caught is its own business: its next, unrelated die is a Perl
 * Error of its own.
 */
TEST_F(PerlClass, ExceptionsCrossTwoLevelsAsThemselves)
{
    Counter counter = WithCount(0);
    NSArray *empty = [NSArray array];
    std::string raised = Raised([&] { [counter element: empty at: 3]; });
    EXPECT_EQ(0u, raised.find("NSRangeException: ")) << raised;

    NSException *kept = [NSException exceptionWithName: @"KeptException" reason: @"kept"
	userInfo: nil];
    PerlClassTestThrower *thrower = [[[PerlClassTestThrower alloc] initWithException: kept]
	autorelease];
    id caught = nil;
    @try {
	[counter relay: thrower];
    } @catch (id exception) {
	caught = exception;
    }
    EXPECT_EQ(kept, caught) << "the original exception object";

    NSArray *good = [NSArray arrayWithObjects: WithCount(2), WithCount(1), nil];
    NSArray *sorted = [counter sorted: good];
    ASSERT_EQ(2u, [sorted count]);
    EXPECT_EQ(1, CountOf([sorted objectAtIndex: 0]));
    NSArray *bad = [NSArray arrayWithObjects: WithCount(2), WithCount(-1), nil];
    EXPECT_EQ("Perl Error: -[Counter compare:]: cannot compare a negative count\n",
	    Raised([&] { [counter sorted: bad]; }));

    EXPECT_STREQ("NSRangeException", [[counter failureName: empty at: 3] UTF8String]);
    EXPECT_EQ("Perl Error: -[Counter boom:]: boom 1\n", Raised([&] { [counter boom: 1]; }));
    EXPECT_EQ(3, [counter add: 1 to: 2]);
}

/*
 * Releasing the last reference from Objective-C runs the Perl dealloc
 * and frees that instance's Perl data, not another's.
 */
TEST_F(PerlClass, ReleaseRunsThePerlDeallocAndFreesThePerlData)
{
    Perl("@Counter::Token::destroyed = (); 1");
    int deallocated = PerlInt("$Counter::deallocated");
    Counter first = Make();
    Counter second = Make();
    [first keep: 41];
    [second keep: 42];
    EXPECT_EQ("", Perl("join ',', @Counter::Token::destroyed"));

    [(id) first release];
    EXPECT_EQ(deallocated + 1, PerlInt("$Counter::deallocated"));
    EXPECT_EQ("41", Perl("join ',', @Counter::Token::destroyed"));

    [(id) second release];
    EXPECT_EQ(deallocated + 2, PerlInt("$Counter::deallocated"));
    EXPECT_EQ("41,42", Perl("join ',', @Counter::Token::destroyed"));

    /* An autoreleased instance goes when its pool is drained. */
    NSAutoreleasePool *inner = [[NSAutoreleasePool alloc] init];
    [WithCount(1) keep: 43];
    EXPECT_EQ(deallocated + 2, PerlInt("$Counter::deallocated"));
    [inner release];
    EXPECT_EQ(deallocated + 3, PerlInt("$Counter::deallocated"));
    EXPECT_EQ("41,42,43", Perl("join ',', @Counter::Token::destroyed"));
}

}  // namespace
