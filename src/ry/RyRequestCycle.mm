/*
 * RyRequestCycle.mm --
 *
 *	The request cycle of an application, in the order RyApplication.h
 *	describes: session, page, awake, willPrepare, form values,
 *	didPrepare, action, willGenerate, rendering, didGenerate.  Which
 *	fields and actions a request may use is decided by the action table
 *	of the session's last rendering (RyActionTable.h has the numbering
 *	scheme): a request whose "r" is not that rendering's serial pushes
 *	no value and runs no action, it only gets the page again.
 *
 *	Everything a cycle makes lives in an autorelease pool of its own,
 *	drained before -handleRequest: returns, also when the cycle failed;
 *	the response outlives it into the caller's pool.
 */
#import <Foundation/Foundation.h>

#include "RyAction.h"
#include "RyActionTable.h"
#include "RyApplicationPrivate.h"
#include "RyContext.h"
#include "RyElement.h"
#include "RyHTML.h"
#include "RyNames.h"
#include "RyPageRenderer.h"
#include "RyPageState.h"
#include "RyRequest.h"
#include "RyResponse.h"
#include "RySession.h"
#include "RySessionStore.h"
#include "RyTemplate.h"
#include "RyValue.h"

/* One request cycle under way. */
@interface RyCycle : NSObject <RyComponentSource>
{
    RyApplication *application;	/* not retained: outlives the cycle */
    RyRequest *request;
    RyResponse *response;
    RyContext *context;
    RyPageState *state;		/* the session's */
    NSMutableArray *awakened;	/* controllers sent awake in this cycle */
    BOOL current;		/* the request's "r" is the session's table */
}
- (id) initWithApplication: (RyApplication *)application request: (RyRequest *)request;
/* Runs the cycle; its response is then complete.  Raises what the
 * application's and the controllers' code raises. */
- (void) run;
- (RyResponse *) response;
@end

/* Appends "<h1>title</h1><p>text</p>" to out, both escaped. */
static void
AppendMessage(NSMutableString *out, NSString *title, NSString *text)
{
    [out appendString: @"<h1>"];
    RyAppendEscaped(out, title);
    [out appendString: @"</h1><p>"];
    RyAppendEscaped(out, text);
    [out appendString: @"</p>"];
}

@implementation RyCycle

- (id) initWithApplication: (RyApplication *)anApplication request: (RyRequest *)aRequest
{
    if ((self = [super init]) != nil) {
	application = anApplication;
	request = [aRequest retain];
	response = [[RyResponse alloc] init];
	awakened = [[NSMutableArray alloc] init];
    }
    return self;
}

- (void) dealloc
{
    [request release];
    [response release];
    [context release];
    [state release];
    [awakened release];
    [super dealloc];
}

- (RyResponse *) response
{
    return response;
}

/* Step 1: the session the cookie names, else a new one; the context. */
- (void) openSession
{
    RySessionStore *store = [application sessionStore];
    RySession *session = [store sessionForId: [request cookieForName: RySessionCookieName]];
    BOOL fresh = session == nil;
    if (fresh) {
	session = [store newSession];
    }
    [response setSessionId: [session sessionId] setCookie: fresh];
    context = [[RyContext alloc] initWithApplication: application
					     request: request
					    response: response
					     session: session];
    state = [[RyPageState stateOfSession: session] retain];
}

/* The session's controller of the component name, made and kept on
 * first use; nil when name is no component's. */
- (id) controllerForComponentWithName: (NSString *)name
{
    if (!RyIsComponentName(name)) {
	return nil;
    }
    id controller = [state controllerForName: name];
    if (controller == nil) {
	controller = [application controllerForComponentWithName: name];
	if (controller != nil) {
	    [state setController: controller forName: name];
	}
    }
    return controller;
}

/* Sends controller awake unless it had it in this cycle. */
- (void) awakeController: (id)controller
{
    if ([awakened indexOfObjectIdenticalTo: controller] == NSNotFound) {
	[awakened addObject: controller];
	[controller awake];
    }
}

- (id) awakeControllerForComponentWithName: (NSString *)name
{
    id controller = [self controllerForComponentWithName: name];
    if (controller == nil) {
	[NSException raise: RyComponentError format: @"there is no component \"%@\"", name];
    }
    [self awakeController: controller];
    return controller;
}

