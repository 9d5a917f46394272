/*
 * BqPerlObject.mm --
 *
 *	BqPerlObject's set-up: the class-wide trace defaults, making and
 *	wrapping blessed hash references, the retaining hash, the flags and
 *	what the object says about itself.  Instance variables, class
 *	variables and method calls are in the files BqPerlObject*.mm.
 */
#import <Foundation/Foundation.h>

#include "BqPerlObjectPriv.h"
#include "BqNil.h"

#include <ctype.h>
#include <stdlib.h>
#include <strings.h>

/* The class-wide trace defaults, copied into each new object, and the
 * shared nil placeholder.  Plain globals: written at start-up or by the
 * class setters, on the thread that owns the interpreter. */
static BOOL defaultTraceSet, defaultTraceGet, defaultTraceInvoke;
static id nilPlaceholder;

id
DravikPriv_NilPlaceholder(void)
{
    return nilPlaceholder;
}

HV *
DravikPriv_ReferencedHash(SV *value)
{
    if (value == NULL || !SvROK(value)) {
	return NULL;
    }
    SV *referent = SvRV(value);
    return referent != NULL && SvTYPE(referent) == SVt_PVHV ? (HV *) referent : NULL;
}

HV *
DravikPriv_ObjectStash(SV *value)
{
    HV *hash = DravikPriv_ReferencedHash(value);
    return hash != NULL && SvOBJECT((SV *) hash) ? SvSTASH((SV *) hash) : NULL;
}

const char *
DravikPriv_TraceText(id object)
{
    if (object == nil) {
	return "nil";
    }
    const char *text = NULL;
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    if (!VantlePriv_Guard(&errors, [&] { text = [[object description] UTF8String]; })) {
	text = [[NSString stringWithFormat: @"(description raised %s)",
	    Tcl_DStringValue(&errors)] UTF8String];
    }
    Tcl_DStringFree(&errors);
    return text != NULL ? text : "(no description)";
}

@implementation BqPerlObject

+ (void) initialize
{
    if (self == [BqPerlObject class]) {
	nilPlaceholder = [BqNil sharedInstance];
    }
}

+ (void) setTraceSet: (BOOL)flag
{
    defaultTraceSet = flag;
}

+ (void) setTraceGet: (BOOL)flag
{
    defaultTraceGet = flag;
}

+ (void) setTraceInvoke: (BOOL)flag
{
    defaultTraceInvoke = flag;
}

+ (void) setTraceAll: (BOOL)flag
{
    defaultTraceSet = defaultTraceGet = defaultTraceInvoke = flag;
}

- (void) setTraceSet: (BOOL)flag
{
    traceSet = flag ? 1 : 0;
}

- (void) setTraceGet: (BOOL)flag
{
    traceGet = flag ? 1 : 0;
}

- (void) setTraceInvoke: (BOOL)flag
{
    traceInvoke = flag ? 1 : 0;
}

- (void) setTraceAll: (BOOL)flag
{
    traceSet = traceGet = traceInvoke = flag ? 1 : 0;
}

- (void) setRawGet: (BOOL)flag
{
    rawGet = flag ? 1 : 0;
}

- (void) setRawSet: (BOOL)flag
{
    rawSet = flag ? 1 : 0;
}

/*
 *----------------------------------------------------------------------
 * initInInterp:stashName:magic: --
 *	A new empty hash, referred to by the wrapped scalar and blessed into
 *	the package (made when missing), in the interpreter of interpObject
 *	(nil: the current one).  A package name that is missing or empty
 *	raises NSInvalidArgumentException (the receiver is released).
 *----------------------------------------------------------------------
 */
- (id) initInInterp: (id)interpObject stashName: (NSString *)package magic: (BOOL)flag
{
    const char *name = [package isKindOfClass: [NSString class]] ? [package UTF8String] : NULL;
    NSString *problem = name == NULL || *name == '\0' ? @"no package name given" : nil;
    PerlInterpreter *perl = _bqcperl_interp;
    if (interpObject != nil) {
	perl = [interpObject respondsToSelector: @selector(perlInterpreter)]
	    ? (PerlInterpreter *) [interpObject perlInterpreter] : NULL;
    }
    if (problem == nil && perl == NULL) {
	problem = interpObject != nil ? @"the interpreter object stands for no interpreter"
	    : @"no Perl interpreter is current";
    }
    if (problem != nil) {
	[self release];
	[NSException raise: NSInvalidArgumentException
		    format: @"initInInterp:stashName:magic:: %@", problem];
    }
    VANTLE_dCURRENT(perl, "initInInterp:stashName:magic:");
    self = [super init];
    if (self == nil) {
	return nil;
    }
    HV *hash = newHV();
    sv_upgrade(sv, SVt_IV);
    SvRV_set(sv, (SV *) hash);	/* the reference takes newHV's count */
    SvROK_on(sv);
    HV *stash = gv_stashpvn(name, (U32) strlen(name),
	GV_ADD | ([package canBeConvertedToEncoding: NSASCIIStringEncoding] ? 0 : SVf_UTF8));
    sv_bless(sv, stash);
    interp = interpObject;
    return [self _initMagicEtAl: flag];
}

