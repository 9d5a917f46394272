/*
 * RyElement.mm --
 *
 *	The template node: making it and reading it.  Rendering is in
 *	RyElementRender.mm.
 */
#import <Foundation/Foundation.h>

#include "RyElement.h"

@implementation RyElement

- (id) initWithText: (NSString *)html
{
    if ((self = [super init]) != nil) {
	kind = RyElementText;
	text = [html copy];
    }
    return self;
}

- (id) initWithKind: (RyElementKind)aKind
	       file: (NSString *)aFile
	       line: (unsigned)aLine
	 attributes: (NSDictionary *)someAttributes
	   children: (NSArray *)someChildren
{
    if ((self = [super init]) != nil) {
	kind = aKind;
	file = [aFile copy];
	line = aLine;
	attributes = [someAttributes copy];
	children = [someChildren copy];
	NSString *path = [attributes objectForKey: @"key"];
	if (path == nil) {
	    path = [attributes objectForKey: @"list"];
	}
	keys = [[path componentsSeparatedByString: @"."] retain];
    }
    return self;
}

- (void) dealloc
{
    [file release];
    [text release];
    [attributes release];
    [keys release];
    [children release];
    [super dealloc];
}

- (RyElementKind) kind
{
    return kind;
}

- (NSString *) file
{
    return file;
}

- (unsigned) line
{
    return line;
}

- (NSString *) text
{
    return text;
}

- (NSString *) attribute: (NSString *)name
{
    return [attributes objectForKey: name];
}

- (NSArray *) keys
{
    return keys;
}

- (NSArray *) children
{
    return children;
}

@end
