/*
 * PerlInstanceState.mm --
 *
 *	What an instance of a class defined in Perl keeps for Perl
 *	(PerlDefinedClass.h): its own read-only handle, so self costs no new
 *	handle per message, and its Perl data hash ($self->perl_data).  The
 *	state is made on first need in the interpreter that needs it and
 *	freed as the instance is deallocated: in its own interpreter, later
 *	in that interpreter when another thread deallocates the instance, or
 *	with the interpreter's end.
 */
#import <Foundation/Foundation.h>

#include "PerlDefinedClass.h"
#include "Class.h"
#include "KxLock.h"
#include "KxPointerMap.h"

#include <stdlib.h>

/* Every instance state that holds Perl values (state -> state), so an
 * interpreter that ends can let go of its own; and the states of
 * instances freed on a thread whose interpreter does not own them, left
 * for the owner to free (a Perl value is only touched by its own). */
static KxSpinLock statesLock = KX_SPIN_LOCK_INITIALIZER;
static KxPointerMap liveStates;
static int liveStatesReady;
static KxPointerMap orphanStates;
static int orphanCount;

/* ---------------------------------------------------------------------
 * Instance state
 * ------------------------------------------------------------------ */

/* A handle of object that a record keeps: read-only, because the methods
 * get it as their first argument itself, not a copy. */
SV *
VantlePriv_NewKeptHandle(pTHX_ id object)
{
    SV *handle = newSV(0);
    Vantle_SVSetObject(handle, object, NULL);
    SvREADONLY_on(handle);
    return handle;
}

static VantleInstanceState **
StateSlot(id object, VantleDefinedClass *record)
{
    return (VantleInstanceState **) ((char *) object + record->stateOffset);
}

/* Lets go of a state's Perl values in their own interpreter and frees
 * it.  Freeing the data may run DESTROY subs: Perl traps their errors. */
static void
ReleaseState(pTHX_ VantleInstanceState *state)
{
    HV *data = state->data;
    SV *self = state->self;
    free(state);
    SvREFCNT_dec(data);
    SvREFCNT_dec(self);
}

/* Frees the states that other threads left for the running interpreter. */
static void
ReleaseOrphans(pTHX)
{
    VantleInstanceState *mine[64];
    int count = 0;
    {
	KxSpinGuard guard(&statesLock);
	for (size_t i = 0; i < orphanStates.capacity && count < 64; i++) {
	    VantleInstanceState *state = (VantleInstanceState *) orphanStates.slots[i].value;
	    if (orphanStates.slots[i].key != NULL && state->owner == aTHX) {
		mine[count++] = state;
	    }
	}
	for (int i = 0; i < count; i++) {
	    KxPointerMapRemove(&orphanStates, mine[i]);
	}
	orphanCount = (int) orphanStates.count;
    }
    for (int i = 0; i < count; i++) {
	ReleaseState(aTHX_ mine[i]);
    }
}

VantleInstanceState *
VantlePriv_InstanceState(pTHX_ id object, VantleDefinedClass *record, int make)
{
    if (__builtin_expect(__atomic_load_n(&orphanCount, __ATOMIC_RELAXED) != 0, 0)) {
	ReleaseOrphans(aTHX);
    }
    VantleInstanceState **slot = StateSlot(object, record);
    VantleInstanceState *state = *slot;
    if (state != NULL || !make) {
	return state;
    }
    state = (VantleInstanceState *) calloc(1, sizeof *state);
    if (state == NULL) {
	return NULL;
    }
    state->owner = aTHX;
    state->self = VantlePriv_NewKeptHandle(aTHX_ object);
    {
	KxSpinGuard guard(&statesLock);
	if (!liveStatesReady) {
	    KxPointerMapInit(&liveStates);
	    KxPointerMapInit(&orphanStates);
	    liveStatesReady = 1;
	}
	if (KxPointerMapPut(&liveStates, state, state) != 0) {
	    state->owner = NULL;	/* untracked: never kept past this call */
	}
    }
    if (state->owner == NULL) {
	SvREFCNT_dec(state->self);
	free(state);
	return NULL;
    }
    *slot = state;
    return state;
}

