/*
 * ObjectNames.mm --
 *
 *	The object name registry: two Tcl hash tables kept as pairs.  The
 *	by-object index maps an instance pointer to its name, which is the key
 *	text of the by-name entry; the by-name index maps the name back to
 *	the pointer.  A pair is created and removed together.
 *
 *	Objects are freed on any thread, so every use of the two tables holds
 *	the registry's lock.  A name handed out stays valid until its object
 *	is unregistered.
 */
#import <Foundation/Foundation.h>

#include "Glisk.h"
#include "BqOsmoControl.h"
#include "BqOsmoError.h"
#include "KxPlatform.h"
#include "KxLock.h"

#include <stdio.h>
#include <stdint.h>
#include <strings.h>

KX_MUTEX_DEFINE(symtabLock);
static Tcl_HashTable byObject;	/* id -> name (key text of the byName entry) */
static Tcl_HashTable byName;	/* name -> id */
static int symtabReady;

static void
EnsureTables(void)
{
    if (!symtabReady) {
	Tcl_InitHashTable(&byObject, TCL_ONE_WORD_KEYS);
	Tcl_InitHashTable(&byName, TCL_STRING_KEYS);
	symtabReady = 1;
    }
}

void
GliskPriv_SymtabInit(void)
{
    KxLockGuard guard(&symtabLock);
    if (symtabReady) {
	return;
    }
    EnsureTables();
    BqOsmo_RegisterUnregister(Glisk_UnregisterObject);
}

static void
RegisterOnAllocation(id object)
{
    Glisk_RegisterObject(object);
}

void
GliskPriv_SymtabRegisterAll(int on)
{
    if (on) {
	BqOsmo_RegisterRegister(RegisterOnAllocation);
    } else {
	BqOsmo_RegisterRegisterRemove(RegisterOnAllocation);
    }
}

/* True when object is a class or a metaclass (its class is a metaclass). */
static int
IsClassObject(id object)
{
    return class_isMetaClass(object_getClass(object));
}

/* The name of a class or a metaclass; metaclass names are interned. */
static const char *
ClassObjectName(id object)
{
    Class cls = (Class) object;
    if (!class_isMetaClass(cls)) {
	return class_getName(cls);
    }
    char stack[256];
    const char *className = class_getName(cls);
    int length = snprintf(stack, sizeof stack, "%c%s", '#', className);
    if (length < (int) sizeof stack) {
	return KxUniqueString(stack);
    }
    Tcl_DString big;
    Tcl_DStringInit(&big);
    BqTcl_DStringApp(&big, "#", className, (char *) NULL);
    const char *name = KxUniqueString(Tcl_DStringValue(&big));
    Tcl_DStringFree(&big);
    return name;
}

/* Removes both entries of the pair whose by-object entry is given. */
static void
DeletePair(Tcl_HashEntry *objectEntry)
{
    const char *name = (const char *) Tcl_GetHashValue(objectEntry);
    Tcl_SetHashValue(objectEntry, NULL);
    Tcl_DeleteHashEntry(objectEntry);
    if (name != NULL) {
	Tcl_HashEntry *nameEntry = Tcl_FindHashEntry(&byName, name);
	if (nameEntry != NULL) {
	    Tcl_SetHashValue(nameEntry, NULL);
	    Tcl_DeleteHashEntry(nameEntry);
	}
    }
}

/* Drops whatever pair holds object or name. */
static void
ForgetPairs(id object, const char *name)
{
    Tcl_HashEntry *entry = Tcl_FindHashEntry(&byObject, (const char *) object);
    if (entry != NULL) {
	DeletePair(entry);
    }
    entry = Tcl_FindHashEntry(&byName, name);
    if (entry != NULL) {
	id holder = (id) Tcl_GetHashValue(entry);
	Tcl_HashEntry *holderEntry = Tcl_FindHashEntry(&byObject, (const char *) holder);
	if (holderEntry != NULL) {
	    DeletePair(holderEntry);
	} else {
	    Tcl_DeleteHashEntry(entry);
	}
    }
}

