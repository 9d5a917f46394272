/*
 * RyAction.mm --
 *
 *	Running an action: a method without arguments, or a key.
 */
#import <Foundation/Foundation.h>

#include "RyAction.h"
#include "RyComponentController.h"

#include <string.h>

NSString *const RyActionError = @"RyActionError";

/* Raises RyActionError unless actionKeys of controller is nil or holds
 * name (a controller without the method allows every action). */
static void
CheckActionKeys(id controller, NSString *name, NSString *componentName)
{
    NSArray *allowed = [controller respondsToSelector: @selector(actionKeys)]
	? [controller actionKeys] : nil;
    if (allowed != nil && ![allowed containsObject: name]) {
	[NSException raise: RyActionError
		    format: @"no action \"%@\" in component %@", name, componentName];
    }
}

/* Whether the type encoding (with any qualifiers in front) is an object. */
static BOOL
IsObjectType(const char *type)
{
    while (*type != '\0' && strchr("rnNoORV", *type) != NULL) {
	type++;
    }
    return *type == '@';
}

/* Sends selector (of the action name) to controller through an
 * invocation; answers the result when it is an object. */
static id
InvokeAction(id controller, SEL selector, NSString *name, NSString *componentName)
{
    NSMethodSignature *signature = [controller methodSignatureForSelector: selector];
    if (signature == nil || [signature numberOfArguments] != 2) {
	[NSException raise: RyActionError
		    format: @"the action \"%@\" of component %@ must be a method"
			    @" without arguments", name, componentName];
    }
    NSInvocation *invocation = [NSInvocation invocationWithMethodSignature: signature];
    [invocation setTarget: controller];
    [invocation setSelector: selector];
    [invocation invoke];
    id result = nil;
    if (IsObjectType([signature methodReturnType])) {
	[invocation getReturnValue: &result];
    }
    return result;
}

/* Raises RyActionError when selector is a method of every object (init,
 * release, dealloc, copy, ...), which a template may not run as an
 * action: it would reset or free the controller the session keeps. */
static void
CheckNotCommonMethod(SEL selector, NSString *name, NSString *componentName)
{
    if (selector != NULL && [NSObject instancesRespondToSelector: selector]) {
	[NSException raise: RyActionError
		    format: @"\"%@\" is a method of every object, no action of component %@",
			    name, componentName];
    }
}

id
RyRunAction(id controller, NSString *name, NSString *componentName)
{
    CheckActionKeys(controller, name, componentName);
    SEL selector = NSSelectorFromString(name);
    CheckNotCommonMethod(selector, name, componentName);
    if (selector != NULL && [controller respondsToSelector: selector]) {
	return InvokeAction(controller, selector, name, componentName);
    }
    return [controller valueForKey: name];
}
