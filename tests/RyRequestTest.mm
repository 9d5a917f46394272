/*
 * RyRequestTest.mm --
 *
 *	The parts of the request cycle that carriers and applications use
 *	directly: decoding of URIs and form bodies (malformed input
 *	included), response headers, the names
 *	that may reach files of an application's folder, the dictionary
 *	controller, and the current application.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "RyRequest.h"
#include "RyResponse.h"
#include "RyVellumApplication.h"
#include "RyVellumComponentController.h"

#include <stdlib.h>

#include <string>

/* Whether two objects (or nils) are equal. */
#define EXPECT_NSEQ(expected, actual) \
    EXPECT_TRUE([(expected) isEqual: (actual)]) << [[(actual) description] UTF8String]

namespace {

/* The name of the exception body raises, or "none". */
template <typename Body>
std::string
RaisedBy(Body body)
{
    @try {
	body();
    } @catch (NSException *e) {
	return [[e name] UTF8String];
    }
    return "none";
}

NSString *
Decoded(NSString *text)
{
    return RyPercentDecode(text);
}

} // namespace

TEST(RyRequest, PercentDecodingKeepsMalformedTextAsWritten)
{
    @autoreleasepool {
	EXPECT_NSEQ(@"/A b", Decoded(@"/%41%20b"));
	EXPECT_NSEQ(@"caf\u00e9+x", Decoded(@"caf%C3%a9+x"));
	EXPECT_NSEQ(@"a\0b", Decoded(@"a%00b"));
	/* Malformed escapes and bytes that are no UTF-8: unchanged. */
	for (NSString *text in [NSArray arrayWithObjects: @"%", @"%4", @"a%4g", @"%zz%41",
				@"%ff", @"%C3", @"%C3%28", @"%41%", @"", nil]) {
	    EXPECT_NSEQ(text, Decoded(text));
	}
	EXPECT_EQ(nil, Decoded(nil));
    }
}

TEST(RyRequest, FormTextsParseWhateverTheyHold)
{
    @autoreleasepool {
	NSDictionary *pairs = RyParseURLEncoded(
	    @"a=1&b=x+y%21&flag&=v&d=%ZZ%41&e=%ff&&a=2&f=%C3%A9=&g%3D=h&%zz");
	NSDictionary *expected = [NSDictionary dictionaryWithObjectsAndKeys:
	    @"2", @"a", @"x y!", @"b", @"", @"flag", @"v", @"", @"%ZZA", @"d",
	    @"%ff", @"e", @"\u00e9=", @"f", @"h", @"g=", @"", @"%zz", nil];
	EXPECT_NSEQ(expected, pairs);
	EXPECT_EQ(0u, [RyParseURLEncoded(nil) count]);
	EXPECT_EQ(0u, [RyParseURLEncoded(@"") count]);
	EXPECT_EQ(0u, [RyParseURLEncoded(@"&&&") count]);
	/* Every character, as it is and escaped, parses without raising. */
	for (int c = 1; c < 256; c++) {
	    NSString *raw = [NSString stringWithFormat: @"k%C=%%%02X%C", (unichar) c, c, (unichar) c];
	    NSDictionary *parsed = nil;
	    EXPECT_NO_THROW(parsed = RyParseURLEncoded(raw)) << c;
	    EXPECT_LE(1u, [parsed count]) << c;
	}
    }
}

