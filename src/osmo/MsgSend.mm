/*
 * MsgSend.mm --
 *
 *	The generic message send.
 *
 *	Hot path: a send of a method found before looks its (class, selector)
 *	pair up in a direct-mapped cache and checks the entry against the
 *	implementation the runtime's dispatch answers now, so a method that
 *	was replaced since is never called with a stale signature.  The
 *	signature record carries the prepared libffi call (CallPlan), the
 *	frame lives on the stack, and nothing is allocated.
 *
 *	Forwarded messages (no method; the receiver answers a signature and
 *	forwards) are kept in the process-wide forwarding cache
 *	(ForwardingCache.h): while the class still has no method for the
 *	selector (a dispatch-table question, which a method added since, to
 *	the class or a superclass, answers yes) and the runtime generation
 *	is the one they were kept in, a send reuses the signature record and
 *	what -isProxy said, once the receiver's signature says what it said
 *	before (or without asking, for a class declared to answer alike).
 *
 *	Threads: each thread has a method cache of its own (made on its first
 *	send, freed when it ends), so the hot path takes no lock and never
 *	sees an entry another thread is writing.  The signature records and
 *	plans the entries point to are shared and never freed.
 */
#import <Foundation/Foundation.h>

#include "MsgSend.h"
#include "BqOsmoControl.h"
#include "CallPlan.h"
#include "ErrorText.h"
#include "FormatArgs.h"
#include "Glisk.h"
#include "KxPlatform.h"
#include "ForwardingCache.h"
#include "MethodDesc.h"
#include "RuntimeChange.h"
#include "TypeEncoding.h"

#include <alloca.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>

static BqOsmo_MessageHook2 messageHook2;
/* The latest float and double results, per thread. */
static __thread float floatResult;
static __thread double doubleResult;

/* Signature records of runtime methods, by (class, selector). */
#define METHOD_CACHE_SIZE 4096	/* a power of two */

typedef struct MethodCacheEntry {
    Class cls;
    SEL selector;		/* compared by pointer: a selector of the
				 * same name but another pointer just misses */
    IMP implementation;
    const char *types;
    BqMethodSignature *signature;
    char isProxy;		/* what instances of cls answer to -isProxy */
    char isFormat;		/* the method takes a format and its values */
} MethodCacheEntry;

static __thread MethodCacheEntry *threadMethodCache;
static pthread_key_t methodCacheKey;
static pthread_once_t methodCacheKeyOnce = PTHREAD_ONCE_INIT;

/* Runs as the thread ends.  A send made later in its ending (by another
 * key's destructor) makes a new cache, which is freed in turn. */
static void
FreeMethodCache(void *cache)
{
    threadMethodCache = NULL;
    free(cache);
}

static void
MakeMethodCacheKey(void)
{
    pthread_key_create(&methodCacheKey, FreeMethodCache);
}

/*
 * MethodCache --
 *	This thread's cache, made on first use; null only when the memory
 *	for it cannot be had (every send then looks its method up).
 */
static MethodCacheEntry *
MethodCache(void)
{
    MethodCacheEntry *cache = threadMethodCache;
    if (__builtin_expect(cache != NULL, 1)) {
	return cache;
    }
    pthread_once(&methodCacheKeyOnce, MakeMethodCacheKey);
    cache = (MethodCacheEntry *) calloc(METHOD_CACHE_SIZE, sizeof *cache);
    if (cache != NULL && pthread_setspecific(methodCacheKey, cache) != 0) {
	free(cache);
	cache = NULL;
    }
    threadMethodCache = cache;
    return cache;
}

/* Everything one send knows about its receiver and method. */
typedef struct Send {
    int kind;
    id object;			/* the receiving object */
    Class receiverClass;	/* its class, read before the call (which
				 * may free the object) */
    KxSuper *super;		/* kind 1 */
    SEL selector;
    int isInstance;		/* object's class pointer is a class */
    int receiverChecked;	/* the caller vouches for the object */
    int isProxy;
    int isFormat;		/* the method takes a format and its values */
    int fromCache;		/* isProxy and isFormat came from the method cache */
    int fromRespondsTest;	/* the method was only known to be answered */
    int isForwarded;		/* the receiver forwards; its signature is used */
    const char *answer;		/* the text of that signature (the signature
				 * object's), or null when it has none of
				 * GNUstep's */
    unsigned generation;	/* the runtime's before the method was sought */
    BqOsmoMethodDescription made;	/* a description made by the send */
    BqOsmoMethodDescription *method;
    BqMethodSignature *signature;
    IMP implementation;		/* known early on the cached path */
} Send;

void
BqOsmo_SetMessageHook2(BqOsmo_MessageHook2 hook)
{
    messageHook2 = hook;
}

BqOsmo_MessageHook2
BqOsmo_GetMessageHook2(void)
{
    return messageHook2;
}

float *
BqOsmo_FloatResultSlot(void)
{
    return &floatResult;
}

double *
BqOsmo_DoubleResultSlot(void)
{
    return &doubleResult;
}

/* The exception that ended this thread's last send that failed on one. */
static __thread id sendException;

/* Keeps a caught exception for BqOsmo_TakeSendException (only
 * Foundation exceptions: nothing else can be raised again). */
