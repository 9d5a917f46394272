/*
 * RyTemplateParser.mm --
 *
 *	The template parser.  It scans the UTF-8 bytes of the template once:
 *	memchr finds each '<', and only "<ry:" and "</ry:" start a tag; the
 *	bytes between tags become text nodes.  Open elements live on an
 *	explicit stack (no recursion), each frame collecting its children
 *	until its end tag makes it a RyElement.  Line numbers are counted
 *	incrementally as the scan moves forward, so the whole parse is
 *	linear in the size of the template.
 *
 *	Errors do not unwind through the parser: each step answers false
 *	and leaves the error text in the parser, and RyParseTemplate raises
 *	once the parser's state is gone.
 */
#import <Foundation/Foundation.h>

#include "RyElement.h"
#include "RyError.h"
#include "RyTemplateParser.h"

#include <string.h>
#include <string>
#include <vector>

namespace {

/* What the parser knows of each ry: element. */
struct TagInfo {
    const char *name;
    RyElementKind kind;
    bool container;		/* may have children and an end tag */
    bool field;			/* belongs inside <ry:form> */
    const char *required[2];
    const char *optional[2];
};

const TagInfo tagTable[] = {
    {"value",     RyElementValue,     false, false, {"key", nullptr},     {"escape", nullptr}},
    {"if",        RyElementIf,        true,  false, {"key", nullptr},     {"negate", nullptr}},
    {"repeat",    RyElementRepeat,    true,  false, {"list", "item"},     {"index", nullptr}},
    {"form",      RyElementForm,      true,  false, {nullptr, nullptr},   {nullptr, nullptr}},
    {"textfield", RyElementTextField, false, true,  {"key", nullptr},     {nullptr, nullptr}},
    {"checkbox",  RyElementCheckbox,  false, true,  {"key", nullptr},     {nullptr, nullptr}},
    {"submit",    RyElementSubmit,    false, true,  {"action", nullptr},  {"value", nullptr}},
    {"link",      RyElementLink,      true,  false, {"action", nullptr},  {nullptr, nullptr}},
    {"component", RyElementComponent, false, false, {"name", nullptr},    {nullptr, nullptr}},
};

/* An open element: its tag, attributes, where it started and the
 * children seen so far (both autoreleased, owned by the parse's pool). */
struct Frame {
    const TagInfo *tag;		/* null for the root */
    NSDictionary *attributes;
    NSMutableArray *children;
    unsigned line;
};

struct Parser {
    NSString *name;		/* the template's name for errors */
    const char *cursor;		/* where scanning continues */
    const char *end;
    const char *lineMark;	/* line counts the newlines before this */
    unsigned line;
    std::vector<Frame> stack;	/* stack[0] is the root */
    int formDepth;		/* open <ry:form>s */
    NSString *error;		/* the first error's text (autoreleased) */
};

/* Records an error at line and answers false, for "return Fail(...)". */
bool
Fail(Parser *parser, unsigned line, NSString *message)
{
    parser->error = RyErrorText(parser->name, line, message);
    return false;
}

/* The line that position is on; position never moves backwards. */
unsigned
LineAt(Parser *parser, const char *position)
{
    for (const char *p = parser->lineMark; p < position; p++) {
	p = static_cast<const char *>(memchr(p, '\n', position - p));
	if (p == nullptr) {
	    break;
	}
	parser->line++;
    }
    parser->lineMark = position;
    return parser->line;
}

/* The tag named by the bytes [name, name + length), or null. */
const TagInfo *
FindTag(const char *name, size_t length)
{
    for (const TagInfo &tag : tagTable) {
	if (strlen(tag.name) == length && memcmp(tag.name, name, length) == 0) {
	    return &tag;
	}
    }
    return nullptr;
}

bool
IsNameByte(char c, bool first)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
	|| (!first && ((c >= '0' && c <= '9') || c == '_' || c == '-'));
}

bool
IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

/* Skips white space at the cursor. */
void
SkipSpace(Parser *parser)
{
    while (parser->cursor < parser->end && IsSpace(*parser->cursor)) {
	parser->cursor++;
    }
}

/* A name ([A-Za-z][A-Za-z0-9_-]*) at the cursor, moved past; empty when
 * none is there. */
