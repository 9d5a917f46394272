/*
 * BqDravikApplication.mm --
 *
 *	A web application scripted in Perl (BqDravikApplication.h): running
 *	its file, its own rules for declared keys, and the choice of each
 *	component's controller.  What it shares with the Perl component
 *	controller is in DravikHost*.mm.
 */
#import <Foundation/Foundation.h>

#include "BqDravikApplication.h"
#include "BqDravikComponentController.h"
#include "BqPerlObject.h"
#include "BqVantleInterp.h"
#include "DravikHost.h"
#include "RyApplicationDravik.h"

#include <objc/runtime.h>

/* The Tcl interpreter of the sibling Tcl binding, as far as it is used
 * here. */
@protocol DravikGliskInterp
- (int) evalFile: (const char *)fileName interactor: (id)interactor debug: (BOOL)debug;
/* The error text of the last evaluation. */
- (const char *) result;
@end

/* What the shared code asks of the application, and its own helpers. */
@interface BqDravikApplication () <DravikHost>
- (id) _controllerOfClassFile: (NSString *)file name: (NSString *)name;
- (void) _runTclFileOfComponent: (NSString *)name;
@end

/* The name of the class's exceptions, and the superclass, set by
 * +initialize. */
static NSString *exceptionName;
static Class superclass;

@implementation BqDravikApplication

+ (void) initialize
{
    if (self != [BqDravikApplication class]) {
	return;
    }
    if (exceptionName == nil) {
	exceptionName = @"BqDravikApplication Error";
    }
    superclass = [RyVellumApplication class];
}

- (void) initDravikApplication
{
    [self initWithPath: [self pathForResource: @"Application" ofType: @"pl"]];
}

/*
 *----------------------------------------------------------------------
 * initWithPath: --
 *	Runs the application file at path, when there is one, and makes a
 *	retaining Perl object of the package it returned, holding the
 *	application as "selfObject", with the declared lists and flags; they
 *	replace those of an earlier run.  Answers the receiver.
 *----------------------------------------------------------------------
 */
- (id) initWithPath: (NSString *)file
{
    [BqVantleInterp getDefaultInterp];
    [path autorelease];
    path = [file retain];
    if (file == nil) {
	return self;
    }
    NSString *package = DravikHost_RunPackageFile(file, exceptionName);
    /* The new object is complete before the old one is let go, so a
     * failure leaves the receiver as it was. */
    BqPerlObject *made = DravikHost_NewPerlObject(self, package);
    [perlObject autorelease];
    perlObject = made;
    [sessionKeys autorelease];
    sessionKeys = [[perlObject getCVarValue: "@SESSION" raw: NO] retain];
    [ivars autorelease];
    ivars = [[perlObject getCVarValue: "@IVARS" raw: NO] retain];
    [flags autorelease];
    flags = [[perlObject getCVarValue: "%FLAGS" raw: NO] retain];
    [perlObject setPropertiesFromDictionary: flags];
    return self;
}

/*
 *----------------------------------------------------------------------
 * controllerForComponentWithName: --
 *	The controller of the component name, by its script file: a new
 *	instance of the class its "vantle" file defines, a Perl component
 *	controller for its "pl" file, else the superclass's controller
 *	(once its Tcl file ran, when the Tcl binding is present).
 *----------------------------------------------------------------------
 */
- (id) controllerForComponentWithName: (NSString *)name
{
    if (name == nil) {
	return [super controllerForComponentWithName: name];
    }
    NSString *file = [self pathForResource: name ofType: @"vantle" inComponentWithName: name];
    if (file != nil) {
	return [self _controllerOfClassFile: file name: name];
    }
    file = [self pathForResource: name ofType: @"pl" inComponentWithName: name];
    if (file != nil) {
	return [[[BqDravikComponentController alloc] initComponentName: name path: file]
		   autorelease];
    }
    [self _runTclFileOfComponent: name];
    return [super controllerForComponentWithName: name];
}

/* A new autoreleased instance of the class name, which the Perl file at
 * path defines (run when it must). */
