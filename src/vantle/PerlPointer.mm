/*
 * PerlPointer.mm --
 *
 *	Typed pointers and the subs of Vantle::Ptr: new, type, value,
 *	malloc, free, FETCH and STORE.
 *
 *	A typed pointer is a reference blessed into Vantle::Ptr whose
 *	referent is a read-only array (type encoding, address), both
 *	elements read-only as well, so Perl code cannot retarget or retype a
 *	pointer; only VantlePriv_SVSetPointerValue changes the address, and
 *	every copy of the reference sees the change.  Reading through a
 *	pointer converts by the pointed-to type with the binding's C type
 *	table; writing stores C strings as private copies that the pointed-to
 *	storage owns.
 *
 *	Nothing checks an address beyond the null test: a pointer made from
 *	an arbitrary integer points wherever the program said.
 */
#import <Foundation/Foundation.h>

#include "PerlPointer.h"
#include "PerlCTypes.h"
#include "TypeDeclaration.h"
#include "VantlePriv.h"
#include "PerlContext.h"
#include "KxZone.h"

#include <string.h>

/* The stash of Vantle::Ptr, kept in the interpreter's context. */
static HV *
PointerStash(pTHX)
{
    VantleContext *context = VantlePriv_Context(aTHX);
    if (context->pointerStash == NULL) {
	context->pointerStash = gv_stashpvs("Vantle::Ptr", GV_ADD);
    }
    return context->pointerStash;
}

/*
 * PointerArray --
 *	The (type, address) array of a typed pointer, or null when sv is
 *	none: not a reference to an array blessed into Vantle::Ptr, a tied
 *	array (reading it would run Perl code), or not exactly two present
 *	elements.
 */
