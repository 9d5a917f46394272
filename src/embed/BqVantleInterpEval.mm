/*
 * BqVantleInterpEval.mm --
 *
 *	Evaluation by the interpreter object: Perl text (by the eval of the
 *	Perl sub Vantle::Eval::text), Perl files (through Vantle::SOURCE),
 *	compilation into an anonymous sub, and calls of subs with
 *	arguments.  Those subs, and subs called by name, are found through
 *	the object's table of the subs it calls (BqVantleInterpCallsPriv.h)
 *	rather than by a lookup per call.
 *
 *	Every call runs with G_EVAL in a scope of its own, and leaves the
 *	Perl stacks as it found them whether it succeeded or not.  The result
 *	shapes:
 *	- failure: error code 1 and a wrapper of a copy of $@ (nil without an
 *	  error code); the mortal forms raise "Perl Error" instead;
 *	- success: nil for no value, a wrapper of a copy of one value, a
 *	  BqVantleAV of copies of several, in order (a returned temporary
 *	  that nothing else holds is taken over rather than copied);
 *	- the wrap forms (eval2:, evalFile2:) always answer an array: [undef,
 *	  values...] on success, [error text] on failure.
 *
 *	Each call counts as one more call into Perl nested on the thread; one
 *	that would nest too deep for the thread's C stack calls nothing and
 *	fails like a Perl error whose text says so.
 */
#import <Foundation/Foundation.h>

#include "BqVantleInterpPriv.h"
#include "VantlePriv.h"

#include <string.h>

/* How a failure is reported. */
typedef enum FailureMode {
    FAILURE_RETURNED,		/* error code and error wrapper */
    FAILURE_RAISED		/* "Perl Error" once the frame is closed */
} FailureMode;

typedef struct Evaluation {
    FailureMode mode;
    BOOL list;			/* call in list context */
    BOOL wrap;			/* answer the wrap shape */
    int *errorCode;		/* may be null */
    const char *doing;		/* names the operation in raised errors */
} Evaluation;

/*
 * ErrorIsSet --
 *	Perl's truth of $@, without running any overloading of an error
 *	object (a reference is true).
 */
static int
ErrorIsSet(pTHX)
{
    SV *error = ERRSV;
    return SvROK(error) || SvTRUE_nomg(error);
}

/*
 * TakeValue --
 *	A value of the caller's own that equals value: value itself when
 *	it is a plain temporary that only the temporaries stack holds (the
 *	usual return value, which FREETMPS would free next; not a weak
 *	reference, which a copy makes strong), else a copy made without
 *	magic, so no Perl code runs here.  A value taken once
 *	is held twice, so a second place on the stack gets a copy.
 */
static SV *
TakeValue(pTHX_ SV *value)
{
    const U32 kept = SVs_GMG | SVs_SMG | SVs_RMG | SVf_READONLY | SVf_PROTECT | SVs_OBJECT;
    if (SvTEMP(value) && SvREFCNT(value) == 1 && SvTYPE(value) <= SVt_PVMG
	    && (SvFLAGS(value) & kept) == 0 && !(SvROK(value) && SvWEAKREF(value))) {
	return SvREFCNT_inc_simple_NN(value);
    }
    return newSVsv_nomg(value);
}

/*
 * TakeResult --
 *	The count values on top of the stack as a value the caller owns:
 *	null for none, a scalar for one, an array for several (see
 *	TakeValue).
 */
static SV *
TakeResult(pTHX_ SV **top, I32 count)
{
    if (count == 0) {
	return NULL;
    }
    if (count == 1) {
	return TakeValue(aTHX_ *top);
    }
    AV *values = newAV();
    av_extend(values, count - 1);
    for (I32 i = 0; i < count; i++) {
	av_push(values, TakeValue(aTHX_ top[i - count + 1]));
    }
    return (SV *) values;
}

/*
 * OpenTemporaries, CloseTemporaries --
 *	The temporaries of one call: Open raises their floor to the top of
 *	the temporaries stack, as SAVETMPS does, and answers the floor it
 *	replaced; Close frees those made since and restores that floor.
 *	Unlike SAVETMPS in a scope of its own, nothing goes on the save
 *	stack: nothing between the two leaves the C frame, as every call
 *	into Perl made there is trapped.
 */
static SSize_t
OpenTemporaries(pTHX)
{
    SSize_t floor = PL_tmps_floor;
    PL_tmps_floor = PL_tmps_ix;
    return floor;
}

static void
CloseTemporaries(pTHX_ SSize_t floor)
{
    FREETMPS;
    PL_tmps_floor = floor;
}

