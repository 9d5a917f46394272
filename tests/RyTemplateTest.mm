/*
 * RyTemplateTest.mm --
 *
 *	Templates from text to HTML: every ry: element rendered against a
 *	small component, escaping, the truth rule, parse errors with their
 *	file and line, the nesting bound, and a template file parsed again
 *	only after it changed.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "RyElement.h"
#include "RyError.h"
#include "RyTemplate.h"
#include "RyTemplateParser.h"
#include "RyValue.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

/* A component whose values live in a dictionary; keys it was not given
 * are undefined (NSUndefinedKeyException, as for a real class). */
@interface RyTestComponent : NSObject
{
    NSMutableDictionary *values;
}
@end

@implementation RyTestComponent
- (id) init
{
    if ((self = [super init]) != nil) {
	values = [[NSMutableDictionary alloc] init];
    }
    return self;
}
- (void) dealloc
{
    [values release];
    [super dealloc];
}
- (id) valueForKey: (NSString *)key
{
    id value = [values objectForKey: key];
    if (value == nil) {
	return [super valueForKey: key];
    }
    return value == [NSNull null] ? nil : value;
}
- (void) setValue: (id)value forKey: (NSString *)key
{
    [values setObject: value != nil ? value : [NSNull null] forKey: key];
}
@end

/* A value object with an accessor method, reached along key paths. */
@interface RyTestUser : NSObject
{
    NSString *name;
}
@end

@implementation RyTestUser
- (id) initWithName: (NSString *)aName
{
    if ((self = [super init]) != nil) {
	name = [aName copy];
    }
    return self;
}
- (void) dealloc
{
    [name release];
    [super dealloc];
}
- (NSString *) name
{
    return name;
}
@end

/* The page side: action URLs and field names made from the names, and
 * the sub-component "Footer"; any other sub-component is an error.
 * Repetition keys are set on the component and logged ("+item", "-item"
 * when forgotten). */
@interface RyTestContext : NSObject <RyRenderContext>
{
    id component;
    NSMutableArray *repetitionLog;
}
@end

@implementation RyTestContext
- (id) initWithComponent: (id)aComponent
{
    if ((self = [super init]) != nil) {
	component = [aComponent retain];
	repetitionLog = [[NSMutableArray alloc] init];
    }
    return self;
}
- (void) dealloc
{
    [component release];
    [repetitionLog release];
    [super dealloc];
}
- (NSArray *) repetitionLog
{
    return repetitionLog;
}
- (id) component
{
    return component;
}
- (NSString *) actionURLForName: (NSString *)name
{
    return [@"/Main?action=" stringByAppendingString: name];
}
- (NSString *) formURL
{
    return @"/Main?form=1&x=<y>";
}
- (NSString *) fieldNameForKey: (NSString *)keyPath
{
    return [@"f." stringByAppendingString: keyPath];
}
- (NSString *) checkboxNameForKey: (NSString *)keyPath
{
    return [@"f." stringByAppendingString: keyPath];
}
- (NSString *) fieldNameForAction: (NSString *)name
{
    return [@"a." stringByAppendingString: name];
}
- (void) takeRepetitionValue: (id)value forKey: (NSString *)key
{
    [repetitionLog addObject: [@"+" stringByAppendingString: key]];
    RyTakeValue(component, value, key);
}
- (void) forgetRepetitionKey: (NSString *)key
{
    [repetitionLog addObject: [@"-" stringByAppendingString: key]];
}
- (void) appendComponentNamed: (NSString *)name toString: (NSMutableString *)out
{
    if (![name isEqualToString: @"Footer"]) {
	[NSException raise: NSInvalidArgumentException format: @"no component %@", name];
    }
    [out appendString: @"<footer>F</footer>"];
}
@end

