/*
 * BqPerlVar.h --
 *
 *	A Perl value held as an object of the runtime: BqPerlVar wraps one
 *	SV and keeps it alive.  The web layer hands Perl values that are not
 *	to be converted (raw values, DravikRawConvert.h) to host code as
 *	BqPerlVars; BqPerlObject (BqPerlObject.h) is the wrapper of a blessed
 *	hash reference.
 *
 *	Ownership: the wrapper owns exactly one reference count of its value
 *	from _initWithSV: (or init) until dealloc.  Values are shared, not
 *	copied: a wrapper of a hash entry changes the entry when it is set.
 *
 *	Interpreter: a wrapper belongs to the interpreter that was current
 *	when it was made and makes that interpreter current for each
 *	operation.  Once that interpreter is destroyed the wrapper raises
 *	NSInternalInconsistencyException when it is used, and its dealloc
 *	gives up nothing (the value went with the interpreter).
 *
 *	Errors: a Perl error raised while a value is read (tie magic,
 *	overloading) becomes an NSException named "Perl Error" once the Perl
 *	call frame is closed; it never unwinds through the caller.
 */
#ifndef BQ_PERL_VAR_H
#define BQ_PERL_VAR_H

#import <Foundation/NSObject.h>

#include "bqcperl.h"

@class NSString;

@interface BqPerlVar : NSObject
{
    SV *sv;			/* the value, one count owned */
    PerlInterpreter *_perl;	/* the interpreter the value belongs to */
}
/* A new autoreleased wrapper of value (one count added); nil for null. */
+ (id) wrapSV: (SV *)value;
/* The designated initialiser: holds one count of value.  A null value
 * gives nil. */
- (id) _initWithSV: (SV *)value;
/* Wraps a new undefined scalar that the wrapper alone owns. */
- (id) init;

- (SV *) sValue;
/* Copies value into the wrapped scalar (sv_setsv, then its set-magic);
 * null is ignored.  Raises NSInvalidArgumentException when either is no
 * scalar or the wrapped one is read-only. */
- (void) setSValue: (SV *)value;

- (int) refCount;
- (void) refCountInc;
/* Gives up a count taken with refCountInc; the wrapper's own count is
 * never given up here (NSInternalInconsistencyException). */
- (void) refCountDec;
- (BOOL) isMortal;
- (int) type;
/* Scalar types: integers, doubles, strings and their combinations,
 * magical scalars and globs; not SVt_NULL, lvalues or containers. */
- (BOOL) isSV;
- (BOOL) isAV;
- (BOOL) isHV;
- (BOOL) isCV;
- (BOOL) isGV;
/* Perl's truth of a scalar (NO for containers, code and no value). */
- (BOOL) true;
/* "<Class: string form of the value>" */
- (NSString *) description;
@end

#ifdef __cplusplus
extern "C" {
#endif
/* The interpreter of a wrapper, for the web layer's own files. */
PerlInterpreter *DravikPriv_VarPerl(BqPerlVar *var);
/* The BqPerlVar class, set when the runtime loads it. */
extern Class DravikPriv_PerlVarClass;
#ifdef __cplusplus
}
#endif

#endif /* BQ_PERL_VAR_H */
