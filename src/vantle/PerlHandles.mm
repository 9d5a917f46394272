/*
 * PerlHandles.mm --
 *
 *	Object handles and their registries.
 *
 *	A handle is a reference blessed into Vantle::Object whose referent is
 *	a read-only integer scalar: the object pointer, 0 for nil, -1 once the
 *	object was deallocated.  Each interpreter has a registry (a one-word-
 *	key pointer map) that maps each object that has handles there to
 *	its one referent, so every handle of an object in one interpreter
 *	shares that referent.
 *
 *	Invariants:
 *	- A registry holds no reference count.  A non-nil object's referent
 *	  is owned by its handles alone; when the last one goes, the free
 *	  hook of the referent's magic removes the entry as the referent is
 *	  freed.  (A hook, not a DESTROY method: Perl calls a destructor
 *	  through a full sub call inside an eval, which would cost more than
 *	  the rest of a message that answers a fresh handle.)  The nil
 *	  referent keeps one count of its own forever.
 *	- When Perl code still holds a view of a referent that is being
 *	  freed (my $keys = \@{ $d->allKeys }), the referent passes its
 *	  registry entry and its views to an heir, a new referent of the
 *	  same object that the held views keep alive.
 *	- An entry and its referent's live value change together: removing
 *	  an entry sets the referent to -1 in the same step.  So a referent
 *	  whose value is a pointer P is exactly the registry's value for P.
 *	- Every referent is protected read-only (SVf_PROTECT, which Perl code
 *	  can neither set nor clear; only Perl's own constants carry it, and
 *	  those cannot be blessed).  That is how a genuine handle is told,
 *	  without the registry, from a scalar that Perl code blessed into
 *	  Vantle::Object itself, and why its value cannot be forced to
 *	  another address.  A referent of another interpreter is blessed into
 *	  that interpreter's stash, so VantlePriv_HandleReferent never takes
 *	  it.
 *	- The runtime's deallocation observer removes the entries of an
 *	  object that is being freed from every registry, so a handle never
 *	  yields a freed pointer.  Objects are freed on any thread, so the
 *	  registries are only touched under one process-wide lock, and the
 *	  observer changes a referent's integer alone, never its flags.
 *	- A referent's magic says whether its object passed the validity
 *	  check when a handle was made.  Such an object needs no check again
 *	  while the referent reads it as live: it would have been marked
 *	  deallocated first.  A handle made while the check was off is checked
 *	  (and then marked) once the check is on.
 *	- A registry leaves the list when its interpreter is destroyed,
 *	  before the referents are freed.
 *	- Handles never retain or release their objects.
 */
#import <Foundation/Foundation.h>

#include "VantlePriv.h"
#include "PerlContext.h"
#include "PerlMsgSend.h"
#include "PerlTiedView.h"
#include "BqOsmo.h"
#include "KxLock.h"
#include "KxPointerMap.h"

#include <stdint.h>

typedef struct HandleRegistry {
    KxPointerMap referents;		/* id -> referent (SV *) */
    SV *nilReferent;			/* nil's, which no map can key */
    struct HandleRegistry *next;	/* every live interpreter's */
} HandleRegistry;

/* A spin lock, not the mutex the other registries use: it is taken
 * around a few table operations on the path of every message.  Nothing
 * done under it reaches Perl, Objective-C or this lock again (only
 * the map's code and the allocator). */
static KxSpinLock registriesLock = KX_SPIN_LOCK_INITIALIZER;
static HandleRegistry *registries;

/* Alignment every object pointer has; a handle value with any of these
 * bits set cannot be an object. */
#define HANDLE_ALIGNMENT_MASK ((IV) (sizeof(id) - 1))
#define DEALLOCATED_VALUE ((IV) -1)

/*
 *----------------------------------------------------------------------
 * VantlePriv_SymtabInit --
 *	Registers the deallocation observer.  Later calls do nothing.
 *----------------------------------------------------------------------
 */
void
VantlePriv_SymtabInit(void)
{
    static pthread_once_t observing = PTHREAD_ONCE_INIT;
    pthread_once(&observing, [] { BqOsmo_RegisterUnregister(Vantle_UnregisterObject); });
}

