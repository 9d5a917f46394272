/*
 * ClassBuilder.h --
 *
 *	Classes made at run time by a scripting language: a new subclass of
 *	any registered class, with instance variables given as (name, type
 *	encoding) and the protocols it adopts, registered with the runtime in
 *	one step; and what a method added to such a class must look like when
 *	it overrides an inherited method or implements a protocol's.
 *
 *	Every check is made before the runtime is touched, so a refused class
 *	leaves the runtime as it was.  Registered classes are never removed
 *	(this runtime cannot dispose of them); methods can be added to and
 *	replaced in them at any time.
 */
#ifndef BQ_CLASS_BUILDER_H
#define BQ_CLASS_BUILDER_H

#include "BqTcl.h"

#include <objc/runtime.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One instance variable of a class to build. */
typedef struct BqIvarSpec {
    const char *name;
    const char *type;	/* a type encoding, without qualifiers */
} BqIvarSpec;

/*
 * Makes, registers and answers the class name, a subclass of superclass
 * with the given instance variables (in that order, after the
 * superclass's) and protocols.  Nil with a message appended to errors when
 * the name is empty or taken, the superclass is Nil, an instance variable
 * has an empty or repeated name (its own list or the superclass's) or a
 * type no C variable can have, or a protocol is null; the runtime is then
 * unchanged.  Notes a runtime change on success.
 */
Class BqOsmo_BuildClass(const char *name, Class superclass, int ivarCount,
		const BqIvarSpec *ivars, int protocolCount, Protocol *const *protocols,
		Tcl_DString *errors);

/* Adopts protocol in cls (once); notes a runtime change when it was new. */
void BqOsmo_AdoptProtocol(Class cls, Protocol *protocol);

/*
 * The type encoding a method of cls named selector must have without
 * being told: that of the method cls already answers (its own or an
 * inherited one), else that of the selector in a protocol that cls or a
 * superclass adopts (incorporated protocols included).  classMethod
 * chooses class methods.  Null when neither gives one.  The text lives as
 * long as the process.
 */
const char *BqOsmo_InheritedMethodTypes(Class cls, SEL selector, int classMethod);

/*
 * Gives cls (its metaclass for a class method) the implementation imp
 * for selector with the given types, in place of one it has itself.  The
 * runtime is given the types without element names (structure members'),
 * as compiled methods carry them.
 * Notes a runtime change and forgets what the message send learned about
 * forwarding the class's messages.
 */
void BqOsmo_SetMethodImplementation(Class cls, SEL selector, const char *types, IMP imp,
		int classMethod);

#ifdef __cplusplus
}
#endif

#endif /* BQ_CLASS_BUILDER_H */
