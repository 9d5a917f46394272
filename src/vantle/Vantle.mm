/*
 * Vantle.mm --
 *
 *	The module's boot sub and the small subs beside it: Vantle::nil,
 *	Vantle::object_is_bad, Vantle::Object::DESTROY, and the two
 *	dereference hooks that turn a handle into a tied hash or array.
 */
#import <Foundation/Foundation.h>

#include "VantlePriv.h"
#include "PerlContext.h"
#include "PerlCTypes.h"
#include "PerlMsgSend.h"
#include "PerlSelectorMap.h"
#include "PerlOverload.h"
#include "PerlTiedView.h"
#include "BqOsmo.h"

/*
 *----------------------------------------------------------------------
 * DereferencedReferent --
 *	The handle referent behind a dereference of sv: sv's referent when
 *	sv is a handle, sv itself when it is a handle's referent, else null.
 *----------------------------------------------------------------------
 */
static SV *
DereferencedReferent(pTHX_ SV *sv)
{
    SV *referent = VantlePriv_HandleReferent(aTHX_ sv);
    if (referent != NULL) {
	return referent;
    }
    if (SvOBJECT(sv) && SvSTASH(sv) == VantlePriv_ObjectStash(aTHX)) {
	return sv;
    }
    return NULL;
}

/*
 *----------------------------------------------------------------------
 * HashDereferenceHook, ArrayDereferenceHook --
 *	For a handle (or a handle's referent), its view: a container tied
 *	to a handle of the same referent, the same one while it lives, so
 *	element access reaches the tie methods of Vantle::Object and Perl's
 *	iterators in the container survive between statements.  For
 *	anything else, null.
 *----------------------------------------------------------------------
 */
static HV *
HashDereferenceHook(SV *sv)
{
    BQCPERL_dTHX;
    SV *referent = DereferencedReferent(aTHX_ sv);
    return referent != NULL ? (HV *) VantlePriv_HandleView(aTHX_ referent, SVt_PVHV) : NULL;
}

static AV *
ArrayDereferenceHook(SV *sv)
{
    BQCPERL_dTHX;
    SV *referent = DereferencedReferent(aTHX_ sv);
    return referent != NULL ? (AV *) VantlePriv_HandleView(aTHX_ referent, SVt_PVAV) : NULL;
}

/* The hooks live for the process; they are installed by the first boot. */
static void
InstallHooks(void)
{
    BqCPerl_setMethodHook(VantlePriv_ClassMethodHook);
    BqCPerl_setFetchmethodHook(VantlePriv_FetchMethodHook);
    BqCPerl_setRV2HVHook(HashDereferenceHook);
    BqCPerl_setRV2AVHook(ArrayDereferenceHook);
}

static void
InstallHooksOnce(void)
{
    static pthread_once_t installed = PTHREAD_ONCE_INIT;
    pthread_once(&installed, InstallHooks);
}

/*
 *----------------------------------------------------------------------
 * Vantle::nil --
 *	No argument: a nil handle.  One argument: 1 when it is nil, 0 when
 *	it is another object, an error when it is no object at all.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__nil)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items > 1) {
	croak("Usage: Vantle::nil() or Vantle::nil(obj)");
    }
    if (items == 0) {
	SV *handle = sv_newmortal();
	Vantle_SVSetObject(handle, nil, NULL);
	EXTEND(SP, 1);
	ST(0) = handle;
	XSRETURN(1);
    }
    SV *value = ST(0);
    SvGETMAGIC(value);
    if (VantlePriv_SVIsNilNM(aTHX_ value)) {
	ST(0) = sv_2mortal(newSViv(1));
    } else if (!VantlePriv_SVIsObjectNM(aTHX_ value)) {
	croak("Vantle::nil(obj): not an object");
    } else {
	ST(0) = sv_2mortal(newSViv(0));
    }
    XSRETURN(1);
}

/*
 * SetVerdict --
 *	Makes result 0, or 1 in numeric context and the reason in string
 *	context.  The integer is set last, over the string.
 */
static void
SetVerdict(pTHX_ SV *result, const char *reason, STRLEN length)
{
    if (reason == NULL) {
	sv_setiv(result, 0);
	return;
    }
    sv_setpvn(result, reason, length);
    SvUPGRADE(result, SVt_PVIV);
    if (SvOOK(result)) {
	sv_backoff(result);
    }
    SvIV_set(result, 1);
    SvIOK_on(result);
}

