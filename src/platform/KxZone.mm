/*
 * KxZone.mm --
 *
 *	Zones are NSZones.  GNUstep keeps a zone's name as an NSString; the
 *	C string the library hands out is interned here, so it never depends
 *	on an autorelease pool.  The table of names has a lock of its own.
 */
#import <Foundation/Foundation.h>

#include "KxZone.h"
#include "KxUniqueString.h"
#include "BqTcl.h"
#include "KxLock.h"

#include <string.h>
#include <unistd.h>

KX_MUTEX_DEFINE(zoneNamesLock);
static Tcl_HashTable zoneNames;		/* KxZone * -> interned name */
static int zoneNamesReady;

static KxZone *
ZoneOrDefault(KxZone *zone)
{
    return zone != NULL ? zone : NSDefaultMallocZone();
}

KxZone *
KxCreateZone(size_t startSize, size_t growth, int canFree)
{
    return NSCreateZone(startSize, growth, canFree ? YES : NO);
}

void
KxNameZone(KxZone *zone, const char *name)
{
    if (zone == NULL || name == NULL) {
	return;
    }
    {
	KxLockGuard guard(&zoneNamesLock);
	if (!zoneNamesReady) {
	    Tcl_InitHashTable(&zoneNames, TCL_ONE_WORD_KEYS);
	    zoneNamesReady = 1;
	}
	int isNew;
	Tcl_HashEntry *entry = Tcl_CreateHashEntry(&zoneNames, (const char *) zone, &isNew);
	Tcl_SetHashValue(entry, (ClientData) KxUniqueString(name));
    }
    NSString *nsName = [[NSString alloc] initWithUTF8String: name];
    NSSetZoneName(zone, nsName);
    [nsName release];
}

const char *
KxZoneName(KxZone *zone)
{
    if (zone == NULL) {
	return NULL;
    }
    KxLockGuard guard(&zoneNamesLock);
    if (!zoneNamesReady) {
	return NULL;
    }
    Tcl_HashEntry *entry = Tcl_FindHashEntry(&zoneNames, (const char *) zone);
    return entry != NULL ? (const char *) Tcl_GetHashValue(entry) : NULL;
}

KxZone *
KxDefaultMallocZone(void)
{
    return NSDefaultMallocZone();
}

void *
KxZoneMalloc(KxZone *zone, size_t size)
{
    return NSZoneMalloc(ZoneOrDefault(zone), size);
}

void *
KxZoneCalloc(KxZone *zone, size_t count, size_t size)
{
    return NSZoneCalloc(ZoneOrDefault(zone), count, size);
}

void *
KxZoneRealloc(KxZone *zone, void *block, size_t size)
{
    return NSZoneRealloc(ZoneOrDefault(zone), block, size);
}

void
KxZoneFree(KxZone *zone, void *block)
{
    if (block != NULL) {
	NSZoneFree(ZoneOrDefault(zone), block);
    }
}

char *
KxCopyStringBufferFromZone(const char *text, KxZone *zone)
{
    if (text == NULL) {
	return NULL;
    }
    size_t size = strlen(text) + 1;
    char *copy = (char *) KxZoneMalloc(zone, size);
    memcpy(copy, text, size);
    return copy;
}

size_t
KxPageSize(void)
{
    static size_t pageSize;
    if (pageSize == 0) {
	long size = sysconf(_SC_PAGESIZE);
	pageSize = size > 0 ? (size_t) size : 4096;
    }
    return pageSize;
}
