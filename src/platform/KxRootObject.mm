/*
 * KxRootObject.mm --
 *
 *	Root-object messages on NSObject and on GCC's Object, written with the
 *	runtime's accessors only, so they work the same on both roots.
 */
#import <Foundation/Foundation.h>

#include "KxRootObject.h"

struct objc_method_description *
KxMethodDescription(Class cls, SEL selector)
{
    if (cls == Nil || selector == NULL) {
	return NULL;
    }
    Method method = class_getInstanceMethod(cls, selector);
    return method != NULL ? method_getDescription(method) : NULL;
}

int
KxClassConformsTo(Class cls, Protocol *protocol)
{
    if (protocol == nil) {
	return 0;
    }
    for (; cls != Nil; cls = class_getSuperclass(cls)) {
	if (class_conformsToProtocol(cls, protocol)) {
	    return 1;
	}
    }
    return 0;
}

static int
IsKindOf(id object, Class aClass)
{
    for (Class cls = object_getClass(object); cls != Nil; cls = class_getSuperclass(cls)) {
	if (cls == aClass) {
	    return 1;
	}
    }
    return 0;
}

@implementation NSObject (KxRootObject)

+ (id) allocFromZone: (NSZone *)zone
{
    return [self allocWithZone: zone];
}

- (id) copyFromZone: (NSZone *)zone
{
    return [(id) self copyWithZone: zone];
}

- (id) free
{
    [self release];
    return nil;
}

+ (BOOL) respondsTo: (SEL)selector
{
    return [self respondsToSelector: selector];
}

- (BOOL) respondsTo: (SEL)selector
{
    return [self respondsToSelector: selector];
}

+ (BOOL) instancesRespondTo: (SEL)selector
{
    return [self instancesRespondToSelector: selector];
}

- (BOOL) isKindOf: (Class)aClass
{
    return [self isKindOfClass: aClass];
}

- (BOOL) isMemberOf: (Class)aClass
{
    return [self isMemberOfClass: aClass];
}

+ (BOOL) conformsTo: (Protocol *)protocol
{
    return [self conformsToProtocol: protocol];
}

- (BOOL) conformsTo: (Protocol *)protocol
{
    return [self conformsToProtocol: protocol];
}

+ (struct objc_method_description *) methodDescriptionForSelector: (SEL)selector
{
    return KxMethodDescription(object_getClass(self), selector);
}

- (struct objc_method_description *) methodDescriptionForSelector: (SEL)selector
{
    return KxMethodDescription(object_getClass(self), selector);
}

+ (struct objc_method_description *) instanceMethodDescriptionForSelector: (SEL)selector
{
    return KxMethodDescription(self, selector);
}

+ (struct objc_method_description *) descriptionForMethod: (SEL)selector
{
    return [self methodDescriptionForSelector: selector];
}

- (struct objc_method_description *) descriptionForMethod: (SEL)selector
{
    return [self methodDescriptionForSelector: selector];
}

+ (struct objc_method_description *) descriptionForInstanceMethod: (SEL)selector
{
    return [self instanceMethodDescriptionForSelector: selector];
}

@end

@implementation Object (KxRootObject)

+ (BOOL) respondsTo: (SEL)selector
{
    return class_respondsToSelector(object_getClass(self), selector);
}

- (BOOL) respondsTo: (SEL)selector
{
    return class_respondsToSelector(object_getClass(self), selector);
}

+ (BOOL) instancesRespondTo: (SEL)selector
{
    return class_respondsToSelector(self, selector);
}

- (BOOL) isKindOf: (Class)aClass
{
    return IsKindOf(self, aClass);
}

- (BOOL) isMemberOf: (Class)aClass
{
    return object_getClass(self) == aClass;
}

+ (BOOL) conformsTo: (Protocol *)protocol
{
    return KxClassConformsTo(self, protocol);
}

- (BOOL) conformsTo: (Protocol *)protocol
{
    return KxClassConformsTo(object_getClass(self), protocol);
}

- (struct objc_method_description *) descriptionForMethod: (SEL)selector
{
    return KxMethodDescription(object_getClass(self), selector);
}

+ (struct objc_method_description *) descriptionForInstanceMethod: (SEL)selector
{
    return KxMethodDescription(self, selector);
}

@end
