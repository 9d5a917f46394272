/*
 * RySessionTest.mm --
 *
 *	The session store: the form and uniqueness of ids, lookups that
 *	touch, expiry on a clock the test moves, eviction of the least
 *	recently used sessions at the limit, forged and malformed ids,
 *	memory bounded under many clients, sessions released when dropped,
 *	and the store shared by several threads.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "RySession.h"
#include "RySessionId.h"
#include "RySessionStore.h"

#include <math.h>
#include <pthread.h>

#include <set>
#include <string>
#include <vector>

/* Whether two strings (or nils) are equal. */
#define EXPECT_NSEQ(expected, actual) \
    EXPECT_TRUE([(expected) isEqual: (actual)]) << [[actual description] UTF8String]

/* A clock the test sets by hand. */
static double
ManualClock(void *context)
{
    return *(double *)context;
}

/* A store on the manual clock at *now with the given timeout and limit. */
static RySessionStore *
ManualStore(double *now, NSTimeInterval timeout, NSUInteger limit)
{
    return [[[RySessionStore alloc] initWithIdleTimeout: timeout
						   limit: limit
						   clock: ManualClock
						 context: now] autorelease];
}

/* A value that counts how many of its kind were freed. */
static int freedValues;

@interface RyFreedCounter : NSObject
@end

@implementation RyFreedCounter
- (void) dealloc
{
    freedValues++;
    [super dealloc];
}
@end

