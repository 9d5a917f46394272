/*
 * ForwardingCacheTest.mm --
 *
 *	The generic message send to receivers that answer through
 *	forwarding, whose signatures the forwarding cache keeps per (class,
 *	selector): repeated sends, classes and instances that answer the same
 *	selector with other signatures or other -isProxy answers, classes
 *	that gain a real method later, classes declared to answer alike for
 *	every instance, and forgetting one class.  The type table's values
 *	are raw bytes, as in MsgSendTest.mm.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqOsmo.h"
#include "CTypes.h"
#include "ForwardingCache.h"
#include "MsgSend.h"
#include "RuntimeChange.h"
#include "TypeEncoding.h"
#include "ByteValues.h"
#include "TargetProxy.h"

#include <objc/runtime.h>
#include <string.h>
#include <string>
#include <vector>

/* Times a forwarder below was asked for a signature, and -isProxy. */
static int asks;
static int proxyAsks;

/* The signature for -scaled: that each kind of forwarder gives. */
enum Answer { ANSWER_INT, ANSWER_DOUBLE, ANSWER_NONE };

static NSMethodSignature *
SignatureFor(enum Answer answer)
{
    switch (answer) {
    case ANSWER_INT:
	return [NSMethodSignature signatureWithObjCTypes: "i@:i"];
    case ANSWER_DOUBLE:
	return [NSMethodSignature signatureWithObjCTypes: "d@:d"];
    default:
	return nil;
    }
}

/* Answers -scaled: only through forwarding: int in, int out, times
 * three; or, per instance, double in, double out, halved; or nothing. */
@interface FwdScaler : NSObject
{
  @public
    enum Answer answer;
}
@end

@implementation FwdScaler
- (BOOL) isProxy
{
    proxyAsks++;
    return NO;
}

- (NSMethodSignature *) methodSignatureForSelector: (SEL)selector
{
    if (sel_isEqual(selector, @selector(scaled:))) {
	asks++;
	return SignatureFor(answer);
    }
    return [super methodSignatureForSelector: selector];
}

- (void) forwardInvocation: (NSInvocation *)invocation
{
    if (*[[invocation methodSignature] methodReturnType] == 'd') {
	double x;
	[invocation getArgument: &x atIndex: 2];
	double result = x / 2;
	[invocation setReturnValue: &result];
    } else {
	int x;
	[invocation getArgument: &x atIndex: 2];
	int result = x * 3;
	[invocation setReturnValue: &result];
    }
}
@end

/* Another class, whose instances all answer -scaled: with doubles. */
@interface FwdHalver : FwdScaler
@end
@implementation FwdHalver
- (id) init
{
    if ((self = [super init]) != nil) {
	answer = ANSWER_DOUBLE;
    }
    return self;
}
@end

/* Declared to answer alike for every instance; what they answer is the
 * class's, switched by the tests. */
static enum Answer classWideAnswer = ANSWER_INT;

@interface FwdClassWide : FwdScaler
@end
@implementation FwdClassWide
- (NSMethodSignature *) methodSignatureForSelector: (SEL)selector
{
    answer = classWideAnswer;
    return [super methodSignatureForSelector: selector];
}
@end

/* Declared to answer alike too; its instances always answer doubles. */
@interface FwdClassWideHalver : FwdHalver
@end
@implementation FwdClassWideHalver
@end

/* Declared to answer alike; its instances always answer ints. */
@interface FwdClassWideTripler : FwdScaler
@end
@implementation FwdClassWideTripler
@end

/* A proxy whose signatures are its target's. */
@interface FwdProxyTarget : NSObject
- (int) scaled: (int)x;
@end
@implementation FwdProxyTarget
- (int) scaled: (int)x { return x + 1000; }
@end

/* The real -scaled: that classes gain at run time: double in and out,
 * times five, so a send made with the forwarded signature (int) would
 * read the wrong register and answer something else. */
static double
RealScaled(id, SEL, double x)
{
    return x * 5;
}

/* A class made at run time (or the one made before under that name), so
 * that methods can be added to it without touching the classes of other
 * tests. */
