/*
 * RyHTML.mm --
 *
 *	HTML escaping.  Runs of ordinary characters are appended whole, so
 *	a text without special characters costs one search and one append.
 */
#import <Foundation/Foundation.h>

#include "RyHTML.h"

/* The character set & < > " ', made once and kept.  NSCharacterSet is
 * immutable, so threads share it; two threads that race here both make
 * one, and the loser of the swap gives its own back. */
static NSCharacterSet *
SpecialCharacters(void)
{
    static NSCharacterSet *special;
    if (special == nil) {
	NSCharacterSet *set = [NSCharacterSet characterSetWithCharactersInString: @"&<>\"'"];
	[set retain];
	if (!__sync_bool_compare_and_swap(&special, (NSCharacterSet *) nil, set)) {
	    [set release];
	}
    }
    return special;
}

/* The character reference that replaces c. */
static NSString *
ReferenceFor(unichar c)
{
    switch (c) {
    case '&':	return @"&amp;";
    case '<':	return @"&lt;";
    case '>':	return @"&gt;";
    case '"':	return @"&quot;";
    default:	return @"&#39;";
    }
}

void
RyAppendEscaped(NSMutableString *out, NSString *text)
{
    NSUInteger length = [text length];
    NSCharacterSet *special = SpecialCharacters();
    NSUInteger start = 0;
    while (start < length) {
	NSRange found = [text rangeOfCharacterFromSet: special
					      options: 0
						range: NSMakeRange(start, length - start)];
	if (found.location == NSNotFound) {
	    break;
	}
	if (found.location > start) {
	    [out appendString: [text substringWithRange:
		NSMakeRange(start, found.location - start)]];
	}
	[out appendString: ReferenceFor([text characterAtIndex: found.location])];
	start = found.location + 1;
    }
    if (start == 0) {
	[out appendString: text != nil ? text : @""];
    } else if (start < length) {
	[out appendString: [text substringFromIndex: start]];
    }
}
