/*
 * PerlContext.mm --
 *
 *	The binding's per-interpreter state (Perl's MY_CXT) and its life
 *	cycle: made when an interpreter boots the module, copied and reset
 *	when Perl's threads clone an interpreter (Vantle::CLONE, which Perl
 *	calls with the new interpreter current), and let go when the
 *	interpreter is destroyed (an exit-list function, which Perl calls
 *	after the interpreter's objects got their DESTROY).
 *
 *	Nothing of the module crosses into a new thread: handles and typed
 *	pointers are skipped by the clone (CLONE_SKIP), so they are undef
 *	there, and the new interpreter makes its own.
 */
#import <Foundation/Foundation.h>

#include "PerlContext.h"
#include "PerlDefinedClass.h"
#include "PerlStringCache.h"
#include "VantlePriv.h"

#define MY_CXT_KEY "Vantle::_context"

typedef VantleContext my_cxt_t;

/* Perl's MY_CXT, with the slot's index in a variable the inline accessor
 * of PerlContext.h reads (START_MY_CXT would make it static here). */
int VantlePriv_ContextIndex = -1;
#undef MY_CXT_INDEX
#define MY_CXT_INDEX VantlePriv_ContextIndex
#undef MY_CXT_INIT_ARG
#define MY_CXT_INIT_ARG &VantlePriv_ContextIndex

/*
 * The context's address is also kept in the interpreter's PL_modglobal
 * under this key.  That is what tells, at boot and in CLONE, whether an
 * interpreter has a context of its own: a slot of Perl's context list that
 * was never set holds garbage, and a clone's slot (and PL_modglobal)
 * hold its parent's context until CLONE runs.
 */
#define CONTEXT_KEY "Vantle::_context"

/* The context this interpreter's PL_modglobal names, when it is its own. */
static VantleContext *
OwnContext(pTHX)
{
    SV **slot = hv_fetchs(PL_modglobal, CONTEXT_KEY, 0);
    if (slot == NULL || !SvIOK(*slot)) {
	return NULL;
    }
    VantleContext *context = INT2PTR(VantleContext *, SvIVX(*slot));
    return context->owner == aTHX ? context : NULL;
}

VantleContext *
VantlePriv_ContextSlow(pTHX)
{
    VantlePriv_ContextBoot(aTHX);
    dMY_CXT;
    return &MY_CXT;
}

/*
 * ContextEnd --
 *	Exit-list function: the interpreter is being destroyed.  Its
 *	handles' referents are about to be freed, so its registry leaves the
 *	process-wide list first.
 */
static void
ContextEnd(pTHX_ void *unused)
{
    PERL_UNUSED_ARG(unused);
    dMY_CXT;
    VantlePriv_DefinedClassesEnd(aTHX);
    VantlePriv_HandleRegistryEnd(aTHX_ &MY_CXT);
    VantlePriv_StringCacheEnd(&MY_CXT);
    [MY_CXT.sendException release];
    MY_CXT.sendException = nil;
    SvREFCNT_dec(MY_CXT.sendErrorText);
    MY_CXT.sendErrorText = NULL;
}

/* Fills a context that belongs to no interpreter yet, and makes it the
 * interpreter's. */
static void
StartContext(pTHX_ VantleContext *context)
{
    memset(context, 0, sizeof *context);
    context->owner = aTHX;
    VantlePriv_DefinedClassesStart(aTHX);
    VantlePriv_HandleRegistryInit(aTHX_ context);
    (void) hv_stores(PL_modglobal, CONTEXT_KEY, newSViv(PTR2IV(context)));
    call_atexit(ContextEnd, NULL);
}

void
VantlePriv_ContextBoot(pTHX)
{
    if (OwnContext(aTHX) != NULL) {
	return;
    }
    MY_CXT_INIT;
    StartContext(aTHX_ &MY_CXT);
}

/*
 *----------------------------------------------------------------------
 * Vantle::CLONE --
 *	Perl calls it in every interpreter it clones for a new thread, with
 *	that interpreter current (on the thread that asked for the clone).
 *	The copied context is replaced by a fresh one, and the interpreter
 *	gets an interpreter object of its own.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__CLONE)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    PERL_UNUSED_VAR(items);
    BqCPerl_SetInterp(aTHX);
    if (OwnContext(aTHX) == NULL) {
	MY_CXT_CLONE;
	StartContext(aTHX_ &MY_CXT);
    }
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    int made = VantlePriv_Guard(&errors, [&] { VantlePriv_EnsureInterpObject(aTHX); });
    if (!made) {
	warn("Vantle: no interpreter object in the new thread: %s", Tcl_DStringValue(&errors));
    }
    Tcl_DStringFree(&errors);
    XSRETURN_EMPTY;
}

/* CLONE_SKIP: objects of the package are not copied into new threads. */
XS_INTERNAL(XS_Vantle__CloneSkip)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    PERL_UNUSED_VAR(items);
    XSRETURN_YES;
}

void
VantlePriv_BootContext(pTHX)
{
    newXS("Vantle::CLONE", XS_Vantle__CLONE, "Vantle");
    newXS("Vantle::Object::CLONE_SKIP", XS_Vantle__CloneSkip, "Vantle");
    newXS("Vantle::Ptr::CLONE_SKIP", XS_Vantle__CloneSkip, "Vantle");
}
