/*
 * BqVantleInterpVariables.mm --
 *
 *	Perl variables seen from the interpreter object: reading and setting
 *	them by name, publishing objects as handles, with or without a
 *	variable.
 *
 *	Names: a leading '$', '@' or '%' selects a scalar, an array or a
 *	hash and is removed; any other name is a scalar's name taken whole.
 *	Without a package Perl takes the name in main.  Variables are made
 *	when missing.  A null or empty name does nothing (answers nil).
 */
#import <Foundation/Foundation.h>

#include "BqVantleInterpPriv.h"
#include "VantlePriv.h"

#include <string.h>

/*
 * FetchVariable --
 *	The variable of a possibly sigiled name, made when missing; null for
 *	a null or empty name.  *sigil receives '$', '@' or '%'.
 */
static SV *
FetchVariable(pTHX_ const char *name, char *sigil)
{
    *sigil = '$';
    if (name == NULL) {
	return NULL;
    }
    if (name[0] == '$' || name[0] == '@' || name[0] == '%') {
	*sigil = name[0];
	name++;
    }
    if (name[0] == '\0') {
	return NULL;
    }
    switch (*sigil) {
    case '@':
	return (SV *) get_av(name, GV_ADDMULTI);
    case '%':
	return (SV *) get_hv(name, GV_ADDMULTI);
    default:
	return get_sv(name, GV_ADDMULTI);
    }
}

/*
 * ContainerOf --
 *	The array or hash (type) that value stands for: the value itself,
 *	or the referent of a reference to one; else null.
 */
static SV *
ContainerOf(SV *value, svtype type)
{
    if (SvTYPE(value) == type) {
	return value;
    }
    if (VantlePriv_IsScalarType(value) && SvROK(value) && SvTYPE(SvRV(value)) == type) {
	return SvRV(value);
    }
    return NULL;
}

/* Replaces the elements of target by copies of those of source. */
static void
CopyArray(pTHX_ AV *target, AV *source)
{
    if (target == source) {
	return;
    }
    av_clear(target);
    SSize_t last = av_len(source);
    av_extend(target, last);
    for (SSize_t i = 0; i <= last; i++) {
	SV **element = av_fetch(source, i, 0);
	av_store(target, i, element != NULL ? newSVsv(*element) : newSV(0));
    }
}

/* Replaces the entries of target by copies of those of source. */
static void
CopyHash(pTHX_ HV *target, HV *source)
{
    if (target == source) {
	return;
    }
    hv_clear(target);
    hv_iterinit(source);
    HE *entry;
    while ((entry = hv_iternext(source)) != NULL) {
	SV *copy = newSVsv(hv_iterval(source, entry));
	if (hv_store_ent(target, hv_iterkeysv(entry), copy, 0) == NULL) {
	    SvREFCNT_dec(copy);
	}
    }
}

/* Makes scalar a handle of object; 0 when it cannot (the reason is
 * dropped: the callers answer nil). */
static int
SetObjectQuietly(SV *scalar, id object)
{
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    int made = Vantle_SVSetObject(scalar, object, &errors);
    Tcl_DStringFree(&errors);
    return made;
}

@implementation BqVantleInterp (Variables)

/*
 *----------------------------------------------------------------------
 * getVar: --
 *	A wrapper sharing the named variable (made when missing); nil for a
 *	scalar that never had a value.
 *----------------------------------------------------------------------
 */
- (id) getVar: (const char *)name
{
    VANTLE_dINTERP("getVar:");
    char sigil;
    SV *variable = FetchVariable(aTHX_ name, &sigil);
    return variable != NULL ? VantlePriv_Wrap(variable) : nil;
}

/*
 *----------------------------------------------------------------------
 * setVar:to: --
 *	Copies the wrapper's value into the named variable: a scalar's value
 *	into a scalar; the elements of an array (or of an array reference)
 *	into an array; the entries of a hash (or hash reference) into a
 *	hash.  Any other pairing, and a read-only variable, raise
 *	NSInvalidArgumentException.  A nil value does nothing.
 *----------------------------------------------------------------------
 */
