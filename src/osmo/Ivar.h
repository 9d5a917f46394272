/*
 * Ivar.h --
 *
 *	Finding instance variables by name.  The records are the runtime's
 *	own (Ivar: name, type encoding, offset, read with ivar_getName,
 *	ivar_getTypeEncoding and ivar_getOffset) and live as long as their
 *	class.
 *
 *	The walk over an object's variables visits its class's list in
 *	declaration order, then its superclass's, and so on to the root
 *	class.  For a class object the walk goes up the metaclasses and ends
 *	with the root metaclass, whose variables are the fields of a class.
 */
#ifndef BQ_IVAR_H
#define BQ_IVAR_H

#include <objc/runtime.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The first variable of that name in the walk, or null. */
Ivar BqOsmo_FindIvar(id object, const char *name);

/* The variable after the one named name in the walk (the first one when
 * name is null), or null at the end or when name is not found. */
Ivar BqOsmo_FindNextIvar(id object, const char *name);

#ifdef __cplusplus
}
#endif

#endif /* BQ_IVAR_H */
