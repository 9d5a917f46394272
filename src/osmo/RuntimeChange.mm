/*
 * RuntimeChange.mm --
 *
 *	The generation of runtime changes: one word, read on hot paths
 *	without a lock, and the runtime's load hook that moves it.  A cache
 *	that reads the generation before it asks the runtime, and stores what
 *	it learned under that generation, never keeps an answer from before a
 *	change as current after it: every change is counted after it is made.
 */
#include "RuntimeChange.h"

#include <objc/runtime.h>

typedef void (*LoadHook)(Class cls, struct objc_category *category);

static unsigned runtimeGeneration;
/* The hook that was in place when ours was first put there. */
static LoadHook chainedHook;
static int hookPlaced;

/*
 *----------------------------------------------------------------------
 * BqOsmo_NoteRuntimeChange --
 *	Counts one change; called after the change is made, so a cache
 *	filled under the new generation sees it.
 *----------------------------------------------------------------------
 */
void
BqOsmo_NoteRuntimeChange(void)
{
    __atomic_add_fetch(&runtimeGeneration, 1, __ATOMIC_ACQ_REL);
}

/*
 * WatchLoad --
 *	The runtime's load hook: called (with the runtime's lock held) for
 *	each class and category of a module once it is in place.  Counts a
 *	change and calls the hook found before ours.
 */
static void
WatchLoad(Class cls, struct objc_category *category)
{
    BqOsmo_NoteRuntimeChange();
    LoadHook chained = __atomic_load_n(&chainedHook, __ATOMIC_ACQUIRE);
    if (chained != NULL) {
	chained(cls, category);
    }
}

/*
 *----------------------------------------------------------------------
 * Rewatch --
 *	The load hook is found not to be ours (hook): loads may have gone
 *	uncounted, so a change is counted.  The hook goes back in place when
 *	the slot is empty; the first time, a hook found there is kept and
 *	called from ours.  A hook another loader holds later is left alone:
 *	replacing it would lose what that loader records.
 *----------------------------------------------------------------------
 */
static void
Rewatch(LoadHook hook)
{
    BqOsmo_NoteRuntimeChange();
    if (hook != NULL && __atomic_load_n(&hookPlaced, __ATOMIC_ACQUIRE)) {
	return;
    }
    if (hook != NULL) {
	__atomic_store_n(&chainedHook, hook, __ATOMIC_RELEASE);
    }
    LoadHook expected = hook;
    if (__atomic_compare_exchange_n(&_objc_load_callback, &expected, WatchLoad, 0,
	    __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
	__atomic_store_n(&hookPlaced, 1, __ATOMIC_RELEASE);
    }
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_RuntimeGeneration --
 *	The number of changes counted so far (wrapping around after 2^32,
 *	which no cache lives to see), after a check that the runtime's load
 *	hook is still ours.
 *----------------------------------------------------------------------
 */
unsigned
BqOsmo_RuntimeGeneration(void)
{
    LoadHook hook = __atomic_load_n(&_objc_load_callback, __ATOMIC_ACQUIRE);
    if (__builtin_expect(hook != WatchLoad, 0)) {
	Rewatch(hook);
    }
    return __atomic_load_n(&runtimeGeneration, __ATOMIC_ACQUIRE);
}