TEST(RySession, IdsAreUniqueAndCookieSafe)
{
    @autoreleasepool {
	RySessionStore *store = [[[RySessionStore alloc] init] autorelease];
	std::set<std::string> seen;
	for (int i = 0; i < 5000; i++) {
	    RySession *session = [store newSession];
	    NSString *sessionId = [session sessionId];
	    ASSERT_EQ((NSUInteger)RySessionIdLength, [sessionId length]);
	    for (const char *c = [sessionId UTF8String]; *c != '\0'; c++) {
		ASSERT_TRUE((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f'))
		    << [sessionId UTF8String];
	    }
	    ASSERT_TRUE(seen.insert([sessionId UTF8String]).second)
		<< "repeated id " << [sessionId UTF8String];
	    ASSERT_EQ(session, [store sessionForId: sessionId]);
	}
	EXPECT_EQ(5000u, [store count]);
	/* Defaults of the plain initialiser. */
	EXPECT_EQ(30 * 60.0, [store idleTimeout]);
	EXPECT_EQ(10000u, [store limit]);
    }
}

TEST(RySession, LookupTouchesAndExpiredSessionsGo)
{
    @autoreleasepool {
	double now = 1000;
	RySessionStore *store = ManualStore(&now, 100, 10);
	NSString *sessionId = [[store newSession] sessionId];
	now = 1080;
	EXPECT_EQ(1080, [[store sessionForId: sessionId] lastUsed]);
	/* Idle 70 since the lookup, 150 since it was made: still live. */
	now = 1150;
	EXPECT_NE(nil, [store sessionForId: sessionId]);
	/* Exactly the timeout idle is live; a moment more is not. */
	now = 1250;
	EXPECT_NE(nil, [store sessionForId: sessionId]);
	now = 1350.5;
	EXPECT_EQ(nil, [store sessionForId: sessionId]);
	EXPECT_EQ(0u, [store count]);
	/* It stays gone when time would make it look fresh again. */
	EXPECT_EQ(nil, [store sessionForId: sessionId]);
    }
}

TEST(RySession, RemoveExpiredFollowsLastUse)
{
    @autoreleasepool {
	double now = 0;
	RySessionStore *store = ManualStore(&now, 100, 10);
	NSString *first = [[store newSession] sessionId];
	now = 10;
	NSString *second = [[store newSession] sessionId];
	now = 20;
	NSString *third = [[store newSession] sessionId];
	/* The first session, used again, is now the newest. */
	now = 50;
	[store sessionForId: first];
	EXPECT_EQ(0u, [store removeExpiredSessions]);
	now = 125;		/* second idle 115, third 105, first 75 */
	EXPECT_EQ(2u, [store removeExpiredSessions]);
	EXPECT_EQ(1u, [store count]);
	EXPECT_NE(nil, [store sessionForId: first]);
	EXPECT_EQ(nil, [store sessionForId: second]);
	EXPECT_EQ(nil, [store sessionForId: third]);
    }
}

TEST(RySession, LimitEvictsLeastRecentlyUsed)
{
    @autoreleasepool {
	double now = 0;
	RySessionStore *store = ManualStore(&now, 1000, 3);
	NSString *a = [[store newSession] sessionId];
	now = 1;
	NSString *b = [[store newSession] sessionId];
	now = 2;
	NSString *c = [[store newSession] sessionId];
	now = 3;
	ASSERT_NE(nil, [store sessionForId: a]);	/* order: b c a */
	now = 4;
	NSString *d = [[store newSession] sessionId];
	EXPECT_EQ(3u, [store count]);
	EXPECT_EQ(nil, [store sessionForId: b]);
	EXPECT_NE(nil, [store sessionForId: c]);	/* order: a d c */
	EXPECT_NE(nil, [store sessionForId: a]);	/* order: d c a */
	EXPECT_NE(nil, [store sessionForId: d]);	/* order: c a d */
	now = 5;
	[store newSession];
	EXPECT_EQ(nil, [store sessionForId: c]);
	EXPECT_NE(nil, [store sessionForId: a]);
	EXPECT_NE(nil, [store sessionForId: d]);
    }
}

TEST(RySession, LimitDropsEveryExpiredSessionFirst)
{
    @autoreleasepool {
	double now = 0;
	RySessionStore *store = ManualStore(&now, 100, 3);
	[store newSession];
	[store newSession];
	now = 90;
	NSString *live = [[store newSession] sessionId];
	now = 150;
	[store newSession];
	/* Both expired ones went, not only the one room needed. */
	EXPECT_EQ(2u, [store count]);
	EXPECT_NE(nil, [store sessionForId: live]);
    }
}

TEST(RySession, ForgedAndMalformedIdsFindNothing)
{
    @autoreleasepool {
	RySessionStore *store = [[[RySessionStore alloc] init] autorelease];
	NSString *real = [[store newSession] sessionId];
	NSMutableString *forged = [[real mutableCopy] autorelease];
	[forged replaceCharactersInRange: NSMakeRange(0, 1)
			      withString: [real hasPrefix: @"0"] ? @"1" : @"0"];
	NSString *bad[] = {
	    @"", forged, [real uppercaseString], [real substringFromIndex: 1],
	    [real stringByAppendingString: @"0"],
	    [[real substringFromIndex: 1] stringByAppendingString: @";"],
	    [[real substringFromIndex: 1] stringByAppendingString: @"\u00e9"],
	    [@"../" stringByAppendingString: [real substringFromIndex: 3]],
	};
	for (NSString *sessionId : bad) {
	    EXPECT_EQ(nil, [store sessionForId: sessionId]) << [sessionId UTF8String];
	    EXPECT_NO_THROW([store removeSessionForId: sessionId]);
	}
	EXPECT_EQ(nil, [store sessionForId: nil]);
	EXPECT_EQ(nil, [store sessionForId: (NSString *)[NSNumber numberWithInt: 7]]);
	EXPECT_FALSE(RyIsSessionId(@"0123456789abcdef0123456789abcdeg"));
	EXPECT_EQ(1u, [store count]);
	[store removeSessionForId: real];
	EXPECT_EQ(nil, [store sessionForId: real]);
	EXPECT_EQ(0u, [store count]);
    }
}

/* The name of the exception making a store with these settings raises,
 * or nil when it makes one. */
static NSString *
SettingsError(NSTimeInterval timeout, NSUInteger limit)
{
    @try {
	[[[RySessionStore alloc] initWithIdleTimeout: timeout limit: limit] release];
    } @catch (NSException *e) {
	return [e name];
    }
    return nil;
}

TEST(RySession, BadSettingsRaise)
{
    @autoreleasepool {
	EXPECT_NSEQ(NSInvalidArgumentException, SettingsError(0, 10));
	EXPECT_NSEQ(NSInvalidArgumentException, SettingsError(-1, 10));
	EXPECT_NSEQ(NSInvalidArgumentException, SettingsError(NAN, 10));
	EXPECT_NSEQ(NSInvalidArgumentException, SettingsError(60, 0));
	EXPECT_EQ(nil, SettingsError(60, 1));
    }
}

TEST(RySession, ManyClientsStayWithinTheLimit)
{
    @autoreleasepool {
	double now = 0;
	RySessionStore *store = ManualStore(&now, 1e9, 100);
	std::vector<std::string> made;
	for (int i = 0; i < 20000; i++) {
	    @autoreleasepool {
		now = i;
		made.push_back([[[store newSession] sessionId] UTF8String]);
		ASSERT_LE([store count], 100u);
	    }
	}
	EXPECT_EQ(100u, [store count]);
	for (size_t i = 0; i < made.size(); i++) {
	    NSString *sessionId = [NSString stringWithUTF8String: made[i].c_str()];
	    EXPECT_EQ(i >= made.size() - 100, [store sessionForId: sessionId] != nil) << i;
	}
    }
}

TEST(RySession, DroppedSessionsAreReleased)
{
    freedValues = 0;
    double now = 0;
    RySessionStore *store = [[RySessionStore alloc] initWithIdleTimeout: 100
								  limit: 2
								  clock: ManualClock
								context: &now];
    NSString *kept = nil;
    @autoreleasepool {
	for (int i = 0; i < 3; i++) {
	    RySession *session = [store newSession];
	    RyFreedCounter *value = [[RyFreedCounter alloc] init];
	    [session setObject: value forKey: @"value"];
	    [value release];
	    EXPECT_EQ(value, [session objectForKey: @"value"]);
	}
	kept = [[[store newSession] sessionId] retain];	/* evicts another */
    }
    EXPECT_EQ(2, freedValues);
    @autoreleasepool {
	RySession *session = [store sessionForId: kept];
	ASSERT_NE(nil, session);
	RyFreedCounter *value = [[RyFreedCounter alloc] init];
	[session setObject: value forKey: @"value"];
	[value release];
	[session removeObjectForKey: @"value"];
	EXPECT_EQ(nil, [session objectForKey: @"value"]);
    }
    EXPECT_EQ(3, freedValues);
    @autoreleasepool {
	now = 500;
	EXPECT_EQ(2u, [store removeExpiredSessions]);
    }
    EXPECT_EQ(4, freedValues);
    [kept release];
    /* A session held past its store's end keeps its values, then frees
     * them with itself. */
    RySession *held = nil;
    @autoreleasepool {
	RyFreedCounter *value = [[RyFreedCounter alloc] init];
	held = [[store newSession] retain];
	[held setObject: value forKey: @"value"];
	[value release];
    }
    [store release];
    EXPECT_EQ(4, freedValues);
    [held release];
    EXPECT_EQ(5, freedValues);
}

/* Shared by the threads of the test below. */
struct Shared {
    RySessionStore *store;
    int lost;			/* sessions that vanished while live */
};

/* Makes sessions and looks each up at once and again later; with the
 * limit far above what a thread keeps, none may go missing. */
static void *
UseStore(void *context)
{
    Shared *shared = (Shared *)context;
    GSRegisterCurrentThread();
    for (int round = 0; round < 200; round++) {
	@autoreleasepool {
	    NSString *ids[20];
	    for (NSString *&sessionId : ids) {
		sessionId = [[shared->store newSession] sessionId];
		if ([shared->store sessionForId: sessionId] == nil) {
		    __atomic_add_fetch(&shared->lost, 1, __ATOMIC_RELAXED);
		}
	    }
	    for (NSString *sessionId : ids) {
		[shared->store removeSessionForId: sessionId];
	    }
	}
    }
    GSUnregisterCurrentThread();
    return NULL;
}

TEST(RySession, ThreadsShareOneStore)
{
    @autoreleasepool {
	Shared shared = {
	    [[[RySessionStore alloc] initWithIdleTimeout: 3600 limit: 1000]
		autorelease],
	    0
	};
	pthread_t threads[4];
	for (pthread_t &thread : threads) {
	    ASSERT_EQ(0, pthread_create(&thread, NULL, UseStore, &shared));
	}
	for (pthread_t &thread : threads) {
	    pthread_join(thread, NULL);
	}
	EXPECT_EQ(0, shared.lost);
	EXPECT_EQ(0u, [shared.store count]);
    }
}
