/*
 * BqPerlObjectInvoke.mm --
 *
 *	Calling the Perl methods of a BqPerlObject: finding them, and
 *	calling one with the object (or its package) as invocant and the
 *	converted arguments, in scalar or list context.
 *
 *	The call runs in a Perl call frame of its own (ENTER, SAVETMPS, the
 *	pushes, call_sv under G_EVAL, FREETMPS, LEAVE).  The argument
 *	scalars are temporaries of that frame, so they are freed once the
 *	call returns.  When no converter hook is installed, the method's sub
 *	is the only Perl code the frame runs directly; a conversion that may
 *	run Perl code (tie magic, overloading) runs trapped on its own.
 *	With a converter hook the whole frame runs trapped.  Either way a
 *	Perl error never unwinds through the caller: what went wrong is
 *	collected, and the "Perl Error" exception is raised once the frame
 *	is closed, with the Perl stacks as they were before the call.
 */
#import <Foundation/Foundation.h>

#include "BqPerlObjectPriv.h"

#include <stdio.h>
#include <string.h>

/* Values kept in C arrays on the C stack; more go into a temporary. */
#define SMALL_COUNT 16

/* How a call ended. */
enum {
    CALL_OK,
    CALL_DIED,			/* Perl died: the text is in $@ */
    CALL_BAD_ARGUMENT,		/* an argument did not convert */
    CALL_BAD_RESULT,		/* a value answered did not convert */
    CALL_TOO_MANY		/* several values in scalar context */
};

/* What one call needs inside its frame, and what it found. */
typedef struct MethodCall {
    const char *name;
    CV *code;
    SV *object;			/* the blessed reference */
    HV *stash;
    id *arguments;
    NSUInteger argumentCount;
    BOOL classMethod;
    BOOL listContext;
    BOOL rawSet;
    BOOL rawGet;
    BOOL trace;
    BOOL traced;		/* the line after the call was begun */
    int direct;			/* conversions trap by themselves */
    int outcome;
    I32 count;			/* values answered */
    NSUInteger failedIndex;	/* the argument that did not convert */
    id result;
    Tcl_DString *errors;
} MethodCall;

/*
 * DefinedMethod --
 *	The sub of a plain method name (no package part) found in stash or
 *	its parents through Perl's method cache, when it has a body; null
 *	otherwise (missing, or a stub that AUTOLOAD may stand in for).
 *	Makes no temporary.
 */
static CV *
DefinedMethod(pTHX_ HV *stash, const char *name, size_t length)
{
    if (memchr(name, ':', length) != NULL || memchr(name, '\'', length) != NULL) {
	return NULL;
    }
    GV *gv = gv_fetchmeth_pvn(stash, name, (STRLEN) length, 0, 0);
    CV *code = gv != NULL && isGV(gv) ? GvCV(gv) : NULL;
    return code != NULL && (CvROOT(code) != NULL || CvXSUB(code) != NULL) ? code : NULL;
}

/*
 * FindMethod --
 *	The sub of a method of the package of the hash value refers to
 *	(inheritance and AUTOLOAD included), or null.  With runMagic, the
 *	value's get-magic runs first (trapped: a Perl error raises "Perl
 *	Error").  A method defined with a body is found through the method
 *	cache; anything else (a package part in the name, a stub, a missing
 *	method, AUTOLOAD) takes Perl's full lookup, in a scope of its own:
 *	looking for a missing method makes a temporary, which must not pile
 *	up in the caller's.
 */
static CV *
FindMethod(pTHX_ SV *value, const char *name, int runMagic)
{
    if (value == NULL || name == NULL) {
	return NULL;
    }
    if (runMagic && SvGMAGICAL(value)) {
	VantlePriv_OnValue(aTHX_ value, "isInstanceMethod:", [&] { mg_get(value); });
    }
    HV *stash = DravikPriv_ObjectStash(value);
    if (stash == NULL) {
	return NULL;
    }
    CV *code = DefinedMethod(aTHX_ stash, name, strlen(name));
    if (code != NULL) {
	return code;
    }
    ENTER;
    SAVETMPS;
    GV *gv = gv_fetchmethod_autoload(stash, name, TRUE);
    FREETMPS;
    LEAVE;
    return gv != NULL && isGV(gv) ? GvCV(gv) : NULL;
}

/*
 * MissingMethodText --
 *	Why a method cannot be called: the object is no hash reference, is
 *	not blessed, or its package has no such method.
 */
static NSString *
MissingMethodText(SV *object, const char *name, BOOL classMethod)
{
    if (DravikPriv_ReferencedHash(object) == NULL) {
	return @"Bad perl object (not a hash ref)";
    }
    HV *stash = DravikPriv_ObjectStash(object);
    if (stash == NULL) {
	return @"Perl object is not blessed";
    }
    return [NSString stringWithFormat: @"No %s\"%s\" in package %s",
	classMethod ? "class method " : "instance method ", name, HvNAME(stash)];
}

