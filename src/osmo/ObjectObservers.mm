/*
 * ObjectObservers.mm --
 *
 *	Observers of object allocation and deallocation, and the check that
 *	tells whether a pointer is plausibly a live object.
 *
 *	Each kind of observer is a list of functions, newest first, without
 *	duplicates.  The first observer of a kind installs a dispatcher as
 *	the platform's hook for that kind; the dispatcher calls every
 *	observer with the object, then the hook it replaced.
 *
 *	Objects come and go on every thread, so the dispatchers walk the
 *	lists without a lock: a node is published complete (release store)
 *	and read with acquire loads.  Changes to a list are made under its
 *	lock, and a removed node is never freed, as another thread may be
 *	walking it; observers are few and are rarely removed.
 */
#import <Foundation/Foundation.h>

#include "Glisk.h"
#include "BqOsmoCore.h"
#include "KxPlatform.h"
#include "KxLock.h"

typedef struct ObserverNode {
    BqOsmo_ObjectFunction fn;
    struct ObserverNode *next;
} ObserverNode;

typedef struct ObserverList {
    ObserverNode *first;
    int dispatcherInstalled;
    KxObjectHook previousHook;
} ObserverList;

KX_MUTEX_DEFINE(observersLock);
static ObserverList allocationObservers;
static ObserverList deallocationObservers;

static ObserverNode *
LoadLink(ObserverNode *const *link)
{
    return __atomic_load_n(link, __ATOMIC_ACQUIRE);
}

/*
 *----------------------------------------------------------------------
 * CallObservers --
 *	Calls each observer of the list with the object.  The next node is
 *	read before the call, so an observer may remove itself.
 *----------------------------------------------------------------------
 */
static void
CallObservers(ObserverList *list, id object)
{
    ObserverNode *node = LoadLink(&list->first);
    while (node != NULL) {
	ObserverNode *next = LoadLink(&node->next);
	node->fn(object);
	node = next;
    }
}

static void
DispatchAllocation(Class cls, id object)
{
    /* The allocation is complete before observers see the object. */
    if (allocationObservers.previousHook != NULL) {
	allocationObservers.previousHook(cls, object);
    }
    CallObservers(&allocationObservers, object);
}

static void
DispatchDeallocation(Class cls, id object)
{
    CallObservers(&deallocationObservers, object);
    if (deallocationObservers.previousHook != NULL) {
	deallocationObservers.previousHook(cls, object);
    }
}

static void
AddObserver(ObserverList *list, BqOsmo_ObjectFunction fn)
{
    if (fn == NULL) {
	return;
    }
    KxLockGuard guard(&observersLock);
    for (ObserverNode *node = list->first; node != NULL; node = node->next) {
	if (node->fn == fn) {
	    return;
	}
    }
    ObserverNode *node = (ObserverNode *) BqOsmo_RuntimeAlloc(sizeof *node);
    node->fn = fn;
    node->next = list->first;
    __atomic_store_n(&list->first, node, __ATOMIC_RELEASE);
}

/* Unlinks fn's node; the node stays allocated (see above). */
static void
RemoveObserver(ObserverList *list, BqOsmo_ObjectFunction fn)
{
    KxLockGuard guard(&observersLock);
    for (ObserverNode **link = &list->first; *link != NULL; link = &(*link)->next) {
	if ((*link)->fn == fn) {
	    __atomic_store_n(link, (*link)->next, __ATOMIC_RELEASE);
	    return;
	}
    }
}

/* Installs list's dispatcher as the platform hook, once. */
static void
InstallDispatcher(ObserverList *list, KxObjectHook (*setHook)(KxObjectHook),
	KxObjectHook dispatcher)
{
    KxLockGuard guard(&observersLock);
    if (!list->dispatcherInstalled) {
	list->dispatcherInstalled = 1;
	list->previousHook = setHook(dispatcher);
    }
}

void
BqOsmo_RegisterUnregister(BqOsmo_ObjectFunction fn)
{
    AddObserver(&deallocationObservers, fn);
    InstallDispatcher(&deallocationObservers, KxSetDeallocationHook, DispatchDeallocation);
}

void
BqOsmo_RegisterUnregisterRemove(BqOsmo_ObjectFunction fn)
{
    RemoveObserver(&deallocationObservers, fn);
}

void
BqOsmo_RegisterRegister(BqOsmo_ObjectFunction fn)
{
    AddObserver(&allocationObservers, fn);
    InstallDispatcher(&allocationObservers, KxSetAllocationHook, DispatchAllocation);
}

void
BqOsmo_RegisterRegisterRemove(BqOsmo_ObjectFunction fn)
{
    RemoveObserver(&allocationObservers, fn);
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_IsIdInvalid --
 *	Decides without ever faulting: a pointer must be word-aligned, its
 *	first word must be readable (asked of the kernel, not dereferenced),
 *	and that word must be the freed-object mark (reported as such) or a
 *	class or metaclass the runtime knows.
 *----------------------------------------------------------------------
 */
const char *
BqOsmo_IsIdInvalid(id object)
{
    switch (KxInspectPointer(object)) {
    case KxPointerNil:
    case KxPointerObject:
	return NULL;
    case KxPointerMisaligned:
	return "Illegal id pointer";
    case KxPointerFreed:
	return "Freed object";
    case KxPointerNotObject:
	break;
    }
    return "Not an object nor a class";
}