static Class
MakeRuntimeClass(Class superclass, const char *name)
{
    Class cls = objc_getClass(name);
    if (cls == Nil) {
	cls = objc_allocateClassPair(superclass, name, 0);
	objc_registerClassPair(cls);
    }
    return cls;
}

class ForwardingCache : public testing::Test {
protected:
    Tcl_DString errors;
    NSAutoreleasePool *pool;

    void SetUp() override
    {
	BqOsmo_Init();
	Tcl_DStringInit(&errors);
	pool = [[NSAutoreleasePool alloc] init];
    }
    void TearDown() override
    {
	[pool release];
	Tcl_DStringFree(&errors);
    }
    std::string Errors() { return Tcl_DStringValue(&errors); }

    static CTypeTable *Table()
    {
	static CTypeTable *table = BqOsmo_NewCTypeTable("ForwardingCacheTest", NULL, NULL,
		NULL, NULL, NULL, BytesToC, BytesFromC, 0);
	return table;
    }

    /* Sends -scaled: with one argument; answers the send's code. */
    int Scaled(id receiver, Value argument, Value *result)
    {
	void *argv[3] = { NULL, NULL, &argument };
	return BqOsmo_MsgSend(NULL, &errors, Table(), BQ_SEND_MESSAGE, receiver,
		@selector(scaled:), NULL, 3, argv, result);
    }

    /* Sends -scaled: with an int and answers the int result (-1 and the
     * message recorded as a failure when the send fails). */
    int ScaledInt(id receiver, int x)
    {
	Value result;
	if (Scaled(receiver, V(x), &result) != 0) {
	    ADD_FAILURE() << Errors();
	    return -1;
	}
	return As<int>(result);
    }

    double ScaledDouble(id receiver, double x)
    {
	Value result;
	if (Scaled(receiver, V(x), &result) != 0) {
	    ADD_FAILURE() << Errors();
	    return -1;
	}
	return As<double>(result);
    }
};

TEST_F(ForwardingCache, RepeatedSendsAndOtherSignatures)
{
    FwdScaler *ints = [[[FwdScaler alloc] init] autorelease];
    FwdScaler *doubles = [[[FwdScaler alloc] init] autorelease];
    doubles->answer = ANSWER_DOUBLE;
    FwdHalver *halver = [[[FwdHalver alloc] init] autorelease];

    /* What a first send learned is used by the next ones. */
    proxyAsks = 0;
    for (int round = 0; round < 3; round++) {
	EXPECT_EQ(3 * round, ScaledInt(ints, round));
    }
    EXPECT_GE(1, proxyAsks) << "-isProxy asked by the first send at most";

    for (int round = 0; round < 5; round++) {
	EXPECT_EQ(42 + 3 * round, ScaledInt(ints, 14 + round)) << "round " << round;
	EXPECT_EQ(1.25 + round, ScaledDouble(halver, 2.5 + 2 * round))
		<< "another class, the same selector, another signature";
	EXPECT_EQ(3.5, ScaledDouble(doubles, 7.0))
		<< "an instance of the first class that answers another signature";
	EXPECT_EQ(-30, ScaledInt(ints, -10));
    }

    /* An instance that answers no signature fails, between sends that
     * succeed. */
    FwdScaler *silent = [[[FwdScaler alloc] init] autorelease];
    silent->answer = ANSWER_NONE;
    Value result;
    EXPECT_EQ(1, Scaled(silent, V(1), &result));
    EXPECT_EQ("FwdScaler does not respond to -scaled: (no method signature)", Errors());
    Tcl_DStringSetLength(&errors, 0);
    EXPECT_EQ(9, ScaledInt(ints, 3));
    EXPECT_EQ(1, Scaled(silent, V(1), &result));
    EXPECT_EQ("FwdScaler does not respond to -scaled: (no method signature)", Errors());
}

