/*
 * DravikHostAccess.mm --
 *
 *	How a Perl-scripted host (DravikHost.h) answers the framework: its
 *	key-value access, its awake and request-cycle methods, and the
 *	messages its class does not implement, from the subs and the hash
 *	of its Perl object.  Each sub is looked up once per access and
 *	called with its arguments from a C array.
 */
#import <Foundation/Foundation.h>

#include "DravikHost.h"
#include "BqPerlObjectPriv.h"
#include "DravikForward.h"
#include "ObjectTypeCheck.h"
#include "PerlSelectorMap.h"

#include <ctype.h>
#include <objc/runtime.h>
#include <stdio.h>
#include <string.h>

/* The implementation of selector in superclass. */
static IMP
SuperMethod(Class superclass, SEL selector)
{
    return class_getMethodImplementation(superclass, selector);
}

/*
 *----------------------------------------------------------------------
 * DravikHost_ValueForKey --
 *	The value of key: the sub named as the key (instance call, scalar
 *	context), else, once the host accepted the key, the hash entry.
 *	With trace, the access is printed as "##<package>->{<key>} -->
 *	<value>".
 *----------------------------------------------------------------------
 */
id
DravikHost_ValueForKey(id<DravikHost> host, BqPerlObject *perlObject, NSString *key, BOOL trace)
{
    const char *name = [key UTF8String];
    if (trace) {
	printf("##%s->{%s} --> ", [perlObject stashName], name != NULL ? name : "");
    }
    id value = nil;
    if (name == NULL || ![perlObject _callGetter: name value: &value]) {
	if ([host _isNotVar: key]) {
	    [host _undeclaredKey: key selector: @selector(valueForKey:)];
	}
	value = [perlObject getIVarValue: name];
    }
    if (trace) {
	printf("%s\n", DravikPriv_TraceText(value));
    }
    return value;
}

/*
 *----------------------------------------------------------------------
 * DravikHost_TakeValueForKey --
 *	Writes value to key: through the setter sub "set<Key>" (given no
 *	argument for nil), else, once the host accepted the key, into the
 *	hash entry (retained).  An empty key is ignored.  With trace, the
 *	access is printed as "##<package>->{<key>} <-- <value>".
 *----------------------------------------------------------------------
 */
void
DravikHost_TakeValueForKey(id<DravikHost> host, BqPerlObject *perlObject, id value,
	NSString *key, BOOL trace)
{
    const char *name = [key UTF8String];
    if (name == NULL || *name == '\0') {
	return;
    }
    if (trace) {
	printf("##%s->{%s} <-- %s\n", [perlObject stashName], name,
	    DravikPriv_TraceText(value));
    }
    if ([perlObject _callSetter: name value: value]) {
	return;
    }
    if ([host _isNotVar: key]) {
	[host _undeclaredKey: key selector: @selector(takeValue:forKey:)];
	return;
    }
    [perlObject setIVar: name toValue: value];
}

void
DravikHost_Awake(BqPerlObject *perlObject)
{
    CV *code = [perlObject _instanceMethod: "awake"];
    if (code != NULL) {
	[perlObject _callMethod: "awake" code: code arguments: NULL count: 0];
    }
}

/*
 *----------------------------------------------------------------------
 * DravikHost_RequestStep --
 *	A request-cycle method of host (message, with first and context):
 *	the package's sub of the message's capitalised name
 *	(willPrepareForRequest:inContext: -> willPrepareForRequestInContext)
 *	with nil arguments passed as the shared BqNil, whose result must be
 *	nil or a RyElement (else invalidReturnName is raised); the
 *	superclass's method when there is no such sub or no Perl object.
 *----------------------------------------------------------------------
 */
id
DravikHost_RequestStep(id host, Class superclass, BqPerlObject *perlObject, SEL message,
	id first, id context, NSString *invalidReturnName)
{
    const char *selector = sel_getName(message);
    char small[DRAVIK_SMALL_NAME];
    char *sub = DravikPriv_NameRoom(small, strlen(selector));
    CV *code = NULL;
    if (perlObject != nil) {
	VantlePriv_PerlNameOfSelector(selector, sub);
	code = [perlObject _instanceMethod: sub];
    }
    if (code == NULL) {
	return ((id (*)(id, SEL, id, id)) SuperMethod(superclass, message))(host, message, first,
	    context);
    }
    id placeholder = DravikPriv_NilPlaceholder();
    id arguments[2] = { first != nil ? first : placeholder, context != nil ? context : placeholder };
    id result = [perlObject _callMethod: sub code: code arguments: arguments count: 2];
    if (result != nil && BqOsmo_CheckObjectType(result, "@\"RyElement\"", "", "", NULL) != 0) {
	[NSException raise: invalidReturnName
		    format: @"method -%s did not return a RyElement instance", sub];
    }
    return result;
}

/*
 *----------------------------------------------------------------------
 * DravikHost_RespondsToSelector --
 *	The superclass's answer for host, else whether the Perl object
 *	answers the selector (DravikForward.h).
 *----------------------------------------------------------------------
 */
BOOL
DravikHost_RespondsToSelector(id host, Class superclass, BqPerlObject *perlObject,
	SEL selector)
{
    SEL responds = @selector(respondsToSelector:);
    if (((BOOL (*)(id, SEL, SEL)) SuperMethod(superclass, responds))(host, responds, selector)) {
	return YES;
    }
    return Dravik_RespondsToSelector(host, perlObject, selector);
}

/*
 *----------------------------------------------------------------------
 * DravikHost_MethodSignature --
 *	The superclass's signature when it responds to the selector and has
 *	one; else, with a Perl object, the signature of a message forwarded
 *	to it (raising exceptionName when the host does not respond), and
 *	without one the superclass's answer.
 *----------------------------------------------------------------------
 */
NSMethodSignature *
DravikHost_MethodSignature(id host, Class superclass, BqPerlObject *perlObject, SEL selector,
	NSString *exceptionName)
{
    SEL responds = @selector(respondsToSelector:);
    SEL signs = @selector(methodSignatureForSelector:);
    IMP signature = SuperMethod(superclass, signs);
    if (perlObject == nil) {
	return ((NSMethodSignature *(*)(id, SEL, SEL)) signature)(host, signs, selector);
    }
    NSMethodSignature *found = nil;
    if (((BOOL (*)(id, SEL, SEL)) SuperMethod(superclass, responds))(host, responds, selector)) {
	found = ((NSMethodSignature *(*)(id, SEL, SEL)) signature)(host, signs, selector);
    }
    return found != nil ? found
	: Dravik_MethodSignatureForSelector(host, perlObject, selector, exceptionName);
}

void
DravikHost_ForwardInvocation(id host, Class superclass, BqPerlObject *perlObject,
	NSInvocation *invocation, NSString *exceptionName)
{
    if (perlObject == nil) {
	SEL forward = @selector(forwardInvocation:);
	((void (*)(id, SEL, NSInvocation *)) SuperMethod(superclass, forward))(host, forward,
	    invocation);
	return;
    }
    Dravik_ForwardInvocation(host, perlObject, invocation, exceptionName);
}
