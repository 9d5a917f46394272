/*
 * RySessionId.h --
 *
 *	Session ids: 128 bits from the kernel's random source, written as
 *	32 lowercase hex digits, which a cookie carries as they are.  An id
 *	cannot be guessed from others, so holding one is what proves a
 *	client owns the session.
 */
#ifndef RY_SESSION_ID_H
#define RY_SESSION_ID_H

#import <Foundation/NSObject.h>

@class NSString;

/* The number of characters in every session id. */
enum { RySessionIdLength = 32 };

/* A fresh autoreleased id.  Raises NSInternalInconsistencyException when
 * the kernel gives no random bytes (never falls back to a weaker
 * source). */
NSString *RyNewSessionId(void);

/* 64 random bits from the same source as ids; raises as RyNewSessionId
 * does. */
unsigned long long RyRandomBits(void);

/* Whether text (any object, or nil) has the form of a session id:
 * a string of RySessionIdLength lowercase hex digits. */
BOOL RyIsSessionId(id text);

#endif /* RY_SESSION_ID_H */
