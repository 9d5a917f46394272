/*
 * PerlSelectorMap.mm --
 *
 *	The map is a Tcl string-keyed hash table from Perl name to a list of
 *	selectors, newest first.  Nodes come from the default malloc zone and
 *	are never freed.  A list never holds two selectors of the same name.
 *
 *	One map serves every interpreter of the process; it grows whenever a
 *	lookup misses, so it is read and changed under its lock.  Nothing
 *	that can reach Perl (a warning may die) runs while the lock is held.
 *
 *	A lookup that misses walks every method of every class and protocol
 *	(some milliseconds).  A name that still misses after the walk can
 *	only be found once the runtime has more methods, so it is remembered
 *	(with its number of arguments) and not walked for again while the
 *	runtime has as many classes as at the walk and no change was noted
 *	(RuntimeChange.h).  The remembered names have a lock of their own and
 *	are forgotten all at once, when the runtime changes or when there are
 *	MAX_MISSES of them, so a program that sends ever new unknown names
 *	does not grow the process.
 */
#import <Foundation/Foundation.h>

#include "PerlSelectorMap.h"
#include "VantlePriv.h"
#include "bqcperl.h"
#include "KxPlatform.h"
#include "Protocol.h"
#include "PerlCTypes.h"
#include "TypeEncoding.h"
#include "RuntimeChange.h"
#include "KxLock.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

typedef struct SelectorNode {
    struct SelectorNode *next;
    SEL selector;
} SelectorNode;

KX_MUTEX_DEFINE(selectorMapLock);
static Tcl_HashTable selectorMap;	/* Perl name -> SelectorNode list */
static int selectorMapReady;

static void
EnsureMap(void)
{
    if (!selectorMapReady) {
	Tcl_InitHashTable(&selectorMap, TCL_STRING_KEYS);
	selectorMapReady = 1;
    }
}

void
VantlePriv_PerlNameOfSelector(const char *name, char *dst)
{
    while (*name != '\0') {
	if (*name == ':') {
	    name++;
	    if (*name != '\0' && *name != ':') {
		*dst++ = (char) toupper((unsigned char) *name++);
	    }
	} else {
	    *dst++ = *name++;
	}
    }
    *dst = '\0';
}

static int
SameSelector(SEL a, SEL b)
{
    if (a == b) {
	return 1;
    }
    const char *nameA = sel_getName(a), *nameB = sel_getName(b);
    return nameA == nameB || (nameA != NULL && nameB != NULL && strcmp(nameA, nameB) == 0);
}

void
VantlePriv_AddSelector(SEL selector)
{
    const char *name = selector != NULL ? sel_getName(selector) : NULL;
    if (name == NULL || *name == '\0') {
	return;
    }
    KxLockGuard guard(&selectorMapLock);
    EnsureMap();
    size_t length = strlen(name);
    char stack[128];
    char *perlName = length < sizeof stack ? stack : (char *) malloc(length + 1);
    if (perlName == NULL) {
	return;
    }
    VantlePriv_PerlNameOfSelector(name, perlName);
    int isNew;
    Tcl_HashEntry *entry = Tcl_CreateHashEntry(&selectorMap, perlName, &isNew);
    if (perlName != stack) {
	free(perlName);
    }
    SelectorNode *first = isNew ? NULL : (SelectorNode *) Tcl_GetHashValue(entry);
    for (SelectorNode *node = first; node != NULL; node = node->next) {
	if (SameSelector(node->selector, selector)) {
	    return;
	}
    }
    SelectorNode *node = (SelectorNode *) KxZoneMalloc(KxDefaultMallocZone(), sizeof *node);
    node->next = first;
    node->selector = selector;
    Tcl_SetHashValue(entry, (ClientData) node);
}

/* Enters the selectors of a class's own methods (instance methods for a
 * class, class methods for a metaclass). */
static void
AddMethodsOf(Class cls)
{
    unsigned int count = 0;
    Method *methods = class_copyMethodList(cls, &count);
    for (unsigned int i = 0; i < count; i++) {
	VantlePriv_AddSelector(method_getName(methods[i]));
    }
    free(methods);
}