- (void) setVar: (const char *)name to: (BqVantleVar *)value
{
    VANTLE_dINTERP("setVar:to:");
    if (value != nil && !VantlePriv_IsWrapper(value)) {
	[NSException raise: NSInvalidArgumentException
		    format: @"setVar:to:: the value is no wrapper of a Perl value"];
    }
    SV *source = value != nil ? [value sValue] : NULL;
    if (source == NULL) {
	return;
    }
    if ([value _perl] != my_perl) {
	[NSException raise: NSInvalidArgumentException
		    format: @"setVar:to:: the value belongs to another Perl interpreter"];
    }
    char sigil;
    SV *variable = FetchVariable(aTHX_ name, &sigil);
    if (variable == NULL) {
	return;
    }
    VantlePriv_CheckWritable(variable, "setVar:to:");
    SV *from = NULL;
    if (sigil == '@') {
	from = ContainerOf(source, SVt_PVAV);
    } else if (sigil == '%') {
	from = ContainerOf(source, SVt_PVHV);
    } else if (VantlePriv_IsScalarType(source)) {
	from = source;
    }
    if (from == NULL) {
	[NSException raise: NSInvalidArgumentException
		    format: @"setVar:to:: a %s cannot be copied into %s", SvTYPE(source) == SVt_PVAV
		? "Perl array" : SvTYPE(source) == SVt_PVHV ? "Perl hash" : "Perl value", name];
    }
    auto copy = [&] {
	if (sigil == '@') {
	    CopyArray(aTHX_ (AV *) variable, (AV *) from);
	} else if (sigil == '%') {
	    CopyHash(aTHX_ (HV *) variable, (HV *) from);
	} else {
	    sv_setsv(variable, from);
	}
    };
    /* Any element of a container may be tied: containers copy trapped. */
    if (sigil == '$' && !VantlePriv_NeedsTrap(variable) && !VantlePriv_NeedsTrap(from)) {
	copy();
    } else if (!VantlePriv_Trapped(aTHX_ copy)) {
	VantlePriv_RaisePerlError(aTHX_ "setVar:to:");
    }
}

/*
 *----------------------------------------------------------------------
 * setSVar:toValue: --
 *	Sets the named scalar (a leading '$' is removed) to a copy of the C
 *	string; a null string makes it undef.  A read-only scalar raises
 *	NSInvalidArgumentException.
 *----------------------------------------------------------------------
 */
- (void) setSVar: (const char *)name toValue: (const char *)text
{
    VANTLE_dINTERP("setSVar:toValue:");
    if (name == NULL) {
	return;
    }
    if (name[0] == '$') {
	name++;
    }
    if (name[0] == '\0') {
	return;
    }
    SV *variable = get_sv(name, GV_ADDMULTI);
    VantlePriv_CheckWritable(variable, "setSVar:toValue:");
    sv_setpv(variable, text);
}

/*
 *----------------------------------------------------------------------
 * registerObject:asVariableName: --
 *	Makes the scalar of exactly that name a handle of object and
 *	answers a wrapper sharing it; nil when the handle cannot be made
 *	(an invalid object, a read-only scalar).
 *----------------------------------------------------------------------
 */
- (id) registerObject: (id)object asVariableName: (const char *)name
{
    VANTLE_dINTERP("registerObject:asVariableName:");
    if (name == NULL || name[0] == '\0') {
	return nil;
    }
    SV *variable = get_sv(name, GV_ADDMULTI);
    if (variable == NULL || SvREADONLY(variable)) {
	return nil;
    }
    return SetObjectQuietly(variable, object) ? VantlePriv_Wrap(variable) : nil;
}

/*
 * NewHandleVar --
 *	A wrapper owning a new unbound scalar made a handle of object by
 *	make (Vantle_SVSetObject or Vantle_SVLookupObject); nil when make
 *	fails or there is no interpreter.
 */
static id
NewHandleVar(id object, int (*make)(SV *, id))
{
    BQCPERL_dTHX;
    if (my_perl == NULL) {
	return nil;
    }
    SV *scalar = newSV(0);
    if (!make(scalar, object)) {
	SvREFCNT_dec(scalar);
	return nil;
    }
    return VantlePriv_WrapOwned(aTHX_ scalar);
}

+ (id) registerObject: (id)object
{
    return NewHandleVar(object, SetObjectQuietly);
}

+ (id) lookupObject: (id)object
{
    return NewHandleVar(object, Vantle_SVLookupObject);
}

+ (void) unregisterObject: (id)object
{
    Vantle_UnregisterObject(object);
}

@end
