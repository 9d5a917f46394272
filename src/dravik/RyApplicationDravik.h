/*
 * RyApplicationDravik.h --
 *
 *	What the web layer adds to the framework's application class: the
 *	rule that decides when a script file (a component's or the
 *	application's) must run again, and a setter of the application's
 *	name.
 *
 *	A file runs the first time it is asked about, and again each time
 *	its status-change time (seconds and nanoseconds, so edits within one
 *	second count) differs from the one last seen, unless the load-once
 *	flag is set, in which case it runs only the first time.  A file
 *	that cannot be examined (missing, unreadable directory) always
 *	runs, and leaves no record.  The times seen and the flag are shared
 *	by the whole process.
 */
#ifndef RY_APPLICATION_DRAVIK_H
#define RY_APPLICATION_DRAVIK_H

#include "RyApplication.h"

@interface RyApplication (Dravik)
/* YES when the file at path must run (see above); YES for nil. */
+ (BOOL) fileNeedsLoading: (NSString *)path;
/* The load-once flag, NO at start. */
+ (BOOL) loadOnceOnly;
+ (void) setLoadOnceOnly: (BOOL)flag;
/* Replaces the application's name (the old one is autoreleased). */
- (void) setApplicationName: (NSString *)name;
@end

#endif /* RY_APPLICATION_DRAVIK_H */
