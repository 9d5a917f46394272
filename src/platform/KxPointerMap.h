/*
 * KxPointerMap.h --
 *
 *	A map from non-null pointers to pointers, for registries on the path
 *	of every message: open addressing with linear probing in one array,
 *	so a lookup touches one or two cache lines and an insertion or a
 *	removal allocates nothing (the array grows by doubling, kept at most
 *	half full).  Removal shifts the following entries back, so no
 *	tombstones accumulate however many keys come and go.
 *
 *	The map does no locking; its owner serialises every use.  A null
 *	value cannot be stored (it answers "absent").
 */
#ifndef KX_POINTER_MAP_H
#define KX_POINTER_MAP_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KxPointerMapSlot {
    const void *key;		/* null: the slot is free */
    void *value;
} KxPointerMapSlot;

typedef struct KxPointerMap {
    KxPointerMapSlot *slots;	/* capacity slots, a power of two */
    size_t capacity;
    size_t count;
} KxPointerMap;

/* Makes map empty; it allocates on its first insertion. */
void  KxPointerMapInit(KxPointerMap *map);
/* Frees the slots; the map is empty (and usable) afterwards. */
void  KxPointerMapFree(KxPointerMap *map);
/* The value stored for key, or null. */
void *KxPointerMapGet(const KxPointerMap *map, const void *key);
/* Stores value (not null) for key (not null), replacing any earlier
 * value.  Answers 0, or -1 when the slots could not grow (nothing was
 * changed). */
int   KxPointerMapPut(KxPointerMap *map, const void *key, void *value);
/* Removes key and answers the value it had, or null when it had none. */
void *KxPointerMapRemove(KxPointerMap *map, const void *key);

#ifdef __cplusplus
}
#endif

#endif /* KX_POINTER_MAP_H */
