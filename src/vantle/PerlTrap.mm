/*
 * PerlTrap.mm --
 *
 *	Running C code that may reach Perl code (tie methods, overloaded
 *	operators, get-magic) from the runtime side, where a Perl error must
 *	never unwind.  The code runs inside an anonymous XS sub that is called
 *	with G_EVAL, so a die ends in $@ like any trapped call; the caller
 *	turns it into an NSException once the Perl call frame is closed.
 *
 *	One anonymous sub is made per interpreter, on first use, and kept for
 *	the process; it is not reachable from Perl by any name, and it takes
 *	nothing from its Perl arguments: the work to run is the innermost
 *	active frame, a C-side record.
 */
#import <Foundation/Foundation.h>

#include "VantlePriv.h"

#include <stdlib.h>
#include <string.h>

typedef struct TrapFrame {
    VantlePriv_TrappedProc proc;
    void *context;
    int ran;			/* set once proc returned */
} TrapFrame;

static TrapFrame *activeFrame;
static Tcl_HashTable trapSubs;		/* interpreter -> CV * */
static int trapSubsReady;

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
    if (!trapSubsReady) {
	Tcl_InitHashTable(&trapSubs, TCL_ONE_WORD_KEYS);
	trapSubsReady = 1;
    }
    int isNew = 0;
    Tcl_HashEntry *entry = Tcl_CreateHashEntry(&trapSubs, (const char *) aTHX, &isNew);
    if (isNew) {
	CV *cv = newXS(NULL, XS_Vantle_TrapBody, __FILE__);
	Tcl_SetHashValue(entry, cv);
    }
    return (CV *) Tcl_GetHashValue(entry);
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_RunTrapped --
 *	Runs proc(context) under G_EVAL in a scope of its own.  Answers 1
 *	when proc returned, 0 when Perl died on the way (the error is then
 *	in $@).  Temporaries made by proc are freed before this returns.
 *----------------------------------------------------------------------
 */
int
VantlePriv_RunTrapped(pTHX_ VantlePriv_TrappedProc proc, void *context)
{
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
    return frame.ran && !SvTRUE(ERRSV);
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
