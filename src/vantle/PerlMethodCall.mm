/*
 * PerlMethodCall.mm --
 *
 *	A message to a method defined in Perl: the closure hands the call
 *	here; the arguments are converted by the method's types into Perl
 *	values, the sub runs with the receiver's handle first, and its
 *	answer is converted back to the method's result type.
 *
 *	Everything that touches Perl runs inside one trapped call (an eval
 *	frame, PerlTrap.h), so no Perl error ever unwinds through the
 *	Objective-C frames of the method's caller.  What went wrong becomes
 *	an exception raised only after that frame is closed:
 *	- a Perl die: an NSException named "Perl Error" whose reason names
 *	  the method and gives the Perl message;
 *	- a die that is the unchanged message of a send that failed on an
 *	  exception (the method did not catch it): that very exception;
 *	- a result that its type cannot hold: "Perl Error" naming the class,
 *	  the method and the type.
 */
#import <Foundation/Foundation.h>

#include "PerlDefinedClass.h"
#include "PerlContext.h"
#include "PerlCTypes.h"

#include <string.h>

/* The largest result kept on the C stack: wider results that are not
 * aggregates (which libffi gives storage for) do not exist. */
#define RESULT_BUFFER 32

/* "-[Class selector]" or "+[Class selector]" for a method. */
static NSString *
MethodName(VantleMethod *method)
{
    BqMethodClosure *closure = method->closure;
    return [NSString stringWithFormat: @"%c[%s %s]", closure->classMethod ? '+' : '-',
	class_getName(closure->definingClass), sel_getName(closure->selector)];
}

static NSException *
PerlError(NSString *reason)
{
    return [NSException exceptionWithName: @"Perl Error" reason: reason userInfo: nil];
}

/* Whether an argument of the plan is an object or holds one. */
static int
TakesObjects(const BqCallPlan *plan)
{
    for (int i = 2; i < plan->numberOfArguments; i++) {
	const char *type = plan->argTypes[i];
	const char *end = BqTypeSpec_SkipTypeSpec(type);
	if (end != NULL && memchr(type, '@', (size_t) (end - type)) != NULL) {
	    return 1;
	}
    }
    return 0;
}

/*
 * ResolveConversions --
 *	Resolves the conversions of a method's arguments and result in the
 *	binding's table, when its generation moved since they were.
 */
static void
ResolveConversions(VantleMethod *method)
{
    CTypeTable *table = VantlePriv_CTypeTable;
    if (method->arguments != NULL && method->generation == table->generation) {
	return;
    }
    BqCallPlan *plan = method->closure->plan;
    if (method->arguments == NULL) {
	method->arguments = (BqOsmoCTypeConversion *) calloc((size_t) plan->numberOfArguments,
		sizeof(BqOsmoCTypeConversion));
	if (method->arguments == NULL) {
	    return;
	}
	method->takesObjects = TakesObjects(plan);
    }
    for (int i = 2; i < plan->numberOfArguments; i++) {
	BqOsmo_ResolveCType(table, plan->argTypes[i], &method->arguments[i]);
    }
    BqOsmo_ResolveCType(table, plan->returnType, &method->result);
    method->generation = table->generation;
}

/* What one call needs inside and after its trapped run. */
typedef struct MethodCall {
    VantleMethod *method;
    CV *code;
    void **arguments;
    void *value;		/* the converted result's C storage */
    int inDealloc;
    int failed;			/* a conversion failed: errors says why */
    Tcl_DString *errors;
    char *copiedString;		/* a C string result's own copy, or null */
    int direct;			/* run without a trap around it */
    int died;			/* a direct run ended in a Perl error ($@) */
} MethodCall;

/*
 * SelfValue --
 *	The receiver's handle for the sub's first argument: the read-only
 *	handle the instance (or the class) keeps while it lives, itself; a
 *	new mortal handle for receivers that keep none here.
 */
