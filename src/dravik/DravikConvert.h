/*
 * DravikConvert.h --
 *
 *	The web layer's converters between Perl values and objects, which
 *	the web layer installs in place of the binding's defaults
 *	(Vantle_ObjectForSVHook, Vantle_SVForObjectHook) when it starts.
 */
#ifndef DRAVIK_CONVERT_H
#define DRAVIK_CONVERT_H

#include "bqcperl.h"
#include "BqTcl.h"

#include <objc/objc.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Installs the two converters, once per process. */
void Dravik_ConvertInit(void);

/* Perl value to object: a blessed hash is the object its "selfObject"
 * names, else a new autoreleased BqPerlObject over it (not retaining); a
 * string is an NSString, a number an NSNumber, a handle its object;
 * anything the binding's default cannot convert is wrapped in a
 * BqPerlVar.  Never croaks: failures of handles set errors and the flag. */
id   Dravik_ObjectForSV(SV *sv, Tcl_DString *errors, char *errorFlag);

/* Object to Perl value: an object with a perlObject is that Perl object's
 * reference, an NSNumber a number (its double, and its integer when the
 * double is whole), a BqPerlVar its value; anything else as the binding's
 * default converts it.  Answers 1, or 0 with a message in errors. */
int  Dravik_SVForObject(SV *sv, id object, Tcl_DString *errors);

#ifdef __cplusplus
}
#endif

#endif /* DRAVIK_CONVERT_H */
