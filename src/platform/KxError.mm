/*
 * KxError.mm --
 *
 *	The platform's error frames on Objective-C exceptions.
 */
#import <Foundation/Foundation.h>

#include "KxError.h"

#include <stdlib.h>
#include <string.h>

static int
IsOwnCode(int code)
{
    return code >= KX_CODE_OWN_FIRST && code <= KX_CODE_OWN_LAST;
}

@implementation KxException

+ (KxException *) exceptionWithCode: (int)code data1: (const void *)data1
			      data2: (const void *)data2
{
    NSString *reason;
    char *text = NULL;
    if (IsOwnCode(code) && data1 != NULL) {
	text = strdup((const char *) data1);
	reason = [NSString stringWithUTF8String: text];
	if (reason == nil) {
	    reason = [NSString stringWithCString: text encoding: NSISOLatin1StringEncoding];
	}
	data1 = text;
    } else {
	reason = [NSString stringWithFormat: @"KxException %d", code];
    }
    KxException *e = [[self alloc] initWithName: @"KxException" reason: reason userInfo: nil];
    e->_code = code;
    e->_data1 = data1;
    e->_data2 = data2;
    e->_text = text;
    return [e autorelease];
}

+ (KxException *) exceptionWithCode: (int)code name: (const char *)name
			     reason: (const char *)reason
{
    NSString *nsName = [NSString stringWithUTF8String: name != NULL ? name : "KxException"];
    NSString *nsReason = reason != NULL ? [NSString stringWithUTF8String: reason] : nil;
    if (reason != NULL && nsReason == nil) {
	nsReason = [NSString stringWithCString: reason encoding: NSISOLatin1StringEncoding];
    }
    KxException *e = [[self alloc] initWithName: nsName reason: nsReason userInfo: nil];
    e->_code = code;
    e->_data1 = e;
    e->_data2 = NULL;
    e->_text = reason != NULL ? strdup(reason) : NULL;
    return [e autorelease];
}

- (void) dealloc
{
    free(_text);
    [super dealloc];
}

- (int) code
{
    return _code;
}

- (const void *) data1
{
    return _data1;
}

- (const void *) data2
{
    return _data2;
}

- (const char *) text
{
    return _text;
}

@end

static void
Record(KxErrorInfo *error, int code, const void *data1, const void *data2, id exception)
{
    error->code = code;
    error->data1 = data1;
    error->data2 = data2;
    error->exception = [exception retain];
}

int
KxGuard(KxGuardedProc proc, void *context, KxErrorInfo *error)
{
    error->code = 0;
    error->data1 = error->data2 = NULL;
    error->exception = nil;
    @try {
	proc(context);
    } @catch (KxException *e) {
	Record(error, [e code], [e data1], [e data2], e);
    } @catch (NSException *e) {
	Record(error, KX_CODE_NSEXCEPTION, e, NULL, e);
    } @catch (id thrown) {
	/* Keep the object's description alive in an exception of ours. */
	const char *text = thrown == nil ? "nil" : [[thrown description] UTF8String];
	KxException *e = [KxException exceptionWithCode: KX_CODE_FOREIGN_OBJECT
						    name: "KxException" reason: text];
	Record(error, KX_CODE_FOREIGN_OBJECT, [e text], NULL, e);
    }
    return error->code;
}

void
KxErrorInfoClear(KxErrorInfo *error)
{
    [error->exception release];
    error->exception = nil;
    error->code = 0;
    error->data1 = error->data2 = NULL;
}

void
_KxRaiseError(int code, const void *data1, const void *data2)
{
    @throw [KxException exceptionWithCode: code data1: data1 data2: data2];
}

void
KxRaiseCodedException(int code, const char *name, const char *reason)
{
    @throw [KxException exceptionWithCode: code name: name reason: reason];
}
