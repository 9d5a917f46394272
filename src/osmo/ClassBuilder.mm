/*
 * ClassBuilder.mm --
 *
 *	Classes made at run time: checked whole, then allocated, given their
 *	instance variables and protocols, and registered (ClassBuilder.h).
 */
#import <Foundation/Foundation.h>

#include "ClassBuilder.h"
#include "ForwardingCache.h"
#include "KxUniqueString.h"
#include "Protocol.h"
#include "RuntimeChange.h"
#include "TypeEncoding.h"

#include <stdlib.h>
#include <string.h>

/* Whether cls or a superclass has an instance variable of that name. */
static int
HasIvarNamed(Class cls, const char *name)
{
    return cls != Nil && class_getInstanceVariable(cls, name) != NULL;
}

/*
 * CheckClassSpec --
 *	Everything that could refuse the class, before the runtime is
 *	touched: 0, or 1 with the reason appended to errors.
 */
static int
CheckClassSpec(const char *name, Class superclass, int ivarCount, const BqIvarSpec *ivars,
	int protocolCount, Protocol *const *protocols, Tcl_DString *errors)
{
    if (name == NULL || *name == '\0') {
	BqTcl_DStringApp(errors, "a class needs a name", (char *) NULL);
	return 1;
    }
    if (objc_lookUpClass(name) != Nil) {
	BqTcl_DStringApp(errors, "a class named ", name, " already exists", (char *) NULL);
	return 1;
    }
    if (superclass == Nil) {
	BqTcl_DStringApp(errors, "class ", name, " needs a superclass", (char *) NULL);
	return 1;
    }
    for (int i = 0; i < ivarCount; i++) {
	const char *ivar = ivars[i].name;
	const char *type = ivars[i].type;
	if (ivar == NULL || *ivar == '\0') {
	    BqTcl_DStringApp(errors, "an instance variable of class ", name, " has no name",
		    (char *) NULL);
	    return 1;
	}
	if (HasIvarNamed(superclass, ivar)) {
	    BqTcl_DStringApp(errors, "instance variable ", ivar, " of class ", name,
		    " is already one of its superclass ", class_getName(superclass),
		    (char *) NULL);
	    return 1;
	}
	for (int j = 0; j < i; j++) {
	    if (strcmp(ivars[j].name, ivar) == 0) {
		BqTcl_DStringApp(errors, "instance variable ", ivar, " of class ", name,
			" is declared twice", (char *) NULL);
		return 1;
	    }
	}
	if (type == NULL || !BqTypeSpec_IsValidCType(type) || *type == 'v'
		|| BqTypeSpec_SizeOfType(type) <= 0) {
	    BqTcl_DStringApp(errors, "instance variable ", ivar, " of class ", name,
		    " cannot have type \"", type != NULL ? type : "", "\"", (char *) NULL);
	    return 1;
	}
    }
    for (int i = 0; i < protocolCount; i++) {
	if (protocols[i] == NULL) {
	    BqTcl_DStringApp(errors, "class ", name, " adopts a null protocol", (char *) NULL);
	    return 1;
	}
    }
    return 0;
}

/* log2 of an alignment, as class_addIvar takes it. */
static uint8_t
AlignmentShift(int alignment)
{
    uint8_t shift = 0;
    while (alignment > 1) {
	alignment >>= 1;
	shift++;
    }
    return shift;
}

Class
BqOsmo_BuildClass(const char *name, Class superclass, int ivarCount, const BqIvarSpec *ivars,
	int protocolCount, Protocol *const *protocols, Tcl_DString *errors)
{
    if (CheckClassSpec(name, superclass, ivarCount, ivars, protocolCount, protocols, errors)) {
	return Nil;
    }
    Class cls = objc_allocateClassPair(superclass, name, 0);
    if (cls == Nil) {
	BqTcl_DStringApp(errors, "the runtime refused to make class ", name, (char *) NULL);
	return Nil;
    }
    for (int i = 0; i < ivarCount; i++) {
	const char *type = ivars[i].type;
	if (!class_addIvar(cls, ivars[i].name, (size_t) BqTypeSpec_SizeOfType(type),
		AlignmentShift(BqTypeSpec_AlignOfType(type)), type)) {
	    objc_disposeClassPair(cls);
	    BqTcl_DStringApp(errors, "the runtime refused instance variable ", ivars[i].name,
		    " of class ", name, (char *) NULL);
	    return Nil;
	}
    }
    for (int i = 0; i < protocolCount; i++) {
	class_addProtocol(cls, protocols[i]);
    }
    objc_registerClassPair(cls);
    BqOsmo_NoteRuntimeChange();
    return cls;
}

void
BqOsmo_AdoptProtocol(Class cls, Protocol *protocol)
{
    if (cls != Nil && protocol != NULL && class_addProtocol(cls, protocol)) {
	BqOsmo_NoteRuntimeChange();
    }
}

/* The selector's description in the protocols that cls itself adopts,
 * or null. */
static struct objc_method_description *
AdoptedDescription(Class cls, SEL selector, int instance)
{
    unsigned int count = 0;
    Protocol **protocols = class_copyProtocolList(cls, &count);
    struct objc_method_description *found = NULL;
    for (unsigned int i = 0; found == NULL && i < count; i++) {
	found = BqOsmo_ProtocolMethodDescription(protocols[i], selector, instance);
    }
    free(protocols);
    return found;
}

const char *
BqOsmo_InheritedMethodTypes(Class cls, SEL selector, int classMethod)
{
    if (cls == Nil || selector == NULL) {
	return NULL;
    }
    Method method = classMethod ? class_getClassMethod(cls, selector)
	: class_getInstanceMethod(cls, selector);
    if (method != NULL && method_getTypeEncoding(method) != NULL) {
	return method_getTypeEncoding(method);
    }
    for (Class walk = cls; walk != Nil; walk = class_getSuperclass(walk)) {
	struct objc_method_description *found = AdoptedDescription(walk, selector, !classMethod);
	if (found != NULL && found->types != NULL) {
	    return found->types;
	}
    }
    return NULL;
}

/* The method of cls's own lists (not a superclass's) for selector, or
 * null. */
static Method
OwnMethod(Class cls, SEL selector)
{
    unsigned int count = 0;
    Method *methods = class_copyMethodList(cls, &count);
    Method found = NULL;
    for (unsigned int i = 0; found == NULL && i < count; i++) {
	if (sel_isEqual(method_getName(methods[i]), selector)) {
	    found = methods[i];
	}
    }
    free(methods);
    return found;
}

/* Types without element names, as compiled methods carry them (and as
 * GNUstep's method signatures can read them); interned, so they live as
 * long as the method. */
static const char *
BareTypes(const char *types)
{
    if (strchr(types, '"') == NULL) {
	return types;
    }
    char *bare = (char *) malloc(strlen(types) + 1);
    if (bare == NULL) {
	return types;
    }
    BqTypeSpec_StripCTypeQuote(types, bare);
    const char *interned = KxUniqueString(bare);
    free(bare);
    return interned;
}

void
BqOsmo_SetMethodImplementation(Class cls, SEL selector, const char *types, IMP imp,
	int classMethod)
{
    /* Not class_replaceMethod: this runtime's replaces the implementation
     * of an inherited method in the superclass itself. */
    Class target = classMethod ? object_getClass((id) cls) : cls;
    Method own = OwnMethod(target, selector);
    if (own != NULL) {
	method_setImplementation(own, imp);
    } else {
	class_addMethod(target, selector, imp, BareTypes(types));
    }
    BqOsmo_NoteRuntimeChange();
    BqOsmo_ForgetForwarding(cls);
}
