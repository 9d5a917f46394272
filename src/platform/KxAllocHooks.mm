/*
 * KxAllocHooks.mm --
 *
 *	GNUstep calls its two debug-allocation functions for every object
 *	once they are switched on.  They are switched on the first time a
 *	hook is set; from then on they only forward to the current hooks.
 */
/* NSDebug.h declares the debug-allocation functions only for builds
 * without NDEBUG; the library exports them in every build. */
#undef NDEBUG
#import <Foundation/Foundation.h>
#import <Foundation/NSDebug.h>

#include "KxAllocHooks.h"
#include "KxObjectCheck.h"

static KxObjectHook allocationHook;
static KxObjectHook deallocationHook;
static int forwardersInstalled;

static void
ForwardAllocation(Class cls, id object)
{
    /* NSAllocateObject made it, so NSDeallocateObject will free it and
     * the forwarder below will take it out of the check's cache again. */
    KxObjectCheckRemember(object);
    if (allocationHook != NULL) {
	allocationHook(cls, object);
    }
}

static void
ForwardDeallocation(Class cls, id object)
{
    KxObjectCheckForget(object);
    if (deallocationHook != NULL) {
	deallocationHook(cls, object);
    }
}

void
KxEnsureAllocationHooks(void)
{
    if (!forwardersInstalled) {
	forwardersInstalled = 1;
	GSSetDebugAllocationFunctions(ForwardAllocation, ForwardDeallocation);
	GSDebugAllocationActive(YES);
    }
}

KxObjectHook
KxSetAllocationHook(KxObjectHook hook)
{
    KxObjectHook previous = allocationHook;
    allocationHook = hook;
    KxEnsureAllocationHooks();
    return previous;
}

KxObjectHook
KxSetDeallocationHook(KxObjectHook hook)
{
    KxObjectHook previous = deallocationHook;
    deallocationHook = hook;
    KxEnsureAllocationHooks();
    return previous;
}