static void
AddDescriptionsOf(Protocol *protocol, BOOL required, BOOL instance)
{
    unsigned int count = 0;
    struct objc_method_description *descriptions =
	protocol_copyMethodDescriptionList(protocol, required, instance, &count);
    for (unsigned int i = 0; i < count; i++) {
	VantlePriv_AddSelector(descriptions[i].name);
    }
    free(descriptions);
}

static int
AddProtocolSelectors(void *, Protocol *protocol)
{
    AddDescriptionsOf(protocol, YES, YES);
    AddDescriptionsOf(protocol, NO, YES);
    AddDescriptionsOf(protocol, YES, NO);
    AddDescriptionsOf(protocol, NO, NO);
    return 0;
}

static void
Progress(const char *text)
{
    if (VantlePriv_VantleVerbose) {
	printf("%s", text);
	fflush(stdout);
    }
}

void
VantlePriv_CollectSelectors(void)
{
    Progress("Collecting SELs... ");
    KxClassIterator state = KxClassIteratorStart();
    Class cls;
    while (KxClassIteratorNext(&state, &cls)) {
	AddMethodsOf(cls);
	AddMethodsOf(object_getClass((id) cls));
    }
    Progress("protocols... ");
    BqOsmo_CollectProtocols();
    Progress("protocol SELs... ");
    BqOsmo_MapProtocols(NULL, AddProtocolSelectors);
    Progress("done.\n");
}

/* Perl names no selector had: name -> a mask of argument counts (bit
 * nargs + 1, -1 standing for any count), as of the generation and the
 * class count of the walk that missed. */
#define MAX_MISSES 1024
#define MAX_MISS_ARGS 62

KX_MUTEX_DEFINE(missesLock);
static Tcl_HashTable misses;
static int missesReady;
static unsigned missesGeneration;
static int missesClassCount;

/* Empties the remembered misses and dates them (missesLock held). */
static void
ResetMissesLocked(unsigned generation, int classCount)
{
    if (missesReady) {
	Tcl_DeleteHashTable(&misses);
    }
    Tcl_InitHashTable(&misses, TCL_STRING_KEYS);
    missesReady = 1;
    missesGeneration = generation;
    missesClassCount = classCount;
}

/*
 *----------------------------------------------------------------------
 * IsKnownMiss --
 *	Whether a walk of every class and protocol found no selector of
 *	perlName with nargs arguments, and the runtime has had no classes
 *	registered nor changes noted since.
 *----------------------------------------------------------------------
 */
static int
IsKnownMiss(const char *perlName, int nargs)
{
    if (nargs + 1 > MAX_MISS_ARGS) {
	return 0;
    }
    unsigned generation = BqOsmo_RuntimeGeneration();
    int classCount = KxClassCount();
    KxLockGuard guard(&missesLock);
    if (!missesReady || missesGeneration != generation || missesClassCount != classCount) {
	return 0;
    }
    Tcl_HashEntry *entry = Tcl_FindHashEntry(&misses, perlName);
    uintptr_t mask = entry != NULL ? (uintptr_t) Tcl_GetHashValue(entry) : 0;
    return (mask & ((uintptr_t) 1 << (nargs + 1))) != 0;
}

/*
 *----------------------------------------------------------------------
 * RememberMiss --
 *	Records that a walk begun under generation and classCount found no
 *	selector of perlName with nargs arguments.  Misses remembered under
 *	another generation or class count are forgotten first.
 *----------------------------------------------------------------------
 */
static void
RememberMiss(const char *perlName, int nargs, unsigned generation, int classCount)
{
    if (nargs + 1 > MAX_MISS_ARGS) {
	return;
    }
    KxLockGuard guard(&missesLock);
    if (!missesReady || missesGeneration != generation || missesClassCount != classCount
	    || misses.numEntries >= MAX_MISSES) {
	ResetMissesLocked(generation, classCount);
    }
    int isNew;
    Tcl_HashEntry *entry = Tcl_CreateHashEntry(&misses, perlName, &isNew);
    uintptr_t mask = isNew ? 0 : (uintptr_t) Tcl_GetHashValue(entry);
    Tcl_SetHashValue(entry, (ClientData) (mask | ((uintptr_t) 1 << (nargs + 1))));
}