TEST(RyRequest, RequestsSplitTheirURIAndCheckTheirValues)
{
    @autoreleasepool {
	RyRequest *request = [RyRequest requestWithMethod: @"post"
						      URI: @"/Ma%69n?r=2&a=1&x=%3F?"
					       formValues: [NSDictionary dictionaryWithObjectsAndKeys:
							       @"form", @"x", @"y", @"y", nil]
						  cookies: nil];
	EXPECT_NSEQ(@"POST", [request method]);
	EXPECT_NSEQ(@"/Main", [request path]);
	EXPECT_NSEQ(@"Main", [request componentName]);
	EXPECT_NSEQ(@"??", [[request queryValues] objectForKey: @"x"]);
	EXPECT_NSEQ(@"form", [request valueForField: @"x"]);
	EXPECT_NSEQ(@"2", [request valueForField: @"r"]);
	EXPECT_EQ(nil, [request valueForField: @"z"]);
	EXPECT_EQ(nil, [request cookieForName: RySessionCookieName]);

	/* A number stands for its text (scripts pass 1 for a checkbox);
	 * other objects are refused. */
	NSDictionary *numbers = [NSDictionary dictionaryWithObject: [NSNumber numberWithInt: 1]
							    forKey: @"n"];
	EXPECT_NSEQ(@"1", [[RyRequest requestWithMethod: @"GET" URI: @"/" formValues: numbers
					    cookies: nil] valueForField: @"n"]);
	NSDictionary *arrays = [NSDictionary dictionaryWithObject: [NSArray array] forKey: @"n"];
	EXPECT_EQ("NSInvalidArgumentException", RaisedBy([&] {
	    [RyRequest requestWithMethod: @"GET" URI: @"/" formValues: arrays cookies: nil];
	}));
	EXPECT_EQ("NSInvalidArgumentException", RaisedBy([&] {
	    [RyRequest requestWithMethod: @"GET" URI: @"/" formValues: nil cookies: arrays];
	}));
	EXPECT_EQ("NSInvalidArgumentException", RaisedBy([&] {
	    [RyRequest requestWithMethod: @"GET" URI: nil formValues: nil cookies: nil];
	}));
    }
}

TEST(RyRequest, ResponsesGiveTheirHeadersAndRefuseSplitOnes)
{
    @autoreleasepool {
	RyResponse *response = [[[RyResponse alloc] init] autorelease];
	EXPECT_EQ(200, [response status]);
	[response addHeader: @"X-One" value: @"1"];
	[response setSessionId: @"0123456789abcdef0123456789abcdef" setCookie: NO];
	NSArray *plain = [NSArray arrayWithObjects: @"Content-Type", @"text/html; charset=utf-8",
	    @"X-One", @"1", nil];
	EXPECT_NSEQ(plain, [response headers]);
	[response setSessionId: @"0123456789abcdef0123456789abcdef" setCookie: YES];
	EXPECT_NSEQ(@"ry_session=0123456789abcdef0123456789abcdef; Path=/; HttpOnly; SameSite=Lax",
	    [[response headers] lastObject]);

	for (NSString *bad in [NSArray arrayWithObjects: @"a\r\nSet-Cookie: x", @"a\nb",
			       @"a\0b", nil]) {
	    EXPECT_EQ("NSInvalidArgumentException", RaisedBy([&] {
		[response addHeader: @"X-Bad" value: bad];
	    }));
	    EXPECT_EQ("NSInvalidArgumentException", RaisedBy([&] {
		[response addHeader: bad value: @"v"];
	    }));
	}
	EXPECT_EQ(6u, [[response headers] count]);

	[response appendContent: @"caf\u00e9"];
	EXPECT_EQ(5u, [[response contentData] length]);
    }
}

