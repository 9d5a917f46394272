/*
 * PerlGuard.h --
 *
 *	Objective-C work run for Perl: the platform guard catches every
 *	error it raises, and the texts here turn a caught error into words
 *	for a Perl message.  An Objective-C exception must never unwind
 *	through Perl's frames, nor a Perl error through Objective-C's.
 */
#ifndef PERL_GUARD_H
#define PERL_GUARD_H

#include "bqcperl.h"
#include "BqTcl.h"
#include "KxError.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Appends the text of a caught error: "[NSException NAME]: REASON" for
 * a Foundation exception, the message for the runtime's own errors. */
void VantlePriv_AppendCaughtError(Tcl_DString *errors, KxErrorInfo *caught);
/* A new mortal "SUBNAME: TEXT" for a caught error, ready for croak_sv. */
SV  *VantlePriv_CaughtErrorMessage(pTHX_ const char *subName, KxErrorInfo *caught);

#ifdef __cplusplus
}

/*
 * VantlePriv_Guard --
 *	Runs body, a piece of Objective-C work, under the platform guard.
 *	Answers 1 when it completed; otherwise appends the caught error's
 *	text to errors and answers 0.  The body must not call into Perl in a
 *	way that can die: a Perl error must never unwind through the guard.
 */
template <typename Body>
static void
VantlePriv_RunGuardedBody(void *context)
{
    (*static_cast<Body *>(context))();
}

template <typename Body>
static inline int
VantlePriv_Guard(Tcl_DString *errors, Body body)
{
    KxErrorInfo caught;
    if (KxGuard(VantlePriv_RunGuardedBody<Body>, &body, &caught) == 0) {
	return 1;
    }
    VantlePriv_AppendCaughtError(errors, &caught);
    KxErrorInfoClear(&caught);
    return 0;
}
#endif

#endif /* PERL_GUARD_H */
