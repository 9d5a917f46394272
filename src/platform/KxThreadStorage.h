/*
 * KxThreadStorage.h --
 *
 *	Per-thread blocks on the heap, for state that each thread needs
 *	rarely (message buffers of errors, description texts).  Kept out of
 *	__thread variables so that the library's own thread-local block stays
 *	a few words, small enough for the initial-exec model, whose accesses
 *	are a single load (see CMakeLists.txt).
 */
#ifndef KX_THREAD_STORAGE_H
#define KX_THREAD_STORAGE_H

#include <pthread.h>
#include <stddef.h>
#include <tcl.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KxThreadStorage {
    size_t size;			/* of each thread's block */
    void (*cleanup)(void *block);	/* run at thread exit, or null */
    int ready;				/* the key exists */
    pthread_key_t key;
} KxThreadStorage;

#define KX_THREAD_STORAGE_INITIALIZER(size, cleanup) { (size), (cleanup), 0, 0 }

/* The running thread's block of storage: zeroed when the thread first
 * asks, freed (after cleanup) when the thread exits.  Null only when
 * memory ran out. */
void *KxThreadStorageGet(KxThreadStorage *storage);

/* A text buffer per thread, reused by every text made on that thread (the
 * caller empties it): storage made with KX_THREAD_DSTRING_STORAGE.  Null
 * only when memory ran out. */
typedef struct KxThreadDString {
    int ready;
    Tcl_DString text;
} KxThreadDString;
void KxThreadDStringFree(void *block);
#define KX_THREAD_DSTRING_STORAGE \
    KX_THREAD_STORAGE_INITIALIZER(sizeof(KxThreadDString), KxThreadDStringFree)
Tcl_DString *KxThreadDStringGet(KxThreadStorage *storage);

#ifdef __cplusplus
}
#endif

#endif /* KX_THREAD_STORAGE_H */
