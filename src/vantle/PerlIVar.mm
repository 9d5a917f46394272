/*
 * PerlIVar.mm --
 *
 *	Instance variables from Perl: Vantle::ivar_get and Vantle::ivar_set,
 *	scalars linked to a variable (Vantle::ivar, Vantle_SVLinkIVar) and the
 *	tie class of such scalars, Vantle::IVar.
 *
 *	A linked scalar carries tied-scalar magic whose tie object is a
 *	reference blessed into Vantle::IVar to a read-only array: a handle
 *	of the object, the variable's name and the address of its record.
 *	The record is checked against the object's class at every access
 *	(a Perl program can bless an array of its own into Vantle::IVar), so
 *	no access ever uses a record of another class or a made-up address.
 *
 *	Error discipline: texts are collected in a dynamic string that the
 *	save stack frees (VantlePriv_EnterConversion); every croak comes last,
 *	after the scope is left, with its text in a mortal.
 */
#import <Foundation/Foundation.h>

#include "PerlIVar.h"
#include "PerlCTypes.h"
#include "VantlePriv.h"
#include "PerlContext.h"
#include "Ivar.h"

#include <string.h>

/* The stash of Vantle::IVar, kept in the interpreter's context. */
static HV *
IVarStash(pTHX)
{
    VantleContext *context = VantlePriv_Context(aTHX);
    if (context->ivarStash == NULL) {
	context->ivarStash = gv_stashpvs("Vantle::IVar", GV_ADD);
    }
    return context->ivarStash;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_ObjectArgument --
 *	The object of a Perl value, by the perl_auto_convert control.
 *	errors is emptied first, so it holds this conversion's text alone.
 *----------------------------------------------------------------------
 */
int
VantlePriv_ObjectArgument(pTHX_ SV *sv, Tcl_DString *errors, id *objectPtr)
{
    char failed = 0;
    Tcl_DStringSetLength(errors, 0);
    *objectPtr = VantlePriv_PerlAutoConvert
	? Vantle_ObjectForSV(sv, errors, &failed)
	: Vantle_SVGetObject2(sv, errors, &failed);
    return !failed;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_ReceiverArgument --
 *	The object whose inside a sub named subName looks at: answers null
 *	with the object, or a mortal message ("%s: %s" for a value that is
 *	no object, "%s: nil object" for nil).
 *----------------------------------------------------------------------
 */
SV *
VantlePriv_ReceiverArgument(pTHX_ SV *sv, const char *subName, Tcl_DString *errors,
	id *objectPtr)
{
    if (!VantlePriv_ObjectArgument(aTHX_ sv, errors, objectPtr)) {
	return sv_2mortal(newSVpvf("%s: %s", subName, Tcl_DStringValue(errors)));
    }
    if (*objectPtr == nil) {
	return sv_2mortal(newSVpvf("%s: nil object", subName));
    }
    return NULL;
}

/* The address of the variable's storage inside object. */
static void *
IvarAddress(id object, Ivar ivar)
{
    return (char *) object + ivar_getOffset(ivar);
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_ReadIvar --
 *	Converts the variable's value from C into result.
 *----------------------------------------------------------------------
 */
SV *
VantlePriv_ReadIvar(pTHX_ id object, Ivar ivar, SV *result, Tcl_DString *errors)
{
    Tcl_DStringSetLength(errors, 0);
    if (BqOsmo_C2I(NULL, errors, VantlePriv_CTypeTable, result, IvarAddress(object, ivar), 0,
	    ivar_getTypeEncoding(ivar), 0) != 0) {
	return sv_2mortal(newSVpvf("Vantle::ivar_get: %s", Tcl_DStringValue(errors)));
    }
    return NULL;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_WriteIvar --
 *	Converts value to C into the variable; C strings are stored as
 *	private copies, replacing (and freeing) the one the variable held.
 *	A class object's variables are the class's own record: refused.  So
 *	is the variable that holds an object's class pointer (isa, the first
 *	word of every object): the next message would go to the wrong
 *	methods, or crash.
 *----------------------------------------------------------------------
 */
SV *
VantlePriv_WriteIvar(pTHX_ id object, Ivar ivar, SV *value, Tcl_DString *errors)
{
    if (class_isMetaClass(object_getClass(object))) {
	return sv_2mortal(newSVpvs("Vantle::ivar_set: refusing to modify class vars"));
    }
    if (ivar_getOffset(ivar) < (ptrdiff_t) sizeof(Class)) {
	return sv_2mortal(newSVpvf("Vantle::ivar_set: refusing to modify %s, the object's class",
		ivar_getName(ivar)));
    }
    Tcl_DStringSetLength(errors, 0);
    if (BqOsmo_I2C(NULL, errors, VantlePriv_CTypeTable, value, IvarAddress(object, ivar), 0,
	    ivar_getTypeEncoding(ivar), BQ_QUAL_OWNED) != 0) {
	return sv_2mortal(newSVpvf("Vantle::ivar_set: %s", Tcl_DStringValue(errors)));
    }
    return NULL;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_FindNamedIvar --
 *	The variable named by sv's string in object, or null (a name with
 *	an embedded NUL names none).  *namePtr receives the name.
 *----------------------------------------------------------------------
 */
Ivar
VantlePriv_FindNamedIvar(pTHX_ id object, SV *sv, const char **namePtr)
{
    STRLEN length;
    const char *name = SvPV_const(sv, length);
    *namePtr = name;
    return strlen(name) == length ? BqOsmo_FindIvar(object, name) : NULL;
}

/*
 *----------------------------------------------------------------------
 * IvarAccess --
 *	The body of Vantle::ivar_get (value null) and Vantle::ivar_set:
 *	reads into result or writes value.  Answers null or a mortal
 *	message.  Runs inside the caller's conversion scope.
 *----------------------------------------------------------------------
 */
static SV *
IvarAccess(pTHX_ const char *subName, SV *objectSV, SV *nameSV, SV *value, SV *result,
	Tcl_DString *errors)
{
    id object;
    SV *failure = VantlePriv_ReceiverArgument(aTHX_ objectSV, subName, errors, &object);
    if (failure != NULL) {
	return failure;
    }
    const char *name;
    Ivar ivar = VantlePriv_FindNamedIvar(aTHX_ object, nameSV, &name);
    if (ivar == NULL) {
	return sv_2mortal(newSVpvf("%s: no ivar \"%s\"", subName, name));
    }
    return value == NULL ? VantlePriv_ReadIvar(aTHX_ object, ivar, result, errors)
	: VantlePriv_WriteIvar(aTHX_ object, ivar, value, errors);
}

/*
 *----------------------------------------------------------------------
 * Vantle::ivar_get, Vantle::ivar_set --
 *	(obj,ivar): the variable's value; (obj,ivar,val): writes it and
 *	answers obj.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__ivar_get)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 2) {
	croak("Usage: %s(obj,ivar)", "Vantle::ivar_get");
    }
    SV *result = sv_newmortal();
    Tcl_DString errors;
    ENTER;
    VantlePriv_EnterConversion(aTHX_ &errors);
    SV *failure = IvarAccess(aTHX_ "Vantle::ivar_get", ST(0), ST(1), NULL, result, &errors);
    LEAVE;
    if (failure != NULL) {
	croak_sv(failure);
    }
    ST(0) = result;
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__ivar_set)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 3) {
	croak("Usage: %s(obj,ivar,val)", "Vantle::ivar_set");
    }
    Tcl_DString errors;
    ENTER;
    VantlePriv_EnterConversion(aTHX_ &errors);
    SV *failure = IvarAccess(aTHX_ "Vantle::ivar_set", ST(0), ST(1), ST(2), NULL, &errors);
    LEAVE;
    if (failure != NULL) {
	croak_sv(failure);
    }
    XSRETURN(1);
}

/*
 * NewLinkObject --
 *	A new reference blessed into Vantle::IVar to a read-only array of
 *	the handle (whose count it takes over), the read-only name and the
 *	read-only record address.  The caller owns the reference.
 */
static SV *
NewLinkObject(pTHX_ SV *handle, const char *name, Ivar ivar)
{
    SV *nameSV = newSVpv(name, 0);
    SV *recordSV = newSViv(PTR2IV(ivar));
    SvREADONLY_on(nameSV);
    SvREADONLY_on(recordSV);
    AV *av = newAV();
    av_extend(av, 2);
    av_push(av, handle);
    av_push(av, nameSV);
    av_push(av, recordSV);
    SV *link = newRV_noinc((SV *) av);
    sv_bless(link, IVarStash(aTHX));
    SvREADONLY_on((SV *) av);
    return link;
}

/*
 *----------------------------------------------------------------------
 * Vantle_SVLinkIVar --
 *	Ties sv to the variable name of object, replacing a tie sv had.
 *	The link keeps a handle, which does not keep the object alive.
 *----------------------------------------------------------------------
 */
int
Vantle_SVLinkIVar(SV *sv, id object, const char *name, Tcl_DString *errors)
{
    BQCPERL_dTHX;
    if (object == nil) {
	BqTcl_DStringApp(errors, "nil object", (char *) NULL);
	return 0;
    }
    Ivar ivar = name != NULL ? BqOsmo_FindIvar(object, name) : NULL;
    if (ivar == NULL) {
	BqTcl_DStringApp(errors, "NULL ivar", (char *) NULL);
	return 0;
    }
    if (SvREADONLY(sv)) {
	BqTcl_DStringApp(errors, "read-only value", (char *) NULL);
	return 0;
    }
    SV *handle = newSV(0);
    if (!Vantle_SVSetObject(handle, object, errors)) {
	SvREFCNT_dec(handle);
	return 0;
    }
    SV *link = NewLinkObject(aTHX_ handle, name, ivar);
    sv_unmagic(sv, PERL_MAGIC_tiedscalar);
    sv_magic(sv, link, PERL_MAGIC_tiedscalar, NULL, 0);
    SvREFCNT_dec(link);		/* the magic holds its own count */
    return 1;
}

/*
 *----------------------------------------------------------------------
 * Vantle::ivar --
 *	(v,obj,ivar): links the scalar v to the variable and answers it.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__ivar)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 3) {
	croak("Usage: Vantle::ivar(v,obj,ivar)");
    }
    SV *failure = NULL;
    Tcl_DString errors;
    ENTER;
    VantlePriv_EnterConversion(aTHX_ &errors);
    id object;
    if (!VantlePriv_ObjectArgument(aTHX_ ST(1), &errors, &object)) {
	failure = sv_2mortal(newSVpvf("Vantle::ivar: %s", Tcl_DStringValue(&errors)));
    } else {
	STRLEN length;
	const char *name = SvPV_const(ST(2), length);
	Tcl_DStringSetLength(&errors, 0);
	if (strlen(name) != length) {
	    BqTcl_DStringApp(&errors, "NULL ivar", (char *) NULL);
	}
	if (Tcl_DStringLength(&errors) > 0 || !Vantle_SVLinkIVar(ST(0), object, name, &errors)) {
	    failure = sv_2mortal(newSVpvf("Vantle::ivar: %s: %s", name,
		    Tcl_DStringValue(&errors)));
	}
    }
    LEAVE;
    if (failure != NULL) {
	croak_sv(failure);
    }
    XSRETURN(1);
}

/*
 * LinkElements --
 *	The elements of a linked-ivar object: its array when sv is a
 *	reference to an untied array blessed into Vantle::IVar with two or
 *	three present elements.  Otherwise a mortal message: "%s: not an
 *	ivar" for anything not blessed into Vantle::IVar, "%s: bad
 *	reference" for a malformed one.
 */
static SV *
LinkElements(pTHX_ SV *sv, const char *subName, AV **avPtr)
{
    SV *referent = SvROK(sv) ? SvRV(sv) : NULL;
    if (referent == NULL || !SvOBJECT(referent) || SvSTASH(referent) != IVarStash(aTHX)) {
	return sv_2mortal(newSVpvf("%s: not an ivar", subName));
    }
    AV *av = (AV *) referent;
    if (SvTYPE(referent) != SVt_PVAV || SvRMAGICAL(referent)
	    || AvFILLp(av) < 1 || AvFILLp(av) > 2) {
	return sv_2mortal(newSVpvf("%s: bad reference", subName));
    }
    for (SSize_t i = 0; i <= AvFILLp(av); i++) {
	if (AvARRAY(av)[i] == NULL) {
	    return sv_2mortal(newSVpvf("%s: bad reference", subName));
	}
    }
    *avPtr = av;
    return NULL;
}

/*
 *----------------------------------------------------------------------
 * LinkTarget --
 *	The object and variable a linked-ivar object stands for.  The record
 *	it carries must be the one the object's class has under that name.
 *	Answers null, or a mortal message.
 *----------------------------------------------------------------------
 */
static SV *
LinkTarget(pTHX_ SV *sv, const char *subName, Tcl_DString *errors, id *objectPtr,
	Ivar *ivarPtr)
{
    AV *av;
    SV *failure = LinkElements(aTHX_ sv, subName, &av);
    if (failure != NULL) {
	return failure;
    }
    /* Converting may run Perl code: the array must outlive this call. */
    sv_2mortal(SvREFCNT_inc_simple_NN((SV *) av));
    failure = VantlePriv_ReceiverArgument(aTHX_ AvARRAY(av)[0], subName, errors, objectPtr);
    if (failure != NULL) {
	return failure;
    }
    const char *name;
    Ivar ivar = VantlePriv_FindNamedIvar(aTHX_ *objectPtr, AvARRAY(av)[1], &name);
    if (ivar == NULL) {
	return sv_2mortal(newSVpvf("%s: no ivar %s", subName, name));
    }
    if (AvFILLp(av) == 2) {
	Ivar recorded = INT2PTR(Ivar, SvIV(AvARRAY(av)[2]));
	if (recorded != NULL && recorded != ivar) {
	    return sv_2mortal(newSVpvf("%s: bad reference", subName));
	}
    }
    *ivarPtr = ivar;
    return NULL;
}

/*
 *----------------------------------------------------------------------
 * Vantle::IVar::FETCH, Vantle::IVar::STORE --
 *	Tie methods of a linked scalar: read and write the variable.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__IVar__FETCH)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 1) {
	croak("Usage: Vantle::IVar::FETCH(sv)");
    }
    SV *result = sv_newmortal();
    Tcl_DString errors;
    ENTER;
    VantlePriv_EnterConversion(aTHX_ &errors);
    id object;
    Ivar ivar;
    SV *failure = LinkTarget(aTHX_ ST(0), "Vantle::IVar::FETCH", &errors, &object, &ivar);
    if (failure == NULL) {
	failure = VantlePriv_ReadIvar(aTHX_ object, ivar, result, &errors);
    }
    LEAVE;
    if (failure != NULL) {
	croak_sv(failure);
    }
    ST(0) = result;
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__IVar__STORE)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 2) {
	croak("Usage: Vantle::IVar::STORE(sv,val)");
    }
    Tcl_DString errors;
    ENTER;
    VantlePriv_EnterConversion(aTHX_ &errors);
    id object;
    Ivar ivar;
    SV *failure = LinkTarget(aTHX_ ST(0), "Vantle::IVar::STORE", &errors, &object, &ivar);
    if (failure == NULL) {
	failure = VantlePriv_WriteIvar(aTHX_ object, ivar, ST(1), &errors);
    }
    LEAVE;
    if (failure != NULL) {
	croak_sv(failure);
    }
    XSRETURN(1);
}

void
VantlePriv_BootIVar(pTHX)
{
    newXS("Vantle::ivar_get", XS_Vantle__ivar_get, "Vantle");
    newXS("Vantle::ivar_set", XS_Vantle__ivar_set, "Vantle");
    newXS("Vantle::ivar", XS_Vantle__ivar, "Vantle");
    newXS("Vantle::IVar::FETCH", XS_Vantle__IVar__FETCH, "Vantle");
    newXS("Vantle::IVar::STORE", XS_Vantle__IVar__STORE, "Vantle");
}
