/*
 * ErrorText.mm --
 *
 *	Messages for caught errors.  The exception is foreign code: asking it
 *	for its name, reason or user info may itself throw, so those
 *	questions run under a guard of their own and a failing one answers
 *	the empty text.
 */
#import <Foundation/Foundation.h>

#include "ErrorText.h"
#include "BqOsmoControl.h"

#define BQ_NS_CODED_FIRST 100600
#define BQ_NS_CODED_LAST  100800

typedef struct ExceptionTexts {
    NSException *exception;
    const char *name;
    const char *reason;
    const char *info;		/* null when there is no user info */
} ExceptionTexts;

static const char *
Utf8OrEmpty(NSString *string)
{
    const char *text = string != nil ? [string UTF8String] : NULL;
    return text != NULL ? text : "";
}

static void
ReadExceptionTexts(void *context)
{
    ExceptionTexts *texts = (ExceptionTexts *) context;
    NSException *exception = texts->exception;
    if (![exception isKindOfClass: [NSException class]]) {
	return;
    }
    texts->name = Utf8OrEmpty([exception name]);
    texts->reason = Utf8OrEmpty([exception reason]);
    NSDictionary *userInfo = [exception userInfo];
    if (userInfo != nil) {
	texts->info = Utf8OrEmpty([userInfo description]);
    }
}

static void
GetExceptionTexts(id exception, ExceptionTexts *texts)
{
    texts->exception = (NSException *) exception;
    texts->name = texts->reason = "";
    texts->info = NULL;
    KxErrorInfo failure;
    if (KxGuard(ReadExceptionTexts, texts, &failure) != 0) {
	KxErrorInfoClear(&failure);
    }
}

void
BqOsmo_AppendErrorMessage(Tcl_DString *errors, const KxErrorInfo *error, const char *context)
{
    if (errors == NULL || error == NULL || error->code == 0) {
	return;
    }
    int code = error->code;
    const char *newline = context != NULL ? "\n" : "";
    if (context == NULL) {
	context = "";
    }
    if (code >= KX_CODE_OWN_FIRST && code <= KX_CODE_OWN_LAST) {
	BqTcl_DStringApp(errors, error->data1 != NULL ? (const char *) error->data1 : "",
		(char *) NULL);
	return;
    }
    if (code >= KX_CODE_NSEXCEPTION && code < KX_CODE_NSEXCEPTION + 1000) {
	ExceptionTexts texts;
	GetExceptionTexts((id) error->data1, &texts);
	const char *infoNewline = texts.info != NULL ? "\n" : "";
	const char *info = texts.info != NULL ? texts.info : "";
	if (code >= BQ_NS_CODED_FIRST && code <= BQ_NS_CODED_LAST
		&& BQ_CONTROL(use_ns_exceptions)) {
	    BqTcl_DStringApp(errors, texts.reason, (char *) NULL);
	} else if (code == KX_CODE_NSEXCEPTION) {
	    BqTcl_DStringPrintf(errors, "[NSException %s]: %s%s%s", texts.name, texts.reason,
		    infoNewline, info);
	} else {
	    BqTcl_DStringPrintf(errors, "[NSException %d]: %s: %s%s%s%s%s", code, texts.name,
		    texts.reason, infoNewline, info, newline, context);
	}
	return;
    }
    /* Platform errors carry text in data1. */
    BqTcl_DStringPrintf(errors, "KxException %d: %s%s%s", code,
	    error->data1 != NULL ? (const char *) error->data1 : "(null)", newline, context);
}
