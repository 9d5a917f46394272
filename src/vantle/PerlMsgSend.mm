/*
 * PerlMsgSend.mm --
 *
 *	The message send from Perl: six entry points, the routes that stand
 *	in for the interpreter's method hooks on this perl, selector
 *	formation and the message trace.  All of them end in
 *	VantlePriv_msg_send, which drives the runtime layer's generic send
 *	with the binding's C type table.
 *
 *	Error discipline: texts are collected in a dynamic string on the C
 *	stack; every croak first copies its text into a mortal and frees the
 *	string, and no C++ object with a destructor is alive when it happens.
 *	A send opens no Perl scope of its own: a converter that runs Perl
 *	code which dies does so before it appends any text, so the string
 *	still lives in its own static space and nothing leaks, and nested
 *	conversions restore their depth counters themselves.
 */
#import <Foundation/Foundation.h>

#include "PerlMsgSend.h"
#include "PerlCTypes.h"
#include "PerlSelectorMap.h"
#include "VantlePriv.h"
#include "PerlContext.h"
#include "PerlDefinedClass.h"
#include "BqOsmoControl.h"
#include "BqOsmoCore.h"
#include "CTypes.h"
#include "FormatArgs.h"
#include "Glisk.h"
#include "KxPlatform.h"
#include "MethodDesc.h"
#include "MsgSend.h"
#include "TypeEncoding.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>


#define BQ_NAMED_SEND_CACHED_ARGS 4

/* Arguments and selector names a send keeps on the C stack; longer ones
 * go to a Perl temporary (see Scratch). */
#define BQ_STACK_ARGS 14
#define BQ_STACK_NAME 128


/* An installed per-name send: its Perl name, and for subs in a class
 * package the class the package is named after. */
typedef struct NamedSend {
    const char *perlName;	/* interned */
    const char *className;	/* interned, or null in Vantle::Object */
    SEL selectors[BQ_NAMED_SEND_CACHED_ARGS];	/* formed per argument count,
				 * when formation is plain (see FormCached) */
    void *cls;			/* the Class className names, once found */
} NamedSend;

/*
 * NamedClass --
 *	The class a class package's send is for, looked up by name until it
 *	is found and then kept with the send.  The runtime's class table
 *	only grows (a renamed class stays known under every name it had),
 *	so a class once found under a name stays the class of that name.
 *	Sends are shared by every interpreter and thread: the word is read
 *	and written whole.
 */
static Class
NamedClass(NamedSend *send, const char *className)
{
    if (send == NULL) {
	return objc_lookUpClass(className);
    }
    Class cls = (Class) __atomic_load_n(&send->cls, __ATOMIC_RELAXED);
    if (cls == Nil) {
	cls = objc_lookUpClass(className);
	__atomic_store_n(&send->cls, (void *) cls, __ATOMIC_RELAXED);
    }
    return cls;
}

/* Forgets the method and class names a hook handed over. */
static void
ClearPending(pTHX)
{
    VantleContext *context = VantlePriv_Context(aTHX);
    context->pendingMethodName = NULL;
    context->pendingClassName = NULL;
}

/*
 * Takes the method and class names a hook handed over, leaving none
 * behind: they point into what the hook's caller holds (a temporary, a
 * buffer on its stack), which is gone once a send that dies unwinds.
 */
static void
TakePending(pTHX_ const char **method, const char **cls)
{
    VantleContext *context = VantlePriv_Context(aTHX);
    *method = context->pendingMethodName;
    *cls = context->pendingClassName;
    ClearPending(aTHX);
}

/* The glob of Vantle::NAME, kept in *cache (a field of the context). */
static GV *
CachedGlob(pTHX_ GV **cache, const char *name)
{
    if (*cache == NULL) {
	HV *stash = gv_stashpvs("Vantle", GV_ADD);
	SV **slot = hv_fetch(stash, name, (I32) strlen(name), 1);
	if (slot == NULL) {
	    return NULL;
	}
	if (!isGV(*slot)) {
	    gv_init_pvn((GV *) *slot, stash, name, strlen(name), GV_ADDMULTI);
	}
	*cache = (GV *) *slot;
    }
    return *cache;
}

/*
 * Scratch --
 *	Room for size bytes: stack (of stackSize bytes) when that is enough,
 *	else a Perl temporary, freed with the caller's temporaries (a croak
 *	included).  Argument lists and method names are as long as the
 *	program makes them; on the C stack, a long one would run past its
 *	end.
 */
static void *
Scratch(pTHX_ void *stack, size_t stackSize, size_t size)
{
    return size <= stackSize ? stack : SvPVX(sv_2mortal(newSV(size)));
}

/* A writable copy of length bytes of text and a NUL, as a temporary. */
static char *
TemporaryCopy(pTHX_ const char *text, STRLEN length)
{
    return SvPVX(sv_2mortal(newSVpvn(text, length)));
}

/* ---------------------------------------------------------------------
 * Selector formation
 * ------------------------------------------------------------------ */

/*
 * Whether a message named name would find a method: of cls when the
 * lookup starts there (a message to super), else of the receiver's class.
 * A receiver the send would refuse finds none.
 */
static int
Answers(id receiver, Class cls, const char *name)
{
    if (receiver == nil || (uintptr_t) receiver == UINTPTR_MAX
	    || (BQ_CONTROL(bad_object_check) && BqOsmo_IsIdInvalid(receiver) != NULL)) {
	return 0;
    }
    Class lookIn = cls != Nil ? cls : object_getClass(receiver);
    return class_respondsToSelector(lookIn, BqTypeSpec_Str2SEL(name));
}

