/*
 * RyComponentController.mm --
 *
 *	The base controller: every request-cycle method goes on (nil), and
 *	there is no list of actions or kept keys.
 */
#import <Foundation/Foundation.h>

#include "RyComponentController.h"

@implementation RyComponentController

- (void) awake
{
}

- (id) willPrepareForRequest: (id)request inContext: (id)context
{
    (void)request;
    (void)context;
    return nil;
}

- (id) didPrepareForRequest: (id)request inContext: (id)context
{
    (void)request;
    (void)context;
    return nil;
}

- (id) willGenerateResponse: (id)response inContext: (id)context
{
    (void)response;
    (void)context;
    return nil;
}

- (id) didGenerateResponse: (id)response inContext: (id)context
{
    (void)response;
    (void)context;
    return nil;
}

- (NSArray *) actionKeys
{
    return nil;
}

- (NSArray *) persistentKeys
{
    return nil;
}

@end