static void
KeepSendException(id exception)
{
    static Class exceptionClass;
    if (exceptionClass == Nil) {
	exceptionClass = [NSException class];
    }
    Class walk = exception != nil ? object_getClass(exception) : Nil;
    while (walk != Nil && walk != exceptionClass) {
	walk = class_getSuperclass(walk);
    }
    if (walk == Nil) {
	return;
    }
    id previous = sendException;
    sendException = [exception retain];
    [previous release];
}

id
BqOsmo_TakeSendException(void)
{
    id exception = sendException;
    sendException = nil;
    return exception;
}

/* ---------------------------------------------------------------------
 * Messages
 * ------------------------------------------------------------------ */

static const char *
ClassNameOf(Class cls)
{
    return cls != Nil ? class_getName(cls) : "Nil";
}

static const char *
SelectorName(SEL selector)
{
    const char *name = selector != NULL ? sel_getName(selector) : NULL;
    return name != NULL ? name : "(null)";
}

/*
 *----------------------------------------------------------------------
 * AppendCallDescription --
 *	"-[<Foo:0x1234> bar:])", "+[Base::<Foo:0x1234> bar:])" or
 *	"function 0x1234)": how a failure names the call it happened in.
 *	Only what the send learned before the call is used: the call may
 *	have freed the receiver.
 *----------------------------------------------------------------------
 */
static void
AppendCallDescription(Tcl_DString *errors, Send *send)
{
    if (send->kind == BQ_SEND_FUNCTION) {
	IMP imp = send->method != NULL ? send->method->implementation : NULL;
	BqTcl_DStringPrintf(errors, "function 0x%lx)", (unsigned long) (uintptr_t) imp);
	return;
    }
    const char *sign = send->isInstance ? "-" : "+";
    const char *className = ClassNameOf(send->receiverClass);
    if (send->kind == BQ_SEND_SUPER) {
	BqTcl_DStringPrintf(errors, "%s[%s::<%s:0x%lx> %s])", sign,
		ClassNameOf(send->super->super_class), className,
		(unsigned long) (uintptr_t) send->object, SelectorName(send->selector));
    } else {
	BqTcl_DStringPrintf(errors, "%s[<%s:0x%lx> %s])", sign, className,
		(unsigned long) (uintptr_t) send->object, SelectorName(send->selector));
    }
}

void
BqOsmo_AppendArgumentCount(Tcl_DString *errors, const char *name, int takes, int given,
	int atLeast)
{
    BqTcl_DStringPrintf(errors, "%s takes %s%d argument%s, %d given", name,
	    atLeast ? "at least " : "", takes, takes == 1 ? "" : "s", given);
}

/*
 * A send whose argument count (argc, receiver and selector included)
 * does not fit the signature's (takes): counted as the caller sees them,
 * without the receiver and the selector of a message.
 */
static void
AppendCountFailure(Tcl_DString *errors, Send *send, int takes, int argc, int atLeast)
{
    if (send->kind == BQ_SEND_FUNCTION) {
	IMP imp = send->method != NULL ? send->method->implementation : NULL;
	char name[40];
	snprintf(name, sizeof name, "function 0x%lx", (unsigned long) (uintptr_t) imp);
	BqOsmo_AppendArgumentCount(errors, name, takes, argc, atLeast);
	return;
    }
    BqOsmo_AppendArgumentCount(errors, SelectorName(send->selector), takes - 2, argc - 2,
	    atLeast);
}

/* ---------------------------------------------------------------------
 * Guarded questions to the receiver
 * ------------------------------------------------------------------ */

typedef struct Question {
    id receiver;
    SEL selector;
    SEL argument;
    union {
	id object;
	BOOL flag;
	struct objc_method_description *description;
    } answer;
} Question;

static void
AskForSignature(void *context)
{
    Question *q = (Question *) context;
    q->answer.object = [q->receiver methodSignatureForSelector: q->argument];
}

static void
AskRespondsTo(void *context)
{
    Question *q = (Question *) context;
    q->answer.flag = [q->receiver respondsTo: q->argument];
}

static void
AskInstancesRespondTo(void *context)
{
    Question *q = (Question *) context;
    q->answer.flag = [q->receiver instancesRespondTo: q->argument];
}

static void
AskIsProxy(void *context)
{
    Question *q = (Question *) context;
    q->answer.flag = [q->receiver isProxy];
}

static void
AskDescription(void *context)
{
    Question *q = (Question *) context;
    q->answer.description = [q->receiver descriptionForMethod: q->argument];
}

/*
 * Asks one question under the guard.  Returns 0, or 1 with the message of
 * what it threw (and the context) appended to errors.
 */
static int
Ask(KxGuardedProc proc, Question *q, Tcl_DString *errors, const char *context)
{
    KxErrorInfo error;
    if (KxGuard(proc, q, &error) == 0) {
	return 0;
    }
    BqOsmo_AppendErrorMessage(errors, &error, context);
    KxErrorInfoClear(&error);
    return 1;
}

/* ---------------------------------------------------------------------
 * Finding the method
 * ------------------------------------------------------------------ */