void
VantlePriv_HandleRegistryInit(pTHX_ VantleContext *context)
{
    PERL_UNUSED_CONTEXT;
    HandleRegistry *registry = (HandleRegistry *) safecalloc(1, sizeof *registry);
    KxPointerMapInit(&registry->referents);
    KxSpinGuard guard(&registriesLock);
    registry->next = registries;
    registries = registry;
    context->handles = registry;
}

void
VantlePriv_HandleRegistryEnd(pTHX_ VantleContext *context)
{
    PERL_UNUSED_CONTEXT;
    HandleRegistry *registry = context->handles;
    if (registry == NULL) {
	return;
    }
    {
	KxSpinGuard guard(&registriesLock);
	for (HandleRegistry **link = &registries; *link != NULL; link = &(*link)->next) {
	    if (*link == registry) {
		*link = registry->next;
		break;
	    }
	}
	context->handles = NULL;
    }
    KxPointerMapFree(&registry->referents);
    safefree(registry);
}

/* The running interpreter's registry; null once it is being destroyed. */
static HandleRegistry *
OwnRegistry(pTHX)
{
    return VantlePriv_Context(aTHX)->handles;
}

HV *
VantlePriv_ObjectStash(pTHX)
{
    VantleContext *context = VantlePriv_Context(aTHX);
    if (context->objectStash == NULL) {
	context->objectStash = gv_stashpvs("Vantle::Object", GV_ADD);
    }
    return context->objectStash;
}

SV *
VantlePriv_HandleReferent(pTHX_ SV *sv)
{
    if (sv == NULL || !SvROK(sv)) {
	return NULL;
    }
    SV *referent = SvRV(sv);
    if (SvOBJECT(referent) && SvSTASH(referent) == VantlePriv_ObjectStash(aTHX)) {
	return referent;
    }
    return NULL;
}

/*
 * ReadReferent --
 *	Reads a handle referent's integer.  Answers 0 when the referent is
 *	no plain integer scalar (something Perl code blessed itself), so no
 *	conversion of an aggregate is ever attempted.
 */
static int
ReadReferent(SV *referent, IV *valuePtr)
{
    if (SvTYPE(referent) > SVt_PVMG || !SvIOK(referent)) {
	return 0;
    }
    *valuePtr = __atomic_load_n(&((XPVIV *) SvANY(referent))->xiv_iv, __ATOMIC_RELAXED);
    return 1;
}

/* The registered referent of object in registry, or null; the caller
 * holds the lock. */
static SV *
FindReferentLocked(HandleRegistry *registry, id object)
{
    if (registry == NULL) {
	return NULL;
    }
    if (object == nil) {
	return registry->nilReferent;
    }
    return (SV *) KxPointerMapGet(&registry->referents, object);
}

/* The registered referent of object in the running interpreter, or null. */
static SV *
RegisteredReferent(pTHX_ id object)
{
    KxSpinGuard guard(&registriesLock);
    return FindReferentLocked(OwnRegistry(aTHX), object);
}

/* Points sv at referent, adding one reference count to it. */
static void
PointAtReferent(pTHX_ SV *sv, SV *referent)
{
    /* The count is taken before sv lets go of whatever it referred to:
     * if that was the last handle of this very referent, dropping it must
     * not free the referent. */
    SvREFCNT_inc_simple_void_NN(referent);
    sv_setrv_noinc(sv, referent);
}

/*
 * IsGenuineReferent --
 *	Whether referent, a scalar blessed into this interpreter's
 *	Vantle::Object, was made by the module: a flag test, no lock, no
 *	registry.
 */
static inline int
IsGenuineReferent(SV *referent)
{
    return (SvFLAGS(referent) & SVf_PROTECT) != 0;
}

static int FreeReferent(pTHX_ SV *referent, MAGIC *mg);
#ifdef USE_ITHREADS
static int CloneReferentMagic(pTHX_ MAGIC *mg, CLONE_PARAMS *param);
#else
#define CloneReferentMagic NULL
#endif

/* The magic every genuine referent carries: its free hook forgets the
 * object, its pointer holds the referent's views (null until the first
 * dereference), and its private word says whether the object passed the
 * validity check when a handle of it was made (REFERENT_CHECKED): such
 * an object, while its handles read it as live, needs no check again.
 * svt_get, svt_set, svt_len, svt_clear, svt_free, svt_copy, svt_dup,
 * svt_local: only freeing and cloning matter. */
