/*
 * KxPointerMap.mm --
 *
 *	Open-addressing map from pointers to pointers; see KxPointerMap.h.
 *
 *	Invariant: every key is found by probing forward from its home slot
 *	without meeting a free slot.  Insertion keeps it by taking the first
 *	free slot on the way; removal keeps it by moving back each later
 *	entry of the run whose home lies at or before the freed slot.
 */
#include "KxPointerMap.h"

#include <stdint.h>
#include <stdlib.h>

#define INITIAL_CAPACITY 64

/*
 * HomeSlot --
 *	Where probing for key starts.  Object pointers share their low bits
 *	(alignment) and often their high ones, so the word is mixed first
 *	(a multiplicative hash: the top bits of the product are well mixed).
 */
static inline size_t
HomeSlot(const void *key, size_t capacity)
{
    uint64_t word = (uint64_t) (uintptr_t) key * UINT64_C(0x9E3779B97F4A7C15);
    return (size_t) (word >> 32) & (capacity - 1);
}

void
KxPointerMapInit(KxPointerMap *map)
{
    map->slots = NULL;
    map->capacity = 0;
    map->count = 0;
}

void
KxPointerMapFree(KxPointerMap *map)
{
    free(map->slots);
    KxPointerMapInit(map);
}

/* The slot holding key, or the free slot where probing for it ends. */
static inline KxPointerMapSlot *
Probe(const KxPointerMap *map, const void *key)
{
    size_t mask = map->capacity - 1;
    size_t i = HomeSlot(key, map->capacity);
    while (map->slots[i].key != NULL && map->slots[i].key != key) {
	i = (i + 1) & mask;
    }
    return &map->slots[i];
}

void *
KxPointerMapGet(const KxPointerMap *map, const void *key)
{
    if (map->count == 0 || key == NULL) {
	return NULL;
    }
    return Probe(map, key)->value;
}

/*
 * Grow --
 *	Moves every entry into twice as many slots (INITIAL_CAPACITY at
 *	first).  Answers -1, leaving the map as it was, when out of memory.
 */
static int
Grow(KxPointerMap *map)
{
    size_t capacity = map->capacity != 0 ? map->capacity * 2 : INITIAL_CAPACITY;
    KxPointerMapSlot *slots = (KxPointerMapSlot *) calloc(capacity, sizeof *slots);
    if (slots == NULL) {
	return -1;
    }
    KxPointerMap grown = { slots, capacity, map->count };
    for (size_t i = 0; i < map->capacity; i++) {
	if (map->slots[i].key != NULL) {
	    *Probe(&grown, map->slots[i].key) = map->slots[i];
	}
    }
    free(map->slots);
    *map = grown;
    return 0;
}

int
KxPointerMapPut(KxPointerMap *map, const void *key, void *value)
{
    if (key == NULL || value == NULL) {
	return -1;
    }
    if ((map->count + 1) * 2 > map->capacity && Grow(map) != 0) {
	return -1;
    }
    KxPointerMapSlot *slot = Probe(map, key);
    if (slot->key == NULL) {
	slot->key = key;
	map->count++;
    }
    slot->value = value;
    return 0;
}

void *
KxPointerMapRemove(KxPointerMap *map, const void *key)
{
    if (map->count == 0 || key == NULL) {
	return NULL;
    }
    KxPointerMapSlot *found = Probe(map, key);
    if (found->key == NULL) {
	return NULL;
    }
    void *value = found->value;
    size_t mask = map->capacity - 1;
    size_t hole = (size_t) (found - map->slots);
    /* Shift back the entries after the hole that may no longer be
     * reachable past it: those whose home is not in (hole, next]. */
    for (size_t next = (hole + 1) & mask; map->slots[next].key != NULL; next = (next + 1) & mask) {
	size_t home = HomeSlot(map->slots[next].key, map->capacity);
	int reachable = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
	if (!reachable) {
	    map->slots[hole] = map->slots[next];
	    hole = next;
	}
    }
    map->slots[hole].key = NULL;
    map->slots[hole].value = NULL;
    map->count--;
    return value;
}
