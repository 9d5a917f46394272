/*
 * BqDravikComponentController.h --
 *
 *	The controller of a web component written in Perl.  Its file (the
 *	component's "pl" script) defines a package and returns its name;
 *	the controller owns a Perl object blessed into that package, whose
 *	subs and hash entries answer the framework's key-value access, the
 *	request-cycle methods and any other message (DravikHost.h,
 *	DravikForward.h).
 *
 *	What a component file declares, as package variables:
 *	  @IVARS	the keys of its instance variables (hash entries);
 *			without it, every key is one;
 *	  @ACTIONS	its actions (actionKeys);
 *	  @PERSISTENT	the keys it wants kept (persistentKeys);
 *	  %FLAGS	the Perl object's traceGet, traceSet, traceInvoke,
 *			rawGet, rawSet and verbose.
 *	The keys of all four lists and the application's session keys count
 *	as declared.  The entry "selfObject" is the controller, read-only.
 *
 *	Files run in the default interpreter, the first time their component
 *	is made and again whenever the file changed
 *	(+[RyApplication fileNeedsLoading:], RyApplicationDravik.h); a file
 *	that did not change gives the package it gave before.  Controllers
 *	made earlier keep their Perl objects.
 *
 *	Errors raise an NSException named "BqDravikComponentController
 *	Error", but for a request-cycle sub that answers neither nil nor a
 *	RyElement ("BqDravikComponentController: invalid return") and for
 *	Perl errors in subs ("Perl Error").
 */
#ifndef BQ_DRAVIK_COMPONENT_CONTROLLER_H
#define BQ_DRAVIK_COMPONENT_CONTROLLER_H

#include "RyComponentController.h"

@class BqPerlObject, NSArray, NSDictionary, NSInvocation, NSMethodSignature, NSString;

@interface BqDravikComponentController : RyComponentController
{
    BqPerlObject *perlObject;	/* retaining hash, retained */
    NSArray *ivars;		/* @IVARS, or nil */
    NSArray *actionKeys;	/* @ACTIONS, or nil */
    NSArray *persistentKeys;	/* @PERSISTENT, or nil */
    NSDictionary *flags;	/* %FLAGS, or nil */
    NSString *path;		/* the component's Perl file */
    NSString *componentName;
    unsigned char traceGet;	/* print key-value reads */
    unsigned char traceSet;	/* print key-value writes */
    unsigned long declarationsRun;	/* the file run the lists above come from */
}

/* Runs the file at path when it must (else takes the package the
 * component name got last) and makes the Perl object.  Raises for an
 * empty path, a Perl error in the file and a file that returns no
 * existing package (the receiver is then released). */
- (id) initComponentName: (NSString *)name path: (NSString *)path;

- (void) setTraceGet: (BOOL)flag;
- (void) setTraceSet: (BOOL)flag;
- (BqPerlObject *) perlObject;
- (NSArray *) ivars;
- (NSArray *) actionKeys;
- (NSArray *) persistentKeys;
/* The session keys of the current application. */
- (NSArray *) sessionKeys;
/* The declared instance variables, else the Perl object's entries. */
- (NSArray *) allHashKeys;
/* Whether key is in @IVARS, @PERSISTENT, @ACTIONS or the session keys. */
- (BOOL) _isVar: (NSString *)key;
/* NO without @IVARS; else whether key is in none of those lists. */
- (BOOL) _isNotVar: (NSString *)key;

- (id) valueForKey: (NSString *)key;
- (void) takeValue: (id)value forKey: (NSString *)key;
/* The sub "awake" when there is one, then the superclass's awake. */
- (void) awake;
- (id) willPrepareForRequest: (id)request inContext: (id)context;
- (id) didPrepareForRequest: (id)request inContext: (id)context;
- (id) willGenerateResponse: (id)response inContext: (id)context;
- (id) didGenerateResponse: (id)response inContext: (id)context;

- (BOOL) respondsToSelector: (SEL)selector;
- (NSMethodSignature *) methodSignatureForSelector: (SEL)selector;
- (void) forwardInvocation: (NSInvocation *)invocation;
@end

#endif /* BQ_DRAVIK_COMPONENT_CONTROLLER_H */
