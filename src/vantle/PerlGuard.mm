/*
 * PerlGuard.mm --
 *
 *	Texts for Objective-C errors caught before they could reach Perl.
 *	The formats follow those of the message send, so a Perl user sees
 *	one style of message whichever entry caught the error.
 */
#import <Foundation/Foundation.h>

#include "VantlePriv.h"

#include <string.h>

/* The exception's name and reason as C strings ("" when missing); the
 * exception is asked under a guard of its own, since it is foreign code. */
static void
ExceptionTexts(id exception, const char **namePtr, const char **reasonPtr)
{
    *namePtr = "";
    *reasonPtr = "";
    @try {
	if ([exception isKindOfClass: [NSException class]]) {
	    const char *name = [[exception name] UTF8String];
	    const char *reason = [[exception reason] UTF8String];
	    *namePtr = name != NULL ? name : "";
	    *reasonPtr = reason != NULL ? reason : "";
	}
    } @catch (id ignored) {
	(void) ignored;
    }
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_AppendCaughtError --
 *	Appends the text of an error the platform guard caught:
 *	- a Foundation exception: "[NSException NAME]: REASON";
 *	- a Foundation exception carrying a code of its own:
 *	  "[NSException CODE]: NAME: REASON";
 *	- one of the runtime's own errors: its message;
 *	- anything else: "KxException CODE: TEXT".
 *	A null errors swallows the text.
 *----------------------------------------------------------------------
 */
void
VantlePriv_AppendCaughtError(Tcl_DString *errors, KxErrorInfo *caught)
{
    if (errors == NULL || caught == NULL || caught->code == 0) {
	return;
    }
    int code = caught->code;
    if (code >= KX_CODE_OWN_FIRST && code <= KX_CODE_OWN_LAST) {
	const char *text = (const char *) caught->data1;
	BqTcl_DStringApp(errors, text != NULL ? text : "runtime error", (char *) NULL);
	return;
    }
    if (code >= KX_CODE_NSEXCEPTION && code < KX_CODE_NSEXCEPTION + 1000) {
	const char *name, *reason;
	ExceptionTexts(caught->exception, &name, &reason);
	if (code == KX_CODE_NSEXCEPTION) {
	    BqTcl_DStringPrintf(errors, "[NSException %s]: %s", name, reason);
	} else {
	    BqTcl_DStringPrintf(errors, "[NSException %d]: %s: %s", code, name, reason);
	}
	return;
    }
    /* Platform errors carry their text in data1 only when it is known
     * to be text (a foreign object's description). */
    const char *text = code == KX_CODE_FOREIGN_OBJECT ? (const char *) caught->data1 : NULL;
    BqTcl_DStringPrintf(errors, "KxException %d: %s", code, text != NULL ? text : "");
}
