/*
 * RyCycleTest.mm --
 *
 *	The request cycle of an application served from a folder of
 *	templates, driven like a browser: the order of the cycle's messages,
 *	form values that reach only the keys a page bound, actions inside
 *	repetitions, stale and forged requests, sessions and their state,
 *	navigation, request-cycle methods that answer an element, failures
 *	that give 500 and 404 pages, and memory over many requests.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "RyApplicationPrivate.h"
#include "RyContext.h"
#include "RyElement.h"
#include <unistd.h>
#include "RyPageState.h"
#include "RyRequest.h"
#include "RyResponse.h"
#include "RySession.h"
#include "RySessionStore.h"
#include "RyTemplateParser.h"
#include "RyVellumApplication.h"
#include "RyVellumComponentController.h"

#include <stdarg.h>
#include <stdlib.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

/* Whether two objects (or nils) are equal. */
#define EXPECT_NSEQ(expected, actual) \
    EXPECT_TRUE([(expected) isEqual: (actual)]) << [[(actual) description] UTF8String]

/* What the application and controllers were sent, in order. */
static NSMutableArray *cycleLog;
/* Elements the request-cycle methods answer: "Main.willPrepare" ->
 * RyElement; methods without an entry answer nil. */
static NSMutableDictionary *cycleAnswers;
/* Controllers made and not yet freed. */
static int liveControllers;

static void
Note(NSString *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    NSString *entry = [[NSString alloc] initWithFormat: format arguments: arguments];
    va_end(arguments);
    [cycleLog addObject: entry];
    [entry release];
}

/* The log as one line, entries separated by spaces. */
static std::string
LogText()
{
    return [[cycleLog componentsJoinedByString: @" "] UTF8String];
}

/* The log without the request-cycle methods and awakes ("Main.awake"):
 * what the form and the action did. */
static std::string
ActionLog()
{
    NSMutableArray *actions = [NSMutableArray array];
    for (NSString *entry in cycleLog) {
	NSRange dot = [entry rangeOfString: @"."];
	NSRange paren = [entry rangeOfString: @"("];
	if (dot.location == NSNotFound || (paren.location != NSNotFound && paren.location < dot.location)) {
	    [actions addObject: entry];
	}
    }
    return [[actions componentsJoinedByString: @" "] UTF8String];
}

/* Logs who.what with the classes of its arguments, and answers the
 * element kept for it, if any. */
static id
NoteCycleMethod(NSString *who, NSString *what, id argument, id context)
{
    NSString *key = [NSString stringWithFormat: @"%@.%@", who, what];
    Note(@"%@(%@,%@)", key, NSStringFromClass([argument class]),
	[context isKindOfClass: [RyContext class]] ? @"context" : @"?");
    return [cycleAnswers objectForKey: key];
}

/* The four request-cycle methods, each logged as who.method. */
#define LOGGED_CYCLE_METHODS(who) \
- (id) willPrepareForRequest: (id)r inContext: (id)c \
{ return NoteCycleMethod(who, @"willPrepare", r, c); } \
- (id) didPrepareForRequest: (id)r inContext: (id)c \
{ return NoteCycleMethod(who, @"didPrepare", r, c); } \
- (id) willGenerateResponse: (id)r inContext: (id)c \
{ return NoteCycleMethod(who, @"willGenerate", r, c); } \
- (id) didGenerateResponse: (id)r inContext: (id)c \
{ return NoteCycleMethod(who, @"didGenerate", r, c); }

/* A page whose values are a dictionary (as for a template without a
 * script), with actions as methods; it logs what it is sent. */
@interface RyTestPage : RyVellumComponentController
{
    NSString *name;
}
@end

@implementation RyTestPage
- (id) initWithName: (NSString *)aName
{
    if ((self = [super init]) != nil) {
	name = [aName copy];
	liveControllers++;
    }
    return self;
}
- (void) dealloc
{
    [name release];
    liveControllers--;
    [super dealloc];
}
- (void) awake
{
    Note(@"%@.awake", name);
}
LOGGED_CYCLE_METHODS(name)
- (void) takeValue: (id)value forKey: (NSString *)key
{
    if (![key isEqualToString: @"item"] && ![key isEqualToString: @"i"]
	&& ![key isEqualToString: @"row"]) {
	Note(@"take(%@=%@)", key, value);
    }
    [super takeValue: value forKey: key];
}
- (NSArray *) actionKeys
{
    return [variables objectForKey: @"allowed"];
}
- (id) add
{
    Note(@"add");
    int count = [[variables objectForKey: @"count"] intValue];
    [variables setObject: [NSNumber numberWithInt: count + 1] forKey: @"count"];
    return nil;
}
- (id) pick
{
    Note(@"pick(%@,%@)", [variables objectForKey: @"item"], [variables objectForKey: @"i"]);
    return nil;
}
- (id) pickRow
{
    Note(@"pickRow(%@)", [[variables objectForKey: @"row"] objectForKey: @"name"]);
    return nil;
}
- (id) toAbout { return @"About"; }
- (id) toNowhere { return @"Nowhere"; }
- (id) stay { Note(@"stay"); return @""; }
- (int) number { Note(@"number"); return 42; }
- (void) nothing { Note(@"nothing"); }
- (id) fail
{
    [NSException raise: @"Bad<Name>" format: @"a < b & \"c\""];
    return nil;
}
- (id) throwString { @throw @"a thrown <string>"; }
- (id) withArgument: (id)argument { return argument; }
@end

