/*
 * ErrorText.h --
 *
 *	The text of an error the platform's guard caught, in the one style
 *	every entry of the library reports it.
 */
#ifndef BQ_ERROR_TEXT_H
#define BQ_ERROR_TEXT_H

#include "BqTcl.h"
#include "KxError.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Appends the message of a caught error to errors (null: nothing):
 * - one of the runtime's own errors: its message text;
 * - with use_ns_exceptions set, one of those raised as a Foundation
 *   exception (codes 100600..100800): the exception's reason;
 * - a plain Foundation exception: "[NSException NAME]: REASON", plus a
 *   newline and the user info's description when it has user info;
 * - another Foundation code: "[NSException CODE]: NAME: REASON", the
 *   user info likewise, then a newline and context when given;
 * - anything else: "KxException CODE: TEXT", then the context likewise.
 * context says where the error was caught when that was not the callee
 * itself; it may be null.
 */
void BqOsmo_AppendErrorMessage(Tcl_DString *errors, const KxErrorInfo *error,
		const char *context);

#ifdef __cplusplus
}
#endif

#endif