static AV *
PointerArray(pTHX_ SV *sv)
{
    if (sv == NULL || !SvROK(sv)) {
	return NULL;
    }
    SV *referent = SvRV(sv);
    if (SvTYPE(referent) != SVt_PVAV || !SvOBJECT(referent)
	    || SvSTASH(referent) != PointerStash(aTHX) || SvRMAGICAL(referent)) {
	return NULL;
    }
    AV *av = (AV *) referent;
    if (AvFILLp(av) != 1 || AvARRAY(av)[0] == NULL || AvARRAY(av)[1] == NULL) {
	return NULL;
    }
    return av;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_SVNewPointer --
 *	Makes sv (dropping a reference it held) a new typed pointer.  The
 *	type is cut after its first complete type; null or empty is "^v".
 *----------------------------------------------------------------------
 */
void
VantlePriv_SVNewPointer(SV *sv, const char *type, void *address)
{
    BQCPERL_dTHX;
    const char *text = type != NULL && *type != '\0' ? type : "^v";
    const char *end = BqTypeSpec_ScanType(text, NULL, NULL);
    STRLEN length = end != NULL ? (STRLEN) (end - text) : strlen(text);
    SV *typeSV = newSVpvn(text, length);
    SV *addressSV = newSViv(PTR2IV(address));
    SvREADONLY_on(typeSV);
    SvREADONLY_on(addressSV);
    AV *av = newAV();
    av_extend(av, 1);
    av_push(av, typeSV);
    av_push(av, addressSV);
    sv_setrv_noinc(sv, (SV *) av);
    sv_bless(sv, PointerStash(aTHX));
    SvREADONLY_on((SV *) av);
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_SVGetPointer --
 *	Reads the type and address of a typed pointer; a false
 *	non-reference is a null "^v".  The type points into the pointer's
 *	own element.  No get-magic is run on sv.
 *----------------------------------------------------------------------
 */
int
VantlePriv_SVGetPointer(SV *sv, const char **typePtr, void **addressPtr, Tcl_DString *errors)
{
    BQCPERL_dTHX;
    if (sv == NULL || (!SvROK(sv) && !SvTRUE_nomg(sv))) {
	*typePtr = "^v";
	*addressPtr = NULL;
	return 0;
    }
    AV *av = PointerArray(aTHX_ sv);
    if (av == NULL) {
	BqTcl_DStringApp(errors, "not a valid pointer", (char *) NULL);
	return 1;
    }
    *typePtr = SvPV_nolen(AvARRAY(av)[0]);
    *addressPtr = INT2PTR(void *, SvIV(AvARRAY(av)[1]));
    return 0;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_SVSetPointerValue --
 *	Stores a new address in a typed pointer, lifting the element's
 *	read-only flag for the change.  Answers 1 when sv is no typed
 *	pointer (or its address element is one of Perl's shared constants,
 *	which must never change).
 *----------------------------------------------------------------------
 */
int
VantlePriv_SVSetPointerValue(SV *sv, void *address)
{
    BQCPERL_dTHX;
    AV *av = PointerArray(aTHX_ sv);
    if (av == NULL || SvIMMORTAL(AvARRAY(av)[1])) {
	return 1;
    }
    SV *addressSV = AvARRAY(av)[1];
    SvREADONLY_off(addressSV);
    sv_setiv(addressSV, PTR2IV(address));
    SvREADONLY_on(addressSV);
    return 0;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_SVPointerAddressSV --
 *	The address element of a typed pointer's array, or null.
 *----------------------------------------------------------------------
 */
SV *
VantlePriv_SVPointerAddressSV(SV *sv)
{
    BQCPERL_dTHX;
    AV *av = PointerArray(aTHX_ sv);
    return av != NULL ? AvARRAY(av)[1] : NULL;
}

/*
 * Target --
 *	Reads a typed pointer for access through it: the pointed-to type and
 *	the address, or 1 with the message.  The pointer's array is kept
 *	alive until the caller's temporaries are freed, since converting may
 *	run Perl code that drops the last reference to it while its type is
 *	in use.
 */
static int
Target(pTHX_ SV *pointer, const char **pointeePtr, void **addressPtr, Tcl_DString *errors)
{
    const char *type;
    if (VantlePriv_SVGetPointer(pointer, &type, addressPtr, errors)) {
	return 1;
    }
    if (SvROK(pointer)) {
	sv_2mortal(SvREFCNT_inc_simple_NN(SvRV(pointer)));
    }
    const char *t = BqTypeSpec_SkipTypeQualifiers(type);
    if (*t != '^') {
	BqTcl_DStringApp(errors, "not a valid pointer", (char *) NULL);
	return 1;
    }
    *pointeePtr = t + 1;
    return 0;
}

/* True for a pointed-to type that has no value: void or unknown. */
static int
IsVoidOrUnknown(const char *pointee)
{
    char code = *BqTypeSpec_SkipTypeQualifiers(pointee);
    return code == 'v' || code == '?';
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_SVPointerStoreSV --
 *	Converts value into the pointed-to storage.  Strings become copies
 *	owned by that storage (the string stored there before is freed).
 *----------------------------------------------------------------------
 */
int
VantlePriv_SVPointerStoreSV(SV *pointer, SV *value, Tcl_DString *errors)
{
    BQCPERL_dTHX;
    const char *pointee;
    void *address;
    if (Target(aTHX_ pointer, &pointee, &address, errors)) {
	return 1;
    }
    if (address == NULL) {
	BqTcl_DStringApp(errors, "cannot store value at NULL pointer", (char *) NULL);
	return 1;
    }
    if (IsVoidOrUnknown(pointee)) {
	BqTcl_DStringApp(errors, "cannot store void/unknown value", (char *) NULL);
	return 1;
    }
    return BqOsmo_I2C(NULL, errors, VantlePriv_CTypeTable, value, address, 0, pointee,
	    BQ_QUAL_OWNED);
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_SVPointerGetSV --
 *	Sets result from the pointed-to storage; undef for a null pointer.
 *----------------------------------------------------------------------
 */
int
VantlePriv_SVPointerGetSV(SV *pointer, SV *result, Tcl_DString *errors)
{
    BQCPERL_dTHX;
    const char *pointee;
    void *address;
    if (Target(aTHX_ pointer, &pointee, &address, errors)) {
	return 1;
    }
    if (address == NULL) {
	sv_setsv(result, &PL_sv_undef);
	return 0;
    }
    if (IsVoidOrUnknown(pointee)) {
	BqTcl_DStringApp(errors, "cannot get void/unknown value", (char *) NULL);
	return 1;
    }
    return BqOsmo_C2I(NULL, errors, VantlePriv_CTypeTable, result, address, 0, pointee, 0);
}

/*
 *----------------------------------------------------------------------
 * Vantle::Ptr::new --
 *	A new typed pointer: of type "^v" without arguments, else of the
 *	declared type (which must be a pointer type; qualifiers in front,
 *	as in "const int *", are dropped), at the address given or null.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__Ptr__new)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items > 2) {
	croak("Usage: Vantle::Ptr::new[(ptrtype[,ptrval])]");
    }
    void *address = items == 2 ? INT2PTR(void *, SvIV(ST(1))) : NULL;
    const char *declaration = items >= 1 ? SvPV_nolen(ST(0)) : NULL;
    SV *result = sv_newmortal();
    if (declaration == NULL) {
	EXTEND(SP, 1);
	VantlePriv_SVNewPointer(result, NULL, address);
	ST(0) = result;
	XSRETURN(1);
    }

    SV *failure = NULL;
    Tcl_DString encoding, caught;
    Tcl_DStringInit(&encoding);
    Tcl_DStringInit(&caught);
    int code = 1;
    if (!VantlePriv_Guard(&caught, [&] {
	code = BqOsmo_EncodeDeclaration(VantlePriv_CTypeTable, declaration, &encoding);
    })) {
	failure = sv_2mortal(newSVpvf("Vantle::Ptr::new: %s", Tcl_DStringValue(&caught)));
    } else if (code != 0) {
	failure = sv_2mortal(newSVpvf("%s", Tcl_DStringValue(&encoding)));
    } else {
	const char *type = BqTypeSpec_SkipTypeQualifiers(Tcl_DStringValue(&encoding));
	if (*type != '^') {
	    failure = sv_2mortal(newSVpvf("Vantle::Ptr::new: \"%s\" is not a pointer type",
		    declaration));
	} else {
	    VantlePriv_SVNewPointer(result, type, address);
	}
    }
    Tcl_DStringFree(&encoding);
    Tcl_DStringFree(&caught);
    if (failure != NULL) {
	croak_sv(failure);
    }
    ST(0) = result;
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__Ptr__type)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 1) {
	croak("Usage: Vantle::Ptr::type(ptr)");
    }
    SV *pointer = ST(0);
    SvGETMAGIC(pointer);
    const char *type;
    void *address;
    if (VantlePriv_SVGetPointer(pointer, &type, &address, NULL)) {
	croak("Vantle::Ptr::type: illegal pointer");
    }
    ST(0) = sv_2mortal(newSVpv(type, 0));
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__Ptr__value)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 1) {
	croak("Usage: Vantle::Ptr::value(ptr)");
    }
    SV *pointer = ST(0);
    SvGETMAGIC(pointer);
    const char *type;
    void *address;
    if (VantlePriv_SVGetPointer(pointer, &type, &address, NULL)) {
	croak("Vantle::Ptr::value: illegal pointer");
    }
    ST(0) = sv_2mortal(newSViv(PTR2IV(address)));
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * Vantle::Ptr::malloc --
 *	Points the pointer at new zero-filled storage of the pointed-to
 *	type's size, from the default malloc zone.  Storage it pointed to
 *	before is not freed.  Types without a size (void, unknown, a
 *	structure declared without members, an empty array) cannot be
 *	allocated.  Answers its argument.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__Ptr__malloc)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 1) {
	croak("Usage: Vantle::Ptr::malloc(ptr)");
    }
    SV *pointer = ST(0);
    SvGETMAGIC(pointer);
    const char *type;
    void *previous;
    if (VantlePriv_SVGetPointer(pointer, &type, &previous, NULL)) {
	croak("Vantle::Ptr::malloc: illegal pointer");
    }
    const char *t = BqTypeSpec_SkipTypeQualifiers(type);
    if (*t != '^') {
	croak("Vantle::Ptr::malloc: not a pointer");
    }
    const char *pointee = t + 1;
    BqTypeLayout layout;
    if (IsVoidOrUnknown(pointee) || BqTypeSpec_ScanType(pointee, &layout, NULL) == NULL
	    || !layout.valid || layout.size <= 0) {
	croak("Vantle::Ptr::malloc: cannot malloc: unknown type size \"%s\"", pointee);
    }

    void *block = NULL;
    SV *failure = NULL;
    Tcl_DString caught;
    Tcl_DStringInit(&caught);
    if (!VantlePriv_Guard(&caught, [&] {
	block = KxZoneCalloc(KxDefaultMallocZone(), 1, (size_t) layout.size);
    })) {
	failure = sv_2mortal(newSVpvf("Vantle::Ptr::malloc: %s", Tcl_DStringValue(&caught)));
    } else if (block == NULL) {
	failure = sv_2mortal(newSVpvs("Vantle::Ptr::malloc: out of memory"));
    } else if (VantlePriv_SVSetPointerValue(pointer, block) != 0) {
	KxZoneFree(KxDefaultMallocZone(), block);
	failure = sv_2mortal(newSVpvs("Vantle::Ptr::malloc: illegal pointer"));
    }
    Tcl_DStringFree(&caught);
    if (failure != NULL) {
	croak_sv(failure);
    }
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * Vantle::Ptr::free --
 *	Frees the storage the pointer points to (it must have come from the
 *	default malloc zone) and makes the pointer null, so freeing twice
 *	through one pointer frees once.  Answers its argument.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__Ptr__free)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 1) {
	croak("Usage: Vantle::Ptr::free(ptr)");
    }
    SV *pointer = ST(0);
    SvGETMAGIC(pointer);
    const char *type;
    void *address;
    if (VantlePriv_SVGetPointer(pointer, &type, &address, NULL)) {
	croak("Vantle::Ptr::free: illegal pointer");
    }
    if (address != NULL) {
	/* Cleared first: storage is freed only once the pointer no longer
	 * leads to it. */
	if (VantlePriv_SVSetPointerValue(pointer, NULL) != 0) {
	    croak("Vantle::Ptr::free: illegal pointer");
	}
	KxZoneFree(KxDefaultMallocZone(), address);
    }
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * Vantle::Ptr::FETCH, Vantle::Ptr::STORE --
 *	Read and write the pointed-to value.  Conversion may run Perl code
 *	(tied or overloaded values), so the error text is registered with
 *	the scope and taken out before it closes; the croak comes last.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__Ptr__FETCH)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 1) {
	croak("Usage: Vantle::Ptr::FETCH(ptr)");
    }
    SV *pointer = ST(0);
    SvGETMAGIC(pointer);
    SV *result = sv_newmortal();
    SV *failure = NULL;
    Tcl_DString errors;
    ENTER;
    VantlePriv_EnterConversion(aTHX_ &errors);
    if (VantlePriv_SVPointerGetSV(pointer, result, &errors)) {
	failure = sv_2mortal(newSVpvf("Vantle::Ptr:FETCH: %s", Tcl_DStringValue(&errors)));
    }
    LEAVE;
    if (failure != NULL) {
	croak_sv(failure);
    }
    ST(0) = result;
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__Ptr__STORE)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 2) {
	croak("Usage: Vantle::Ptr::STORE(ptr,val)");
    }
    SV *pointer = ST(0);
    SvGETMAGIC(pointer);
    SV *failure = NULL;
    Tcl_DString errors;
    ENTER;
    VantlePriv_EnterConversion(aTHX_ &errors);
    if (VantlePriv_SVPointerStoreSV(pointer, ST(1), &errors)) {
	failure = sv_2mortal(newSVpvf("Vantle::Ptr::STORE: %s", Tcl_DStringValue(&errors)));
    }
    LEAVE;
    if (failure != NULL) {
	croak_sv(failure);
    }
    XSRETURN_EMPTY;
}

void
VantlePriv_BootPointer(pTHX)
{
    newXS("Vantle::Ptr::new", XS_Vantle__Ptr__new, "Vantle");
    newXS("Vantle::Ptr::type", XS_Vantle__Ptr__type, "Vantle");
    newXS("Vantle::Ptr::value", XS_Vantle__Ptr__value, "Vantle");
    newXS("Vantle::Ptr::malloc", XS_Vantle__Ptr__malloc, "Vantle");
    newXS("Vantle::Ptr::free", XS_Vantle__Ptr__free, "Vantle");
    newXS("Vantle::Ptr::FETCH", XS_Vantle__Ptr__FETCH, "Vantle");
    newXS("Vantle::Ptr::STORE", XS_Vantle__Ptr__STORE, "Vantle");
}
