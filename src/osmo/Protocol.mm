/*
 * Protocol.mm --
 *
 *	The protocol registry: a string-keyed hash table from protocol name
 *	to Protocol object, the flag that tells whether every protocol of the
 *	runtime's classes has been entered, and lookup by name, with or
 *	without a class to search.  The registry's lock covers its table and
 *	flags; it is recursive, as collecting enters protocols one by one.
 */
#import <Foundation/Foundation.h>

#include "Protocol.h"
#include "Class.h"
#include "KxPlatform.h"
#include "KxUnknownSelector.h"
#include "KxLock.h"

#include <stdlib.h>
#include <string.h>

KX_MUTEX_DEFINE(registryLock);
static Tcl_HashTable registry;		/* name -> Protocol */
static int registryReady;
static int collected;			/* every class's protocols are in */
static int collectedClassCount;		/* classes the runtime had then */

static void
EnsureRegistry(void)
{
    if (!registryReady) {
	Tcl_InitHashTable(&registry, TCL_STRING_KEYS);
	registryReady = 1;
    }
}

void
BqOsmo_ProtocolInit(void)
{
    {
	KxLockGuard guard(&registryLock);
	EnsureRegistry();
    }
    KxRouteUnknownSelectors();
}

int
BqOsmo_AddProtocol(Protocol *protocol, int replace)
{
    if (!BqOsmo_IsProtocol((id) protocol)) {
	return 0;
    }
    const char *name = protocol_getName(protocol);
    if (name == NULL) {
	return 0;
    }
    KxLockGuard guard(&registryLock);
    EnsureRegistry();
    int isNew;
    Tcl_HashEntry *entry = Tcl_CreateHashEntry(&registry, name, &isNew);
    if (isNew || replace) {
	Tcl_SetHashValue(entry, protocol);
    }
    return (Protocol *) Tcl_GetHashValue(entry) == protocol;
}

int
BqOsmo_MapProtocols(void *arg, BqOsmo_ProtocolFunction fn)
{
    if (fn == NULL) {
	return 0;
    }
    /* A snapshot, taken under the lock and walked without it, so a
     * callback that adds protocols cannot disturb the walk of the table. */
    Protocol **protocols = NULL;
    int n = 0;
    {
	KxLockGuard guard(&registryLock);
	EnsureRegistry();
	int count = registry.numEntries;
	if (count == 0) {
	    return 0;
	}
	protocols = (Protocol **) malloc((size_t) count * sizeof(Protocol *));
	if (protocols == NULL) {
	    BqTcl_panic("out of memory while walking %d protocols", count);
	}
	Tcl_HashSearch search;
	for (Tcl_HashEntry *entry = Tcl_FirstHashEntry(&registry, &search);
		entry != NULL && n < count; entry = Tcl_NextHashEntry(&search)) {
	    protocols[n++] = (Protocol *) Tcl_GetHashValue(entry);
	}
    }
    int stopped = 0;
    for (int i = 0; i < n && !stopped; i++) {
	stopped = fn(arg, protocols[i]) != 0;
    }
    free(protocols);
    return stopped;
}

void
BqOsmo_DirtyProtocol(void)
{
    KxLockGuard guard(&registryLock);
    collected = 0;
}

/*
 * EnterWithIncorporated --
 *	Enters protocol (never replacing) and, once per Protocol object of
 *	this collection, the protocols it incorporates.
 */
static void
EnterWithIncorporated(Protocol *protocol, Tcl_HashTable *seen)
{
    int isNew;
    Tcl_CreateHashEntry(seen, (const char *) protocol, &isNew);
    if (!isNew) {
	return;
    }
    BqOsmo_AddProtocol(protocol, 0);
    const BqOsmoProtocolList *incorporated = BqOsmo_ProtocolIncorporated(protocol);
    for (int i = 0; incorporated != NULL && i < incorporated->count; i++) {
	EnterWithIncorporated(incorporated->list[i], seen);
    }
}

