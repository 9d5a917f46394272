/*
 * RyPageState.h --
 *
 *	What the framework keeps in a session between requests: the
 *	controller of each component the session used (one per name, the
 *	page's and the sub-components'), the action table of the session's
 *	last rendering, and the counter that numbers renderings.  It lives in
 *	the session's values, so a session that expires or is evicted frees
 *	its controllers with it.
 *
 *	The counter starts at a random number below 2^56, not at 0: a link's
 *	URL is then as hard to guess as 56 random bits, so a page elsewhere
 *	cannot make a user's browser run an action of this application by
 *	linking to it (the session cookie goes with such a top-level GET).
 */
#ifndef RY_PAGE_STATE_H
#define RY_PAGE_STATE_H

#import <Foundation/NSObject.h>

@class NSMutableDictionary, NSString, RyActionTable, RySession;

@interface RyPageState : NSObject
{
    NSMutableDictionary *controllers;	/* component name -> controller */
    RyActionTable *table;		/* of the last rendering, or nil */
    unsigned long long lastSerial;	/* the last rendering's number */
}
/* The state kept in session, made and stored there on first use. */
+ (RyPageState *) stateOfSession: (RySession *)session;
/* The controller kept for the component name, or nil. */
- (id) controllerForName: (NSString *)name;
- (void) setController: (id)controller forName: (NSString *)name;
- (RyActionTable *) table;
- (void) setTable: (RyActionTable *)table;
/* The number of a new rendering: one more than the last. */
- (unsigned long long) nextSerial;
@end

#endif /* RY_PAGE_STATE_H */