const char *
Glisk_RegisterObject(id object)
{
    if (object == nil) {
	return "nil";
    }
    if (BQ_CONTROL(bad_object_check)) {
	const char *problem = BqOsmo_IsIdInvalid(object);
	if (problem != NULL) {
	    BqOsmo_GetLogErrorFunction()("Cannot register 0x%lx: %s!\n",
		    (unsigned long) (uintptr_t) object, problem);
	    return "nil";
	}
    }
    if (IsClassObject(object)) {
	return ClassObjectName(object);
    }
    KxLockGuard guard(&symtabLock);
    EnsureTables();
    Tcl_HashEntry *entry = Tcl_FindHashEntry(&byObject, (const char *) object);
    if (entry != NULL) {
	return (const char *) Tcl_GetHashValue(entry);
    }

    const char *className = object_getClassName(object);
    if (className == NULL) {
	className = "Nil";
    }
    Tcl_DString name;
    Tcl_DStringInit(&name);
    BqTcl_DStringPrintf(&name, "%c%s@%08lx", '@', className,
	    (unsigned long) (uintptr_t) object);
    ForgetPairs(object, Tcl_DStringValue(&name));

    int isNew;
    Tcl_HashEntry *nameEntry = Tcl_CreateHashEntry(&byName, Tcl_DStringValue(&name), &isNew);
    Tcl_DStringFree(&name);
    Tcl_SetHashValue(nameEntry, (ClientData) object);
    const char *stored = (const char *) Tcl_GetHashKey(&byName, nameEntry);
    Tcl_HashEntry *objectEntry = Tcl_CreateHashEntry(&byObject, (const char *) object, &isNew);
    Tcl_SetHashValue(objectEntry, (ClientData) stored);
    return stored;
}

const char *
Glisk_LookupObject(id object)
{
    if (object == nil) {
	return "nil";
    }
    if (IsClassObject(object)) {
	return ClassObjectName(object);
    }
    KxLockGuard guard(&symtabLock);
    if (!symtabReady) {
	return NULL;
    }
    Tcl_HashEntry *entry = Tcl_FindHashEntry(&byObject, (const char *) object);
    return entry != NULL ? (const char *) Tcl_GetHashValue(entry) : NULL;
}

id
Glisk_LookupObjectName(const char *name)
{
    return Glisk_LookupObjectName3(name, NULL, NULL);
}

id
Glisk_LookupObjectName3(const char *name, Tcl_DString *errors, char *notFound)
{
    if (notFound != NULL) {
	*notFound = 0;
    }
    if (name == NULL || name[0] == '\0' || strcasecmp(name, "nil") == 0
	    || strcmp(name, "0x0") == 0) {
	return nil;
    }
    if (name[0] == '@') {
	KxLockGuard guard(&symtabLock);
	Tcl_HashEntry *entry = symtabReady ? Tcl_FindHashEntry(&byName, name) : NULL;
	id object = entry != NULL ? (id) Tcl_GetHashValue(entry) : nil;
	if (object == nil) {
	    if (notFound != NULL) {
		*notFound = 1;
	    }
	    BqTcl_DStringApp(errors, "Object ", name, " does not exist (not registered).",
		    (char *) NULL);
	}
	return object;
    }

    int wantMeta = name[0] == '#';
    const char *className = wantMeta ? name + 1 : name;
    Class cls = objc_lookUpClass(className);
    if (cls == Nil) {
	if (notFound != NULL) {
	    *notFound = 1;
	}
	BqTcl_DStringApp(errors, "\"", className, "\" is not a valid object (class ",
		className, " does not exist)", (char *) NULL);
	return nil;
    }
    if (wantMeta && !class_isMetaClass(cls)) {
	return (id) object_getClass((id) cls);
    }
    return (id) cls;
}

void
Glisk_UnregisterObject(id object)
{
    /* Only instances are in the index, so a class finds nothing.  The
     * object is not inspected: this runs while it is being freed. */
    if (object == nil) {
	return;
    }
    /* Most programs name no instance, and this runs at every
     * deallocation: with no named instance there is nothing to find, and
     * no lock is taken.  (An object is not named while it is freed.) */
    if (__atomic_load_n(&byObject.numEntries, __ATOMIC_RELAXED) == 0) {
	return;
    }
    KxLockGuard guard(&symtabLock);
    if (!symtabReady) {
	return;
    }
    Tcl_HashEntry *entry = Tcl_FindHashEntry(&byObject, (const char *) object);
    if (entry != NULL) {
	DeletePair(entry);
    }
}

void
Glisk_UnregisterObjectName(const char *name)
{
    if (name == NULL || name[0] != '@') {
	return;
    }
    KxLockGuard guard(&symtabLock);
    if (!symtabReady) {
	return;
    }
    Tcl_HashEntry *entry = Tcl_FindHashEntry(&byName, name);
    if (entry != NULL) {
	ForgetPairs((id) Tcl_GetHashValue(entry), name);
    }
}

void
Glisk_GetObjectList(Tcl_DString *result)
{
    if (result == NULL) {
	return;
    }
    KxLockGuard guard(&symtabLock);
    if (!symtabReady) {
	return;
    }
    Tcl_HashSearch search;
    int first = 1;
    for (Tcl_HashEntry *entry = Tcl_FirstHashEntry(&byName, &search); entry != NULL;
	    entry = Tcl_NextHashEntry(&search)) {
	if (!first) {
	    Tcl_DStringAppend(result, " ", 1);
	}
	Tcl_DStringAppend(result, (const char *) Tcl_GetHashKey(&byName, entry), -1);
	first = 0;
    }
}
