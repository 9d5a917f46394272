/*
 * DravikMagicContext.mm --
 *
 *	The state retaining containers keep per Perl interpreter (Perl's
 *	MY_CXT): the stash of Dravik::Magic, looked up once, and the inner
 *	hash the last FIRSTKEY or NEXTKEY walked.  Every interpreter that
 *	boots Dravik, and every interpreter Perl's threads clone from one
 *	(Dravik::Magic::CLONE), has its own; it is let go when the
 *	interpreter is destroyed (an exit-list function, which Perl calls
 *	after the interpreter's objects got their DESTROY).
 *
 *	The last walked hash is held by a weak reference, which Perl clears
 *	when the hash is freed: a hash freed in the middle of a walk is never
 *	compared or walked again, whatever freed it.
 */
#include "DravikMagicPriv.h"

#define MY_CXT_KEY "Dravik::Magic::_context"

typedef struct {
    PerlInterpreter *owner;	/* the interpreter it belongs to */
    HV *stash;			/* Dravik::Magic, or null until needed */
    SV *lastWalked;		/* weak reference to an inner hash, or undef */
} my_cxt_t;

START_MY_CXT

/*
 * The context's address is also kept in the interpreter's PL_modglobal
 * under this key: it tells whether an interpreter has a context of its
 * own (a clone holds its parent's until CLONE runs; a slot of Perl's
 * context list that was never set holds garbage).
 */
#define CONTEXT_KEY "Dravik::Magic::_context"

/* The context this interpreter's PL_modglobal names, when it is its own. */
static my_cxt_t *
OwnContext(pTHX)
{
    SV **slot = hv_fetchs(PL_modglobal, CONTEXT_KEY, 0);
    if (slot == NULL || !SvIOK(*slot)) {
	return NULL;
    }
    my_cxt_t *context = INT2PTR(my_cxt_t *, SvIVX(*slot));
    return context->owner == aTHX ? context : NULL;
}

/*
 * ContextEnd --
 *	Exit-list function: the interpreter is being destroyed, after its
 *	objects had their DESTROY.
 */
static void
ContextEnd(pTHX_ void *unused)
{
    PERL_UNUSED_ARG(unused);
    dMY_CXT;
    SvREFCNT_dec(MY_CXT.lastWalked);
    MY_CXT.lastWalked = NULL;
    MY_CXT.stash = NULL;
}

/* Fills a context that belongs to no interpreter yet, and makes it the
 * interpreter's. */
static void
StartContext(pTHX_ my_cxt_t *context)
{
    context->owner = aTHX;
    context->stash = NULL;
    context->lastWalked = newSV(0);
    (void) hv_stores(PL_modglobal, CONTEXT_KEY, newSViv(PTR2IV(context)));
    call_atexit(ContextEnd, NULL);
}

/* Gives the interpreter a context when it has none of its own. */
void
DravikPriv_MagicContextBoot(pTHX)
{
    if (OwnContext(aTHX) != NULL) {
	return;
    }
    MY_CXT_INIT;
    StartContext(aTHX_ &MY_CXT);
}

/*
 * Context --
 *	The running interpreter's context; one is made for an interpreter
 *	that has none of its own yet (the module must have booted in it, or
 *	be booting).
 */
static inline my_cxt_t *
Context(pTHX)
{
    if (my_cxt_index >= 0 && my_cxt_index < PL_my_cxt_size) {
	my_cxt_t *context = (my_cxt_t *) PL_my_cxt_list[my_cxt_index];
	if (context->owner == aTHX) {
	    return context;
	}
    }
    DravikPriv_MagicContextBoot(aTHX);
    dMY_CXT;
    return &MY_CXT;
}

/* The stash of Dravik::Magic, looked up (and made) on first use. */
HV *
DravikPriv_MagicStash(pTHX)
{
    my_cxt_t *context = Context(aTHX);
    if (context->stash == NULL) {
	context->stash = gv_stashpvs("Dravik::Magic", GV_ADD);
    }
    return context->stash;
}

/* Whether inner is the hash the last FIRSTKEY or NEXTKEY walked. */
int
DravikPriv_IsLastWalked(pTHX_ HV *inner)
{
    SV *walked = Context(aTHX)->lastWalked;
    return walked != NULL && SvROK(walked) && SvRV(walked) == (SV *) inner;
}

/* Records inner as the last walked hash, by a weak reference. */
void
DravikPriv_SetLastWalked(pTHX_ HV *inner)
{
    SV *walked = Context(aTHX)->lastWalked;
    if (walked == NULL || (SvROK(walked) && SvRV(walked) == (SV *) inner)) {
	return;
    }
    sv_setrv_inc(walked, (SV *) inner);
    sv_rvweaken(walked);
}

/* Forgets inner as the last walked hash, when it is. */
void
DravikPriv_ForgetWalk(pTHX_ HV *inner)
{
    SV *walked = Context(aTHX)->lastWalked;
    if (walked != NULL && SvROK(walked) && SvRV(walked) == (SV *) inner) {
	sv_set_undef(walked);
    }
}

/*
 *----------------------------------------------------------------------
 * Dravik::Magic::CLONE --
 *	Perl calls it in every interpreter it clones for a new thread, with
 *	that interpreter current.  The copied context (which names the
 *	parent's stash and hash) is replaced by a fresh one.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__Magic__CLONE)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    PERL_UNUSED_VAR(items);
    BqCPerl_SetInterp(aTHX);
    if (OwnContext(aTHX) == NULL) {
	MY_CXT_CLONE;
	StartContext(aTHX_ &MY_CXT);
    }
    XSRETURN_EMPTY;
}

/* The context, and Dravik::Magic::CLONE, which makes a clone's own. */
void
DravikPriv_BootMagicContext(pTHX)
{
    DravikPriv_MagicContextBoot(aTHX);
    newXS("Dravik::Magic::CLONE", XS_Dravik__Magic__CLONE, "Dravik");
}
