/*
 * RyElement.h --
 *
 *	A node of a parsed template (RyTemplate.h makes the tree).  A node
 *	is literal text or one ry: element with its attributes and children:
 *
 *	    <ry:value key="a.b" escape="no"/>	the value at a key path
 *	    <ry:if key="k" negate="yes">...</ry:if>
 *	    <ry:repeat list="items" item="item" index="i">...</ry:repeat>
 *	    <ry:form>...</ry:form>
 *	    <ry:textfield key="k"/>  <ry:checkbox key="k"/>
 *	    <ry:submit action="name" value="Label"/>
 *	    <ry:link action="name">...</ry:link>
 *	    <ry:component name="Footer"/>
 *
 *	Nodes are immutable once made, so one tree serves every request and
 *	thread.  Rendering (RyElementRender.mm) writes plain HTML into a
 *	string, asking a RyRenderContext for values, URLs, field names and
 *	sub-components.
 */
#ifndef RY_ELEMENT_H
#define RY_ELEMENT_H

#import <Foundation/NSObject.h>

#include "RyRenderContext.h"

@class NSArray, NSDictionary, NSMutableString, NSString;

typedef enum RyElementKind {
    RyElementText,		/* literal HTML */
    RyElementList,		/* the root: only children */
    RyElementValue,
    RyElementIf,
    RyElementRepeat,
    RyElementForm,
    RyElementTextField,
    RyElementCheckbox,
    RyElementSubmit,
    RyElementLink,
    RyElementComponent
} RyElementKind;

@interface RyElement : NSObject
{
    RyElementKind kind;
    NSString *file;		/* the template's name, for errors */
    unsigned line;		/* where the element starts */
    NSString *text;		/* a text node's HTML, else nil */
    NSDictionary *attributes;	/* attribute name -> value (NSString) */
    NSArray *keys;		/* the key path of "key" or "list", split */
    NSArray *children;		/* RyElements */
}
/* A text node holding html. */
- (id) initWithText: (NSString *)html;
/* An element of kind with attributes (its "key" or "list" attribute is
 * split at dots into the key path) and children, made at line of file.
 * The parser has checked the attributes. */
- (id) initWithKind: (RyElementKind)kind
	       file: (NSString *)file
	       line: (unsigned)line
	 attributes: (NSDictionary *)attributes
	   children: (NSArray *)children;

- (RyElementKind) kind;
- (NSString *) file;
- (unsigned) line;
- (NSString *) text;
- (NSString *) attribute: (NSString *)name;
- (NSArray *) keys;
- (NSArray *) children;
@end

@interface RyElement (Render)
/* Appends the element's HTML to out.  Errors (a key the component does
 * not know, a <ry:repeat> list that is no collection) raise
 * RyTemplateError naming the template and line; exceptions of the
 * context's own methods pass through unchanged. */
- (void) appendToString: (NSMutableString *)out context: (id<RyRenderContext>)context;
@end

#endif /* RY_ELEMENT_H */
