/*
 * BqOsmoCore.h --
 *
 *	Start-up of the runtime layer, its two zones and its version.
 */
#ifndef BQ_OSMO_CORE_H
#define BQ_OSMO_CORE_H

#include "KxZone.h"

#ifdef __cplusplus
extern "C" {
#endif

#define BQ_OSMO_RUNTIME_ZONE_NAME "BqOsmo-Runtime"
#define BQ_OSMO_TEMP_ZONE_NAME    "BqOsmo-Temp-Stuff"
#define BQ_OSMO_DEFAULT_FRAMEWORK "/LocalDeveloper/Libraries/Objective"

/* Starts the layer once per process; later calls return at once. */
void        BqOsmo_Init(void);

/* The zones made at start-up; null before it. */
KxZone     *BqOsmo_GetRuntimeZone(void);
KxZone     *BqOsmo_GetTmpZone(void);
const char *BqKxZoneName(KxZone *zone);

/* With a directory, replaces the stored one; returns the stored one
 * (from OSMO_FRAMEWORK, or the default, when none was set). */
const char *BqOsmo_FrameworkDirectory(const char *dir);

int         BqOsmo_Version(void);
const char *BqOsmo_VersionName(void);
const char *BqOsmo_BuildDate(void);

/* Allocation from the runtime zone, or the default zone before start-up. */
void       *BqOsmo_RuntimeAlloc(size_t size);
void        BqOsmo_RuntimeFree(void *block);
char       *BqOsmo_RuntimeStrdup(const char *text);

#ifdef __cplusplus
}
#endif

#endif
