/*
 * RyValue.mm --
 *
 *	Key-path lookup and setting, truth and text of component values.
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

void
RyTakeValue(id object, id value, NSString *key)
{
    static IMP inherited = [NSObject instanceMethodForSelector: @selector(takeValue:forKey:)];
    if ([object methodForSelector: @selector(takeValue:forKey:)] == inherited) {
	[object setValue: value forKey: key];
    } else {
	[object takeValue: value forKey: key];
    }
}

void
RyTakeValueForKeys(id object, id value, NSArray *keys)
{
    NSUInteger count = [keys count];
    if (count == 0) {
	return;
    }
    NSArray *path = [keys subarrayWithRange: NSMakeRange(0, count - 1)];
    object = RyValueForKeys(object, path);
    if (object != nil) {
	RyTakeValue(object, value, [keys lastObject]);
    }
}
