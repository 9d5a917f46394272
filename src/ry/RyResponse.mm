/*
 * RyResponse.mm --
 *
 *	The answer to one request: status, headers, body and the session
 *	cookie to set.
 */
#import <Foundation/Foundation.h>

#include "RyResponse.h"

NSString *const RySessionCookieName = @"ry_session";

/* Raises NSInvalidArgumentException when text (a header's what, "name"
 * or "value") is no string or holds CR, LF or NUL, which would let it
 * end the header and start another. */
static void
CheckHeaderText(NSString *text, NSString *what)
{
    if (![text isKindOfClass: [NSString class]]) {
	[NSException raise: NSInvalidArgumentException
		    format: @"RyResponse: a header %@ must be a string", what];
    }
    NSUInteger length = [text length];
    for (NSUInteger i = 0; i < length; i++) {
	unichar c = [text characterAtIndex: i];
	if (c == '\r' || c == '\n' || c == 0) {
	    [NSException raise: NSInvalidArgumentException
			format: @"RyResponse: a header %@ holds CR, LF or NUL", what];
	}
    }
}

@implementation RyResponse

- (id) init
{
    if ((self = [super init]) != nil) {
	status = 200;
	contentType = [@"text/html; charset=utf-8" copy];
	headers = [[NSMutableArray alloc] init];
	content = [[NSMutableString alloc] init];
    }
    return self;
}

- (void) dealloc
{
    [contentType release];
    [headers release];
    [content release];
    [sessionId release];
    [super dealloc];
}

- (int) status
{
    return status;
}

- (void) setStatus: (int)code
{
    status = code;
}

- (NSString *) contentType
{
    return contentType;
}

- (void) setContentType: (NSString *)type
{
    CheckHeaderText(type, @"value");
    NSString *old = contentType;
    contentType = [type copy];
    [old release];
}

- (NSMutableString *) content
{
    return content;
}

- (void) setContent: (NSString *)text
{
    [content setString: text != nil ? text : @""];
}

- (void) appendContent: (NSString *)text
{
    if (text != nil) {
	[content appendString: text];
    }
}

- (NSData *) contentData
{
    return [content dataUsingEncoding: NSUTF8StringEncoding];
}

- (void) addHeader: (NSString *)name value: (NSString *)value
{
    CheckHeaderText(name, @"name");
    CheckHeaderText(value, @"value");
    [headers addObject: [[name copy] autorelease]];
    [headers addObject: [[value copy] autorelease]];
}

- (NSArray *) headers
{
    NSMutableArray *all = [NSMutableArray arrayWithObjects: @"Content-Type", contentType, nil];
    [all addObjectsFromArray: headers];
    if (setsSessionCookie && sessionId != nil) {
	[all addObject: @"Set-Cookie"];
	[all addObject: [NSString stringWithFormat: @"%@=%@; Path=/; HttpOnly; SameSite=Lax",
	    RySessionCookieName, sessionId]];
    }
    return all;
}

- (NSString *) sessionId
{
    return sessionId;
}

- (void) setSessionId: (NSString *)anId setCookie: (BOOL)cookie
{
    if (anId != nil) {
	CheckHeaderText(anId, @"value");
    }
    NSString *old = sessionId;
    sessionId = [anId copy];
    [old release];
    setsSessionCookie = cookie;
}

- (BOOL) setsSessionCookie
{
    return setsSessionCookie;
}

@end
