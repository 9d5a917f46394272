/*
 * Ivar.mm --
 *
 *	Instance variable lookup over the runtime's ivar lists
 *	(class_copyIvarList), never over its class records directly.  Each
 *	list copy is freed before the function returns; the Ivar handles in
 *	it stay valid, as they point into the class.
 */
#include "Ivar.h"

#include <stdlib.h>
#include <string.h>

static int
IsNamed(Ivar ivar, const char *name)
{
    const char *ivarName = ivar_getName(ivar);
    return ivarName == name || (ivarName != NULL && strcmp(ivarName, name) == 0);
}

/*
 *----------------------------------------------------------------------
 * WalkIvars --
 *	Finds the first variable in the walk over object's variables that
 *	comes after the one named after (right at the start when after is
 *	null) and, when name is given, is named name.  Answers it or null.
 *----------------------------------------------------------------------
 */
static Ivar
WalkIvars(id object, const char *after, const char *name)
{
    if (object == nil) {
	return NULL;
    }
    /* A class object's variables are its metaclass's; the metaclasses are
     * reached from the class chain, as this runtime may leave a metaclass's
     * superclass link unresolved. */
    int isClass = class_isMetaClass(object_getClass(object));
    int passed = after == NULL;
    for (Class cls = isClass ? (Class) object : object_getClass(object); cls != Nil;
	    cls = class_getSuperclass(cls)) {
	unsigned count = 0;
	Ivar *list = class_copyIvarList(isClass ? object_getClass(cls) : cls, &count);
	Ivar found = NULL;
	for (unsigned i = 0; i < count && found == NULL; i++) {
	    if (passed && (name == NULL || IsNamed(list[i], name))) {
		found = list[i];
	    } else if (!passed && IsNamed(list[i], after)) {
		passed = 1;
	    }
	}
	free(list);
	if (found != NULL) {
	    return found;
	}
    }
    return NULL;
}

Ivar
BqOsmo_FindIvar(id object, const char *name)
{
    return name != NULL ? WalkIvars(object, NULL, name) : NULL;
}

Ivar
BqOsmo_FindNextIvar(id object, const char *name)
{
    return WalkIvars(object, name, NULL);
}
