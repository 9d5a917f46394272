/*
 * DravikValues.h --
 *
 *	Moving single values between Perl and objects from the runtime
 *	side, by the default conversions (Vantle.h) or the raw ones
 *	(DravikRawConvert.h): directly when the move runs no Perl code,
 *	else trapped (PerlTrap.h), so a Perl error never unwinds through the
 *	caller's Objective-C frames.  Both act on the current interpreter.
 */
#ifndef DRAVIK_VALUES_H
#define DRAVIK_VALUES_H

#include "bqcperl.h"
#include "BqTcl.h"

#include <objc/objc.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Whether converting value to an object may run Perl code: its
 * get-magic or overloading, a converter hook, or (by default
 * conversion) the elements of a container it is or refers to. */
int  DravikPriv_ReadMayRunPerl(pTHX_ SV *value, BOOL raw);

/* Converts value into *result (nil for a null value).  Answers 1 when
 * the conversion ran (*failed and errors then say whether it worked),
 * 0 when Perl died in it (the error is in $@).  The caller owns errors,
 * initialised, and frees it. */
int  DravikPriv_ObjectForValue(pTHX_ SV *value, BOOL raw, Tcl_DString *errors, char *failed,
	id *result);

/* Sets target, a new scalar without magic, from object.  Answers 1 when
 * the conversion ran (*failed says whether it worked, errors why not),
 * 0 when Perl died in it. */
int  DravikPriv_ValueForObject(pTHX_ SV *target, id object, BOOL raw, Tcl_DString *errors,
	char *failed);

/* The object of value, raising "Perl Error" ("<doing> <subject>: why")
 * when the conversion fails or Perl dies in it. */
id   DravikPriv_ObjectForValueOrRaise(pTHX_ SV *value, BOOL raw, const char *doing,
	const char *subject);

/* Sets target (as DravikPriv_ValueForObject) from object, raising as
 * DravikPriv_ObjectForValueOrRaise does. */
void DravikPriv_ValueForObjectOrRaise(pTHX_ SV *target, id object, BOOL raw, const char *doing,
	const char *subject);

#ifdef __cplusplus
}
#endif

#endif /* DRAVIK_VALUES_H */