int
VantlePriv_FormSelectorName(pTHX_ const char *perlName, int n, id receiver, Class cls,
	char *dst)
{
    int plain = 1;
    const char *from = perlName;
    char *to = dst;
    while (*from == '_') {
	*to++ = *from++;
    }
    int colons = 0;
    for (; *from != '\0'; from++) {
	if (*from == '_') {
	    *to++ = ':';
	    colons++;
	} else {
	    *to++ = *from;
	}
    }
    *to = '\0';
    int endsInColon = to > dst && to[-1] == ':';
    /* A format method takes its values after its named arguments. */
    int formatList = endsInColon && BqFormat_IsFormatSelector(dst);
    if (*dst != '\0' && !formatList && !(n <= colons && (colons == 0 || endsInColon))) {
	char *written = to;
	*to++ = ':';
	*to = '\0';
	/* Completed with one colon, a format method takes the rest as its
	 * values; otherwise every argument gets its colon. */
	if (colons + 1 < n && !BqFormat_IsFormatSelector(dst)) {
	    memset(to, ':', (size_t) (n - colons - 1));
	    to += n - colons - 1;
	    *to = '\0';
	}
	/* A selector as written that the receiver answers, when the
	 * completed one is not: the count is wrong, not the name. */
	if ((colons == 0 || endsInColon) && !(colons == 0 && VantlePriv_PerlSelectorMap)
		&& !Answers(receiver, cls, dst)) {
	    *written = '\0';
	    if (Answers(receiver, cls, dst)) {
		return -1;
	    }
	    *written = ':';
	}
	if (!(colons == 0 && VantlePriv_PerlSelectorMap)) {
	    Perl_warn(aTHX_ "missing colon (i.e., '_') at the end of selector name");
	    plain = 0;
	}
    }
    if (VantlePriv_PerlSelectorMap && colons == 0) {
	plain = 0;
	SEL mapped = VantlePriv_FindSelector(receiver, cls, dst, perlName, n);
	if (mapped != NULL) {
	    const char *name = sel_getName(mapped);
	    /* A mapped name has as many colons as arguments, which the
	     * buffer was sized for. */
	    strcpy(dst, name);
	}
    }
    return plain;
}

/*
 * A method name with a NUL byte would be cut at it (C strings end there)
 * and another message sent: such names are refused.  Answers the message
 * to croak with (a new scalar), or null for a name without one.
 */
static SV *
NulInName(pTHX_ const char *entryName, const char *name, STRLEN length)
{
    if (memchr(name, '\0', length) == NULL) {
	return NULL;
    }
    SV *message = newSVpvf("%s: method name \"", entryName);
    for (STRLEN i = 0; i < length; i++) {
	if (name[i] == '\0') {
	    sv_catpvs(message, "\\0");
	} else {
	    sv_catpvn(message, name + i, 1);
	}
    }
    sv_catpvs(message, "\" contains a NUL byte");
    return message;
}

/* ---------------------------------------------------------------------
 * The send
 * ------------------------------------------------------------------ */

/* Croaks with the text made from errors, after freeing errors. */
#define CROAK_AFTER_LEAVE(sv) \
    do { SV *message_ = sv_2mortal(sv); Tcl_DStringFree(&errors); croak_sv(message_); } while (0)

/*
 * The receiver's object.  A handle is read directly: every conversion of a
 * handle gives its object, so the converter hooks are not consulted for
 * the common receiver.  *checked says whether the object is known to have
 * passed the validity check (so the send need not check it again).
 */
static id
ConvertReceiver(pTHX_ SV *sv, Tcl_DString *errors, char *failed, int *checked)
{
    id object;
    *checked = 0;
    if (!SvGMAGICAL(sv) && VantlePriv_LiveHandleObject(aTHX_ sv, &object, checked)) {
	*failed = 0;
	return object;
    }
    if (!SvGMAGICAL(sv) && SvROK(sv) && VantlePriv_HandleReferent(aTHX_ sv) != NULL) {
	return Vantle_SVGetObject2NM(sv, errors, failed);
    }
    return VantlePriv_PerlAutoConvert ? Vantle_ObjectForSV(sv, errors, failed)
				      : Vantle_SVGetObject2(sv, errors, failed);
}

static int
IsKindOf(id object, Class cls)
{
    for (Class walk = object_getClass(object); walk != Nil; walk = class_getSuperclass(walk)) {
	if (walk == cls) {
	    return 1;
	}
    }
    return 0;
}

static void
TraceBefore(pTHX_ id receiver, KxSuper *super, SEL selector, void **argv, int argc)
{
    printf(" [%s", Glisk_RegisterObject(receiver));
    if (super != NULL) {
	printf("(%s:%s)", Glisk_RegisterObject(super->self),
		Glisk_RegisterObject((id) super->super_class));
    }
    printf(" %s", sel_getName(selector));
    for (int i = 2; i < argc; i++) {
	printf(" %s", SvPV_nolen((SV *) argv[i]));
    }
    printf("]  ");
    fflush(stdout);
}

/*
 * NoteFailedSend --
 *	Keeps the exception that ended a failed send, with the message the
 *	send dies with, so a Perl method that lets the message through hands
 *	its caller the exception itself (PerlMethodCall).
 */
