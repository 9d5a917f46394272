/*
 * KxClassRename.mm --
 *
 *	Class renaming on GCC's runtime.  The runtime offers no setter for a
 *	class's name, so the name word of the class record is written here,
 *	and only after the record is seen to hold, at the place this
 *	runtime's record layout puts it, the very pointer class_getName
 *	answers.  The class then enters the class table under the new name
 *	through the function the runtime itself registers classes with.
 */
#include "KxClassRename.h"

#include <objc/objc.h>

#ifdef __cplusplus
extern "C" {
#endif
/* The runtime's own registration step (exported, though no public header
 * declares it): enters a resolved class into the class table under the
 * name its record holds and answers YES, or answers NO, changing nothing,
 * when a class of that name is known already.  It takes the runtime's
 * lock itself. */
BOOL __objc_add_class_to_hash(Class cls);
#ifdef __cplusplus
}
#endif

/* The start of a class record on this runtime: the class pointer, the
 * superclass and the name, in that order, for classes and metaclasses. */
typedef struct KxClassRecordStart {
    void *classPointer;
    void *superClass;
    const char *name;
} KxClassRecordStart;

/*
 * NameWord --
 *	The address of the name word of a class or metaclass record, or null
 *	when the word there is not the name the runtime answers for it, so
 *	the layout is not the one this file knows.
 */
static const char **
NameWord(Class cls)
{
    KxClassRecordStart *record = (KxClassRecordStart *) cls;
    const char *name = class_getName(cls);
    return (name != NULL && record->name == name) ? &record->name : NULL;
}

const char *
KxRenameClass(Class cls, const char *name)
{
    if (cls == Nil) {
	return "no class to rename";
    }
    if (name == NULL || name[0] == '\0') {
	return "no name to rename the class to";
    }
    if (class_isMetaClass(cls)) {
	return "a metaclass is renamed with its class";
    }
    if (objc_lookUpClass(class_getName(cls)) != cls) {
	/* Classes still under construction, and records the runtime does not
	 * know, must not enter the table from here. */
	return "the class is not registered with the runtime";
    }
    if (objc_lookUpClass(name) != Nil) {
	return "a class of that name exists";
    }

    Class meta = object_getClass((id) cls);
    const char **className = NameWord(cls);
    const char **metaName = NameWord(meta);
    if (className == NULL || metaName == NULL) {
	return "the runtime's class record is not laid out as expected";
    }

    const char *oldClassName = *className;
    const char *oldMetaName = *metaName;
    *className = name;
    *metaName = name;
    if (!__objc_add_class_to_hash(cls) || objc_lookUpClass(name) != cls) {
	*className = oldClassName;
	*metaName = oldMetaName;
	return "the runtime's class table refused the name";
    }
    return NULL;
}