static inline unsigned
CacheSlot(Class cls, SEL selector)
{
    uintptr_t key = ((uintptr_t) cls >> 3) ^ ((uintptr_t) selector >> 4);
    return (unsigned) (key & (METHOD_CACHE_SIZE - 1));
}

/*
 *----------------------------------------------------------------------
 * FindCachedMethod --
 *	The hot path of an ordinary message: when the cache holds this
 *	(class, selector) and the runtime still dispatches it to the same
 *	implementation, the signature record is known.
 *----------------------------------------------------------------------
 */
static int
FindCachedMethod(Send *send)
{
    Class cls = send->receiverClass;
    MethodCacheEntry *cache = MethodCache();
    if (cache == NULL) {
	return 0;
    }
    MethodCacheEntry *entry = &cache[CacheSlot(cls, send->selector)];
    if (entry->cls != cls || entry->selector != send->selector) {
	return 0;
    }
    IMP implementation = KxMsgLookup(send->object, send->selector);
    if (implementation != entry->implementation) {
	return 0;
    }
    send->made.selector = send->selector;
    send->made.types = entry->types;
    send->made.implementation = implementation;
    send->method = &send->made;
    send->signature = entry->signature;
    send->implementation = implementation;
    send->isProxy = entry->isProxy;
    send->isFormat = entry->isFormat;
    send->fromCache = 1;
    return 1;
}

static void
RememberMethod(Send *send, Method method)
{
    Class cls = send->receiverClass;
    MethodCacheEntry *cache = MethodCache();
    if (cache == NULL) {
	return;
    }
    MethodCacheEntry *entry = &cache[CacheSlot(cls, send->selector)];
    entry->cls = cls;
    entry->selector = send->selector;
    entry->implementation = method_getImplementation(method);
    entry->types = send->made.types;
    entry->signature = send->signature;
    entry->isProxy = (char) send->isProxy;
    entry->isFormat = (char) send->isFormat;
}

static int
Fail(Tcl_DString *errors, const char *first, ...)
{
    va_list ap;
    va_start(ap, first);
    for (const char *piece = first; piece != NULL; piece = va_arg(ap, const char *)) {
	Tcl_DStringAppend(errors, piece, -1);
    }
    va_end(ap);
    return 1;
}

/* ---------------------------------------------------------------------
 * Forwarded messages
 * ------------------------------------------------------------------ */

/*
 *----------------------------------------------------------------------
 * KnownForwarding --
 *	Whether the forwarding cache holds the send's (class, selector),
 *	kept in the send's generation, and the class still has no method
 *	for the selector (class_respondsToSelector reads the dispatch table,
 *	which a method added since, to the class or a superclass, has
 *	entered); *known then holds what was kept.  A pair whose class has
 *	gained a method is forgotten.
 *----------------------------------------------------------------------
 */
static int
KnownForwarding(Send *send, BqForwardedMessage *known)
{
    Class cls = send->receiverClass;
    if (!BqForwarding_Find(cls, send->selector, send->generation, known)) {
	return 0;
    }
    if (class_respondsToSelector(cls, send->selector)) {
	BqForwarding_ForgetPair(cls, send->selector);
	return 0;
    }
    return 1;
}

/* Whether a receiver's signature object says what the kept one said. */
static int
SameAnswer(const BqForwardedMessage *known, NSMethodSignature *signature)
{
    const char *text = BqMethod_SignatureText(signature);
    return text != NULL && known->answer != NULL && strcmp(text, known->answer) == 0;
}

/* The send goes on with what the cache kept: no record is built and
 * -isProxy is not asked. */
static void
UseForwarding(Send *send, const BqForwardedMessage *known)
{
    send->made.selector = send->selector;
    send->made.types = known->signature->types;
    send->made.implementation = NULL;
    send->method = &send->made;
    send->signature = known->signature;
    send->isProxy = known->isProxy;
    send->isFormat = known->isFormat;
    send->isForwarded = 1;
    send->fromCache = 1;
}

/*
 *----------------------------------------------------------------------
 * RememberForwarding --
 *	Keeps what a forwarded send learned for the next send to its class,
 *	under the generation read before the method was sought.  A signature
 *	object without a text of GNUstep's cannot be compared with the next
 *	receiver's, so it is kept only for a class that answers alike for
 *	every instance.
 *----------------------------------------------------------------------
 */
static void
RememberForwarding(Send *send)
{
    int classWide = BqForwarding_IsClassWide(send->receiverClass);
    if (send->answer == NULL && !classWide) {
	return;
    }
    BqForwardedMessage message;
    message.signature = send->signature;
    message.answer = classWide ? NULL : KxUniqueString(send->answer);
    message.generation = send->generation;
    message.isProxy = (char) send->isProxy;
    message.isFormat = (char) send->isFormat;
    BqForwarding_Remember(send->receiverClass, send->selector, &message);
}

/*
 * A forwarded message: the record of the receiver's signature object,
 * and the object's text for the cache.
 */
