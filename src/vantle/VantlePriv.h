/*
 * VantlePriv.h --
 *
 *	What the files of the Perl binding share among themselves: the
 *	start-up steps, the cached stash and classes, the binding's control
 *	flags, the Objective-C guard, and the XS subs that the boot sub
 *	registers.  What each interpreter keeps for itself is in
 *	PerlContext.h.
 */
#ifndef VANTLE_PRIV_H
#define VANTLE_PRIV_H

#include "Vantle.h"
#include "KxError.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Start-up steps run by the boot sub.
 */

/* Idempotent: the deallocation observer of the handle registries. */
void VantlePriv_SymtabInit(void);
/* The handle registry of one interpreter: made with its context, and
 * taken out of the process-wide list when the interpreter is destroyed
 * (after which its handles are never touched again). */
struct VantleContext;
void VantlePriv_SymtabInterpInit(pTHX_ struct VantleContext *context);
void VantlePriv_SymtabInterpEnd(pTHX_ struct VantleContext *context);
/* Forgets the object of a handle referent in the running interpreter
 * only, marking the referent as deallocated: what DESTROY does when the
 * last handle goes.  A referent that is not its object's registered one
 * (a scalar Perl code blessed itself), nil and dead ones change nothing.
 * Vantle_UnregisterObject forgets an object in every interpreter. */
void VantlePriv_ForgetReferent(pTHX_ SV *referent);
/* Readies the calling thread for Objective-C work the first time it
 * enters the binding: registered with GNUstep, with a bottom autorelease
 * pool of its own. */
void VantlePriv_EnterThread(void);
/* Makes sure the running interpreter has its interpreter object (made
 * the default when it is the first); runs under the caller's guard. */
void VantlePriv_EnsureInterpObject(pTHX);
/* Fills the Foundation class caches (once the runtime is up). */
void VantlePriv_ConvertInit(void);
/* Ties %Vantle::CONTROL in the current interpreter and fills the control
 * table's pointers to the runtime's control block. */
void VantlePriv_ControlInterpInit(void);

/*
 * Object handles.
 */

/* The stash of Vantle::Object, created on first use and then cached. */
HV  *VantlePriv_ObjectStash(pTHX);
/* The referent of sv when sv is a handle (a reference to a referent
 * blessed into Vantle::Object), else null.  No magic is run. */
SV  *VantlePriv_HandleReferent(pTHX_ SV *sv);
/* Vantle_SVIsNil and Vantle_SVIsObject for a value whose get-magic has
 * already run. */
int  VantlePriv_SVIsNilNM(pTHX_ SV *sv);
int  VantlePriv_SVIsObjectNM(pTHX_ SV *sv);

/*
 * Conversion.
 */

/* Foundation classes (null when not loaded) and the shared BqNil. */
extern Class VantlePriv_NSStringClass;
extern Class VantlePriv_NSMutableStringClass;
extern Class VantlePriv_NSArrayClass;
extern Class VantlePriv_NSMutableArrayClass;
extern Class VantlePriv_NSDictionaryClass;
extern Class VantlePriv_NSMutableDictionaryClass;
extern Class VantlePriv_NSNumberClass;
extern id    VantlePriv_NilObject;

/* True when object is an instance of cls or of a subclass.  Asks the
 * runtime, never the object, so it works for any root class and never
 * raises.  As in the runtime, a class object counts as an instance of its
 * root class only. */
int  VantlePriv_IsKindOfClass(id object, Class cls);

/* Prepares a conversion run by Perl-called code, inside the caller's
 * ENTER/LEAVE: initialises errors and arranges for LEAVE (or a Perl error
 * unwinding through the scope) to free it.  A Perl error raised by tied
 * data or a converter hook then leaves no leak; the depth counters are
 * restored by the nested conversions that raise them.  Take the message
 * out of errors before LEAVE. */
void VantlePriv_EnterConversion(pTHX_ Tcl_DString *errors);

/*
 * Controls of the binding: one byte each, nonzero is on.
 */
extern unsigned char VantlePriv_PerlAutoConvert;
extern unsigned char VantlePriv_PerlSelectorMap;
extern unsigned char VantlePriv_VantleVerbose;
extern unsigned char VantlePriv_PerlifyFoundation;
extern unsigned char VantlePriv_HashPerlify;

/*
 * Objective-C exceptions on their way to Perl.
 */

/* Appends the text of a caught error: "[NSException NAME]: REASON" for
 * a Foundation exception, the message for the runtime's own errors. */
void VantlePriv_AppendCaughtError(Tcl_DString *errors, KxErrorInfo *caught);
/* A new mortal "SUBNAME: TEXT" for a caught error, ready for croak_sv. */
SV  *VantlePriv_CaughtErrorMessage(pTHX_ const char *subName, KxErrorInfo *caught);

/*
 * Perl code reached from the runtime side.  A Perl error must never
 * unwind through Objective-C frames: such code runs trapped, and the
 * error becomes an NSException once the Perl frame is closed.
 */
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

/*
 * XS subs registered by the boot sub, by file.
 */
void VantlePriv_BootConvert(pTHX);	/* Vantle::obj, Vantle::pl, Vantle::data */
void VantlePriv_BootPool(pTHX);		/* Vantle::autorelease_pool and its pools */
void VantlePriv_BootControl(pTHX);	/* Vantle::Control::* */
void VantlePriv_BootTestSupport(pTHX);	/* Vantle::TestSupport::* */
void VantlePriv_BootTestSupportClasses(pTHX); /* ...::test_classes */
void VantlePriv_BootPointer(pTHX);	/* Vantle::Ptr::* */
void VantlePriv_BootClass(pTHX);	/* Vantle::class, Vantle::class_lookup,
					 * isa, can, DOES, VERSION */
void VantlePriv_BootIVar(pTHX);		/* Vantle::ivar*, Vantle::IVar::* */
void VantlePriv_BootObjectTie(pTHX);	/* Vantle::Object tie methods */

/* The method context of a message to super: always null, as no Perl
 * code runs as a method of a runtime class. */
struct objc_super *VantlePriv_GetSuper(void);
void VantlePriv_BootLinkVar(pTHX);	/* Vantle::LinkVar::FETCH, STORE */

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

#endif /* VANTLE_PRIV_H */
