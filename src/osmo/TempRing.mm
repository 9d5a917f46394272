/*
 * TempRing.mm --
 *
 *	Bqgc_malloc: short-lived blocks from a ring of 64 slots per thread
 *	in the temporary zone, for results a caller reads at once and never
 *	frees (converted C strings, scratch storage of a conversion).
 */
#import <Foundation/Foundation.h>

#include "TempRing.h"
#include "BqOsmoCore.h"
#include "KxZone.h"

#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define RING_SLOTS 64
#define RING_EXTRA 128

/* One ring per thread: a block handed out on one thread is never reused
 * by another while the first still works on it.  A thread's blocks are
 * given back when it ends. */
typedef struct Ring {
    void *blocks[RING_SLOTS];
    KxZone *zones[RING_SLOTS];
    unsigned next;
} Ring;

static pthread_key_t ringKey;
static pthread_once_t ringKeyOnce = PTHREAD_ONCE_INIT;

static void
FreeRing(void *pointer)
{
    Ring *ring = (Ring *) pointer;
    for (unsigned slot = 0; slot < RING_SLOTS; slot++) {
	if (ring->blocks[slot] != NULL) {
	    KxZoneFree(ring->zones[slot], ring->blocks[slot]);
	}
    }
    free(ring);
}

static void
MakeRingKey(void)
{
    pthread_key_create(&ringKey, FreeRing);
}

/* This thread's ring, made on first use; null when out of memory. */
static Ring *
ThreadRing(void)
{
    pthread_once(&ringKeyOnce, MakeRingKey);
    Ring *ring = (Ring *) pthread_getspecific(ringKey);
    if (ring == NULL) {
	ring = (Ring *) calloc(1, sizeof *ring);
	if (ring != NULL && pthread_setspecific(ringKey, ring) != 0) {
	    free(ring);
	    ring = NULL;
	}
    }
    return ring;
}

/*
 *----------------------------------------------------------------------
 * Bqgc_malloc --
 *	Hands out the next slot of this thread's ring: its block is resized
 *	to size + 128 bytes and zeroed.  A block made before the temporary
 *	zone existed is given back to its own zone and replaced.  Answers
 *	null only when size + 128 does not fit a size_t (or the thread's
 *	ring cannot be made).
 *----------------------------------------------------------------------
 */
void *
Bqgc_malloc(size_t size)
{
    if (size > SIZE_MAX - RING_EXTRA) {
	return NULL;
    }
    Ring *ring = ThreadRing();
    if (ring == NULL) {
	return NULL;
    }
    size_t total = size + RING_EXTRA;
    unsigned slot = ring->next;
    KxZone *zone = BqOsmo_GetTmpZone();
    void *block = ring->blocks[slot];
    if (block != NULL && ring->zones[slot] != zone) {
	KxZoneFree(ring->zones[slot], block);
	block = NULL;
    }
    block = block != NULL ? KxZoneRealloc(zone, block, total) : KxZoneMalloc(zone, total);
    memset(block, 0, total);
    ring->blocks[slot] = block;
    ring->zones[slot] = zone;
    ring->next = (slot + 1) % RING_SLOTS;
    return block;
}