/* A sub-component kept in instance variables, set through plain
 * key-value coding. */
@interface RyTestFooter : RyComponentController
{
    int count;
}
@end

@implementation RyTestFooter
- (id) init
{
    if ((self = [super init]) != nil) {
	liveControllers++;
    }
    return self;
}
- (void) dealloc
{
    liveControllers--;
    [super dealloc];
}
- (void) awake
{
    Note(@"Footer.awake");
}
- (void) bump
{
    Note(@"bump");
    count++;
}
@end

/* The application: "Footer" is a RyTestFooter, any other component with a
 * template a RyTestPage; it logs its own awake and cycle methods. */
@interface RyTestApp : RyVellumApplication
@end

@implementation RyTestApp
- (id) controllerForComponentWithName: (NSString *)name
{
    if ([name isEqualToString: @"Footer"]) {
	return [[[RyTestFooter alloc] init] autorelease];
    }
    if ([super controllerForComponentWithName: name] == nil) {
	return nil;
    }
    return [[[RyTestPage alloc] initWithName: name] autorelease];
}
- (void) awake
{
    Note(@"app.awake");
}
LOGGED_CYCLE_METHODS(@"app")
@end

namespace {

typedef std::map<std::string, std::string> Templates;

/* An application in a temporary folder with one component per template
 * (name -> template text), and a folder "Empty" without a template. */
class RyCycle : public testing::Test {
protected:
    void SetUp() override
    {
	cycleLog = [[NSMutableArray alloc] init];
	cycleAnswers = [[NSMutableDictionary alloc] init];
	char pattern[] = "/tmp/ry-cycle-XXXXXX";
	ASSERT_NE(nullptr, mkdtemp(pattern));
	root = [[NSString alloc] initWithUTF8String: pattern];
	[[NSFileManager defaultManager]
	    createDirectoryAtPath: [root stringByAppendingPathComponent: @"Empty"]
	    withIntermediateDirectories: NO attributes: nil error: NULL];
	pool = [[NSAutoreleasePool alloc] init];
    }
    void TearDown() override
    {
	[pool drain];
	[app release];
	[[NSFileManager defaultManager] removeItemAtPath: root error: NULL];
	[root release];
	[cycleLog release];
	[cycleAnswers release];
	EXPECT_EQ(0, liveControllers) << "controllers outlived their application";
	liveControllers = 0;
    }
    /* Writes the template of component name. */
    void Write(const std::string &name, const std::string &text)
    {
	NSString *folder = [root stringByAppendingPathComponent:
	    [NSString stringWithUTF8String: name.c_str()]];
	[[NSFileManager defaultManager] createDirectoryAtPath: folder
				  withIntermediateDirectories: YES
						   attributes: nil
							error: NULL];
	NSString *file = [[folder stringByAppendingPathComponent:
	    [NSString stringWithUTF8String: name.c_str()]] stringByAppendingPathExtension: @"html"];
	ASSERT_TRUE([[NSString stringWithUTF8String: text.c_str()]
	    writeToFile: file atomically: NO encoding: NSUTF8StringEncoding error: NULL]);
    }
    /* Makes the application of templates (with store, when given). */
    void Start(const Templates &templates, RySessionStore *store = nil)
    {
	for (const auto &entry : templates) {
	    Write(entry.first, entry.second);
	}
	app = [[RyTestApp alloc] initWithRoot: root];
	if (store != nil) {
	    [app setSessionStore: store];
	}
    }
    /* The controller of component name in browser's session. */
    template <typename B>
    id Controller(const B &browser, NSString *name)
    {
	RySession *session = [[app sessionStore] sessionForId:
	    [NSString stringWithUTF8String: browser.cookie.c_str()]];
	return [[RyPageState stateOfSession: session] controllerForName: name];
    }
    NSString *root = nil;
    RyTestApp *app = nil;
    NSAutoreleasePool *pool = nil;
};

/* A browser of one session: it keeps the cookie it was given and the
 * last page. */
struct Browser {
    RyApplication *app;
    std::string cookie;
    int status = 0;
    std::string body;
    bool gotCookie = false;
    std::string redirectedTo;	/* where the last request was sent on, or "" */

