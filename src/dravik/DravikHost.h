/*
 * DravikHost.h --
 *
 *	What the Perl-scripted hosts of the web framework share: the
 *	component controller (BqDravikComponentController.h) and the
 *	application (BqDravikApplication.h).  Each runs a Perl file that
 *	returns a package name, owns a BqPerlObject blessed into that
 *	package, and answers the framework's key-value access and
 *	request-cycle methods from the package's subs and the object's hash.
 *
 *	Running files: a file runs in the default interpreter; a Perl error
 *	raises the host's exception name with "perl error while executing
 *	<path>: <error>", a file that returns no existing package "<path> did
 *	not return a valid package name".  The value wrapper of the result is
 *	freed in every case.
 *
 *	Key-value access: a sub named as the key (a getter) or "set" plus the
 *	key with its first letter upper-cased (a setter) answers first; else
 *	the hash entry of the key, when the host declares the key (its
 *	_isNotVar: answers NO).  Undeclared keys are the host's to refuse.
 *
 *	Request-cycle methods: a sub of the capitalised name
 *	(willPrepareForRequestInContext ...) answers instead of the
 *	superclass's method, with the shared BqNil for a nil argument; its
 *	result must be nil or a RyElement.
 */
#ifndef DRAVIK_HOST_H
#define DRAVIK_HOST_H

#import <Foundation/NSObject.h>

@class BqPerlObject, NSInvocation, NSMethodSignature, NSString;

/* What the shared code asks of a host. */
@protocol DravikHost
/* YES when the host declares instance variables and key is none of
 * them. */
- (BOOL) _isNotVar: (NSString *)key;
/* Raises, or answers to let the access go silently, for an undeclared
 * key that the selector (valueForKey: or takeValue:forKey:) met.  A
 * read always raises. */
- (void) _undeclaredKey: (NSString *)key selector: (SEL)selector;
@end

#ifdef __cplusplus
extern "C" {
#endif

/* Runs the file at path (neither nil nor empty) in the default
 * interpreter and answers the name of the package it returned; raises
 * exceptionName when it fails or returns no existing package. */
NSString *DravikHost_RunPackageFile(NSString *path, NSString *exceptionName);

/* Runs the file at path again, after it changed: the subs that its last
 * run compiled into previousPackage (nil: none) are removed first, so
 * the new run defines them afresh and a sub the file no longer has is
 * gone.  Answers and raises as DravikHost_RunPackageFile. */
NSString *DravikHost_RerunPackageFile(NSString *path, NSString *previousPackage,
	NSString *exceptionName);

/* Runs the file at path for its effect only; raises exceptionName for a
 * Perl error. */
void DravikHost_RunFile(NSString *path, NSString *exceptionName);

/* Whether package exists, with symbols, in the default interpreter. */
BOOL DravikHost_PackageExists(NSString *package);

/* A new retaining Perl object of package for host, owned by the caller,
 * with host stored, read-only and not retained, under "selfObject". */
BqPerlObject *DravikHost_NewPerlObject(id host, NSString *package);

/* valueForKey: and takeValue:forKey: of a host with a Perl object, with
 * its trace flag. */
id   DravikHost_ValueForKey(id<DravikHost> host, BqPerlObject *perlObject, NSString *key,
	BOOL trace);
void DravikHost_TakeValueForKey(id<DravikHost> host, BqPerlObject *perlObject, id value,
	NSString *key, BOOL trace);

/* Calls the sub "awake" of the package when it has one. */
void DravikHost_Awake(BqPerlObject *perlObject);

/* One request-cycle method of host: the sub of the capitalised name of
 * the message when the package has one (a result that is no RyElement
 * raises invalidReturnName), else the method of superclass, which host
 * is an instance of.  A nil Perl object always goes to superclass. */
id DravikHost_RequestStep(id host, Class superclass, BqPerlObject *perlObject, SEL message,
	id first, id context, NSString *invalidReturnName);

/* respondsToSelector:, methodSignatureForSelector: and
 * forwardInvocation: of host: the superclass's, and the forwarding
 * functions of DravikForward.h for what it does not answer.  Without a
 * Perl object the superclass answers alone. */
BOOL DravikHost_RespondsToSelector(id host, Class superclass, BqPerlObject *perlObject,
	SEL selector);
NSMethodSignature *DravikHost_MethodSignature(id host, Class superclass,
	BqPerlObject *perlObject, SEL selector, NSString *exceptionName);
void DravikHost_ForwardInvocation(id host, Class superclass, BqPerlObject *perlObject,
	NSInvocation *invocation, NSString *exceptionName);

#ifdef __cplusplus
}
#endif

#endif /* DRAVIK_HOST_H */
