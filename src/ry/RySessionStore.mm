/*
 * RySessionStore.mm --
 *
 *	Sessions by id, in last-use order, with expiry and a bound.
 */
#import <Foundation/Foundation.h>

#include "RySession.h"
#include "RySessionId.h"
#include "RySessionStore.h"

static const NSTimeInterval DefaultIdleTimeout = 30 * 60;
static const NSUInteger DefaultLimit = 10000;

/* The default clock: CLOCK_MONOTONIC, no context. */
static double
MonotonicClock(void *context)
{
    (void)context;
    return RyMonotonicSeconds();
}

@implementation RySessionStore

- (id) init
{
    return [self initWithIdleTimeout: DefaultIdleTimeout limit: DefaultLimit];
}

- (id) initWithIdleTimeout: (NSTimeInterval)seconds limit: (NSUInteger)count
{
    return [self initWithIdleTimeout: seconds
			       limit: count
			       clock: MonotonicClock
			     context: NULL];
}

- (id) initWithIdleTimeout: (NSTimeInterval)seconds
		     limit: (NSUInteger)count
		     clock: (RyClock)aClock
		   context: (void *)context
{
    if (!(seconds > 0) || count == 0 || aClock == NULL) {
	[self release];
	[NSException raise: NSInvalidArgumentException
		    format: @"RySessionStore needs an idle timeout above 0,"
			    @" a limit of at least 1 and a clock"
			    @" (got %g, %lu)", seconds, (unsigned long)count];
    }
    if ((self = [super init]) != nil) {
	idleTimeout = seconds;
	limit = count;
	clock = aClock;
	clockContext = context;
	lock = [[NSLock alloc] init];
	sessions = [[NSMutableDictionary alloc] init];
    }
    return self;
}

- (void) dealloc
{
    /* Sessions a caller still holds must not point at freed ones. */
    while (oldest != nil) {
	[self unlinkSession: oldest];
    }
    [sessions release];
    [lock release];
    [super dealloc];
}

/* Links session in at the newest end of the order.  Lock held. */
- (void) appendSession: (RySession *)session
{
    session->older = newest;
    session->newer = nil;
    if (newest != nil) {
	newest->newer = session;
    } else {
	oldest = session;
    }
    newest = session;
}

/* Takes session out of the order.  Lock held. */
- (void) unlinkSession: (RySession *)session
{
    if (session->older != nil) {
	session->older->newer = session->newer;
    } else {
	oldest = session->newer;
    }
    if (session->newer != nil) {
	session->newer->older = session->older;
    } else {
	newest = session->older;
    }
    session->older = nil;
    session->newer = nil;
}

/* Takes session out of the order and the dictionary, which releases it
 * (a caller that still hands it out must have retained it).  Lock held. */
- (void) dropSession: (RySession *)session
{
    [self unlinkSession: session];
    [sessions removeObjectForKey: [session sessionId]];
}

/* Whether session was last used more than the idle timeout before now. */
- (BOOL) isExpired: (RySession *)session now: (double)now
{
    return now - [session lastUsed] > idleTimeout;
}

/* Drops expired sessions from the oldest end until a live one (every
 * newer session was used later still); answers how many.  Lock held. */
- (NSUInteger) dropExpiredAt: (double)now
{
    NSUInteger dropped = 0;
    while (oldest != nil && [self isExpired: oldest now: now]) {
	[self dropSession: oldest];
	dropped++;
    }
    return dropped;
}

- (RySession *) sessionForId: (NSString *)sessionId
{
    if (!RyIsSessionId(sessionId)) {
	return nil;
    }
    RySession *found = nil;
    [lock lock];
    RySession *session = [sessions objectForKey: sessionId];
    if (session != nil) {
	double now = clock(clockContext);
	if ([self isExpired: session now: now]) {
	    [self dropSession: session];
	} else {
	    [session touchAt: now];
	    [self unlinkSession: session];
	    [self appendSession: session];
	    found = [[session retain] autorelease];
	}
    }
    [lock unlock];
    return found;
}

- (RySession *) newSession
{
    /* 128 random bits do not repeat in practice; if they ever did, the
     * old session must not be replaced while it is still in the order.
     * The id is made outside the lock, since making it may raise. */
    NSString *sessionId;
    for (;;) {
	sessionId = RyNewSessionId();
	[lock lock];
	if ([sessions objectForKey: sessionId] == nil) {
	    break;
	}
	[lock unlock];
    }
    double now = clock(clockContext);
    if ([sessions count] >= limit) {
	[self dropExpiredAt: now];
    }
    while ([sessions count] >= limit) {
	[self dropSession: oldest];
    }
    RySession *session = [[RySession alloc] initWithId: sessionId lastUsed: now];
    [sessions setObject: session forKey: sessionId];
    [self appendSession: session];
    [lock unlock];
    return [session autorelease];
}

- (void) removeSessionForId: (NSString *)sessionId
{
    if (!RyIsSessionId(sessionId)) {
	return;
    }
    [lock lock];
    RySession *session = [sessions objectForKey: sessionId];
    if (session != nil) {
	[self dropSession: session];
    }
    [lock unlock];
}

- (NSUInteger) removeExpiredSessions
{
    [lock lock];
    NSUInteger dropped = [self dropExpiredAt: clock(clockContext)];
    [lock unlock];
    return dropped;
}

- (NSUInteger) count
{
    [lock lock];
    NSUInteger count = [sessions count];
    [lock unlock];
    return count;
}

- (NSTimeInterval) idleTimeout
{
    return idleTimeout;
}

- (NSUInteger) limit
{
    return limit;
}

@end