/* The invocant: a new temporary holding the package name, or the object. */
static SV *
Invocant(pTHX_ MethodCall *call)
{
    if (!call->classMethod) {
	return call->object;
    }
    HV *stash = call->stash;
    return newSVpvn_flags(HvNAME(stash), HvNAMELEN(stash),
	SVs_TEMP | (HvNAMEUTF8(stash) ? SVf_UTF8 : 0));
}

/* Begins the trace line of what a call gave. */
static void
TraceAfterCall(MethodCall *call)
{
    if (call->trace && !call->traced) {
	call->traced = YES;
	printf("%s %s%s ", HvNAME(call->stash), call->classMethod ? "+" : "-", call->name);
    }
}

/*
 * SetArgument --
 *	Sets a new temporary from an argument.  Answers 0 and notes why
 *	when the conversion failed or Perl died in it.
 */
static int
SetArgument(pTHX_ MethodCall *call, SV *value, NSUInteger index)
{
    id argument = call->arguments[index];
    char failed = 0;
    int ran = 1;
    if (call->direct) {
	ran = DravikPriv_ValueForObject(aTHX_ value, argument, call->rawSet, call->errors, &failed);
    } else {
	failed = call->rawSet ? !Dravik_SVForObject_Raw(value, argument, call->errors)
	    : !Vantle_SVForObject(value, argument, call->errors);
    }
    if (!ran) {
	call->outcome = CALL_DIED;
    } else if (failed) {
	call->outcome = CALL_BAD_ARGUMENT;
	call->failedIndex = index;
    }
    return ran && !failed;
}

/*
 * ResultObject --
 *	The object of a value answered (nil allowed).  Notes why and answers
 *	nil when the conversion failed or Perl died in it.
 */
static id
ResultObject(pTHX_ MethodCall *call, SV *value)
{
    id object = nil;
    char failed = 0;
    int ran = 1;
    if (call->direct) {
	ran = DravikPriv_ObjectForValue(aTHX_ value, call->rawGet, call->errors, &failed, &object);
    } else {
	object = call->rawGet ? Dravik_ObjectForSV_Raw(value, call->errors, &failed)
	    : Vantle_ObjectForSV(value, call->errors, &failed);
    }
    if (!ran) {
	call->outcome = CALL_DIED;
    } else if (failed) {
	call->outcome = CALL_BAD_RESULT;
    }
    return call->outcome == CALL_OK ? object : nil;
}

/* A buffer for count pointers: on the C stack when small, else in a new
 * temporary of the frame. */
static void **
PointerBuffer(pTHX_ void **small, I32 count)
{
    if (count <= SMALL_COUNT) {
	return small;
    }
    return (void **) SvPVX(sv_2mortal(newSV(sizeof(void *) * (size_t) count)));
}

/*
 * ConvertResults --
 *	The call's result from the values answered, in order: nil for none;
 *	in scalar context the one value; in list context an array, the
 *	shared nil standing for each nil.  Values are converted from the
 *	last, as they are popped.
 */
static void
ConvertResults(pTHX_ MethodCall *call, SV **values)
{
    I32 count = call->count;
    if (count == 0) {
	if (call->trace) {
	    printf("returning nil\n");
	}
	return;
    }
    if (!call->listContext) {
	if (count > 1) {
	    if (call->trace) {
		printf("ERROR\n");
	    }
	    call->outcome = CALL_TOO_MANY;
	    return;
	}
	call->result = ResultObject(aTHX_ call, values[0]);
	if (call->trace && call->outcome == CALL_OK) {
	    printf("returning: %s\n", DravikPriv_TraceText(call->result));
	}
	return;
    }
    void *small[SMALL_COUNT];
    id *objects = (id *) PointerBuffer(aTHX_ small, count);
    if (call->trace && count > 1) {
	printf("returning %d values:\n", (int) count);
    }
    for (I32 i = count - 1; i >= 0; i--) {
	id object = ResultObject(aTHX_ call, values[i]);
	if (call->outcome != CALL_OK) {
	    return;
	}
	objects[i] = object != nil ? object : DravikPriv_NilPlaceholder();
	if (call->trace) {
	    if (count > 1) {
		printf("\t%d: %s\n", (int) (count - 1 - i), DravikPriv_TraceText(objects[i]));
	    } else {
		printf("returning 1 value: %s\n", DravikPriv_TraceText(objects[i]));
	    }
	}
    }
    call->result = [NSMutableArray arrayWithObjects: objects count: (NSUInteger) count];
}

