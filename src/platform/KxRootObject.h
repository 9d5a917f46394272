/*
 * KxRootObject.h --
 *
 *	The classic root-object protocol on the roots this runtime has.
 *	NSObject is the root of every class of the library, and answers the
 *	messages the library sends to any object (respondsTo:, isKindOf:,
 *	free ...).  GCC's bare Object gets the same queries, so objects of
 *	either root can be asked.
 */
#ifndef KX_ROOT_OBJECT_H
#define KX_ROOT_OBJECT_H

#import <Foundation/NSObject.h>
#import <objc/Object.h>
#import <objc/runtime.h>

@interface NSObject (KxRootObject)
+ (id) allocFromZone: (NSZone *)zone;
- (id) copyFromZone: (NSZone *)zone;
/* Releases the receiver; answers nil. */
- (id) free;
+ (BOOL) respondsTo: (SEL)selector;
- (BOOL) respondsTo: (SEL)selector;
+ (BOOL) instancesRespondTo: (SEL)selector;
- (BOOL) isKindOf: (Class)aClass;
- (BOOL) isMemberOf: (Class)aClass;
+ (BOOL) conformsTo: (Protocol *)protocol;
- (BOOL) conformsTo: (Protocol *)protocol;
/* The method's description, or null when the receiver has no such method. */
+ (struct objc_method_description *) methodDescriptionForSelector: (SEL)selector;
- (struct objc_method_description *) methodDescriptionForSelector: (SEL)selector;
+ (struct objc_method_description *) instanceMethodDescriptionForSelector: (SEL)selector;
- (struct objc_method_description *) descriptionForMethod: (SEL)selector;
+ (struct objc_method_description *) descriptionForMethod: (SEL)selector;
+ (struct objc_method_description *) descriptionForInstanceMethod: (SEL)selector;
@end

@interface Object (KxRootObject)
+ (BOOL) respondsTo: (SEL)selector;
- (BOOL) respondsTo: (SEL)selector;
+ (BOOL) instancesRespondTo: (SEL)selector;
- (BOOL) isKindOf: (Class)aClass;
- (BOOL) isMemberOf: (Class)aClass;
+ (BOOL) conformsTo: (Protocol *)protocol;
- (BOOL) conformsTo: (Protocol *)protocol;
- (struct objc_method_description *) descriptionForMethod: (SEL)selector;
+ (struct objc_method_description *) descriptionForInstanceMethod: (SEL)selector;
@end

#ifdef __cplusplus
extern "C" {
#endif

/* The description of the method the class's instances (or, for a
 * metaclass, the class) answer selector with; null when there is none. */
struct objc_method_description *KxMethodDescription(Class cls, SEL selector);

/* True when cls or one of its superclasses adopts the protocol, directly
 * or through the protocols it incorporates. */
int KxClassConformsTo(Class cls, Protocol *protocol);

#ifdef __cplusplus
}
#endif

#endif
