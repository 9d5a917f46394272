/*
 * PerlClass.mm --
 *
 *	Class objects by name: Vantle::class, which fails when no class has
 *	the name, and Vantle::class_lookup, which answers 0 instead.  Perl's
 *	universal methods isa, can, DOES and VERSION for handles and for the
 *	packages of runtime classes.  Also the method context that messages
 *	to super would start from.
 */
#import <Foundation/Foundation.h>

#include "VantlePriv.h"
#include "PerlContext.h"
#include "PerlMsgSend.h"
#include "PerlSelectorMap.h"
#include "Protocol.h"
#include "TypeEncoding.h"

#include <strings.h>
#include <string.h>

/*
 *----------------------------------------------------------------------
 * VantlePriv_GetSuper --
 *	The method context (receiver, class where a message to super starts)
 *	of a message to super: the innermost method defined in Perl that is
 *	running in this interpreter, or null.
 *----------------------------------------------------------------------
 */
VantleMethodFrame *
VantlePriv_GetSuper(pTHX)
{
    return VantlePriv_Context(aTHX)->methodFrame;
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

/*
 *----------------------------------------------------------------------
 * The universal methods.
 *
 * isa, can, DOES and VERSION of Vantle::Object (for handles) and of
 * Vantle::RuntimeClass (for the packages of runtime classes, whose parent it
 * is) answer as UNIVERSAL's do, extended to the runtime's classes.  A
 * handle of an object is a kind of the object's class and its
 * superclasses, a handle or the package of a class a kind of that class
 * and its superclasses; can finds Perl's methods first, then a message
 * sub for a message the object or class responds to.  Whatever is no
 * such handle or package gets UNIVERSAL's own answer.
 *----------------------------------------------------------------------
 */

/* What an invocant stands for. */
typedef struct Invocant {
    HV *stash;		/* where its Perl methods are found */
    id object;		/* its live object or class, else nil */
    Class kinds;	/* the class that it is a kind of, else Nil */
} Invocant;

/*
 * ReadInvocant --
 *	Reads a handle (of a live object or not) or the name of a class
 *	package; answers 0 for anything else.
 */
static int
ReadInvocant(pTHX_ SV *sv, Invocant *invocant)
{
    invocant->stash = NULL;
    invocant->object = nil;
    invocant->kinds = Nil;
    if (VantlePriv_HandleReferent(aTHX_ sv) != NULL) {
	char failed = 0;
	id object = Vantle_SVGetObject2NM(sv, NULL, &failed);
	invocant->stash = VantlePriv_ObjectStash(aTHX);
	if (!failed && object != nil) {
	    Class cls = object_getClass(object);
	    invocant->object = object;
	    invocant->kinds = class_isMetaClass(cls) ? (Class) object : cls;
	}
	return 1;
    }
    if (SvROK(sv) || !SvOK(sv)) {
	return 0;
    }
    HV *stash = gv_stashsv(sv, 0);
    Class cls = stash != NULL ? VantlePriv_ClassPackageClass(aTHX_ stash) : Nil;
    if (cls == Nil) {
	return 0;
    }
    invocant->stash = stash;
    invocant->object = (id) cls;
    invocant->kinds = cls;
    return 1;
}

static int
IsSubclass(Class cls, Class ancestor)
{
    for (; cls != Nil; cls = class_getSuperclass(cls)) {
	if (cls == ancestor) {
	    return 1;
	}
    }
    return 0;
}

/* Whether the invocant is a kind of the class named by sv. */
static int
IsKindOfNamed(pTHX_ Invocant *invocant, SV *sv)
{
    const char *name;
    Class named = ClassNamed(aTHX_ sv, &name);
    return invocant->kinds != Nil && named != Nil && IsSubclass(invocant->kinds, named);
}

/* Leaves UNIVERSAL's answer for the running sub's arguments on the stack;
 * answers the number of values. */
static I32
AsUniversal(pTHX_ const char *name, I32 ax, I32 items)
{
    return VantlePriv_CallInPlace(aTHX_ get_cv(name, GV_ADD), ax, items, G_SCALAR);
}

/*
 * Answers --
 *	Whether an object responds to a selector: by its class's methods, or
 *	by its own respondsToSelector: (objects that forward).  One that
 *	raises in respondsToSelector: does not.
 */
static int
Answers(id object, SEL selector)
{
    Class cls = object_getClass(object);
    if (class_respondsToSelector(cls, selector)) {
	return 1;
    }
    if (!class_respondsToSelector(cls, @selector(respondsToSelector:))) {
	return 0;
    }
    int answer = 0;
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    if (!VantlePriv_Guard(&errors, [&] { answer = [object respondsToSelector: selector] ? 1 : 0; })) {
	answer = 0;
    }
    Tcl_DStringFree(&errors);
    return answer;
}

/*
 * RespondsTo --
 *	Whether an object (or class) responds to the message that a method
 *	call of that Perl name sends with as many arguments as the name has
 *	underscores after its leading ones: "count" asks for count,
 *	"objectAtIndex_" for objectAtIndex:, "foo_bar" for foo:bar:.  With
 *	the selector map on, a name without underscores is also looked up
 *	in it for any number of arguments.
 */
static int
RespondsTo(pTHX_ id object, const char *perlName)
{
    size_t length = strlen(perlName);
    const char *p = perlName;
    while (*p == '_') {
	p++;
    }
    int colons = 0;
    for (; *p != '\0'; p++) {
	colons += *p == '_';
    }
    /* "foo_bar" is formed as "foo_bar_" is, without the warning. */
    char *name = (char *) alloca(length + 2);
    memcpy(name, perlName, length + 1);
    if (colons > 0 && perlName[length - 1] != '_') {
	strcpy(name + length, "_");
	colons++;
    }
    char *formed = (char *) alloca(length + (size_t) colons + 3);
    VantlePriv_FormSelectorName(aTHX_ name, colons, object, Nil, formed);
    if (Answers(object, BqTypeSpec_Str2SEL(formed))) {
	return 1;
    }
    if (VantlePriv_PerlSelectorMap && colons == 0) {
	SEL mapped = VantlePriv_FindSelector(object, Nil, formed, perlName, -1);
	return mapped != NULL && Answers(object, mapped);
    }
    return 0;
}

/*
 *----------------------------------------------------------------------
 * isa, DOES --
 *	(invocant, kind): true for a kind of the invocant's class (a
 *	superclass, or the class itself); DOES (ix set) also for a protocol
 *	that the class adopts.  Otherwise UNIVERSAL's answer.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__isa)
{
    dXSARGS;
    dXSI32;
    BqCPerl_SetInterp(aTHX);
    if (items != 2) {
	croak_xs_usage(cv, ix ? "invocant, role" : "invocant, kind");
    }
    SvGETMAGIC(ST(0));
    Invocant invocant;
    if (ReadInvocant(aTHX_ ST(0), &invocant) && invocant.kinds != Nil
	    && (IsKindOfNamed(aTHX_ &invocant, ST(1))
		|| (ix && BqOsmo_LookupProtocol(invocant.kinds, SvPV_nolen(ST(1))) != NULL))) {
	ST(0) = &PL_sv_yes;
	XSRETURN(1);
    }
    XSRETURN(AsUniversal(aTHX_ ix ? "UNIVERSAL::DOES" : "UNIVERSAL::isa", ax, items));
}

/*
 *----------------------------------------------------------------------
 * can --
 *	(invocant, method): a reference to the Perl method of that name
 *	(DESTROY, the tie methods, isa and can themselves ...), or, when the
 *	object or class responds to the message a call of that name sends,
 *	to the message sub the call would reach; else undef.  A message sub
 *	found for anything that is no handle or class package stands for no
 *	message, so it is not answered.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__can)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 2) {
	croak_xs_usage(cv, "invocant, method");
    }
    SvGETMAGIC(ST(0));
    Invocant invocant;
    if (!ReadInvocant(aTHX_ ST(0), &invocant)) {
	I32 count = AsUniversal(aTHX_ "UNIVERSAL::can", ax, items);
	if (count == 1 && SvROK(ST(0)) && SvTYPE(SvRV(ST(0))) == SVt_PVCV
		&& VantlePriv_IsMessageSub((CV *) SvRV(ST(0)))) {
	    ST(0) = &PL_sv_undef;
	}
	XSRETURN(count);
    }
    STRLEN length;
    const char *name = SvPV_const(ST(1), length);
    GV *gv = gv_fetchmethod_sv_flags(invocant.stash, ST(1), 0);
    CV *answer = gv != NULL && isGV(gv) ? GvCV(gv) : NULL;
    if (VantlePriv_IsMessageSub(answer)) {
	answer = NULL;
    }
    int plainName = strlen(name) == length && strpbrk(name, ":'") == NULL;
    if (answer == NULL && invocant.object != nil && plainName
	    && RespondsTo(aTHX_ invocant.object, name)) {
	const char *package = HvNAME(invocant.stash);
	answer = VantlePriv_MessageSub(aTHX_ package, name,
		invocant.stash == VantlePriv_ObjectStash(aTHX) ? NULL : package);
    }
    ST(0) = answer != NULL ? sv_2mortal(newRV_inc((SV *) answer)) : &PL_sv_undef;
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * VERSION --
 *	(invocant, [wanted]): UNIVERSAL::VERSION's answer; for a handle or
 *	the package of a class, that of the class, whose version is the
 *	runtime's version of the class unless Perl code set its $VERSION.
 *	A wanted version higher than that croaks as Perl does.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__VERSION)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items < 1) {
	croak_xs_usage(cv, "invocant, ...");
    }
    SvGETMAGIC(ST(0));
    Invocant invocant;
    if (!ReadInvocant(aTHX_ ST(0), &invocant) || invocant.kinds == Nil) {
	XSRETURN(AsUniversal(aTHX_ "UNIVERSAL::VERSION", ax, items));
    }
    const char *className = class_getName(invocant.kinds);
    ENTER;
    GV *variable = gv_fetchsv(sv_2mortal(newSVpvf("%s::VERSION", className)), GV_ADD, SVt_PV);
    if (!SvOK(GvSVn(variable))) {
	save_scalar(variable);
	sv_setiv(GvSVn(variable), (IV) class_getVersion(invocant.kinds));
    }
    ST(0) = sv_2mortal(newSVpv(className, 0));
    I32 count = AsUniversal(aTHX_ "UNIVERSAL::VERSION", ax, items);
    SV *answer = count > 0 ? sv_mortalcopy(ST(0)) : &PL_sv_undef;
    LEAVE;
    ST(0) = answer;
    XSRETURN(1);
}

void
VantlePriv_BootClass(pTHX)
{
    static const struct {
	const char *name;
	XSUBADDR_t fn;
	I32 ix;
    } universal[] = {
	{ "isa", XS_Vantle__isa, 0 },
	{ "DOES", XS_Vantle__isa, 1 },
	{ "can", XS_Vantle__can, 0 },
	{ "VERSION", XS_Vantle__VERSION, 0 },
    };
    static const char *const packages[] = { "Vantle::Object", "Vantle::RuntimeClass" };
    newXS("Vantle::class", XS_Vantle__class, "Vantle");
    newXS("Vantle::class_lookup", XS_Vantle__class_lookup, "Vantle");
    for (size_t i = 0; i < sizeof universal / sizeof universal[0]; i++) {
	for (size_t j = 0; j < sizeof packages / sizeof packages[0]; j++) {
	    SV *name = sv_2mortal(newSVpvf("%s::%s", packages[j], universal[i].name));
	    CvXSUBANY(newXS(SvPVX(name), universal[i].fn, "Vantle")).any_i32 = universal[i].ix;
	}
    }
}