namespace {

/* The HTML of source rendered for component. */
std::string
Render(NSString *source, id component)
{
    RyTestContext *context = [[[RyTestContext alloc] initWithComponent: component] autorelease];
    NSMutableString *out = [NSMutableString string];
    [RyParseTemplate(source, @"T.html") appendToString: out context: context];
    return [out UTF8String];
}

/* The reason of the RyTemplateError that body raises, or a note that
 * it raised none (or something else). */
template <typename Body>
std::string
ErrorOf(Body body)
{
    @try {
	body();
    } @catch (NSException *e) {
	if (![[e name] isEqualToString: RyTemplateError]) {
	    return std::string("other exception: ") + [[e name] UTF8String];
	}
	return [[e reason] UTF8String];
    }
    return "no error";
}

std::string
ParseError(NSString *source)
{
    return ErrorOf([&] { RyParseTemplate(source, @"T.html"); });
}

std::string
RenderError(NSString *source, id component)
{
    return ErrorOf([&] { Render(source, component); });
}

RyTestComponent *
NewComponent()
{
    return [[[RyTestComponent alloc] init] autorelease];
}

} // namespace

TEST(RyTemplate, ValuesAlongKeyPathsAreEscapedUnlessAskedNotTo)
{
    RyTestComponent *c = NewComponent();
    [c setValue: [[[RyTestUser alloc] initWithName: @"<b>Tom & \"Jo's\"</b>"] autorelease]
	 forKey: @"user"];
    [c setValue: [NSNumber numberWithInt: 42] forKey: @"n"];
    [c setValue: nil forKey: @"missing"];
    EXPECT_EQ("Hi &lt;b&gt;Tom &amp; &quot;Jo&#39;s&quot;&lt;/b&gt;!",
	Render(@"Hi <ry:value key=\"user.name\"/>!", c));
    EXPECT_EQ("<b>Tom & \"Jo's\"</b>", Render(@"<ry:value key='user.name' escape='no'/>", c));
    EXPECT_EQ("[42][]", Render(@"[<ry:value key=\"n\"/>][<ry:value key=\"missing.deeper\"/>]", c));
}

TEST(RyTemplate, UnknownKeysFailWithTheElementFileAndLine)
{
    std::string reason = RenderError(@"a\nb <ry:value key=\"nope.x\"/>", NewComponent());
    EXPECT_EQ(0u, reason.find("T.html:2: <ry:value key=\"nope.x\">: ")) << reason;
}

TEST(RyTemplate, TruthOfValuesInIfAndCheckbox)
{
    struct { id value; bool truth; const char *what; } cases[] = {
	{nil, false, "nil"},
	{[NSNull null], false, "NSNull"},
	{[NSNumber numberWithBool: NO], false, "NO"},
	{[NSNumber numberWithInt: 0], false, "0"},
	{[NSNumber numberWithInt: 7], true, "7"},
	{@"", false, "empty string"},
	{@"0", true, "the string 0"},
	{[NSArray array], false, "empty array"},
	{[NSArray arrayWithObject: @"x"], true, "array"},
	{[NSDictionary dictionary], false, "empty dictionary"},
	{[NSSet setWithObject: @"x"], true, "set"},
	{[[[RyTestUser alloc] initWithName: @"u"] autorelease], true, "other object"},
    };
    for (const auto &tc : cases) {
	RyTestComponent *c = NewComponent();
	[c setValue: tc.value forKey: @"k"];
	EXPECT_EQ(tc.truth ? "T" : "", Render(@"<ry:if key=\"k\">T</ry:if>", c)) << tc.what;
	EXPECT_EQ(tc.truth ? "" : "F", Render(@"<ry:if key=\"k\" negate=\"yes\">F</ry:if>", c))
	    << tc.what;
	EXPECT_EQ(tc.truth ? "Y" : "", Render(@"<ry:if key=\"k\" negate=\"no\">Y</ry:if>", c))
	    << tc.what;
	std::string box = tc.truth
	    ? "<form method=\"post\" action=\"/Main?form=1&amp;x=&lt;y&gt;\">"
	      "<input type=\"checkbox\" name=\"f.k\" value=\"1\" checked></form>"
	    : "<form method=\"post\" action=\"/Main?form=1&amp;x=&lt;y&gt;\">"
	      "<input type=\"checkbox\" name=\"f.k\" value=\"1\"></form>";
	EXPECT_EQ(box, Render(@"<ry:form><ry:checkbox key=\"k\"/></ry:form>", c)) << tc.what;
    }
}