static int
DescribeFromSignatureObject(Send *send, NSMethodSignature *signature, Tcl_DString *errors)
{
    BqMethodSignature *record = BqMethod_SignatureRecordForSignature(signature, errors);
    if (record == NULL) {
	return 1;
    }
    send->made.selector = send->selector;
    send->made.types = record->types;
    send->made.implementation = NULL;
    send->method = &send->made;
    send->signature = record;
    send->isForwarded = 1;
    send->answer = BqMethod_SignatureText(signature);
    return 0;
}

/* The send's description from a runtime method; answers 0 for none. */
static int
DescribeFromMethod(Send *send, Method method)
{
    if (method == NULL) {
	return 0;
    }
    send->made.selector = send->selector;
    send->made.types = method_getTypeEncoding(method);
    send->made.implementation = NULL;
    send->method = &send->made;
    return 1;
}

/*
 *----------------------------------------------------------------------
 * FindMethodForMessage --
 *	An ordinary message: the class's method, the signature the receiver
 *	gives for forwarding (reused from the forwarding cache when it says
 *	what it said before, or not asked for at all from a class that
 *	answers alike), or a plain "responds" answer.
 *----------------------------------------------------------------------
 */
static int
FindMethodForMessage(Send *send, Tcl_DString *errors)
{
    if (FindCachedMethod(send)) {
	return 0;
    }
    Class cls = send->receiverClass;
    send->generation = BqOsmo_RuntimeGeneration();
    BqForwardedMessage known;
    int isKnown = KnownForwarding(send, &known);
    if (isKnown && known.answer == NULL) {
	UseForwarding(send, &known);
	return 0;
    }
    if (!isKnown) {
	if (DescribeFromMethod(send, class_getInstanceMethod(cls, send->selector))) {
	    return 0;
	}
    }

    Question q = { send->object, @selector(methodSignatureForSelector:), send->selector, { nil } };
    if (class_respondsToSelector(cls, q.selector)) {
	if (Ask(AskForSignature, &q, errors,
		"(exception in -methodSignatureForSelector: invoked from BqOsmo_MsgSend)")) {
	    return 1;
	}
	if (q.answer.object == nil) {
	    if (send->isInstance) {
		return Fail(errors, ClassNameOf(cls), " does not respond to -",
			SelectorName(send->selector), " (no method signature)", (char *) NULL);
	    }
	    return Fail(errors, class_isMetaClass((Class) send->object) ? "metaclass " : "class ",
		    Glisk_LookupObject(send->object), " does not respond to ",
		    SelectorName(send->selector), " (no method signature)", (char *) NULL);
	}
	if (isKnown && SameAnswer(&known, (NSMethodSignature *) q.answer.object)) {
	    UseForwarding(send, &known);
	    return 0;
	}
	return DescribeFromSignatureObject(send, (NSMethodSignature *) q.answer.object, errors);
    }

    send->fromRespondsTest = 1;
    q.argument = send->selector;
    if (Ask(AskRespondsTo, &q, errors, "(exception in -respondsTo: invoked from BqOsmo_MsgSend)")) {
	return 1;
    }
    if (!q.answer.flag) {
	if (send->isInstance) {
	    return Fail(errors, "instances of ", ClassNameOf(cls), " do not respond to \"",
		    SelectorName(send->selector), "\"", (char *) NULL);
	}
	return Fail(errors, class_isMetaClass((Class) send->object) ? "meta" : "", "class ",
		ClassNameOf((Class) send->object), " does not respond to \"",
		SelectorName(send->selector), "\"", (char *) NULL);
    }
    return 0;
}

static int
FindMethodForSuper(Send *send, Tcl_DString *errors)
{
    Class start = send->super->super_class;
    if (DescribeFromMethod(send, class_getInstanceMethod(start, send->selector))) {
	return 0;
    }
    send->fromRespondsTest = 1;
    Question q = { (id) start, @selector(instancesRespondTo:), send->selector, { nil } };
    if (Ask(AskInstancesRespondTo, &q, errors,
	    "(exception in -instancesRespondTo: invoked from BqOsmo_MsgSend)")) {
	return 1;
    }
    if (!q.answer.flag) {
	return Fail(errors, "message to super: ", send->isInstance ? "instances of " : "class ",
		ClassNameOf(start), send->isInstance ? " do" : " does", " not respond to \"",
		SelectorName(send->selector), "\"", (char *) NULL);
    }
    return 0;
}

static int
DescribeFromRespondingObject(Send *send, Tcl_DString *errors)
{
    Question q = { send->object, @selector(descriptionForMethod:), send->selector, { nil } };
    if (class_respondsToSelector(send->receiverClass, q.selector)
	    && Ask(AskDescription, &q, errors,
		    "(exception in -descriptionForMethod: invoked from BqOsmo_MsgSend)")) {
	return 1;
    }
    if (q.answer.description == NULL || q.answer.description->types == NULL) {
	return Fail(errors, "method ", SelectorName(send->selector), " description is not known",
		(char *) NULL);
    }
    send->made.selector = send->selector;
    send->made.types = q.answer.description->types;
    send->made.implementation = NULL;
    send->method = &send->made;
    return 0;
}

/* ---------------------------------------------------------------------
 * Calling
 * ------------------------------------------------------------------ */

typedef struct Call {
    BqCallPlan *plan;
    IMP implementation;
    char *stacked;
    void **arguments;
    void *returnValue;
    ffi_cif *variadic;		/* a format method's call, or null */
} Call;