- (RyElement *) templateForComponentWithName: (NSString *)name
{
    RyTemplate *file = [application templateForComponentWithName: name];
    if (file == nil) {
	[NSException raise: RyComponentError format: @"the component %@ has no template", name];
    }
    return [file root];
}

/* Makes the response a 404 page for the request's path. */
- (void) answerNotFound
{
    [response setStatus: 404];
    NSMutableString *out = [response content];
    [out setString: @""];
    AppendMessage(out, @"Not Found", [NSString stringWithFormat: @"There is no page %@ here.",
	[request path]]);
}

/* Step 2: the page the path names.  NO (with a 404 response) when it
 * names none. */
- (BOOL) openPage
{
    NSString *name = [request componentName];
    id page = name != nil ? [self controllerForComponentWithName: name] : nil;
    if (page == nil) {
	[self answerNotFound];
	return NO;
    }
    [context setPage: page name: name];
    current = [[state table] isCurrentForSerial: [[request queryValues] objectForKey: @"r"]
				       pageName: name];
    return YES;
}

/* Renders element (nil: the page's template) as the whole body with a
 * new action table, which becomes the session's when rendering is done. */
- (void) renderBody: (RyElement *)element
{
    RyActionTable *table = [[[RyActionTable alloc] initWithSerial: [state nextSerial]
							 pageName: [context pageName]] autorelease];
    RyPageRenderer *renderer = [[[RyPageRenderer alloc] initWithComponent: [context page]
								     name: [context pageName]
								    table: table
								   source: self
								    depth: 0] autorelease];
    NSMutableString *out = [response content];
    [out setString: @""];
    if (element != nil) {
	[renderer appendElement: element toString: out];
    } else {
	[renderer appendTemplateToString: out];
    }
    [state setTable: table];
}

/* Sends selector (a request-cycle method) with argument and the context
 * to the application, then to the page.  A RyElement answered is
 * rendered as the response and ends the cycle: answers YES then. */
- (BOOL) send: (SEL)selector argument: (id)argument
{
    id receivers[2] = { application, [context page] };
    for (int i = 0; i < 2; i++) {
	id result = [receivers[i] performSelector: selector withObject: argument withObject: context];
	if (result != nil && [result isKindOfClass: [RyElement class]]) {
	    [self renderBody: result];
	    return YES;
	}
    }
    return NO;
}

- (BOOL) isPost
{
    return [[request method] isEqualToString: @"POST"];
}

/* Step 5: each field of the posted form (the query's "f" names it) in
 * the last rendering gets its value from the form, with its repetition
 * bindings set first.  A checkbox missing from the form was unchecked
 * (NO); a text field missing sets nothing. */
- (void) pushFormValues
{
    RyActionTable *table = [state table];
    NSDictionary *form = [request formValues];
    unsigned long long posted = 0;
    if (!RyParseEntryNumber([[request queryValues] objectForKey: @"f"], &posted)) {
	return;
    }
    NSUInteger count = [table count];
    for (NSUInteger n = 0; n < count; n++) {
	RyActionEntry *entry = [table entryAtIndex: n];
	if ([entry kind] == RyEntryAction || [entry form] != posted) {
	    continue;
	}
	NSString *text = [form objectForKey: [NSString stringWithFormat: @"f%lu", (unsigned long)n]];
	id value = text;
	if ([entry kind] == RyEntryCheckbox) {
	    value = [NSNumber numberWithBool: text != nil];
	} else if (text == nil) {
	    continue;
	}
	[self awakeController: [entry target]];
	[entry restoreBindings];
	RyTakeValueForKeys([entry target], value, [entry keys]);
    }
}

/* The action entry the request names: a submit button "a<n>" in a
 * posted form (the first drawn, should there be several), else the
 * query's "a"; nil for none or a number that is no action. */
- (RyActionEntry *) requestedAction
{
    RyActionTable *table = [state table];
    if ([self isPost]) {
	NSDictionary *form = [request formValues];
	NSUInteger count = [table count];
	for (NSUInteger n = 0; n < count; n++) {
	    RyActionEntry *entry = [table entryAtIndex: n];
	    if ([entry kind] == RyEntryAction
		&& [form objectForKey: [NSString stringWithFormat: @"a%lu", (unsigned long)n]] != nil) {
		return entry;
	    }
	}
    }
    return [table actionForNumber: [[request queryValues] objectForKey: @"a"]];
}