TEST(RyTemplate, RepeatSetsItemAndIndexAndNestsInsideIf)
{
    RyTestComponent *c = NewComponent();
    NSArray *groups = [NSArray arrayWithObjects:
	[NSDictionary dictionaryWithObjectsAndKeys: @"A", @"title",
	    [NSArray arrayWithObjects: @"a1", @"a<2", nil], @"items", nil],
	[NSDictionary dictionaryWithObjectsAndKeys: @"B", @"title",
	    [NSArray array], @"items", nil],
	nil];
    [c setValue: groups forKey: @"groups"];
    NSString *source =
	@"<ry:repeat list=\"groups\" item=\"group\" index=\"g\">"
	@"<h2><ry:value key=\"g\"/>:<ry:value key=\"group.title\"/></h2>"
	@"<ry:if key=\"group.items\"><ul>"
	@"<ry:repeat list=\"group.items\" item=\"entry\" index=\"i\">"
	@"<li><ry:value key=\"i\"/>=<ry:value key=\"entry\"/></li>"
	@"</ry:repeat></ul></ry:if>"
	@"<ry:if key=\"group.items\" negate=\"yes\"><p>none</p></ry:if>"
	@"</ry:repeat>";
    EXPECT_EQ("<h2>0:A</h2><ul><li>0=a1</li><li>1=a&lt;2</li></ul>"
	      "<h2>1:B</h2><p>none</p>", Render(source, c));
    NSDictionary *last = [c valueForKey: @"group"];
    EXPECT_EQ(std::string("B"), [[last objectForKey: @"title"] UTF8String]);
    /* The keys go through the context, each repetition forgets its own
     * when it ends. */
    RyTestContext *context = [[[RyTestContext alloc] initWithComponent: c] autorelease];
    [RyParseTemplate(source, @"T.html") appendToString: [NSMutableString string]
					        context: context];
    EXPECT_EQ(std::string("+group +g +entry +i +entry +i -entry -i +group +g -group -g"),
	[[[context repetitionLog] componentsJoinedByString: @" "] UTF8String]);

    [c setValue: nil forKey: @"nothing"];
    EXPECT_EQ("[]", Render(@"[<ry:repeat list=\"nothing\" item=\"x\">x</ry:repeat>]", c));
    [c setValue: [NSNumber numberWithInt: 3] forKey: @"number"];
    EXPECT_EQ("T.html:1: <ry:repeat list=\"number\">: the value is no collection but a "
	      + std::string([NSStringFromClass([[NSNumber numberWithInt: 3] class]) UTF8String]),
	RenderError(@"<ry:repeat list=\"number\" item=\"x\">x</ry:repeat>", c));
}

TEST(RyTemplate, FormsFieldsLinksAndComponentsBecomePlainHTML)
{
    RyTestComponent *c = NewComponent();
    [c setValue: @"a \"quoted\" <name>" forKey: @"title"];
    NSString *source =
	@"<ry:form>"
	@"<ry:textfield key=\"title\"/>"
	@"<ry:submit action=\"save\" value=\"Save &amp; close\"/>"
	@"<ry:submit action=\"go\"/>"
	@"</ry:form>"
	@"<ry:link action=\"x&y\">Next <ry:value key=\"title\"/></ry:link>"
	@"<ry:component name=\"Footer\"/>";
    EXPECT_EQ("<form method=\"post\" action=\"/Main?form=1&amp;x=&lt;y&gt;\">"
	      "<input type=\"text\" name=\"f.title\" value=\"a &quot;quoted&quot; &lt;name&gt;\">"
	      "<input type=\"submit\" name=\"a.save\" value=\"Save &amp; close\">"
	      "<input type=\"submit\" name=\"a.go\" value=\"go\">"
	      "</form>"
	      "<a href=\"/Main?action=x&amp;y\">Next a &quot;quoted&quot; &lt;name&gt;</a>"
	      "<footer>F</footer>", Render(source, c));
    EXPECT_EQ("other exception: NSInvalidArgumentException",
	RenderError(@"<ry:component name=\"Header\"/>", c));
}

