/*
 * RyApplication.mm --
 *
 *	The application object: its sessions, its cache of templates and
 *	the default answers of its overridable methods.  The request cycle
 *	itself is in RyRequestCycle.mm.
 */
#import <Foundation/Foundation.h>

#include "RyApplicationPrivate.h"
#include "RySessionStore.h"
#include "RyTemplate.h"

id RyApp = nil;

@implementation RyApplication

+ (id) sharedInstance
{
    return RyApp;
}

- (id) init
{
    if ((self = [super init]) != nil) {
	sessionStore = [[RySessionStore alloc] init];
	templates = [[NSMutableDictionary alloc] init];
	RyApp = self;
    }
    return self;
}

- (void) dealloc
{
    if (RyApp == self) {
	RyApp = nil;
    }
    [applicationName release];
    [sessionStore release];
    [templates release];
    [super dealloc];
}

- (NSString *) applicationName
{
    return applicationName;
}

- (NSArray *) sessionKeys
{
    return nil;
}

- (RySessionStore *) sessionStore
{
    return sessionStore;
}

- (void) setSessionStore: (RySessionStore *)store
{
    if (store == nil) {
	[NSException raise: NSInvalidArgumentException
		    format: @"RyApplication needs a session store"];
    }
    RySessionStore *old = sessionStore;
    sessionStore = [store retain];
    [old release];
}

- (id) controllerForComponentWithName: (NSString *)name
{
    (void)name;
    return nil;
}

- (NSString *) templatePathForComponentWithName: (NSString *)name
{
    (void)name;
    return nil;
}

- (void) awake
{
}

- (id) willPrepareForRequest: (id)request inContext: (id)context
{
    (void)request;
    (void)context;
    return nil;
}

- (id) didPrepareForRequest: (id)request inContext: (id)context
{
    (void)request;
    (void)context;
    return nil;
}

- (id) willGenerateResponse: (id)response inContext: (id)context
{
    (void)response;
    (void)context;
    return nil;
}

- (id) didGenerateResponse: (id)response inContext: (id)context
{
    (void)response;
    (void)context;
    return nil;
}

- (RyResponse *) handleRequest: (RyRequest *)request
{
    return RyRunRequestCycle(self, request);
}

@end

@implementation RyApplication (Private)

/* The template of the component name, made on first use and kept by
 * name: the file is looked up once, and afterwards only the template's
 * own check of the file (one stat) runs per rendering.  A file removed
 * later makes the template raise when it renders. */
- (RyTemplate *) templateForComponentWithName: (NSString *)name
{
    RyTemplate *cached = name != nil ? [templates objectForKey: name] : nil;
    if (cached != nil) {
	return cached;
    }
    NSString *path = [self templatePathForComponentWithName: name];
    if (path == nil) {
	return nil;
    }
    cached = [[[RyTemplate alloc] initWithPath: path] autorelease];
    [templates setObject: cached forKey: name];
    return cached;
}

- (void) awakeOnce
{
    if (!awakened) {
	awakened = YES;
	[self awake];
    }
}

@end
