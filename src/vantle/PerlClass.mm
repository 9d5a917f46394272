/*
 * PerlClass.mm --
 *
 *	Class objects by name: Vantle::class, which fails when no class has
 *	the name, and Vantle::class_lookup, which answers 0 instead.  Also
 *	the method context that messages to super would start from.
 */
#import <Foundation/Foundation.h>

#include "VantlePriv.h"

#include <strings.h>
#include <string.h>

/*
 *----------------------------------------------------------------------
 * VantlePriv_GetSuper --
 *	The method context (receiver, class whose method is running) of a
 *	message to super.  Nothing in this binding runs Perl code as a
 *	method of a runtime class, so there never is one.
 *----------------------------------------------------------------------
 */
struct objc_super *
VantlePriv_GetSuper(void)
{
    return NULL;
}

/*
 * ClassNamed --
 *	The class whose name is sv's string, or Nil.  A name with an
 *	embedded NUL names no class.
 */
static Class
ClassNamed(pTHX_ SV *sv, const char **namePtr)
{
    STRLEN length;
    const char *name = SvPV_const(sv, length);
    *namePtr = name;
    if (strlen(name) != length) {
	return Nil;
    }
    return objc_lookUpClass(name);
}

/*
 *----------------------------------------------------------------------
 * Vantle::class --
 *	(classname): a handle of the class of that name; "nil" in any case
 *	gives the nil handle.  No such class croaks.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__class)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 1) {
	croak("Usage: Vantle::class(classname)");
    }
    const char *name;
    Class cls = ClassNamed(aTHX_ ST(0), &name);
    SV *result = sv_newmortal();
    if (strcasecmp(name, "nil") == 0) {
	Vantle_SVSetObject(result, nil, NULL);
    } else if (cls == Nil) {
	croak("Vantle::class: no class %s", name);
    } else {
	Vantle_SVSetObject(result, (id) cls, NULL);
    }
    ST(0) = result;
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * Vantle::class_lookup --
 *	(classname): a handle of the class of that name, or the plain
 *	integer 0 (not a nil handle) when there is none.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__class_lookup)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 1) {
	croak("Usage: Vantle::class_lookup(classname)");
    }
    const char *name;
    Class cls = ClassNamed(aTHX_ ST(0), &name);
    SV *result = sv_newmortal();
    if (cls == Nil) {
	sv_setiv(result, 0);
    } else {
	Vantle_SVSetObject(result, (id) cls, NULL);
    }
    ST(0) = result;
    XSRETURN(1);
}

void
VantlePriv_BootClass(pTHX)
{
    newXS("Vantle::class", XS_Vantle__class, "Vantle");
    newXS("Vantle::class_lookup", XS_Vantle__class_lookup, "Vantle");
}
