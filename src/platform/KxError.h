/*
 * KxError.h --
 *
 *	Raising and catching errors with (code, data1, data2), on native
 *	Objective-C exceptions.
 *
 *	_KxRaiseError throws one KxException carrying the three values.  A
 *	handler is one call of KxGuard: it runs a function and turns whatever
 *	the function threw into a KxErrorInfo.  A caught NSException counts as
 *	code KX_CODE_NSEXCEPTION with the exception as data1, unless it is a
 *	KxException that carries a code of its own.  Objective-C exceptions
 *	never pass through a guard.
 *
 *	C++ exceptions cannot be caught in this runtime's Objective-C++ (its
 *	personality routine knows only Objective-C exceptions), so the library
 *	never throws them.
 */
#ifndef KX_ERROR_H
#define KX_ERROR_H

#ifdef __OBJC__
#import <Foundation/NSException.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A caught NSException that carries no code of its own. */
#define KX_CODE_NSEXCEPTION	100000
/* Something was thrown that is no NSException; data1 is its description. */
#define KX_CODE_FOREIGN_OBJECT	1

/* Codes whose data1 is the error's message text (a C string). */
#define KX_CODE_OWN_FIRST	136661300
#define KX_CODE_OWN_LAST	136661500

typedef struct KxErrorInfo {
    int code;		/* 0 when nothing was caught */
    const void *data1;
    const void *data2;
#ifdef __OBJC__
    id exception;	/* the caught object, retained: it owns data1 and
			 * data2 where they are its own; release it with
			 * KxErrorInfoClear */
#else
    void *exception;
#endif
} KxErrorInfo;

typedef void (*KxGuardedProc)(void *context);

/* Runs proc(context).  Returns 0 when it returned normally (error is
 * cleared), otherwise the code of what it threw, with error filled in. */
int  KxGuard(KxGuardedProc proc, void *context, KxErrorInfo *error);

/* Releases what a caught error holds and clears it. */
void KxErrorInfoClear(KxErrorInfo *error);

/* Throws an error.  For codes in the runtime's own range data1 is a
 * message text, which is copied, so the caller's buffer may be reused. */
void _KxRaiseError(int code, const void *data1, const void *data2)
    __attribute__((noreturn));

/* Throws an NSException (a KxException) with a name, a reason and a code
 * of its own, such as the runtime's errors raised as Foundation
 * exceptions.  The guard reports it with that code and itself as data1. */
void KxRaiseCodedException(int code, const char *name, const char *reason)
    __attribute__((noreturn));

#ifdef __cplusplus
}
#endif

#ifdef __OBJC__
/*
 * KxException --
 *	The one object the platform throws.  It is an NSException, so code
 *	that catches NSExceptions (Foundation's own included) handles it.
 */
@interface KxException : NSException
{
    int _code;
    const void *_data1;
    const void *_data2;
    char *_text;		/* owned copy of a message text, or null */
}
+ (KxException *) exceptionWithCode: (int)code data1: (const void *)data1
			      data2: (const void *)data2;
+ (KxException *) exceptionWithCode: (int)code name: (const char *)name
			     reason: (const char *)reason;
- (int) code;
- (const void *) data1;
- (const void *) data2;
/* The owned copy of the message or reason text, or null. */
- (const char *) text;
@end
#endif

#endif