void
BqOsmo_CollectProtocols(void)
{
    KxLockGuard guard(&registryLock);
    EnsureRegistry();
    Tcl_HashTable seen;
    Tcl_InitHashTable(&seen, TCL_ONE_WORD_KEYS);
    collectedClassCount = KxClassCount();
    KxClassIterator state = KxClassIteratorStart();
    Class cls;
    while (KxClassIteratorNext(&state, &cls)) {
	unsigned int count = 0;
	Protocol **protocols = class_copyProtocolList(cls, &count);
	for (unsigned int i = 0; protocols != NULL && i < count; i++) {
	    EnterWithIncorporated(protocols[i], &seen);
	}
	free(protocols);
    }
    Tcl_DeleteHashTable(&seen);
    collected = 1;
}

static int
HasName(Protocol *protocol, const char *name)
{
    const char *own = protocol_getName(protocol);
    return own != NULL && (own == name || strcmp(own, name) == 0);
}

/*
 * FindIncorporated --
 *	protocol itself when it has the name, else the first protocol of
 *	that name among those it incorporates, depth first.
 */
static Protocol *
FindIncorporated(Protocol *protocol, const char *name)
{
    if (!BqOsmo_IsProtocol((id) protocol)) {
	return NULL;
    }
    if (HasName(protocol, name)) {
	return protocol;
    }
    const BqOsmoProtocolList *incorporated = BqOsmo_ProtocolIncorporated(protocol);
    for (int i = 0; incorporated != NULL && i < incorporated->count; i++) {
	Protocol *found = FindIncorporated(incorporated->list[i], name);
	if (found != NULL) {
	    return found;
	}
    }
    return NULL;
}

static Protocol *
FindInClass(Class cls, const char *name)
{
    for (; cls != Nil; cls = class_getSuperclass(cls)) {
	unsigned int count = 0;
	Protocol **protocols = class_copyProtocolList(cls, &count);
	Protocol *found = NULL;
	for (unsigned int i = 0; protocols != NULL && i < count && found == NULL; i++) {
	    found = FindIncorporated(protocols[i], name);
	}
	free(protocols);
	if (found != NULL) {
	    return found;
	}
    }
    return NULL;
}

static Protocol *
FindRegistered(const char *name)
{
    KxLockGuard guard(&registryLock);
    EnsureRegistry();
    Tcl_HashEntry *entry = Tcl_FindHashEntry(&registry, name);
    return entry != NULL ? (Protocol *) Tcl_GetHashValue(entry) : NULL;
}

Protocol *
BqOsmo_LookupProtocol(Class cls, const char *name)
{
    if (name == NULL) {
	return NULL;
    }
    if (cls != Nil) {
	return BqOsmo_IsClass((id) cls) ? FindInClass(cls, name) : NULL;
    }
    KxLockGuard guard(&registryLock);
    Protocol *found = FindRegistered(name);
    if (found == NULL && (!collected || KxClassCount() != collectedClassCount)) {
	BqOsmo_CollectProtocols();
	found = FindRegistered(name);
    }
    return found;
}

static int
IncorporatedCount(Protocol *protocol)
{
    const BqOsmoProtocolList *incorporated = BqOsmo_ProtocolIncorporated(protocol);
    return incorporated != NULL ? incorporated->count : 0;
}

static int
MethodCount(const BqOsmoMethodDescriptionList *methods)
{
    return methods != NULL ? methods->count : 0;
}

int
BqOsmo_EquivalentProtocols(Protocol *a, Protocol *b)
{
    if (a == b) {
	return 1;
    }
    if (!BqOsmo_IsProtocol((id) a) || !BqOsmo_IsProtocol((id) b)) {
	return 0;
    }
    return IncorporatedCount(a) == IncorporatedCount(b)
	    && MethodCount(BqOsmo_ProtocolInstanceMethods(a)) == MethodCount(BqOsmo_ProtocolInstanceMethods(b))
	    && MethodCount(BqOsmo_ProtocolClassMethods(a)) == MethodCount(BqOsmo_ProtocolClassMethods(b));
}
