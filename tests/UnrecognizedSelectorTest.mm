/*
 * UnrecognizedSelectorTest.mm --
 *
 *	Messages no method answers: what the root classes' handlers log and
 *	raise under both settings of use_ns_exceptions, that the message send
 *	reaches them whether or not Foundation knows a signature for the
 *	selector, and that forwarding a class does itself is left alone.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqOsmo.h"
#include "BqOsmoSupport.h"

#include <objc/message.h>
#include <stdarg.h>
#include <stdio.h>
#include <string>

@interface UnrTarget : NSObject
@end
@implementation UnrTarget
@end

/* The one class with a method of this name, so Foundation knows the
 * selector's signature when others are sent it. */
@interface UnrElsewhere : NSObject
- (int) unrDeclaredElsewhere;
@end
@implementation UnrElsewhere
- (int) unrDeclaredElsewhere { return 1; }
@end

/* A root-class (Object) instance, as GCC's runtime defines the root. */
@interface UnrPlainObject : Object
@end
@implementation UnrPlainObject
@end

/* Forwards everything it lacks to a string. */
@interface UnrForwarder : NSObject
@end
@implementation UnrForwarder
- (NSMethodSignature *) methodSignatureForSelector: (SEL)selector
{
    NSMethodSignature *signature = [super methodSignatureForSelector: selector];
    return signature != nil ? signature : [@"forwarded" methodSignatureForSelector: selector];
}
- (void) forwardInvocation: (NSInvocation *)invocation
{
    [invocation invokeWithTarget: @"forwarded"];
}
@end

static std::string capturedLog;

static void
CaptureLog(const char *format, ...)
{
    char buffer[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buffer, sizeof buffer, format, ap);
    va_end(ap);
    capturedLog += buffer;
}

/* What a test sends: a receiver and a selector, through the runtime's
 * own lookup, the way compiled code and the message send do. */
struct Send {
    id receiver;
    SEL selector;
};

static void
SendWithoutArguments(void *context)
{
    Send *send = (Send *) context;
    IMP imp = objc_msg_lookup(send->receiver, send->selector);
    ((id (*)(id, SEL)) imp)(send->receiver, send->selector);
}

class UnrecognizedSelector : public testing::Test {
protected:
    void SetUp() override
    {
	previousLog = BqOsmo_SetLogErrorFunction(CaptureLog);
	capturedLog.clear();
	useNSExceptions = BQ_CONTROL(use_ns_exceptions);
    }

    void TearDown() override
    {
	BqOsmo_SetLogErrorFunction(previousLog);
	BQ_CONTROL(use_ns_exceptions) = useNSExceptions;
    }

    /* Sends selector to receiver under a guard; answers the code caught
     * and the message (the runtime error's text or the exception's
     * reason), with the exception's name for coded exceptions. */
    int Caught(id receiver, const char *selectorName, std::string *message, std::string *name)
    {
	Send send = { receiver, sel_registerName(selectorName) };
	KxErrorInfo error;
	int code = KxGuard(SendWithoutArguments, &send, &error);
	message->clear();
	name->clear();
	if (code >= KX_CODE_OWN_FIRST && code <= KX_CODE_OWN_LAST) {
	    *message = (const char *) error.data1;
	} else if (code != 0) {
	    NSException *e = (NSException *) error.exception;
	    *message = [[e reason] UTF8String];
	    *name = [[e name] UTF8String];
	}
	KxErrorInfoClear(&error);
	return code;
    }

    BqOsmo_LogErrorFunction previousLog;
    unsigned char useNSExceptions;
};

TEST_F(UnrecognizedSelector, InstanceRaisesRuntimeErrorByDefault)
{
    UnrTarget *target = [[UnrTarget alloc] init];
    std::string expected = std::string("instance ") + Glisk_RegisterObject(target)
	    + " does not respond to unrNoSuchSelector:";
    BQ_CONTROL(use_ns_exceptions) = 0;
    std::string message, name;
    EXPECT_EQ(BQ_OSMO_DOESNOTRECOGNIZE_ERROR, Caught(target, "unrNoSuchSelector:", &message, &name));
    EXPECT_EQ(expected, message);
    EXPECT_EQ(expected + "\n", capturedLog);
    [target release];
}

TEST_F(UnrecognizedSelector, InstanceRaisesCodedExceptionWhenAsked)
{
    UnrTarget *target = [[UnrTarget alloc] init];
    BQ_CONTROL(use_ns_exceptions) = 1;
    std::string message, name;
    EXPECT_EQ(BQ_OSMO_DOESNOTRECOGNIZE_NS, Caught(target, "unrNoSuchSelector:", &message, &name));
    EXPECT_EQ("OSMO_DOESNOTRECOGNIZE_EXCEPTION", name);
    EXPECT_EQ(std::string("instance ") + Glisk_RegisterObject(target)
	    + " does not respond to unrNoSuchSelector:", message);
    [target release];
}

