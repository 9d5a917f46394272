/*
 * VantlePriv.h --
 *
 *	What the files of the Perl binding share among themselves: the
 *	start-up steps, the cached stash and classes, the binding's control
 *	flags, and the XS subs that the boot sub registers.  The guard, the
 *	trap and the thread entry they use come from the Perl plumbing
 *	below the binding.  What each interpreter keeps for itself is in
 *	PerlContext.h.
 */
#ifndef VANTLE_PRIV_H
#define VANTLE_PRIV_H

#include "Vantle.h"
#include "PerlGuard.h"
#include "PerlThread.h"
#include "PerlTrap.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Start-up steps run by the boot sub.
 */

/* Idempotent: the deallocation observer of the handle registries. */
void VantlePriv_SymtabInit(void);
/* The handle registry of one interpreter: made with its context, and
 * taken out of the process-wide list when the interpreter is destroyed
 * (after which its handles are never touched again). */
struct VantleContext;
void VantlePriv_HandleRegistryInit(pTHX_ struct VantleContext *context);
void VantlePriv_HandleRegistryEnd(pTHX_ struct VantleContext *context);
/* Forgets the object of a handle referent in the running interpreter
 * only, marking the referent as deallocated: what the referent's free
 * hook does when the last handle goes.  A referent that is not its object's registered one
 * (a scalar Perl code blessed itself), nil and dead ones change nothing.
 * Vantle_UnregisterObject forgets an object in every interpreter. */
void VantlePriv_ForgetReferent(pTHX_ SV *referent);
/* Makes sure the running interpreter has its interpreter object (made
 * the default when it is the first); runs under the caller's guard.  The
 * interpreter object belongs to the embedding side, above the binding:
 * its class installs the maker when the runtime loads it. */
typedef void (*VantlePriv_InterpObjectMaker)(pTHX);
void VantlePriv_SetInterpObjectMaker(VantlePriv_InterpObjectMaker maker);
void VantlePriv_EnsureInterpObject(pTHX);
/* Fills the Foundation class caches (once the runtime is up). */
void VantlePriv_ConvertInit(void);
/* Ties %Vantle::CONTROL in the current interpreter and fills the control
 * table's pointers to the runtime's control block. */
void VantlePriv_ControlInterpInit(void);

/*
 * Object handles.
 */

/* The stash of Vantle::Object, created on first use and then cached. */
HV  *VantlePriv_ObjectStash(pTHX);
/* The referent of sv when sv is a handle (a reference to a referent
 * blessed into Vantle::Object), else null.  No magic is run. */
SV  *VantlePriv_HandleReferent(pTHX_ SV *sv);
/* The magic of a handle referent (whose pointer holds the referent's
 * views); when it has none (a scalar Perl code blessed itself), a new
 * one if make is set, else null. */
MAGIC *VantlePriv_ReferentMagic(pTHX_ SV *referent, int make);
/* When sv is a genuine handle of the running interpreter whose object is
 * live (or nil), stores the object and answers 1; otherwise answers 0,
 * leaving the reason to the full conversions.  Runs no magic.  With
 * checkedPtr, also says whether the object passed the validity check when
 * a handle of it was made (it needs none again while it lives). */
int  VantlePriv_LiveHandleObject(pTHX_ SV *sv, id *objectPtr, int *checkedPtr);
/* Vantle_SVIsNil and Vantle_SVIsObject for a value whose get-magic has
 * already run. */
int  VantlePriv_SVIsNilNM(pTHX_ SV *sv);
int  VantlePriv_SVIsObjectNM(pTHX_ SV *sv);

/*
 * Conversion.
 */

/* Foundation classes (null when not loaded) and the shared BqNil. */
extern Class VantlePriv_NSStringClass;
extern Class VantlePriv_NSMutableStringClass;
extern Class VantlePriv_NSArrayClass;
extern Class VantlePriv_NSMutableArrayClass;
extern Class VantlePriv_NSDictionaryClass;
extern Class VantlePriv_NSMutableDictionaryClass;
extern Class VantlePriv_NSNumberClass;
extern id    VantlePriv_NilObject;

/* True when object is an instance of cls or of a subclass.  Asks the
 * runtime, never the object, so it works for any root class and never
 * raises.  As in the runtime, a class object counts as an instance of its
 * root class only. */
int  VantlePriv_IsKindOfClass(id object, Class cls);

/* Prepares a conversion run by Perl-called code, inside the caller's
 * ENTER/LEAVE: initialises errors and arranges for LEAVE (or a Perl error
 * unwinding through the scope) to free it.  A Perl error raised by tied
 * data or a converter hook then leaves no leak; the depth counters are
 * restored by the nested conversions that raise them.  Take the message
 * out of errors before LEAVE. */
void VantlePriv_EnterConversion(pTHX_ Tcl_DString *errors);

/*
 * Controls of the binding: one byte each, nonzero is on.
 */
extern unsigned char VantlePriv_PerlAutoConvert;
extern unsigned char VantlePriv_PerlSelectorMap;
extern unsigned char VantlePriv_VantleVerbose;
extern unsigned char VantlePriv_PerlifyFoundation;
extern unsigned char VantlePriv_HashPerlify;

/*
 * XS subs registered by the boot sub, by file.
 */
void VantlePriv_BootConvert(pTHX);	/* Vantle::obj, Vantle::pl, Vantle::data */
void VantlePriv_BootPool(pTHX);		/* Vantle::autorelease_pool and its pools */
void VantlePriv_BootControl(pTHX);	/* Vantle::Control::* */
void VantlePriv_BootPointer(pTHX);	/* Vantle::Ptr::* */
void VantlePriv_BootClass(pTHX);	/* Vantle::class, Vantle::class_lookup,
					 * isa, can, DOES, VERSION */
void VantlePriv_BootIVar(pTHX);		/* Vantle::ivar*, Vantle::IVar::* */
void VantlePriv_BootObjectTie(pTHX);	/* Vantle::Object tie methods */
void VantlePriv_BootDefinedClass(pTHX);	/* Vantle::Class::*, perl_data */

/* The method context of a message to super: the innermost method
 * defined in Perl running in the interpreter, or null. */
struct VantleMethodFrame;
struct VantleMethodFrame *VantlePriv_GetSuper(pTHX);
void VantlePriv_BootLinkVar(pTHX);	/* Vantle::LinkVar::FETCH, STORE */

#ifdef __cplusplus
}
#endif

#endif /* VANTLE_PRIV_H */
