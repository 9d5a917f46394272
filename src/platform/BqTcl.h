/*
 * BqTcl.h --
 *
 *	Dynamic strings and hash tables.  Both are Tcl's own: every registry
 *	of the library is a Tcl_HashTable, and every error text is collected
 *	in a Tcl_DString.  The BqTcl_DString functions are the names the rest
 *	of the library calls; they forward to Tcl.
 */
#ifndef BQ_TCL_H
#define BQ_TCL_H

#include <tcl.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef Tcl_DString BqTcl_DString;

void  BqTcl_DStringInit(Tcl_DString *dsPtr);
char *BqTcl_DStringAppend(Tcl_DString *dsPtr, const char *bytes, int length);
void  BqTcl_DStringApp(Tcl_DString *dsPtr, ...);
void  BqTcl_DStringSetLength(Tcl_DString *dsPtr, int length);
void  BqTcl_DStringFree(Tcl_DString *dsPtr);

/* Appends printf-style text; a null dsPtr does nothing. */
void  BqTcl_DStringPrintf(Tcl_DString *dsPtr, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

void  BqTcl_panic(const char *format, ...)
    __attribute__((noreturn, format(printf, 1, 2)));

#ifdef __cplusplus
}
#endif

#endif /* BQ_TCL_H */
