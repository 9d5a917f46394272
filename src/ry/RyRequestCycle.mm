/*
 * RyRequestCycle.mm --
 *
 *	The request cycle of an application (the order is described in
 *	RyApplication.h).
 */
#import <Foundation/Foundation.h>

#include "RyApplicationPrivate.h"
#include "RyHTML.h"
#include "RyResponse.h"

RyResponse *
RyRunRequestCycle(RyApplication *application, RyRequest *request)
{
    (void)application;
    (void)request;
    RyResponse *response = [[[RyResponse alloc] init] autorelease];
    [response setStatus: 500];
    [response setContent: @"<h1>Not yet</h1><p>the request cycle is not written yet</p>"];
    return response;
}
