/*
 * BqVantleInterp.mm --
 *
 *	The interpreter object's class-wide state (the list of interpreter
 *	objects, the default interpreter and interactor) and its life cycle:
 *	one object per interpreter token, published to Perl as
 *	$Vantle::interp with %Vantle::CONTROL tied beside it.
 *
 *	An object either stands for an interpreter that exists already (one
 *	that loaded the module: initForPerlInterpreter:), or makes an
 *	interpreter of its own (init), loads the module into it from the
 *	directory this library was loaded from, and destroys it when it is
 *	deallocated.
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
#include "KxLock.h"

#include <dlfcn.h>
#include <objc/runtime.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* Raise codes of a failed initialisation: as a Foundation exception, and
 * as the runtime's own error. */
#define INTERP_CREATE_NS_CODE	100603
#define INTERP_CREATE_CODE	136661303
#define INTERP_CREATE_NAME	"OSMO_TCLERROR_EXCEPTION"
#define INTERP_CREATE_REASON	"cannot create perl interp (WinNT)"

/* Interpreters live on several threads: the list is read and changed
 * under its lock. */
KX_MUTEX_DEFINE(interpListLock);
static List *interpList;

/* Counts the objects that left the list (changed under its lock, read
 * atomically): what a thread found live is checked anew after a change.
 * Each thread remembers the last interpreter it found live, since every
 * use of a wrapper of another interpreter than the current one, and
 * every wrapper's dealloc, asks. */
static unsigned long interpListDepartures;

typedef struct KnownLive {
    PerlInterpreter *perl;
    BqVantleInterp *object;	/* perl's, in the list (not retained) */
    unsigned long departures;	/* interpListDepartures when it was found */
} KnownLive;

static __thread KnownLive knownLive;
static id defaultInterp;
static id defaultInteractor;

/*
 * OwnPerl --
 *	What an object that made its interpreter keeps about it (in
 *	_reserved; null for an interpreter the object was given): where the
 *	host's top level is, the scope and temporaries floor once perl_run
 *	returned.
 */
typedef struct OwnPerl {
    I32 topScope;
    SSize_t topFloor;
} OwnPerl;

/* The arguments of perl_parse for an interpreter of our own, made once
 * per process and kept (Perl holds on to them): the program name, -I for
 * the directories of the module, -MVantle -e 0. */
#define MODULE_PATH_SIZE 4200
static char argumentName[] = "vantle";
static char argumentArch[MODULE_PATH_SIZE], argumentLib[MODULE_PATH_SIZE];
static char argumentModule[] = "-MVantle", argumentDashE[] = "-e", argumentZero[] = "0";
static char *moduleArguments[8];
static int moduleArgumentCount;

/* Perl's start-up of the process, every perl_alloc and perl_construct,
 * and the arguments above are made under this lock: interpreters may be
 * made on several threads at once, and the first perl_alloc and
 * perl_construct set up state of the whole process (the key of Perl's
 * per-thread context, the hash function's seed), which two running at
 * once would each set up anew. */
KX_MUTEX_DEFINE(perlStartLock);

void *
VantlePriv_GetCurrentPerlInterp(void)
{
    if (_bqcperl_interp != NULL) {
	return _bqcperl_interp;
    }
    return PERL_GET_CONTEXT;
}

void
VantlePriv_MakeCurrent(PerlInterpreter *perl)
{
    if (_bqcperl_interp != perl) {
	BqCPerl_SetInterp(perl);
    }
    if (PERL_GET_CONTEXT != perl) {
	PERL_SET_CONTEXT(perl);
    }
}

/*
 * FindObject --
 *	The object of token in the list, or nil; the caller holds the
 *	list's lock.
 */
static BqVantleInterp *
FindObject(void *token)
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

/*
 *----------------------------------------------------------------------
 * VantlePriv_LiveInterpObject --
 *	The object in the list that stands for perl, or nil.  The thread's
 *	last answer for the same interpreter holds while no object has left
 *	the list since; otherwise the list is searched under its lock.
 *----------------------------------------------------------------------
 */
