/*
 * RyComponentController.h --
 *
 *	The controller of one component instance: its state and its part in
 *	the request cycle.  An application makes one per component and
 *	session (-[RyApplication controllerForComponentWithName:]); the
 *	session keeps it across requests.  Subclasses keep state in instance
 *	variables, a dictionary or a Perl object; the framework reads and
 *	writes it only through key-value coding (valueForKey:,
 *	takeValue:forKey:).
 *
 *	Once per request cycle the framework sends, to the page's
 *	controller: awake, willPrepareForRequest:inContext:, (form values),
 *	didPrepareForRequest:inContext:, (the action), willGenerateResponse:
 *	inContext:, (rendering), didGenerateResponse:inContext:.  A
 *	request-cycle method answers nil to go on, or a RyElement that is
 *	rendered as the whole response instead of the page.
 *
 *	An action named "add" is the method -add (no arguments) when the
 *	controller responds to it, else valueForKey: @"add".  It answers nil
 *	(or anything that is no string, or an empty string) to stay on the
 *	page, or the name of the component to show next (the response then
 *	redirects the browser to it); a string naming no component is an
 *	error (RyActionError, a 500 page).
 */
#ifndef RY_COMPONENT_CONTROLLER_H
#define RY_COMPONENT_CONTROLLER_H

#import <Foundation/NSObject.h>

@class NSArray, NSString;

@interface RyComponentController : NSObject

/* Sent at the start of every request cycle that uses the controller. */
- (void) awake;

/* The four request-cycle methods; these answer nil. */
- (id) willPrepareForRequest: (id)request inContext: (id)context;
- (id) didPrepareForRequest: (id)request inContext: (id)context;
- (id) willGenerateResponse: (id)response inContext: (id)context;
- (id) didGenerateResponse: (id)response inContext: (id)context;

/* The names of the controller's actions, or nil (these answer nil).
 * When not nil, the framework runs only actions named here. */
- (NSArray *) actionKeys;
/* Keys whose values the controller wants kept; nil here.  The framework
 * keeps whole controllers in the session, so it needs no more. */
- (NSArray *) persistentKeys;
@end

#endif /* RY_COMPONENT_CONTROLLER_H */
