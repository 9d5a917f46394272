/*
 * RySession.mm --
 *
 *	One user's session and its values.
 */
#import <Foundation/Foundation.h>

#include "RySession.h"

#include <time.h>

double
RyMonotonicSeconds(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

@implementation RySession

- (id) initWithId: (NSString *)anId
{
    return [self initWithId: anId lastUsed: RyMonotonicSeconds()];
}

- (id) initWithId: (NSString *)anId lastUsed: (double)seconds
{
    if ((self = [super init]) != nil) {
	sessionId = [anId copy];
	values = [[NSMutableDictionary alloc] init];
	lastUsed = seconds;
    }
    return self;
}

- (void) dealloc
{
    [sessionId release];
    [values release];
    [super dealloc];
}

- (NSString *) sessionId
{
    return sessionId;
}

- (id) objectForKey: (id)key
{
    return [values objectForKey: key];
}

- (void) setObject: (id)value forKey: (id)key
{
    [values setObject: value forKey: key];
}

- (void) removeObjectForKey: (id)key
{
    [values removeObjectForKey: key];
}

- (double) lastUsed
{
    return lastUsed;
}

- (void) touch
{
    lastUsed = RyMonotonicSeconds();
}

- (void) touchAt: (double)seconds
{
    lastUsed = seconds;
}

@end
