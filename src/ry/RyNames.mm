/*
 * RyNames.mm --
 *
 *	Checks of component and resource names.
 */
#import <Foundation/Foundation.h>

#include "RyNames.h"

/* Whether c may appear in a component name; first says it is the first
 * character (no digit there). */
static BOOL
IsComponentCharacter(unichar c, BOOL first)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') {
	return YES;
    }
    return !first && c >= '0' && c <= '9';
}

BOOL
RyIsComponentName(id name)
{
    if (![name isKindOfClass: [NSString class]] || [name length] == 0) {
	return NO;
    }
    NSUInteger length = [name length];
    for (NSUInteger i = 0; i < length; i++) {
	if (!IsComponentCharacter([name characterAtIndex: i], i == 0)) {
	    return NO;
	}
    }
    return YES;
}

BOOL
RyIsResourceName(id name)
{
    if (![name isKindOfClass: [NSString class]] || [name length] == 0
	|| [name characterAtIndex: 0] == '.') {
	return NO;
    }
    NSUInteger length = [name length];
    for (NSUInteger i = 0; i < length; i++) {
	unichar c = [name characterAtIndex: i];
	if (c == '/' || c == 0) {
	    return NO;
	}
    }
    return YES;
}