static SV *
SelfValue(pTHX_ VantleMethod *method, id receiver)
{
    VantleDefinedClass *record = method->definedClass;
    SV *kept = NULL;
    if (record->owner == aTHX) {
	if (method->closure->classMethod) {
	    /* A subclass's class method call reaches here too. */
	    kept = receiver == (id) record->cls ? record->classHandle : NULL;
	} else {
	    VantleInstanceState *state = VantlePriv_InstanceState(aTHX_ receiver, record, 1);
	    kept = state != NULL ? state->self : NULL;
	}
    }
    if (kept != NULL) {
	return kept;
    }
    SV *self = sv_newmortal();
    Vantle_SVSetObject(self, receiver, NULL);
    return self;
}

/*
 * ConvertAnswer --
 *	Converts the sub's answer to the method's result type into the
 *	call's value.  A C string result points into the answer, which the
 *	frame frees: it is copied, and handed to the caller autoreleased once
 *	the frame is closed (RunPerlMethod).
 */
static void
ConvertAnswer(pTHX_ MethodCall *call, SV *answer)
{
    VantleMethod *method = call->method;
    if (BqOsmo_ConvertResolved(1, NULL, call->errors, &method->result, answer, call->value, 0,
	    BQ_QUAL_RESULT) != 0) {
	call->failed = 2;
	return;
    }
    if (method->closure->plan->returnCode == '*' && *(char **) call->value != NULL) {
	call->copiedString = strdup(*(char **) call->value);
	*(char **) call->value = call->copiedString;
	if (call->copiedString == NULL) {
	    Tcl_DStringAppend(call->errors, "out of memory", -1);
	    call->failed = 2;
	}
    }
}

/*
 * ArgumentsMayRunPerl --
 *	Whether converting the method's arguments may run Perl code: only a
 *	converter hook can, and only objects (or aggregates holding them)
 *	go through it.
 */
static inline int
ArgumentsMayRunPerl(VantleMethod *method)
{
    return Vantle_SVForObjectHook != NULL && method->takesObjects;
}

/*
 * CallMethodSub --
 *	Converts the arguments, pushes them after self, calls the sub with
 *	the method frame set, and converts its answer, inside the caller's
 *	scope.  Run directly (call->direct), the sub is called under G_EVAL
 *	and a die sets call->died; an answer that runs Perl code when read
 *	(tied, overloaded) is converted in a trapped run of its own.  Run
 *	trapped, a Perl error leaves by longjmp to the trap.  Either way the
 *	outer method frame is back when this returns or the error unwinds.
 */
static void
CallMethodSub(pTHX_ MethodCall *call)
{
    VantleMethod *method = call->method;
    BqMethodClosure *closure = method->closure;
    BqCallPlan *plan = closure->plan;
    int argc = plan->numberOfArguments;
    id receiver = *(id *) call->arguments[0];

    SV *stackValues[16];
    SV **values = argc <= 16 ? stackValues
	: (SV **) SvPVX(sv_2mortal(newSV(sizeof(SV *) * (size_t) argc)));
    values[0] = SelfValue(aTHX_ method, receiver);
    for (int i = 2; i < argc; i++) {
	/* An integer scalar at once: most arguments are numbers or
	 * handles (references), which then need no upgrade. */
	SV *value = newSV_type_mortal(SVt_IV);
	if (BqOsmo_ConvertResolved(0, NULL, call->errors, &method->arguments[i], value,
		call->arguments[i], 0, 0) != 0) {
	    call->failed = 1;
	    return;
	}
	values[i - 1] = value;
    }

    VantleContext *context = VantlePriv_Context(aTHX);
    VantleMethodFrame frame;
    frame.super.self = receiver;
    frame.super.super_class = method->superStart;
    frame.inDealloc = call->inDealloc;
    /* Restored below: call_sv returns under G_EVAL whatever the sub
     * does.  Run trapped, a die may leave through this function, so the
     * save stack restores it then. */
    VantleMethodFrame *outerFrame = context->methodFrame;
    if (!call->direct) {
	SAVEVPTR(context->methodFrame);
    }
    context->methodFrame = &frame;

    dSP;
    PUSHMARK(SP);
    EXTEND(SP, argc - 1);
    for (int i = 0; i < argc - 1; i++) {
	PUSHs(values[i]);
    }
    PUTBACK;
    int wantsResult = call->value != NULL;
    I32 flags = (wantsResult ? G_SCALAR : G_VOID | G_DISCARD) | (call->direct ? G_EVAL : 0);
    int count = call_sv((SV *) call->code, flags);
    context->methodFrame = outerFrame;
    SV *answer = &PL_sv_undef;
    if (wantsResult) {
	SPAGAIN;
	if (count > 0) {
	    answer = POPs;
	}
	PUTBACK;
    }
    if (call->direct) {
	/* An error object is not asked for its truth: that could run code. */
	SV *error = ERRSV;
	if (SvROK(error) || SvTRUE_nomg(error)) {
	    call->died = 1;
	    return;
	}
    }
    if (!wantsResult) {
	return;
    }
    /* Reading the answer itself may run Perl code (tied, overloaded);
     * the converters trap what they read inside it themselves. */
    if (call->direct && VantlePriv_NeedsTrap(answer)) {
	call->died = !VantlePriv_Trapped(aTHX_ [&] { ConvertAnswer(aTHX_ call, answer); });
	return;
    }
    ConvertAnswer(aTHX_ call, answer);
}