- (id) initForRVHV: (SV *)reference magic: (BOOL)flag
{
    self = [self _initWithSV: reference];
    if (self != nil) {
	self = [self _initMagicEtAl: flag];
    }
    return self;
}

/*
 *----------------------------------------------------------------------
 * _initMagicEtAl: --
 *	Copies the class-wide trace defaults.  With magic, the hash the
 *	value refers to is put behind a retaining hash, which takes over its
 *	blessing; a hash that already is one turns magic on by itself.  A
 *	value that refers to no hash, and a hash that cannot be put behind
 *	one (read-only, the inner hash of another), get no retaining hash:
 *	magic stays off.
 *----------------------------------------------------------------------
 */
- (id) _initMagicEtAl: (BOOL)flag
{
    traceSet = defaultTraceSet;
    traceGet = defaultTraceGet;
    traceInvoke = defaultTraceInvoke;
    magic = flag ? 1 : 0;
    HV *hash = DravikPriv_ReferencedHash(sv);
    if (hash == NULL) {
	magic = 0;
	return self;
    }
    DRAVIK_dOBJECT("_initMagicEtAl:");
    if (flag) {
	/* The tie object is a temporary, which goes at once: the tie
	 * holds it (and the inner hash) from then on. */
	ENTER;
	SAVETMPS;
	SV *outer = Dravik_MakeMagic((SV *) hash, DRAVIK_MAGIC_HASH);
	FREETMPS;
	LEAVE;
	if (outer != NULL && outer != (SV *) hash) {
	    /* The tie object took over the reference's count of the old
	     * hash; the reference takes the new one's. */
	    SvRV_set(sv, outer);
	}
	if (outer == NULL) {
	    magic = 0;
	}
    } else if (Dravik_IsMagic((SV *) hash, DRAVIK_MAGIC_HASH)) {
	magic = 1;
    }
    return self;
}

- (void) dealloc
{
    [rr release];
    rr = nil;
    [super dealloc];
}

- (void) setPropertiesFromDictionary: (NSDictionary *)properties
{
    if (properties == nil) {
	return;
    }
    if (![properties isKindOfClass: [NSDictionary class]]) {
	[NSException raise: NSInvalidArgumentException
		    format: @"setPropertiesFromDictionary:: %@ is no dictionary",
	    [properties class]];
    }
    traceGet = [self _getBoolValueFor: [properties objectForKey: @"traceGet"]];
    traceSet = [self _getBoolValueFor: [properties objectForKey: @"traceSet"]];
    traceInvoke = [self _getBoolValueFor: [properties objectForKey: @"traceInvoke"]];
    rawGet = [self _getBoolValueFor: [properties objectForKey: @"rawGet"]];
    rawSet = [self _getBoolValueFor: [properties objectForKey: @"rawSet"]];
    verbose = [self _getBoolValueFor: [properties objectForKey: @"verbose"]];
}

- (BOOL) _getBoolValueFor: (id)value
{
    if (value == nil || value == nilPlaceholder) {
	return NO;
    }
    if ([value isKindOfClass: [NSNumber class]]) {
	return [value boolValue];
    }
    if ([value isKindOfClass: [NSString class]]) {
	const char *text = [value UTF8String];
	return strcasecmp(text, "yes") == 0 || strcasecmp(text, "y") == 0 || atoi(text) != 0;
    }
    return YES;
}

/*
 * interp --
 *	The interpreter object, when none was given: the one of the
 *	interpreter the value belongs to (the default one when that has
 *	none).
 */
- (id) interp
{
    if (interp == nil) {
	interp = VantlePriv_LiveInterpObject(_perl);
	if (interp == nil) {
	    interp = [BqVantleInterp getDefaultInterp];
	}
    }
    return interp;
}

- (char *) stashName
{
    if (sv == NULL || !SvROK(sv) || SvRV(sv) == NULL) {
	return (char *) "(NULL hv)???";
    }
    SV *referent = SvRV(sv);
    if (!SvOBJECT(referent) || SvSTASH(referent) == NULL || HvNAME(SvSTASH(referent)) == NULL) {
	return (char *) "(NULL stash)???";
    }
    return HvNAME(SvSTASH(referent));
}

- (NSString *) description
{
    if (verbose) {
	return [NSString stringWithFormat: @"<%@: %s: %@>", [self class], [self stashName],
	    [self allIVarValues]];
    }
    return [NSString stringWithFormat: @"<%@: %s>", [self class], [self stashName]];
}

@end