static const MGVTBL referentVtbl = {
    NULL, NULL, NULL, NULL, FreeReferent, NULL, CloneReferentMagic, NULL
};

#define REFERENT_CHECKED 1

static MAGIC *
AddReferentMagic(pTHX_ SV *referent)
{
    MAGIC *mg = sv_magicext(referent, NULL, PERL_MAGIC_ext, &referentVtbl, NULL, 0);
    mg->mg_flags |= MGf_DUP;
    return mg;
}

MAGIC *
VantlePriv_ReferentMagic(pTHX_ SV *referent, int make)
{
    if (SvTYPE(referent) < SVt_PVMG) {
	return make ? AddReferentMagic(aTHX_ referent) : NULL;
    }
    /* Usually the first (and only) magic of the referent. */
    MAGIC *mg = SvMAGIC(referent);
    if (mg != NULL && mg->mg_virtual != &referentVtbl) {
	mg = mg_findext(referent, PERL_MAGIC_ext, &referentVtbl);
    }
    if (mg == NULL && make) {
	mg = AddReferentMagic(aTHX_ referent);
    }
    return mg;
}

/*
 * MakeReferent --
 *	Makes a new referent of value, blessed, with its magic (marked
 *	checked as told), and protected read-only, and points holder at it;
 *	holder owns the referent's one count.  Not registered.
 */
static SV *
MakeReferent(pTHX_ SV *holder, IV value, int checked)
{
    /* Made a PVMG at once, which blessing would upgrade it to. */
    SV *referent = newSV_type(SVt_PVMG);
    SvIV_set(referent, value);
    SvIOK_on(referent);
    AddReferentMagic(aTHX_ referent)->mg_private = checked ? REFERENT_CHECKED : 0;
    sv_setrv_noinc(holder, referent);
    sv_bless(holder, VantlePriv_ObjectStash(aTHX));
    SvFLAGS(referent) |= SVf_READONLY | SVf_PROTECT;
    return referent;
}

/*
 * PointAtNewReferent --
 *	Makes a referent for object owned by sv alone (the nil referent also
 *	keeps a count of its own, so it is never freed), and registers it.
 */
static void
PointAtNewReferent(pTHX_ SV *sv, id object, int checked)
{
    SV *referent = MakeReferent(aTHX_ sv, PTR2IV(object), checked);
    if (object == nil) {
	SvREFCNT_inc_simple_void_NN(referent);
    }
    int registered = 1;
    {
	KxSpinGuard guard(&registriesLock);
	HandleRegistry *registry = OwnRegistry(aTHX);
	if (registry != NULL && object == nil) {
	    registry->nilReferent = referent;
	} else if (registry != NULL) {
	    registered = KxPointerMapPut(&registry->referents, object, referent) == 0;
	}
    }
    /* An unregistered handle would outlive its object unmarked: running
     * out of memory here ends the program, as it does anywhere in Perl. */
    if (!registered) {
	Perl_croak_no_mem();
    }
}

/*
 * PassToHeir --
 *	referent, a genuine one, is being freed while Perl code holds one of
 *	its views: a new referent of the same value takes its place in the
 *	registry and its views, and the held views keep it alive.  Replacing
 *	an entry never grows the registry, so this cannot fail.
 */
static void
PassToHeir(pTHX_ SV *referent, MAGIC *mg, VantleHandleViews *views)
{
    IV value = __atomic_load_n(&((XPVIV *) SvANY(referent))->xiv_iv, __ATOMIC_RELAXED);
    SV *holder = newSV(0);
    SV *heir = MakeReferent(aTHX_ holder, value, mg->mg_private & REFERENT_CHECKED);
    if (value != 0 && value != DEALLOCATED_VALUE) {
	id object = (id) INT2PTR(void *, value);
	KxSpinGuard guard(&registriesLock);
	HandleRegistry *registry = OwnRegistry(aTHX);
	if (registry != NULL && FindReferentLocked(registry, object) == referent) {
	    KxPointerMapRemove(&registry->referents, object);
	    KxPointerMapPut(&registry->referents, object, heir);
	}
    }
    VantlePriv_MoveViews(aTHX_ views, heir);
    VantlePriv_ReferentMagic(aTHX_ heir, 0)->mg_ptr = (char *) views;
    SvREFCNT_dec_NN(holder);
}