/*
 * FailedSendException --
 *	When $@ is the message of the last send that failed on an exception
 *	(the method let it through, perhaps with Perl's " at FILE line N."),
 *	that exception, taken from the context; else nil.
 */
static id
FailedSendException(pTHX_ VantleContext *context, SV *error)
{
    id exception = context->sendException;
    SV *text = context->sendErrorText;
    if (exception == nil || text == NULL || SvROK(error) || !SvPOK(error)) {
	return nil;
    }
    STRLEN length = SvCUR(text);
    if (SvCUR(error) < length || memcmp(SvPVX(error), SvPVX(text), length) != 0) {
	return nil;
    }
    context->sendException = nil;
    return [exception autorelease];
}

/*
 * ErrorText --
 *	The text of a Perl error.  An error object is asked for its string
 *	in a trapped run of its own (its overloaded "" may die); when that
 *	fails too, the text only says an object was thrown.
 */
static NSString *
ErrorText(pTHX_ SV *error)
{
    Tcl_DString text;
    Tcl_DStringInit(&text);
    int utf8 = 0;
    int ok = 1;
    if (!SvROK(error)) {
	STRLEN length = 0;
	const char *bytes = SvPV_nomg(error, length);
	Tcl_DStringAppend(&text, bytes, (int) length);
	utf8 = SvUTF8(error) != 0;
    } else {
	SV *thrown = newSVsv(error);	/* the trapped run resets $@ */
	ok = VantlePriv_Trapped(aTHX_ [&] {
	    STRLEN length = 0;
	    const char *bytes = SvPV(thrown, length);
	    Tcl_DStringAppend(&text, bytes, (int) length);
	    utf8 = DO_UTF8(thrown) != 0;
	});
	SvREFCNT_dec(thrown);
    }
    NSString *message = ok
	? [[[NSString alloc] initWithBytes: Tcl_DStringValue(&text)
		length: (NSUInteger) Tcl_DStringLength(&text)
		encoding: utf8 ? NSUTF8StringEncoding : NSISOLatin1StringEncoding] autorelease]
	: @"a Perl error object was thrown";
    Tcl_DStringFree(&text);
    return message;
}

/* The exception for a Perl error in $@ after a method's trapped run. */
static id
ExceptionForPerlError(pTHX_ VantleMethod *method)
{
    SV *error = ERRSV;
    id original = FailedSendException(aTHX_ VantlePriv_Context(aTHX), error);
    if (original != nil) {
	return original;
    }
    NSString *message = ErrorText(aTHX_ error);
    return PerlError([NSString stringWithFormat: @"%@: %@", MethodName(method), message]);
}

/* The exception for a conversion that failed (call->failed). */
static id
ExceptionForConversion(VantleMethod *method, MethodCall *call)
{
    BqCallPlan *plan = method->closure->plan;
    const char *type = plan->returnType;
    int typeLength = (int) (BqTypeSpec_SkipTypeSpec(type) - type);
    NSString *what = call->failed == 2
	? [NSString stringWithFormat: @"cannot return the Perl result as %.*s", typeLength, type]
	: @"cannot pass an argument to Perl";
    return PerlError([NSString stringWithFormat: @"%@: %@: %s", MethodName(method), what,
	    Tcl_DStringValue(call->errors)]);
}