    explicit Browser(RyApplication *application) : app(application) {}

    /* Sends a request; answers the body. */
    std::string Send(NSString *method, const std::string &uri, NSDictionary *form)
    {
	NSDictionary *cookies = cookie.empty() ? nil
	    : [NSDictionary dictionaryWithObject: [NSString stringWithUTF8String: cookie.c_str()]
					  forKey: RySessionCookieName];
	RyRequest *request = [RyRequest requestWithMethod: method
						      URI: [NSString stringWithUTF8String: uri.c_str()]
					       formValues: form
						  cookies: cookies];
	RyResponse *response = [app handleRequest: request];
	status = [response status];
	body = [[response content] UTF8String];
	gotCookie = [response setsSessionCookie];
	if (gotCookie) {
	    cookie = [[response sessionId] UTF8String];
	}
	redirectedTo = "";
	if (status == 303) {
	    /* As a browser does: the page the response names, fetched. */
	    std::string location = Header(response, @"Location");
	    Send(@"GET", location, nil);
	    redirectedTo = location;
	}
	return body;
    }
    static std::string Header(RyResponse *response, NSString *name)
    {
	NSArray *headers = [response headers];
	for (NSUInteger i = 0; i + 1 < [headers count]; i += 2) {
	    if ([[headers objectAtIndex: i] isEqualToString: name]) {
		return [[headers objectAtIndex: i + 1] UTF8String];
	    }
	}
	return "";
    }
    std::string Get(const std::string &uri)
    {
	return Send(@"GET", uri, nil);
    }
    std::string Post(const std::string &uri, NSDictionary *form)
    {
	return Send(@"POST", uri, form);
    }
    /* The values of attribute (href, name, action) in the last page, in
     * order, with &amp; undone. */
    std::vector<std::string> Attributes(const std::string &attribute) const
    {
	std::vector<std::string> found;
	std::regex pattern(" " + attribute + "=\"([^\"]*)\"");
	for (std::sregex_iterator it(body.begin(), body.end(), pattern), end; it != end; ++it) {
	    std::string value = (*it)[1];
	    found.push_back(std::regex_replace(value, std::regex("&amp;"), "&"));
	}
	return found;
    }
    std::string Link(size_t n) const
    {
	std::vector<std::string> links = Attributes("href");
	return n < links.size() ? links[n] : "(no link " + std::to_string(n) + ")";
    }
    std::string FormURL() const
    {
	std::vector<std::string> actions = Attributes("action");
	return actions.empty() ? "(no form)" : actions[0];
    }
    std::string Field(size_t n) const
    {
	std::vector<std::string> names = Attributes("name");
	return n < names.size() ? names[n] : "(no field)";
    }
};

NSDictionary *
Form(const std::map<std::string, std::string> &fields)
{
    NSMutableDictionary *form = [NSMutableDictionary dictionary];
    for (const auto &field : fields) {
	[form setObject: [NSString stringWithUTF8String: field.second.c_str()]
		 forKey: [NSString stringWithUTF8String: field.first.c_str()]];
    }
    return form;
}

RyElement *
Element(NSString *source)
{
    return RyParseTemplate(source, @"answer.html");
}

} // namespace

TEST_F(RyCycle, RunsInOrderAndAwakesTheApplicationOnce)
{
    Start({{"Main", "<ry:form><ry:textfield key=\"title\"/>"
		    "<ry:submit action=\"add\"/></ry:form><ry:component name=\"Footer\"/>"
		    "<ry:component name=\"Footer\"/>"},
	   {"Footer", "<ry:value key=\"count\"/>"}});
    Browser browser(app);
    browser.Get("/");
    EXPECT_EQ(200, browser.status);
    EXPECT_EQ("app.awake Main.awake"
	      " app.willPrepare(RyRequest,context) Main.willPrepare(RyRequest,context)"
	      " app.didPrepare(RyRequest,context) Main.didPrepare(RyRequest,context)"
	      " app.willGenerate(RyResponse,context) Main.willGenerate(RyResponse,context)"
	      " Footer.awake"
	      " app.didGenerate(RyResponse,context) Main.didGenerate(RyResponse,context)",
	LogText());

    [cycleLog removeAllObjects];
    browser.Post(browser.FormURL(), Form({{browser.Field(0), "T"}, {browser.Field(1), "add"}}));
    EXPECT_EQ(200, browser.status);
    EXPECT_EQ("Main.awake"
	      " app.willPrepare(RyRequest,context) Main.willPrepare(RyRequest,context)"
	      " take(title=T)"
	      " app.didPrepare(RyRequest,context) Main.didPrepare(RyRequest,context)"
	      " add"
	      " app.willGenerate(RyResponse,context) Main.willGenerate(RyResponse,context)"
	      " Footer.awake"
	      " app.didGenerate(RyResponse,context) Main.didGenerate(RyResponse,context)",
	LogText());
    EXPECT_EQ(app, [RyApplication sharedInstance]);
}

