/*
 * BqDravikComponentController.mm --
 *
 *	The controller of a web component written in Perl
 *	(BqDravikComponentController.h): making it from the component's
 *	file, the package each component name got last, and the
 *	controller's own rules for declared keys.  What it shares with the
 *	Perl-scripted application is in DravikHost*.mm.
 */
#import <Foundation/Foundation.h>

#include "BqDravikComponentController.h"
#include "BqPerlObject.h"
#include "BqVantleInterp.h"
#include "DravikHost.h"
#include "KxLock.h"
#include "RyApplicationDravik.h"

#include <objc/runtime.h>
#include <atomic>
#include <stdio.h>

/* What the shared code asks of the controller. */
@interface BqDravikComponentController () <DravikHost>
@end

/* The name of the class's exceptions, and the superclass whose methods
 * answer what Perl does not, set by +initialize. */
static NSString *exceptionName;
static Class superclass;

/* Component name -> the package its file returned last; made on first
 * use and kept for the process, under packageCacheLock. */
static NSMutableDictionary *packageCache;
KX_MUTEX_DEFINE(packageCacheLock);

/* The package the component name got last, when it still exists in the
 * default interpreter (another interpreter has not run the file). */
static NSString *
CachedPackage(NSString *name)
{
    NSString *package = nil;
    if (name != nil) {
	KxLockGuard guard(&packageCacheLock);
	package = [[[packageCache objectForKey: name] retain] autorelease];
    }
    return DravikHost_PackageExists(package) ? package : nil;
}

static void
CachePackage(NSString *name, NSString *package)
{
    if (name == nil) {
	return;
    }
    KxLockGuard guard(&packageCacheLock);
    if (packageCache == nil) {
	packageCache = [[NSMutableDictionary alloc] init];
    }
    [packageCache setObject: package forKey: name];
}

/* value, retained, to be stored where old was, which is released. */
static id
Replaced(id old, id value)
{
    [value retain];
    [old release];
    return value;
}

/* How many times component files ran in this process: a controller
 * whose lists were read at an earlier count reads them again, as its
 * file may have declared others. */
static std::atomic<unsigned long> componentFileRuns;

/* Runs the component's file (again, when it ran before: the subs of the
 * package it gave then are removed first) and remembers its package. */
static NSString *
RunComponentFile(NSString *name, NSString *path)
{
    NSString *previous = nil;
    if (name != nil) {
	KxLockGuard guard(&packageCacheLock);
	previous = [[[packageCache objectForKey: name] retain] autorelease];
    }
    NSString *package = DravikHost_RerunPackageFile(path, previous, exceptionName);
    CachePackage(name, package);
    componentFileRuns++;
    return package;
}

/* The package of the component's file: the one it gave last while the
 * file is unchanged, else what running it gives. */
static NSString *
ComponentPackage(NSString *name, NSString *path)
{
    NSString *package = nil;
    if (![RyApplication fileNeedsLoading: path]) {
	package = CachedPackage(name);
    }
    return package != nil ? package : RunComponentFile(name, path);
}

@implementation BqDravikComponentController

+ (void) initialize
{
    if (self != [BqDravikComponentController class]) {
	return;
    }
    if (exceptionName == nil) {
	exceptionName = @"BqDravikComponentController Error";
    }
    superclass = [RyComponentController class];
}

/*
 *----------------------------------------------------------------------
 * initComponentName:path: --
 *	The controller of the component name, whose Perl file is at path:
 *	the package of the file, a retaining Perl object of it holding the
 *	controller as "selfObject", the declared lists and the Perl object's
 *	flags.  A failure releases the receiver and raises.
 *----------------------------------------------------------------------
 */
- (id) initComponentName: (NSString *)name path: (NSString *)file
{
    [BqVantleInterp getDefaultInterp];
    self = [super init];
    if (self == nil) {
	return nil;
    }
    @try {
	componentName = [name retain];
	path = [file retain];
	if ([file length] == 0) {
	    [NSException raise: exceptionName format: @"empty component path"];
	}
	NSString *package = ComponentPackage(name, file);
	perlObject = DravikHost_NewPerlObject(self, package);
	[self readDeclarations];
    } @catch (NSException *exception) {
	[self release];
	@throw;
    }
    return self;
}

- (void) dealloc
{
    [perlObject release];
    [ivars release];
    [actionKeys release];
    [persistentKeys release];
    [flags release];
    [path release];
    [componentName release];
    [super dealloc];
}

- (NSString *) description
{
    return [NSString stringWithFormat: @"<%@: %@ (%@)\n\tivars: %@;\n\tpersistent: %@;\n"
	"\tactions: %@;\n\tflags: %@;\n\tperl object: %@; >", [self class], componentName,
	path, ivars, persistentKeys, actionKeys, flags, perlObject];
}

- (void) setTraceGet: (BOOL)flag
{
    traceGet = flag ? 1 : 0;
}

