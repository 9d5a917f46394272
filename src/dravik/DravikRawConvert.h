/*
 * DravikRawConvert.h --
 *
 *	The raw conversions between Perl values and objects: Perl values
 *	stay Perl values (wrapped in a BqPerlVar) and objects cross as
 *	object handles, where the default conversions of Vantle.h would
 *	convert strings, numbers and containers by value.  A BqPerlObject
 *	uses them for reads and writes when its rawGet or rawSet flag is on.
 *
 *	Both act on the current interpreter and may run Perl code (get-magic
 *	of the value read or copied): callers on the runtime side run them
 *	trapped when VantlePriv_NeedsTrap says so of that value (PerlTrap.h).
 *	Errors are words appended to a caller-owned dynamic string (null:
 *	none wanted), as in Vantle.h.
 */
#ifndef DRAVIK_RAW_CONVERT_H
#define DRAVIK_RAW_CONVERT_H

#include "bqcperl.h"
#include "BqTcl.h"

#include <objc/objc.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Sets sv from object: the value of a BqPerlVar (or BqPerlObject) is
 * copied (sv_setsv; a container or code value is not a scalar, so sv
 * becomes a reference to it), anything else becomes an object handle
 * (Vantle_SVSetObject).  Answers NO, with words in errors, for a
 * wrapper of another interpreter and when no handle can be made. */
BOOL Dravik_SVForObject_Raw(SV *sv, id object, Tcl_DString *errors);

/* The object of sv: after sv's get-magic, the object of a handle or nil
 * for a nil value (Vantle_SVIsObject, Vantle_SVGetObject2NM, which
 * report their errors in errors and errorFlag); any other value gives a
 * new autoreleased BqPerlVar sharing sv.  Nil for null. */
id   Dravik_ObjectForSV_Raw(SV *sv, Tcl_DString *errors, char *errorFlag);

#ifdef __cplusplus
}
#endif

#endif /* DRAVIK_RAW_CONVERT_H */
