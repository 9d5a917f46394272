/*
 * RyAction.h --
 *
 *	Running a component's action by its name, as the request cycle does
 *	for a link or submit button a request names.
 */
#ifndef RY_ACTION_H
#define RY_ACTION_H

#import <Foundation/NSObject.h>

@class NSString;

/* The name of the exception for an action that cannot be run. */
extern NSString *const RyActionError;

/* Runs the action name of controller, the controller of the component
 * componentName (for error texts), and answers its result:
 *   - when [controller actionKeys] is not nil and lacks name, raises
 *     RyActionError ("no action \"add\" in component Main");
 *   - a method every object has (init, release, copy, ...) raises
 *     RyActionError: it would reset or free the controller;
 *   - when the controller responds to the selector name, sends it
 *     through an NSInvocation and answers its result when the method
 *     returns an object, else nil; a method that takes arguments raises
 *     RyActionError;
 *   - else answers [controller valueForKey: name].
 * Exceptions of the action pass to the caller. */
id RyRunAction(id controller, NSString *name, NSString *componentName);

#endif /* RY_ACTION_H */
