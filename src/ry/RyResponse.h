/*
 * RyResponse.h --
 *
 *	What the request cycle answers: a status, headers and an HTML (or
 *	other text) body.  The carrier (PSGI adapter, test, script) turns it
 *	into bytes; the body is kept as a string and given as UTF-8.
 */
#ifndef RY_RESPONSE_H
#define RY_RESPONSE_H

#import <Foundation/NSObject.h>

@class NSArray, NSData, NSMutableArray, NSMutableString, NSString;

/* The name of the cookie that carries the session id. */
extern NSString *const RySessionCookieName;	/* "ry_session" */

@interface RyResponse : NSObject
{
    int status;			/* 200 at start */
    NSString *contentType;	/* "text/html; charset=utf-8" at start */
    NSMutableArray *headers;	/* extra headers: name, value, name, ... */
    NSMutableString *content;
    NSString *sessionId;	/* the session answered for, or nil */
    BOOL setsSessionCookie;	/* the client must be given sessionId */
}

- (int) status;
- (void) setStatus: (int)code;
- (NSString *) contentType;
- (void) setContentType: (NSString *)type;

/* The body.  content answers the response's own mutable string, which
 * rendering appends to. */
- (NSMutableString *) content;
- (void) setContent: (NSString *)text;
- (void) appendContent: (NSString *)text;
/* The body as UTF-8 bytes. */
- (NSData *) contentData;

/* Adds a header (kept in order; names and values are checked for CR, LF
 * and NUL, which raise NSInvalidArgumentException). */
- (void) addHeader: (NSString *)name value: (NSString *)value;
/* Every header to send, as a flat list name, value, ...: Content-Type,
 * then the added ones, then the session cookie when one must be set:
 * "Set-Cookie" "ry_session=<id>; Path=/; HttpOnly; SameSite=Lax".
 * Content-Length is the carrier's (it knows the bytes it sends). */
- (NSArray *) headers;

/* The id of the session this response belongs to. */
- (NSString *) sessionId;
/* Records the session; cookie YES when the client does not have its id
 * yet (a new session), so headers carry a Set-Cookie. */
- (void) setSessionId: (NSString *)sessionId setCookie: (BOOL)cookie;
/* Whether headers carry a Set-Cookie for the session. */
- (BOOL) setsSessionCookie;
@end

#endif /* RY_RESPONSE_H */
