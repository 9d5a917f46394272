/*
 * RyApplication.h --
 *
 *	The application: it holds the sessions and the parsed templates,
 *	makes the controllers of components, and runs the request cycle
 *	(-handleRequest:, RyRequestCycle.mm).  It lives across sessions.
 *
 *	One request cycle (see RyComponentController.h for the controller's
 *	part):
 *	  1. the session: the one the "ry_session" cookie names, or a new one
 *	     (an unknown, expired or forged id gets a new session);
 *	  2. the page: the component the path names ("/" is Main), its
 *	     controller taken from the session or made by
 *	     controllerForComponentWithName: and kept there; no such
 *	     component gives 404;
 *	  3. awake: the application's once, before its first request; the
 *	     page's (and each sub-component's) once per cycle;
 *	  4. willPrepareForRequest:inContext: (application, then page);
 *	  5. the form's values, pushed with takeValue:forKey: to the keys the
 *	     page's last rendering bound to fields (no other key);
 *	  6. didPrepareForRequest:inContext: (application, then page);
 *	  7. the action the request names, if the page's last rendering drew
 *	     it: inside a repetition the item and index are set first as
 *	     they were when it was drawn; a stale or forged action is not
 *	     run, the page is only rendered again.  An action that answers
 *	     the name of another component ends the cycle with a redirection
 *	     there ("303 See Other", Location "/<Name>"), so the browser's
 *	     address is the page it shows; that page's cycle is the next
 *	     request;
 *	  8. willGenerateResponse:inContext: (application, then page);
 *	  9. the page's template rendered into the response;
 *	 10. didGenerateResponse:inContext: (application, then page).
 *	A request-cycle method answering a RyElement ends the cycle there:
 *	that element is rendered as the response.  An exception in any step
 *	gives a 500 response showing its name and reason, HTML-escaped; the
 *	application goes on serving.
 *
 *	Threads: an application answers one request at a time, on the
 *	thread its scripts' interpreter runs on.
 */
#ifndef RY_APPLICATION_H
#define RY_APPLICATION_H

#import <Foundation/NSObject.h>

@class NSArray, NSMutableDictionary, NSString;
@class RyElement, RyRequest, RyResponse, RySessionStore;

/* The current application: the one made last (its -init sets it), nil
 * once that one is deallocated.  Not retained. */
extern id RyApp;

@interface RyApplication : NSObject
{
    NSString *applicationName;	/* retained */
    RySessionStore *sessionStore;
    NSMutableDictionary *templates;	/* component name -> RyTemplate */
    BOOL awakened;		/* the application's awake was sent */
}

/* RyApp. */
+ (id) sharedInstance;

/* A new application with the default session store (30 minutes idle,
 * at most 10,000 sessions); it becomes RyApp. */
- (id) init;

- (NSString *) applicationName;
/* The keys of values applications keep per session; nil here. */
- (NSArray *) sessionKeys;

- (RySessionStore *) sessionStore;
/* Replaces the store (and with it every live session). */
- (void) setSessionStore: (RySessionStore *)store;

/* A new autoreleased controller for the component name, or nil when
 * the application has no such component (nil here). */
- (id) controllerForComponentWithName: (NSString *)name;
/* The path of the component's template, or nil (nil here). */
- (NSString *) templatePathForComponentWithName: (NSString *)name;

/* Sent once, before the first request is answered. */
- (void) awake;
/* The request-cycle methods of the application; these answer nil. */
- (id) willPrepareForRequest: (id)request inContext: (id)context;
- (id) didPrepareForRequest: (id)request inContext: (id)context;
- (id) willGenerateResponse: (id)response inContext: (id)context;
- (id) didGenerateResponse: (id)response inContext: (id)context;

/* Runs one request cycle.  Never raises: failures are 4xx/5xx
 * responses. */
- (RyResponse *) handleRequest: (RyRequest *)request;
@end

#endif /* RY_APPLICATION_H */