/*
 * FreeReferent --
 *	svt_free of a referent's magic: its last handle is gone.  The object
 *	is forgotten here (never released), unless Perl code still holds a
 *	view, which an heir then serves.  Nothing is handed over at global
 *	destruction, where Perl frees every value, nor from a scalar Perl
 *	code blessed itself (its views just go).
 */
static int
FreeReferent(pTHX_ SV *referent, MAGIC *mg)
{
    VantleHandleViews *views = (VantleHandleViews *) mg->mg_ptr;
    mg->mg_ptr = NULL;
    if (views != NULL && PL_phase != PERL_PHASE_DESTRUCT && IsGenuineReferent(referent)
	    && VantlePriv_ViewsHeld(aTHX_ views)) {
	PassToHeir(aTHX_ referent, mg, views);
	return 0;
    }
    VantlePriv_ForgetReferent(aTHX_ referent);
    if (views != NULL) {
	VantlePriv_FreeViews(aTHX_ views);
    }
    return 0;
}

#ifdef USE_ITHREADS
/* svt_dup: a referent copied back by a join brings copies of its views. */
static int
CloneReferentMagic(pTHX_ MAGIC *mg, CLONE_PARAMS *param)
{
    if (mg->mg_ptr != NULL) {
	mg->mg_ptr = (char *) VantlePriv_CloneViews(aTHX_ (VantleHandleViews *) mg->mg_ptr, param);
    }
    return 0;
}
#endif

/* Whether referent's object passed the validity check. */
static int
IsCheckedReferent(pTHX_ SV *referent)
{
    MAGIC *mg = VantlePriv_ReferentMagic(aTHX_ referent, 0);
    return mg != NULL && (mg->mg_private & REFERENT_CHECKED) != 0;
}

/*
 *----------------------------------------------------------------------
 * Vantle_SVSetObject --
 *	Makes sv a handle of object.  With bad_object_check on, an object
 *	that fails the runtime's validity check leaves sv undef and its
 *	reason appended to errors (or warned when errors is null); answers 0.
 *	Nil always passes.
 *----------------------------------------------------------------------
 */
int
Vantle_SVSetObject(SV *sv, id object, Tcl_DString *errors)
{
    BQCPERL_dTHX;
    SV *referent = RegisteredReferent(aTHX_ object);
    /* An object that has a handle here is alive (it would have been
     * unregistered as it was freed); if it passed the check then, it
     * needs none now.  Nil needs none. */
    MAGIC *mg = referent != NULL ? VantlePriv_ReferentMagic(aTHX_ referent, 0) : NULL;
    int checked = object == nil || (mg != NULL && (mg->mg_private & REFERENT_CHECKED));
    if (!checked && BQ_CONTROL(bad_object_check)) {
	const char *problem = BqOsmo_IsIdInvalid(object);
	if (problem != NULL) {
	    sv_setsv(sv, &PL_sv_undef);
	    if (errors != NULL) {
		BqTcl_DStringApp(errors, problem, (char *) NULL);
	    } else {
		warn("%s", problem);
	    }
	    return 0;
	}
	checked = 1;
	if (mg != NULL) {
	    mg->mg_private |= REFERENT_CHECKED;
	}
    }
    if (referent != NULL) {
	PointAtReferent(aTHX_ sv, referent);
	return 1;
    }
    /* A class first seen here (registered after the module booted) gets
     * its Perl package, so class messages to it route.  Only a checked
     * pointer is looked into. */
    if (checked && object != nil && class_isMetaClass(object_getClass(object))
	    && !class_isMetaClass((Class) object)) {
	VantlePriv_MakeClassPackage(aTHX_ class_getName((Class) object));
    }
    PointAtNewReferent(aTHX_ sv, object, checked);
    return 1;
}

int
Vantle_SVLookupObject(SV *sv, id object)
{
    BQCPERL_dTHX;
    SV *referent = RegisteredReferent(aTHX_ object);
    if (referent == NULL) {
	return 0;
    }
    PointAtReferent(aTHX_ sv, referent);
    return 1;
}

