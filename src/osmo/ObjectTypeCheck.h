/*
 * ObjectTypeCheck.h --
 *
 *	Whether an object may stand where a type encoding declares it.
 */
#ifndef BQ_OBJECT_TYPE_CHECK_H
#define BQ_OBJECT_TYPE_CHECK_H

#include "CTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Whether object fits an object or class type: 0 when it does (or the
 * type declares nothing to check), 1 with label, what and the reason
 * appended to errors when it does not.  Nil always fits. */
int BqOsmo_CheckObjectType(id object, const char *type, const char *label,
		const char *what, Tcl_DString *errors);

#ifdef __cplusplus
}
#endif

#endif /* BQ_OBJECT_TYPE_CHECK_H */
