/*
 * RyElementRender.mm --
 *
 *	Rendering a template tree into HTML.  Every value and attribute
 *	goes through RyAppendEscaped (except <ry:value escape="no">), and
 *	attribute values are always double-quoted.  Recursion follows the
 *	tree, whose depth the parser bounds.
 */
#import <Foundation/Foundation.h>

#include "RyElement.h"
#include "RyError.h"
#include "RyHTML.h"
#include "RyValue.h"

/* The element's start tag as written, for error texts: <ry:if key="k">. */
static NSString *
TagText(RyElement *element)
{
    static const char *const names[] = {
	"", "", "value", "if", "repeat", "form", "textfield", "checkbox",
	"submit", "link", "component"
    };
    NSString *attribute = [element attribute: @"key"] != nil ? @"key" : @"list";
    return [NSString stringWithFormat: @"<ry:%s %@=\"%@\">", names[[element kind]],
	attribute, [element attribute: attribute]];
}

/* The value at the element's key path from the context's component.  An
 * exception of the lookup becomes RyTemplateError naming the element. */
static id
LookUp(RyElement *element, id<RyRenderContext> context)
{
    id value = nil;
    @try {
	value = RyValueForKeys([context component], [element keys]);
    } @catch (NSException *e) {
	RyRaiseTemplateError([element file], [element line],
	    [NSString stringWithFormat: @"%@: %@", TagText(element), [e reason]]);
    }
    return value;
}

/* Appends ` name="value"` with value escaped. */
static void
AppendAttribute(NSMutableString *out, NSString *name, NSString *value)
{
    [out appendFormat: @" %@=\"", name];
    RyAppendEscaped(out, value);
    [out appendString: @"\""];
}

/* Appends each child of element in order. */
static void
AppendChildren(RyElement *element, NSMutableString *out, id<RyRenderContext> context)
{
    NSArray *children = [element children];
    NSUInteger count = [children count];
    for (NSUInteger i = 0; i < count; i++) {
	[[children objectAtIndex: i] appendToString: out context: context];
    }
}

/* <ry:value>: the value's text, escaped unless escape="no". */
static void
AppendValue(RyElement *element, NSMutableString *out, id<RyRenderContext> context)
{
    NSString *text = RyTextOfValue(LookUp(element, context));
    if ([[element attribute: @"escape"] isEqualToString: @"no"]) {
	[out appendString: text];
    } else {
	RyAppendEscaped(out, text);
    }
}

/* <ry:if>: the children when the value is true (false with negate). */
static void
AppendIf(RyElement *element, NSMutableString *out, id<RyRenderContext> context)
{
    BOOL truth = RyIsTrue(LookUp(element, context));
    if ([[element attribute: @"negate"] isEqualToString: @"yes"]) {
	truth = !truth;
    }
    if (truth) {
	AppendChildren(element, out, context);
    }
}

/* <ry:repeat>: the children once per element of the list, with the item
 * (and index, when asked for) set through the context first, and
 * forgotten after the last.  A nil list repeats nothing; a value that
 * cannot be enumerated is an error. */
static void
AppendRepeat(RyElement *element, NSMutableString *out, id<RyRenderContext> context)
{
    id list = LookUp(element, context);
    if (list == nil || list == [NSNull null]) {
	return;
    }
    if (![list respondsToSelector: @selector(countByEnumeratingWithState:objects:count:)]) {
	RyRaiseTemplateError([element file], [element line],
	    [NSString stringWithFormat: @"%@: the value is no collection but a %@",
		TagText(element), NSStringFromClass([list class])]);
    }
    NSString *itemKey = [element attribute: @"item"];
    NSString *indexKey = [element attribute: @"index"];
    NSUInteger index = 0;
    for (id item in list) {
	[context takeRepetitionValue: item forKey: itemKey];
	if (indexKey != nil) {
	    [context takeRepetitionValue: [NSNumber numberWithUnsignedInteger: index]
				  forKey: indexKey];
	}
	AppendChildren(element, out, context);
	index++;
    }
    [context forgetRepetitionKey: itemKey];
    if (indexKey != nil) {
	[context forgetRepetitionKey: indexKey];
    }
}

/* <ry:form>: a form that posts to the context's form URL. */
static void
AppendForm(RyElement *element, NSMutableString *out, id<RyRenderContext> context)
{
    [out appendString: @"<form method=\"post\""];
    AppendAttribute(out, @"action", [context formURL]);
    [out appendString: @">"];
    AppendChildren(element, out, context);
    [out appendString: @"</form>"];
}

/* <ry:textfield>: a text input holding the value's text. */
static void
AppendTextField(RyElement *element, NSMutableString *out, id<RyRenderContext> context)
{
    [out appendString: @"<input type=\"text\""];
    AppendAttribute(out, @"name", [context fieldNameForKey: [element attribute: @"key"]]);
    AppendAttribute(out, @"value", RyTextOfValue(LookUp(element, context)));
    [out appendString: @">"];
}

/* <ry:checkbox>: a checkbox whose value is "1", checked when the value
 * is true. */
static void
AppendCheckbox(RyElement *element, NSMutableString *out, id<RyRenderContext> context)
{
    [out appendString: @"<input type=\"checkbox\""];
    AppendAttribute(out, @"name", [context checkboxNameForKey: [element attribute: @"key"]]);
    [out appendString: @" value=\"1\""];
    if (RyIsTrue(LookUp(element, context))) {
	[out appendString: @" checked"];
    }
    [out appendString: @">"];
}

/* <ry:submit>: a submit button named for its action, labelled with the
 * value attribute (the action's name without one). */
static void
AppendSubmit(RyElement *element, NSMutableString *out, id<RyRenderContext> context)
{
    NSString *action = [element attribute: @"action"];
    NSString *label = [element attribute: @"value"];
    [out appendString: @"<input type=\"submit\""];
    AppendAttribute(out, @"name", [context fieldNameForAction: action]);
    AppendAttribute(out, @"value", label != nil ? label : action);
    [out appendString: @">"];
}

/* <ry:link>: an anchor to the action's URL around the children. */
static void
AppendLink(RyElement *element, NSMutableString *out, id<RyRenderContext> context)
{
    [out appendString: @"<a"];
    AppendAttribute(out, @"href", [context actionURLForName: [element attribute: @"action"]]);
    [out appendString: @">"];
    AppendChildren(element, out, context);
    [out appendString: @"</a>"];
}

@implementation RyElement (Render)

- (void) appendToString: (NSMutableString *)out context: (id<RyRenderContext>)context
{
    switch (kind) {
    case RyElementText:		[out appendString: text]; break;
    case RyElementList:		AppendChildren(self, out, context); break;
    case RyElementValue:	AppendValue(self, out, context); break;
    case RyElementIf:		AppendIf(self, out, context); break;
    case RyElementRepeat:	AppendRepeat(self, out, context); break;
    case RyElementForm:		AppendForm(self, out, context); break;
    case RyElementTextField:	AppendTextField(self, out, context); break;
    case RyElementCheckbox:	AppendCheckbox(self, out, context); break;
    case RyElementSubmit:	AppendSubmit(self, out, context); break;
    case RyElementLink:		AppendLink(self, out, context); break;
    case RyElementComponent:
	[context appendComponentNamed: [self attribute: @"name"] toString: out];
	break;
    }
}

@end