/*
 *----------------------------------------------------------------------
 * FinishCall --
 *	Steps after a call made with G_EVAL between OpenTemporaries, which
 *	answered floor, and CloseTemporaries: reads $@, takes the result
 *	(the values, or a copy of $@ when keepError after a failure), pops
 *	the count returned values and closes the temporaries.  *failed
 *	tells whether $@ was true.  The caller owns the result (null for
 *	none).
 *----------------------------------------------------------------------
 */
static SV *
FinishCall(pTHX_ I32 count, BOOL keepError, SSize_t floor, int *failed)
{
    dSP;
    SV *result = NULL;
    *failed = ErrorIsSet(aTHX);
    if (*failed) {
	if (keepError) {
	    result = newSVsv_nomg(ERRSV);
	}
    } else {
	result = TakeResult(aTHX_ SP, count);
    }
    SP -= count;
    PUTBACK;
    CloseTemporaries(aTHX_ floor);
    return result;
}

/*
 * Shape --
 *	The wrap shape of a result of count values (consumed): [error] after
 *	a failure, [undef, values...] after success, the undef being a hole
 *	as av_unshift leaves it.  A single value that never had one (a copy
 *	of undef) is left out, as it has no wrapper.
 */
static SV *
Shape(pTHX_ SV *result, I32 count, int failed)
{
    if (!failed && count > 1) {
	av_unshift((AV *) result, 1);
	return result;
    }
    AV *shaped = newAV();
    if (result != NULL && SvTYPE(result) != SVt_NULL) {
	av_push(shaped, result);
    } else {
	SvREFCNT_dec(result);
    }
    if (!failed) {
	av_unshift(shaped, 1);
    }
    return (SV *) shaped;
}

/*
 *----------------------------------------------------------------------
 * Conclude --
 *	Reports a finished call of interp as the evaluation asks: sets the
 *	error code, raises for the mortal forms (the Perl frame is closed
 *	by now), shapes for the wrap forms, and answers the wrapper of the
 *	result (consumed; nil for none).  This is the one Objective-C
 *	object a call makes.
 *----------------------------------------------------------------------
 */
static id
Conclude(BqVantleInterp *interp, pTHX_ const Evaluation *how, SV *result, I32 count,
	int failed)
{
    if (failed) {
	if (how->mode == FAILURE_RAISED) {
	    SvREFCNT_dec(result);
	    VantlePriv_RaisePerlError(aTHX_ how->doing);
	}
	if (how->errorCode != NULL) {
	    *how->errorCode = 1;
	}
    }
    if (how->wrap) {
	result = Shape(aTHX_ result, count, failed);
    }
    return VantlePriv_WrapResult(interp, aTHX_ result);
}

/* Whether the error's copy is part of the result. */
static BOOL
KeepsError(const Evaluation *how)
{
    return how->errorCode != NULL || how->wrap;
}

/*
 *----------------------------------------------------------------------
 * Refuse --
 *	Reports bad input as a Perl failure would be reported: $@ is set to
 *	"BqVantleInterp: <message>\n" and the evaluation concludes as
 *	failed.  Nothing is called.
 *----------------------------------------------------------------------
 */
static id
Refuse(BqVantleInterp *interp, pTHX_ const Evaluation *how, const char *message)
{
    sv_setpvf(ERRSV, "BqVantleInterp: %s\n", message);
    SV *result = KeepsError(how) ? newSVsv_nomg(ERRSV) : NULL;
    return Conclude(interp, aTHX_ how, result, 0, 1);
}

/* How the interpreter object evaluates. */
typedef enum Evaluator {
    EVALUATE_TEXT,		/* Perl text */
    EVALUATE_FILE		/* a Perl file, through Vantle::SOURCE */
} Evaluator;

/*
 *----------------------------------------------------------------------
 * EvaluatorCall --
 *	Calls the Perl sub that evaluates the one argument pushed as the
 *	evaluator says, with flags (the context and G_EVAL); answers the
 *	count of values.  Text goes straight to Vantle::Eval::text, whose
 *	eval traps every error of the text and leaves it in $@: the call
 *	keeps $@ as that eval left it (G_KEEPERR) instead of clearing it.
 *	Should that sub not be defined, Vantle::EVAL evaluates, throwing the
 *	error on.  Files go to Vantle::SOURCE.  The subs are found through
 *	the object's table.
 *----------------------------------------------------------------------
 */
