/*
 * RyValue.h --
 *
 *	How templates see the values of a component: lookup along a key
 *	path, truth, the text a value shows as, and setting a value the way
 *	the request cycle does.
 */
#ifndef RY_VALUE_H
#define RY_VALUE_H

#import <Foundation/NSObject.h>

@class NSArray, NSString;

/* The value at the end of keys (an array of NSStrings) from object:
 * valueForKey: of each key in turn on the previous step's value.  A nil
 * step ends the walk with nil.  Exceptions of valueForKey: (an unknown
 * key) pass to the caller. */
id RyValueForKeys(id object, NSArray *keys);

/* The truth of a value in templates: NO for nil, NSNull, an NSNumber
 * whose boolValue is NO, an empty string and an empty collection
 * (anything that answers count with 0); YES for everything else. */
BOOL RyIsTrue(id value);

/* The text of a value: empty for nil and NSNull, the string itself for
 * an NSString, otherwise its description. */
NSString *RyTextOfValue(id value);

/* Sets value under key on object with takeValue:forKey:, the method
 * controllers (and the Perl classes behind them) override.  An object
 * that keeps NSObject's own takeValue:forKey: is sent setValue:forKey:
 * instead, which does the same without the deprecation notice GNUstep
 * logs for the older method.  Exceptions pass to the caller. */
void RyTakeValue(id object, id value, NSString *key);

/* Sets value at the end of keys (an array of NSStrings) from object:
 * valueForKey: along all but the last key, then RyTakeValue with the
 * last.  A nil step sets nothing (as a message to nil does). */
void RyTakeValueForKeys(id object, id value, NSArray *keys);

#endif /* RY_VALUE_H */