static void
NoteFailedSend(pTHX_ SV *message)
{
    id exception = BqOsmo_TakeSendException();
    VantleContext *context = VantlePriv_Context(aTHX);
    id previous = context->sendException;
    context->sendException = exception;
    [previous release];
    if (exception == nil) {
	return;
    }
    if (context->sendErrorText == NULL) {
	context->sendErrorText = newSVsv(message);
    } else {
	sv_setsv(context->sendErrorText, message);
    }
}

/*
 * SendAndAnswer --
 *	Sends selector to receiver (to the pair (receiver, startClass) when
 *	startClass is set) with the n arguments at ST(argStart), leaving the
 *	converted result in ST(0).  Answers 0; or the send's failure code,
 *	its text in errors, for the caller to croak with.  A warning the
 *	send left is given, and errors freed, on success.
 */
static int
SendAndAnswer(pTHX_ I32 ax, int argStart, int n, id receiver, int receiverChecked,
	Class startClass, SEL selector, Tcl_DString *errors)
{
    int hasPair = startClass != Nil;
    void *stackArgv[BQ_STACK_ARGS + 2];
    void **argv = (void **) Scratch(aTHX_ stackArgv, sizeof stackArgv,
	    sizeof(void *) * (size_t) (n + 2));
    argv[0] = argv[1] = NULL;
    for (int i = 0; i < n; i++) {
	argv[i + 2] = ST(argStart + i);
    }
    /* Made an integer scalar at once: most results are integers or
     * handles (references), which then need no upgrade; others upgrade
     * as from undef. */
    SV *result = newSV_type_mortal(SVt_IV);
    KxSuper superRecord = { receiver, startClass };
    int trace = BQ_CONTROL(message_trace);
    if (trace) {
	TraceBefore(aTHX_ receiver, hasPair ? &superRecord : NULL, selector, argv, n + 2);
    }

    int code = 0;
    if (receiver != nil) {
	int kind = (hasPair ? BQ_SEND_SUPER : BQ_SEND_MESSAGE)
	    | (receiverChecked ? BQ_SEND_RECEIVER_CHECKED : 0);
	code = BqOsmo_MsgSend(NULL, errors, VantlePriv_CTypeTable, kind,
		hasPair ? (void *) &superRecord : (void *) receiver, selector, NULL, n + 2, argv,
		result);
    }
    if (trace) {
	printf("--> %s(%d) %s\n", "", code, SvOK(result) ? SvPV_nolen(result) : "");
	fflush(stdout);
    }
    if (code != 0) {
	return code;
    }
    ST(0) = result;
    if (Tcl_DStringLength(errors) > 0) {
	/* A warning the send left (values a format did not read), in
	 * the category Perl's sprintf gives the same complaint. */
	SV *warning = sv_2mortal(newSVpvn(Tcl_DStringValue(errors),
		(STRLEN) Tcl_DStringLength(errors)));
	Tcl_DStringSetLength(errors, 0);
	Perl_ck_warner(aTHX_ packWARN(WARN_REDUNDANT), "%" SVf, SVfARG(warning));
    }
    return 0;
}

/*
 * CallPerlSub --
 *	When the receiver (ST(0), a live handle) is an instance of a class
 *	defined in Perl that has no method for selector, and the package of
 *	that class (or of a superclass defined in Perl) has a sub named
 *	perlName, calls it in place with the XS sub's arguments and context
 *	and answers how many values it left; else -1.
 */
