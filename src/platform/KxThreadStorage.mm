/*
 * KxThreadStorage.mm --
 *
 *	Per-thread heap blocks behind one pthread key each.  A block starts
 *	with a header naming its storage, so the key's destructor (which is
 *	given the block alone) can run the storage's cleanup.
 */
#include "KxThreadStorage.h"

#include <stdlib.h>

typedef struct BlockHeader {
    KxThreadStorage *storage;
    /* Keeps the data after the header aligned for any type. */
    max_align_t align[0];
} BlockHeader;

static pthread_mutex_t keysLock = PTHREAD_MUTEX_INITIALIZER;

static void
FreeBlock(void *value)
{
    BlockHeader *header = (BlockHeader *) value;
    if (header->storage->cleanup != NULL) {
	header->storage->cleanup(header + 1);
    }
    free(header);
}

/* Makes storage's key once; answers 0, or -1 when the system has no
 * more keys. */
static int
EnsureKey(KxThreadStorage *storage)
{
    if (__atomic_load_n(&storage->ready, __ATOMIC_ACQUIRE)) {
	return 0;
    }
    int status = 0;
    pthread_mutex_lock(&keysLock);
    if (!storage->ready) {
	status = pthread_key_create(&storage->key, FreeBlock) == 0 ? 0 : -1;
	if (status == 0) {
	    __atomic_store_n(&storage->ready, 1, __ATOMIC_RELEASE);
	}
    }
    pthread_mutex_unlock(&keysLock);
    return status;
}

void *
KxThreadStorageGet(KxThreadStorage *storage)
{
    if (EnsureKey(storage) != 0) {
	return NULL;
    }
    BlockHeader *header = (BlockHeader *) pthread_getspecific(storage->key);
    if (header == NULL) {
	header = (BlockHeader *) calloc(1, sizeof *header + storage->size);
	if (header == NULL) {
	    return NULL;
	}
	header->storage = storage;
	if (pthread_setspecific(storage->key, header) != 0) {
	    free(header);
	    return NULL;
	}
    }
    return header + 1;
}

void
KxThreadDStringFree(void *block)
{
    KxThreadDString *buffer = (KxThreadDString *) block;
    if (buffer->ready) {
	Tcl_DStringFree(&buffer->text);
    }
}

Tcl_DString *
KxThreadDStringGet(KxThreadStorage *storage)
{
    KxThreadDString *buffer = (KxThreadDString *) KxThreadStorageGet(storage);
    if (buffer == NULL) {
	return NULL;
    }
    if (!buffer->ready) {
	Tcl_DStringInit(&buffer->text);
	buffer->ready = 1;
    }
    return &buffer->text;
}
