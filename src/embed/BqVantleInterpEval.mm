/*
 * BqVantleInterpEval.mm --
 *
 *	Evaluation by the interpreter object: Perl text (through the Perl sub
 *	Vantle::EVAL), Perl files (through Vantle::SOURCE), compilation into
 *	an anonymous sub, and calls of subs with arguments.
 *
 *	Every call runs with G_EVAL in a scope of its own, and leaves the
 *	Perl stacks as it found them whether it succeeded or not.  The result
 *	shapes:
 *	- failure: error code 1 and a wrapper of a copy of $@ (nil without an
 *	  error code); the mortal forms raise "Perl Error" instead;
 *	- success: nil for no value, a wrapper of a copy of one value, a
 *	  BqVantleAV of copies of several, in order;
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
 * NewResult --
 *	The wrapper of the count values on top of the stack: nil for none,
 *	a copy of one, an array of copies of several.  Copies are made
 *	without magic, so no Perl code runs here.
 */
static id
NewResult(pTHX_ SV **top, I32 count)
{
    if (count == 0) {
	return nil;
    }
    if (count == 1) {
	return [BqVantleVar _varOwningSV: newSVsv_nomg(*top)];
    }
    AV *values = newAV();
    av_extend(values, count - 1);
    for (I32 i = 0; i < count; i++) {
	av_push(values, newSVsv_nomg(top[i - count + 1]));
    }
    return [BqVantleVar _varOwningSV: (SV *) values];
}

/*
 *----------------------------------------------------------------------
 * FinishCall --
 *	Steps after a call made with G_EVAL inside ENTER/SAVETMPS: reads
 *	$@, makes the result (the error's copy when wanted), pops the count
 *	returned values and closes the scope.  *failed tells whether $@ was
 *	true.
 *----------------------------------------------------------------------
 */
static id
FinishCall(pTHX_ I32 count, BOOL keepError, int *failed)
{
    dSP;
    id result = nil;
    *failed = ErrorIsSet(aTHX);
    if (*failed) {
	if (keepError) {
	    result = [BqVantleVar _varOwningSV: newSVsv_nomg(ERRSV)];
	}
    } else {
	result = NewResult(aTHX_ SP, count);
    }
    SP -= count;
    PUTBACK;
    FREETMPS;
    LEAVE;
    return result;
}

/*
 * Reshape --
 *	The wrap shape of a result: [error] after a failure, [undef,
 *	values...] after success.  Consumes result.
 */
static id
Reshape(id result, int failed)
{
    if ([result isAV] && !failed) {
	[result unshift: 1];
	return result;
    }
    BqVantleAV *shaped = [[BqVantleAV alloc] init];
    if (result != nil) {
	[shaped push: result];
	[result free];
    }
    if (!failed) {
	[shaped unshift: 1];
    }
    return shaped;
}

/*
 *----------------------------------------------------------------------
 * Conclude --
 *	Reports a finished call as the evaluation asks: sets the error code,
 *	raises for the mortal forms (the Perl frame is closed by now), and
 *	reshapes for the wrap forms.
 *----------------------------------------------------------------------
 */
