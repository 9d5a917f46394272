/*
 * BqPerlObjectCVars.mm --
 *
 *	A BqPerlObject's class variables: the scalars, arrays and hashes of
 *	its package, named with or without a sigil, listed, read and
 *	written.  Names are checked before any Perl variable is touched;
 *	reads never make a variable, writes make it when missing.  Arrays and
 *	hashes always convert by value; scalars raw when asked.
 */
#import <Foundation/Foundation.h>

#include "BqPerlObjectPriv.h"

#include <string.h>

/* The sigils, indexed by kind. */
static const char SIGILS[] = "$@%&";

/* The exception of a bad class variable name. */
static void
RaiseNameError(const char *reason)
{
    [[NSException exceptionWithName: @"Vantle/RYF Error"
			     reason: [NSString stringWithUTF8String: reason]
			   userInfo: nil] raise];
}

/*
 * LookUp --
 *	The variable of a qualified name (after its sigil) and kind, made
 *	when create is set; null when it does not exist (and for code).
 */
static SV *
LookUp(pTHX_ const char *qualified, int kind, int create)
{
    I32 flags = create ? GV_ADD : 0;
    switch (kind) {
    case DRAVIK_CVAR_SCALAR:
	return get_sv(qualified, flags);
    case DRAVIK_CVAR_ARRAY:
	return (SV *) get_av(qualified, flags);
    case DRAVIK_CVAR_HASH:
	return (SV *) get_hv(qualified, flags);
    default:
	return NULL;
    }
}

/*
 * IsDefined --
 *	Whether a glob's variable of kind is defined by Perl's rules: a
 *	scalar with a value, an array or hash that has had elements or is
 *	tied.
 */
static int
IsDefined(GV *gv, int kind)
{
    switch (kind) {
    case DRAVIK_CVAR_SCALAR: {
	SV *scalar = GvSV(gv);
	return scalar != NULL && SvOK(scalar);
    }
    case DRAVIK_CVAR_ARRAY: {
	AV *array = GvAV(gv);
	return array != NULL && SvTYPE((SV *) array) == SVt_PVAV
	    && (AvMAX(array) >= 0 || SvRMAGICAL((SV *) array));
    }
    case DRAVIK_CVAR_HASH: {
	HV *hash = GvHV(gv);
	return hash != NULL && SvTYPE((SV *) hash) == SVt_PVHV
	    && (HvARRAY(hash) != NULL || SvRMAGICAL((SV *) hash));
    }
    default:
	return 0;
    }
}

@implementation BqPerlObject (ClassVariables)

/*
 *----------------------------------------------------------------------
 * _fullCVarName:type: --
 *	"<sigil><package>::<name>", the kind set by a leading sigil or taken
 *	from *kind (scalar when kind is null) and written back.  A name
 *	holding a colon, or empty after its sigil, raises "Vantle/RYF
 *	Error".  NULL for a NULL name, and for an object with no package.
 *----------------------------------------------------------------------
 */
- (char *) _fullCVarName: (const char *)name type: (int *)kind
{
    if (name == NULL) {
	return NULL;
    }
    int which = kind != NULL ? *kind : DRAVIK_CVAR_SCALAR;
    const char *sigil = *name != '\0' ? strchr(SIGILS, *name) : NULL;
    if (sigil != NULL) {
	which = (int) (sigil - SIGILS);
	name++;
    }
    if (which < DRAVIK_CVAR_SCALAR || which > DRAVIK_CVAR_CODE) {
	which = DRAVIK_CVAR_SCALAR;
    }
    if (kind != NULL) {
	*kind = which;
    }
    if (strchr(name, ':') != NULL) {
	RaiseNameError("must not use package name in cvar name");
    }
    if (*name == '\0') {
	RaiseNameError("illegal cvar name");
    }
    HV *stash = DravikPriv_ObjectStash(sv);
    if (stash == NULL || HvNAME(stash) == NULL) {
	return NULL;
    }
    return (char *) [[NSString stringWithFormat: @"%c%s::%s", SIGILS[which], HvNAME(stash),
	name] UTF8String];
}

- (BOOL) isCVar: (const char *)name
{
    int kind = DRAVIK_CVAR_SCALAR;
    const char *full = [self _fullCVarName: name type: &kind];
    if (full == NULL || kind == DRAVIK_CVAR_CODE) {
	return NO;
    }
    DRAVIK_dOBJECT("isCVar:");
    return LookUp(aTHX_ full + 1, kind, 0) != NULL ? YES : NO;
}