TEST(RyTemplate, OtherMarkupPassesThroughUnchanged)
{
    NSString *source = @"<!DOCTYPE html>\n<div class=\"a\" data-x='<ry'>&amp; <ryx> <r"
	@" </ry <!-- c --> \u00e9\u4e2d</div><";
    EXPECT_EQ([source UTF8String], Render(source, NewComponent()));
    EXPECT_EQ("", Render(@"", NewComponent()));
}

TEST(RyTemplate, ParseErrorsNameTheFileAndLine)
{
    struct { NSString *source; const char *reason; } cases[] = {
	{@"a\n\n<ry:bogus/>", "T.html:3: unknown element <ry:bogus>"},
	{@"<ry: key=\"k\"/>", "T.html:1: \"<ry:\" is not followed by an element name"},
	{@"x\n<ry:if key=\"k\">\n<ry:if key=\"j\"></ry:if>\n",
	 "T.html:2: <ry:if> is not closed"},
	{@"<ry:if key=\"k\">\n<ry:repeat list=\"l\" item=\"i\">\n</ry:if>",
	 "T.html:3: </ry:if> does not match <ry:repeat> of line 2"},
	{@"text\n</ry:if>", "T.html:2: </ry:if> closes nothing: no element is open"},
	{@"<ry:if key=\"k\"></ry:if", "T.html:1: the end tag </ry:if> has no closing \">\""},
	{@"<ry:repeat\n list=\"l\">x</ry:repeat>\n<ry:value/>",
	 "T.html:1: <ry:repeat> needs the attribute item"},
	{@"<ry:link>x</ry:link>", "T.html:1: <ry:link> needs the attribute action"},
	{@"<ry:value\n  key=\"a\"\n  escape=\"no\"/>\n<ry:value kee=\"a\"/>",
	 "T.html:4: <ry:value> has no attribute kee"},
	{@"<ry:value key=\"a\" key=\"b\"/>", "T.html:1: <ry:value> has the attribute key twice"},
	{@"<ry:value key=a/>", "T.html:1: <ry:value>: the value of key must be quoted"},
	{@"<ry:value key/>", "T.html:1: <ry:value>: the attribute key has no value"},
	{@"<ry:value key=\"a/>", "T.html:1: <ry:value>: the value of key has no closing quote"},
	{@"<ry:value key=\"a\"", "T.html:1: the tag <ry:value> has no closing \">\""},
	{@"<ry:value key=\"a\" !/>", "T.html:1: unexpected '!' in the tag <ry:value>"},
	{@"<ry:value key=\"a\">x</ry:value>",
	 "T.html:1: <ry:value> has no content: write it as <ry:value .../>"},
	{@"<ry:value key=\"a..b\"/>", "T.html:1: <ry:value>: the value \"a..b\" of key is no key path"},
	{@"<ry:if key=\"\">x</ry:if>", "T.html:1: <ry:if>: the value \"\" of key is empty"},
	{@"<ry:repeat list=\"l\" item=\"a.b\">x</ry:repeat>",
	 "T.html:1: <ry:repeat>: the value \"a.b\" of item must be a single key"},
	{@"<ry:value key=\"a\" escape=\"off\"/>",
	 "T.html:1: <ry:value>: the value \"off\" of escape must be \"yes\" or \"no\""},
	{@"<ry:textfield key=\"a\"/>", "T.html:1: <ry:textfield> is outside <ry:form>"},
	{@"<ry:form></ry:form><ry:submit action=\"a\"/>",
	 "T.html:1: <ry:submit> is outside <ry:form>"},
	{@"<ry:form>\n<ry:form></ry:form></ry:form>", "T.html:2: <ry:form> inside another <ry:form>"},
    };
    for (const auto &tc : cases) {
	EXPECT_EQ(tc.reason, ParseError(tc.source)) << [tc.source UTF8String];
    }
}