/*
 *----------------------------------------------------------------------
 * CallBody --
 *	Inside the caller's frame: converts the arguments into temporaries,
 *	pushes the invocant and them, calls the sub, takes the values
 *	answered off the stack and converts them.  The stack is back where
 *	it was when this returns.  Run directly, the sub is called under
 *	G_EVAL (which clears $@ when it returns); run trapped, a die leaves
 *	through the trap, and $@ is not looked at after a return, since the
 *	sub may have left it set by an eval of its own.
 *----------------------------------------------------------------------
 */
static void
CallBody(pTHX_ MethodCall *call)
{
    NSUInteger argc = call->argumentCount;
    void *smallValues[SMALL_COUNT];
    SV **values = (SV **) PointerBuffer(aTHX_ smallValues, (I32) argc);
    for (NSUInteger i = 0; i < argc; i++) {
	if (call->trace) {
	    printf("\targ %d: %s\n", (int) i, DravikPriv_TraceText(call->arguments[i]));
	}
	values[i] = newSV_type_mortal(SVt_IV);
	if (!SetArgument(aTHX_ call, values[i], i)) {
	    return;
	}
    }
    SV *invocant = Invocant(aTHX_ call);

    dSP;
    PUSHMARK(SP);
    EXTEND(SP, (SSize_t) argc + 1);
    PUSHs(invocant);
    for (NSUInteger i = 0; i < argc; i++) {
	PUSHs(values[i]);
    }
    PUTBACK;
    I32 count = call_sv((SV *) call->code,
	(call->listContext ? G_LIST : G_SCALAR) | (call->direct ? G_EVAL : 0));
    SPAGAIN;
    TraceAfterCall(call);
    /* An error object is not asked for its truth: that could run code. */
    SV *error = ERRSV;
    if (call->direct && (SvROK(error) || SvTRUE_nomg(error))) {
	SP -= count;
	PUTBACK;
	call->outcome = CALL_DIED;
	return;
    }
    void *smallAnswers[SMALL_COUNT];
    SV **answers = (SV **) PointerBuffer(aTHX_ smallAnswers, count);
    for (I32 i = count - 1; i >= 0; i--) {
	answers[i] = POPs;
    }
    PUTBACK;
    call->count = count;
    ConvertResults(aTHX_ call, answers);
}

/*
 *----------------------------------------------------------------------
 * RunCall --
 *	Runs the call in a frame of its own: directly when no converter
 *	hook is installed (conversions that may run Perl code trap by
 *	themselves), else all of it trapped.  A call that would nest too
 *	deep for the thread's C stack is not made.
 *----------------------------------------------------------------------
 */
static void
RunCall(pTHX_ MethodCall *call)
{
    if (Vantle_SVForObjectHook != NULL || Vantle_ObjectForSVHook != NULL) {
	if (!VantlePriv_Trapped(aTHX_ [&] { CallBody(aTHX_ call); }) && call->outcome == CALL_OK) {
	    call->outcome = CALL_DIED;
	}
	return;
    }
    if (!VantlePriv_EnterPerl()) {
	sv_setpvs(ERRSV, VANTLE_NESTING_TOO_DEEP "\n");
	call->outcome = CALL_DIED;
	return;
    }
    call->direct = 1;
    ENTER;
    SAVETMPS;
    CallBody(aTHX_ call);
    FREETMPS;
    LEAVE;
    VantlePriv_LeavePerl();
}

/*
 * FailureText --
 *	The reason of the exception of a call that did not end well; taken
 *	once its frame is closed.
 */
static NSString *
FailureText(pTHX_ MethodCall *call)
{
    switch (call->outcome) {
    case CALL_DIED:
	return DravikPriv_ErrorText(aTHX_ ERRSV);
    case CALL_TOO_MANY:
	return [NSString stringWithFormat: @"perl method %s returned %d values in scalar context",
	    call->name, (int) call->count];
    case CALL_BAD_ARGUMENT:
	return [NSString stringWithFormat: @"perl method %s: cannot pass argument %d: %s",
	    call->name, (int) call->failedIndex, Tcl_DStringValue(call->errors)];
    default:
	return [NSString stringWithFormat: @"perl method %s: cannot convert what it returned: %s",
	    call->name, Tcl_DStringValue(call->errors)];
    }
}

@implementation BqPerlObject (Methods)

/*
 *----------------------------------------------------------------------
 * CallFound --
 *	Calls the sub of a method found already, with the arguments of a C
 *	array, and answers its result; raises "Perl Error" once the call
 *	frame is closed when the call did not end well.  (Inside the
 *	implementation: it reads the object's flags.)
 *----------------------------------------------------------------------
 */