TEST_F(RyCycle, FormValuesReachOnlyTheKeysThePageBound)
{
    Start({{"Main", "<ry:value key=\"title\"/>|<ry:value key=\"done\"/>|<ry:value key=\"user.name\"/>"
		    "<ry:form><ry:textfield key=\"title\"/><ry:checkbox key=\"done\"/>"
		    "<ry:textfield key=\"user.name\"/></ry:form>"}});
    Browser browser(app);
    browser.Get("/");
    EXPECT_EQ(std::vector<std::string>({"f0", "f1", "f2"}), browser.Attributes("name"));

    /* Unbound names, the key's own name, numbers no field has and a
     * nil step of a key path (user) set nothing; a checked box is YES. */
    std::string stale = browser.FormURL();
    [cycleLog removeAllObjects];
    browser.Post(stale, Form({{"f0", "Tom"}, {"f1", "1"}, {"f2", "Jo"}, {"title", "x"},
			      {"secret", "y"}, {"f9", "z"}, {"a0", "w"}}));
    EXPECT_EQ("take(title=Tom) take(done=1)", ActionLog());
    EXPECT_EQ(0u, browser.body.find("Tom|1|<form"));

    /* An unchecked box is missing from the form: NO.  A missing text
     * field keeps its value. */
    [cycleLog removeAllObjects];
    browser.Post(browser.FormURL(), Form({}));
    EXPECT_EQ("take(done=0)", ActionLog());
    EXPECT_EQ(0u, browser.body.find("Tom|0|<form"));

    /* Along a key path the last object is set. */
    [Controller(browser, @"Main") takeValue: [NSMutableDictionary dictionary] forKey: @"user"];
    browser.Post(browser.FormURL(), Form({{"f2", "Jo"}}));
    EXPECT_EQ(0u, browser.body.find("Tom|0|Jo<form"));

    /* A form of an older rendering sets nothing. */
    [cycleLog removeAllObjects];
    browser.Post(stale, Form({{"f0", "Stale"}, {"f1", "1"}}));
    EXPECT_EQ("", ActionLog());
    EXPECT_EQ(0u, browser.body.find("Tom|0|Jo<form"));
}

TEST_F(RyCycle, APostedFormSetsOnlyItsOwnFields)
{
    Start({{"Main", "<ry:value key=\"done\"/>|<ry:value key=\"title\"/>"
		    "<ry:form><ry:checkbox key=\"done\"/></ry:form>"
		    "<ry:form><ry:textfield key=\"title\"/></ry:form>"}});
    Browser browser(app);
    browser.Get("/");
    std::vector<std::string> forms = browser.Attributes("action");
    ASSERT_EQ(2u, forms.size());
    EXPECT_NE(forms[0], forms[1]);
    browser.Post(forms[0], Form({{"f0", "1"}}));
    EXPECT_EQ(0u, browser.body.find("1|<form"));
    /* The other form's post leaves the checkbox, which it lacks, alone. */
    browser.Post(browser.Attributes("action")[1], Form({{"f1", "T"}}));
    EXPECT_EQ(0u, browser.body.find("1|T<form"));
    /* Without its form's number a post sets nothing. */
    std::string bare = browser.FormURL().substr(0, browser.FormURL().find('&'));
    browser.Post(bare, Form({{"f0", "1"}, {"f1", "X"}}));
    EXPECT_EQ(0u, browser.body.find("1|T<form"));
}