static I32
CallPerlSub(pTHX_ I32 ax, I32 items, SEL selector, const char *perlName)
{
    /* The failed send may have freed the receiver: it is read again from
     * its handle, which says so. */
    id receiver = nil;
    if (!VantlePriv_LiveHandleObject(aTHX_ ST(0), &receiver, NULL)) {
	return -1;
    }
    Class cls = receiver != nil ? object_getClass(receiver) : Nil;
    if (cls == Nil || class_isMetaClass(cls) || class_respondsToSelector(cls, selector)) {
	return -1;
    }
    for (VantleDefinedClass *record = VantlePriv_DefinedAncestor(cls); record != NULL;
	    record = VantlePriv_DefinedAncestor(class_getSuperclass(record->cls))) {
	HV *stash = gv_stashpv(record->package, 0);
	CV *sub = stash != NULL ? get_cv(SvPVX(sv_2mortal(newSVpvf("%s::%s", record->package,
		perlName))), 0) : NULL;
	if (sub != NULL && !VantlePriv_IsMessageSub(sub)) {
	    return VantlePriv_CallInPlace(aTHX_ sub, ax, items, GIMME_V);
	}
    }
    return -1;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_SendToInvocant --
 *	Sends selector to ST(0), a handle or the name of a class, with the
 *	arguments after it, leaving the converted result in ST(0); answers
 *	1.  Croaks with entryName on failure.  The sub Perl finds in the
 *	package of a class defined in Perl for each of its methods calls
 *	this, so a method called as a Perl method runs as a message.
 *----------------------------------------------------------------------
 */
I32
VantlePriv_SendToInvocant(pTHX_ I32 ax, I32 items, SEL selector, const char *entryName)
{
    if (items < 1) {
	croak("Usage: %s(receiver, ...)", entryName);
    }
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    char failed = 0;
    int receiverChecked = 0;
    id receiver;
    if (!SvROK(ST(0)) && SvOK(ST(0))) {
	const char *name = SvPV_nolen(ST(0));
	receiver = (id) objc_lookUpClass(name);
	if (receiver == nil) {
	    CROAK_AFTER_LEAVE(newSVpvf("%s: no class %s", entryName, name));
	}
	receiverChecked = 1;
    } else {
	receiver = ConvertReceiver(aTHX_ ST(0), &errors, &failed, &receiverChecked);
	if (failed) {
	    CROAK_AFTER_LEAVE(newSVpvf("%s: %s", entryName, Tcl_DStringValue(&errors)));
	}
    }
    if (SendAndAnswer(aTHX_ ax, 1, items - 1, receiver, receiverChecked, Nil, selector,
	    &errors) != 0) {
	SV *message = newSVpvn(Tcl_DStringValue(&errors), (STRLEN) Tcl_DStringLength(&errors));
	NoteFailedSend(aTHX_ message);
	CROAK_AFTER_LEAVE(message);
    }
    Tcl_DStringFree(&errors);
    return 1;
}

I32
VantlePriv_msg_send(pTHX_ I32 ax, I32 items, const char *pendingName, const char *pendingClass,
	int named, int super, const char *autoloadName, NamedSend *namedSend)
{
    const char *entryName = super ? "Vantle::msg_send_super" : "Vantle::msg_send";
    int needed = named ? 1 : super ? 3 : 2;
    if (items < needed) {
	croak("Usage: %s(receiver, %smsg, ...)", entryName, super && !named ? "class, " : "");
    }

    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    char failed = 0;
    VantleMethodFrame *frame = NULL;	/* the method a super send is made in */
    id receiver = nil;
    int receiverChecked = 0;	/* passed the validity check, and alive */
    Class startClass = Nil;
    int hasPair = 0;

    /* The receiver and the target. */
    if (super && pendingClass != NULL) {
	receiver = ConvertReceiver(aTHX_ ST(0), &errors, &failed, &receiverChecked);
	if (failed) {
	    CROAK_AFTER_LEAVE(newSVpvf("%s: receiver arg: %s", entryName,
		    Tcl_DStringValue(&errors)));
	}
	if (strcmp(pendingClass, "SUPER") == 0) {
	    frame = VantlePriv_GetSuper(aTHX);
	    if (frame == NULL) {
		CROAK_AFTER_LEAVE(newSVpvf("%s: invoked outside method", entryName));
	    }
	    startClass = frame->super.super_class;
	} else {
	    startClass = NamedClass(namedSend, pendingClass);
	}
	if (startClass == Nil) {
	    CROAK_AFTER_LEAVE(newSVpvf("%s: no class %s", entryName, pendingClass));
	}
	hasPair = 1;
    } else if (super && named) {
	/* Vantle::super->name(...): the running Perl method's receiver. */
	frame = VantlePriv_GetSuper(aTHX);
	if (frame == NULL) {
	    CROAK_AFTER_LEAVE(newSVpvf("%s: invoked outside method", entryName));
	}
	receiver = frame->super.self;
	receiverChecked = 1;	/* alive: its method is running */
	startClass = frame->super.super_class;
	hasPair = 1;
    } else if (super) {
	receiver = ConvertReceiver(aTHX_ ST(0), &errors, &failed, &receiverChecked);
	if (failed) {
	    CROAK_AFTER_LEAVE(newSVpvf("%s: receiver arg: %s", entryName,
		    Tcl_DStringValue(&errors)));
	}
	startClass = (Class) Vantle_SVGetClass2(ST(1), &errors, &failed, 1);
	if (failed) {
	    CROAK_AFTER_LEAVE(newSVpvf("%s: class arg: %s", entryName,
		    Tcl_DStringValue(&errors)));
	}
	if (startClass == Nil) {
	    CROAK_AFTER_LEAVE(newSVpvf("%s: Nil class", entryName));
	}
	hasPair = 1;
    } else if (pendingClass != NULL) {
	receiver = (id) NamedClass(namedSend, pendingClass);
	receiverChecked = 1;	/* a class the runtime looked up */
    } else {
	receiver = ConvertReceiver(aTHX_ ST(0), &errors, &failed, &receiverChecked);
	if (failed) {
	    CROAK_AFTER_LEAVE(newSVpvf("%s: %s", entryName, Tcl_DStringValue(&errors)));
	}
    }
    if (hasPair && receiver != nil && !IsKindOf(receiver, startClass)) {
	CROAK_AFTER_LEAVE(newSVpvf("%s: receiver is not a kind of %sclass %s", entryName,
		class_isMetaClass(startClass) ? "meta" : "", class_getName(startClass)));
    }

    /* The selector and the first message argument. */
    const char *literal = NULL;
    const char *perlName = pendingName;
    int argStart = 1;
    if (perlName == NULL && named) {
	perlName = autoloadName != NULL ? autoloadName : "";
    } else if (perlName == NULL) {
	STRLEN length;
	literal = SvPV(ST(super ? 2 : 1), length);
	SV *refused = NulInName(aTHX_ entryName, literal, length);
	if (refused != NULL) {
	    CROAK_AFTER_LEAVE(refused);
	}
	argStart = super ? 3 : 2;
    }
    int n = items - argStart;
    SEL *cached = namedSend != NULL && n < BQ_NAMED_SEND_CACHED_ARGS
	? &namedSend->selectors[n] : NULL;
    SEL selector = cached != NULL && !VantlePriv_PerlSelectorMap ? *cached : NULL;
    if (selector == NULL) {
	if (literal != NULL) {
	    selector = BqTypeSpec_Str2SEL(literal);
	} else {
	    char stackName[BQ_STACK_NAME];
	    char *formed = (char *) Scratch(aTHX_ stackName, sizeof stackName,
		    strlen(perlName) + (size_t) n + 2);
	    int plain = VantlePriv_FormSelectorName(aTHX_ perlName, n, receiver, startClass,
		    formed);
	    if (plain < 0) {
		BqOsmo_AppendArgumentCount(&errors, formed, BqOsmo_ArgcForMName(formed), n, 0);
		CROAK_AFTER_LEAVE(newSVpvn(Tcl_DStringValue(&errors),
			(STRLEN) Tcl_DStringLength(&errors)));
	    }
	    selector = BqTypeSpec_Str2SEL(formed);
	    /* A plain formation gives the same selector every time; one that
	     * warns or consults the map is done again on every send. */
	    if (cached != NULL && plain) {
		*cached = selector;
	    }
	}
    }

    /* The superclass's dealloc runs after a Perl dealloc by itself: sent
     * from the dealloc too, it would free the object twice. */
    if (frame != NULL && frame->inDealloc && frame->super.self == receiver
	    && strcmp(sel_getName(selector), "dealloc") == 0) {
	Tcl_DStringFree(&errors);
	ST(0) = &PL_sv_undef;
	return 1;
    }

    int code = SendAndAnswer(aTHX_ ax, argStart, n, receiver, receiverChecked,
	    hasPair ? startClass : Nil, selector, &errors);
    if (code != 0) {
	/* A Perl sub of the receiver's class package answers a name the
	 * class has no method for: $self->helper in a class defined in
	 * Perl. */
	I32 count = perlName != NULL && !hasPair && receiver != nil
	    ? CallPerlSub(aTHX_ ax, items, selector, perlName) : -1;
	if (count >= 0) {
	    Tcl_DStringFree(&errors);
	    return count;
	}
	SV *message = newSVpvn(Tcl_DStringValue(&errors), (STRLEN) Tcl_DStringLength(&errors));
	NoteFailedSend(aTHX_ message);
	CROAK_AFTER_LEAVE(message);
    }
    Tcl_DStringFree(&errors);
    return 1;
}

/* ---------------------------------------------------------------------
 * The hooks
 * ------------------------------------------------------------------ */

/*
 * Splits "Qualifier::name" (or "Qualifier'name") at its last separator;
 * answers the method name and stores the qualifier, or null.
 */
static const char *
SplitQualifiedName(char *name, const char **qualifier)
{
    char *last = NULL;
    for (char *p = name; *p != '\0'; p++) {
	if (*p == ':' || *p == '\'') {
	    last = p;
	}
    }
    *qualifier = NULL;
    if (last == NULL) {
	return name;
    }
    char *end = last;
    if (*end == ':' && end > name && end[-1] == ':') {
	end--;
    }
    *end = '\0';
    *qualifier = name;
    return last + 1;
}

GV *
VantlePriv_FetchMethodHook(HV *stash, char *name)
{
    BQCPERL_dTHX;
    if (stash != VantlePriv_ObjectStash(aTHX)) {
	ClearPending(aTHX);
	return NULL;
    }
    VantleContext *context = VantlePriv_Context(aTHX);
    const char *qualifier;
    const char *method = SplitQualifiedName(name, &qualifier);
    context->pendingClassName = qualifier;
    if (!(islower((unsigned char) method[0]) || method[0] == '_')) {
	ClearPending(aTHX);
	return NULL;
    }
    GV *glob = CachedGlob(aTHX_ &context->fastSendGlob, "fast_msg_send");
    if (glob == NULL || GvCV(glob) == NULL) {
	ClearPending(aTHX);
	return NULL;
    }
    context->pendingMethodName = method;
    return glob;
}

GV *
VantlePriv_ClassMethodHook(SV *invocant, SV *methodName)
{
    BQCPERL_dTHX;
    if (SvROK(invocant)) {
	return NULL;
    }
    const char *className = SvOK(invocant) ? SvPV_nolen(invocant) : NULL;
    if (className == NULL || objc_lookUpClass(className) == Nil) {
	return NULL;
    }
    VantleContext *context = VantlePriv_Context(aTHX);
    context->pendingClassName = className;
    context->pendingMethodName = SvPV_nolen(methodName);
    return CachedGlob(aTHX_ &context->classSendGlob, "class_msg_send");
}

/* ---------------------------------------------------------------------
 * Entry points
 * ------------------------------------------------------------------ */

XS_INTERNAL(XS_Vantle__msg_send)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    XSRETURN(VantlePriv_msg_send(aTHX_ ax, items, NULL, NULL, 0, 0, NULL, NULL));
}

