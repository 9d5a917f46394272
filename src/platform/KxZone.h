/*
 * KxZone.h --
 *
 *	Memory zones, on GNUstep's NSZone functions.  A zone groups the
 *	allocations of one lifetime (the runtime's long-lived records, the
 *	temporary ring); a null zone means the default malloc zone.
 */
#ifndef KX_ZONE_H
#define KX_ZONE_H

#include <stddef.h>

#ifdef __OBJC__
#import <Foundation/NSZone.h>
typedef NSZone KxZone;
#else
typedef struct _NSZone KxZone;
#endif

#ifdef __cplusplus
extern "C" {
#endif

KxZone *KxCreateZone(size_t startSize, size_t growth, int canFree);
void    KxNameZone(KxZone *zone, const char *name);
KxZone *KxDefaultMallocZone(void);

/* The name given with KxNameZone, or null when the zone has none. */
const char *KxZoneName(KxZone *zone);

void   *KxZoneMalloc(KxZone *zone, size_t size);
void   *KxZoneCalloc(KxZone *zone, size_t count, size_t size);
void   *KxZoneRealloc(KxZone *zone, void *block, size_t size);
void    KxZoneFree(KxZone *zone, void *block);

/* A copy of the NUL-terminated text, allocated from the zone. */
char   *KxCopyStringBufferFromZone(const char *text, KxZone *zone);

/* One page of virtual memory, the unit zones grow by. */
size_t  KxPageSize(void);

#ifdef __cplusplus
}
#endif

#endif
