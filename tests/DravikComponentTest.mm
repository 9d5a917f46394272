/*
 * DravikComponentTest.mm --
 *
 *	Perl-scripted components and applications as the web framework and
 *	host code use them: the order of awake, trace lines, forwarding
 *	from Objective-C, the Perl object's life, Tcl component files run
 *	through a stand-in of the Tcl binding's interpreter class, and Perl
 *	components driven by the framework's request cycle.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqDravikApplication.h"
#include "BqDravikComponentController.h"
#include "BqPerlObject.h"
#include "BqVantleInterp.h"
#include "DravikMagic.h"
#include "EmbeddedPerl.h"
#include "ObjectAssertions.h"
#include "RyApplicationDravik.h"
#include "RyRequest.h"
#include "RyResponse.h"
#include "RyVellumComponentController.h"

#include <objc/runtime.h>

#include <regex>
#include <string>

/*
 * A stand-in for the Tcl binding's interpreter class, which this program
 * does not have: it records the files it is asked to run and answers
 * the code it is told to.
 */
@interface BqGliskInterp : NSObject
+ (id) getDefaultInterp;
- (int) evalFile: (const char *)fileName interactor: (id)interactor debug: (BOOL)debug;
- (const char *) result;
@end

static NSMutableArray *gliskFiles;	/* the files run, in order */
static int gliskCode;			/* what evalFile:... answers */

@implementation BqGliskInterp
+ (id) getDefaultInterp
{
    static BqGliskInterp *interp;
    if (interp == nil) {
	interp = [[BqGliskInterp alloc] init];
    }
    return interp;
}

- (int) evalFile: (const char *)fileName interactor: (id)interactor debug: (BOOL)debug
{
    if (interactor == nil && !debug) {
	[gliskFiles addObject: [NSString stringWithUTF8String: fileName]];
    }
    return gliskCode;
}

- (const char *) result
{
    return "invalid command name \"oops\"";
}
@end

/* Messages the test sends that only Perl code answers. */
@protocol DravikComponentTestMessages
- (id) greeting;
- (id) nothing: (id)argument;
@end

namespace {

class DravikComponentTest : public ::testing::Test {
protected:
    PerlInterpreter *my_perl;
    BqVantleInterp *interp;
    NSAutoreleasePool *pool;
    NSString *root;

    void SetUp() override
    {
	my_perl = EmbeddedPerl();
	pool = [[NSAutoreleasePool alloc] init];
	interp = [BqVantleInterp defaultInterp];
	/* The subs of retaining hashes, without the rest of Dravik, whose
	 * controls would change other tests. */
	if (get_cv("Dravik::Magic::FETCH", 0) == NULL) {
	    DravikPriv_BootMagic(aTHX);
	}
	char pattern[] = "/tmp/dravik-component-XXXXXX";
	ASSERT_NE(nullptr, mkdtemp(pattern));
	root = [[NSString alloc] initWithUTF8String: pattern];
	gliskFiles = [[NSMutableArray alloc] init];
	gliskCode = 0;
    }

    void TearDown() override
    {
	[[NSFileManager defaultManager] removeItemAtPath: root error: NULL];
	[root release];
	[gliskFiles release];
	gliskFiles = nil;
	[pool release];
    }

    /* Writes text to the file at name, under the root; answers its path. */
    NSString *Write(NSString *name, const char *text)
    {
	NSString *path = [root stringByAppendingPathComponent: name];
	[[NSFileManager defaultManager]
	    createDirectoryAtPath: [path stringByDeletingLastPathComponent]
	    withIntermediateDirectories: YES attributes: nil error: NULL];
	[[NSData dataWithBytes: text length: strlen(text)] writeToFile: path atomically: NO];
	return path;
    }

    std::string Eval(const char *text)
    {
	int code = -1;
	BqVantleVar *result = [interp eval: text errorCode: &code];
	std::string value = result != nil ? [result descr] : "";
	[result free];
	EXPECT_EQ(0, code) << text << ": " << value;
	return value;
    }