BqVantleInterp *
VantlePriv_LiveInterpObject(PerlInterpreter *perl)
{
    if (perl == NULL) {
	return nil;
    }
    KnownLive *known = &knownLive;
    if (known->perl == perl
	    && known->departures == __atomic_load_n(&interpListDepartures, __ATOMIC_ACQUIRE)) {
	return known->object;
    }
    KxLockGuard guard(&interpListLock);
    BqVantleInterp *object = FindObject(perl);
    if (object != nil) {
	known->perl = perl;
	known->object = object;
	known->departures = interpListDepartures;
    }
    return object;
}

int
VantlePriv_IsLiveInterpreter(PerlInterpreter *perl)
{
    return VantlePriv_LiveInterpObject(perl) != nil;
}

/* PL_op is set from the start of perl_run, or of a call into Perl, until
 * that returns.  It is read only in a live interpreter: a host that
 * destroyed its own leaves it the current one of its thread. */
int
VantlePriv_IsRunning(PerlInterpreter *perl)
{
    PerlInterpreter *my_perl = perl;
    return VantlePriv_IsLiveInterpreter(perl) && PL_op != NULL;
}

/*
 * VantlePriv_CurrentScope::Switch --
 *	Makes perl current for the scope when it is not: raises for a
 *	missing or destroyed interpreter, and notes the running interpreter
 *	to restore.
 */
