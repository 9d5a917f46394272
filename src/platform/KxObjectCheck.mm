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
 *	before every message or for every object that crosses to a script.
 *	So live instances are remembered in a four-way set-associative cache: the
 *	allocation forwarder enters every object NSAllocateObject makes, a
 *	check that passed enters the instance it read, and the deallocation
 *	forwarder takes an object out before its memory is freed.  Only
 *	instances whose root class frees through NSDeallocateObject
 *	(NSObject, NSProxy) are cached: their deallocation is always seen.
 *	A fresh object therefore passes without any system call, and so does
 *	one made or checked before unless four newer objects took its set.
 *	The cache keeps its pointers obscured (XOR with a constant): a leak
 *	checker that scans memory for pointers must not find a leaked object
 *	reachable just because it was checked once.
 *
 *	Threads: the cache slots are changed with atomic operations only, so
 *	an object freed on one thread leaves the cache whatever another thread
 *	does; the class set and the pipe fallback are guarded by a mutex.  A
 *	check that enters an instance reads its class word again afterwards,
 *	since the object may have been freed (and forgotten) on another thread
 *	between the first read and the entry.
 */
#import <Foundation/Foundation.h>

#include "KxObjectCheck.h"
#include "KxAllocHooks.h"
#include "KxClassIterator.h"
#include "BqTcl.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <string.h>
#include <sys/uio.h>
#include <unistd.h>

#include <objc/runtime.h>

#define CHECKED_CACHE_SETS 8192	/* a power of two; 256 KB of slots */
#define CHECKED_CACHE_WAYS 4	/* a power of two */

/* Atomic slots, each 0 or an obscured object pointer. */
static uintptr_t checkedObjects[CHECKED_CACHE_SETS][CHECKED_CACHE_WAYS];

/* An aligned pointer never obscures to 0. */
#define OBSCURING_KEY ((uintptr_t) 0xa5c3e1f00f1e3c5bULL)

/* Guards the class set and the pipe fallback. */
static pthread_mutex_t checkLock = PTHREAD_MUTEX_INITIALIZER;
static Tcl_HashTable knownClasses;	/* Class -> (unused) */
static int knownClassesReady;
static int knownClassesCount = -1;	/* runtime's class count at last fill */

/* This process's id, for process_vm_readv: asked once, and again in a
 * child after fork. */
static pid_t ownPid;
static pthread_once_t ownPidOnce = PTHREAD_ONCE_INIT;
static unsigned long kernelReads;	/* words read with the kernel's help */

static void
ForgetPidInChild(void)
{
    ownPid = getpid();
}

static void
LearnPid(void)
{
    ownPid = getpid();
    pthread_atfork(NULL, NULL, ForgetPidInChild);
}

/*
 *----------------------------------------------------------------------
 * ReadWordThroughPipe --
 *	Fallback reader: write(2) copies from our memory into the pipe and
 *	fails with EFAULT when the source is not readable.  The word is then
 *	read back from the other end.
 *----------------------------------------------------------------------
 */
static int
ReadWordThroughPipeLocked(const void *address, uintptr_t *valuePtr)
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

static int
ReadWordThroughPipe(const void *address, uintptr_t *valuePtr)
{
    pthread_mutex_lock(&checkLock);
    int read = ReadWordThroughPipeLocked(address, valuePtr);
    pthread_mutex_unlock(&checkLock);
    return read;
}

int
KxReadWord(const void *address, uintptr_t *valuePtr)
{
    static int useVmRead = 1;
    __atomic_add_fetch(&kernelReads, 1, __ATOMIC_RELAXED);
    if (__atomic_load_n(&useVmRead, __ATOMIC_RELAXED)) {
	pthread_once(&ownPidOnce, LearnPid);
	uintptr_t value;
	struct iovec local = { &value, sizeof value };
	struct iovec remote = { (void *) address, sizeof value };
	ssize_t got = process_vm_readv(ownPid, &local, 1, &remote, 1, 0);
	if (got == (ssize_t) sizeof value) {
	    *valuePtr = value;
	    return 1;
	}
	if (got >= 0 || errno == EFAULT || errno == ESRCH) {
	    return 0;
	}
	/* ENOSYS, EPERM: the call is not allowed here; use the pipe. */
	__atomic_store_n(&useVmRead, 0, __ATOMIC_RELAXED);
    }
    return ReadWordThroughPipe(address, valuePtr);
}

unsigned long
KxKernelReadCount(void)
{
    return __atomic_load_n(&kernelReads, __ATOMIC_RELAXED);
}