static I32
EvaluatorCall(pTHX_ BqVantleInterp *interp, Evaluator evaluator, I32 flags)
{
    VantleInterpCalls *calls = VantlePriv_InterpCalls(interp);
    if (evaluator == EVALUATE_FILE) {
	CV *source = VantlePriv_CallsFixed(aTHX_ calls, calls != NULL ? &calls->source : NULL,
		"Vantle::SOURCE");
	return source != NULL ? call_sv((SV *) source, flags) : call_pv("Vantle::SOURCE", flags);
    }
    CV *text = VantlePriv_CallsFixed(aTHX_ calls, calls != NULL ? &calls->text : NULL,
	    "Vantle::Eval::text");
    if (text != NULL && CvROOT(text) != NULL) {
	return call_sv((SV *) text, flags | G_KEEPERR);
    }
    return call_pv("Vantle::EVAL", flags);
}

/*
 *----------------------------------------------------------------------
 * Evaluate --
 *	The evaluation core: calls the evaluator's Perl sub with a copy of
 *	text as its one argument, under G_EVAL, in the evaluation's context,
 *	and concludes.
 *----------------------------------------------------------------------
 */
static id
Evaluate(BqVantleInterp *interp, PerlInterpreter *perl, Evaluator evaluator, const char *text,
	const Evaluation *how)
{
    if (how->errorCode != NULL) {
	*how->errorCode = 0;
    }
    VANTLE_dCURRENT(perl, how->doing);
    if (text == NULL) {
	return Refuse(interp, aTHX_ how, "no Perl text given");
    }
    VantlePriv_FreeTopTemporaries(interp);
    if (!VantlePriv_EnterPerl()) {
	return Refuse(interp, aTHX_ how, VANTLE_NESTING_TOO_DEEP);
    }
    dSP;
    SSize_t floor = OpenTemporaries(aTHX);
    PUSHMARK(SP);
    XPUSHs(sv_2mortal(newSVpv(text, 0)));
    PUTBACK;
    I32 count = EvaluatorCall(aTHX_ interp, evaluator, (how->list ? G_LIST : G_SCALAR) | G_EVAL);
    VantlePriv_LeavePerl();
    int failed = 0;
    SV *result = FinishCall(aTHX_ count, KeepsError(how), floor, &failed);
    return Conclude(interp, aTHX_ how, result, count, failed);
}

/*
 * WarnTrapped --
 *	Issues a Perl warning through CORE::warn under G_EVAL, so a dying
 *	__WARN__ handler cannot unwind the caller; $@ is kept as it was.
 */
static void
WarnTrapped(pTHX_ const char *format, const char *first, const char *second)
{
    if (!VantlePriv_EnterPerl()) {
	return;
    }
    dSP;
    ENTER;
    SAVETMPS;
    SV *savedError = sv_2mortal(newSVsv_nomg(ERRSV));
    PUSHMARK(SP);
    XPUSHs(sv_2mortal(newSVpvf(format, first, second)));
    PUTBACK;
    call_pv("CORE::warn", G_DISCARD | G_EVAL);
    VantlePriv_LeavePerl();
    sv_setsv_nomg(ERRSV, savedError);
    FREETMPS;
    LEAVE;
}

@implementation BqVantleInterp (Evaluation)

- (id) mortalEval: (const char *)text
{
    Evaluation how = { FAILURE_RAISED, YES, NO, NULL, "mortalEval:" };
    return Evaluate(self, (PerlInterpreter *) _perlInterpreter, EVALUATE_TEXT, text, &how);
}

- (id) eval: (const char *)text errorCode: (int *)errorCode
{
    Evaluation how = { FAILURE_RETURNED, YES, NO, errorCode, "eval:errorCode:" };
    return Evaluate(self, (PerlInterpreter *) _perlInterpreter, EVALUATE_TEXT, text, &how);
}

- (id) eval: (const char *)text errorCode: (int *)errorCode listContext: (BOOL)listContext
{
    Evaluation how = { FAILURE_RETURNED, listContext, NO, errorCode,
		       "eval:errorCode:listContext:" };
    return Evaluate(self, (PerlInterpreter *) _perlInterpreter, EVALUATE_TEXT, text, &how);
}

- (id) eval: (const char *)text errorCode: (int *)errorCode listContext: (BOOL)listContext
 interactor: (id)interactor
{
    id saved = _interactor;
    _interactor = interactor;
    id result = [self eval: text errorCode: errorCode listContext: listContext];
    _interactor = saved;
    return result;
}

- (id) eval2: (const char *)text
{
    Evaluation how = { FAILURE_RETURNED, YES, YES, NULL, "eval2:" };
    return Evaluate(self, (PerlInterpreter *) _perlInterpreter, EVALUATE_TEXT, text, &how);
}