XS_INTERNAL(XS_Vantle__msg_send_super)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    XSRETURN(VantlePriv_msg_send(aTHX_ ax, items, NULL, NULL, 0, 1, NULL, NULL));
}

XS_INTERNAL(XS_Vantle__fast_msg_send)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    const char *name, *cls;
    TakePending(aTHX_ &name, &cls);
    XSRETURN(VantlePriv_msg_send(aTHX_ ax, items, name, cls, 1, cls != NULL, NULL, NULL));
}

XS_INTERNAL(XS_Vantle__class_msg_send)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    const char *name, *cls;
    TakePending(aTHX_ &name, &cls);
    XSRETURN(VantlePriv_msg_send(aTHX_ ax, items, name, cls, 1, 0, NULL, NULL));
}

/*
 * The method name an AUTOLOAD sub was called for: $AUTOLOAD of the sub's
 * package, after its last "::".  Croaks when it holds a NUL byte.
 */
static const char *
AutoloadName(pTHX_ CV *cv)
{
    HV *stash = CvSTASH(cv);
    const char *package = stash != NULL ? HvNAME(stash) : NULL;
    if (package == NULL) {
	return "";
    }
    SV *variableName = sv_2mortal(newSVpvf("%s::AUTOLOAD", package));
    SV *autoload = get_sv(SvPV_nolen(variableName), 0);
    STRLEN length = 0;
    const char *full = autoload != NULL && SvOK(autoload) ? SvPV(autoload, length) : "";
    const char *last = strrchr(full, ':');
    const char *name = last != NULL ? last + 1 : full;
    SV *refused = NulInName(aTHX_ strcmp(package, "Vantle::Super") == 0
	    ? "Vantle::msg_send_super" : "Vantle::msg_send", name, length - (STRLEN) (name - full));
    if (refused != NULL) {
	croak_sv(sv_2mortal(refused));
    }
    return name;
}