- (id) _controllerOfClassFile: (NSString *)file name: (NSString *)name
{
    if ([RyApplication fileNeedsLoading: file]) {
	DravikHost_RunFile(file, exceptionName);
    }
    Class cls = objc_lookUpClass([name UTF8String]);
    if (cls == Nil) {
	[NSException raise: exceptionName format: @"no class \"%@\" for compnent %@", name, name];
    }
    return [[[cls alloc] init] autorelease];
}

/* Runs the component's "glisk" or else "tcl" file in the Tcl binding's
 * interpreter, when the binding is present and the file must run. */
- (void) _runTclFileOfComponent: (NSString *)name
{
    Class glisk = objc_lookUpClass("BqGliskInterp");
    if (glisk == Nil) {
	return;
    }
    NSString *file = [self pathForResource: name ofType: @"glisk" inComponentWithName: name];
    if (file == nil) {
	file = [self pathForResource: name ofType: @"tcl" inComponentWithName: name];
    }
    if (file == nil || ![RyApplication fileNeedsLoading: file]) {
	return;
    }
    id<DravikGliskInterp> tcl = [(id) glisk getDefaultInterp];
    if ([tcl evalFile: [file fileSystemRepresentation] interactor: nil debug: NO] == 1) {
	[NSException raise: exceptionName format: @"tcl error while executing %@: %s", file,
	    [tcl result]];
    }
}

- (NSString *) pathForResource: (NSString *)name ofType: (NSString *)type
	   inComponentWithName: (NSString *)component
{
    return [[self bundleForComponentWithName: component] pathForResource: name ofType: type];
}

- (void) dealloc
{
    [perlObject release];
    [sessionKeys release];
    [ivars release];
    [flags release];
    [path release];
    [super dealloc];
}

- (NSString *) description
{
    return [NSString stringWithFormat: @"<%@: (%@)\n\tivars: %@;\n\tsession: %@;\n"
	"\tflags: %@;\n\tperl object: %@; >", [self class], path, ivars, sessionKeys, flags,
	perlObject];
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

- (NSArray *) sessionKeys
{
    return perlObject != nil ? sessionKeys : [super sessionKeys];
}

/* The framework's application keeps no list of keys of its own. */
- (NSArray *) allHashKeys
{
    return ivars != nil ? ivars : [perlObject allIVars];
}

- (BOOL) _isVar: (NSString *)key
{
    return [ivars containsObject: key] || [sessionKeys containsObject: key];
}

- (BOOL) _isNotVar: (NSString *)key
{
    return ivars != nil && ![self _isVar: key];
}

/* Refuses an undeclared key: "<selector> no ivar "<key>" (<package>)",
 * named "PerlQuillon Error" for a read. */
- (void) _undeclaredKey: (NSString *)key selector: (SEL)selector
{
    NSString *name = sel_isEqual(selector, @selector(valueForKey:)) ? @"PerlQuillon Error"
	: exceptionName;
    [NSException raise: name format: @"%s no ivar \"%@\" (%s)", sel_getName(selector), key,
	[perlObject stashName]];
}

- (id) valueForKey: (NSString *)key
{
    if (perlObject == nil) {
	return [super valueForKey: key];
    }
    return DravikHost_ValueForKey(self, perlObject, key, traceGet);
}

- (void) takeValue: (id)value forKey: (NSString *)key
{
    if (perlObject == nil) {
	[super takeValue: value forKey: key];
	return;
    }
    DravikHost_TakeValueForKey(self, perlObject, value, key, traceSet);
}

- (void) awake
{
    [self initDravikApplication];
    DravikHost_Awake(perlObject);
    [super awake];
}

/* The request-cycle methods: the package's sub, else the superclass's. */
#define CYCLE_STEP(first, context) \
    DravikHost_RequestStep(self, superclass, perlObject, _cmd, first, context, \
	@"BqDravikAppplication: invalid return")

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
    return DravikHost_RespondsToSelector(self, superclass, perlObject, selector);
}

- (NSMethodSignature *) methodSignatureForSelector: (SEL)selector
{
    return DravikHost_MethodSignature(self, superclass, perlObject, selector, exceptionName);
}

- (void) forwardInvocation: (NSInvocation *)invocation
{
    DravikHost_ForwardInvocation(self, superclass, perlObject, invocation, exceptionName);
}

@end
