/*
 * RyPageState.mm --
 *
 *	The framework's part of a session.
 */
#import <Foundation/Foundation.h>

#include "RyActionTable.h"
#include "RyPageState.h"
#include "RySession.h"
#include "RySessionId.h"

/* The session key of the state; applications' own keys are names of
 * their choosing, which do not start with a space. */
static NSString *const StateKey = @" RyPageState";

@implementation RyPageState

+ (RyPageState *) stateOfSession: (RySession *)session
{
    RyPageState *state = [session objectForKey: StateKey];
    if (state == nil) {
	state = [[[RyPageState alloc] init] autorelease];
	[session setObject: state forKey: StateKey];
    }
    return state;
}

- (id) init
{
    if ((self = [super init]) != nil) {
	controllers = [[NSMutableDictionary alloc] init];
	lastSerial = RyRandomBits() >> 8;
    }
    return self;
}

- (void) dealloc
{
    [controllers release];
    [table release];
    [super dealloc];
}

- (id) controllerForName: (NSString *)name
{
    return [controllers objectForKey: name];
}

- (void) setController: (id)controller forName: (NSString *)name
{
    [controllers setObject: controller forKey: name];
}

- (RyActionTable *) table
{
    return table;
}

- (void) setTable: (RyActionTable *)aTable
{
    RyActionTable *old = table;
    table = [aTable retain];
    [old release];
}

- (unsigned long long) nextSerial
{
    return ++lastSerial;
}

@end
