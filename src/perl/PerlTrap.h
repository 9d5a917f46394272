/*
 * PerlTrap.h --
 *
 *	Perl code reached from the runtime side.  A Perl error must never
 *	unwind through Objective-C frames: such code runs trapped, and the
 *	error becomes an NSException once the Perl frame is closed.
 */
#ifndef PERL_TRAP_H
#define PERL_TRAP_H

#include "bqcperl.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*VantlePriv_TrappedProc)(pTHX_ void *context);

/* Runs proc(context) under G_EVAL in a scope of its own: 1 when it
 * returned, 0 when Perl died (the error is in $@). */
int  VantlePriv_RunTrapped(pTHX_ VantlePriv_TrappedProc proc, void *context);
/* Whether reading sv may run Perl code (magic, overloaded operators). */
int  VantlePriv_NeedsTrap(SV *sv);
/* Raises NSException "Perl Error" with "<doing>: <text of $@>". */
void VantlePriv_RaisePerlError(pTHX_ const char *doing) __attribute__((noreturn));

/*
 * Nesting of calls from the runtime side into Perl, counted per thread
 * (each such call stacks Perl's and the runtime's C frames on one C
 * stack).  VantlePriv_EnterPerl counts one more and answers 1, or answers
 * 0 and counts nothing when calls already nest too deep for the thread's
 * C stack: the caller then calls nothing and fails with the text
 * VANTLE_NESTING_TOO_DEEP.  Each 1 is matched by one VantlePriv_LeavePerl.
 */
#define VANTLE_NESTING_TOO_DEEP "calls between Perl and Objective-C nesting too deep"
int  VantlePriv_EnterPerl(void);
void VantlePriv_LeavePerl(void);

#ifdef __cplusplus
}

/*
 * VantlePriv_Trapped --
 *	VantlePriv_RunTrapped for a lambda: 1 when body completed, 0 when
 *	Perl died in it (the error is in $@).  The body must hold nothing
 *	with a destructor: a Perl error leaves it by longjmp.
 */
template <typename Body>
static void
VantlePriv_RunTrappedBody(pTHX_ void *context)
{
    PERL_UNUSED_CONTEXT;
    (*static_cast<Body *>(context))();
}

template <typename Body>
static inline int
VantlePriv_Trapped(pTHX_ Body body)
{
    return VantlePriv_RunTrapped(aTHX_ VantlePriv_RunTrappedBody<Body>, &body);
}

/*
 * VantlePriv_OnValue --
 *	Runs body, which works on value, directly when that runs no Perl
 *	code, else trapped; a Perl error then raises "Perl Error" naming
 *	doing.  For Objective-C callers outside any Perl call.
 */
template <typename Body>
static inline void
VantlePriv_OnValue(pTHX_ SV *value, const char *doing, Body body)
{
    if (!VantlePriv_NeedsTrap(value)) {
	body();
	return;
    }
    if (!VantlePriv_Trapped(aTHX_ body)) {
	VantlePriv_RaisePerlError(aTHX_ doing);
    }
}
#endif

#endif /* PERL_TRAP_H */