/*
 * A per-name send installed by a route: in Vantle::Object the message
 * to the invocant; in a class package a class message, or, on a handle,
 * the message to super starting at that class.
 */
XS_INTERNAL(XS_Vantle__NamedSend)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    NamedSend *send = (NamedSend *) CvXSUBANY(cv).any_ptr;
    int super = send->className != NULL && items > 0 && SvROK(ST(0));
    XSRETURN(VantlePriv_msg_send(aTHX_ ax, items, send->perlName, send->className, 1, super, NULL, send));
}

static void
InstallNamedSend(pTHX_ const char *package, const char *perlName, const char *className)
{
    NamedSend *send = (NamedSend *) BqOsmo_RuntimeAlloc(sizeof *send);
    memset(send, 0, sizeof *send);
    send->perlName = KxUniqueString(perlName);
    send->className = className != NULL ? KxUniqueString(className) : NULL;
    SV *fullName = sv_2mortal(newSVpvf("%s::%s", package, perlName));
    CV *installed = newXS(SvPV_nolen(fullName), XS_Vantle__NamedSend, "Vantle");
    CvXSUBANY(installed).any_ptr = send;
}

/*
 * Vantle::Object::AUTOLOAD: a name the fetch-method hook takes for a
 * message gets its own sub, so later calls skip AUTOLOAD; any other name
 * (upper case) is sent as it is.
 */
XS_INTERNAL(XS_Vantle__Object__AUTOLOAD)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    const char *name = AutoloadName(aTHX_ cv);
    char *writable = TemporaryCopy(aTHX_ name, strlen(name));
    BqCPerl_FetchmethodHookFunction hook = BqCPerl_GetFetchmethodHook();
    int routed = hook != NULL && hook(VantlePriv_ObjectStash(aTHX), writable) != NULL;
    const char *method, *qualifier;
    TakePending(aTHX_ &method, &qualifier);
    if (routed && qualifier == NULL) {
	InstallNamedSend(aTHX_ "Vantle::Object", method, NULL);
	XSRETURN(VantlePriv_msg_send(aTHX_ ax, items, method, NULL, 1, 0, NULL, NULL));
    }
    XSRETURN(VantlePriv_msg_send(aTHX_ ax, items, NULL, NULL, 1, 0, name, NULL));
}

XS_INTERNAL(XS_Vantle__Super__AUTOLOAD)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    XSRETURN(VantlePriv_msg_send(aTHX_ ax, items, NULL, NULL, 1, 1, AutoloadName(aTHX_ cv), NULL));
}

/* ---------------------------------------------------------------------
 * Class packages
 *
 * The Perl package of a runtime class inherits from Vantle::RuntimeClass, whose
 * AUTOLOAD sends what the package does not define, and whose isa, can,
 * DOES and VERSION answer for the class (PerlClass.mm).  A package that
 * Perl code defined itself under a class's name is the program's: it has
 * subs or an @ISA of its own.  One found so at boot is left alone; one
 * made so later loses Vantle::RuntimeClass, and the subs installed in it, the
 * first time the module is asked to answer for it.  The package of a
 * class defined in Perl (Vantle::Class) holds that class's subs and still
 * routes the messages it does not define.
 * ------------------------------------------------------------------ */

int
VantlePriv_IsMessageSub(CV *cv)
{
    return cv != NULL && CvISXSUB(cv) && CvXSUB(cv) == XS_Vantle__NamedSend;
}

/* The @ISA of a stash, or null when it has none. */
static AV *
IsaOf(pTHX_ HV *stash)
{
    SV **slot = hv_fetchs(stash, "ISA", 0);
    return slot != NULL && isGV_with_GP(*slot) ? GvAV((GV *) *slot) : NULL;
}

static int
IsClassRoutes(SV *name)
{
    return name != NULL && SvPOK(name) && strEQ(SvPVX(name), VANTLE_CLASS_ROUTES);
}

/* Whether a stash's @ISA names Vantle::Class (others zero), or names
 * any other package (others set). */
static int
IsaNames(pTHX_ HV *stash, int others)
{
    AV *isa = IsaOf(aTHX_ stash);
    SSize_t top = isa != NULL ? av_top_index(isa) : -1;
    for (SSize_t i = 0; i <= top; i++) {
	SV **entry = av_fetch(isa, i, 0);
	if ((entry != NULL && IsClassRoutes(*entry)) == !others) {
	    return 1;
	}
    }
    return 0;
}

/*
 * IsUserPackage --
 *	Whether Perl code gave the stash subs (declared, defined, constant
 *	or imported; not those Perl caches there from its parents, nor the
 *	message subs this module installs) or parents of its own.
 */
