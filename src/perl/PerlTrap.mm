/*
 * PerlTrap.mm --
 *
 *	Running C code that may reach Perl code (tie methods, overloaded
 *	operators, get-magic) from the runtime side, where a Perl error must
 *	never unwind.  The code runs inside an anonymous XS sub that is called
 *	with G_EVAL, so a die ends in $@ like any trapped call; the caller
 *	turns it into an NSException once the Perl call frame is closed.
 *
 *	One anonymous sub is made per interpreter, on first use, and kept in
 *	the interpreter's PL_modglobal; it is not reachable from Perl by any
 *	name, and it takes nothing from its Perl arguments: the work to run
 *	is the thread's innermost active frame, a C-side record.  Frames nest
 *	strictly on each thread (a trapped run in one interpreter may call
 *	into another, never across threads), so the innermost frame is
 *	always the one whose sub Perl is calling.
 *
 *	The file also counts how deep calls from the runtime side into Perl
 *	nest on each thread, and refuses one more before the thread's C
 *	stack runs out: Perl code that calls Objective-C code that calls
 *	Perl again stacks C frames of both on that one stack, which Perl's
 *	own recursion (which needs no C frames) does not.
 */
#import <Foundation/Foundation.h>

#include "PerlTrap.h"

#include <pthread.h>
#include <stdlib.h>
#include <string.h>

/* The most calls into Perl that may nest on one thread, whatever its
 * stack; and the part of a thread's C stack kept free for the calls made
 * below the innermost one that was let in (the stack's quarter, at most
 * this many bytes). */
#define NESTING_LIMIT		10000
#define STACK_RESERVE_LIMIT	(256 * 1024)

/* Per-thread state: the calls into Perl now nested on this thread, and
 * the lowest stack address a call may start from (null: the thread's
 * stack is unknown, only the count limits). */
static __thread int nestingDepth;
static __thread char *nestingStackLimit;
static __thread int nestingStackKnown;

typedef struct TrapFrame {
    VantlePriv_TrappedProc proc;
    void *context;
    int ran;			/* set once proc returned */
} TrapFrame;

/* The innermost trapped run on this thread. */
static __thread TrapFrame *activeFrame;

/* Where an interpreter keeps its trap sub. */
#define TRAP_SUB_KEY "Vantle::_trap"

/*
 * XS_Vantle_TrapBody --
 *	The anonymous sub's body: runs the innermost active frame's work.
 */
static void
XS_Vantle_TrapBody(pTHX_ CV *)
{
    dXSARGS;
    PERL_UNUSED_VAR(items);
    TrapFrame *frame = activeFrame;
    if (frame != NULL && frame->proc != NULL) {
	frame->proc(aTHX_ frame->context);
	frame->ran = 1;
    }
    XSRETURN_EMPTY;
}

/*
 * TrapSub --
 *	The interpreter's anonymous trap sub, made on first use.
 */
static CV *
TrapSub(pTHX)
{
    SV **slot = hv_fetchs(PL_modglobal, TRAP_SUB_KEY, 0);
    if (slot != NULL && SvROK(*slot)) {
	return (CV *) SvRV(*slot);
    }
    CV *trapSub = newXS(NULL, XS_Vantle_TrapBody, __FILE__);
    (void) hv_stores(PL_modglobal, TRAP_SUB_KEY, newRV_noinc((SV *) trapSub));
    return trapSub;
}

/*
 * StackLimit --
 *	The lowest address from which this thread may still start a call
 *	into Perl: its stack's lowest address plus the reserve.  Found on
 *	the thread's first call; null when the thread's stack is unknown.
 *	(Stacks grow downwards on every machine this library runs on.)
 */
static char *
StackLimit(void)
{
    if (nestingStackKnown) {
	return nestingStackLimit;
    }
    nestingStackKnown = 1;
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) {
	return NULL;
    }
    void *lowest = NULL;
    size_t size = 0;
    if (pthread_attr_getstack(&attributes, &lowest, &size) == 0 && lowest != NULL && size > 0) {
	size_t reserve = size / 4 < STACK_RESERVE_LIMIT ? size / 4 : STACK_RESERVE_LIMIT;
	nestingStackLimit = (char *) lowest + reserve;
    }
    pthread_attr_destroy(&attributes);
    return nestingStackLimit;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_EnterPerl, VantlePriv_LeavePerl --
 *	Count a call from the runtime side into Perl on this thread.  Enter
 *	refuses (answers 0) once NESTING_LIMIT calls are nested, or when the
 *	C stack left below the caller is within the thread's reserve.
 *----------------------------------------------------------------------
 */
int
VantlePriv_EnterPerl(void)
{
    char *limit = StackLimit();
    if (nestingDepth >= NESTING_LIMIT
	    || (limit != NULL && (char *) __builtin_frame_address(0) < limit)) {
	return 0;
    }
    nestingDepth++;
    return 1;
}

void
VantlePriv_LeavePerl(void)
{
    nestingDepth--;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_RunTrapped --
 *	Runs proc(context) under G_EVAL in a scope of its own.  Answers 1
 *	when proc returned, 0 when Perl died on the way (the error is then
 *	in $@), or when calls into Perl nest too deep to run it ($@ says
 *	so).  Temporaries made by proc are freed before this returns.
 *----------------------------------------------------------------------
 */
int
VantlePriv_RunTrapped(pTHX_ VantlePriv_TrappedProc proc, void *context)
{
    if (!VantlePriv_EnterPerl()) {
	sv_setpvs(ERRSV, VANTLE_NESTING_TOO_DEEP "\n");
	return 0;
    }
    TrapFrame frame = { proc, context, 0 };
    TrapFrame *outer = activeFrame;
    activeFrame = &frame;

    dSP;
    ENTER;
    SAVETMPS;
    PUSHMARK(SP);
    PUTBACK;
    call_sv((SV *) TrapSub(aTHX), G_VOID | G_DISCARD | G_EVAL);
    FREETMPS;
    LEAVE;

    activeFrame = outer;
    VantlePriv_LeavePerl();
    /* An error object is not asked for its truth: that could run code. */
    SV *error = ERRSV;
    return frame.ran && !SvROK(error) && !SvTRUE_nomg(error);
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_NeedsTrap --
 *	Whether reading sv may run Perl code: it has get-magic (tied, or
 *	a linked variable), or is a reference to an object with overloaded
 *	operators.
 *----------------------------------------------------------------------
 */
int
VantlePriv_NeedsTrap(SV *sv)
{
    return sv != NULL && (SvGMAGICAL(sv) || SvRMAGICAL(sv) || SvAMAGIC(sv));
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_RaisePerlError --
 *	Raises an NSException named "Perl Error" whose reason is the text
 *	of $@, prefixed by what was being done.  Call it only after every
 *	Perl scope of the failed operation is closed.
 *----------------------------------------------------------------------
 */
void
VantlePriv_RaisePerlError(pTHX_ const char *doing)
{
    SV *error = ERRSV;
    STRLEN length = 0;
    /* An error object's own stringification could die again: it is not
     * asked, and the reason says only that an object was thrown. */
    const char *text = SvROK(error) ? NULL : SvPV_nomg(error, length);
    if (text == NULL) {
	text = "a Perl error object was thrown";
	length = strlen(text);
    }
    NSString *reason = [NSString stringWithFormat: @"%s: %@", doing,
	[[[NSString alloc] initWithBytes: text length: length
		encoding: SvUTF8(error) ? NSUTF8StringEncoding : NSISOLatin1StringEncoding]
		autorelease]];
    [[NSException exceptionWithName: @"Perl Error" reason: reason userInfo: nil] raise];
    abort();
}