/*
 *----------------------------------------------------------------------
 * allCVars --
 *	"<sigil><name>" of every defined scalar, array and hash of the
 *	package, in that order for each name.  Entries that are no globs
 *	(sub stubs, constants) and nested packages ("Name::") are no
 *	variables of the package and are passed over.
 *----------------------------------------------------------------------
 */
- (NSMutableArray *) allCVars
{
    HV *stash = DravikPriv_ObjectStash(sv);
    if (stash == NULL) {
	return nil;
    }
    DRAVIK_dOBJECT("allCVars");
    NSMutableArray *names = [NSMutableArray array];
    hv_iterinit(stash);
    HE *entry;
    while ((entry = hv_iternext(stash)) != NULL) {
	GV *gv = (GV *) HeVAL(entry);
	STRLEN length;
	const char *key = HePV(entry, length);
	if (!isGV_with_GP(gv) || memchr(key, ':', length) != NULL) {
	    continue;
	}
	for (int kind = DRAVIK_CVAR_SCALAR; kind <= DRAVIK_CVAR_HASH; kind++) {
	    if (IsDefined(gv, kind)) {
		NSString *entryName = [[NSString alloc] initWithBytes: key length: length
		    encoding: HeUTF8(entry) ? NSUTF8StringEncoding : NSISOLatin1StringEncoding];
		[names addObject: [NSString stringWithFormat: @"%c%@", SIGILS[kind], entryName]];
		[entryName release];
	    }
	}
    }
    return names;
}

- (id) getCVarValue: (const char *)name
{
    return [self getCVarValue: name raw: rawGet];
}

/*
 *----------------------------------------------------------------------
 * getCVarValue:raw: --
 *	The converted value of an existing variable (a scalar raw when
 *	asked, arrays and hashes by value); nil when it does not exist and
 *	for code.  A value that does not convert raises "Perl Error".
 *----------------------------------------------------------------------
 */
- (id) getCVarValue: (const char *)name raw: (BOOL)raw
{
    int kind = DRAVIK_CVAR_SCALAR;
    const char *full = [self _fullCVarName: name type: &kind];
    if (full == NULL || kind == DRAVIK_CVAR_CODE) {
	return nil;
    }
    DRAVIK_dOBJECT("getCVarValue:raw:");
    SV *variable = LookUp(aTHX_ full + 1, kind, 0);
    if (variable == NULL) {
	return nil;
    }
    return DravikPriv_ObjectForValueOrRaise(aTHX_ variable, kind == DRAVIK_CVAR_SCALAR && raw,
	"getCVarValue:raw:", full);
}

- (void) setCVar: (const char *)name toValue: (id)value
{
    [self setCVar: name toValue: value raw: rawSet];
}

/*
 *----------------------------------------------------------------------
 * setCVar:toValue:raw: --
 *	Sets the variable, made when missing: a scalar from the value (raw
 *	when asked), an array or hash from the elements of an array or
 *	dictionary.  The variable's own Perl code (tie, set-magic) runs
 *	trapped; a Perl error, a read-only variable or a value that does not
 *	convert raise "Perl Error" (a scalar is then left as it was, an
 *	array or hash keeps the elements converted so far).  Code: nothing.
 *----------------------------------------------------------------------
 */
- (void) setCVar: (const char *)name toValue: (id)value raw: (BOOL)raw
{
    int kind = DRAVIK_CVAR_SCALAR;
    const char *full = [self _fullCVarName: name type: &kind];
    if (full == NULL || kind == DRAVIK_CVAR_CODE) {
	return;
    }
    DRAVIK_dOBJECT("setCVar:toValue:raw:");
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    int failed = 0;
    int ran = VantlePriv_Trapped(aTHX_ [&] {
	SV *variable = LookUp(aTHX_ full + 1, kind, 1);
	if (kind == DRAVIK_CVAR_SCALAR) {
	    SV *converted = sv_newmortal();
	    failed = raw ? !Dravik_SVForObject_Raw(converted, value, &errors)
		: !Vantle_SVForObject(converted, value, &errors);
	    if (!failed) {
		sv_setsv_mg(variable, converted);
	    }
	} else if (kind == DRAVIK_CVAR_ARRAY) {
	    failed = !Vantle_AVForArray((AV *) variable, value, &errors);
	} else {
	    failed = !Vantle_HVForDictionary((HV *) variable, value, &errors);
	}
    });
    if (!ran || failed) {
	DravikPriv_RaiseFailure(aTHX_ "setCVar:toValue:raw:", full, !ran, &errors);
    }
    Tcl_DStringFree(&errors);
}

@end
