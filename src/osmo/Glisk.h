/*
 * Glisk.h --
 *
 *	The object name registry.  Every instance can be given a unique,
 *	stable text name ("@NSString@55d0c1a2b3c0"); names map back to
 *	objects; a deallocated instance loses its name.  Classes need no
 *	registration: a class is named by its name, a metaclass by "#" and
 *	its name.
 *
 *	Beside it: observers of object allocation and deallocation, and the
 *	check that tells whether a pointer is plausibly a live object.
 */
#ifndef GLISK_H
#define GLISK_H

#include "BqTcl.h"

#ifdef __OBJC__
#include <objc/objc.h>
#else
typedef struct objc_object *id;
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*BqOsmo_ObjectFunction)(id object);

void        GliskPriv_SymtabInit(void);
void        GliskPriv_SymtabRegisterAll(int on);

const char *Glisk_RegisterObject(id object);
const char *Glisk_LookupObject(id object);
id          Glisk_LookupObjectName(const char *name);
id          Glisk_LookupObjectName3(const char *name, Tcl_DString *errors, char *notFound);
void        Glisk_UnregisterObject(id object);
void        Glisk_UnregisterObjectName(const char *name);
void        Glisk_GetObjectList(Tcl_DString *result);

void        BqOsmo_RegisterUnregister(BqOsmo_ObjectFunction fn);
void        BqOsmo_RegisterUnregisterRemove(BqOsmo_ObjectFunction fn);
void        BqOsmo_RegisterRegister(BqOsmo_ObjectFunction fn);
void        BqOsmo_RegisterRegisterRemove(BqOsmo_ObjectFunction fn);

/* Null for a plausible object (or nil), else a constant message. */
const char *BqOsmo_IsIdInvalid(id object);

#ifdef __cplusplus
}
#endif

#endif
