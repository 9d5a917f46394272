/*
 * BqOsmoSupport.h --
 *
 *	What the runtime layer adds to the root classes: the handling of
 *	unrecognised selectors on Object and NSObject, and the classic
 *	protocol queries on Protocol.
 *
 *	An unrecognised selector is logged through the error-log function
 *	and raised, as a Foundation exception named
 *	BQ_OSMO_DOESNOTRECOGNIZE_NAME with code BQ_OSMO_DOESNOTRECOGNIZE_NS
 *	when the control use_ns_exceptions is set, otherwise as the runtime
 *	error BQ_OSMO_DOESNOTRECOGNIZE_ERROR whose data is the message.  Once
 *	the layer has started, messages that no method answers and that
 *	Foundation cannot forward reach these handlers too.
 */
#ifndef BQ_OSMO_SUPPORT_H
#define BQ_OSMO_SUPPORT_H

#include <objc/runtime.h>

#include "Protocol.h"

#define BQ_OSMO_DOESNOTRECOGNIZE_ERROR	136661300
#define BQ_OSMO_DOESNOTRECOGNIZE_NS	100600
#define BQ_OSMO_DOESNOTRECOGNIZE_NAME	"OSMO_DOESNOTRECOGNIZE_EXCEPTION"

#ifdef __cplusplus
extern "C" {
#endif

/* Logs "<instance|class> <registry name> does not respond to <selector>"
 * and raises it as described above. */
void BqOsmo_DoesNotRecognizeSelector(id object, SEL selector) __attribute__((noreturn));

#ifdef __cplusplus
}
#endif

#ifdef __OBJC__
#import <Foundation/NSObject.h>
#import <objc/Object.h>
#import <objc/Protocol.h>

@class List;

@interface Object (BqOsmoSupport)
/* Logs "<Instance|Class> <registry name> does not respond to <selector>."
 * and raises it as described above; never returns. */
- (id) doesNotRecognize: (SEL)selector;
/* Logs the formatted message, with the receiver's name, through the
 * error-log function, and answers the receiver. */
- (id) error: (const char *)format, ... __attribute__((format(printf, 1, 2)));
/* Not available on this root: report so through -error: and answer 0. */
+ (BOOL) reallyConformsTo: (Protocol *)protocol;
- (BOOL) reallyConformsTo: (Protocol *)protocol;
+ (id) importBehavior: (Class)behavior;
+ (id) importImplementation: (Class)implementation;
@end

@interface Protocol (BqOsmoSupport)
/* The protocol of that name, collecting afresh when it is not known. */
+ (Protocol *) lookup: (const char *)name;
/* The protocol of that name adopted by cls or a superclass (directly or
 * incorporated); without a class, as BqOsmo_LookupProtocol. */
+ (Protocol *) lookup: (const char *)name forClass: (Class)cls;
/* New autoreleased Lists (made in the temporary zone) of the protocols
 * cls itself adopts, each once, and of the protocols the receiver
 * incorporates. */
+ (List *) getProtocolsForClass: (Class)cls;
- (List *) getSubprotocols;
/* The views of the receiver's record (Protocol.h); null when it has no
 * incorporated protocols, instance methods or class methods. */
- (const BqOsmoProtocolList *) _protocol_list;
- (const BqOsmoMethodDescriptionList *) _instance_methods;
- (const BqOsmoMethodDescriptionList *) _class_methods;
/* The classic protocol interface. */
- (const char *) name;
- (BOOL) conformsTo: (Protocol *)protocol;
- (struct objc_method_description *) descriptionForInstanceMethod: (SEL)selector;
- (struct objc_method_description *) descriptionForClassMethod: (SEL)selector;
@end

@interface NSObject (BqOsmoFoundationSupport)
- (void) doesNotRecognizeSelector: (SEL)selector;
+ (void) doesNotRecognizeSelector: (SEL)selector;
@end
#endif

#endif
