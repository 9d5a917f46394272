/*
 * RyContext.h --
 *
 *	The request cycle under way: which application answers which
 *	request for which session and page.  Request-cycle methods of
 *	applications and controllers receive it as their second argument;
 *	Perl code reads it like any object ($context->session).
 */
#ifndef RY_CONTEXT_H
#define RY_CONTEXT_H

#import <Foundation/NSObject.h>

@class NSString, RyApplication, RyRequest, RyResponse, RySession;

@interface RyContext : NSObject
{
    RyApplication *application;	/* not retained: it outlives the cycle */
    RyRequest *request;		/* retained */
    RyResponse *response;	/* retained */
    RySession *session;		/* retained */
    id page;			/* the page's controller, retained */
    NSString *pageName;		/* its component's name */
}

- (id) initWithApplication: (RyApplication *)application
		   request: (RyRequest *)request
		  response: (RyResponse *)response
		   session: (RySession *)session;

- (RyApplication *) application;
- (RyRequest *) request;
- (RyResponse *) response;
- (RySession *) session;
/* The controller of the page being answered, and its component's name;
 * an action that goes to another page changes both. */
- (id) page;
- (NSString *) pageName;
- (void) setPage: (id)controller name: (NSString *)name;
@end

#endif /* RY_CONTEXT_H */
