/*
 * RyVellumComponentController.mm --
 *
 *	A controller whose values are the entries of a dictionary.
 */
#import <Foundation/Foundation.h>

#include "RyVellumComponentController.h"

/* Raises NSInvalidArgumentException unless key is a string. */
static void
CheckKey(id key)
{
    if (![key isKindOfClass: [NSString class]]) {
	[NSException raise: NSInvalidArgumentException
		    format: @"RyVellumComponentController: a key must be a string"];
    }
}

@implementation RyVellumComponentController

- (id) init
{
    if ((self = [super init]) != nil) {
	variables = [[NSMutableDictionary alloc] init];
    }
    return self;
}

- (void) dealloc
{
    [variables release];
    [super dealloc];
}

- (NSMutableDictionary *) variables
{
    return variables;
}

- (id) valueForKey: (NSString *)key
{
    CheckKey(key);
    return [variables objectForKey: key];
}

- (void) takeValue: (id)value forKey: (NSString *)key
{
    CheckKey(key);
    if (value == nil) {
	[variables removeObjectForKey: key];
    } else {
	[variables setObject: value forKey: key];
    }
}

- (void) setValue: (id)value forKey: (NSString *)key
{
    [self takeValue: value forKey: key];
}

@end
