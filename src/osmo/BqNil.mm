/*
 * BqNil.mm --
 *
 *	Every way of making a BqNil answers the one shared instance, and
 *	reference counting leaves it alone, so it can sit in any number of
 *	Foundation collections.
 */
#import <Foundation/Foundation.h>

#include "BqNil.h"
#include "KxRootObject.h"

static BqNil *sharedNil;

@implementation BqNil

+ (id) sharedInstance
{
    if (sharedNil == nil) {
	sharedNil = [[super allocWithZone: NSDefaultMallocZone()] init];
    }
    return sharedNil;
}

+ (id) allocWithZone: (NSZone *)zone
{
    return [self sharedInstance];
}

- (id) retain
{
    return self;
}

- (oneway void) release
{
}

- (id) autorelease
{
    return self;
}

- (NSUInteger) retainCount
{
    return UINT_MAX;
}

- (id) copyWithZone: (NSZone *)zone
{
    return self;
}

- (NSString *) description
{
    return [NSString stringWithUTF8String: "<nil>"];
}

- (BOOL) isEqual: (id)other
{
    return other == nil || [other isKindOf: [self class]];
}

- (NSUInteger) hash
{
    return 0;
}

@end
