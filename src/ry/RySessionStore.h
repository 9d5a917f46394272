/*
 * RySessionStore.h --
 *
 *	The live sessions of a server, by id.  A session expires when it has
 *	not been used for the idle timeout; the store holds at most `limit`
 *	sessions, so its memory is bounded however many clients come: a new
 *	session first makes room by dropping expired sessions and then the
 *	least recently used ones.
 *
 *	The sessions are kept in a dictionary by id and in a doubly linked
 *	list in last-use order (oldest first), so lookup, touch, insertion
 *	and each eviction take constant time whatever the number of
 *	sessions.
 *
 *	Threads: any thread may use the store; one lock guards it.  A session
 *	it hands out stays valid for the caller's autorelease pool even if
 *	another thread evicts it meanwhile.
 */
#ifndef RY_SESSION_STORE_H
#define RY_SESSION_STORE_H

#import <Foundation/NSObject.h>
#import <Foundation/NSDate.h>

@class NSLock, NSMutableDictionary, NSString, RySession;

/* A clock in seconds that only goes forward; context is the pointer given
 * with it.  Tests pass their own to move time without sleeping. */
typedef double (*RyClock)(void *context);

@interface RySessionStore : NSObject
{
    NSTimeInterval idleTimeout;
    NSUInteger limit;
    RyClock clock;
    void *clockContext;
    NSLock *lock;		/* guards everything below */
    NSMutableDictionary *sessions;	/* id -> RySession, retained here */
    RySession *oldest;		/* ends of the last-use order */
    RySession *newest;
}
/* A store whose sessions expire after 30 minutes idle, at most 10,000. */
- (id) init;
/* Sessions expire after seconds idle (> 0); at most count (>= 1) are
 * kept.  Other values raise NSInvalidArgumentException. */
- (id) initWithIdleTimeout: (NSTimeInterval)seconds limit: (NSUInteger)count;
/* The same, timed by clock(context) instead of RyMonotonicSeconds. */
- (id) initWithIdleTimeout: (NSTimeInterval)seconds
		     limit: (NSUInteger)count
		     clock: (RyClock)clock
		   context: (void *)context;
/* The live session with sessionId, touched now and moved to the newest
 * end of the order; or nil for nil, a malformed, unknown or expired id
 * (an expired session is removed).  Never raises. */
- (RySession *) sessionForId: (NSString *)sessionId;
/* A new session with a fresh random id, stored and answered.  At the
 * limit it first removes the expired sessions, then the least recently
 * used ones until there is room. */
- (RySession *) newSession;
/* Removes the session with sessionId if there is one (logging out). */
- (void) removeSessionForId: (NSString *)sessionId;
/* Removes every expired session; answers how many. */
- (NSUInteger) removeExpiredSessions;
- (NSUInteger) count;
- (NSTimeInterval) idleTimeout;
- (NSUInteger) limit;
@end

#endif /* RY_SESSION_STORE_H */