TEST_F(RyCycle, ActionsAndFieldsInRepetitionsGetTheirOwnItem)
{
    Start({{"Main", "<ry:repeat list=\"items\" item=\"item\" index=\"i\">"
		    "<ry:link action=\"pick\"><ry:value key=\"item\"/></ry:link></ry:repeat>"
		    "<ry:repeat list=\"rows\" item=\"row\"><ry:form>"
		    "<ry:textfield key=\"row.name\"/><ry:submit action=\"pickRow\"/>"
		    "</ry:form></ry:repeat>"}});
    Browser browser(app);
    browser.Get("/");
    RyTestPage *page = Controller(browser, @"Main");
    NSMutableDictionary *row0 = [NSMutableDictionary dictionaryWithObject: @"r0" forKey: @"name"];
    NSMutableDictionary *row1 = [NSMutableDictionary dictionaryWithObject: @"r1" forKey: @"name"];
    NSArray *abc = [NSArray arrayWithObjects: @"a", @"b", @"c", nil];
    [page takeValue: abc forKey: @"items"];
    [page takeValue: [NSArray arrayWithObjects: row0, row1, nil] forKey: @"rows"];

    /* Rendering leaves item "c" set; the first link still picks "a". */
    browser.Get("/");
    [cycleLog removeAllObjects];
    browser.Get(browser.Link(0));
    EXPECT_EQ("pick(a,0)", ActionLog());

    /* A list changed after drawing changes nothing for the links drawn. */
    std::string second = browser.Link(1);
    [page takeValue: [NSArray arrayWithObject: @"z"] forKey: @"items"];
    [cycleLog removeAllObjects];
    browser.Get(second);
    EXPECT_EQ("pick(b,1)", ActionLog());

    /* The second row's field and button act on the second row. */
    std::vector<std::string> names = browser.Attributes("name");
    ASSERT_EQ(4u, names.size());
    [cycleLog removeAllObjects];
    browser.Post(browser.Attributes("action")[1], Form({{names[2], "R1"}, {names[3], "Go"}}));
    EXPECT_NSEQ(@"r0", [row0 objectForKey: @"name"]);
    EXPECT_NSEQ(@"R1", [row1 objectForKey: @"name"]);
    EXPECT_EQ("pickRow(R1)", ActionLog());
}

TEST_F(RyCycle, StaleOrForgedRequestsRunNothingAndRenderAgain)
{
    Start({{"Main", "<ry:value key=\"count\"/><ry:link action=\"add\">add</ry:link>"
		    "<ry:form><ry:textfield key=\"title\"/></ry:form>"},
	   {"Other", "<ry:link action=\"add\">add</ry:link>"}});
    Browser browser(app), other(app);
    browser.Get("/");
    other.Get("/");
    std::string older = browser.Link(0);
    browser.Get("/");

    /* SERIAL stands for the serial of the page on show, NEXT for the one
     * after it.  A stale or forged serial is posted with the page's
     * fields and a submit name (which must set nothing either); a wrong
     * action number comes with the right serial. */
    struct Case { std::string uri; bool post; };
    const std::vector<Case> refused = {
	{older, true},				/* the rendering before */
	{"/Main?r=NEXT&a=0", true},		/* one not made yet */
	{"/Main?a=0", true}, {"/Main?r=&a=0", true}, {"/Main?r=abc&a=0", true},
	{"/Main?r=+SERIAL&a=0", true}, {"/Main?r=SERIALx&a=0", true},
	{"/Main?r=99999999999999999999999&a=0", true},
	{"/Other?r=SERIAL&a=0", false},		/* another page */
	{other.Link(0), true},			/* another session's */
	{"/Main?r=SERIAL&a=1", false},		/* a field, no action */
	{"/Main?r=SERIAL&a=2", false}, {"/Main?r=SERIAL&a=-1", false},
	{"/Main?r=SERIAL&a=", false}, {"/Main?r=SERIAL&a=0x", false},
    };
    for (const Case &c : refused) {
	std::string link = browser.Link(0);
	std::string serial = link.substr(strlen("/Main?r="), link.find('&') - strlen("/Main?r="));
	std::string uri = c.uri;
	size_t mark = uri.find("SERIAL");
	if (mark != std::string::npos) {
	    uri.replace(mark, 6, serial);
	}
	if ((mark = uri.find("NEXT")) != std::string::npos) {
	    uri.replace(mark, 4, std::to_string(strtoull(serial.c_str(), NULL, 10) + 1));
	}
	[cycleLog removeAllObjects];
	browser.Send(c.post ? @"POST" : @"GET", uri, Form({{"f1", "forged"}, {"a0", "add"}}));
	EXPECT_EQ(200, browser.status) << uri;
	EXPECT_EQ("", ActionLog()) << uri;
	if (uri.find("/Other") != 0) {
	    EXPECT_EQ(0u, browser.body.find("<a href=\"/Main?r=")) << uri;
	    EXPECT_NE(link, browser.Link(0)) << "not rendered again: " << uri;
	}
	browser.Get("/");
    }
    /* The other session's page is untouched, and this one still works. */
    EXPECT_EQ(nil, [Controller(other, @"Other") valueForKey: @"count"]);
    [cycleLog removeAllObjects];
    browser.Post(browser.FormURL(), Form({{"f1", "T"}, {"a0", "add"}}));
    EXPECT_EQ("take(title=T) add", ActionLog());
    EXPECT_EQ(0u, browser.body.find("1<a"));
}

