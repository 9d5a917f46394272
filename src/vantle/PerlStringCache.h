/*
 * PerlStringCache.h --
 *
 *	NSStrings for Perl strings, with the short ones an interpreter
 *	converted lately kept for reuse: dictionary keys and the literal
 *	strings of a loop are converted again and again, and making an
 *	NSString costs far more than finding one.
 */
#ifndef PERL_STRING_CACHE_H
#define PERL_STRING_CACHE_H

#include "bqcperl.h"
#include "BqTcl.h"

#ifdef __OBJC__
#include <objc/objc.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

struct VantleContext;

/* The NSString of the bytes, read as UTF-8 (isUTF8) or as Latin-1, or
 * nil with the reason appended for bytes that are no valid UTF-8.  The
 * string stays valid at least until the current autorelease pool drains,
 * as an autoreleased one would. */
id   VantlePriv_StringForBytes(pTHX_ const char *bytes, STRLEN length, int isUTF8,
		Tcl_DString *errors);

/* Gives up the strings an interpreter keeps; called when it is destroyed. */
void VantlePriv_StringCacheEnd(struct VantleContext *context);

#ifdef __cplusplus
}
#endif

#endif /* PERL_STRING_CACHE_H */