static void
PerformCall(void *context)
{
    Call *call = (Call *) context;
    if (call->variadic != NULL) {
	ffi_call(call->variadic, FFI_FN(call->implementation), call->returnValue,
		call->arguments);
	return;
    }
    BqCallPlan_Call(call->plan, call->implementation, call->stacked, call->arguments,
	    call->returnValue);
}

static IMP
ImplementationFor(Send *send)
{
    switch (send->kind) {
    case BQ_SEND_SUPER:
	return KxMsgLookupSuper(send->super, send->selector);
    case BQ_SEND_FUNCTION:
	return send->method->implementation;
    default:
	return send->implementation != NULL ? send->implementation
					    : KxMsgLookup(send->object, send->selector);
    }
}

/*
 * Makes the plan's resolved conversions those of table, unless they are
 * already (and still current).
 */
static void
ResolveConversions(BqCallPlan *plan, CTypeTable *table)
{
    BqOsmoCTypeConversion *result = &plan->returnConversion;
    if (result->table == table && result->generation == table->generation) {
	return;
    }
    for (int i = 0; i < plan->numberOfArguments; i++) {
	BqOsmo_ResolveCType(table, plan->argTypes[i], &plan->argConversions[i]);
    }
    BqOsmo_ResolveCType(table, plan->returnType, result);
}

/*
 * Hands the first count arguments of the frame that are passed by value
 * as aggregates to the table's release procedure, which frees what its
 * converters allocated inside them for this call.  Scalars own nothing:
 * a converter that needs storage for one keeps it itself.
 */
static void
ReleaseArguments(CTypeTable *table, BqCallPlan *plan, char *stacked, int count)
{
    if (table->releaseArgument == NULL || !plan->hasAggregateArgs) {
	return;
    }
    for (int i = 0; i < count; i++) {
	if (BqCallPlan_IsAggregateType(plan->argTypes[i])) {
	    table->releaseArgument(table, plan->argTypes[i], stacked + plan->argOffsets[i]);
	}
    }
}

/* ---------------------------------------------------------------------
 * Format methods
 *
 * A method whose last named argument is a format (FormatArgs.h) is sent
 * the values its directives read after the named arguments, as C passes
 * them to a variadic function.  The format is read before any value is
 * converted, and a format that reads more values than were given, or
 * that the reader cannot tell, fails the send: the method never reads a
 * value that was not passed.  Values beyond those the format reads are
 * not passed; the send still succeeds, with a warning in errors.  Its
 * buffers live on the stack of the send, so a format may read at most
 * FORMAT_MAX_VALUES values, however many were given.
 * ------------------------------------------------------------------ */

#define FORMAT_MAX_VALUES 1024

/* What a format send keeps on the stack of the send. */
typedef struct FormatCall {
    int room;			/* values the buffers hold */
    char *codes;		/* the type code of each value read */
    uint64_t *values;		/* the converted values, one word each */
    ffi_type **types;		/* every argument's libffi description */
    int used;			/* values the format reads */
    ffi_cif cif;
} FormatCall;

/* The format's text, read under the guard from an object. */
typedef struct FormatText {
    id object;
    int isString;
    const char *text;
    size_t length;		/* in UTF-8 bytes */
    size_t units;		/* the object's length, in UTF-16 units */
} FormatText;

static int
IsFormatMethod(Send *send, BqCallPlan *plan)
{
    int named = plan->numberOfArguments;
    if (send->kind == BQ_SEND_FUNCTION || named < 3) {
	return 0;
    }
    char code = *BqTypeSpec_SkipTypeQualifiers(plan->argTypes[named - 1]);
    return (code == '@' || code == '*') && BqFormat_IsFormatSelector(SelectorName(send->selector));
}

static void
ReadObjectText(void *context)
{
    /* Looked up once: this runtime finds a class named in code by its
     * name at every use. */
    static Class stringClass = [NSString class];
    FormatText *format = (FormatText *) context;
    format->isString = [format->object isKindOfClass: stringClass] ? 1 : 0;
    if (format->isString) {
	format->text = [format->object UTF8String];
	format->units = [format->object length];
    }
}

/*
 * Whether UTF-8 text holds as many UTF-16 units as the string it was made
 * from: a NUL character would have ended it early.  Counts its bytes too.
 */
static int
IsWholeString(FormatText *format)
{
    size_t units = 0;
    const unsigned char *p = (const unsigned char *) format->text;
    for (; *p != '\0'; p++) {
	if ((*p & 0xC0) != 0x80) {
	    units += *p >= 0xF0 ? 2 : 1;
	}
    }
    format->length = (size_t) ((const char *) p - format->text);
    return units == format->units;
}

/* A format failure: the selector (which ends in its colon), then what. */
static int
FormatFailure(Tcl_DString *errors, Send *send, const char *what, const char *detail)
{
    return Fail(errors, SelectorName(send->selector), " ", what, detail, (char *) NULL);
}