TEST_F(ForwardingCache, ProxiesStayProxies)
{
    FwdProxyTarget *target = [[[FwdProxyTarget alloc] init] autorelease];
    TargetProxy *proxy = [[TargetProxy alloc] initWithTarget: target];
    FwdHalver *halver = [[[FwdHalver alloc] init] autorelease];
    TargetProxy *ofHalver = [[TargetProxy alloc] initWithTarget: halver];
    for (int round = 0; round < 3; round++) {
	Value result;
	ASSERT_EQ(0, Scaled(proxy, V(5), &result)) << Errors();
	EXPECT_EQ(1005, As<int>(result));
	EXPECT_EQ(BQ_QUAL_RESULT | BQ_QUAL_OWNED, result.qualifiers)
		<< "results from proxies are owned, round " << round;

	/* A proxy and an object of another class that answer the same
	 * signature: each keeps its own -isProxy answer. */
	ASSERT_EQ(0, Scaled(ofHalver, V(9.0), &result)) << Errors();
	EXPECT_EQ(4.5, As<double>(result)) << "a proxy of the same class, whose target "
		"answers another signature";
	EXPECT_EQ(BQ_QUAL_RESULT | BQ_QUAL_OWNED, result.qualifiers);
	ASSERT_EQ(0, Scaled(halver, V(9.0), &result)) << Errors();
	EXPECT_EQ(4.5, As<double>(result));
	EXPECT_EQ(BQ_QUAL_RESULT, result.qualifiers) << "no proxy, round " << round;
    }
    [ofHalver release];
    [proxy release];
}

TEST_F(ForwardingCache, RealMethodAddedLaterIsUsed)
{
    Class learner = MakeRuntimeClass([FwdScaler class], "FwdLearner");
    id object = [[[learner alloc] init] autorelease];
    for (int round = 0; round < 3; round++) {
	EXPECT_EQ(6, ScaledInt(object, 2)) << "forwarded, round " << round;
    }
    ASSERT_TRUE(class_addMethod(learner, @selector(scaled:), (IMP) RealScaled, "d@:d"));
    for (int round = 0; round < 3; round++) {
	EXPECT_EQ(12.5, ScaledDouble(object, 2.5)) << "the method, round " << round;
    }

    /* A method a superclass gains reaches its subclasses too. */
    Class base = MakeRuntimeClass([FwdScaler class], "FwdLearnerBase");
    Class child = MakeRuntimeClass(base, "FwdLearnerChild");
    id young = [[[child alloc] init] autorelease];
    EXPECT_EQ(15, ScaledInt(young, 5));
    EXPECT_EQ(15, ScaledInt(young, 5));
    ASSERT_TRUE(class_addMethod(base, @selector(scaled:), (IMP) RealScaled, "d@:d"));
    EXPECT_EQ(5.0, ScaledDouble(young, 1.0));
}

/* Asks counted while fn runs. */
template <typename Fn>
static int
AsksDuring(Fn fn)
{
    asks = 0;
    fn();
    return asks;
}

TEST_F(ForwardingCache, ClassWideSignatures)
{
    BqOsmo_SetClassWideSignatures([FwdClassWide class]);
    BqOsmo_SetClassWideSignatures([FwdClassWideHalver class]);
    classWideAnswer = ANSWER_INT;
    FwdClassWide *first = [[[FwdClassWide alloc] init] autorelease];
    FwdClassWide *second = [[[FwdClassWide alloc] init] autorelease];
    FwdClassWideHalver *halver = [[[FwdClassWideHalver alloc] init] autorelease];
    FwdScaler *asked = [[[FwdScaler alloc] init] autorelease];

    /* Two declared classes, one selector, two signatures: neither uses
     * the other's. */
    for (int round = 0; round < 3; round++) {
	EXPECT_EQ(3 * round, ScaledInt(round % 2 ? first : second, round));
	EXPECT_EQ(0.5 * round, ScaledDouble(halver, round)) << "round " << round;
	EXPECT_EQ(3 * round, ScaledInt(asked, round));
    }

    /* The forwarding machinery asks each receiver what it asks; the send
     * asks the declared ones nothing more. */
    const int sends = 10;
    int classWideAsks = AsksDuring([&] {
	for (int i = 0; i < sends; i++) {
	    EXPECT_EQ(3 * i, ScaledInt(i % 2 ? first : second, i));
	}
    });
    int perSendAsks = AsksDuring([&] {
	for (int i = 0; i < sends; i++) {
	    EXPECT_EQ(3 * i, ScaledInt(asked, i));
	}
    });
    EXPECT_EQ(sends, perSendAsks - classWideAsks) << "one question less per send";

    /* A change counted makes the send ask again. */
    classWideAnswer = ANSWER_DOUBLE;
    BqOsmo_NoteRuntimeChange();
    EXPECT_EQ(0.75, ScaledDouble(second, 1.5));
    EXPECT_EQ(0.5, ScaledDouble(first, 1.0));
    classWideAnswer = ANSWER_INT;
    BqOsmo_NoteRuntimeChange();
    EXPECT_EQ(21, ScaledInt(first, 7));
}

