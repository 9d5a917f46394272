/*
 * PerlContext.h --
 *
 *	The binding's state per Perl interpreter.  Every interpreter that
 *	loads the module, and every interpreter that Perl's threads clone
 *	from one, has a context of its own (Perl's MY_CXT), so handles,
 *	stashes and caches of one interpreter are never seen by another.
 *
 *	What stays process-wide, and why: the runtime layer's registries
 *	(each guarded by a lock of its own), the C type table and the
 *	selector map (filled at start-up, read afterwards), the control flags
 *	(one block of switches for the whole process), and the converter
 *	hooks.
 */
#ifndef PERL_CONTEXT_H
#define PERL_CONTEXT_H

#include "bqcperl.h"
#include "KxMessaging.h"

#ifdef __cplusplus
extern "C" {
#endif

struct HandleRegistry;
struct StringCache;

/*
 * VantleMethodFrame --
 *	A Perl sub running as a method of a class defined in Perl: where
 *	messages to super start (the receiver, and the superclass of the
 *	method's class, or its metaclass for a class method), and whether
 *	the method is the class's dealloc (whose superclass's dealloc runs
 *	after it by itself).  Frames live on the C stack of the call and
 *	nest with the calls.
 */
typedef struct VantleMethodFrame {
    struct objc_super super;
    int inDealloc;
} VantleMethodFrame;

typedef struct VantleContext {
    PerlInterpreter *owner;		/* the interpreter it belongs to */
    struct HandleRegistry *handles;	/* object -> referent, PerlHandles */
    struct StringCache *strings;	/* recent short strings, PerlStringCache */
    HV *objectStash;			/* Vantle::Object */
    HV *controlStash;			/* Vantle::Control */
    HV *linkStash;			/* Vantle::LinkVar */
    HV *ivarStash;			/* Vantle::IVar */
    HV *pointerStash;			/* Vantle::Ptr */
    /* Containers being converted around the current value, per
     * direction (PerlConvert). */
    int perlToObjectDepth;
    int objectToPerlDepth;
    /* The message send (PerlMsgSend): the method and class names a hook
     * hands to the entry point Perl calls next (which takes them),
     * the globs the hooks answer, and the marker of sends to super. */
    const char *pendingMethodName;
    const char *pendingClassName;
    GV *fastSendGlob;
    GV *classSendGlob;
    SV *superMarker;
    /* The innermost Perl method running (PerlMethodCall), or null. */
    VantleMethodFrame *methodFrame;
    /* The exception that ended the last failed send, retained, and the
     * message the send died with: a Perl method that lets that message
     * through raises the exception itself to its caller. */
    id sendException;
    SV *sendErrorText;
} VantleContext;

/* The slot of the context in Perl's per-interpreter context list (MY_CXT),
 * the same for every interpreter; -1 until the first boot. */
extern int VantlePriv_ContextIndex;

/* The context of an interpreter whose slot does not hold its own yet. */
VantleContext *VantlePriv_ContextSlow(pTHX);

/*
 * VantlePriv_Context --
 *	The running interpreter's context, valid until the interpreter is
 *	destroyed.  The module must have booted in the interpreter (every XS
 *	sub and every interpreter object ensure it).  A clone whose CLONE has
 *	not run yet still holds its parent's context: it gets a fresh one
 *	from the slow path, so no interpreter ever works on another's.
 *	On the path of every message: inline, and a few loads.
 */
static inline VantleContext *
VantlePriv_Context(pTHX)
{
    int index = VantlePriv_ContextIndex;
    if (__builtin_expect(index >= 0 && index < PL_my_cxt_size, 1)) {
	VantleContext *context = (VantleContext *) PL_my_cxt_list[index];
	if (__builtin_expect(context->owner == aTHX, 1)) {
	    return context;
	}
    }
    return VantlePriv_ContextSlow(aTHX);
}

/* Makes the context of an interpreter that boots the module; a second
 * boot in the same interpreter keeps the context it has. */
void VantlePriv_ContextBoot(pTHX);

/* Registers Vantle::CLONE, which gives a cloned interpreter its own
 * context, and the CLONE_SKIP subs that keep handles and typed
 * pointers out of new threads. */
void VantlePriv_BootContext(pTHX);

#ifdef __cplusplus
}
#endif

#endif /* PERL_CONTEXT_H */
