/*
 * RySession.h --
 *
 *	One user's session: its id, the values the framework keeps for it
 *	between requests, and when it was last used (seconds on the
 *	monotonic clock, which wall-clock changes do not move).
 *
 *	Threads: a session is used by one request at a time; it has no lock
 *	of its own.  A RySessionStore keeps its sessions in last-use order
 *	through the two links below, which only the store reads or writes
 *	(under its lock).
 */
#ifndef RY_SESSION_H
#define RY_SESSION_H

#import <Foundation/NSObject.h>

@class NSMutableDictionary, NSString;

/* Seconds on CLOCK_MONOTONIC, the clock sessions are timed by. */
double RyMonotonicSeconds(void);

@interface RySession : NSObject
{
    NSString *sessionId;
    NSMutableDictionary *values;
    double lastUsed;
@package
    RySession *older;		/* the store's last-use order: not retained */
    RySession *newer;
}
/* A session with the id sessionId (copied), no values, last used now. */
- (id) initWithId: (NSString *)sessionId;
- (id) initWithId: (NSString *)sessionId lastUsed: (double)seconds;
- (NSString *) sessionId;
/* The value kept under key, or nil. */
- (id) objectForKey: (id)key;
/* Keeps value under key; a nil value or key raises
 * NSInvalidArgumentException, as for any mutable dictionary. */
- (void) setObject: (id)value forKey: (id)key;
- (void) removeObjectForKey: (id)key;
/* When the session was last used, in RyMonotonicSeconds(). */
- (double) lastUsed;
/* Records the session as used now (RyMonotonicSeconds()) or at seconds.
 * This moves only the time: a store's order of its sessions changes when
 * it hands the session out (-[RySessionStore sessionForId:]). */
- (void) touch;
- (void) touchAt: (double)seconds;
@end

#endif /* RY_SESSION_H */