void
VantlePriv_CurrentScope::Switch(PerlInterpreter *perl, const char *doing)
{
    PerlInterpreter *current = _bqcperl_interp;
    if (perl == NULL || (perl != current && !VantlePriv_IsLiveInterpreter(perl))) {
	[NSException raise: NSInternalInconsistencyException
		    format: @"%s: the Perl interpreter of this value was destroyed, or never was",
	    doing];
    }
    if (perl != current && VantlePriv_IsRunning(current)) {
	restore = current;
    }
    VantlePriv_MakeCurrent(perl);
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

/*
 * InitXS --
 *	The xs_init of an interpreter of our own: DynaLoader, so Perl code
 *	can load extension modules, and Vantle::bootstrap, so `use Vantle`
 *	boots this very library rather than loading a file of that name.
 */
EXTERN_C void boot_DynaLoader(pTHX_ CV *cv);

static void
InitXS(pTHX)
{
    static const char file[] = __FILE__;
    newXS("DynaLoader::boot_DynaLoader", boot_DynaLoader, file);
    newXS("Vantle::bootstrap", boot_Vantle, file);
}

/*
 *----------------------------------------------------------------------
 * InstalledModuleArgument --
 *	For the arch directory of an installed library, the -I argument of
 *	the directory Vantle.pm was installed in: <arch>/VANTLE_PERL_ARCH_TO_LIB
 *	(the install rules' path from Perl's arch directory to its lib
 *	directory, which may lie elsewhere), resolved, when it holds
 *	Vantle.pm.  Writes it into argument (size bytes) and answers 1, or
 *	answers 0 when there is no such directory or it is <arch> itself.
 *----------------------------------------------------------------------
 */
static int
InstalledModuleArgument(const char *arch, char *argument, size_t size)
{
#ifdef VANTLE_PERL_ARCH_TO_LIB
    static const char relative[] = VANTLE_PERL_ARCH_TO_LIB;
    if (relative[0] == '\0' || strcmp(relative, ".") == 0) {
	return 0;
    }
    char candidate[MODULE_PATH_SIZE];
    int length = snprintf(candidate, sizeof candidate, "%s/%s", arch, relative);
    if (length < 0 || (size_t) length >= sizeof candidate) {
	return 0;
    }
    char *directory = realpath(candidate, NULL);
    if (directory == NULL) {
	return 0;
    }
    int found = 0;
    length = snprintf(candidate, sizeof candidate, "%s/Vantle.pm", directory);
    if (length > 0 && (size_t) length < sizeof candidate && access(candidate, R_OK) == 0) {
	length = snprintf(argument, size, "-I%s", directory);
	found = length > 0 && (size_t) length < size;
    }
    free(directory);
    return found;
#else
    (void) arch;
    (void) argument;
    (void) size;
    return 0;
#endif
}

/*
 *----------------------------------------------------------------------
 * ModuleArguments --
 *	The arguments of perl_parse (see moduleArguments), found on the
 *	first call: the library lies in <arch>/auto/Vantle/, and Vantle.pm
 *	in <blib>/lib when <arch> is a build's <blib>/arch, else in Perl's
 *	lib directory as installed (InstalledModuleArgument) or in <arch>;
 *	both go first on @INC.  Without a library path only -MVantle -e 0,
 *	so Perl searches its own @INC.
 *----------------------------------------------------------------------
 */
static void
ModuleArguments(int *count, char ***arguments)
{
    KxLockGuard guard(&perlStartLock);
    if (moduleArgumentCount == 0) {
	int n = 0;
	moduleArguments[n++] = argumentName;
	Dl_info info;
	char path[MODULE_PATH_SIZE - 16];
	if (dladdr((void *) InitXS, &info) != 0 && info.dli_fname != NULL
		&& strlen(info.dli_fname) < sizeof path) {
	    strcpy(path, info.dli_fname);
	    char *slash = NULL;
	    for (int i = 0; i < 3 && (slash = strrchr(path, '/')) != NULL; i++) {
		*slash = '\0';
	    }
	    if (slash != NULL && path[0] != '\0') {
		snprintf(argumentArch, sizeof argumentArch, "-I%s", path);
		slash = strrchr(path, '/');
		if (slash != NULL && strcmp(slash, "/arch") == 0) {
		    strcpy(slash, "/lib");
		    snprintf(argumentLib, sizeof argumentLib, "-I%s", path);
		    moduleArguments[n++] = argumentLib;
		} else if (InstalledModuleArgument(argumentArch + 2, argumentLib,
			sizeof argumentLib)) {
		    moduleArguments[n++] = argumentLib;
		}
		moduleArguments[n++] = argumentArch;
	    }
	}
	moduleArguments[n++] = argumentModule;
	moduleArguments[n++] = argumentDashE;
	moduleArguments[n++] = argumentZero;
	moduleArguments[n] = NULL;
	moduleArgumentCount = n;
    }
    *count = moduleArgumentCount;
    *arguments = moduleArguments;
}

/*
 * AllocatePerl --
 *	A new interpreter from perl_alloc, after Perl's start-up of the process (PERL_SYS_INIT3) on the first call,
 *	unless Perl already made an interpreter in it, which means the
 *	process did it.  Perl's end (PERL_SYS_TERM) is left to the process's
 *	exit, since another interpreter may be made at any time.
 */
static PerlInterpreter *
AllocatePerl(void)
{
    KxLockGuard guard(&perlStartLock);
    /* Per-process state: Perl itself wants this once per process. */
    static int started;
    if (!started && PL_curinterp == NULL) {
	static char name[] = "vantle";
	static char *arguments[] = { name, NULL };
	static char *environment[] = { NULL };
	int argc = 1;
	char **argv = arguments;
	char **env = environment;
	PERL_SYS_INIT3(&argc, &argv, &env);
    }
    started = 1;
    return perl_alloc();
}

/*
 * GivenInterpreterEnds --
 *	Exit-list function of an interpreter that an object was given: Perl
 *	calls it while destroying the interpreter, once no Perl code runs
 *	in it any more.  The object is found by the interpreter rather than
 *	passed, since a thread's interpreter starts with a copy of its
 *	parent's exit list; a later call finds no object.
 */
static void
GivenInterpreterEnds(pTHX_ void *unused)
{
    PERL_UNUSED_ARG(unused);
    BqVantleInterp *interp = [BqVantleInterp findObjectForPerlInterpreter: aTHX];
    if (interp == nil) {
	return;
    }
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    if (!VantlePriv_Guard(&errors, [&] { [interp _interpreterEnded]; })) {
	BqOsmo_GetLogErrorFunction()("Vantle Error: %s\n", Tcl_DStringValue(&errors));
    }
    Tcl_DStringFree(&errors);
}

/*
 *----------------------------------------------------------------------
 * MakeInterpObject --
 *	The binding's maker of interpreter objects: makes sure the running
 *	interpreter has its object (which ties %Vantle::CONTROL and sets
 *	$Vantle::interp when it is made), and makes the first one the
 *	default.  Runs under the guard of the caller; it calls into Perl only
 *	where Perl cannot die.
 *----------------------------------------------------------------------
 */
static void
MakeInterpObject(pTHX)
{
    if ([BqVantleInterp findObjectForPerlInterpreter: aTHX] != nil) {
	return;
    }
    BqVantleInterp *interp = [[BqVantleInterp alloc] initForPerlInterpreter: aTHX];
    if ([BqVantleInterp defaultInterp] == nil) {
	[BqVantleInterp setDefaultInterp: interp];
    }
    /* The interpreter holds its object until it is destroyed. */
    [interp release];
}

@implementation BqVantleInterp

/* The runtime loads the class with the library, before Perl can boot the
 * module in any interpreter: the binding gets its maker of interpreter
 * objects then. */
+ (void) load
{
    VantlePriv_SetInterpObjectMaker(MakeInterpObject);
}

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

/*
 * getDefaultInterp --
 *	The default interpreter object, made when there is none: the object
 *	of the current interpreter, or, in a process without one, an object
 *	with an interpreter of its own.
 */
+ (id) getDefaultInterp
{
    if (defaultInterp == nil) {
	void *token = VantlePriv_GetCurrentPerlInterp();
	if (token == NULL) {
	    defaultInterp = [[self alloc] init];
	} else {
	    /* The interpreter holds its object. */
	    defaultInterp = [[self alloc] initForPerlInterpreter: token];
	    [defaultInterp release];
	}
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
    KxLockGuard guard(&interpListLock);
    return FindObject(token);
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
 *	start-up text, ties %Vantle::CONTROL and becomes $Vantle::interp;
 *	the interpreter holds one count on it, which it gives up when Perl
 *	destroys it.  A null token fails: logged, then raised.
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
    [self _addInterp];
    [self _publish];
    /* The interpreter holds the object until Perl destroys it. */
    [self retain];
    PerlInterpreter *my_perl = (PerlInterpreter *) token;
    call_atexit(GivenInterpreterEnds, NULL);
    return self;
}

/*
 * _interpreterEnded --
 *	Perl is destroying the interpreter the receiver was given: the
 *	receiver forgets it (leaves the list and the default, so an
 *	interpreter made later at the same address gets an object of its
 *	own) and the interpreter's count on the receiver is given up.  An
 *	interpreter of the receiver's own is left to its dealloc.
 */
- (void) _interpreterEnded
{
    if (_reserved != NULL) {
	return;
    }
    VantlePriv_CallsRelease((PerlInterpreter *) _perlInterpreter, (VantleInterpCalls *) _calls);
    if (defaultInterp == self) {
	defaultInterp = nil;
    }
    [self _removeInterp];
    [self _freeWrappers];
    _perlInterpreter = NULL;
    [self release];
}

/*
 * _publish --
 *	The steps of a new object in its interpreter: runs the start-up
 *	text, ties %Vantle::CONTROL, becomes $Vantle::interp.
 */
- (void) _publish
{
    const char *include = [self _perlInclude];
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
}

/*
 *----------------------------------------------------------------------
 * init --
 *	Makes an interpreter of the receiver's own: allocates and constructs
 *	it, parses `use Vantle` (which finds the receiver as the object of
 *	the new interpreter), runs it, and publishes the receiver in it.  The
 *	first interpreter object becomes the default.  The new interpreter
 *	is current afterwards, unless this was asked by Perl code of another
 *	interpreter, which is then made current again.  A failure is logged
 *	and raised like a null token; what was made is destroyed first.
 *----------------------------------------------------------------------
 */
- (id) init
{
    if (_perlInterpreter != NULL) {
	return self;
    }
    (void) [super init];
    PerlInterpreter *caller = _bqcperl_interp;
    if (!VantlePriv_IsRunning(caller)) {
	caller = NULL;
    }
    int failed = [self _perlAlloc] || [self _perlConstruct] || [self _perlParse]
	|| [self _perlRun];
    if (failed) {
	[self _perlDestruct];
	[self _perlFree];
	[self _removeInterp];
	VantlePriv_MakeCurrent(caller);
	[self _failCreation];
	return nil;
    }
    [self _publish];
    if (defaultInterp == nil) {
	defaultInterp = self;
    }
    if (caller != NULL) {
	VantlePriv_MakeCurrent(caller);
    }
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

/* Nothing of the inherited state is archived; a token cannot be. */
- (id) read: (void *)typedStream
{
    (void) typedStream;
    return [self initForPerlInterpreter: NULL];
}

/*
 *----------------------------------------------------------------------
 * dealloc --
 *	Leaves the class-wide state, so no list or default ever holds a
 *	freed object, and destroys an interpreter of the object's own.  The
 *	interpreter that was current stays current, unless it was this one:
 *	then none is.
 *----------------------------------------------------------------------
 */
- (void) dealloc
{
    if (defaultInterp == self) {
	defaultInterp = nil;
    }
    PerlInterpreter *previous = _bqcperl_interp;
    BOOL own = _reserved != NULL;
    if (previous == (PerlInterpreter *) _perlInterpreter) {
	previous = NULL;
    }
    [self _perlDestruct];
    [self _perlFree];
    [self _removeInterp];
    [self _freeWrappers];
    if (own) {
	VantlePriv_MakeCurrent(VantlePriv_IsLiveInterpreter(previous) ? previous : NULL);
    }
    /* The interpreter is gone: its globs went with it, uncounted. */
    VantlePriv_CallsFree((VantleInterpCalls *) _calls);
    _calls = NULL;
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
    if (perl != NULL) {
	VantlePriv_MakeCurrent(perl);
    }
    return perl;
}

/*
 * VantlePriv_FreeTopTemporaries, _freeTopTemporaries --
 *	In an interpreter of the object's own, at the host's top level (no
 *	Perl code running, no scope of the host's open), frees the
 *	temporaries left there: the values of wrappers given up since the
 *	last call.  A host that opens a scope of its own frees them itself.
 */
void
VantlePriv_FreeTopTemporaries(BqVantleInterp *interp)
{
    OwnPerl *own = (OwnPerl *) interp->_reserved;
    PerlInterpreter *my_perl = (PerlInterpreter *) interp->_perlInterpreter;
    if (own != NULL && PL_op == NULL && PL_scopestack_ix == own->topScope
	    && PL_tmps_floor == own->topFloor && PL_tmps_ix > PL_tmps_floor) {
	FREETMPS;
    }
}

- (void) _freeTopTemporaries
{
    VantlePriv_FreeTopTemporaries(self);
}

/*
 * VantlePriv_InterpCalls --
 *	The object's table of the subs it calls, made on first use; null
 *	once the table gave up its globs, and when it cannot be made.
 */
VantleInterpCalls *
VantlePriv_InterpCalls(BqVantleInterp *interp)
{
    VantleInterpCalls *calls = (VantleInterpCalls *) interp->_calls;
    if (calls == NULL) {
	calls = VantlePriv_CallsNew();
	interp->_calls = calls;
    }
    return calls != NULL && !calls->released ? calls : NULL;
}

/*
 * VantlePriv_InterpWrappers --
 *	The object's pool of wrappers kept for reuse, made on first use;
 *	null when it cannot be made.  Asked only of an object in the list.
 */
VantleWrapperPool *
VantlePriv_InterpWrappers(BqVantleInterp *interp)
{
    if (interp->_wrappers == NULL) {
	interp->_wrappers = VantlePriv_PoolNew();
    }
    return (VantleWrapperPool *) interp->_wrappers;
}

/*
 * _freeWrappers --
 *	Frees the wrappers kept for reuse, once the receiver has left the
 *	list: no wrapper is retired into its pool any more.
 */
- (void) _freeWrappers
{
    VantlePriv_PoolFree((VantleWrapperPool *) _wrappers);
    _wrappers = NULL;
}

/*
 * _perlAlloc, _perlConstruct, _perlParse, _perlRun --
 *	The steps of making an interpreter of the receiver's own; each
 *	answers 0, or logs its failure and answers 1.  _perlParse lists the
 *	receiver first, so the boot of the module finds it as the object of
 *	the new interpreter.
 */
- (int) _perlAlloc
{
    OwnPerl *own = (OwnPerl *) calloc(1, sizeof (OwnPerl));
    PerlInterpreter *perl = own != NULL ? AllocatePerl() : NULL;
    if (perl == NULL) {
	free(own);
	BqOsmo_GetLogErrorFunction()("cannot allocate perl interp!\n");
	return 1;
    }
    _perlInterpreter = perl;
    _reserved = own;
    VantlePriv_MakeCurrent(perl);
    return 0;
}

- (int) _perlConstruct
{
    PerlInterpreter *my_perl = [self _makeCurrent];
    {
	KxLockGuard guard(&perlStartLock);
	perl_construct(my_perl);
    }
    PL_exit_flags |= PERL_EXIT_DESTRUCT_END;
    return 0;
}

- (int) _perlParse
{
    PerlInterpreter *my_perl = [self _makeCurrent];
    [self _addInterp];
    int argc = 0;
    char **argv = NULL;
    ModuleArguments(&argc, &argv);
    if (perl_parse(my_perl, InitXS, argc, argv, NULL) != 0) {
	BqOsmo_GetLogErrorFunction()("WinNT: cannot perl_parse\n");
	return 1;
    }
    return 0;
}

- (int) _perlRun
{
    PerlInterpreter *my_perl = [self _makeCurrent];
    if (perl_run(my_perl) != 0) {
	BqOsmo_GetLogErrorFunction()("WinNT: cannot perl_run!\n");
	return 1;
    }
    OwnPerl *own = (OwnPerl *) _reserved;
    own->topScope = PL_scopestack_ix;
    own->topFloor = PL_tmps_floor;
    return 0;
}

- (const char *) _perlInclude
{
    return NULL;
}

/* Destroys an interpreter of the receiver's own (END blocks run, every
 * value is freed); does nothing for one it was given.  The table of subs
 * gives up its globs first and keeps none while END blocks call. */
- (void) _perlDestruct
{
    if (_reserved == NULL || _perlInterpreter == NULL) {
	return;
    }
    PerlInterpreter *my_perl = [self _makeCurrent];
    VantlePriv_CallsRelease(my_perl, (VantleInterpCalls *) _calls);
    perl_destruct(my_perl);
}

/* Frees an interpreter of the receiver's own; forgets the token. */
- (void) _perlFree
{
    if (_reserved != NULL) {
	PerlInterpreter *my_perl = (PerlInterpreter *) _perlInterpreter;
	if (my_perl != NULL) {
	    perl_free(my_perl);
	}
	free(_reserved);
	_reserved = NULL;
	if (_bqcperl_interp == my_perl) {
	    VantlePriv_MakeCurrent(NULL);
	}
    }
    _perlInterpreter = NULL;
}

- (void) _addInterp
{
    KxLockGuard guard(&interpListLock);
    if (interpList == nil) {
	interpList = [[List alloc] init];
    }
    [interpList addObject: self];
}

- (void) _removeInterp
{
    KxLockGuard guard(&interpListLock);
    if ([interpList removeObject: self] != nil) {
	__atomic_add_fetch(&interpListDepartures, 1, __ATOMIC_RELEASE);
    }
}

- (BOOL) linkObjectAt: (id *)address asVariableName: (const char *)name readOnly: (BOOL)readOnly
{
    VantlePriv_CurrentScope current((PerlInterpreter *) _perlInterpreter,
	    "linkObjectAt:asVariableName:readOnly:");
    return Vantle_LinkVar(name, address, readOnly ? 1 : 0) ? YES : NO;
}

@end

/* The protocol's methods are those of the Evaluation, Variables and
 * Remote categories. */
@implementation BqVantleInterp (Protocol)
@end
