/*
 * KxLock.h --
 *
 *	The locks that keep the process-wide registries of the runtime layer
 *	consistent when several threads (each with a Perl interpreter of its
 *	own) use them at once.
 *
 *	Every registry has one mutex of its own, declared beside it with
 *	KX_MUTEX_DEFINE.  The mutexes are recursive: a registry function may
 *	call another of the same registry while it holds the lock.  A lock is
 *	only held around the registry's own table work, never across a call
 *	into foreign code (a message send, a converter, Perl), so two locks
 *	are never waited for in opposite orders.
 *
 *	The handle registries, taken on the path of every message, use a
 *	spin lock instead (KxSpinLock).  KxLockGuard and KxSpinGuard hold a
 *	lock for the rest of a C++ scope; their destructors also run when an
 *	Objective-C exception unwinds through the scope.
 */
#ifndef KX_LOCK_H
#define KX_LOCK_H

#include <pthread.h>

#define KX_MUTEX_DEFINE(name) \
    static pthread_mutex_t name = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP

/*
 * KxSpinLock --
 *	A lock for a few instructions' work on a path taken by every message
 *	(a hash lookup under it, never a call into foreign code, never a
 *	second lock): an uncontended lock and unlock are one atomic exchange
 *	and one store, against several times that for a mutex.  A waiter
 *	yields the processor while the lock is held.
 */
typedef struct KxSpinLock {
    int held;
} KxSpinLock;

#define KX_SPIN_LOCK_INITIALIZER { 0 }

#include <sched.h>

static inline void
KxSpinLockAcquire(KxSpinLock *lock)
{
    while (__atomic_exchange_n(&lock->held, 1, __ATOMIC_ACQUIRE)) {
	while (__atomic_load_n(&lock->held, __ATOMIC_RELAXED)) {
	    sched_yield();
	}
    }
}

static inline void
KxSpinLockRelease(KxSpinLock *lock)
{
    __atomic_store_n(&lock->held, 0, __ATOMIC_RELEASE);
}

#ifdef __cplusplus
static inline void
KxMutexAcquire(pthread_mutex_t *mutex)
{
    pthread_mutex_lock(mutex);
}

static inline void
KxMutexRelease(pthread_mutex_t *mutex)
{
    pthread_mutex_unlock(mutex);
}

/* Holds a lock for the rest of a C++ scope. */
template <typename Lock, void (*Acquire)(Lock *), void (*Release)(Lock *)>
class KxScopedLock {
  public:
    explicit KxScopedLock(Lock *lock) : lock_(lock)
    {
	Acquire(lock_);
    }
    ~KxScopedLock()
    {
	Release(lock_);
    }
    KxScopedLock(const KxScopedLock &) = delete;
    KxScopedLock &operator=(const KxScopedLock &) = delete;

  private:
    Lock *lock_;
};

typedef KxScopedLock<pthread_mutex_t, KxMutexAcquire, KxMutexRelease> KxLockGuard;
typedef KxScopedLock<KxSpinLock, KxSpinLockAcquire, KxSpinLockRelease> KxSpinGuard;
#endif

#endif
