/*
 * KxObjectCheck.mm --
 *
 *	Pointer inspection.  The class word of a candidate object is read
 *	with the kernel's help (process_vm_readv on this process, or, where
 *	that call is refused, a write into a private pipe), so an unmapped
 *	address is reported by an error code instead of a fault.  A word that
 *	was read is accepted as a class pointer only when it is in the set of
 *	classes and metaclasses the runtime has; the set is rebuilt when a
 *	lookup misses and the runtime has gained classes since.
 *
 *	Asking the kernel costs a system call, far too much for a check made
 *	before every message.  So instances that passed are remembered in a
 *	small direct-mapped cache, and the deallocation forwarder takes an
 *	object out of the cache before its memory is freed.  Only instances
 *	whose root class frees through NSDeallocateObject (NSObject, NSProxy)
 *	are cached: their deallocation is always seen.
 */
#import <Foundation/Foundation.h>

#include "KxObjectCheck.h"
#include "KxAllocHooks.h"
#include "KxClassList.h"
#include "BqTcl.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/uio.h>
#include <unistd.h>

#include <objc/runtime.h>

#define CHECKED_CACHE_SIZE 1024	/* a power of two */

static const void *checkedObjects[CHECKED_CACHE_SIZE];

static Tcl_HashTable knownClasses;	/* Class -> (unused) */
static int knownClassesReady;
static int knownClassesCount = -1;	/* runtime's class count at last fill */

/*
 *----------------------------------------------------------------------
 * ReadWordThroughPipe --
 *	Fallback reader: write(2) copies from our memory into the pipe and
 *	fails with EFAULT when the source is not readable.  The word is then
 *	read back from the other end.
 *----------------------------------------------------------------------
 */
static int
ReadWordThroughPipe(const void *address, uintptr_t *valuePtr)
{
    static int fds[2] = { -1, -1 };
    if (fds[0] < 0) {
	if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
	    fds[0] = fds[1] = -1;
	    return 0;
	}
    }
    ssize_t written;
    do {
	written = write(fds[1], address, sizeof(uintptr_t));
    } while (written < 0 && errno == EINTR);
    if (written != (ssize_t) sizeof(uintptr_t)) {
	return 0;
    }
    uintptr_t value;
    ssize_t got;
    do {
	got = read(fds[0], &value, sizeof value);
    } while (got < 0 && errno == EINTR);
    if (got != (ssize_t) sizeof value) {
	return 0;
    }
    *valuePtr = value;
    return 1;
}

int
KxReadWord(const void *address, uintptr_t *valuePtr)
{
    static int useVmRead = 1;
    if (useVmRead) {
	uintptr_t value;
	struct iovec local = { &value, sizeof value };
	struct iovec remote = { (void *) address, sizeof value };
	ssize_t got = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
	if (got == (ssize_t) sizeof value) {
	    *valuePtr = value;
	    return 1;
	}
	if (got >= 0 || errno == EFAULT || errno == ESRCH) {
	    return 0;
	}
	/* ENOSYS, EPERM: the call is not allowed here; use the pipe. */
	useVmRead = 0;
    }
    return ReadWordThroughPipe(address, valuePtr);
}

static void
FillKnownClasses(void)
{
    if (!knownClassesReady) {
	Tcl_InitHashTable(&knownClasses, TCL_ONE_WORD_KEYS);
	knownClassesReady = 1;
    }
    KxHashState state = KxInitHashState();
    knownClassesCount = state.count;
    Class cls;
    while (KxNextHashState(&state, &cls)) {
	int isNew;
	Tcl_CreateHashEntry(&knownClasses, (const char *) cls, &isNew);
	Tcl_CreateHashEntry(&knownClasses, (const char *) object_getClass((id) cls), &isNew);
    }
}

int
KxIsKnownClass(const void *pointer)
{
    if (pointer == NULL) {
	return 0;
    }
    if (knownClassesReady &&
	    Tcl_FindHashEntry(&knownClasses, (const char *) pointer) != NULL) {
	return 1;
    }
    if (KxClassCount() == knownClassesCount) {
	return 0;
    }
    FillKnownClasses();
    return Tcl_FindHashEntry(&knownClasses, (const char *) pointer) != NULL;
}

static inline unsigned
CacheSlot(const void *pointer)
{
    return (unsigned) (((uintptr_t) pointer >> 4) & (CHECKED_CACHE_SIZE - 1));
}

void
KxObjectCheckForget(const void *object)
{
    unsigned slot = CacheSlot(object);
    if (checkedObjects[slot] == object) {
	checkedObjects[slot] = NULL;
    }
}

/* True when instances of cls are freed through NSDeallocateObject. */
static int
DeallocationIsObserved(Class cls)
{
    static Class nsObject, nsProxy;
    if (nsObject == Nil) {
	nsObject = [NSObject class];
	nsProxy = [NSProxy class];
    }
    Class root = cls;
    for (Class super = class_getSuperclass(root); super != Nil; super = class_getSuperclass(root)) {
	root = super;
    }
    return root == nsObject || root == nsProxy;
}

KxPointerKind
KxInspectPointer(const void *pointer)
{
    if (pointer == NULL) {
	return KxPointerNil;
    }
    if (((uintptr_t) pointer) % sizeof(void *) != 0) {
	return KxPointerMisaligned;
    }
    unsigned slot = CacheSlot(pointer);
    if (checkedObjects[slot] == pointer) {
	return KxPointerObject;
    }
    if (KxIsKnownClass(pointer)) {
	return KxPointerObject;	/* classes are never freed */
    }
    uintptr_t classWord;
    if (!KxReadWord(pointer, &classWord)) {
	return KxPointerNotObject;
    }
    if (classWord == KX_FREED_OBJECT_MARK) {
	return KxPointerFreed;
    }
    Class cls = (Class) classWord;
    if (!KxIsKnownClass(cls)) {
	return KxPointerNotObject;
    }
    if (!class_isMetaClass(cls) && DeallocationIsObserved(cls)) {
	KxEnsureAllocationHooks();
	checkedObjects[slot] = pointer;
    }
    return KxPointerObject;
}