static int
CountColons(const char *name)
{
    int colons = 0;
    for (; *name != '\0'; name++) {
	colons += *name == ':';
    }
    return colons;
}

/*
 * FindLocked --
 *	The oldest selector of perlName with nargs colons (any count for
 *	-1), or null.  Each time a newer one is passed over, the pair goes to
 *	ambiguous (the last pair seen is kept) for the caller to warn about.
 */
static SEL
FindLocked(const char *perlName, int nargs, SEL ambiguous[2])
{
    KxLockGuard guard(&selectorMapLock);
    if (!selectorMapReady) {
	return NULL;
    }
    Tcl_HashEntry *entry = Tcl_FindHashEntry(&selectorMap, perlName);
    if (entry == NULL) {
	return NULL;
    }
    SEL found = NULL;
    for (SelectorNode *node = (SelectorNode *) Tcl_GetHashValue(entry); node != NULL;
	    node = node->next) {
	if (nargs != -1 && CountColons(sel_getName(node->selector)) != nargs) {
	    continue;
	}
	if (found != NULL) {
	    ambiguous[0] = found;
	    ambiguous[1] = node->selector;
	}
	found = node->selector;
    }
    return found;
}

SEL
VantlePriv_QuickFindSelector(const char *perlName, int nargs)
{
    if (perlName == NULL) {
	return NULL;
    }
    SEL ambiguous[2] = { NULL, NULL };
    SEL found = FindLocked(perlName, nargs, ambiguous);
    if (ambiguous[0] != NULL) {
	BQCPERL_dTHX;
	Perl_warn(aTHX_ "ambiguous selectors for \"%s(%d)\": \"%s\" vs \"%s\"", perlName,
		nargs, sel_getName(ambiguous[0]), sel_getName(ambiguous[1]));
    }
    return found;
}

static void
AskRespondsTo(void *context)
{
    void **pair = (void **) context;
    pair[2] = [(id) pair[0] respondsTo: (SEL) pair[1]] ? pair[1] : NULL;
}

SEL
VantlePriv_FindSelector(id receiver, Class, const char *formedName, const char *perlName,
	int nargs)
{
    SEL found = VantlePriv_QuickFindSelector(perlName, nargs);
    if (found != NULL) {
	return found;
    }
    if (receiver != nil && formedName != NULL && *formedName != '\0') {
	void *question[3] = { receiver, BqTypeSpec_Str2SEL(formedName), NULL };
	KxErrorInfo error;
	if (KxGuard(AskRespondsTo, question, &error) != 0) {
	    KxErrorInfoClear(&error);
	} else if (question[2] != NULL) {
	    return (SEL) question[2];
	}
    }
    if (perlName == NULL || IsKnownMiss(perlName, nargs)) {
	return NULL;
    }
    /* Dated before the walk: a class registered during it makes the
     * miss out of date at once. */
    unsigned generation = BqOsmo_RuntimeGeneration();
    int classCount = KxClassCount();
    VantlePriv_CollectSelectors();
    found = VantlePriv_QuickFindSelector(perlName, nargs);
    if (found == NULL) {
	RememberMiss(perlName, nargs, generation, classCount);
    }
    return found;
}

/* Notifications the binding's type table keeps for definitions made
 * after the map was filled.  A category arrives here as the class it
 * extends; both do nothing while the map is off. */
static void
CategoryDefined(Class cls)
{
    if (VantlePriv_PerlSelectorMap && cls != Nil) {
	AddMethodsOf(cls);
	AddMethodsOf(object_getClass((id) cls));
    }
}

static void
ProtocolDefined(Protocol *protocol)
{
    if (VantlePriv_PerlSelectorMap && protocol != nil) {
	AddProtocolSelectors(NULL, protocol);
    }
}

void
Vantle_SelectorMapInit(void)
{
    {
	KxLockGuard guard(&selectorMapLock);
	EnsureMap();
    }
    if (VantlePriv_CTypeTable != NULL && VantlePriv_CTypeTable->categoryDefineHook2 == NULL) {
	VantlePriv_CTypeTable->categoryDefineHook2 = (BqOsmo_DefineHook) CategoryDefined;
	VantlePriv_CTypeTable->protocolDefineHook2 = (BqOsmo_DefineHook) ProtocolDefined;
    }
}
