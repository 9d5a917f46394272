/*
 * RyValue.mm --
 *
 *	Key-path lookup, truth and text of component values.
 */
#import <Foundation/Foundation.h>

#include "RyValue.h"

id
RyValueForKeys(id object, NSArray *keys)
{
    NSUInteger count = [keys count];
    for (NSUInteger i = 0; i < count && object != nil; i++) {
	object = [object valueForKey: [keys objectAtIndex: i]];
    }
    return object;
}

BOOL
RyIsTrue(id value)
{
    if (value == nil || value == [NSNull null]) {
	return NO;
    }
    if ([value isKindOfClass: [NSNumber class]]) {
	return [value boolValue];
    }
    if ([value isKindOfClass: [NSString class]]) {
	return [value length] > 0;
    }
    if ([value respondsToSelector: @selector(count)]) {
	return [value count] > 0;
    }
    return YES;
}

NSString *
RyTextOfValue(id value)
{
    if (value == nil || value == [NSNull null]) {
	return @"";
    }
    if ([value isKindOfClass: [NSString class]]) {
	return value;
    }
    return [value description];
}