TEST(RyTemplate, NestingIsBoundedAndDeepTemplatesAreRefusedCleanly)
{
    /* depth levels of <ry:if key="k">, then as many end tags. */
    auto nested = [](int depth) {
	NSMutableString *source = [NSMutableString string];
	for (int i = 0; i < depth; i++) {
	    [source appendString: @"<ry:if key=\"k\">\n"];
	}
	[source appendString: @"deep"];
	for (int i = 0; i < depth; i++) {
	    [source appendString: @"</ry:if>"];
	}
	return (NSString *) source;
    };
    RyTestComponent *c = NewComponent();
    [c setValue: [NSNumber numberWithBool: YES] forKey: @"k"];
    EXPECT_NE(std::string::npos, Render(nested(RY_TEMPLATE_MAX_DEPTH), c).find("deep"));
    std::string refused = "T.html:" + std::to_string(RY_TEMPLATE_MAX_DEPTH + 1)
	+ ": ry: elements are nested deeper than " + std::to_string(RY_TEMPLATE_MAX_DEPTH);
    EXPECT_EQ(refused, ParseError(nested(RY_TEMPLATE_MAX_DEPTH + 1)));
    EXPECT_EQ(refused, ParseError(nested(100000)));
}

namespace {

/* A temporary directory for template files, removed with its files. */
class RyTemplateFile : public testing::Test {
protected:
    void SetUp() override
    {
	char pattern[] = "/tmp/ry-template-XXXXXX";
	ASSERT_NE(nullptr, mkdtemp(pattern));
	dir = pattern;
	path = dir + "/Main.html";
    }
    void TearDown() override
    {
	unlink(path.c_str());
	rmdir(dir.c_str());
    }
    void Write(const char *text)
    {
	FILE *file = fopen(path.c_str(), "w");
	ASSERT_NE(nullptr, file);
	fputs(text, file);
	fclose(file);
    }
    /* Sets the file's modification time to seconds + nanoseconds. */
    void SetTime(time_t seconds, long nanoseconds)
    {
	struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
	ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
    }
    std::string RenderRoot(RyTemplate *page)
    {
	RyTestContext *context =
	    [[[RyTestContext alloc] initWithComponent: NewComponent()] autorelease];
	NSMutableString *out = [NSMutableString string];
	[[page root] appendToString: out context: context];
	return [out UTF8String];
    }
    std::string dir;
    std::string path;
};

} // namespace

TEST_F(RyTemplateFile, IsParsedAgainOnlyAfterItChanged)
{
    Write("one");
    SetTime(1000000000, 5);
    RyTemplate *page = [[[RyTemplate alloc] initWithPath:
	[NSString stringWithUTF8String: path.c_str()]] autorelease];
    RyElement *first = [page root];
    EXPECT_EQ("one", RenderRoot(page));
    EXPECT_EQ(first, [page root]);

    /* Same size, same second: only the nanoseconds tell them apart. */
    Write("two");
    SetTime(1000000000, 5);
    EXPECT_EQ(first, [page root]);
    SetTime(1000000000, 6);
    RyElement *second = [page root];
    EXPECT_NE(first, second);
    EXPECT_EQ("two", RenderRoot(page));

    /* Same time, another size. */
    Write("three");
    SetTime(1000000000, 6);
    EXPECT_NE(second, [page root]);
    EXPECT_EQ("three", RenderRoot(page));
}

TEST_F(RyTemplateFile, ErrorsNameThePathAndLastUntilTheFileIsFixed)
{
    NSString *name = [NSString stringWithUTF8String: path.c_str()];
    RyTemplate *page = [[[RyTemplate alloc] initWithPath: name] autorelease];
    std::string missing = ErrorOf([&] { [page root]; });
    EXPECT_EQ(path + ": cannot read the file: No such file or directory", missing);

    Write("ok\n<ry:if key=\"k\">");
    std::string broken = path + ":2: <ry:if> is not closed";
    EXPECT_EQ(broken, ErrorOf([&] { [page root]; }));
    EXPECT_EQ(broken, ErrorOf([&] { [page root]; }));

    Write("\xff\xfe");
    SetTime(1000000000, 1);
    EXPECT_EQ(path + ": the file is not UTF-8 text", ErrorOf([&] { [page root]; }));

    Write("fixed");
    SetTime(1000000000, 2);
    EXPECT_EQ("fixed", RenderRoot(page));
}
