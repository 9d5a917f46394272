/*
 * RyContext.mm --
 *
 *	The state of one request cycle.
 */
#import <Foundation/Foundation.h>

#include "RyContext.h"

@implementation RyContext

- (id) initWithApplication: (RyApplication *)anApplication
		   request: (RyRequest *)aRequest
		  response: (RyResponse *)aResponse
		   session: (RySession *)aSession
{
    if ((self = [super init]) != nil) {
	application = anApplication;
	request = [aRequest retain];
	response = [aResponse retain];
	session = [aSession retain];
    }
    return self;
}

- (void) dealloc
{
    [request release];
    [response release];
    [session release];
    [page release];
    [pageName release];
    [super dealloc];
}

- (RyApplication *) application
{
    return application;
}

- (RyRequest *) request
{
    return request;
}

- (RyResponse *) response
{
    return response;
}

- (RySession *) session
{
    return session;
}

- (id) page
{
    return page;
}

- (NSString *) pageName
{
    return pageName;
}

- (void) setPage: (id)controller name: (NSString *)name
{
    id oldPage = page;
    NSString *oldName = pageName;
    page = [controller retain];
    pageName = [name copy];
    [oldPage release];
    [oldName release];
}

@end