static id
CallFound(BqPerlObject *self, pTHX_ const char *name, CV *code, id *objects, NSUInteger argc,
	BOOL classMethod, BOOL listContext)
{
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    MethodCall call = { name, code, self->sv, DravikPriv_ObjectStash(self->sv), objects, argc,
	classMethod, listContext, self->rawSet, self->rawGet, self->traceInvoke, NO, 0, CALL_OK,
	0, 0, nil, &errors };
    RunCall(aTHX_ &call);
    if (call.outcome == CALL_OK) {
	Tcl_DStringFree(&errors);
	return call.result;
    }
    NSString *reason = FailureText(aTHX_ &call);
    Tcl_DStringFree(&errors);
    if (call.trace && call.outcome != CALL_TOO_MANY) {
	TraceAfterCall(&call);
	printf("ERROR: %s\n", [reason UTF8String]);
    }
    DravikPriv_RaisePerlError(reason);
}

- (BOOL) isInstanceMethod: (const char *)name
{
    return [self _instanceMethod: name] != NULL ? YES : NO;
}

- (BOOL) isClassMethod: (const char *)name
{
    DRAVIK_dOBJECT("isClassMethod:");
    return FindMethod(aTHX_ sv, name, 0) != NULL ? YES : NO;
}

- (CV *) _instanceMethod: (const char *)name
{
    DRAVIK_dOBJECT("isInstanceMethod:");
    return FindMethod(aTHX_ sv, name, 1);
}

- (id) _callMethod: (const char *)name code: (CV *)code arguments: (id *)arguments
	count: (NSUInteger)count
{
    DRAVIK_dOBJECT("invokeMethod:withArgs:classMethod:listContext:");
    if (traceInvoke) {
	printf("%s Entering -%s\n", [self stashName], name);
    }
    return CallFound(self, aTHX_ name, code, arguments, count, NO, NO);
}

/*
 * _traceMissing:arguments:count:classMethod:reason: --
 *	The trace lines of a call that cannot be made, after its entry: its
 *	arguments and the reason.
 */
- (void) _traceMissing: (const char *)name arguments: (id *)arguments
	count: (NSUInteger)count classMethod: (BOOL)classMethod reason: (NSString *)reason
{
    for (NSUInteger i = 0; i < count; i++) {
	printf("\targ %d: %s\n", (int) i, DravikPriv_TraceText(arguments[i]));
    }
    printf("%s %s%s ERROR: %s\n", [self stashName], classMethod ? "+" : "-", name,
	[reason UTF8String]);
}

/*
 *----------------------------------------------------------------------
 * invokeMethod:withArgs:classMethod:listContext: --
 *	Calls a method (see BqPerlObject.h).  A missing method sets $@ to
 *	the reason and raises it; a Perl error in the method, a value that
 *	does not convert and several values in scalar context raise "Perl
 *	Error" once the call frame is closed.  Arguments other than an
 *	array raise NSInvalidArgumentException.
 *----------------------------------------------------------------------
 */
- (id) invokeMethod: (const char *)name withArgs: (NSArray *)arguments
	classMethod: (BOOL)classMethod listContext: (BOOL)listContext
{
    if (arguments != nil && !VantlePriv_IsKindOfClass(arguments, VantlePriv_NSArrayClass)) {
	[NSException raise: NSInvalidArgumentException
		    format: @"invokeMethod:withArgs:classMethod:listContext:: the arguments are "
	    "no array"];
    }
    if (name == NULL) {
	[NSException raise: NSInvalidArgumentException
		    format: @"invokeMethod:withArgs:classMethod:listContext:: no method name"];
    }
    DRAVIK_dOBJECT("invokeMethod:withArgs:classMethod:listContext:");
    NSUInteger argc = [arguments count];
    id smallArguments[SMALL_COUNT];
    id *objects = argc <= SMALL_COUNT ? smallArguments
	: (id *) [[NSMutableData dataWithLength: sizeof(id) * argc] mutableBytes];
    [arguments getObjects: objects range: NSMakeRange(0, argc)];

    CV *code = FindMethod(aTHX_ sv, name, !classMethod);
    if (traceInvoke) {
	printf("%s Entering %s%s\n", [self stashName], classMethod ? "+" : "-", name);
    }
    if (code == NULL) {
	NSString *reason = MissingMethodText(sv, name, classMethod);
	sv_setpv(ERRSV, [reason UTF8String]);
	if (traceInvoke) {
	    [self _traceMissing: name arguments: objects count: argc classMethod: classMethod
			 reason: reason];
	}
	DravikPriv_RaisePerlError(reason);
    }
    return CallFound(self, aTHX_ name, code, objects, argc, classMethod, listContext);
}

@end