/*
 * VantlePriv_FreeInstanceState --
 *	The instance is being deallocated: its state goes, in the owner's
 *	interpreter when that is the running one, else later in the owner,
 *	or at once when the owner has ended (its values went with it).
 */
void
VantlePriv_FreeInstanceState(id object, VantleDefinedClass *record)
{
    VantleInstanceState **slot = StateSlot(object, record);
    VantleInstanceState *state = *slot;
    if (state == NULL) {
	return;
    }
    *slot = NULL;
    PerlInterpreter *running = _bqcperl_interp;
    {
	KxSpinGuard guard(&statesLock);
	KxPointerMapRemove(&liveStates, state);
	if (state->owner != NULL && state->owner != running) {
	    if (KxPointerMapPut(&orphanStates, state, state) == 0) {
		orphanCount = (int) orphanStates.count;
		return;
	    }
	    state->owner = NULL;	/* no room: its values are given up */
	}
    }
    if (state->owner == NULL) {
	free(state);
	return;
    }
    dTHXa(running);
    ReleaseState(aTHX_ state);
}

/* ---------------------------------------------------------------------
 * Perl data
 * ------------------------------------------------------------------ */

/*
 *----------------------------------------------------------------------
 * Vantle::Object::perl_data --
 *	(object): a reference to the instance's own Perl hash, made on first
 *	use and freed when the object is deallocated.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__Object__perl_data)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    if (items != 1) {
	croak("Usage: Vantle::Object::perl_data(object)");
    }
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    char failed = 0;
    id object = Vantle_SVGetObject2(ST(0), &errors, &failed);
    if (failed) {
	CROAK_FREEING(&errors, "Vantle::Object::perl_data: %s", Tcl_DStringValue(&errors));
    }
    Tcl_DStringFree(&errors);
    VantleDefinedClass *record = object != nil && !BqOsmo_IsClass(object)
	? VantlePriv_DefinedAncestor(object_getClass(object)) : NULL;
    if (record == NULL) {
	croak("Vantle::Object::perl_data: %s is not an instance of a class defined in Perl",
		object == nil ? "nil" : BqOsmo_IsClass(object) ? "a class"
		: class_getName(object_getClass(object)));
    }
    VantleInstanceState *state = VantlePriv_InstanceState(aTHX_ object, record, 1);
    if (state == NULL || state->owner != aTHX) {
	croak("Vantle::Object::perl_data: the %s belongs to another Perl interpreter",
		class_getName(object_getClass(object)));
    }
    if (state->data == NULL) {
	state->data = newHV();
    }
    ST(0) = sv_2mortal(newRV_inc((SV *) state->data));
    XSRETURN(1);
}

void
VantlePriv_InstanceStatesEnd(pTHX_ AV *values)
{
    VantleInstanceState **mine = NULL;
    size_t count = 0;
    {
	KxSpinGuard guard(&statesLock);
	KxPointerMap *maps[2] = { &liveStates, &orphanStates };
	for (int m = 0; liveStatesReady && m < 2; m++) {
	    for (size_t i = 0; i < maps[m]->capacity; i++) {
		VantleInstanceState *state = (VantleInstanceState *) maps[m]->slots[i].value;
		if (maps[m]->slots[i].key == NULL || state->owner != aTHX) {
		    continue;
		}
		state->owner = NULL;
		if (state->self != NULL) {
		    av_push(values, state->self);
		}
		if (state->data != NULL) {
		    av_push(values, (SV *) state->data);
		}
		state->self = NULL;
		state->data = NULL;
		if (m == 1) {
		    VantleInstanceState **grown = (VantleInstanceState **) realloc(mine,
			    sizeof *grown * (count + 1));
		    if (grown != NULL) {
			mine = grown;
			mine[count++] = state;
		    }
		}
	    }
	}
	for (size_t i = 0; i < count; i++) {
	    KxPointerMapRemove(&orphanStates, mine[i]);
	}
	orphanCount = liveStatesReady ? (int) orphanStates.count : 0;
    }
    for (size_t i = 0; i < count; i++) {
	free(mine[i]);
    }
    free(mine);
}

void
VantlePriv_BootInstanceState(pTHX)
{
    newXS("Vantle::Object::perl_data", XS_Vantle__Object__perl_data, "Vantle");
}
