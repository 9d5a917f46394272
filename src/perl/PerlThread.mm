/*
 * PerlThread.mm --
 *
 *	What a thread needs before its first message: GNUstep must know the
 *	thread, and autoreleased results need a pool.  Perl's threads are
 *	plain POSIX threads that GNUstep has never seen, so the first time
 *	any thread enters the binding it is registered and given a bottom
 *	autorelease pool.  GNUstep drains a registered thread's pools when the
 *	thread ends.  The thread that loads the module first gets the
 *	process's pool this way; that pool is never drained.
 */
#import <Foundation/Foundation.h>

#include "PerlThread.h"

void
VantlePriv_EnterThread(void)
{
    GSRegisterCurrentThread();
    [[NSAutoreleasePool alloc] init];
}
