/*
 * Core.mm --
 *
 *	Start-up of the runtime layer: the optional customisation class, the
 *	two zones, then each area's initialiser in a fixed order.  Also the
 *	framework directory and the version.
 */
#import <Foundation/Foundation.h>

#include "BqOsmoCore.h"
#include "BqOsmoControl.h"
#include "BqOsmoError.h"
#include "CTypes.h"
#include "Glisk.h"
#include "Protocol.h"
#include "KxPlatform.h"

#include <stdlib.h>

static int started;
static KxZone *runtimeZone;
static KxZone *tmpZone;
static char *frameworkDirectory;

static KxZone *
CreateNamedZone(const char *name)
{
    size_t twoPages = 2 * KxPageSize();
    KxZone *zone = KxCreateZone(twoPages, twoPages, 1);
    KxNameZone(zone, name);
    return zone;
}

/* Sends selector to the customisation class when it answers it. */
static void
SendToCustomInitialize(Class custom, SEL selector)
{
    if (custom != Nil && [(id) custom respondsTo: selector]) {
	[(id) custom performSelector: selector];
    }
}

void
BqOsmo_Init(void)
{
    if (started) {
	return;
    }
    started = 1;

    Class custom = objc_lookUpClass("BqOsmoCustomInitialize");
    SendToCustomInitialize(custom, @selector(preInit));

    runtimeZone = CreateNamedZone(BQ_OSMO_RUNTIME_ZONE_NAME);
    tmpZone = CreateNamedZone(BQ_OSMO_TEMP_ZONE_NAME);

    BqOsmo_ErrorInit();
    BqOsmo_ControlInit();
    BqOsmo_CTypeInit();
    GliskPriv_SymtabInit();
    BqOsmo_ProtocolInit();

    SendToCustomInitialize(custom, @selector(postInit));
}

KxZone *
BqOsmo_GetRuntimeZone(void)
{
    return runtimeZone;
}

KxZone *
BqOsmo_GetTmpZone(void)
{
    return tmpZone;
}

const char *
BqKxZoneName(KxZone *zone)
{
    return KxZoneName(zone);
}

const char *
BqOsmo_FrameworkDirectory(const char *dir)
{
    if (runtimeZone == NULL) {
	BqOsmo_Init();
    }
    if (dir != NULL) {
	char *copy = BqOsmo_RuntimeStrdup(dir);
	BqOsmo_RuntimeFree(frameworkDirectory);
	frameworkDirectory = copy;
    }
    if (frameworkDirectory == NULL) {
	const char *fromEnvironment = getenv("OSMO_FRAMEWORK");
	frameworkDirectory = BqOsmo_RuntimeStrdup(
		fromEnvironment != NULL ? fromEnvironment : BQ_OSMO_DEFAULT_FRAMEWORK);
    }
    return frameworkDirectory;
}

int
BqOsmo_Version(void)
{
    return 30100;
}

const char *
BqOsmo_VersionName(void)
{
    return "3.1";
}

const char *
BqOsmo_BuildDate(void)
{
    return "Aug  9 1996";
}

void *
BqOsmo_RuntimeAlloc(size_t size)
{
    return KxZoneMalloc(runtimeZone, size);
}

void
BqOsmo_RuntimeFree(void *block)
{
    KxZoneFree(runtimeZone, block);
}

char *
BqOsmo_RuntimeStrdup(const char *text)
{
    return KxCopyStringBufferFromZone(text, runtimeZone);
}
