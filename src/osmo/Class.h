/*
 * Class.h --
 *
 *	Questions about classes and protocols, and class renaming.
 */
#ifndef BQ_OSMO_CLASS_H
#define BQ_OSMO_CLASS_H

#include <objc/runtime.h>

#include "BqTcl.h"

#ifdef __cplusplus
extern "C" {
#endif

/* True when object is a live class or metaclass (not an instance, not a
 * stray pointer): only those may be asked for class records. */
int BqOsmo_IsClass(id object);

/* True when a protocol in the protocol lists of cls or of a superclass
 * is protocol or incorporates it. */
int BqOsmo_ClassConformsTo(Class cls, Protocol *protocol);

/*
 * BqOsmo_ClassReallyConformsTo --
 *	Checks that cls implements every method the protocol and each
 *	protocol it incorporates declare: a class method (instance method)
 *	with each selector, inherited or its own, whose type encoding equals
 *	the declared one.  For each protocol with missing or different
 *	methods, errors (may be null) gets "{", the protocol's name, then
 *	" +" or " -" and the selector for each such method, then "}".
 *
 * Results:
 *	1 when the class conforms, else 0.
 */
int BqOsmo_ClassReallyConformsTo(Class cls, Protocol *protocol, Tcl_DString *errors);

/*
 * BqOsmo_ClassRename --
 *	Renames a class.  The new name must begin with a letter or "_" and
 *	go on with letters, digits, "_" or "~"; no class may have it yet;
 *	Object and NSObject keep their names.  The class answers the new
 *	name from then on and is found under it; the runtime cannot forget a
 *	class name, so it is still found under its old names too.
 *
 * Results:
 *	0 on success; 1 with the reason appended to errors (may be null).
 */
int BqOsmo_ClassRename(Class cls, const char *newName, Tcl_DString *errors);

#ifdef __cplusplus
}
#endif

#endif
