/*
 * KxAllocHooks.h --
 *
 *	The allocation and deallocation hooks: one function each, called for
 *	every Foundation object (and every object of this library) right after
 *	it is allocated and right before its memory is freed.  They play the
 *	part of the replaceable _zoneAlloc and _dealloc function pointers: a
 *	setter installs a hook and returns the one it replaces, so a new hook
 *	can chain to the old.
 *
 *	They ride on GNUstep's debug-allocation functions, which
 *	NSAllocateObject and NSDeallocateObject call for every object, even
 *	for the classes that free themselves without reaching
 *	-[NSObject dealloc].  A deallocation hook sees the object with its
 *	class pointer still intact; it must not message it.
 */
#ifndef KX_ALLOC_HOOKS_H
#define KX_ALLOC_HOOKS_H

#include <objc/runtime.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*KxObjectHook)(Class cls, id object);

/* Each returns the hook it replaces (null at first). */
KxObjectHook KxSetAllocationHook(KxObjectHook hook);
KxObjectHook KxSetDeallocationHook(KxObjectHook hook);

/* Switches GNUstep's calls on, with no hook set yet. */
void         KxEnsureAllocationHooks(void);

#ifdef __cplusplus
}
#endif

#endif
