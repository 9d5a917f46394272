/*
 * RyApplicationPrivate.h --
 *
 *	What the request cycle (RyRequestCycle.mm) uses of an application
 *	beyond its public interface.
 */
#ifndef RY_APPLICATION_PRIVATE_H
#define RY_APPLICATION_PRIVATE_H

#include "RyApplication.h"

@class RyTemplate;

@interface RyApplication (Private)
/* The template of the component name, one per component name, kept so a
 * file is parsed again only when it changes; nil when the component has
 * no template. */
- (RyTemplate *) templateForComponentWithName: (NSString *)name;
/* Sends the application's awake unless it was sent already. */
- (void) awakeOnce;
@end

/* Runs one request cycle of application for request (RyRequestCycle.mm):
 * the body of -[RyApplication handleRequest:].  Answers an autoreleased
 * response; never raises. */
RyResponse *RyRunRequestCycle(RyApplication *application, RyRequest *request);

#endif /* RY_APPLICATION_PRIVATE_H */
