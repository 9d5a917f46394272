/*
 * PerlLinkVar.mm --
 *
 *	Linked variables: a package scalar tied ('q' magic) to a link object,
 *	a reference blessed into Vantle::LinkVar whose read-only referent
 *	holds the C variable's address as its integer, and "READONLY" as its
 *	string when the link is read-only.
 *
 *	The tie methods trust only link objects this file made: each referent
 *	carries an extension magic of this file's own (which Perl code cannot
 *	forge) holding the address, so a scalar that Perl code blessed into
 *	Vantle::LinkVar itself never makes FETCH or STORE touch memory.
 */
#import <Foundation/Foundation.h>

#include "PerlLinkVar.h"
#include "VantlePriv.h"

/* Marks a link object's referent; the magic's pointer is the address. */
static MGVTBL linkVtable;
static HV *linkStash;			/* per interpreter: */
static PerlInterpreter *linkStashOwner;	/* the one it belongs to */

static HV *
LinkStash(pTHX)
{
    if (linkStash == NULL || linkStashOwner != my_perl) {
	linkStash = gv_stashpvs("Vantle::LinkVar", GV_ADD);
	linkStashOwner = my_perl;
    }
    return linkStash;
}

/*
 *----------------------------------------------------------------------
 * NewLinkObject --
 *	A new mortal link object for address: the referent's integer is the
 *	address; a read-only link also carries the string "READONLY", with
 *	the integer kept valid over it.
 *----------------------------------------------------------------------
 */
static SV *
NewLinkObject(pTHX_ id *address, int readOnly)
{
    SV *referent = newSViv(PTR2IV(address));
    if (readOnly) {
	sv_setpv(referent, "READONLY");
	if (SvOOK(referent)) {
	    sv_backoff(referent);
	}
	SvIV_set(referent, PTR2IV(address));
	SvIOK_on(referent);
    }
    sv_magicext(referent, NULL, PERL_MAGIC_ext, &linkVtable, (const char *) address, 0);
    SV *link = sv_2mortal(newRV_noinc(referent));
    sv_bless(link, LinkStash(aTHX));
    SvREADONLY_on(referent);
    return link;
}

/*
 *----------------------------------------------------------------------
 * Vantle_LinkVar --
 *	Ties the package scalar name (created if missing) to a new link
 *	object for address, replacing any tie it had.  Answers 1; 0 for a
 *	null address or name, with nothing done.
 *----------------------------------------------------------------------
 */
int
Vantle_LinkVar(const char *name, id *address, int readOnly)
{
    if (address == NULL || name == NULL) {
	return 0;
    }
    BQCPERL_dTHX;
    ENTER;
    SAVETMPS;
    SV *link = NewLinkObject(aTHX_ address, readOnly);
    SV *variable = get_sv(name, GV_ADDMULTI);
    sv_unmagic(variable, PERL_MAGIC_tiedscalar);
    sv_magic(variable, link, PERL_MAGIC_tiedscalar, NULL, 0);
    FREETMPS;
    LEAVE;
    return 1;
}

/*
 *----------------------------------------------------------------------
 * Vantle_UnlinkVar --
 *	Removes the tie of the package scalar name, when it exists.
 *----------------------------------------------------------------------
 */
void
Vantle_UnlinkVar(const char *name)
{
    if (name == NULL) {
	return;
    }
    BQCPERL_dTHX;
    SV *variable = get_sv(name, 0);
    if (variable != NULL) {
	sv_unmagic(variable, PERL_MAGIC_tiedscalar);
    }
}

/*
 * LinkReferent --
 *	The referent of a link object this file made, or null.
 */
static SV *
LinkReferent(pTHX_ SV *link)
{
    if (link == NULL || !SvROK(link)) {
	return NULL;
    }
    SV *referent = SvRV(link);
    if (!SvOBJECT(referent) || SvSTASH(referent) != LinkStash(aTHX)
	    || mg_findext(referent, PERL_MAGIC_ext, &linkVtable) == NULL) {
	return NULL;
    }
    return referent;
}

static id *
LinkAddress(pTHX_ SV *referent)
{
    return (id *) mg_findext(referent, PERL_MAGIC_ext, &linkVtable)->mg_ptr;
}

/*
 *----------------------------------------------------------------------
 * Vantle::LinkVar::FETCH(sv) --
 *	A new mortal handle of the object the linked C variable holds now.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__LinkVar__FETCH)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 1) {
	croak("Usage: Vantle::LinkVar::FETCH(sv)");
    }
    SV *referent = LinkReferent(aTHX_ ST(0));
    if (referent == NULL) {
	croak("variable is is not of type Glisk::LinkVar");
    }
    id object = *LinkAddress(aTHX_ referent);
    SV *handle = sv_newmortal();
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    if (!Vantle_SVSetObject(handle, object, &errors)) {
	SV *message = sv_2mortal(newSVpvf("Vantle::LinkVar::FETCH: %s",
		Tcl_DStringValue(&errors)));
	Tcl_DStringFree(&errors);
	croak_sv(message);
    }
    Tcl_DStringFree(&errors);
    ST(0) = handle;
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * Vantle::LinkVar::STORE(sv,val) --
 *	Stores the object of val (converted by value when perl_auto_convert
 *	is on, else only handles, nil and class names) into the linked C
 *	variable.  No retain or release is sent.  Returns the link object.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__LinkVar__STORE)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 2) {
	croak("Usage: Vantle::LinkVar::STORE(sv,val)");
    }
    SV *referent = LinkReferent(aTHX_ ST(0));
    if (referent == NULL) {
	croak("variable is is not of type Glisk::LinkVar");
    }
    if (SvPOK(referent)) {
	croak("Read-ONLY linked variable");
    }
    SV *failure = NULL;
    ENTER;
    Tcl_DString errors;
    VantlePriv_EnterConversion(aTHX_ &errors);
    char failed = 0;
    id object = VantlePriv_PerlAutoConvert ? Vantle_ObjectForSV(ST(1), &errors, &failed)
					   : Vantle_SVGetObject2(ST(1), &errors, &failed);
    if (failed) {
	failure = sv_2mortal(newSVpvf("Glisk::Linkvar::STORE: %s", Tcl_DStringValue(&errors)));
    } else {
	*LinkAddress(aTHX_ referent) = object;
    }
    LEAVE;
    if (failure != NULL) {
	croak_sv(failure);
    }
    XSRETURN(1);
}

void
VantlePriv_BootLinkVar(pTHX)
{
    newXS("Vantle::LinkVar::FETCH", XS_Vantle__LinkVar__FETCH, "Vantle");
    newXS("Vantle::LinkVar::STORE", XS_Vantle__LinkVar__STORE, "Vantle");
}
