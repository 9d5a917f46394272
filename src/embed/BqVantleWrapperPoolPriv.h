/*
 * BqVantleWrapperPoolPriv.h --
 *
 *	The wrappers an interpreter object keeps for reuse.  Host code makes
 *	and gives up a wrapper per result, and making and freeing an
 *	Objective-C object costs more than calling a small Perl sub (the
 *	zone lookup under its lock, the allocator, the runtime's allocation
 *	hooks).  So a wrapper of one of the plain classes (BqVantleSV,
 *	BqVantleAV) that is deallocated while its interpreter lives is
 *	retired into its interpreter object's pool rather than freed, and
 *	the next wrapper of that class made for the interpreter is taken
 *	from there.
 *
 *	Retiring tells the world what freeing tells it: the runtime's
 *	deallocation hook runs, as NSDeallocateObject runs it, so the
 *	object's name is dropped, its Perl handles turn dead and every
 *	deallocation observer hears of it; and its class word becomes the
 *	runtime's freed-object mark.  Reuse announces a new object through
 *	the allocation hook, as NSAllocateObject does, with the class word
 *	restored.  Only the memory is kept.
 *
 *	A pool belongs to one interpreter object and is used where the
 *	interpreter's values are, on the thread that uses the interpreter.
 *	It is freed, with the objects it keeps, once the interpreter object
 *	has left the interpreter list; nothing is retired into it after.
 */
#ifndef BQ_VANTLE_WRAPPER_POOL_PRIV_H
#define BQ_VANTLE_WRAPPER_POOL_PRIV_H

#include <objc/objc.h>

/* The classes kept (BqVantleSV, BqVantleAV) and how many of each. */
#define VANTLE_POOL_CLASSES 2
#define VANTLE_POOL_SIZE 8

typedef struct VantleWrapperPool {
    unsigned count[VANTLE_POOL_CLASSES];
    id kept[VANTLE_POOL_CLASSES][VANTLE_POOL_SIZE];	/* retired objects */
} VantleWrapperPool;

#ifdef __cplusplus
extern "C" {
#endif

/* A new empty pool; null when memory is short (then nothing is kept). */
VantleWrapperPool *VantlePriv_PoolNew(void);

/* Frees the objects the pool keeps, then the pool (null allowed). */
void VantlePriv_PoolFree(VantleWrapperPool *pool);

/* A retired object of class cls made new (its class restored, its
 * allocation announced, its instance variables as retiring left them:
 * the caller sets them); nil when the pool keeps none (null pool
 * allowed). */
id   VantlePriv_PoolTake(VantleWrapperPool *pool, Class cls);

/* Retires object, whose dealloc has given up everything it held: answers
 * 1 when the pool took it (the caller then returns from dealloc without
 * freeing it), 0 when the object is to be freed (a class the pool does
 * not keep, a full or null pool). */
int  VantlePriv_PoolRetire(VantleWrapperPool *pool, id object);

#ifdef __cplusplus
}
#endif

#endif