/* Enters every class and metaclass the runtime has; checkLock held. */
static void
FillKnownClassesLocked(void)
{
    if (!knownClassesReady) {
	Tcl_InitHashTable(&knownClasses, TCL_ONE_WORD_KEYS);
	knownClassesReady = 1;
    }
    KxClassIterator state = KxClassIteratorStart();
    knownClassesCount = state.count;
    Class cls;
    while (KxClassIteratorNext(&state, &cls)) {
	int isNew;
	Tcl_CreateHashEntry(&knownClasses, (const char *) cls, &isNew);
	Tcl_CreateHashEntry(&knownClasses, (const char *) object_getClass((id) cls), &isNew);
    }
}

/*
 * IsKnownClass --
 *	Whether pointer is in the set of classes and metaclasses.  With
 *	refresh, a miss fills the set again when the runtime has gained
 *	classes since; counting them walks the runtime's whole class list,
 *	so that is done only where a miss is worth it.
 */
static int
IsKnownClass(const void *pointer, int refresh)
{
    if (pointer == NULL) {
	return 0;
    }
    pthread_mutex_lock(&checkLock);
    int known = knownClassesReady
	&& Tcl_FindHashEntry(&knownClasses, (const char *) pointer) != NULL;
    if (!known && refresh && KxClassCount() != knownClassesCount) {
	FillKnownClassesLocked();
	known = Tcl_FindHashEntry(&knownClasses, (const char *) pointer) != NULL;
    }
    pthread_mutex_unlock(&checkLock);
    return known;
}

int
KxIsKnownClass(const void *pointer)
{
    return IsKnownClass(pointer, 1);
}

static inline uintptr_t *
CacheSet(const void *pointer)
{
    uintptr_t bits = (uintptr_t) pointer >> 4;
    return checkedObjects[(bits ^ (bits >> 13)) & (CHECKED_CACHE_SETS - 1)];
}

static inline uintptr_t
Obscured(const void *pointer)
{
    return (uintptr_t) pointer ^ OBSCURING_KEY;
}

void
KxObjectCheckForget(const void *object)
{
    uintptr_t *set = CacheSet(object);
    for (int way = 0; way < CHECKED_CACHE_WAYS; way++) {
	uintptr_t expected = Obscured(object);
	__atomic_compare_exchange_n(&set[way], &expected, (uintptr_t) 0, 0,
		__ATOMIC_ACQ_REL, __ATOMIC_RELAXED);
    }
}

/*
 * KxObjectCheckRemember --
 *	Enters object in its set: nothing when it is there, else into an
 *	empty way, else over the way its address picks.  Two threads may
 *	enter one object twice; forgetting clears every way.
 */
void
KxObjectCheckRemember(const void *object)
{
    uintptr_t *set = CacheSet(object);
    uintptr_t entry = Obscured(object);
    for (int way = 0; way < CHECKED_CACHE_WAYS; way++) {
	uintptr_t present = __atomic_load_n(&set[way], __ATOMIC_ACQUIRE);
	if (present == entry) {
	    return;
	}
	uintptr_t empty = 0;
	if (present == 0 && __atomic_compare_exchange_n(&set[way], &empty, entry, 0,
		__ATOMIC_ACQ_REL, __ATOMIC_RELAXED)) {
	    return;
	}
    }
    int victim = (int) (((uintptr_t) object >> 4) & (CHECKED_CACHE_WAYS - 1));
    __atomic_store_n(&set[victim], entry, __ATOMIC_RELEASE);
}

static int
IsRemembered(const void *pointer)
{
    uintptr_t *set = CacheSet(pointer);
    uintptr_t entry = Obscured(pointer);
    for (int way = 0; way < CHECKED_CACHE_WAYS; way++) {
	if (__atomic_load_n(&set[way], __ATOMIC_ACQUIRE) == entry) {
	    return 1;
	}
    }
    return 0;
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

/*
 * RememberChecked --
 *	Enters an instance whose class word was just read as classWord.  If
 *	another thread freed it in the meantime, its deallocation may have
 *	come before the entry and found nothing to forget, so the word is
 *	read again once the entry is visible: any later free will see the
 *	entry, and an earlier one shows in the word (the freed mark, the
 *	allocator's own data, or a new object's class).
 */
static void
RememberChecked(const void *pointer, uintptr_t classWord)
{
    KxEnsureAllocationHooks();
    KxObjectCheckRemember(pointer);
    uintptr_t again;
    if (!KxReadWord(pointer, &again) || again != classWord) {
	KxObjectCheckForget(pointer);
    }
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
    if (IsRemembered(pointer)) {
	return KxPointerObject;
    }
    /* A class the set does not hold yet is found through its class word
     * (its metaclass) below, which refreshes the set: most pointers are
     * instances, and must not each cost a walk of the class list. */
    if (IsKnownClass(pointer, 0)) {
	/* Classes are never freed, so the cache may answer for them too,
	 * without the set's lock on the next message to the class. */
	KxObjectCheckRemember(pointer);
	return KxPointerObject;
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
	RememberChecked(pointer, classWord);
    }
    return KxPointerObject;
}