TEST_F(RyCycle, SessionsKeepTheirOwnStateAndCookies)
{
    Start({{"Main", "<ry:value key=\"count\"/><ry:link action=\"add\">add</ry:link>"}});
    Browser one(app), two(app);
    one.Get("/");
    EXPECT_TRUE(one.gotCookie);
    one.Get("/");
    EXPECT_FALSE(one.gotCookie);
    one.Get(one.Link(0));
    one.Get(one.Link(0));
    two.Get("/Main");
    two.Get(two.Link(0));
    EXPECT_NE(one.cookie, two.cookie);
    /* Renderings are numbered from a random start, so another site cannot
     * guess a link that runs an action. */
    std::string link = one.Link(0), other = two.Link(0);
    EXPECT_NE(link.substr(0, link.find('&')), other.substr(0, other.find('&')));
    EXPECT_LT(12u, link.find('&'));
    EXPECT_EQ(0u, one.Get("/").find("2<a"));
    EXPECT_EQ(0u, two.Get("/").find("1<a"));

    /* An id of the right form that no session has gets a new session. */
    Browser forger(app);
    forger.cookie = std::string(32, 'a');
    EXPECT_EQ(0u, forger.Get("/").find("<a"));
    EXPECT_TRUE(forger.gotCookie);
    EXPECT_NE(std::string(32, 'a'), forger.cookie);

    RyResponse *response = [app handleRequest:
	[RyRequest requestWithMethod: @"get" URI: @"/" formValues: nil cookies: nil]];
    NSArray *headers = [response headers];
    EXPECT_NSEQ(@"Set-Cookie", [headers objectAtIndex: 2]);
    EXPECT_NSEQ(([NSString stringWithFormat: @"ry_session=%@; Path=/; HttpOnly; SameSite=Lax",
	[response sessionId]]), [headers objectAtIndex: 3]);
}

TEST_F(RyCycle, AnActionAnsweringANameGoesToThatPage)
{
    Start({{"Main", "<ry:link action=\"toAbout\">a</ry:link><ry:link action=\"stay\">s</ry:link>"
		    "<ry:link action=\"number\">n</ry:link><ry:link action=\"nothing\">x</ry:link>"
		    "<ry:link action=\"ghost\">g</ry:link><ry:link action=\"toNowhere\">z</ry:link>"},
	   {"About", "About <ry:value key=\"visits\"/><ry:link action=\"add\">add</ry:link>"}});
    Browser browser(app);
    browser.Get("/");
    /* Answers that are no name, or an empty one, stay on the page. */
    for (size_t n = 1; n <= 4; n++) {
	browser.Get(browser.Link(n));
	EXPECT_EQ(200, browser.status);
	EXPECT_EQ(0u, browser.body.find("<a href=\"/Main?")) << n;
    }
    EXPECT_EQ("stay number nothing", ActionLog());

    /* A key, not a method, may name the page too. */
    [Controller(browser, @"Main") takeValue: @"About" forKey: @"ghost"];
    [cycleLog removeAllObjects];
    browser.Get(browser.Link(4));
    EXPECT_EQ("/About", browser.redirectedTo);
    EXPECT_EQ(0u, browser.body.find("About <a href=\"/About?r="));
    /* The action's request ends with the redirection, so the address is
     * the page shown; that page's cycle is the request that follows. */
    EXPECT_NE(std::string::npos, LogText().find(
	"Main.didPrepare(RyRequest,context) About.awake app.willPrepare(RyRequest,context)"))
	<< LogText();
    EXPECT_EQ(std::string::npos, LogText().find("Main.willGenerate")) << LogText();

    /* The page reached keeps its controller for the session. */
    [Controller(browser, @"About") takeValue: @"3" forKey: @"visits"];
    browser.Get("/");
    browser.Get(browser.Link(0));
    EXPECT_EQ(0u, browser.body.find("About 3<a"));
    browser.Get(browser.Link(0));
    EXPECT_EQ("About 3<a", browser.body.substr(0, 9));

    /* An action answering a name of no component is the application's
     * fault: a 500 page that says which action answered what. */
    browser.Get("/");
    browser.Get(browser.Link(5));
    EXPECT_EQ(500, browser.status);
    EXPECT_NE(std::string::npos,
	browser.body.find("the action &quot;toNowhere&quot; of Main answered &quot;Nowhere&quot;"))
	<< browser.body;
}

TEST_F(RyCycle, ACycleMethodAnsweringAnElementIsTheWholeResponse)
{
    Start({{"Main", "<p>page</p><ry:value key=\"count\"/>"}});
    Browser browser(app);
    /* Early: the page's own methods are not reached. */
    [cycleAnswers setObject: Element(@"<p>early</p>") forKey: @"app.willPrepare"];
    EXPECT_EQ("<p>early</p>", browser.Get("/"));
    EXPECT_EQ("app.awake Main.awake app.willPrepare(RyRequest,context)", LogText());
    [cycleAnswers removeAllObjects];

    /* Late: the page was rendered and is replaced; the element's links
     * work like the page's.  Other answers than elements are ignored. */
    [cycleAnswers setObject: Element(@"<p>late <ry:link action=\"add\">add</ry:link></p>")
		     forKey: @"Main.didGenerate"];
    [cycleAnswers setObject: @"<p>no element</p>" forKey: @"Main.willGenerate"];
    EXPECT_EQ(0u, browser.Get("/").find("<p>late <a href=\"/Main?r="));
    [cycleAnswers removeAllObjects];
    [cycleLog removeAllObjects];
    EXPECT_EQ("<p>page</p>1", browser.Get(browser.Link(0)));
    EXPECT_EQ("add", ActionLog());
}

