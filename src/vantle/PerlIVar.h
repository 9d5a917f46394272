/*
 * PerlIVar.h --
 *
 *	Instance variables seen from Perl: read and written by name
 *	(Vantle::ivar_get, Vantle::ivar_set), or through a Perl scalar linked
 *	to one variable of one object (Vantle::ivar, Vantle_SVLinkIVar), whose
 *	reads and writes go to the object through the tie class Vantle::IVar.
 *	The tie methods of a handle's hash (Vantle::Object::FETCH ...) use the
 *	same reading and writing for objects that are no collections.
 *
 *	Values are converted by the variable's type encoding with the
 *	binding's C type table.  A C string variable receives a private copy
 *	when written, and the string it held is freed: such a variable must
 *	hold null or a string from the default malloc zone.  Object variables
 *	are stored as they are, without retain or release, as the object's
 *	own code would have to do.  Class objects' variables are never
 *	written, nor is an object's class pointer (isa).
 */
#ifndef VANTLE_PERL_IVAR_H
#define VANTLE_PERL_IVAR_H

#include "Vantle.h"

#include <objc/runtime.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Links sv to the variable name of object: every later read of sv reads
 * the variable, every assignment writes it.  Answers 1; or 0 with "nil
 * object", "NULL ivar", "read-only value" or the handle's problem
 * appended to errors. */
int Vantle_SVLinkIVar(SV *sv, id object, const char *name, Tcl_DString *errors);

/*
 * For the tie methods.  Each may run Perl code (conversions call
 * get-magic, tie methods and overloaded operators), so call it inside a
 * scope opened with VantlePriv_EnterConversion, errors being that scope's
 * string, and croak only after leaving the scope.
 */

/* The object a Perl value stands for, converted as the perl_auto_convert
 * control says: Perl data becomes Foundation objects when it is on, only
 * handles, false values and class names are accepted when it is off.
 * Answers 1, or 0 with the reason appended to errors. */
int VantlePriv_ObjectArgument(pTHX_ SV *sv, Tcl_DString *errors, id *objectPtr);

/* The object whose inside the sub subName looks at, converted as above.
 * Answers null, or a new mortal message: "<subName>: <reason>" for a value
 * that is no object, "<subName>: nil object" for nil. */
SV *VantlePriv_ReceiverArgument(pTHX_ SV *sv, const char *subName, Tcl_DString *errors,
		id *objectPtr);

/* The variable of object named by sv's string, or null (also for a
 * name with an embedded NUL).  *namePtr receives the name, valid while sv
 * is unchanged. */
Ivar VantlePriv_FindNamedIvar(pTHX_ id object, SV *sv, const char **namePtr);

/* Sets result from the variable ivar of object.  Answers null, or a new
 * mortal message ("Vantle::ivar_get: ..."). */
SV *VantlePriv_ReadIvar(pTHX_ id object, Ivar ivar, SV *result, Tcl_DString *errors);

/* Writes value into the variable ivar of object.  Answers null, or a new
 * mortal message ("Vantle::ivar_set: ..."). */
SV *VantlePriv_WriteIvar(pTHX_ id object, Ivar ivar, SV *value, Tcl_DString *errors);

#ifdef __cplusplus
}
#endif

#endif /* VANTLE_PERL_IVAR_H */
