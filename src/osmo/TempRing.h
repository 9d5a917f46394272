/*
 * TempRing.h --
 *
 *	Short-lived blocks that their callers never free.
 */
#ifndef BQ_TEMP_RING_H
#define BQ_TEMP_RING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A zeroed temporary block of size + 128 bytes from this thread's ring of
 * 64 slots in the temporary zone; valid until 64 further calls on the
 * thread.  Never freed by the caller.  Null only when size + 128 does not
 * fit a size_t. */
void *Bqgc_malloc(size_t size);

#ifdef __cplusplus
}
#endif

#endif /* BQ_TEMP_RING_H */