static id
Conclude(pTHX_ const Evaluation *how, id result, int failed)
{
    if (failed) {
	if (how->mode == FAILURE_RAISED) {
	    [result free];
	    VantlePriv_RaisePerlError(aTHX_ how->doing);
	}
	if (how->errorCode != NULL) {
	    *how->errorCode = 1;
	}
    }
    return how->wrap ? Reshape(result, failed) : result;
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
Refuse(pTHX_ const Evaluation *how, const char *message)
{
    sv_setpvf(ERRSV, "BqVantleInterp: %s\n", message);
    id result = KeepsError(how) ? [BqVantleVar _varOwningSV: newSVsv_nomg(ERRSV)] : nil;
    return Conclude(aTHX_ how, result, 1);
}

/*
 *----------------------------------------------------------------------
 * Evaluate --
 *	The evaluation core: calls the Perl sub subName with a copy of text
 *	as its one argument, under G_EVAL, in the evaluation's context, and
 *	concludes.
 *----------------------------------------------------------------------
 */
static id
Evaluate(BqVantleInterp *interp, const char *subName, const char *text, const Evaluation *how)
{
    if (how->errorCode != NULL) {
	*how->errorCode = 0;
    }
    VANTLE_dCURRENT((PerlInterpreter *) [interp perlInterpreter], how->doing);
    if (text == NULL) {
	return Refuse(aTHX_ how, "no Perl text given");
    }
    [interp _freeTopTemporaries];
    if (!VantlePriv_EnterPerl()) {
	return Refuse(aTHX_ how, VANTLE_NESTING_TOO_DEEP);
    }
    dSP;
    ENTER;
    SAVETMPS;
    PUSHMARK(SP);
    XPUSHs(sv_2mortal(newSVpv(text, 0)));
    PUTBACK;
    I32 count = call_pv(subName, (how->list ? G_LIST : G_SCALAR) | G_EVAL);
    VantlePriv_LeavePerl();
    int failed = 0;
    id result = FinishCall(aTHX_ count, KeepsError(how), &failed);
    return Conclude(aTHX_ how, result, failed);
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
    return Evaluate(self, "Vantle::EVAL", text, &how);
}

- (id) eval: (const char *)text errorCode: (int *)errorCode
{
    Evaluation how = { FAILURE_RETURNED, YES, NO, errorCode, "eval:errorCode:" };
    return Evaluate(self, "Vantle::EVAL", text, &how);
}

- (id) eval: (const char *)text errorCode: (int *)errorCode listContext: (BOOL)listContext
{
    Evaluation how = { FAILURE_RETURNED, listContext, NO, errorCode,
		       "eval:errorCode:listContext:" };
    return Evaluate(self, "Vantle::EVAL", text, &how);
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
    return Evaluate(self, "Vantle::EVAL", text, &how);
}

- (id) mortalEvalFile: (const char *)fileName
{
    Evaluation how = { FAILURE_RAISED, YES, NO, NULL, "mortalEvalFile:" };
    return Evaluate(self, "Vantle::SOURCE", fileName, &how);
}

- (id) evalFile: (const char *)fileName errorCode: (int *)errorCode
{
    Evaluation how = { FAILURE_RETURNED, YES, NO, errorCode, "evalFile:errorCode:" };
    return Evaluate(self, "Vantle::SOURCE", fileName, &how);
}

- (id) evalFile2: (const char *)fileName
{
    Evaluation how = { FAILURE_RETURNED, YES, YES, NULL, "evalFile2:" };
    return Evaluate(self, "Vantle::SOURCE", fileName, &how);
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
 * SubOf --
 *	The Perl value to call for sub: the value of a wrapper (a code
 *	reference, a code value or a sub's name), or a new mortal holding
 *	the name an NSString gives (from Perl, a string argument arrives as
 *	one).  Null for anything else, with *refusal saying why.
 */
static SV *
SubOf(pTHX_ id sub, const char **refusal)
{
    if (sub == nil) {
	*refusal = "no sub given";
	return NULL;
    }
    if (VantlePriv_IsKindOfClass(sub, [BqVantleVar class])) {
	if ([(BqVantleVar *) sub _perl] != aTHX) {
	    *refusal = "the sub belongs to another Perl interpreter";
	    return NULL;
	}
	return [(BqVantleVar *) sub sValue];
    }
    if (VantlePriv_IsKindOfClass(sub, VantlePriv_NSStringClass)) {
	const char *name = [(NSString *) sub UTF8String];
	return sv_2mortal(newSVpvn_flags(name, strlen(name), SVf_UTF8));
    }
    *refusal = "a sub is given as a wrapper or as a name, not as an object of another kind";
    return NULL;
}

/* The plain array of an argument wrapper; null with *refusal when args
 * is anything else (nil is no arguments, and no refusal). */
static AV *
ArgumentsOf(pTHX_ id args, const char **refusal)
{
    if (args == nil) {
	return NULL;
    }
    if (!VantlePriv_IsKindOfClass(args, [BqVantleVar class]) || ![args isAV]
	    || SvRMAGICAL([(BqVantleVar *) args sValue])) {
	*refusal = "the arguments are no plain array";
	return NULL;
    }
    if ([(BqVantleVar *) args _perl] != aTHX) {
	*refusal = "the arguments belong to another Perl interpreter";
	return NULL;
    }
    return (AV *) [(BqVantleVar *) args sValue];
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
    [self _freeTopTemporaries];

    dSP;
    ENTER;
    SAVETMPS;
    const char *refusal = NULL;
    SV *code = SubOf(aTHX_ sub, &refusal);
    AV *arguments = code != NULL ? ArgumentsOf(aTHX_ args, &refusal) : NULL;
    if (refusal == NULL && !VantlePriv_EnterPerl()) {
	refusal = VANTLE_NESTING_TOO_DEEP;
    }
    if (refusal != NULL) {
	FREETMPS;
	LEAVE;
	return Refuse(aTHX_ &how, refusal);
    }
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
    id result = FinishCall(aTHX_ count, KeepsError(&how), &failed);
    return Conclude(aTHX_ &how, result, failed);
}

@end
