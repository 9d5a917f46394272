/*
 * RyVellumComponentControllerPerlify.mm --
 *
 *	The keys of a scripted component controller's variables, for the
 *	key-value view of a handle used as a Perl hash.
 */
#import <Foundation/Foundation.h>

#include "RyVellumComponentControllerPerlify.h"

@implementation RyVellumComponentController (DravikPerlify)

- (NSArray *) allHashKeys
{
    return [variables allKeys];
}

@end
