/*
 * BqVantleWrapperPool.mm --
 *
 *	The pool of retired wrappers (see BqVantleWrapperPoolPriv.h): retiring
 *	an object with the notice its deallocation would give, taking it
 *	back with the notice of a new object, and freeing what is kept.
 */
/* NSDebug.h declares the runtime's allocation hooks only for builds
 * without NDEBUG; the library exports them in every build. */
#undef NDEBUG
#import <Foundation/Foundation.h>
#import <Foundation/NSDebug.h>

#include "BqVantleWrapperPoolPriv.h"
#include "BqVantleInterpPriv.h"
#include "KxObjectCheck.h"

#include <stdlib.h>

/* The slot of the pool that keeps objects of cls; -1 for a class it does
 * not keep (any other, subclasses included). */
static int
SlotOf(Class cls)
{
    if (cls == VantlePriv_SVClass) {
	return 0;
    }
    if (cls == VantlePriv_AVClass) {
	return 1;
    }
    return -1;
}

/* The class of the objects a slot keeps. */
static Class
ClassOfSlot(int slot)
{
    return slot == 0 ? VantlePriv_SVClass : VantlePriv_AVClass;
}

VantleWrapperPool *
VantlePriv_PoolNew(void)
{
    return (VantleWrapperPool *) calloc(1, sizeof (VantleWrapperPool));
}

/*
 * Revive --
 *	Makes a retired object an object of cls again, announced as a new
 *	one; the steps of NSAllocateObject after the memory is found.
 */
static id
Revive(id object, Class cls)
{
    object_setClass(object, cls);
    GSDebugAllocationAdd(cls, object);
    return object;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_PoolFree --
 *	Frees each kept object as any other is freed: revived, then
 *	released, so its deallocation is announced once, after its
 *	allocation; then the pool.
 *----------------------------------------------------------------------
 */
void
VantlePriv_PoolFree(VantleWrapperPool *pool)
{
    if (pool == NULL) {
	return;
    }
    for (int slot = 0; slot < VANTLE_POOL_CLASSES; slot++) {
	while (pool->count[slot] > 0) {
	    id object = pool->kept[slot][--pool->count[slot]];
	    [Revive(object, ClassOfSlot(slot)) release];
	}
    }
    free(pool);
}

id
VantlePriv_PoolTake(VantleWrapperPool *pool, Class cls)
{
    int slot = SlotOf(cls);
    if (pool == NULL || slot < 0 || pool->count[slot] == 0) {
	return nil;
    }
    return Revive(pool->kept[slot][--pool->count[slot]], cls);
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_PoolRetire --
 *	Keeps object when its class is one the pool keeps and there is
 *	room: announces its deallocation (while its class is still in
 *	place for the observers) and marks it freed, as NSDeallocateObject
 *	does before it gives the memory back.
 *----------------------------------------------------------------------
 */
int
VantlePriv_PoolRetire(VantleWrapperPool *pool, id object)
{
    Class cls = object_getClass(object);
    int slot = SlotOf(cls);
    if (pool == NULL || slot < 0 || pool->count[slot] == VANTLE_POOL_SIZE) {
	return 0;
    }
    GSDebugAllocationRemove(cls, object);
    object_setClass(object, (Class) KX_FREED_OBJECT_MARK);
    pool->kept[slot][pool->count[slot]++] = object;
    return 1;
}