std::string
ScanName(Parser *parser)
{
    const char *start = parser->cursor;
    while (parser->cursor < parser->end
	    && IsNameByte(*parser->cursor, parser->cursor == start)) {
	parser->cursor++;
    }
    return std::string(start, parser->cursor - start);
}

/* The bytes [start, stop) as an NSString with the character references
 * &amp; &lt; &gt; &quot; &#39; and &apos; replaced; other '&'s stay. */
NSString *
DecodeAttribute(const char *start, const char *stop)
{
    static const struct { const char *ref; char c; } refs[] = {
	{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'},
	{"&#39;", '\''}, {"&apos;", '\''},
    };
    std::string value;
    value.reserve(stop - start);
    for (const char *p = start; p < stop; p++) {
	bool replaced = false;
	if (*p == '&') {
	    for (const auto &r : refs) {
		size_t n = strlen(r.ref);
		if (static_cast<size_t>(stop - p) >= n && memcmp(p, r.ref, n) == 0) {
		    value += r.c;
		    p += n - 1;
		    replaced = true;
		    break;
		}
	    }
	}
	if (!replaced) {
	    value += *p;
	}
    }
    return [[[NSString alloc] initWithBytes: value.data() length: value.size()
				   encoding: NSUTF8StringEncoding] autorelease];
}

/* Whether a holds name among its (at most two) names. */
bool
Lists(const char *const names[2], const std::string &name)
{
    for (int i = 0; i < 2; i++) {
	if (names[i] != nullptr && name == names[i]) {
	    return true;
	}
    }
    return false;
}

/* Checks the value of one attribute: key paths have no empty part, item
 * and index are single keys, escape and negate are yes or no, and
 * nothing is empty. */
bool
CheckAttributeValue(Parser *parser, unsigned line, const TagInfo *tag,
	NSString *attribute, NSString *value)
{
    NSString *problem = nil;
    if ([value length] == 0) {
	problem = @"is empty";
    } else if ([attribute isEqualToString: @"key"] || [attribute isEqualToString: @"list"]) {
	if ([value hasPrefix: @"."] || [value hasSuffix: @"."]
		|| [value rangeOfString: @".."].location != NSNotFound) {
	    problem = @"is no key path";
	}
    } else if ([attribute isEqualToString: @"item"] || [attribute isEqualToString: @"index"]) {
	if ([value rangeOfString: @"."].location != NSNotFound) {
	    problem = @"must be a single key";
	}
    } else if ([attribute isEqualToString: @"escape"] || [attribute isEqualToString: @"negate"]) {
	if (![value isEqualToString: @"yes"] && ![value isEqualToString: @"no"]) {
	    problem = @"must be \"yes\" or \"no\"";
	}
    }
    if (problem != nil) {
	return Fail(parser, line, [NSString stringWithFormat:
	    @"<ry:%s>: the value \"%@\" of %@ %@", tag->name, value, attribute, problem]);
    }
    return true;
}

/* Scans the attributes of a start tag up to and past its "/>" or ">",
 * into *attributes; *empty tells which of the two ended it. */
bool
ScanAttributes(Parser *parser, unsigned line, const TagInfo *tag,
	NSMutableDictionary *attributes, bool *empty)
{
    for (;;) {
	SkipSpace(parser);
	if (parser->cursor >= parser->end) {
	    return Fail(parser, line, [NSString stringWithFormat:
		@"the tag <ry:%s> has no closing \">\"", tag->name]);
	}
	if (*parser->cursor == '>' ) {
	    parser->cursor++;
	    *empty = false;
	    return true;
	}
	if (*parser->cursor == '/' && parser->cursor + 1 < parser->end
		&& parser->cursor[1] == '>') {
	    parser->cursor += 2;
	    *empty = true;
	    return true;
	}
	std::string name = ScanName(parser);
	if (name.empty()) {
	    return Fail(parser, line, [NSString stringWithFormat:
		@"unexpected '%c' in the tag <ry:%s>", *parser->cursor, tag->name]);
	}
	NSString *attribute = [NSString stringWithUTF8String: name.c_str()];
	if (!Lists(tag->required, name) && !Lists(tag->optional, name)) {
	    return Fail(parser, line, [NSString stringWithFormat:
		@"<ry:%s> has no attribute %@", tag->name, attribute]);
	}
	if ([attributes objectForKey: attribute] != nil) {
	    return Fail(parser, line, [NSString stringWithFormat:
		@"<ry:%s> has the attribute %@ twice", tag->name, attribute]);
	}
	SkipSpace(parser);
	if (parser->cursor >= parser->end || *parser->cursor != '=') {
	    return Fail(parser, line, [NSString stringWithFormat:
		@"<ry:%s>: the attribute %@ has no value", tag->name, attribute]);
	}
	parser->cursor++;
	SkipSpace(parser);
	char quote = parser->cursor < parser->end ? *parser->cursor : '\0';
	if (quote != '"' && quote != '\'') {
	    return Fail(parser, line, [NSString stringWithFormat:
		@"<ry:%s>: the value of %@ must be quoted", tag->name, attribute]);
	}
	const char *valueStart = ++parser->cursor;
	const char *valueEnd = static_cast<const char *>(
	    memchr(valueStart, quote, parser->end - valueStart));
	if (valueEnd == nullptr) {
	    return Fail(parser, line, [NSString stringWithFormat:
		@"<ry:%s>: the value of %@ has no closing quote", tag->name, attribute]);
	}
	parser->cursor = valueEnd + 1;
	NSString *value = DecodeAttribute(valueStart, valueEnd);
	if (!CheckAttributeValue(parser, line, tag, attribute, value)) {
	    return false;
	}
	[attributes setObject: value forKey: attribute];
    }
}

/* Checks that every required attribute of tag is there. */
bool
CheckRequired(Parser *parser, unsigned line, const TagInfo *tag, NSDictionary *attributes)
{
    for (int i = 0; i < 2; i++) {
	const char *required = tag->required[i];
	if (required != nullptr
		&& [attributes objectForKey: [NSString stringWithUTF8String: required]] == nil) {
	    return Fail(parser, line, [NSString stringWithFormat:
		@"<ry:%s> needs the attribute %s", tag->name, required]);
	}
    }
    return true;
}

/* Makes the element of a frame whose children are complete. */
RyElement *
ElementOf(Parser *parser, const Frame &frame)
{
    return [[[RyElement alloc] initWithKind: frame.tag->kind
				       file: parser->name
				       line: frame.line
				 attributes: frame.attributes
				   children: frame.children] autorelease];
}

/* Adds the bytes [start, stop) as a text node to the innermost open
 * element (nothing for no bytes). */
void
AddText(Parser *parser, const char *start, const char *stop)
{
    if (stop <= start) {
	return;
    }
    NSString *html = [[NSString alloc] initWithBytes: start length: stop - start
					    encoding: NSUTF8StringEncoding];
    RyElement *node = [[RyElement alloc] initWithText: html];
    [parser->stack.back().children addObject: node];
    [node release];
    [html release];
}

/* A start tag at the cursor (just past "<ry:"), which started on line:
 * an empty element becomes a child of the innermost open one, any other
 * opens a frame. */
bool
ParseStartTag(Parser *parser, unsigned line)
{
    std::string name = ScanName(parser);
    if (name.empty()) {
	return Fail(parser, line, @"\"<ry:\" is not followed by an element name");
    }
    const TagInfo *tag = FindTag(name.data(), name.size());
    if (tag == nullptr) {
	return Fail(parser, line, [NSString stringWithFormat:
	    @"unknown element <ry:%s>", name.c_str()]);
    }
    NSMutableDictionary *attributes = [NSMutableDictionary dictionary];
    bool empty;
    if (!ScanAttributes(parser, line, tag, attributes, &empty)
	    || !CheckRequired(parser, line, tag, attributes)) {
	return false;
    }
    if (tag->field && parser->formDepth == 0) {
	return Fail(parser, line, [NSString stringWithFormat:
	    @"<ry:%s> is outside <ry:form>", tag->name]);
    }
    if (tag->kind == RyElementForm && parser->formDepth > 0) {
	return Fail(parser, line, @"<ry:form> inside another <ry:form>");
    }
    if (!empty && !tag->container) {
	return Fail(parser, line, [NSString stringWithFormat:
	    @"<ry:%s> has no content: write it as <ry:%s .../>", tag->name, tag->name]);
    }
    Frame frame = {tag, attributes, [NSMutableArray array], line};
    if (empty) {
	[parser->stack.back().children addObject: ElementOf(parser, frame)];
	return true;
    }
    if (parser->stack.size() > RY_TEMPLATE_MAX_DEPTH) {
	return Fail(parser, line, [NSString stringWithFormat:
	    @"ry: elements are nested deeper than %d", RY_TEMPLATE_MAX_DEPTH]);
    }
    if (tag->kind == RyElementForm) {
	parser->formDepth++;
    }
    parser->stack.push_back(frame);
    return true;
}

/* An end tag at the cursor (just past "</ry:"), which started on line:
 * closes the innermost open element, which must be the one it names. */
bool
ParseEndTag(Parser *parser, unsigned line)
{
    std::string name = ScanName(parser);
    SkipSpace(parser);
    if (parser->cursor >= parser->end || *parser->cursor != '>') {
	return Fail(parser, line, [NSString stringWithFormat:
	    @"the end tag </ry:%s> has no closing \">\"", name.c_str()]);
    }
    parser->cursor++;
    if (parser->stack.size() == 1) {
	return Fail(parser, line, [NSString stringWithFormat:
	    @"</ry:%s> closes nothing: no element is open", name.c_str()]);
    }
    const Frame &open = parser->stack.back();
    if (name != open.tag->name) {
	return Fail(parser, line, [NSString stringWithFormat:
	    @"</ry:%s> does not match <ry:%s> of line %u", name.c_str(),
	    open.tag->name, open.line]);
    }
    if (open.tag->kind == RyElementForm) {
	parser->formDepth--;
    }
    RyElement *element = ElementOf(parser, open);
    parser->stack.pop_back();
    [parser->stack.back().children addObject: element];
    return true;
}

/* Parses the whole text, leaving the top level in the root frame. */
bool
ParseAll(Parser *parser)
{
    const char *textStart = parser->cursor;
    while (parser->cursor < parser->end) {
	const char *lt = static_cast<const char *>(
	    memchr(parser->cursor, '<', parser->end - parser->cursor));
	if (lt == nullptr) {
	    break;
	}
	size_t left = parser->end - lt;
	bool start = left >= 4 && memcmp(lt, "<ry:", 4) == 0;
	bool stop = left >= 5 && memcmp(lt, "</ry:", 5) == 0;
	if (!start && !stop) {
	    parser->cursor = lt + 1;
	    continue;
	}
	AddText(parser, textStart, lt);
	unsigned line = LineAt(parser, lt);
	parser->cursor = lt + (start ? 4 : 5);
	if (!(start ? ParseStartTag(parser, line) : ParseEndTag(parser, line))) {
	    return false;
	}
	textStart = parser->cursor;
    }
    AddText(parser, textStart, parser->end);
    if (parser->stack.size() > 1) {
	const Frame &open = parser->stack.back();
	return Fail(parser, open.line, [NSString stringWithFormat:
	    @"<ry:%s> is not closed", open.tag->name]);
    }
    return true;
}

} // namespace

RyElement *
RyParseTemplate(NSString *source, NSString *name)
{
    NSAutoreleasePool *pool = [[NSAutoreleasePool alloc] init];
    NSData *bytes = [source dataUsingEncoding: NSUTF8StringEncoding];
    Parser parser;
    parser.name = name;
    parser.cursor = static_cast<const char *>([bytes bytes]);
    parser.end = parser.cursor + [bytes length];
    parser.lineMark = parser.cursor;
    parser.line = 1;
    parser.formDepth = 0;
    parser.error = nil;
    parser.stack.push_back(Frame{nullptr, nil, [NSMutableArray array], 0});
    RyElement *root = nil;
    if (ParseAll(&parser)) {
	root = [[RyElement alloc] initWithKind: RyElementList
					  file: name
					  line: 0
				    attributes: nil
				      children: parser.stack[0].children];
    }
    NSString *error = [parser.error retain];
    parser.stack.clear();
    [pool release];
    if (root == nil) {
	[error autorelease];
	[[NSException exceptionWithName: RyTemplateError reason: error userInfo: nil] raise];
    }
    return [root autorelease];
}