TEST_F(UnrecognizedSelector, SelectorsWithKnownSignaturesGoThroughForwarding)
{
    /* Foundation finds the signature and forwards; NSObject's
     * -forwardInvocation: then ends in the handler. */
    UnrTarget *target = [[UnrTarget alloc] init];
    std::string message, name;
    EXPECT_EQ(BQ_OSMO_DOESNOTRECOGNIZE_ERROR, Caught(target, "unrDeclaredElsewhere", &message, &name));
    EXPECT_EQ(std::string("instance ") + Glisk_RegisterObject(target)
	    + " does not respond to unrDeclaredElsewhere", message);
    /* Selectors declared with several signatures have none Foundation can
     * choose; they end in the handler all the same. */
    EXPECT_EQ(BQ_OSMO_DOESNOTRECOGNIZE_ERROR, Caught(target, "count", &message, &name));
    [target release];
}

TEST_F(UnrecognizedSelector, ClassReceiver)
{
    std::string message, name;
    EXPECT_EQ(BQ_OSMO_DOESNOTRECOGNIZE_ERROR,
	    Caught((id) [UnrTarget class], "unrNoSuchClassSelector", &message, &name));
    EXPECT_EQ("class UnrTarget does not respond to unrNoSuchClassSelector", message);
}

TEST_F(UnrecognizedSelector, RootObjectInstanceAndClass)
{
    /* Object's -class answers a class's metaclass, so ask the runtime. */
    Class plainClass = objc_lookUpClass("UnrPlainObject");
    id plain = class_createInstance(plainClass, 0);
    ASSERT_NE(nil, plain);
    std::string expected = std::string("Instance ") + Glisk_RegisterObject(plain)
	    + " does not respond to unrNoSuchSelector.";
    std::string message, name;
    EXPECT_EQ(BQ_OSMO_DOESNOTRECOGNIZE_ERROR, Caught(plain, "unrNoSuchSelector", &message, &name));
    EXPECT_EQ(expected, message);
    EXPECT_EQ(expected + "\n", capturedLog);
    Glisk_UnregisterObject(plain);
    object_dispose(plain);

    BQ_CONTROL(use_ns_exceptions) = 1;
    EXPECT_EQ(BQ_OSMO_DOESNOTRECOGNIZE_NS,
	    Caught((id) plainClass, "count", &message, &name));
    EXPECT_EQ("OSMO_DOESNOTRECOGNIZE_EXCEPTION", name);
    EXPECT_EQ("Class UnrPlainObject does not respond to count.", message);
}

TEST_F(UnrecognizedSelector, DirectCallNamesReceiverAndSelector)
{
    Send send = { (id) [UnrTarget class], @selector(description) };
    KxErrorInfo error;
    EXPECT_EQ(BQ_OSMO_DOESNOTRECOGNIZE_ERROR, KxGuard([](void *context) {
	Send *s = (Send *) context;
	BqOsmo_DoesNotRecognizeSelector(s->receiver, s->selector);
    }, &send, &error));
    EXPECT_STREQ("class UnrTarget does not respond to description", (const char *) error.data1);
    KxErrorInfoClear(&error);
}

TEST_F(UnrecognizedSelector, ForwardingClassesKeepForwarding)
{
    UnrForwarder *forwarder = [[UnrForwarder alloc] init];
    EXPECT_EQ(9u, [(id) forwarder length]) << "the message reached the string";
    std::string message, name;
    EXPECT_EQ(BQ_OSMO_DOESNOTRECOGNIZE_ERROR, Caught(forwarder, "unrNoSuchSelector:", &message, &name))
	<< "a selector with no signature anywhere still ends in the handler";
    [forwarder release];
}

TEST_F(UnrecognizedSelector, RootObjectQueriesNotAvailable)
{
    EXPECT_FALSE([UnrPlainObject reallyConformsTo: nil]);
    EXPECT_EQ("UnrPlainObject: -reallyConformsTo: not available\n", capturedLog);
    capturedLog.clear();
    EXPECT_EQ(nil, [UnrPlainObject importBehavior: [UnrPlainObject class]]);
    EXPECT_EQ(nil, [UnrPlainObject importImplementation: [UnrPlainObject class]]);
    EXPECT_EQ("UnrPlainObject: -importBehavior: not available\n"
	      "UnrPlainObject: -importImplementation: not available\n", capturedLog);
}