/*
 * MarkDeallocatedLocked --
 *	Removes object's entry from registry and makes its referent read as
 *	deallocated; the caller holds the lock.  Only the integer changes:
 *	the interpreter that owns the referent may be running on another
 *	thread, and its flags are its own.
 */
static void
MarkDeallocatedLocked(HandleRegistry *registry, id object)
{
    SV *referent = (SV *) KxPointerMapRemove(&registry->referents, object);
    if (referent != NULL) {
	__atomic_store_n(&((XPVIV *) SvANY(referent))->xiv_iv, DEALLOCATED_VALUE,
		__ATOMIC_RELAXED);
    }
}

/*
 *----------------------------------------------------------------------
 * Vantle_UnregisterObject --
 *	Forgets object in every interpreter and makes its surviving handles
 *	read as deallocated.  Called by the runtime just before the object's
 *	memory is freed, on whatever thread frees it (the object is not
 *	looked at).  Nil is never unregistered.
 *----------------------------------------------------------------------
 */
void
Vantle_UnregisterObject(id object)
{
    if (object == nil) {
	return;
    }
    KxSpinGuard guard(&registriesLock);
    for (HandleRegistry *registry = registries; registry != NULL; registry = registry->next) {
	MarkDeallocatedLocked(registry, object);
    }
}

void
VantlePriv_ForgetReferent(pTHX_ SV *referent)
{
    IV value;
    if (!ReadReferent(referent, &value) || value == 0 || value == DEALLOCATED_VALUE) {
	return;
    }
    id object = (id) INT2PTR(void *, value);
    KxSpinGuard guard(&registriesLock);
    HandleRegistry *registry = OwnRegistry(aTHX);
    /* Only the object's own referent forgets it: a scalar Perl code
     * blessed itself may hold the same address. */
    if (registry != NULL && FindReferentLocked(registry, object) == referent) {
	MarkDeallocatedLocked(registry, object);
    }
}

int
VantlePriv_SVIsNilNM(pTHX_ SV *sv)
{
    if (sv == NULL) {
	return 1;
    }
    if (SvROK(sv)) {
	SV *referent = VantlePriv_HandleReferent(aTHX_ sv);
	IV value;
	return referent != NULL && ReadReferent(referent, &value) && value == 0;
    }
    return !SvTRUE_nomg(sv);
}

int
VantlePriv_SVIsObjectNM(pTHX_ SV *sv)
{
    if (sv == NULL) {
	return 0;
    }
    if (SvROK(sv)) {
	return VantlePriv_HandleReferent(aTHX_ sv) != NULL;
    }
    return !SvTRUE_nomg(sv);
}

int
Vantle_SVIsNil(SV *sv)
{
    BQCPERL_dTHX;
    if (sv != NULL) {
	SvGETMAGIC(sv);
    }
    return VantlePriv_SVIsNilNM(aTHX_ sv);
}

int
Vantle_SVIsObject(SV *sv)
{
    BQCPERL_dTHX;
    if (sv != NULL) {
	SvGETMAGIC(sv);
    }
    return VantlePriv_SVIsObjectNM(aTHX_ sv);
}

static void
SetFlag(char *errorFlag, char value)
{
    if (errorFlag != NULL) {
	*errorFlag = value;
    }
}

/* Reports problem: appends it, sets the flag, answers nil. */
static id
Fail(Tcl_DString *errors, char *errorFlag, const char *problem)
{
    BqTcl_DStringApp(errors, problem, (char *) NULL);
    SetFlag(errorFlag, 1);
    return nil;
}

/*
 * ObjectOfReferent --
 *	The object a handle referent stands for.  Deallocated, misaligned
 *	and unregistered values (a scalar Perl code blessed itself) are
 *	errors, so no pointer that is not a live registered object is ever
 *	answered.
 */