TEST_F(ForwardingCache, ManyClassesOneSelector)
{
    /* More classes than the cache has places, half answering ints, half
     * doubles, declared to answer alike so that nothing but the class
     * tells their messages apart: none uses another's signature. */
    BqOsmo_SetClassWideSignatures([FwdClassWideTripler class]);
    BqOsmo_SetClassWideSignatures([FwdClassWideHalver class]);
    const int pairs = 400;
    std::vector<id> triplers, halvers;
    for (int i = 0; i < pairs; i++) {
	std::string name = "FwdManyTripler" + std::to_string(i);
	Class tripler = MakeRuntimeClass([FwdClassWideTripler class], name.c_str());
	name = "FwdManyHalver" + std::to_string(i);
	Class halver = MakeRuntimeClass([FwdClassWideHalver class], name.c_str());
	triplers.push_back([[[tripler alloc] init] autorelease]);
	halvers.push_back([[[halver alloc] init] autorelease]);
    }
    for (int round = 0; round < 2; round++) {
	for (int i = 0; i < pairs; i++) {
	    ASSERT_EQ(3 * i, ScaledInt(triplers[i], i)) << "class " << i << ", round " << round;
	    ASSERT_EQ(0.5 * i, ScaledDouble(halvers[i], i)) << "class " << i << ", round "
		    << round;
	}
    }
}

TEST_F(ForwardingCache, ForgettingOneClass)
{
    BqOsmo_SetClassWideSignatures([FwdClassWide class]);
    BqOsmo_SetClassWideSignatures([FwdClassWideHalver class]);
    classWideAnswer = ANSWER_INT;
    FwdClassWide *changing = [[[FwdClassWide alloc] init] autorelease];
    FwdClassWideHalver *halver = [[[FwdClassWideHalver alloc] init] autorelease];
    EXPECT_EQ(6, ScaledInt(changing, 2));
    EXPECT_EQ(1.0, ScaledDouble(halver, 2.0));
    int machineryAsks = AsksDuring([&] { EXPECT_EQ(1.0, ScaledDouble(halver, 2.0)); });

    /* The class changes its answer and is forgotten: its next send asks
     * and uses the new signature; the other class is not asked. */
    classWideAnswer = ANSWER_DOUBLE;
    BqOsmo_ForgetForwarding([FwdClassWide class]);
    EXPECT_EQ(machineryAsks + 1, AsksDuring([&] {
	EXPECT_EQ(1.25, ScaledDouble(changing, 2.5));
    }));
    EXPECT_EQ(machineryAsks, AsksDuring([&] { EXPECT_EQ(1.5, ScaledDouble(halver, 3.0)); }))
	    << "another class's message is kept";
    EXPECT_EQ(machineryAsks, AsksDuring([&] { EXPECT_EQ(2.0, ScaledDouble(changing, 4.0)); }));

    /* Forgetting a superclass forgets its subclasses. */
    classWideAnswer = ANSWER_INT;
    BqOsmo_ForgetForwarding([FwdScaler class]);
    EXPECT_EQ(machineryAsks + 1, AsksDuring([&] { EXPECT_EQ(12, ScaledInt(changing, 4)); }));
    EXPECT_EQ(machineryAsks + 1, AsksDuring([&] {
	EXPECT_EQ(1.5, ScaledDouble(halver, 3.0));
    }));

    /* Nil forgets every class. */
    BqOsmo_ForgetForwarding(Nil);
    EXPECT_EQ(machineryAsks + 1, AsksDuring([&] { EXPECT_EQ(15, ScaledInt(changing, 5)); }));
}