/*
 *----------------------------------------------------------------------
 * Vantle::object_is_bad --
 *	Whether the argument is not a usable object: 0, or 1 carrying the
 *	reason ("Dealloc'ed object", "Illegal id", "not an object", or the
 *	runtime's "Illegal id pointer", "Freed object", "Not an object nor a
 *	class").  Never croaks on a bad value.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__object_is_bad)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 1) {
	croak("Usage: Vantle::object_is_bad(obj)");
    }
    SV *result = sv_newmortal();
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    char failed = 0;
    id object = Vantle_SVGetObject2(ST(0), &errors, &failed);
    if (failed) {
	SetVerdict(aTHX_ result, Tcl_DStringValue(&errors), Tcl_DStringLength(&errors));
    } else {
	const char *problem = BqOsmo_IsIdInvalid(object);
	SetVerdict(aTHX_ result, problem, problem != NULL ? strlen(problem) : 0);
    }
    Tcl_DStringFree(&errors);
    ST(0) = result;
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * Vantle::Object::DESTROY --
 *	Unregisters the object of a handle in this interpreter (its handles
 *	then read as deallocated).  It is never released.  Dealloc'ed and
 *	nil handles have nothing to forget; neither has a value that is no
 *	handle.
 *
 *	Perl does not call it when a handle referent is freed: the sub is
 *	flagged constant (see RegisterSubs), and the free hook of the
 *	referent's magic forgets the object then (PerlHandles.mm).  It
 *	answers explicit calls.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__Object__DESTROY)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 1) {
	croak("Usage: Vantle::Object::DESTROY(obj)");
    }
    SV *referent = VantlePriv_HandleReferent(aTHX_ ST(0));
    if (referent != NULL) {
	VantlePriv_ForgetReferent(aTHX_ referent);
    }
    XSRETURN_EMPTY;
}

typedef struct SubEntry {
    const char *name;
    XSUBADDR_t fn;
} SubEntry;

static const SubEntry moduleSubs[] = {
    { "Vantle::Object::DESTROY", XS_Vantle__Object__DESTROY },
    { "Vantle::nil", XS_Vantle__nil },
    { "Vantle::object_is_bad", XS_Vantle__object_is_bad },
};

static void
RegisterSubs(pTHX)
{
    for (size_t i = 0; i < sizeof moduleSubs / sizeof moduleSubs[0]; i++) {
	newXS(moduleSubs[i].name, moduleSubs[i].fn, "Vantle");
    }
    /* Perl calls no destructor that is flagged constant ("a constant
     * subroutine can have no side effects"), and a destructor call costs
     * a sub call inside an eval, more than the rest of a message that
     * answers a fresh handle: freed handles are seen by their referent's
     * magic instead.  The flag changes nothing else for an XS sub that
     * keeps no constant (nothing is inlined; explicit calls run it). */
    CV *destructor = get_cv("Vantle::Object::DESTROY", 0);
    CvCONST_on(destructor);
    VantlePriv_BootControl(aTHX);
    VantlePriv_BootConvert(aTHX);
    VantlePriv_BootPool(aTHX);
    VantlePriv_BootPointer(aTHX);
    VantlePriv_BootLinkVar(aTHX);
    VantlePriv_BootIVar(aTHX);
    VantlePriv_BootClass(aTHX);
    VantlePriv_BootObjectTie(aTHX);
    VantlePriv_BootDefinedClass(aTHX);
    BqCPerl_BootHooks(aTHX);
    VantlePriv_BootMsgSend(aTHX);
    VantlePriv_BootContext(aTHX);
}

/*
 *----------------------------------------------------------------------
 * StartRuntime --
 *	The Objective-C side of start-up, once per process: the runtime
 *	layer, the Foundation class caches, the deallocation observer of the
 *	handle registries, the C type table and the selector map.  Runs under
 *	the guard of the caller; interpreters that boot on two threads at
 *	once wait for each other here.  (Autoreleased results have a pool:
 *	every thread gets one on its first entry, see PerlThread.mm.)
 *----------------------------------------------------------------------
 */
static void
StartRuntime(void)
{
    static pthread_mutex_t startLock = PTHREAD_MUTEX_INITIALIZER;
    static int started;
    pthread_mutex_lock(&startLock);
    @try {
	if (!started) {
	    BqOsmo_Init();
	    VantlePriv_ConvertInit();
	    VantlePriv_SymtabInit();
	    VantlePriv_CTypeInit();
	    Vantle_SelectorMapInit();
	    started = 1;
	}
    } @finally {
	pthread_mutex_unlock(&startLock);
    }
}

/* The maker of interpreter objects, installed by the embedding side. */
static VantlePriv_InterpObjectMaker interpObjectMaker;

void
VantlePriv_SetInterpObjectMaker(VantlePriv_InterpObjectMaker maker)
{
    interpObjectMaker = maker;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_EnsureInterpObject --
 *	Makes sure the running interpreter has its interpreter object,
 *	through the maker the embedding side installed when its class was
 *	loaded (before any interpreter can boot the module: both live in the
 *	one shared object).  Runs under the guard of the caller.
 *----------------------------------------------------------------------
 */
void
VantlePriv_EnsureInterpObject(pTHX)
{
    if (interpObjectMaker != NULL) {
	interpObjectMaker(aTHX);
    }
}

/*
 *----------------------------------------------------------------------
 * boot_Vantle --
 *	Perl's loader calls it when `use Vantle` loads the module into an
 *	interpreter.  Starts the runtime (once per process), installs the
 *	hooks (once per process), registers the subs and makes the
 *	interpreter object (in every interpreter that loads the module).
 *----------------------------------------------------------------------
 */
XS_EXTERNAL(boot_Vantle)
{
    dXSBOOTARGSAPIVERCHK;
    PERL_UNUSED_VAR(mark);
    PERL_UNUSED_VAR(sp);
    PERL_UNUSED_VAR(items);
    BqCPerl_SetInterp(aTHX);

    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    int started = VantlePriv_Guard(&errors, [] { StartRuntime(); });
    if (!started) {
	SV *message = sv_2mortal(newSVpvf("Vantle: start-up failed: %s",
		Tcl_DStringValue(&errors)));
	Tcl_DStringFree(&errors);
	croak_sv(message);
    }
    Tcl_DStringFree(&errors);

    VantlePriv_ContextBoot(aTHX);
    Vantle_OverloadInit();
    InstallHooksOnce();
    RegisterSubs(aTHX);
    if (!VantlePriv_Guard(&errors, [&] { VantlePriv_EnsureInterpObject(aTHX); })) {
	SV *message = sv_2mortal(newSVpvf("Vantle: no interpreter object: %s",
		Tcl_DStringValue(&errors)));
	Tcl_DStringFree(&errors);
	croak_sv(message);
    }
    Tcl_DStringFree(&errors);
    Perl_xs_boot_epilog(aTHX_ ax);
}
