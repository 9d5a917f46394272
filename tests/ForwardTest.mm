/*
 * ForwardTest.mm --
 *
 *	Messages forwarded from a host object to its Perl object, with a
 *	small host class of the test's own that answers _isVar:,
 *	respondsToSelector:, methodSignatureForSelector: and
 *	forwardInvocation: through the forwarding functions, as the web
 *	framework's components do: which selectors the host answers, Perl
 *	methods by their underscore and capitalised names, accessors of
 *	declared instance variables, compiled sends and invocations, nil
 *	arguments, void results, the selector map, and every error.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqNil.h"
#include "BqPerlObject.h"
#include "BqVantleInterp.h"
#include "DravikForward.h"
#include "EmbeddedPerl.h"
#include "ObjectAssertions.h"
#include "PerlSelectorMap.h"
#include "Vantle.h"

#include <string>

/* The exception name the host passes. */
#define HOST_ERROR @"ForwardTestHost Error"

/* A host whose undeclared messages its Perl object answers. */
@interface ForwardTestHost : NSObject {
    BqPerlObject *_perl;
    NSSet *_vars;
}
- (id) initWithPerlObject: (BqPerlObject *)perl vars: (NSSet *)vars;
- (BOOL) _isVar: (NSString *)key;
@end

@implementation ForwardTestHost
- (id) initWithPerlObject: (BqPerlObject *)perl vars: (NSSet *)vars
{
    if ((self = [super init]) != nil) {
	_perl = [perl retain];
	_vars = [vars retain];
    }
    return self;
}

- (void) dealloc
{
    [_perl release];
    [_vars release];
    [super dealloc];
}

- (BOOL) _isVar: (NSString *)key
{
    return [_vars containsObject: key];
}

- (BOOL) respondsToSelector: (SEL)selector
{
    return [super respondsToSelector: selector]
	|| Dravik_RespondsToSelector(self, _perl, selector);
}

- (NSMethodSignature *) methodSignatureForSelector: (SEL)selector
{
    NSMethodSignature *signature = [super methodSignatureForSelector: selector];
    return signature != nil ? signature
	: Dravik_MethodSignatureForSelector(self, _perl, selector, HOST_ERROR);
}

- (void) forwardInvocation: (NSInvocation *)invocation
{
    Dravik_ForwardInvocation(self, _perl, invocation, HOST_ERROR);
}
@end

/* Messages the host has no methods for, as its callers declare them. */
@protocol ForwardTestMessages
- (id) title;
- (void) setTitle: (id)title;
- (id) foo: (id)a bar: (id)b;
- (id) willPrepareForRequest: (id)request inContext: (id)context;
- (id) addOne: (id)x;
- (id) greeting;
- (id) fail;
- (id) several;
- (id) describe: (id)value;
@end

namespace {

const char *const PACKAGE =
    "package FWTest;\n"
    "sub foo_bar_ { \"underscore $_[1] $_[2]\" }\n"
    "sub fooBar { 'capitalised' }\n"
    "sub willPrepareForRequestInContext { \"capitalised $_[1] $_[2]\" }\n"
    "sub addOne_ { $_[1] + 1 }\n"
    "sub greeting { 'hello ' . ($_[0]{title} // 'nobody') }\n"
    "sub fail { die \"forwarded failure\\n\" }\n"
    "sub several { return (1, 2) }\n"
    "sub describe_ { defined $_[1] ? ref($_[1]) || $_[1] : 'undef' }\n"
    "sub dravikFreshly_made_ { 'fresh' }\n"
    "1;\n";

class ForwardTest : public ::testing::Test {
protected:
    PerlInterpreter *my_perl;
    BqVantleInterp *interp;
    NSAutoreleasePool *pool;
    BqPerlObject *perl;
    ForwardTestHost *host;

    void SetUp() override
    {
	my_perl = EmbeddedPerl();
	pool = [[NSAutoreleasePool alloc] init];
	interp = [BqVantleInterp defaultInterp];
	ENTER;
	SAVETMPS;
	int code = -1;
	[[interp eval: PACKAGE errorCode: &code] free];
	ASSERT_EQ(0, code);
	perl = [[[BqPerlObject alloc] initInInterp: interp stashName: @"FWTest" magic: NO]
		   autorelease];
	host = [[[ForwardTestHost alloc] initWithPerlObject: perl
		vars: [NSSet setWithObjects: @"title", nil]] autorelease];
    }

    void TearDown() override
    {
	FREETMPS;
	LEAVE;
	[pool release];
    }

    id<ForwardTestMessages> Host()
    {
	return (id<ForwardTestMessages>) host;
    }

    /* An invocation of selector with the given types and object
     * arguments, forwarded as the host would; answers its invocation. */
    NSInvocation *Forward(const char *types, const char *selector, NSArray *arguments)
    {
	NSMethodSignature *signature = [NSMethodSignature signatureWithObjCTypes: types];
	NSInvocation *invocation = [NSInvocation invocationWithMethodSignature: signature];
	[invocation setTarget: host];
	[invocation setSelector: sel_registerName(selector)];
	for (NSUInteger i = 0; i < [arguments count]; i++) {
	    id argument = [arguments objectAtIndex: i];
	    if (argument == [NSNull null]) {
		argument = nil;
	    }
	    [invocation setArgument: &argument atIndex: (NSInteger) i + 2];
	}
	Dravik_ForwardInvocation(host, perl, invocation, HOST_ERROR);
	return invocation;
    }

