/*
 * KxClassRename.h --
 *
 *	Giving a registered class a new name.
 *
 *	The runtime's class table only ever grows: it has no way to drop or
 *	re-key an entry.  A rename therefore gives the class and its
 *	metaclass the new name (class_getName, and everything built on it,
 *	answers it) and enters the class into the table under the new name
 *	as well, so objc_lookUpClass and objc_getClass find it there.  The
 *	class stays reachable under every name it had, so nothing that still
 *	refers to it by an old name (subclasses and categories loaded later,
 *	the runtime's own lookups of "Object" and "Protocol") breaks, and
 *	objc_getClassList lists it once for each name it was ever given.
 */
#ifndef KX_CLASS_RENAME_H
#define KX_CLASS_RENAME_H

#include <objc/runtime.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * KxRenameClass --
 *	Renames cls, a class (not a metaclass) that the runtime's class
 *	table knows under its current name, to name.  name must stay valid
 *	and unchanged for the rest of the process (an interned string), and
 *	no class may be known under it yet.
 *
 * Results:
 *	Null on success, otherwise a constant message; on failure nothing
 *	was changed.
 */
const char *KxRenameClass(Class cls, const char *name);

#ifdef __cplusplus
}
#endif

#endif
