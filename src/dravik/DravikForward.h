/*
 * DravikForward.h --
 *
 *	Messages to a Perl-scripted host object (a component or the
 *	application of the web framework) that its class does not implement
 *	are answered from the host's Perl object: by the Perl method named
 *	like the selector, or else by reading or writing an instance
 *	variable the host declares.  The host's respondsToSelector:,
 *	methodSignatureForSelector: and forwardInvocation: call these
 *	functions once their superclass has declined.
 *
 *	Names derived from a selector name: the underscore name has every
 *	colon replaced by '_' (takeValue:forKey: -> takeValue_forKey_); the
 *	capitalised name drops the colons and upper-cases the character after
 *	each (willPrepareForRequest:inContext: ->
 *	willPrepareForRequestInContext), the selector map's Perl name.  A
 *	capitalised name of the setter form starts with "set" and an
 *	upper-case letter, and its accessor key is the rest with that letter
 *	lower-cased (setTitle -> title); any other name is a getter whose
 *	key is the name itself.
 *
 *	Forwarded messages take and return objects only: the signature made
 *	here returns an object and takes one object per colon.  The host
 *	answers _isVar: (an NSString key -> BOOL) for the instance variables
 *	it declares; a host that does not answers NO.
 */
#ifndef DRAVIK_FORWARD_H
#define DRAVIK_FORWARD_H

#import <Foundation/NSObject.h>

@class BqPerlObject, NSInvocation, NSMethodSignature, NSString;

#ifdef __cplusplus
extern "C" {
#endif

/* YES when the package has an instance method of the underscore or the
 * capitalised name, or when the host declares the accessor key as an
 * instance variable and the selector has one colon (setter) or none
 * (getter). */
BOOL Dravik_RespondsToSelector(id host, BqPerlObject *perlObject, SEL selector);

/* The signature "@@:" plus "@" per colon; raises exceptionName "<host
 * class> (<package>) instances do not respond to <selector>" when the
 * host does not respond to the selector. */
NSMethodSignature *Dravik_MethodSignatureForSelector(id host, BqPerlObject *perlObject,
	SEL selector, NSString *exceptionName);

/* Answers the invocation: the Perl method of the underscore name, else
 * of the capitalised name (an instance call in scalar context, a nil
 * argument passed as the shared BqNil), else the setter or getter of the accessor
 * key.  Its result becomes the invocation's return value.  Raises
 * exceptionName for an invocation without signature, a result or an
 * argument that is no object, and a setter or getter with the wrong
 * number of arguments, before anything is changed; errors of the Perl
 * method raise "Perl Error". */
void Dravik_ForwardInvocation(id host, BqPerlObject *perlObject, NSInvocation *invocation,
	NSString *exceptionName);

#ifdef __cplusplus
}
#endif

#endif /* DRAVIK_FORWARD_H */
