/*
 * BqOsmoSupport.mm --
 *
 *	The runtime layer's additions to GCC's root class Object and to
 *	Protocol: reporting unrecognised selectors, the queries this root
 *	does not offer, and the classic protocol interface over the protocol
 *	registry and record views.
 */
#import <Foundation/Foundation.h>

#include "BqOsmoSupport.h"
#include "Class.h"
#include "BqOsmoControl.h"
#include "BqOsmoCore.h"
#include "BqOsmoError.h"
#include "Glisk.h"
#include "KxPlatform.h"
#include "KxThreadStorage.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

/* The message of the latest unrecognised selector on each thread.  It is
 * reused: the raise copies the text before anything can change it. */
static KxThreadStorage unrecognizedTexts = KX_THREAD_DSTRING_STORAGE;

static const char *
SelectorName(SEL selector)
{
    const char *name = selector != NULL ? sel_getName(selector) : NULL;
    return name != NULL ? name : "(null)";
}

/*
 * RaiseUnrecognized --
 *	Forms "<word> <registry name> does not respond to <selector>" (with
 *	a final "." when asked), logs it, and raises it: as a Foundation
 *	exception when use_ns_exceptions is set, else as the runtime error.
 *	The words name an instance receiver (nil counts as one) or a class.
 */
static void __attribute__((noreturn))
RaiseUnrecognized(id object, SEL selector, const char *instanceWord, const char *classWord,
	int period)
{
    Tcl_DString *unrecognized = KxThreadDStringGet(&unrecognizedTexts);
    if (unrecognized == NULL) {
	_KxRaiseError(BQ_OSMO_DOESNOTRECOGNIZE_ERROR, "does not respond (out of memory)", NULL);
    }
    int isInstance = object == nil || !class_isMetaClass(object_getClass(object));
    Tcl_DStringSetLength(unrecognized, 0);
    BqTcl_DStringPrintf(unrecognized, period ? "%s %s does not respond to %s."
					      : "%s %s does not respond to %s",
	    isInstance ? instanceWord : classWord, Glisk_RegisterObject(object),
	    SelectorName(selector));
    const char *text = Tcl_DStringValue(unrecognized);
    BqOsmo_GetLogErrorFunction()("%s\n", text);
    if (BQ_CONTROL(use_ns_exceptions)) {
	KxRaiseCodedException(BQ_OSMO_DOESNOTRECOGNIZE_NS, BQ_OSMO_DOESNOTRECOGNIZE_NAME, text);
    }
    _KxRaiseError(BQ_OSMO_DOESNOTRECOGNIZE_ERROR, text, NULL);
}

void
BqOsmo_DoesNotRecognizeSelector(id object, SEL selector)
{
    RaiseUnrecognized(object, selector, "instance", "class", 0);
}

@implementation Object (BqOsmoSupport)

- (id) doesNotRecognize: (SEL)selector
{
    RaiseUnrecognized(self, selector, "Instance", "Class", 1);
}

- (id) error: (const char *)format, ...
{
    va_list ap;
    va_start(ap, format);
    va_list measure;
    va_copy(measure, ap);
    int needed = format != NULL ? vsnprintf(NULL, 0, format, measure) : -1;
    va_end(measure);
    char *message = needed >= 0 ? (char *) malloc((size_t) needed + 1) : NULL;
    if (message != NULL) {
	vsnprintf(message, (size_t) needed + 1, format, ap);
    }
    va_end(ap);
    BqOsmo_GetLogErrorFunction()("%s: %s\n", Glisk_RegisterObject(self),
	    message != NULL ? message : "(unprintable error)");
    free(message);
    return self;
}

+ (BOOL) reallyConformsTo: (Protocol *)protocol
{
    (void) protocol;
    [self error: "-reallyConformsTo: not available"];
    return NO;
}

- (BOOL) reallyConformsTo: (Protocol *)protocol
{
    (void) protocol;
    [self error: "-reallyConformsTo: not available"];
    return NO;
}

+ (id) importBehavior: (Class)behavior
{
    (void) behavior;
    [self error: "-importBehavior: not available"];
    return nil;
}

+ (id) importImplementation: (Class)implementation
{
    (void) implementation;
    [self error: "-importImplementation: not available"];
    return nil;
}

@end

/*
 * NewTemporaryList --
 *	An empty autoreleased List from the temporary zone.
 */
static List *
NewTemporaryList(void)
{
    return [[[List allocWithZone: BqOsmo_GetTmpZone()] init] autorelease];
}

@implementation Protocol (BqOsmoSupport)

+ (Protocol *) lookup: (const char *)name
{
    BqOsmo_DirtyProtocol();
    return BqOsmo_LookupProtocol(Nil, name);
}

+ (Protocol *) lookup: (const char *)name forClass: (Class)cls
{
    return BqOsmo_LookupProtocol(cls, name);
}

+ (List *) getProtocolsForClass: (Class)cls
{
    List *list = NewTemporaryList();
    unsigned int count = 0;
    Protocol **protocols = BqOsmo_IsClass((id) cls) ? class_copyProtocolList(cls, &count) : NULL;
    for (unsigned int i = 0; protocols != NULL && i < count; i++) {
	[list addObjectIfAbsent: (id) protocols[i]];
    }
    free(protocols);
    return list;
}

- (List *) getSubprotocols
{
    List *list = NewTemporaryList();
    const BqOsmoProtocolList *incorporated = BqOsmo_ProtocolIncorporated(self);
    for (int i = 0; incorporated != NULL && i < incorporated->count; i++) {
	[list addObject: (id) incorporated->list[i]];
    }
    return list;
}

- (const BqOsmoProtocolList *) _protocol_list
{
    return BqOsmo_ProtocolIncorporated(self);
}

- (const BqOsmoMethodDescriptionList *) _instance_methods
{
    return BqOsmo_ProtocolInstanceMethods(self);
}

- (const BqOsmoMethodDescriptionList *) _class_methods
{
    return BqOsmo_ProtocolClassMethods(self);
}

- (const char *) name
{
    return protocol_getName(self);
}

- (BOOL) conformsTo: (Protocol *)protocol
{
    return BqOsmo_IsProtocol((id) protocol) && protocol_conformsToProtocol(self, protocol);
}

- (struct objc_method_description *) descriptionForInstanceMethod: (SEL)selector
{
    return BqOsmo_ProtocolMethodDescription(self, selector, 1);
}

- (struct objc_method_description *) descriptionForClassMethod: (SEL)selector
{
    return BqOsmo_ProtocolMethodDescription(self, selector, 0);
}

@end