    id Result(NSInvocation *invocation)
    {
	id result = nil;
	[invocation getReturnValue: &result];
	return result;
    }
};

TEST_F(ForwardTest, TheHostAnswersPerlMethodsAndDeclaredAccessors)
{
    EXPECT_TRUE([host respondsToSelector: @selector(foo:bar:)]);
    EXPECT_TRUE([host respondsToSelector: @selector(willPrepareForRequest:inContext:)]);
    EXPECT_TRUE([host respondsToSelector: @selector(greeting)]);
    EXPECT_TRUE([host respondsToSelector: @selector(title)]);
    EXPECT_TRUE([host respondsToSelector: @selector(setTitle:)]);
    EXPECT_FALSE([host respondsToSelector: sel_registerName("setTitle")]) << "a setter takes one";
    EXPECT_FALSE([host respondsToSelector: sel_registerName("title:")]) << "a getter takes none";
    EXPECT_FALSE([host respondsToSelector: sel_registerName("setTitle:again:")]);
    EXPECT_FALSE([host respondsToSelector: sel_registerName("undeclared")]);
    EXPECT_FALSE([host respondsToSelector: sel_registerName("setUndeclared:")]);
    EXPECT_FALSE(Dravik_RespondsToSelector(host, nil, @selector(title)));
    EXPECT_FALSE(Dravik_RespondsToSelector([[[NSObject alloc] init] autorelease], perl,
	    @selector(title))) << "a host that declares nothing";
}

TEST_F(ForwardTest, PerlMethodsAnswerCompiledSends)
{
    EXPECT_TRUE(Equal(@"underscore a b", [Host() foo: @"a" bar: @"b"]))
	<< "foo_bar_ is preferred to fooBar";
    EXPECT_TRUE(Equal(@"capitalised r c", [Host() willPrepareForRequest: @"r" inContext: @"c"]));
    EXPECT_EQ(42, [[Host() addOne: [NSNumber numberWithInt: 41]] intValue]);
    EXPECT_TRUE(Equal(@"undef", [Host() describe: nil])) << "nil reaches Perl as undef";

    auto raised = Raised([&] { [Host() fail]; });
    EXPECT_EQ("Perl Error", raised.first);
    EXPECT_EQ("forwarded failure\n", raised.second);
}

TEST_F(ForwardTest, AccessorsReadAndWriteDeclaredInstanceVariables)
{
    EXPECT_EQ(nil, [Host() title]);
    [Host() setTitle: @"Perl"];
    EXPECT_TRUE(Equal(@"Perl", [Host() title]));
    EXPECT_TRUE(Equal(@"Perl", [perl getIVarValue: "title"]));
    EXPECT_TRUE(Equal(@"hello Perl", [Host() greeting])) << "Perl code sees the entry";

    [perl setRawSet: YES];
    [Host() setTitle: nil];
    EXPECT_TRUE([perl isIVar: "title"]);
    EXPECT_EQ(nil, [perl getIVarValue: "title" raw: YES])
	<< "nil is written, not the shared placeholder";

    NSInvocation *invocation = Forward("v@:@", "setTitle:", [NSArray arrayWithObject: @"void"]);
    EXPECT_TRUE(Equal(@"void", [perl getIVarValue: "title"]));
    EXPECT_EQ(perl, [invocation target]);
}

TEST_F(ForwardTest, SignaturesAreObjectsOnly)
{
    NSMethodSignature *signature = [host methodSignatureForSelector: @selector(foo:bar:)];
    ASSERT_NE(nil, signature);
    EXPECT_EQ(4U, [signature numberOfArguments]);
    EXPECT_EQ('@', *[signature methodReturnType]);
    EXPECT_EQ('@', *[signature getArgumentTypeAtIndex: 3]);
    EXPECT_EQ(2U, [[host methodSignatureForSelector: @selector(title)] numberOfArguments]);

    auto raised = Raised([&] { [host methodSignatureForSelector: sel_registerName("unknown:")]; });
    EXPECT_EQ("ForwardTestHost Error", raised.first);
    EXPECT_EQ("ForwardTestHost (FWTest) instances do not respond to unknown:", raised.second);
}

TEST_F(ForwardTest, BadInvocationsRaiseBeforeAnythingChanges)
{
    [perl setIVar: "title" toValue: @"kept"];
    NSArray *one = [NSArray arrayWithObject: @"x"];
    auto raised = Raised([&] { Forward("i@:@", "addOne:", one); });
    EXPECT_EQ("ForwardTestHost Error", raised.first);
    EXPECT_EQ("non-id return in forward", raised.second);
    raised = Raised([&] { Forward("@@:i", "setTitle:", nil); });
    EXPECT_EQ("non-id argument in forward", raised.second);
    raised = Raised([&] { Forward("@@:@", "setcolor:", one); });
    EXPECT_EQ("get method \"setcolor\" called with 1 arguments", raised.second);
    raised = Raised([&] {
	Forward("@@:@@", "setTitle:again:", [NSArray arrayWithObjects: @"a", @"b", nil]);
    });
    EXPECT_EQ("set method \"setTitleAgain\" called with 2 arguments", raised.second);
    EXPECT_TRUE(Equal(@"kept", [perl getIVarValue: "title"]));
    EXPECT_FALSE([perl isIVar: "titleAgain"]);

    raised = Raised([&] { Forward("@@:", "several", nil); });
    EXPECT_EQ("", raised.first) << "scalar context gives Perl's scalar value";
}

TEST_F(ForwardTest, ForwardedSelectorsEnterTheSelectorMap)
{
    EXPECT_EQ(NULL, VantlePriv_QuickFindSelector("dravikFreshlyMade", 2));
    NSInvocation *invocation = Forward("@@:@@", "dravikFreshly:made:",
	[NSArray arrayWithObjects: @"a", [NSNull null], nil]);
    EXPECT_TRUE(Equal(@"fresh", Result(invocation)));
    EXPECT_EQ(sel_registerName("dravikFreshly:made:"),
	VantlePriv_QuickFindSelector("dravikFreshlyMade", 2));
}

} // namespace