/*
 *----------------------------------------------------------------------
 * ReadFormat --
 *	The text of the format argument in the frame (the last named
 *	one): a C string, or the UTF-8 text of an NSString (which lives in
 *	the autorelease pool).  Answers 0, or 1 with a message when the
 *	argument is no string, nil, or a string holding a NUL character
 *	(which would hide the directives after it).
 *----------------------------------------------------------------------
 */
static int
ReadFormat(Send *send, BqCallPlan *plan, char *stacked, FormatText *format,
	Tcl_DString *errors)
{
    int named = plan->numberOfArguments;
    const char *slot = stacked + plan->argOffsets[named - 1];
    memset(format, 0, sizeof *format);
    if (*BqTypeSpec_SkipTypeQualifiers(plan->argTypes[named - 1]) == '*') {
	memcpy(&format->text, slot, sizeof format->text);
	if (format->text == NULL) {
	    return FormatFailure(errors, send, "the format is NULL", "");
	}
	format->length = strlen(format->text);
	return 0;
    }
    memcpy(&format->object, slot, sizeof format->object);
    if (format->object == nil) {
	return FormatFailure(errors, send, "the format is nil", "");
    }
    KxErrorInfo error;
    if (KxGuard(ReadObjectText, format, &error) != 0) {
	FormatFailure(errors, send, "cannot read the format: ", "");
	BqOsmo_AppendErrorMessage(errors, &error, NULL);
	KxErrorInfoClear(&error);
	return 1;
    }
    if (!format->isString) {
	FormatFailure(errors, send, "the format is not a string (",
		ClassNameOf(object_getClass(format->object)));
	Tcl_DStringAppend(errors, ")", -1);
	return 1;
    }
    if (format->text == NULL) {
	return FormatFailure(errors, send, "the format cannot be read as UTF-8", "");
    }
    if (!IsWholeString(format)) {
	return FormatFailure(errors, send, "the format holds a NUL character", "");
    }
    return 0;
}

static void
AppendQuotedFormat(Tcl_DString *errors, const FormatText *format)
{
    Tcl_DStringAppend(errors, " \"", -1);
    Tcl_DStringAppend(errors, format->text, (int) format->length);
    Tcl_DStringAppend(errors, "\"", -1);
}

/*
 *----------------------------------------------------------------------
 * PrepareFormatCall --
 *	Reads the format, converts the values it reads (argv after the
 *	named arguments) into format->values, points arguments at them and
 *	prepares the variadic call.  Answers 0, or 1 with a message; the
 *	named arguments are the caller's to release.
 *----------------------------------------------------------------------
 */
static int
PrepareFormatCall(void *interp, Tcl_DString *errors, CTypeTable *table, Send *send,
	BqCallPlan *plan, char *stacked, int argc, void **argv, void **arguments,
	FormatCall *format)
{
    int named = plan->numberOfArguments;
    int given = argc - named;
    FormatText text;
    if (ReadFormat(send, plan, stacked, &text, errors)) {
	return 1;
    }
    int objects = text.object != nil;
    int used = BqFormat_Scan(text.text, text.length, objects, format->codes, format->room,
	    NULL);
    if (used < 0) {
	/* Read again for the reason: failures are rare, sends are not. */
	FormatFailure(errors, send, "", "");
	BqFormat_Scan(text.text, text.length, objects, format->codes, format->room, errors);
	Tcl_DStringAppend(errors, " in format", -1);
	AppendQuotedFormat(errors, &text);
	return 1;
    }
    if (used > given) {
	FormatFailure(errors, send, "format", "");
	AppendQuotedFormat(errors, &text);
	BqTcl_DStringPrintf(errors, " reads %d value%s, %d given", used, used == 1 ? "" : "s",
		given);
	return 1;
    }
    if (used > format->room) {
	FormatFailure(errors, send, "format", "");
	AppendQuotedFormat(errors, &text);
	BqTcl_DStringPrintf(errors, " reads %d values, more than the %d a call passes", used,
		FORMAT_MAX_VALUES);
	return 1;
    }

    /* The text may not outlive what the conversions run: from here on
     * only the codes are used. */
    memset(format->values, 0, sizeof(uint64_t) * (size_t) (used > 0 ? used : 1));
    for (int i = 0; i < used; i++) {
	char type[2] = { format->codes[i], '\0' };
	arguments[named + i] = &format->values[i];
	if (BqOsmo_I2C(interp, errors, table, argv[named + i], &format->values[i], 0, type, 0)) {
	    Tcl_DStringAppend(errors, " (while converting arguments for ", -1);
	    AppendCallDescription(errors, send);
	    return 1;
	}
    }
    format->used = used;
    return BqCallPlan_PrepareVariadic(plan, format->codes, used, &format->cif, format->types,
	    errors);
}

static int
ConvertNil(void *interp, Tcl_DString *errors, CTypeTable *table, id object, void *result)
{
    id value = object;
    return BqOsmo_C2I(interp, errors, table, result, &value, 0, "@", BQ_QUAL_RESULT);
}

/*
 *----------------------------------------------------------------------
 * CheckReceiver --
 *	Steps common to messages and messages to super: the object must be
 *	plausible.  Answers 0 to go on, -1 when the send is complete (a nil
 *	receiver, converted into result), 1 on failure.
 *----------------------------------------------------------------------
 */