TEST(RyRequest, ApplicationFoldersOnlyServeCheckedNames)
{
    @autoreleasepool {
	char pattern[] = "/tmp/ry-app-XXXXXX";
	ASSERT_NE(nullptr, mkdtemp(pattern));
	NSString *root = [NSString stringWithUTF8String: pattern];
	NSFileManager *files = [NSFileManager defaultManager];
	NSString *main = [root stringByAppendingPathComponent: @"Main"];
	[files createDirectoryAtPath: main withIntermediateDirectories: NO attributes: nil error: NULL];
	[@"m" writeToFile: [main stringByAppendingPathComponent: @"Main.html"] atomically: NO
		 encoding: NSUTF8StringEncoding error: NULL];
	[@"s" writeToFile: [root stringByAppendingPathComponent: @"secret.txt"] atomically: NO
		 encoding: NSUTF8StringEncoding error: NULL];
	[@"h" writeToFile: [main stringByAppendingPathComponent: @".hidden"] atomically: NO
		 encoding: NSUTF8StringEncoding error: NULL];

	RyVellumApplication *app = [[[RyVellumApplication alloc] initWithRoot: root] autorelease];
	EXPECT_NSEQ([root lastPathComponent], [app applicationName]);
	EXPECT_NSEQ([root stringByAppendingPathComponent: @"public"], [app publicDirectory]);
	EXPECT_NSEQ([main stringByAppendingPathComponent: @"Main.html"],
	    [app templatePathForComponentWithName: @"Main"]);
	EXPECT_TRUE([[app controllerForComponentWithName: @"Main"]
	    isKindOfClass: [RyVellumComponentController class]]);
	RyBundle *bundle = [app bundleForComponentWithName: @"Main"];
	EXPECT_NSEQ(main, [bundle directory]);
	EXPECT_NSEQ([root stringByAppendingPathComponent: @"secret.txt"],
	    [app pathForResource: @"secret" ofType: @"txt"]);

	for (NSString *name in [NSArray arrayWithObjects: @"../Main", @"Main/", @".", @"..",
				@"1Main", @"Ma in", @"", @"public", @"Nowhere", nil]) {
	    EXPECT_EQ(nil, [app bundleForComponentWithName: name]) << [name UTF8String];
	    EXPECT_EQ(nil, [app controllerForComponentWithName: name]) << [name UTF8String];
	}
	EXPECT_EQ(nil, [app bundleForComponentWithName: nil]);
	EXPECT_EQ(nil, [bundle pathForResource: @"../secret" ofType: @"txt"]);
	EXPECT_EQ(nil, [bundle pathForResource: @".hidden" ofType: nil]);
	EXPECT_EQ(nil, [bundle pathForResource: @"Main" ofType: @"html/x"]);
	EXPECT_EQ(nil, [bundle pathForResource: @"Main\0" ofType: @"html"]);
	EXPECT_EQ(nil, [bundle pathForResource: @"Main" ofType: @".html"]);
	EXPECT_EQ(nil, [bundle pathForResource: @"Main" ofType: @"txt"]);
	EXPECT_EQ(nil, [app pathForResource: @"Main" ofType: nil]);	/* a folder */

	EXPECT_EQ("NSInvalidArgumentException", RaisedBy([&] {
	    [[RyVellumApplication alloc] initWithRoot: [root stringByAppendingPathComponent: @"no"]];
	}));
	[files removeItemAtPath: root error: NULL];
    }
}

TEST(RyRequest, DictionaryControllersAndTheCurrentApplication)
{
    @autoreleasepool {
	RyVellumComponentController *controller =
	    [[[RyVellumComponentController alloc] init] autorelease];
	[controller takeValue: @"1" forKey: @"a"];
	[controller setValue: @"2" forKey: @"b"];
	EXPECT_NSEQ(@"1", [controller valueForKey: @"a"]);
	EXPECT_NSEQ(@"2", [[controller variables] objectForKey: @"b"]);
	EXPECT_EQ(nil, [controller valueForKey: @"unknown"]);
	[controller takeValue: nil forKey: @"a"];
	EXPECT_EQ(1u, [[controller variables] count]);
	EXPECT_EQ(nil, [controller actionKeys]);

	RyApplication *first = [[RyApplication alloc] init];
	EXPECT_EQ(first, [RyApplication sharedInstance]);
	RyApplication *second = [[RyApplication alloc] init];
	EXPECT_EQ(second, RyApp);
	[first release];
	EXPECT_EQ(second, RyApp);
	[second release];
	EXPECT_EQ(nil, RyApp);
    }
}