    BqDravikComponentController *Controller(NSString *name, const char *text)
    {
	NSString *path = Write([name stringByAppendingPathExtension: @"pl"], text);
	return [[[BqDravikComponentController alloc] initComponentName: name path: path]
		   autorelease];
    }
};

/* The superclass's awake, while a test replaces it: it notes its turn. */
IMP frameworkAwake;

void
RecordingAwake(id self, SEL selector)
{
    [[[BqVantleInterp defaultInterp] eval: "push @Order::log, 'framework'; 1" errorCode: NULL]
	free];
    ((void (*)(id, SEL)) frameworkAwake)(self, selector);
}

TEST_F(DravikComponentTest, AwakeRunsThePerlSubBeforeTheFrameworks)
{
    BqDravikComponentController *controller = Controller(@"Order",
	"package Order; our @log; sub awake { push @log, 'perl' } 'Order';");
    Method awake = class_getInstanceMethod([RyComponentController class], @selector(awake));
    frameworkAwake = method_setImplementation(awake, (IMP) RecordingAwake);
    [controller awake];
    method_setImplementation(awake, frameworkAwake);
    EXPECT_EQ("perl,framework", Eval("join ',', @Order::log"));
}

TEST_F(DravikComponentTest, TracesPrintEveryKeyValueAccess)
{
    BqDravikComponentController *controller = Controller(@"Traced", "package Traced; 'Traced';");
    [controller setTraceGet: YES];
    [controller setTraceSet: YES];
    fflush(stdout);
    testing::internal::CaptureStdout();
    [controller takeValue: @"Perl" forKey: @"title"];
    [controller valueForKey: @"title"];
    [controller valueForKey: @"none"];
    [controller setTraceGet: NO];
    [controller valueForKey: @"title"];
    fflush(stdout);
    EXPECT_EQ("##Traced->{title} <-- Perl\n"
	      "##Traced->{title} --> Perl\n"
	      "##Traced->{none} --> nil\n",
	      testing::internal::GetCapturedStdout());
}

TEST_F(DravikComponentTest, MessagesTheClassLacksReachThePerlPackage)
{
    BqDravikComponentController *controller = Controller(@"Talker",
	"package Talker; sub greeting { 'hello' } 'Talker';");
    id<DravikComponentTestMessages> talker = (id<DravikComponentTestMessages>) controller;
    EXPECT_TRUE([controller respondsToSelector: @selector(greeting)]);
    EXPECT_TRUE([controller respondsToSelector: @selector(awake)]) << "its own methods";
    EXPECT_FALSE([controller respondsToSelector: @selector(nothing:)]);
    EXPECT_TRUE(Equal(@"hello", [talker greeting]));
    auto raised = Raised([&] { [talker nothing: nil]; });
    EXPECT_EQ("BqDravikComponentController Error", raised.first);
    EXPECT_EQ("BqDravikComponentController (Talker) instances do not respond to nothing:",
	raised.second);
}

TEST_F(DravikComponentTest, ThePerlObjectLivesAsLongAsTheController)
{
    NSString *path = Write(@"Mortal.pl",
	"package Mortal; our $gone = 0; sub DESTROY { $gone++ } 'Mortal';");
    BqDravikComponentController *controller =
	[[BqDravikComponentController alloc] initComponentName: @"Mortal" path: path];
    [controller takeValue: @"kept" forKey: @"state"];
    EXPECT_TRUE(Equal(@"kept", [[controller perlObject] getIVarValue: "state"]));
    EXPECT_EQ("0", Eval("$Mortal::gone"));
    [controller release];
    EXPECT_EQ("1", Eval("$Mortal::gone")) << "it goes with the controller, before any pool drains";
}

TEST_F(DravikComponentTest, TclFilesRunThroughTheTclBinding)
{
    Write(@"Both/Both.html", "<p>both</p>");
    NSString *glisk = Write(@"Both/Both.glisk", "puts glisk");
    Write(@"Both/Both.tcl", "puts tcl");
    Write(@"Tcl/Tcl.html", "<p>tcl</p>");
    NSString *tcl = Write(@"Tcl/Tcl.tcl", "puts tcl");
    BqDravikApplication *app = [[[BqDravikApplication alloc] initWithRoot: root] autorelease];

    id controller = [app controllerForComponentWithName: @"Both"];
    EXPECT_TRUE([controller isMemberOfClass: [RyVellumComponentController class]])
	<< "the superclass's controller";
    [app controllerForComponentWithName: @"Both"];
    EXPECT_TRUE(Equal([NSArray arrayWithObject: glisk], gliskFiles))
	<< "a glisk file is preferred, and runs once while unchanged";

    gliskCode = 1;
    auto raised = Raised([&] { [app controllerForComponentWithName: @"Tcl"]; });
    EXPECT_EQ("BqDravikApplication Error", raised.first);
    EXPECT_EQ("tcl error while executing " + std::string([tcl UTF8String])
	+ ": invalid command name \"oops\"", raised.second);
}

/* One client of an application: it keeps its session cookie and the
 * last page. */
struct Client {
    RyApplication *app;
    NSString *cookie = nil;
    int status = 0;
    std::string body;

