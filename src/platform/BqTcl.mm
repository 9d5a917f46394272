/*
 * BqTcl.mm --
 *
 *	The library's names for Tcl's dynamic strings, plus the two helpers
 *	Tcl lacks: appending a null-terminated list of strings, and appending
 *	formatted text.
 */
#include "BqTcl.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

void
BqTcl_DStringInit(Tcl_DString *dsPtr)
{
    Tcl_DStringInit(dsPtr);
}

char *
BqTcl_DStringAppend(Tcl_DString *dsPtr, const char *bytes, int length)
{
    return Tcl_DStringAppend(dsPtr, bytes, length);
}

/*
 *----------------------------------------------------------------------
 * BqTcl_DStringApp --
 *	Appends each string of a null-terminated argument list.  A null
 *	dynamic string swallows the list, so callers that do not want a
 *	message can pass null.
 *----------------------------------------------------------------------
 */
void
BqTcl_DStringApp(Tcl_DString *dsPtr, ...)
{
    if (dsPtr == NULL) {
	return;
    }
    va_list ap;
    va_start(ap, dsPtr);
    const char *piece;
    while ((piece = va_arg(ap, const char *)) != NULL) {
	Tcl_DStringAppend(dsPtr, piece, -1);
    }
    va_end(ap);
}

void
BqTcl_DStringSetLength(Tcl_DString *dsPtr, int length)
{
    Tcl_DStringSetLength(dsPtr, length);
}

void
BqTcl_DStringFree(Tcl_DString *dsPtr)
{
    Tcl_DStringFree(dsPtr);
}

/*
 *----------------------------------------------------------------------
 * BqTcl_DStringPrintf --
 *	Formats into the dynamic string's own storage: measures first, grows
 *	the string by that much, then formats in place.  No fixed buffer, so
 *	no text is ever cut.
 *----------------------------------------------------------------------
 */
void
BqTcl_DStringPrintf(Tcl_DString *dsPtr, const char *format, ...)
{
    if (dsPtr == NULL) {
	return;
    }
    va_list ap;
    va_start(ap, format);
    va_list measure;
    va_copy(measure, ap);
    int needed = vsnprintf(NULL, 0, format, measure);
    va_end(measure);
    if (needed > 0) {
	int oldLength = Tcl_DStringLength(dsPtr);
	Tcl_DStringSetLength(dsPtr, oldLength + needed);
	vsnprintf(Tcl_DStringValue(dsPtr) + oldLength, (size_t) needed + 1,
		format, ap);
    }
    va_end(ap);
}

/*
 *----------------------------------------------------------------------
 * BqTcl_panic --
 *	The panic of the hash-table and dynamic-string code: writes the
 *	message and a newline to standard error and aborts.
 *----------------------------------------------------------------------
 */
void
BqTcl_panic(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fputc('\n', stderr);
    fflush(stderr);
    abort();
}