TEST_F(RyCycle, FailuresAnswer500AndTheApplicationGoesOn)
{
    Start({{"Main", "<ry:value key=\"count\"/><ry:link action=\"fail\">f</ry:link>"
		    "<ry:link action=\"throwString\">t</ry:link>"
		    "<ry:link action=\"withArgument:\">w</ry:link>"
		    "<ry:link action=\"pick\">p</ry:link><ry:link action=\"add\">a</ry:link>"
		    "<ry:link action=\"init\">i</ry:link><ry:link action=\"release\">r</ry:link>"},
	   {"Parts", "<ry:component name=\"Missing\"/>"},
	   {"Loop", "<ry:component name=\"Loop\"/>"},
	   {"Broken", "<ry:if key=\"x\">"}});
    Browser browser(app);
    browser.Get("/");
    const std::vector<std::pair<size_t, std::string>> actions = {
	{0, "<h1>Bad&lt;Name&gt;</h1><p>a &lt; b &amp; &quot;c&quot;</p>"},
	{1, "<h1>GSString</h1><p>a thrown &lt;string&gt;</p>"},
	{2, "<h1>RyActionError</h1><p>the action &quot;withArgument:&quot; of component Main"
	    " must be a method without arguments</p>"},
    };
    for (const auto &action : actions) {
	browser.Get(browser.Link(action.first));
	EXPECT_EQ(500, browser.status);
	if (action.first == 1) {
	    /* The class of a thrown constant string varies; its text not. */
	    EXPECT_NE(std::string::npos, browser.body.find("<p>a thrown &lt;string&gt;</p>"));
	} else {
	    EXPECT_EQ(action.second, browser.body);
	}
	EXPECT_FALSE(browser.gotCookie) << "the session was kept";
	/* The next request is served, in the same session. */
	EXPECT_EQ(0u, browser.Get("/").find("<a href"));
	EXPECT_EQ(200, browser.status);
    }

    /* Actions outside the controller's actionKeys are refused. */
    [Controller(browser, @"Main") takeValue: [NSArray arrayWithObject: @"add"] forKey: @"allowed"];
    browser.Get("/");
    browser.Get(browser.Link(3));
    EXPECT_EQ("<h1>RyActionError</h1><p>no action &quot;pick&quot; in component Main</p>",
	browser.body);
    browser.Get("/");
    browser.Get(browser.Link(4));
    EXPECT_EQ("1<a", browser.body.substr(0, 3));

    /* Methods every object has are no actions: init would reset the
     * controller, release or dealloc free it under the session. */
    [Controller(browser, @"Main") takeValue: nil forKey: @"allowed"];
    browser.Get("/");
    browser.Get(browser.Link(5));
    EXPECT_EQ("<h1>RyActionError</h1><p>&quot;init&quot; is a method of every object,"
	      " no action of component Main</p>", browser.body);
    browser.Get("/");
    browser.Get(browser.Link(6));
    EXPECT_EQ(500, browser.status);
    EXPECT_EQ("1<a", browser.Get("/").substr(0, 3));

    /* Sub-components that do not exist or contain themselves, and
     * templates that do not parse. */
    browser.Get("/Parts");
    EXPECT_EQ("<h1>RyComponentError</h1><p>there is no component &quot;Missing&quot;</p>",
	browser.body);
    browser.Get("/Loop");
    EXPECT_EQ(500, browser.status);
    EXPECT_NE(std::string::npos, browser.body.find("components nest more than")) << browser.body;
    browser.Get("/Broken");
    EXPECT_EQ(500, browser.status);
    EXPECT_EQ(0u, browser.body.find("<h1>RyTemplateError</h1><p>")) << browser.body;

    /* A failure in the first request still gives the new session. */
    Browser newcomer(app);
    newcomer.Get("/Broken");
    EXPECT_EQ(500, newcomer.status);
    EXPECT_TRUE(newcomer.gotCookie);
}