    /* Sends a GET of uri (HTML-escaped, as a page's link is). */
    void Get(const std::string &uri)
    {
	std::string plain = std::regex_replace(uri, std::regex("&amp;"), "&");
	NSDictionary *cookies = cookie == nil ? nil
	    : [NSDictionary dictionaryWithObject: cookie forKey: RySessionCookieName];
	RyResponse *response = [app handleRequest: [RyRequest requestWithMethod: @"GET"
	    URI: [NSString stringWithUTF8String: plain.c_str()] formValues: nil
	    cookies: cookies]];
	status = [response status];
	body = [[response content] UTF8String];
	if ([response sessionId] != nil) {
	    cookie = [response sessionId];
	}
    }
    /* The target of the page's link that shows text. */
    std::string Link(const std::string &text) const
    {
	std::smatch found;
	std::regex link("href=\"([^\"]*)\"[^>]*>" + text + "<");
	return std::regex_search(body, found, link) ? found[1].str() : "(no link " + text + ")";
    }
};

TEST_F(DravikComponentTest, PerlPagesServeTheRequestCycle)
{
    Write(@"Application.pl",
	"package CycleApp;\n"
	"sub willPrepareForRequestInContext { push @CyclePage::log, 'app'; return }\n"
	"'CycleApp';\n");
    Write(@"Main/Main.html", "<p>count <ry:value key=\"count\"/></p>"
	"<ry:link action=\"add\">add</ry:link> <ry:link action=\"fail\">fail</ry:link>");
    Write(@"Main/Main.pl",
	"package CyclePage;\n"
	"our @log;\n"
	"our @ACTIONS = qw(add fail);\n"
	"sub awake { push @log, 'awake'; $_[0]{count} //= 0 }\n"
	"sub willPrepareForRequestInContext { push @log, 'willPrepare'; return }\n"
	"sub didPrepareForRequestInContext { push @log, 'didPrepare'; return }\n"
	"sub willGenerateResponseInContext { push @log, 'willGenerate'; return }\n"
	"sub didGenerateResponseInContext { push @log, 'didGenerate'; return }\n"
	"sub add { push @log, 'add'; $_[0]{count}++; return }\n"
	"sub fail { die \"no <luck>\\n\" }\n"
	"'CyclePage';\n");
    BqDravikApplication *app = [[[BqDravikApplication alloc] initWithRoot: root] autorelease];
    Client client = { app, nil, 0, "" };
    auto log = [&] { return Eval("join ' ', splice @CyclePage::log"); };

    client.Get("/");
    EXPECT_EQ(200, client.status) << client.body;
    EXPECT_NE(std::string::npos, client.body.find("count 0"));
    EXPECT_EQ("awake app willPrepare didPrepare willGenerate didGenerate", log());

    client.Get(client.Link("add"));
    EXPECT_NE(std::string::npos, client.body.find("count 1")) << client.body;
    EXPECT_EQ("awake app willPrepare didPrepare add willGenerate didGenerate", log());

    client.Get(client.Link("fail"));
    EXPECT_EQ(500, client.status);
    EXPECT_NE(std::string::npos, client.body.find("Perl Error")) << client.body;
    EXPECT_NE(std::string::npos, client.body.find("no &lt;luck&gt;")) << client.body;

    log();
    client.Get("/");
    EXPECT_EQ(200, client.status) << "the application goes on after a failed action";
    EXPECT_NE(std::string::npos, client.body.find("count 1")) << "the page kept its state";
    EXPECT_EQ("awake app willPrepare didPrepare willGenerate didGenerate", log());
}

} // namespace