/* Answers the request with a redirection to the page of the component
 * name ("303 See Other", Location "/<name>"), whose controller is made now
 * (kept in the session) and woken by the request that follows.  So the
 * address the browser shows, reloads and bookmarks is the page it
 * shows, not the link of the page it came from.  A name that names no
 * component raises RyActionError naming the action that answered it: the
 * request itself was sound, the application's answer was not (a Perl
 * action often answers its last expression by accident). */
- (void) redirectToPage: (NSString *)name from: (RyActionEntry *)entry
{
    if ([self controllerForComponentWithName: name] == nil) {
	[NSException raise: RyActionError
		    format: @"the action \"%@\" of %@ answered \"%@\", which names no component"
			    @" (an action answers nil to stay on the page)",
	    [entry name], [entry componentName], name];
    }
    NSString *location = [@"/" stringByAppendingString: name];
    [response setStatus: 303];
    [response addHeader: @"Location" value: location];
    [response setContent: @""];
    NSMutableString *out = [response content];
    [out appendString: @"<p>See <a href=\""];
    RyAppendEscaped(out, location);
    [out appendString: @"\">"];
    RyAppendEscaped(out, location);
    [out appendString: @"</a>.</p>"];
}

/* Step 7: the action the request names, with its bindings set first.  A
 * non-empty string it answers names the next page: YES, and the response
 * redirects there. */
- (BOOL) runRequestedAction
{
    RyActionEntry *entry = [self requestedAction];
    if (entry == nil) {
	return NO;
    }
    id target = [entry target];
    [self awakeController: target];
    [entry restoreBindings];
    id result = RyRunAction(target, [entry name], [entry componentName]);
    if ([result isKindOfClass: [NSString class]] && [result length] > 0) {
	[self redirectToPage: result from: entry];
	return YES;
    }
    return NO;
}

- (void) run
{
    [self openSession];
    if (![self openPage]) {
	return;
    }
    [application awakeOnce];
    [self awakeController: [context page]];
    if ([self send: @selector(willPrepareForRequest:inContext:) argument: request]) {
	return;
    }
    if (current && [self isPost]) {
	[self pushFormValues];
    }
    if ([self send: @selector(didPrepareForRequest:inContext:) argument: request]) {
	return;
    }
    if (current && [self runRequestedAction]) {
	return;
    }
    if ([self send: @selector(willGenerateResponse:inContext:) argument: response]) {
	return;
    }
    [self renderBody: nil];
    [self send: @selector(didGenerateResponse:inContext:) argument: response];
}

@end

/* The name and reason of exception (an NSException or any other object
 * thrown), for the error page.  Raises nothing. */
static void
DescribeFailure(id exception, NSString **name, NSString **reason)
{
    *name = @"Exception";
    *reason = @"";
    @try {
	if ([exception isKindOfClass: [NSException class]]) {
	    *name = [exception name];
	    *reason = [exception reason];
	} else {
	    *name = NSStringFromClass([exception class]);
	    *reason = [exception description];
	}
    } @catch (id again) {
	*reason = @"(the exception cannot be described)";
    }
}

/* A retained 500 response showing exception, for the session of cycle
 * (nil when it had none yet). */
static RyResponse *
FailureResponse(id exception, RyCycle *cycle)
{
    NSString *name = nil, *reason = nil;
    DescribeFailure(exception, &name, &reason);
    RyResponse *failure = [[RyResponse alloc] init];
    [failure setStatus: 500];
    AppendMessage([failure content], name, reason);
    RyResponse *partial = [cycle response];
    if ([partial sessionId] != nil) {
	[failure setSessionId: [partial sessionId] setCookie: [partial setsSessionCookie]];
    }
    return failure;
}

RyResponse *
RyRunRequestCycle(RyApplication *application, RyRequest *request)
{
    NSAutoreleasePool *pool = [[NSAutoreleasePool alloc] init];
    RyCycle *cycle = nil;
    RyResponse *answer = nil;
    @try {
	cycle = [[[RyCycle alloc] initWithApplication: application request: request] autorelease];
	[cycle run];
	answer = [[cycle response] retain];
    } @catch (NSException *e) {
	answer = FailureResponse(e, cycle);
    } @catch (id e) {
	answer = FailureResponse(e, cycle);
    }
    [pool drain];
    return [answer autorelease];
}