static int
IsUserPackage(pTHX_ HV *stash)
{
    if (IsaNames(aTHX_ stash, 1)) {
	return 1;
    }
    if (HvARRAY(stash) == NULL) {
	return 0;
    }
    for (STRLEN i = 0; i <= HvMAX(stash); i++) {
	for (HE *entry = HvARRAY(stash)[i]; entry != NULL; entry = HeNEXT(entry)) {
	    SV *value = HeVAL(entry);
	    if (!isGV_with_GP(value)) {
		if (SvOK(value)) {	/* a constant or a declaration */
		    return 1;
		}
		continue;
	    }
	    CV *cv = GvCV((GV *) value);
	    if (cv != NULL && GvCVGEN((GV *) value) == 0 && !VantlePriv_IsMessageSub(cv)) {
		return 1;
	    }
	}
    }
    return 0;
}

/* Takes Vantle::Class out of a stash's @ISA, and the message subs out of
 * the stash, so Perl's lookup no longer reaches this module. */
static void
GiveUpPackage(pTHX_ HV *stash)
{
    AV *isa = IsaOf(aTHX_ stash);
    if (isa != NULL) {
	AV *kept = (AV *) sv_2mortal((SV *) newAV());
	for (SSize_t i = 0; i <= av_top_index(isa); i++) {
	    SV **entry = av_fetch(isa, i, 0);
	    if (entry != NULL && !IsClassRoutes(*entry)) {
		av_push(kept, newSVsv(*entry));
	    }
	}
	av_clear(isa);
	for (SSize_t i = 0; i <= av_top_index(kept); i++) {
	    av_push(isa, newSVsv(*av_fetch(kept, i, 0)));
	}
    }
    for (STRLEN i = 0; HvARRAY(stash) != NULL && i <= HvMAX(stash); i++) {
	for (HE *entry = HvARRAY(stash)[i]; entry != NULL; entry = HeNEXT(entry)) {
	    GV *gv = (GV *) HeVAL(entry);
	    if (isGV_with_GP(gv) && GvCVGEN(gv) == 0 && VantlePriv_IsMessageSub(GvCV(gv))) {
		CV *cv = GvCV(gv);
		GvCV_set(gv, NULL);
		SvREFCNT_dec(cv);
	    }
	}
    }
    mro_method_changed_in(stash);
}

Class
VantlePriv_ClassPackageClass(pTHX_ HV *stash)
{
    const char *name = stash != NULL ? HvNAME(stash) : NULL;
    Class cls = name != NULL ? objc_lookUpClass(name) : Nil;
    if (cls == Nil || !IsaNames(aTHX_ stash, 0)) {
	return Nil;
    }
    if (VantlePriv_DefinedClassOfPackage(aTHX_ stash) == cls) {
	return cls;
    }
    if (IsUserPackage(aTHX_ stash)) {
	GiveUpPackage(aTHX_ stash);
	return Nil;
    }
    return cls;
}

CV *
VantlePriv_MessageSub(pTHX_ const char *package, const char *perlName, const char *className)
{
    SV *fullName = sv_2mortal(newSVpvf("%s::%s", package, perlName));
    CV *cv = get_cv(SvPVX(fullName), 0);
    if (!VantlePriv_IsMessageSub(cv)) {
	InstallNamedSend(aTHX_ package, perlName, className);
	cv = get_cv(SvPVX(fullName), 0);
    }
    return cv;
}

I32
VantlePriv_CallInPlace(pTHX_ CV *sub, I32 ax, I32 items, I32 flags)
{
    PUSHMARK(PL_stack_base + ax - 1);
    PL_stack_sp = PL_stack_base + ax + items - 1;
    return call_sv((SV *) sub, flags);
}

/*
 * Redispatch --
 *	Calls what Perl's own lookup finds for the method from stash when
 *	this module has no say (an AUTOLOAD of the program's included),
 *	with the same arguments, leaving its answers on the stack.  Nothing
 *	found: DESTROY does nothing, any other name croaks as Perl does.
 */
static I32
Redispatch(pTHX_ CV *self, HV *stash, const char *name, STRLEN length, I32 ax, I32 items)
{
    GV *gv = gv_fetchmethod_pvn_flags(stash, name, length, GV_AUTOLOAD);
    CV *found = gv != NULL && isGV(gv) ? GvCV(gv) : NULL;
    if (found == NULL || found == self) {
	if (length == 7 && memEQ(name, "DESTROY", 7)) {
	    return 0;
	}
	croak("Can't locate object method \"%.*s\" via package \"%s\"", (int) length, name,
		HvNAME(stash));
    }
    return VantlePriv_CallInPlace(aTHX_ found, ax, items, GIMME_V);
}

/*
 * The AUTOLOAD of Vantle::Class, reached for a name that the package of
 * a class does not define: a class message when the invocant is a class
 * name (as the class-method hook decides), a message to super starting at
 * the package's class when it is a handle.  Perl passes the name and the
 * package the lookup started from in the sub itself.  DESTROY is never a
 * message; a package that is not one of the class packages gets Perl's
 * own lookup.
 */