TEST_F(RyCycle, PathsThatNameNoComponentAre404)
{
    Start({{"Main", "main"}});
    Browser browser(app);
    for (const char *path : {"/Nowhere", "/../x", "/..", "/%2e%2e", "/.x", "/a/b", "/%00",
			     "/Main%00", "/Main/", "//", "/1abc", "/a-b", "/Main.html", "/Empty",
			     "/Main%2fx", "", "Main", "/ Main", "/%C3%A9", "/%ff"}) {
	browser.Get(path);
	EXPECT_EQ(404, browser.status) << path;
	EXPECT_EQ(0u, browser.body.find("<h1>Not Found</h1>")) << path;
    }
    browser.Get("/<script>");
    EXPECT_EQ(std::string::npos, browser.body.find("<script>"));
    EXPECT_NE(std::string::npos, browser.body.find("&lt;script&gt;"));
    EXPECT_EQ("main", browser.Get("/"));
    EXPECT_EQ("main", browser.Get("/%4Dain?x=1"));
    EXPECT_EQ("main", browser.Send(@"HEAD", "/Main", nil));
    EXPECT_EQ(200, browser.status);
}

TEST_F(RyCycle, TemplatesAreKeptAndReadAgainWhenChanged)
{
    Start({{"Main", "one"}});
    Browser browser(app);
    EXPECT_EQ("one", browser.Get("/"));
    RyTemplate *kept = [app templateForComponentWithName: @"Main"];
    EXPECT_EQ(kept, [app templateForComponentWithName: @"Main"]);
    Write("Main", "three");
    EXPECT_EQ("three", browser.Get("/"));
    EXPECT_EQ(kept, [app templateForComponentWithName: @"Main"]);
    /* The kept template still looks at its file: one removed is an error
     * page, and the file put back serves again. */
    ASSERT_EQ(0, unlink([[kept path] fileSystemRepresentation]));
    browser.Get("/");
    EXPECT_EQ(500, browser.status);
    Write("Main", "four");
    EXPECT_EQ("four", browser.Get("/"));
}

/* A clock the test moves by hand. */
static double
ManualClock(void *context)
{
    return *(double *)context;
}

TEST_F(RyCycle, ExpiredAndEvictedSessionsFreeTheirControllers)
{
    static double now = 1000;
    RySessionStore *store = [[[RySessionStore alloc] initWithIdleTimeout: 60
								   limit: 2
								   clock: ManualClock
								 context: &now] autorelease];
    Start({{"Main", "<ry:value key=\"count\"/><ry:link action=\"add\">add</ry:link>"
		    "<ry:component name=\"Footer\"/>"},
	   {"Footer", "<ry:value key=\"count\"/><ry:link action=\"bump\">+</ry:link>"}}, store);
    Browser one(app);
    one.Get("/");
    one.Get(one.Link(0));
    one.Get(one.Link(1));
    EXPECT_EQ("1<a href=\"/Main?r=N&a=0\">add</a>1<a href=\"/Main?r=N&a=1\">+</a>",
	std::regex_replace(one.body, std::regex("r=[0-9]+&amp;"), "r=N&"));
    EXPECT_EQ(2, liveControllers);
    /* Idle for longer than the timeout: a new session, fresh controllers. */
    now += 61;
    std::string expired = one.cookie;
    one.Get("/");
    EXPECT_TRUE(one.gotCookie);
    EXPECT_NE(expired, one.cookie);
    EXPECT_EQ(0u, one.body.find("<a href"));
    EXPECT_EQ(2, liveControllers);

    /* Past the limit the least recently used session goes. */
    Browser two(app), three(app);
    two.Get("/");
    now += 1;
    three.Get("/");
    EXPECT_EQ(4, liveControllers);
    EXPECT_EQ(2u, [store count]);
    one.Get("/");
    EXPECT_TRUE(one.gotCookie);
}

TEST_F(RyCycle, ManyRequestsKeepMemoryBounded)
{
    Start({{"Main", "<ry:value key=\"count\"/><ry:link action=\"add\">add</ry:link>"
		    "<ry:link action=\"fail\">fail</ry:link>"
		    "<ry:form><ry:textfield key=\"title\"/><ry:checkbox key=\"done\"/>"
		    "<ry:submit action=\"add\"/></ry:form><ry:component name=\"Footer\"/>"},
	   {"Footer", "<ry:link action=\"bump\">+</ry:link>"}},
	[[[RySessionStore alloc] initWithIdleTimeout: 600 limit: 8] autorelease]);
    for (int client = 0; client < 20; client++) {
	@autoreleasepool {
	    Browser browser(app);
	    for (int i = 0; i < 5; i++) {
		browser.Get("/");
		browser.Get(browser.Link(i % 3 == 0 ? 1 : 0));
		browser.Post(browser.FormURL(), Form({{"f2", "t"}, {"a4", "Add"}}));
		browser.Get(browser.Link(2));
	    }
	    ASSERT_EQ(200, browser.status);
	}
	ASSERT_LE(liveControllers, 16);
    }
    [cycleLog removeAllObjects];
    EXPECT_EQ(8u, [[app sessionStore] count]);
}