- (id) mortalEvalFile: (const char *)fileName
{
    Evaluation how = { FAILURE_RAISED, YES, NO, NULL, "mortalEvalFile:" };
    return Evaluate(self, (PerlInterpreter *) _perlInterpreter, EVALUATE_FILE, fileName, &how);
}

- (id) evalFile: (const char *)fileName errorCode: (int *)errorCode
{
    Evaluation how = { FAILURE_RETURNED, YES, NO, errorCode, "evalFile:errorCode:" };
    return Evaluate(self, (PerlInterpreter *) _perlInterpreter, EVALUATE_FILE, fileName, &how);
}

- (id) evalFile2: (const char *)fileName
{
    Evaluation how = { FAILURE_RETURNED, YES, YES, NULL, "evalFile2:" };
    return Evaluate(self, (PerlInterpreter *) _perlInterpreter, EVALUATE_FILE, fileName, &how);
}

/*
 *----------------------------------------------------------------------
 * compile:errorCode: --
 *	Evaluates "return sub { <text> };" and answers the wrapper of the
 *	code reference.  On failure: the error code is set to 1, or, without
 *	one, the warning "ERROR COMPILING: <error>\n<source>\n" is issued;
 *	the answer is nil.
 *----------------------------------------------------------------------
 */
- (id) compile: (const char *)text errorCode: (int *)errorCode
{
    if (errorCode != NULL) {
	*errorCode = 0;
    }
    VANTLE_dINTERP("compile:errorCode:");
    if (text == NULL) {
	return [self eval: NULL errorCode: errorCode listContext: YES];
    }
    Tcl_DString source;
    Tcl_DStringInit(&source);
    Tcl_DStringAppend(&source, "return sub { ", -1);
    Tcl_DStringAppend(&source, text, -1);
    Tcl_DStringAppend(&source, " };", -1);
    int code = 0;
    id result = [self eval: Tcl_DStringValue(&source) errorCode: &code listContext: YES];
    if (code == 1) {
	if (errorCode != NULL) {
	    *errorCode = 1;
	} else {
	    WarnTrapped(aTHX_ "ERROR COMPILING: %s\n%s\n",
		    [result descr], Tcl_DStringValue(&source));
	}
	[result free];
	result = nil;
    }
    Tcl_DStringFree(&source);
    return result;
}

/*
 * A sub as host code gives it, taken apart before anything is called:
 * the value of a wrapper (a code reference, a code value or a sub's
 * name), or the bytes of a name an NSString gives (from Perl, a string
 * argument arrives as one).
 */
typedef struct GivenSub {
    SV *value;			/* the wrapper's value; null for a name */
    const char *name;		/* the name's bytes, UTF-8 */
    STRLEN length;
    char text[VANTLE_CALLS_NAME_MAX + 1];	/* holds a name that fits */
} GivenSub;

/*
 * TakeSub --
 *	Fills given from sub; 0 for anything but a wrapper of this
 *	interpreter or an NSString, with *refusal saying why.  A name is
 *	copied into given when it fits, else taken as a C string that lives
 *	as long as the autorelease pool.
 */
static int
TakeSub(pTHX_ id sub, GivenSub *given, const char **refusal)
{
    given->value = NULL;
    given->name = NULL;
    given->length = 0;
    if (sub == nil) {
	*refusal = "no sub given";
	return 0;
    }
    if (VantlePriv_IsWrapper(sub)) {
	if (VantlePriv_VarPerl((BqVantleVar *) sub) != aTHX) {
	    *refusal = "the sub belongs to another Perl interpreter";
	    return 0;
	}
	given->value = VantlePriv_VarSV((BqVantleVar *) sub);
	return 1;
    }
    if (VantlePriv_IsKindOfClass(sub, VantlePriv_NSStringClass)) {
	NSString *name = (NSString *) sub;
	if ([name getCString: given->text maxLength: sizeof given->text
		    encoding: NSUTF8StringEncoding]) {
	    given->name = given->text;
	} else {
	    given->name = [name UTF8String];
	}
	given->length = strlen(given->name);
	return 1;
    }
    *refusal = "a sub is given as a wrapper or as a name, not as an object of another kind";
    return 0;
}

/*
 * IsPlainName --
 *	Whether calling value calls the sub its string names, with nothing
 *	that reading it may run or change: a plain string (no magic, no
 *	reference, not the immortal yes that Perl treats apart).
 */
static int
IsPlainName(pTHX_ SV *value)
{
    return SvTYPE(value) <= SVt_PVMG && SvPOK(value) && !SvGMAGICAL(value)
	&& value != &PL_sv_yes;
}