XS_INTERNAL(XS_Vantle__ClassAutoload)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    /* Copied: a lookup made below may store another name in the sub. */
    STRLEN length = SvPVX(cv) != NULL ? SvCUR(cv) : 0;
    char *name = TemporaryCopy(aTHX_ length > 0 ? SvPVX(cv) : "", length);
    HV *stash = CvSTASH(cv);
    if (stash == NULL || items < 1) {
	croak("Usage: %s::%s(receiver, ...)", stash != NULL ? HvNAME(stash) : "?", name);
    }
    SV *refused = NulInName(aTHX_ items > 0 && SvROK(ST(0)) ? "Vantle::msg_send_super"
	    : "Vantle::msg_send", name, length);
    if (refused != NULL) {
	croak_sv(sv_2mortal(refused));
    }
    if (VantlePriv_ClassPackageClass(aTHX_ stash) == Nil) {
	XSRETURN(Redispatch(aTHX_ cv, stash, name, length, ax, items));
    }
    if (strEQ(name, "DESTROY")) {
	XSRETURN_EMPTY;
    }
    const char *package = HvNAME(stash);
    if (SvROK(ST(0)) && VantlePriv_DefinedClassOfPackage(aTHX_ stash) != Nil) {
	/* Perl found no sub of the class's own: $self->SUPER::name in a
	 * method, or a qualified call, both of which mean the inherited
	 * method. */
	VantleMethodFrame *frame = VantlePriv_GetSuper(aTHX);
	const char *start = frame != NULL ? "SUPER"
	    : class_getName(class_getSuperclass(objc_lookUpClass(package)));
	XSRETURN(VantlePriv_msg_send(aTHX_ ax, items, name, start, 1, 1, NULL, NULL));
    }
    if (SvROK(ST(0))) {
	InstallNamedSend(aTHX_ package, name, package);
	XSRETURN(VantlePriv_msg_send(aTHX_ ax, items, name, package, 1, 1, NULL, NULL));
    }
    BqCPerl_MethodHookFunction hook = BqCPerl_GetMethodHook();
    SV *methodName = sv_2mortal(newSVpv(name, 0));
    SV *invocant = sv_2mortal(newSVpv(package, 0));
    int routed = hook != NULL && hook(invocant, methodName) != NULL;
    /* The send is told the names itself. */
    ClearPending(aTHX);
    if (!routed) {
	croak("Can't locate object method \"%s\" via package \"%s\"", name, package);
    }
    InstallNamedSend(aTHX_ package, name, package);
    XSRETURN(VantlePriv_msg_send(aTHX_ ax, items, name, package, 1, 0, NULL, NULL));
}

void
VantlePriv_MakeClassPackage(pTHX_ const char *className)
{
    if (className == NULL) {
	return;
    }
    HV *stash = gv_stashpv(className, 0);
    if (stash != NULL && (IsaNames(aTHX_ stash, 0) || IsUserPackage(aTHX_ stash))) {
	return;
    }
    /* Runs for every class at boot: the name is built on the C stack,
     * not in a mortal. */
    char stack[256];
    size_t length = strlen(className);
    char *name = length + sizeof "::ISA" <= sizeof stack
	? stack : (char *) safemalloc(length + sizeof "::ISA");
    memcpy(name, className, length);
    memcpy(name + length, "::ISA", sizeof "::ISA");
    av_push(get_av(name, GV_ADD), newSVpvs(VANTLE_CLASS_ROUTES));
    if (name != stack) {
	safefree(name);
    }
}

/* ---------------------------------------------------------------------
 * Registration
 * ------------------------------------------------------------------ */

XS_INTERNAL(XS_Vantle__super)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    if (items != 0) {
	croak("Usage: Vantle::super");
    }
    VantleContext *context = VantlePriv_Context(aTHX);
    if (context->superMarker == NULL) {
	SV *referent = newSVpvs("super");
	SV *marker = newRV_noinc(referent);
	sv_bless(marker, gv_stashpvs("Vantle::Super", GV_ADD));
	SvREADONLY_on(referent);
	SvREADONLY_on(marker);
	context->superMarker = marker;
    }
    EXTEND(SP, 1);
    ST(0) = context->superMarker;
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__info)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    PERL_UNUSED_VAR(items);
    BqCPerl_SetInterp(aTHX);
    EXTEND(SP, 1);
    ST(0) = sv_2mortal(newSVpvf("Vantle %s (%s), Perl and Objective-C in one process: "
	    "Linux x86_64, GCC libobjc, GNUstep-base\n", Vantle_VersionName(), Vantle_BuildDate()));
    XSRETURN(1);
}

void
VantlePriv_BootMsgSend(pTHX)
{
    newXS("Vantle::Object::AUTOLOAD", XS_Vantle__Object__AUTOLOAD, "Vantle");
    newXS("Vantle::Super::AUTOLOAD", XS_Vantle__Super__AUTOLOAD, "Vantle");
    newXS("Vantle::msg_send", XS_Vantle__msg_send, "Vantle");
    newXS("Vantle::fast_msg_send", XS_Vantle__fast_msg_send, "Vantle");
    newXS("Vantle::msg_send_super", XS_Vantle__msg_send_super, "Vantle");
    newXS("Vantle::class_msg_send", XS_Vantle__class_msg_send, "Vantle");
    newXS("Vantle::super", XS_Vantle__super, "Vantle");
    newXS("Vantle::info", XS_Vantle__info, "Vantle");
    newXS(VANTLE_CLASS_ROUTES "::AUTOLOAD", XS_Vantle__ClassAutoload, "Vantle");

    KxClassIterator state = KxClassIteratorStart();
    Class cls;
    while (KxClassIteratorNext(&state, &cls)) {
	VantlePriv_MakeClassPackage(aTHX_ class_getName(cls));
    }
}
