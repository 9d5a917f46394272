/*
 * BqVantleInterp.h --
 *
 *	The object through which Objective-C code uses a Perl interpreter:
 *	evaluating Perl text and files, compiling code into subs, calling
 *	subs, reading and setting Perl variables, publishing objects as Perl
 *	variables.  There is one object per Perl interpreter, and
 *	$Vantle::interp is a handle of it.  init makes an interpreter of the
 *	object's own, with the module loaded from this library, and the
 *	object destroys it when it is deallocated; the module's boot makes
 *	the object of an interpreter that a host or perl made itself.
 *
 *	Interpreter token: the running interpreter's own pointer (my_perl),
 *	so every interpreter of a threaded perl has an object of its own.
 *	Every method makes its object's interpreter the current one before
 *	touching Perl, and leaves it current, unless the message came from
 *	Perl code of another interpreter, which is current again afterwards.
 *
 *	Nesting: a call into Perl that would nest too deep for the thread's
 *	C stack (Perl calling Objective-C calling Perl ...) is not made; it
 *	fails like a Perl error with the text "BqVantleInterp: calls between
 *	Perl and Objective-C nesting too deep".
 *
 *	Results: a value wrapper (BqVantleVar.h) that the caller owns and
 *	gives up with free (or release); a wrapper of a value made for the
 *	result is its only owner.  Perl text runs in package main.
 *
 *	Errors: every call into Perl is made with G_EVAL.  An error code
 *	(null allowed) is set to 0, or to 1 when Perl's $@ was true after the
 *	call; the result is then a wrapper of a copy of $@ (nil without an
 *	error code).  The mortal forms, which have no error code, raise an
 *	NSException named "Perl Error" instead, after the Perl call frame is
 *	closed.  The Perl stacks are balanced after every call, failed or
 *	not.
 *
 *	C strings are NUL-terminated, in Perl's byte encoding.  The do_
 *	forms take over their C string arguments and free them (free(3))
 *	after the operation.
 */
#ifndef BQ_VANTLE_INTERP_H
#define BQ_VANTLE_INTERP_H

#include "BqInterp.h"
#include "BqVantleVar.h"

@protocol BqVantleInterpProtocol
- (id) do_evalFile2: (const char *)fileName;
- (id) do_evalFile: (const char *)fileName errorCode: (out int *)errorCode;
- (id) do_mortalEvalFile: (const char *)fileName;
- (id) do_compile: (const char *)text errorCode: (out int *)errorCode;
- (id) do_eval2: (const char *)text;
- (id) do_eval: (const char *)text errorCode: (out int *)errorCode;
- (id) do_mortalEval: (const char *)text;
- (id) do_eval: (const char *)text errorCode: (out int *)errorCode
   listContext: (BOOL)listContext interactor: (id)interactor;
- (id) do_eval: (const char *)text errorCode: (out int *)errorCode
   listContext: (BOOL)listContext;
- (id) do_getVar: (const char *)name;
- (void) do_setSVar: (const char *)name toValue: (const char *)value;
- (void) do_setVar: (const char *)name to: (BqVantleVar *)value;
- (id) do_registerObject: (id)object asVariableName: (const char *)name;
- (id) evalFile2: (const char *)fileName;
- (id) evalFile: (const char *)fileName errorCode: (out int *)errorCode;
- (id) mortalEvalFile: (const char *)fileName;
- (id) call: (BqVantleVar *)sub args: (BqVantleVar *)args errorCode: (out int *)errorCode
   listContext: (BOOL)listContext;
- (id) compile: (const char *)text errorCode: (out int *)errorCode;
- (id) eval2: (const char *)text;
- (id) eval: (const char *)text errorCode: (out int *)errorCode;
- (id) mortalEval: (const char *)text;
- (id) eval: (const char *)text errorCode: (out int *)errorCode
   listContext: (BOOL)listContext interactor: (id)interactor;
- (id) eval: (const char *)text errorCode: (out int *)errorCode listContext: (BOOL)listContext;
- (id) getVar: (const char *)name;
- (void) setSVar: (const char *)name toValue: (const char *)value;
- (void) setVar: (const char *)name to: (BqVantleVar *)value;
- (id) registerObject: (id)object asVariableName: (const char *)name;
+ (void) unregisterObject: (id)object;
+ (id) lookupObject: (id)object;
+ (id) registerObject: (id)object;
@end

@interface BqVantleInterp : BqInterp
{
    void *_perlInterpreter;	/* the interpreter token; null until initialised */
    id _interactor;		/* attached for one evaluation; not retained */
    void *_reserved;		/* what the object keeps about an interpreter
				 * of its own; null for one it was given */
    void *_calls;		/* the subs it calls (BqVantleInterpCallsPriv.h);
				 * null until the first call */
    void *_wrappers;		/* wrappers kept for reuse
				 * (BqVantleWrapperPoolPriv.h); null until
				 * the first is kept */
}

/*
 * Class-wide state.
 */
/* The default interpreter object, made when there is none: for the
 * current interpreter, or with an interpreter of its own when no
 * interpreter is current. */