/*
 * MethodCode --
 *	The sub to run in the running interpreter: the defining one's own,
 *	or, in another (a thread's clone), the copy its %Vantle::Class::CODE
 *	holds.
 */
static CV *
MethodCode(pTHX_ VantleMethod *method)
{
    if (method->definedClass->owner == aTHX) {
	return method->code;
    }
    HV *codes = method->codeKey != NULL ? get_hv(VANTLE_METHOD_CODE, 0) : NULL;
    SV **slot = codes != NULL ? hv_fetch(codes, method->codeKey, (I32) strlen(method->codeKey), 0)
	: NULL;
    return slot != NULL && SvROK(*slot) && SvTYPE(SvRV(*slot)) == SVt_PVCV ? (CV *) SvRV(*slot)
	: NULL;
}

/*
 * RunCall --
 *	Runs the call in a scope of its own: directly when converting its
 *	arguments runs no Perl code, so the method's sub is the only Perl
 *	call made; else all of it trapped.  Answers 1, or 0 when Perl died
 *	($@ says why).
 */
static int
RunCall(pTHX_ MethodCall *call)
{
    if (ArgumentsMayRunPerl(call->method)) {
	return VantlePriv_Trapped(aTHX_ [&] { CallMethodSub(aTHX_ call); });
    }
    if (!VantlePriv_EnterPerl()) {
	sv_setpvs(ERRSV, VANTLE_NESTING_TOO_DEEP "\n");
	return 0;
    }
    call->direct = 1;
    ENTER;
    SAVETMPS;
    CallMethodSub(aTHX_ call);
    FREETMPS;
    LEAVE;
    VantlePriv_LeavePerl();
    return !call->died;
}

id
VantlePriv_RunPerlMethod(VantleMethod *method, void *result, void **arguments, int inDealloc)
{
    PerlInterpreter *perl = _bqcperl_interp;
    if (!VantlePriv_MethodsMayRun(perl)) {
	return PerlError([NSString stringWithFormat: @"%@: no Perl interpreter runs on this "
		"thread", MethodName(method)]);
    }
    dTHXa(perl);
    CV *code = MethodCode(aTHX_ method);
    if (code == NULL) {
	return PerlError([NSString stringWithFormat: @"%@: no Perl sub in this interpreter",
		MethodName(method)]);
    }
    ResolveConversions(method);
    if (method->arguments == NULL) {
	return PerlError([NSString stringWithFormat: @"%@: out of memory", MethodName(method)]);
    }

    BqCallPlan *plan = method->closure->plan;
    int aggregate = BqCallPlan_IsAggregateType(plan->returnType);
    uint64_t buffer[RESULT_BUFFER / sizeof(uint64_t)] = { 0 };
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    MethodCall call = { method, code, arguments, NULL, inDealloc, 0, &errors, NULL, 0, 0 };
    if (result != NULL && plan->returnCode != 'v') {
	call.value = aggregate ? result : (void *) buffer;
    }
    int ran = RunCall(aTHX_ &call);
    id exception = nil;
    if (!ran) {
	exception = ExceptionForPerlError(aTHX_ method);
    } else if (call.failed) {
	exception = ExceptionForConversion(method, &call);
    } else if (call.value != NULL && !aggregate) {
	if (call.copiedString != NULL) {
	    [NSData dataWithBytesNoCopy: call.copiedString
		    length: strlen(call.copiedString) + 1 freeWhenDone: YES];
	    call.copiedString = NULL;
	}
	BqMethodClosure_StoreResult(method->closure, buffer, result);
    }
    if (call.copiedString != NULL) {
	free(call.copiedString);
    }
    if (Tcl_DStringValue(&errors) != errors.staticSpace) {	/* it grew */
	Tcl_DStringFree(&errors);
    }
    return exception;
}

void
VantlePriv_PerlMethodHandler(BqMethodClosure *closure, void *result, void **arguments)
{
    id exception = VantlePriv_RunPerlMethod((VantleMethod *) closure->clientData, result,
	    arguments, 0);
    if (exception != nil) {
	@throw exception;
    }
}