/*
 *----------------------------------------------------------------------
 * SubToCall --
 *	The Perl value to call for a sub taken by TakeSub.  A name calls the
 *	sub the interpreter object keeps for it, when there is one;
 *	otherwise the call is made by name (a new mortal holding the name
 *	of an NSString), so Perl finds, makes or refuses the sub itself.
 *----------------------------------------------------------------------
 */
static SV *
SubToCall(pTHX_ BqVantleInterp *interp, const GivenSub *given)
{
    SV *value = given->value;
    if (value != NULL && !IsPlainName(aTHX_ value)) {
	return value;
    }
    VantleInterpCalls *calls = VantlePriv_InterpCalls(interp);
    CV *kept = value != NULL
	? VantlePriv_CallsNamed(aTHX_ calls, SvPVX(value), SvCUR(value), SvUTF8(value))
	: VantlePriv_CallsNamed(aTHX_ calls, given->name, given->length, SVf_UTF8);
    if (kept != NULL) {
	return (SV *) kept;
    }
    if (value != NULL) {
	return value;
    }
    return sv_2mortal(newSVpvn_flags(given->name, given->length, SVf_UTF8));
}

/*
 * ArgumentsOf --
 *	The plain array of an argument wrapper; null with *refusal when args
 *	is anything else (nil is no arguments, and no refusal).  A wrapper
 *	of this interpreter's value is read as it is; one of another
 *	interpreter is read through the check that raises when that
 *	interpreter was destroyed.
 */
static AV *
ArgumentsOf(pTHX_ id args, const char **refusal)
{
    if (args == nil) {
	return NULL;
    }
    SV *value = NULL;
    if (VantlePriv_IsWrapper(args)) {
	value = VantlePriv_VarPerl((BqVantleVar *) args) == aTHX
	    ? VantlePriv_VarSV((BqVantleVar *) args) : VantlePriv_VarValue((BqVantleVar *) args);
    }
    if (value == NULL || SvTYPE(value) != SVt_PVAV || SvRMAGICAL(value)) {
	*refusal = "the arguments are no plain array";
	return NULL;
    }
    if (VantlePriv_VarPerl((BqVantleVar *) args) != aTHX) {
	*refusal = "the arguments belong to another Perl interpreter";
	return NULL;
    }
    return (AV *) value;
}

/*
 *----------------------------------------------------------------------
 * call:args:errorCode:listContext: --
 *	Calls the sub (a wrapper of a code reference, a code value or a
 *	sub's name, or an NSString naming it) with the elements of the
 *	argument array themselves (undef for holes; nil: no arguments),
 *	under G_EVAL.  A sub that is missing or of another kind, or
 *	arguments that are no plain array, fail like a Perl error.
 *----------------------------------------------------------------------
 */
- (id) call: (BqVantleVar *)sub args: (BqVantleVar *)args errorCode: (int *)errorCode
 listContext: (BOOL)listContext
{
    Evaluation how = { FAILURE_RETURNED, listContext, NO, errorCode,
		       "call:args:errorCode:listContext:" };
    if (errorCode != NULL) {
	*errorCode = 0;
    }
    VANTLE_dINTERP(how.doing);
    VantlePriv_FreeTopTemporaries(self);

    const char *refusal = NULL;
    GivenSub given;
    AV *arguments = TakeSub(aTHX_ sub, &given, &refusal) ? ArgumentsOf(aTHX_ args, &refusal) : NULL;
    if (refusal == NULL && !VantlePriv_EnterPerl()) {
	refusal = VANTLE_NESTING_TOO_DEEP;
    }
    if (refusal != NULL) {
	return Refuse(self, aTHX_ &how, refusal);
    }
    dSP;
    SSize_t floor = OpenTemporaries(aTHX);
    SV *code = SubToCall(aTHX_ self, &given);
    PUSHMARK(SP);
    if (arguments != NULL) {
	SSize_t count = av_len(arguments) + 1;
	EXTEND(SP, count);
	for (SSize_t i = 0; i < count; i++) {
	    SV **element = av_fetch(arguments, i, 0);
	    PUSHs(element != NULL ? *element : &PL_sv_undef);
	}
    }
    PUTBACK;
    I32 count = call_sv(code, (listContext ? G_LIST : G_SCALAR) | G_EVAL);
    VantlePriv_LeavePerl();
    int failed = 0;
    SV *result = FinishCall(aTHX_ count, KeepsError(&how), floor, &failed);
    return Conclude(self, aTHX_ &how, result, count, failed);
}

@end
