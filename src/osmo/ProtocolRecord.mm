/*
 * ProtocolRecord.mm --
 *
 *	Views of the runtime's protocol records, built from the runtime's
 *	accessor functions.  Each protocol's views are made once, on first
 *	use, from the runtime zone and kept in a table keyed by the Protocol
 *	object; protocols are immutable and never unloaded, so the views stay
 *	true and valid for the life of the process.  The table is made and
 *	entered under a lock of its own; the views, once made, are only read.
 */
#import <Foundation/Foundation.h>

#include "Protocol.h"
#include "BqOsmoCore.h"
#include "KxPlatform.h"
#include "KxLock.h"

#include <stdlib.h>
#include <string.h>

typedef struct ProtocolViews {
    BqOsmoProtocolList *incorporated;
    BqOsmoMethodDescriptionList *instanceMethods;
    BqOsmoMethodDescriptionList *classMethods;
} ProtocolViews;

KX_MUTEX_DEFINE(viewsLock);
static Tcl_HashTable viewsByProtocol;	/* Protocol -> ProtocolViews */
static int viewsReady;

int
BqOsmo_IsProtocol(id object)
{
    static Class protocolClass;
    if (object == nil) {
	return 0;
    }
    if (protocolClass == Nil) {
	protocolClass = objc_lookUpClass("Protocol");
    }
    return object_getClass(object) == protocolClass;
}

/*
 * CopyIncorporated, CopyMethods --
 *	One view, copied out of what the runtime's accessor answers; null
 *	when the list is empty.  The zone raises rather than answer null.
 */
static BqOsmoProtocolList *
CopyIncorporated(Protocol *protocol)
{
    unsigned int count = 0;
    Protocol **protocols = protocol_copyProtocolList(protocol, &count);
    BqOsmoProtocolList *view = NULL;
    if (protocols != NULL && count > 0) {
	view = (BqOsmoProtocolList *) BqOsmo_RuntimeAlloc(
		sizeof(BqOsmoProtocolList) + count * sizeof(Protocol *));
	view->next = NULL;
	view->count = (int) count;
	memcpy(view->list, protocols, count * sizeof(Protocol *));
    }
    free(protocols);
    return view;
}

static BqOsmoMethodDescriptionList *
CopyMethods(Protocol *protocol, BOOL instance)
{
    unsigned int count = 0;
    struct objc_method_description *methods =
	    protocol_copyMethodDescriptionList(protocol, YES, instance, &count);
    BqOsmoMethodDescriptionList *view = NULL;
    if (methods != NULL && count > 0) {
	view = (BqOsmoMethodDescriptionList *) BqOsmo_RuntimeAlloc(
		sizeof(BqOsmoMethodDescriptionList) + count * sizeof(struct objc_method_description));
	view->count = (int) count;
	memcpy(view->list, methods, count * sizeof(struct objc_method_description));
    }
    free(methods);
    return view;
}

/*
 * ViewsOf --
 *	The views of a protocol, made on first use; null for anything that is
 *	not a Protocol object (the accessors must never see one).
 */
static ProtocolViews *
ViewsOf(Protocol *protocol)
{
    if (!BqOsmo_IsProtocol((id) protocol)) {
	return NULL;
    }
    KxLockGuard guard(&viewsLock);
    if (!viewsReady) {
	Tcl_InitHashTable(&viewsByProtocol, TCL_ONE_WORD_KEYS);
	viewsReady = 1;
    }
    int isNew;
    Tcl_HashEntry *entry = Tcl_CreateHashEntry(&viewsByProtocol, (const char *) protocol, &isNew);
    if (!isNew) {
	return (ProtocolViews *) Tcl_GetHashValue(entry);
    }
    ProtocolViews *views = (ProtocolViews *) BqOsmo_RuntimeAlloc(sizeof(ProtocolViews));
    views->incorporated = CopyIncorporated(protocol);
    views->instanceMethods = CopyMethods(protocol, YES);
    views->classMethods = CopyMethods(protocol, NO);
    Tcl_SetHashValue(entry, views);
    return views;
}

const BqOsmoProtocolList *
BqOsmo_ProtocolIncorporated(Protocol *protocol)
{
    ProtocolViews *views = ViewsOf(protocol);
    return views != NULL ? views->incorporated : NULL;
}

const BqOsmoMethodDescriptionList *
BqOsmo_ProtocolInstanceMethods(Protocol *protocol)
{
    ProtocolViews *views = ViewsOf(protocol);
    return views != NULL ? views->instanceMethods : NULL;
}

const BqOsmoMethodDescriptionList *
BqOsmo_ProtocolClassMethods(Protocol *protocol)
{
    ProtocolViews *views = ViewsOf(protocol);
    return views != NULL ? views->classMethods : NULL;
}

struct objc_method_description *
BqOsmo_ProtocolMethodDescription(Protocol *protocol, SEL selector, int instance)
{
    ProtocolViews *views = ViewsOf(protocol);
    if (views == NULL || selector == NULL) {
	return NULL;
    }
    BqOsmoMethodDescriptionList *methods = instance ? views->instanceMethods : views->classMethods;
    for (int i = 0; methods != NULL && i < methods->count; i++) {
	if (sel_isEqual(methods->list[i].name, selector)) {
	    return &methods->list[i];
	}
    }
    BqOsmoProtocolList *incorporated = views->incorporated;
    for (int i = 0; incorporated != NULL && i < incorporated->count; i++) {
	struct objc_method_description *found =
		BqOsmo_ProtocolMethodDescription(incorporated->list[i], selector, instance);
	if (found != NULL) {
	    return found;
	}
    }
    return NULL;
}
