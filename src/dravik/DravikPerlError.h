/*
 * DravikPerlError.h --
 *
 *	Perl errors seen from the web layer's Objective-C side: the text of
 *	$@ as an NSString, and the "Perl Error" exception it becomes once
 *	every Perl call frame of the failed operation is closed.
 */
#ifndef DRAVIK_PERL_ERROR_H
#define DRAVIK_PERL_ERROR_H

#include "bqcperl.h"
#include "BqTcl.h"

#ifdef __OBJC__
@class NSString;

#ifdef __cplusplus
extern "C" {
#endif

/* The name of the exceptions that carry Perl errors. */
#define DRAVIK_PERL_ERROR @"Perl Error"

/* The text of the Perl error value error (a string, in Perl's encoding
 * of it).  An error object is asked for its string in a trapped run of
 * its own; when that dies too, the text says an object was thrown.
 * Call it outside every Perl call frame. */
NSString *DravikPriv_ErrorText(pTHX_ SV *error);

/* Raises an NSException named "Perl Error" with reason, no user info. */
void DravikPriv_RaisePerlError(NSString *reason) __attribute__((noreturn));

/* Raises "Perl Error" with "<doing> <subject>: <words>", where words are
 * the text of $@ when died is set, else those of errors, which it frees
 * (null allowed when died is set). */
void DravikPriv_RaiseFailure(pTHX_ const char *doing, const char *subject, int died,
	Tcl_DString *errors) __attribute__((noreturn));

#ifdef __cplusplus
}
#endif
#endif /* __OBJC__ */

#endif /* DRAVIK_PERL_ERROR_H */
