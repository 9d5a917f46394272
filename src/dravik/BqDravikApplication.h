/*
 * BqDravikApplication.h --
 *
 *	A web application scripted in Perl: a folder application
 *	(RyVellumApplication.h) whose file Application.pl defines a package
 *	and returns its name.  The application then owns a Perl object
 *	blessed into that package, which answers its key-value access,
 *	request-cycle methods and other messages as a Perl component's does
 *	(BqDravikComponentController.h, DravikHost.h).  Without such a file
 *	it behaves as its superclass.
 *
 *	What Application.pl declares, as package variables:
 *	  @IVARS	the keys of its instance variables; without it, every
 *			key is one;
 *	  @SESSION	its session keys (sessionKeys);
 *	  %FLAGS	the Perl object's flags, as for components.
 *	Application.pl runs at every awake, which the framework sends once
 *	before the first request.
 *
 *	Component controllers, by the component's script file:
 *	  Name.vantle	a Perl file that defines the class Name (for example
 *			with Vantle::Class); the controller is a new instance;
 *	  Name.pl	a BqDravikComponentController;
 *	  Name.glisk, Name.tcl
 *			run in the Tcl interpreter of the class BqGliskInterp
 *			when that class is present; the controller is then
 *			the superclass's;
 *	  none		the superclass's controller.
 *	Script files run again when they changed
 *	(+[RyApplication fileNeedsLoading:]).
 *
 *	Errors raise an NSException named "BqDravikApplication Error", but
 *	for reading an undeclared key ("PerlQuillon Error"), a
 *	request-cycle sub answering neither nil nor a RyElement
 *	("BqDravikAppplication: invalid return") and Perl errors in subs
 *	("Perl Error").
 */
#ifndef BQ_DRAVIK_APPLICATION_H
#define BQ_DRAVIK_APPLICATION_H

#include "RyVellumApplication.h"

@class BqPerlObject, NSArray, NSDictionary, NSInvocation, NSMethodSignature, NSString;

@interface BqDravikApplication : RyVellumApplication
{
    BqPerlObject *perlObject;	/* retained; nil while no file ran */
    NSArray *ivars;		/* @IVARS, or nil */
    NSArray *sessionKeys;	/* @SESSION, or nil */
    NSDictionary *flags;	/* %FLAGS, or nil */
    NSString *path;		/* the application file */
    unsigned char traceGet;
    unsigned char traceSet;
}

/* Runs the application's file Application.pl, when it has one. */
- (void) initDravikApplication;
/* Runs the application file at path (nil: none) and makes a new Perl
 * object of its package, which replaces the one of an earlier run.
 * Answers the receiver; raises for a Perl error and a file that returns
 * no existing package. */
- (id) initWithPath: (NSString *)path;
/* The controller for the component name, by its script file (above). */
- (id) controllerForComponentWithName: (NSString *)name;
/* The file name.type of the component's folder, or nil. */
- (NSString *) pathForResource: (NSString *)name ofType: (NSString *)type
	   inComponentWithName: (NSString *)component;

- (void) setTraceGet: (BOOL)flag;
- (void) setTraceSet: (BOOL)flag;
- (BqPerlObject *) perlObject;
/* @SESSION when the file ran, else the superclass's. */
- (NSArray *) sessionKeys;
/* @IVARS, else the Perl object's entries, else nil. */
- (NSArray *) allHashKeys;
/* Whether key is in @IVARS or @SESSION. */
- (BOOL) _isVar: (NSString *)key;
/* NO without @IVARS; else whether key is in neither. */
- (BOOL) _isNotVar: (NSString *)key;

- (id) valueForKey: (NSString *)key;
- (void) takeValue: (id)value forKey: (NSString *)key;
/* Runs Application.pl, then its sub "awake", then the superclass's. */
- (void) awake;
- (id) willPrepareForRequest: (id)request inContext: (id)context;
- (id) didPrepareForRequest: (id)request inContext: (id)context;
- (id) willGenerateResponse: (id)response inContext: (id)context;
- (id) didGenerateResponse: (id)response inContext: (id)context;

- (BOOL) respondsToSelector: (SEL)selector;
- (NSMethodSignature *) methodSignatureForSelector: (SEL)selector;
- (void) forwardInvocation: (NSInvocation *)invocation;
@end

#endif /* BQ_DRAVIK_APPLICATION_H */
