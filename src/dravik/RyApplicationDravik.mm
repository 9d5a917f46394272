/*
 * RyApplicationDravik.mm --
 *
 *	The web layer's category on the framework's application class
 *	(RyApplicationDravik.h): when script files run again, and the
 *	application's name.
 */
#import <Foundation/Foundation.h>

#include "RyApplicationDravik.h"
#include "KxLock.h"

#include <sys/stat.h>

/* Path -> NSNumber of the status-change time last seen, in nanoseconds;
 * made on first use, kept for the process.  The load-once flag.  Both
 * under fileStampsLock, since any thread may load a component. */
static NSMutableDictionary *fileStamps;
static BOOL loadOnce;
KX_MUTEX_DEFINE(fileStampsLock);

/* The status-change time of the file at path in nanoseconds; NO when it
 * cannot be examined. */
static BOOL
ChangeStamp(NSString *path, long long *stamp)
{
    if ([path length] == 0) {
	return NO;
    }
    struct stat status;
    if (stat([path fileSystemRepresentation], &status) != 0) {
	return NO;
    }
    *stamp = (long long) status.st_ctim.tv_sec * 1000000000LL + status.st_ctim.tv_nsec;
    return YES;
}

@implementation RyApplication (Dravik)

/*
 *----------------------------------------------------------------------
 * fileNeedsLoading: --
 *	YES when the file at path must run: nil, a file that cannot be
 *	examined, one never seen, one whose change time differs from the
 *	one seen last (unless only the first load counts).  Records the new
 *	time when it answers YES for an existing file.
 *----------------------------------------------------------------------
 */
+ (BOOL) fileNeedsLoading: (NSString *)path
{
    long long stamp;
    if (path == nil || !ChangeStamp(path, &stamp)) {
	return YES;
    }
    NSNumber *now = [NSNumber numberWithLongLong: stamp];
    KxLockGuard guard(&fileStampsLock);
    if (fileStamps == nil) {
	fileStamps = [[NSMutableDictionary alloc] init];
    }
    NSNumber *seen = [fileStamps objectForKey: path];
    if (seen != nil && (loadOnce || [seen longLongValue] == stamp)) {
	return NO;
    }
    [fileStamps setObject: now forKey: path];
    return YES;
}

+ (BOOL) loadOnceOnly
{
    KxLockGuard guard(&fileStampsLock);
    return loadOnce;
}

+ (void) setLoadOnceOnly: (BOOL)flag
{
    KxLockGuard guard(&fileStampsLock);
    loadOnce = flag ? YES : NO;
}

- (void) setApplicationName: (NSString *)name
{
    [applicationName autorelease];
    applicationName = [name retain];
}

@end
