/*
 * CTypesPriv.h --
 *
 *	What the files of the C type tables share: the list of tables and
 *	the type-fix lookup.
 */
#ifndef BQ_CTYPES_PRIV_H
#define BQ_CTYPES_PRIV_H

#include "CTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Every table ever created, newest first (linked through link). */
extern CTypeTable *BqOsmo__CTypeTables;

/* The encoding one type (exactly one, NUL-terminated) is registered
 * under: its fix, or the type itself. */
const char *BqOsmo__FixedCType(const char *type);

#ifdef __cplusplus
}
#endif

#endif /* BQ_CTYPES_PRIV_H */
