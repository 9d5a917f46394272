/*
 * KxObjectCheck.h --
 *
 *	Tells whether an arbitrary pointer is plausibly a live object,
 *	without ever faulting: handles and names carry raw addresses, so
 *	unmapped, misaligned, freed and garbage pointers are ordinary input.
 */
#ifndef KX_OBJECT_CHECK_H
#define KX_OBJECT_CHECK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum KxPointerKind {
    KxPointerNil = 0,		/* the null pointer */
    KxPointerObject,		/* an instance, a class or a metaclass */
    KxPointerMisaligned,	/* not aligned to a machine word */
    KxPointerFreed,		/* carries the runtime's freed-object mark */
    KxPointerNotObject		/* unmapped, or its class word is no class */
} KxPointerKind;

/* The class word GNUstep stores into an object it has freed. */
#define KX_FREED_OBJECT_MARK ((uintptr_t) 0xdeadface)

KxPointerKind KxInspectPointer(const void *pointer);

/* Copies one word from address into *valuePtr; returns 1, or 0 (and
 * leaves *valuePtr alone) when the word is not readable. */
int KxReadWord(const void *address, uintptr_t *valuePtr);

/* Called by the allocation forwarder once an object has its class, and
 * by the deallocation forwarder before an object is freed. */
void KxObjectCheckRemember(const void *object);
void KxObjectCheckForget(const void *object);

/* How many words were read with the kernel's help so far: what a check
 * costs beyond the cache. */
unsigned long KxKernelReadCount(void);

/* True when pointer is a class or a metaclass the runtime knows. */
int KxIsKnownClass(const void *pointer);

#ifdef __cplusplus
}
#endif

#endif
