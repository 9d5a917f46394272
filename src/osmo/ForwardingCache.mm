/*
 * ForwardingCache.mm --
 *
 *	The process-wide slots of forwarded messages: a direct-mapped array
 *	indexed by a hash of (class, selector), under a spin lock that is
 *	held to copy one slot in or out (or, to forget a class, to look at
 *	every slot), never across a call into foreign code.  The classes
 *	declared to answer alike are a pointer map under a mutex of its own,
 *	read only when a message is kept.
 */
#include "ForwardingCache.h"
#include "KxLock.h"
#include "KxPointerMap.h"

#include <stdint.h>
#include <string.h>

#define FORWARDING_SLOTS 512	/* a power of two */

typedef struct Slot {
    Class cls;			/* Nil: the slot is free */
    SEL selector;
    BqForwardedMessage message;
} Slot;

static Slot slots[FORWARDING_SLOTS];
static KxSpinLock slotsLock = KX_SPIN_LOCK_INITIALIZER;

KX_MUTEX_DEFINE(classWideLock);
static KxPointerMap classWideClasses;	/* Class -> (void *) 1 */

static inline Slot *
SlotFor(Class cls, SEL selector)
{
    uintptr_t key = ((uintptr_t) cls >> 3) ^ ((uintptr_t) selector >> 4);
    return &slots[key & (FORWARDING_SLOTS - 1)];
}

/*
 *----------------------------------------------------------------------
 * BqForwarding_Find --
 *	Copies the message kept for (cls, selector) into *message; answers
 *	1 when there is one and it was kept under generation, 0 otherwise
 *	(*message is then untouched).
 *----------------------------------------------------------------------
 */
int
BqForwarding_Find(Class cls, SEL selector, unsigned generation, BqForwardedMessage *message)
{
    Slot *slot = SlotFor(cls, selector);
    KxSpinGuard guard(&slotsLock);
    if (slot->cls != cls || slot->selector != selector
	    || slot->message.generation != generation) {
	return 0;
    }
    *message = slot->message;
    return 1;
}

/*
 *----------------------------------------------------------------------
 * BqForwarding_Remember --
 *	Keeps *message for (cls, selector) in the pair's slot, whatever the
 *	slot held.
 *----------------------------------------------------------------------
 */
void
BqForwarding_Remember(Class cls, SEL selector, const BqForwardedMessage *message)
{
    Slot *slot = SlotFor(cls, selector);
    KxSpinGuard guard(&slotsLock);
    slot->cls = cls;
    slot->selector = selector;
    slot->message = *message;
}

/*
 *----------------------------------------------------------------------
 * BqForwarding_ForgetPair --
 *	Frees the slot of (cls, selector) when it holds that pair.
 *----------------------------------------------------------------------
 */
void
BqForwarding_ForgetPair(Class cls, SEL selector)
{
    Slot *slot = SlotFor(cls, selector);
    KxSpinGuard guard(&slotsLock);
    if (slot->cls == cls && slot->selector == selector) {
	memset(slot, 0, sizeof *slot);
    }
}

/* Whether cls is ancestor or one of its subclasses. */
static int
DescendsFrom(Class cls, Class ancestor)
{
    for (Class walk = cls; walk != Nil; walk = class_getSuperclass(walk)) {
	if (walk == ancestor) {
	    return 1;
	}
    }
    return 0;
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_ForgetForwarding --
 *	Frees every slot of cls and of its subclasses, or every slot for
 *	Nil.  The classes in the slots have all received messages, so
 *	walking their superclasses reads their links and nothing more.
 *----------------------------------------------------------------------
 */
void
BqOsmo_ForgetForwarding(Class cls)
{
    KxSpinGuard guard(&slotsLock);
    for (int i = 0; i < FORWARDING_SLOTS; i++) {
	if (slots[i].cls != Nil && (cls == Nil || DescendsFrom(slots[i].cls, cls))) {
	    memset(&slots[i], 0, sizeof slots[i]);
	}
    }
}

/*
 *----------------------------------------------------------------------
 * BqForwarding_IsClassWide --
 *	Whether cls or one of its superclasses was declared to answer
 *	alike for every instance.
 *----------------------------------------------------------------------
 */
int
BqForwarding_IsClassWide(Class cls)
{
    KxLockGuard guard(&classWideLock);
    if (classWideClasses.count == 0) {
	return 0;
    }
    for (Class walk = cls; walk != Nil; walk = class_getSuperclass(walk)) {
	if (KxPointerMapGet(&classWideClasses, walk) != NULL) {
	    return 1;
	}
    }
    return 0;
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_SetClassWideSignatures --
 *	Records the declaration (a class that cannot be recorded for want
 *	of memory stays asked on every send), then forgets what was kept
 *	for the class and its subclasses, each receiver's answer included.
 *----------------------------------------------------------------------
 */
void
BqOsmo_SetClassWideSignatures(Class cls)
{
    if (cls == Nil) {
	return;
    }
    {
	KxLockGuard guard(&classWideLock);
	KxPointerMapPut(&classWideClasses, cls, (void *) 1);
    }
    BqOsmo_ForgetForwarding(cls);
}
