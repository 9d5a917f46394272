/*
 * BqVantleInterp.mm --
 *
 *	The interpreter object's class-wide state (the list of interpreter
 *	objects, the default interpreter and interactor) and its life cycle:
 *	one object per interpreter token, published to Perl as
 *	$Vantle::interp with %Vantle::CONTROL tied beside it.
 *
 *	The list and the defaults hold no retain: an object leaves them when
 *	it is deallocated.
 */
#import <Foundation/Foundation.h>

#include "BqVantleInterp.h"
#include "BqVantleInterpPriv.h"
#include "VantlePriv.h"
#include "BqOsmo.h"
#include "List.h"
#include "PerlLinkVar.h"

#include <objc/runtime.h>

/* Raise codes of a failed initialisation: as a Foundation exception, and
 * as the runtime's own error. */
#define INTERP_CREATE_NS_CODE	100603
#define INTERP_CREATE_CODE	136661303
#define INTERP_CREATE_NAME	"OSMO_TCLERROR_EXCEPTION"
#define INTERP_CREATE_REASON	"cannot create perl interp (WinNT)"

static List *interpList;
static id defaultInterp;
static id defaultInteractor;

void *
VantlePriv_GetCurrentPerlInterp(void)
{
    if (_bqcperl_interp != NULL) {
	return _bqcperl_interp;
    }
    return PERL_GET_CONTEXT;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_PerlEvalSV --
 *	Calls Vantle::EVAL with sv as its one argument and the given flags;
 *	answers the count of values it returned.  The caller owns the scope.
 *----------------------------------------------------------------------
 */
I32
VantlePriv_PerlEvalSV(SV *sv, I32 flags)
{
    BQCPERL_dTHX;
    dSP;
    PUSHMARK(SP);
    XPUSHs(sv);
    PUTBACK;
    return call_pv("Vantle::EVAL", flags);
}

@implementation BqVantleInterp

+ (void) initialize
{
    if (self == [BqVantleInterp class]) {
	[BqInterp registerLanguageClass: self];
	[self setVersion: 2];
    }
}

+ (const char *) languageNameCString
{
    return "Perl";
}

+ (id) getDefaultInterp
{
    if (defaultInterp == nil) {
	defaultInterp = [[self alloc] initForPerlInterpreter: VantlePriv_GetCurrentPerlInterp()];
    }
    return defaultInterp;
}

+ (id) defaultInterp
{
    return defaultInterp;
}

+ (id) setDefaultInterp: (id)interp
{
    id previous = defaultInterp;
    defaultInterp = interp;
    return previous;
}

/*
 * getDefaultInteractor --
 *	An instance of BqPerlInteractor, made in the temporary zone on the
 *	first call that finds the class loaded; nil while it is not.
 */
+ (id) getDefaultInteractor
{
    if (defaultInteractor == nil) {
	Class cls = objc_lookUpClass("BqPerlInteractor");
	if (cls != Nil) {
	    defaultInteractor = [[(id) cls allocFromZone: BqOsmo_GetTmpZone()] init];
	}
    }
    return defaultInteractor;
}

+ (id) defaultInteractor
{
    return defaultInteractor;
}

+ (id) setDefaultInteractor: (id)interactor
{
    id previous = defaultInteractor;
    defaultInteractor = interactor;
    return previous;
}

+ (id) interpList
{
    return interpList;
}

+ (id) findObjectForPerlInterpreter: (void *)token
{
    unsigned count = [interpList count];
    for (unsigned i = 0; i < count; i++) {
	BqVantleInterp *candidate = [interpList objectAt: i];
	if ([candidate perlInterpreter] == token) {
	    return candidate;
	}
    }
    return nil;
}

+ (void) _xsInit
{
}

/*
 *----------------------------------------------------------------------
 * initForPerlInterpreter: --
 *	Makes the receiver the object of token, or answers the object that
 *	token already has (retained for the caller; the receiver is
 *	released).  A new object joins the interpreter list, runs its
 *	start-up text, ties %Vantle::CONTROL and becomes $Vantle::interp.
 *	A null token fails: logged, then raised.
 *----------------------------------------------------------------------
 */
- (id) initForPerlInterpreter: (void *)token
{
    if (_perlInterpreter != NULL) {
	return self;
    }
    _perlInterpreter = token;
    (void) [super init];
    if (token == NULL) {
	[self _failCreation];
	return nil;
    }
    BqVantleInterp *existing = [[self class] findObjectForPerlInterpreter: token];
    if (existing != nil && existing != self) {
	_perlInterpreter = NULL;
	[self release];
	return [existing retain];
    }
    if (existing == self) {
	return self;
    }
    const char *include = [self _perlInclude];
    _perlInterpreter = token;
    [self _addInterp];
    PerlInterpreter *my_perl = [self _makeCurrent];
    if (include != NULL) {
	ENTER;
	SAVETMPS;
	VantlePriv_PerlEvalSV(sv_2mortal(newSVpv(include, 0)), G_DISCARD | G_EVAL);
	FREETMPS;
	LEAVE;
    }
    VantlePriv_ControlInterpInit();
    [[self registerObject: self asVariableName: "Vantle::interp"] free];
    [self initAppKit];
    return self;
}

/*
 * _failCreation --
 *	Logs and raises the failure of an initialisation without a token,
 *	after releasing the receiver, which nobody else holds.
 */
- (void) _failCreation
{
    BqOsmo_GetLogErrorFunction()("Vantle Error: cannot create perl interp (WinNT)!!\n");
    [self release];
    if (BQ_CONTROL(use_ns_exceptions)) {
	KxRaiseCodedException(INTERP_CREATE_NS_CODE, INTERP_CREATE_NAME, INTERP_CREATE_REASON);
    }
    _KxRaiseError(INTERP_CREATE_CODE, INTERP_CREATE_REASON, NULL);
}

- (id) init
{
    return [self initForPerlInterpreter: NULL];
}

/* Nothing of the inherited state is archived; a token cannot be. */
- (id) read: (void *)typedStream
{
    (void) typedStream;
    return [self initForPerlInterpreter: NULL];
}

/*
 * dealloc --
 *	Leaves the class-wide state, so no list or default ever holds a
 *	freed object.
 */
- (void) dealloc
{
    if (defaultInterp == self) {
	defaultInterp = nil;
    }
    [self _perlDestruct];
    [self _perlFree];
    [self _removeInterp];
    [super dealloc];
}

- (void *) perlInterpreter
{
    return _perlInterpreter;
}

- (id) _interactor
{
    return _interactor;
}

- (void) _setInteractor: (id)interactor
{
    _interactor = interactor;
}

- (BOOL) initAppKit
{
    return NO;
}

/*
 * _makeCurrent --
 *	Makes the receiver's interpreter the current one, for the access
 *	layer and for Perl's own context; answers it (null when the
 *	receiver stands for none).
 */
- (PerlInterpreter *) _makeCurrent
{
    PerlInterpreter *perl = (PerlInterpreter *) _perlInterpreter;
    if (perl == NULL) {
	return NULL;
    }
    if (_bqcperl_interp != perl) {
	BqCPerl_SetInterp(perl);
    }
    if (PERL_GET_CONTEXT != perl) {
	PERL_SET_CONTEXT(perl);
    }
    return perl;
}

- (int) _perlAlloc
{
    BqOsmo_GetLogErrorFunction()("cannot allocate perl interp!\n");
    return 1;
}

- (int) _perlConstruct
{
    return 1;
}

- (int) _perlParse
{
    BqOsmo_GetLogErrorFunction()("WinNT: cannot perl_parse\n");
    return 1;
}

- (int) _perlRun
{
    BqOsmo_GetLogErrorFunction()("WinNT: cannot perl_run!\n");
    return 1;
}

- (const char *) _perlInclude
{
    return NULL;
}

- (void) _perlDestruct
{
}

- (void) _perlFree
{
    _perlInterpreter = NULL;
}

- (void) _addInterp
{
    if (interpList == nil) {
	interpList = [[List alloc] init];
    }
    [interpList addObject: self];
}

- (void) _removeInterp
{
    [interpList removeObject: self];
}

- (BOOL) linkObjectAt: (id *)address asVariableName: (const char *)name readOnly: (BOOL)readOnly
{
    if ([self _makeCurrent] == NULL) {
	return NO;
    }
    return Vantle_LinkVar(name, address, readOnly ? 1 : 0) ? YES : NO;
}

@end

/* The protocol's methods are those of the Evaluation, Variables and
 * Remote categories. */
@implementation BqVantleInterp (Protocol)
@end