static int
CheckReceiver(Send *send, Tcl_DString *errors)
{
    id object = send->object;
    if (object == nil) {
	return -1;
    }
    if ((uintptr_t) object == UINTPTR_MAX) {
	return Fail(errors, "illegal object", (char *) NULL);
    }
    if (!send->receiverChecked && BQ_CONTROL(bad_object_check)) {
	const char *problem = BqOsmo_IsIdInvalid(object);
	if (problem != NULL) {
	    return Fail(errors, problem, (char *) NULL);
	}
    }
    send->receiverClass = object_getClass(object);
    send->isInstance = !class_isMetaClass(send->receiverClass);
    return 0;
}

static int
CallTableHooks(CTypeTable *table, Tcl_DString *errors, Send *send, void *receiver,
	int argc, void **argv)
{
    BqOsmo_MsgSendHook hooks[2] = { table->msgSendHook, table->msgSendHook2 };
    for (int i = 0; i < 2; i++) {
	if (hooks[i] != NULL) {
	    int answer = hooks[i](errors, send->kind, receiver, send->method, argc, argv);
	    if (answer != 0) {
		return answer;
	    }
	}
    }
    return 0;
}

int
BqOsmo_MsgSend(void *interp, Tcl_DString *errors, CTypeTable *table, int kind,
	void *receiver, SEL selector, BqOsmoMethodDescription *method,
	int argc, void **argv, void *result)
{
    if (table == NULL) {
	return Fail(errors, "msg_send: no C type table", (char *) NULL);
    }
    Send send;
    memset(&send, 0, sizeof send);
    int vouched = (kind & BQ_SEND_RECEIVER_CHECKED) != 0;
    kind &= ~BQ_SEND_RECEIVER_CHECKED;
    send.receiverChecked = vouched && kind != BQ_SEND_FUNCTION;
    send.kind = kind;
    send.selector = selector;
    send.method = method;

    /* 1-2: the receiver. */
    if (kind == BQ_SEND_SUPER) {
	send.super = (KxSuper *) receiver;
	send.object = send.super->self;
	if (send.super->super_class == Nil) {
	    return Fail(errors, "msg_send_super: no superclass", (char *) NULL);
	}
	if (argc <= 1) {
	    return Fail(errors, "msg_send_super with no arguments", (char *) NULL);
	}
    } else if (kind == BQ_SEND_MESSAGE) {
	send.object = (id) receiver;
	if (argc <= 1) {
	    return ConvertNil(interp, errors, table, send.object, result);
	}
    }
    if (kind != BQ_SEND_FUNCTION) {
	int state = CheckReceiver(&send, errors);
	if (state > 0) {
	    return 1;
	}
	if (state < 0) {
	    return ConvertNil(interp, errors, table, nil, result);
	}
    }

    /* 3-5: the method's description. */
    if (send.method == NULL) {
	int failed = 0;
	if (kind == BQ_SEND_MESSAGE) {
	    failed = FindMethodForMessage(&send, errors);
	} else if (kind == BQ_SEND_SUPER) {
	    failed = FindMethodForSuper(&send, errors);
	} else {
	    return Fail(errors, "no function description", (char *) NULL);
	}
	if (failed) {
	    return 1;
	}
    }
    if (kind != BQ_SEND_FUNCTION && !send.fromCache) {
	Question q = { send.object, @selector(isProxy), NULL, { nil } };
	if (class_respondsToSelector(send.receiverClass, q.selector)
		&& Ask(AskIsProxy, &q, errors, "(exception in -isProxy invoked from BqOsmo_MsgSend)")) {
	    return 1;
	}
	send.isProxy = q.answer.flag ? 1 : 0;
    }
    if (send.method == NULL && send.fromRespondsTest
	    && DescribeFromRespondingObject(&send, errors)) {
	return 1;
    }
    if (send.method == NULL) {
	return Fail(errors, "method ", SelectorName(selector), " description is not known",
		(char *) NULL);
    }

    /* 6: the binding's hooks. */
    int hookAnswer = CallTableHooks(table, errors, &send, receiver, argc, argv);
    if (hookAnswer != 0) {
	return hookAnswer;
    }

    /* 7: the frame. */
    int remember = 0;
    if (send.signature == NULL) {
	Tcl_DString reason;
	Tcl_DStringInit(&reason);
	send.signature = BqMethod_SignatureRecordForString(send.method->types, &reason);
	if (send.signature == NULL) {
	    Fail(errors, "method ", SelectorName(selector), " has a signature that cannot be used: \"",
		    send.method->types != NULL ? send.method->types : "", "\" (",
		    Tcl_DStringValue(&reason), ")", (char *) NULL);
	    Tcl_DStringFree(&reason);
	    return 1;
	}
	Tcl_DStringFree(&reason);
	remember = kind == BQ_SEND_MESSAGE && send.method == &send.made && !send.fromRespondsTest;
    }
    BqCallPlan *plan = BqCallPlan_ForSignature(send.signature, errors);
    if (plan == NULL) {
	return 1;
    }
    if (!send.fromCache) {
	send.isFormat = IsFormatMethod(&send, plan);
    }
    if (remember) {
	Method found = class_getInstanceMethod(send.receiverClass, selector);
	if (found != NULL) {
	    RememberMethod(&send, found);
	}
    } else if (send.isForwarded && !send.fromCache) {
	RememberForwarding(&send);
    }
    int named = plan->numberOfArguments;
    if (argc != named && !(send.isFormat && argc > named)) {
	AppendCountFailure(errors, &send, named, argc, send.isFormat);
	return 1;
    }
    FormatCall format;
    format.used = 0;
    format.room = 0;
    if (send.isFormat) {
	int given = argc - named;
	format.room = given < FORMAT_MAX_VALUES ? given : FORMAT_MAX_VALUES;
    }
    void *frameHeader[4] = { NULL, NULL, NULL, NULL };
    char *stacked = (char *) alloca((size_t) plan->frameSize + 16);
    memset(stacked, 0, (size_t) plan->frameSize + 16);
    frameHeader[0] = stacked;
    char *returnBuffer = NULL;
    if (plan->returnCode == '{' || plan->returnCode == '[' || plan->returnCode == '(') {
	size_t size = (size_t) BqTypeSpec_AlignedSizeOfType(plan->returnType) + 8;
	returnBuffer = (char *) alloca(size);
	memset(returnBuffer, 0, size);
	frameHeader[1] = returnBuffer;
    }
    void **arguments = (void **) alloca(sizeof(void *) * (size_t) (named + format.room + 1));
    ResolveConversions(plan, table);

    /* 8: the arguments.  From here on every way out releases what the
     * conversions made for the call. */
    for (int i = 0; i < named; i++) {
	char *address = stacked + plan->argOffsets[i];
	arguments[i] = address;
	if (kind != BQ_SEND_FUNCTION && i == 0) {
	    memcpy(address, &send.object, sizeof(id));
	} else if (kind != BQ_SEND_FUNCTION && i == 1) {
	    memcpy(address, &selector, sizeof(SEL));
	} else if (BqOsmo_ConvertResolved(1, interp, errors, &plan->argConversions[i], argv[i],
		address, 0, 0)) {
	    Tcl_DStringAppend(errors, " (while converting arguments for ", -1);
	    AppendCallDescription(errors, &send);
	    /* A failed aggregate may hold what its first elements made. */
	    ReleaseArguments(table, plan, stacked, i + 1);
	    return 1;
	}
    }
    if (send.isFormat) {
	format.codes = (char *) alloca((size_t) format.room + 1);
	format.values = (uint64_t *) alloca(sizeof(uint64_t) * (size_t) (format.room + 1));
	format.types = (ffi_type **) alloca(sizeof(ffi_type *) * (size_t) (named + format.room));
	if (PrepareFormatCall(interp, errors, table, &send, plan, stacked, argc, argv,
		arguments, &format)) {
	    ReleaseArguments(table, plan, stacked, named);
	    return 1;
	}
    }

    /* 9: the second hook sees the filled frame. */
    if (messageHook2 != NULL) {
	int answer = messageHook2(interp, errors, table, kind, receiver, selector, send.method,
		argc, argv, frameHeader, plan->frameSize);
	if (answer != 0) {
	    ReleaseArguments(table, plan, stacked, named);
	    return answer;
	}
    }

    /* 10: the call, under the guard. */
    uint64_t integerResult[2] = { 0, 0 };
    Call call = { plan, ImplementationFor(&send), stacked, arguments,
		  returnBuffer != NULL ? (void *) returnBuffer : (void *) integerResult,
		  send.isFormat ? &format.cif : NULL };
    KxErrorInfo error;
    if (KxGuard(PerformCall, &call, &error) != 0) {
	int code = error.code;
	if (code != BQ_ERROR_SILENT) {
	    BqOsmo_AppendErrorMessage(errors, &error, NULL);
	    KeepSendException(error.exception);
	}
	KxErrorInfoClear(&error);
	ReleaseArguments(table, plan, stacked, named);
	return code == BQ_ERROR_SILENT ? 0 : 1;
    }
    void *storage;
    switch (plan->returnCode) {
    case 'f':
	memcpy(&floatResult, integerResult, sizeof(float));
	storage = &floatResult;
	break;
    case 'd':
	memcpy(&doubleResult, integerResult, sizeof(double));
	storage = &doubleResult;
	break;
    case '{': case '[': case '(':
	storage = returnBuffer;
	break;
    default:
	storage = integerResult;
	break;
    }

    /* 12: the result. */
    /* The result may point into an argument (a structure handed back),
     * so the arguments are released only once it is converted. */
    unsigned bits = BQ_QUAL_RESULT | (send.isProxy ? BQ_QUAL_OWNED : 0);
    int failed = BqOsmo_ConvertResolved(0, interp, errors, &plan->returnConversion, result,
	    storage, 0, bits);
    if (failed) {
	Tcl_DStringAppend(errors, " (while value returned from ", -1);
	AppendCallDescription(errors, &send);
    } else if (send.isFormat && format.used < argc - named) {
	BqTcl_DStringApp(errors, "Redundant argument in ", SelectorName(selector),
		(char *) NULL);
    }
    ReleaseArguments(table, plan, stacked, named);
    return failed;
}