static id
ObjectOfReferent(pTHX_ SV *referent, Tcl_DString *errors, char *errorFlag)
{
    IV value;
    if (!ReadReferent(referent, &value)) {
	return Fail(errors, errorFlag, "Illegal id");
    }
    if (value == DEALLOCATED_VALUE) {
	return Fail(errors, errorFlag, "Dealloc'ed object");
    }
    if ((value & HANDLE_ALIGNMENT_MASK) != 0
	    || (value != 0 && !IsGenuineReferent(referent))) {
	return Fail(errors, errorFlag, "Illegal id");
    }
    SetFlag(errorFlag, 0);
    return (id) INT2PTR(void *, value);
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_LiveHandleObject --
 *	The fast path of every conversion of a handle: when sv is a genuine
 *	handle of this interpreter whose object is live (or nil), stores the
 *	object and answers 1.  Anything else answers 0 and is left to the
 *	full conversions, which say what is wrong with it.  Runs no magic.
 *----------------------------------------------------------------------
 */
int
VantlePriv_LiveHandleObject(pTHX_ SV *sv, id *objectPtr, int *checkedPtr)
{
    SV *referent = VantlePriv_HandleReferent(aTHX_ sv);
    IV value;
    if (referent == NULL || !IsGenuineReferent(referent) || !ReadReferent(referent, &value)
	    || value == DEALLOCATED_VALUE || (value & HANDLE_ALIGNMENT_MASK) != 0) {
	return 0;
    }
    *objectPtr = (id) INT2PTR(void *, value);
    if (checkedPtr != NULL) {
	*checkedPtr = IsCheckedReferent(aTHX_ referent);
    }
    return 1;
}

/* The class named by a string value, or Nil.  A name with an embedded
 * NUL names no class. */
static Class
ClassOfName(pTHX_ SV *sv)
{
    STRLEN length;
    const char *name = SvPV_nomg_const(sv, length);
    if (name == NULL || strlen(name) != length) {
	return Nil;
    }
    return objc_lookUpClass(name);
}

/*
 *----------------------------------------------------------------------
 * Vantle_SVGetObject2NM --
 *	The object of a handle; nil for every false non-reference; the class
 *	object of a string that names a class.  Anything else is nil with
 *	"not an object".  Never runs sv's get-magic.
 *----------------------------------------------------------------------
 */
id
Vantle_SVGetObject2NM(SV *sv, Tcl_DString *errors, char *errorFlag)
{
    BQCPERL_dTHX;
    if (sv == NULL) {
	SetFlag(errorFlag, 0);
	return nil;
    }
    if (SvROK(sv)) {
	SV *referent = VantlePriv_HandleReferent(aTHX_ sv);
	if (referent != NULL) {
	    return ObjectOfReferent(aTHX_ referent, errors, errorFlag);
	}
    } else if (SvTYPE(sv) < SVt_PVAV) {
	/* A scalar; arrays, hashes and code given directly are no objects. */
	if (!SvTRUE_nomg(sv)) {
	    SetFlag(errorFlag, 0);
	    return nil;
	}
	if (SvPOKp(sv)) {
	    Class cls = ClassOfName(aTHX_ sv);
	    if (cls != Nil) {
		SetFlag(errorFlag, 0);
		return (id) cls;
	    }
	}
    }
    return Fail(errors, errorFlag, "not an object");
}

id
Vantle_SVGetObject2(SV *sv, Tcl_DString *errors, char *errorFlag)
{
    BQCPERL_dTHX;
    if (sv != NULL) {
	SvGETMAGIC(sv);
    }
    return Vantle_SVGetObject2NM(sv, errors, errorFlag);
}

/*
 *----------------------------------------------------------------------
 * Vantle_SVGetClass2 --
 *	A class object (or nil) from a handle or a class name.  An instance
 *	gives "not a class"; a metaclass gives "class is metaclass" unless
 *	metaclassOK.
 *----------------------------------------------------------------------
 */
id
Vantle_SVGetClass2(SV *sv, Tcl_DString *errors, char *errorFlag, int metaclassOK)
{
    char failed = 0;
    id object = Vantle_SVGetObject2(sv, errors, &failed);
    if (failed) {
	SetFlag(errorFlag, 1);
	return nil;
    }
    if (object != nil) {
	if (!class_isMetaClass(object_getClass(object))) {
	    return Fail(errors, errorFlag, "not a class");
	}
	if (!metaclassOK && class_isMetaClass((Class) object)) {
	    return Fail(errors, errorFlag, "class is metaclass");
	}
    }
    SetFlag(errorFlag, 0);
    return object;
}