+ (id) getDefaultInterp;
+ (id) defaultInterp;
/* Replaces the default; answers the previous one.  Not retained. */
+ (id) setDefaultInterp: (id)interp;
/* An instance of BqPerlInteractor when that class is loaded, else nil. */
+ (id) getDefaultInteractor;
+ (id) defaultInteractor;
+ (id) setDefaultInteractor: (id)interactor;
/* Every initialised interpreter object (a List), nil before the first. */
+ (id) interpList;
+ (id) findObjectForPerlInterpreter: (void *)token;
+ (void) _xsInit;

/*
 * Life cycle.  initForPerlInterpreter: answers the one object of the
 * token: an existing object replaces (and frees) the receiver.  The
 * interpreter holds its object until Perl destroys it; the object then
 * leaves the list and the default.  A null
 * token (so read:) fails: it is logged and raised (Foundation's
 * "OSMO_TCLERROR_EXCEPTION" when use_ns_exceptions is on, else the
 * runtime's own error).  init makes an interpreter of the object's own
 * (perl_alloc, perl_construct, perl_parse of `use Vantle`, perl_run),
 * which becomes current, and the default when there is none; it fails
 * as a null token does.
 */
- (id) initForPerlInterpreter: (void *)token;
- (id) init;
- (id) read: (void *)typedStream;
- (void *) perlInterpreter;
- (id) _interactor;
- (BOOL) initAppKit;

/* Links the Perl scalar name to the object variable at address. */
- (BOOL) linkObjectAt: (id *)address asVariableName: (const char *)name readOnly: (BOOL)readOnly;

/* Steps of the life cycle, for subclasses.  The four making steps
 * answer 0, or 1 after logging their failure; destruct and free act on an
 * interpreter of the object's own only. */
- (int) _perlAlloc;
- (int) _perlConstruct;
- (int) _perlParse;
- (int) _perlRun;
- (const char *) _perlInclude;
- (void) _perlDestruct;
- (void) _perlFree;
- (void) _addInterp;
- (void) _removeInterp;
@end

/*
 * The operations of BqVantleInterpProtocol, in one category per file.
 */
@interface BqVantleInterp (Evaluation)
- (id) mortalEval: (const char *)text;
- (id) eval: (const char *)text errorCode: (int *)errorCode;
- (id) eval: (const char *)text errorCode: (int *)errorCode listContext: (BOOL)listContext;
- (id) eval: (const char *)text errorCode: (int *)errorCode listContext: (BOOL)listContext
 interactor: (id)interactor;
- (id) eval2: (const char *)text;
- (id) mortalEvalFile: (const char *)fileName;
- (id) evalFile: (const char *)fileName errorCode: (int *)errorCode;
- (id) evalFile2: (const char *)fileName;
- (id) compile: (const char *)text errorCode: (int *)errorCode;
- (id) call: (BqVantleVar *)sub args: (BqVantleVar *)args errorCode: (int *)errorCode
 listContext: (BOOL)listContext;
@end

@interface BqVantleInterp (Variables)
- (id) getVar: (const char *)name;
- (void) setVar: (const char *)name to: (BqVantleVar *)value;
- (void) setSVar: (const char *)name toValue: (const char *)text;
- (id) registerObject: (id)object asVariableName: (const char *)name;
+ (id) registerObject: (id)object;
+ (id) lookupObject: (id)object;
+ (void) unregisterObject: (id)object;
@end

/* Each frees its C string arguments after the operation. */
@interface BqVantleInterp (Remote)
- (id) do_evalFile2: (const char *)fileName;
- (id) do_evalFile: (const char *)fileName errorCode: (int *)errorCode;
- (id) do_mortalEvalFile: (const char *)fileName;
- (id) do_compile: (const char *)text errorCode: (int *)errorCode;
- (id) do_eval2: (const char *)text;
- (id) do_eval: (const char *)text errorCode: (int *)errorCode;
- (id) do_mortalEval: (const char *)text;
- (id) do_eval: (const char *)text errorCode: (int *)errorCode
   listContext: (BOOL)listContext interactor: (id)interactor;
- (id) do_eval: (const char *)text errorCode: (int *)errorCode listContext: (BOOL)listContext;
- (id) do_getVar: (const char *)name;
- (void) do_setSVar: (const char *)name toValue: (const char *)value;
- (void) do_setVar: (const char *)name to: (BqVantleVar *)value;
- (id) do_registerObject: (id)object asVariableName: (const char *)name;
@end

/* Declares the conformance; the categories above hold the methods. */
@interface BqVantleInterp (Protocol) <BqVantleInterpProtocol>
@end

#ifdef __cplusplus
extern "C" {
#endif

/* The token of the running interpreter (the current interpreter of the
 * access layer, else Perl's own context); null when there is none. */
void *VantlePriv_GetCurrentPerlInterp(void);

/* Pushes a mark and sv, and calls Vantle::EVAL with flags; answers the
 * number of values returned.  Opens no scope, frees no temporaries. */
I32 VantlePriv_PerlEvalSV(SV *sv, I32 flags);

#ifdef __cplusplus
}
#endif

#endif