- (void) setTraceSet: (BOOL)flag
{
    traceSet = flag ? 1 : 0;
}

- (BqPerlObject *) perlObject
{
    return perlObject;
}

- (NSArray *) ivars
{
    return ivars;
}

- (NSArray *) actionKeys
{
    return actionKeys;
}

- (NSArray *) persistentKeys
{
    return persistentKeys;
}

- (NSArray *) sessionKeys
{
    return [[RyApplication sharedInstance] sessionKeys];
}

- (NSArray *) allHashKeys
{
    return ivars != nil ? ivars : [perlObject allIVars];
}

- (BOOL) _isVar: (NSString *)key
{
    return [ivars containsObject: key] || [persistentKeys containsObject: key]
	|| [actionKeys containsObject: key] || [[self sessionKeys] containsObject: key];
}

- (BOOL) _isNotVar: (NSString *)key
{
    return ivars != nil && ![self _isVar: key];
}

/*
 *----------------------------------------------------------------------
 * _undeclaredKey:selector: --
 *	Refuses an undeclared key: "<selector> no ivar "<key>" in component
 *	"<name>" (<package>)".  A write to a key that names a sub of the
 *	package goes silently instead.
 *----------------------------------------------------------------------
 */
- (void) _undeclaredKey: (NSString *)key selector: (SEL)selector
{
    if (sel_isEqual(selector, @selector(takeValue:forKey:))
	    && [perlObject isInstanceMethod: [key UTF8String]]) {
	return;
    }
    [NSException raise: exceptionName format: @"%s no ivar \"%@\" in component \"%@\" (%s)",
	sel_getName(selector), key, componentName, [perlObject stashName]];
}

- (id) valueForKey: (NSString *)key
{
    return DravikHost_ValueForKey(self, perlObject, key, traceGet);
}

- (void) takeValue: (id)value forKey: (NSString *)key
{
    DravikHost_TakeValueForKey(self, perlObject, value, key, traceSet);
}

/*
 *----------------------------------------------------------------------
 * readDeclarations --
 *	Reads @ACTIONS, @PERSISTENT, @IVARS and %FLAGS of the package, in
 *	that order, replacing the lists held, and applies the flags to the
 *	Perl object.
 *----------------------------------------------------------------------
 */
- (void) readDeclarations
{
    declarationsRun = componentFileRuns;
    actionKeys = Replaced(actionKeys, [perlObject getCVarValue: "@ACTIONS" raw: NO]);
    persistentKeys = Replaced(persistentKeys, [perlObject getCVarValue: "@PERSISTENT" raw: NO]);
    ivars = Replaced(ivars, [perlObject getCVarValue: "@IVARS" raw: NO]);
    flags = Replaced(flags, [perlObject getCVarValue: "%FLAGS" raw: NO]);
    [perlObject setPropertiesFromDictionary: flags];
}

/*
 *----------------------------------------------------------------------
 * awake --
 *	Runs the component's file again first when it changed since it last
 *	ran (unless files load once only: then the file is not even looked
 *	at, which saves a system call per request), so that an edit is seen at the
 *	next request of every session, not only by controllers made later.
 *	The Perl object keeps its entries; its package gets the new subs.
 *	Then the Perl sub "awake", then the superclass's awake.
 *----------------------------------------------------------------------
 */
- (void) awake
{
    /* Files that load once never run again: no need to look at them. */
    if (![RyApplication loadOnceOnly] && [RyApplication fileNeedsLoading: path]) {
	RunComponentFile(componentName, path);
    }
    if (declarationsRun != componentFileRuns) {
	[self readDeclarations];
    }
    DravikHost_Awake(perlObject);
    [super awake];
}

/* The request-cycle methods: the package's sub, else the superclass's. */
#define CYCLE_STEP(first, context) \
    DravikHost_RequestStep(self, superclass, perlObject, _cmd, first, \
	context, @"BqDravikComponentController: invalid return")

- (id) willPrepareForRequest: (id)request inContext: (id)context
{
    return CYCLE_STEP(request, context);
}

- (id) didPrepareForRequest: (id)request inContext: (id)context
{
    return CYCLE_STEP(request, context);
}

- (id) willGenerateResponse: (id)response inContext: (id)context
{
    return CYCLE_STEP(response, context);
}

- (id) didGenerateResponse: (id)response inContext: (id)context
{
    return CYCLE_STEP(response, context);
}

- (BOOL) respondsToSelector: (SEL)selector
{
    return DravikHost_RespondsToSelector(self, superclass, perlObject,
	selector);
}

- (NSMethodSignature *) methodSignatureForSelector: (SEL)selector
{
    return DravikHost_MethodSignature(self, superclass, perlObject, selector,
	exceptionName);
}

- (void) forwardInvocation: (NSInvocation *)invocation
{
    DravikHost_ForwardInvocation(self, superclass, perlObject, invocation,
	exceptionName);
}

@end
