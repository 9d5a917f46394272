/*
 * BqVantleVar.h --
 *
 *	Wrappers of Perl values for host code: BqVantleVar holds any Perl
 *	value, BqVantleSV a scalar, BqVantleAV an array, BqVantleHV a hash.
 *
 *	Ownership: a wrapper holds exactly one Perl reference count on its
 *	value from creation until it is deallocated (free, or the last
 *	release).  A wrapper of a value that nobody else owns is that
 *	value's only owner; giving up the last count makes the value a
 *	temporary, reclaimed at the next FREETMPS of the current Perl scope,
 *	so strings read from it stay valid until then.
 *
 *	Each wrapper acts on the interpreter that was current when it was
 *	made, the one its value belongs to.
 *
 *	Errors: a value of the wrong kind, a missing element or key give
 *	neutral answers (nil, NO, -1, null).  Changing a read-only value, or
 *	a Perl error raised by a tied variable or an overloaded operator
 *	while a value is read, raises an NSException; Perl errors never
 *	unwind through the caller.
 */
#ifndef BQ_VANTLE_VAR_H
#define BQ_VANTLE_VAR_H

#import <Foundation/NSObject.h>

#include "KxRootObject.h"

#include "bqcperl.h"

@interface BqVantleVar : NSObject
{
    SV *sv;
    PerlInterpreter *_perl;	/* the interpreter sv belongs to */
}
/* A new wrapper of value (adding one count), of the class its Perl type
 * selects: BqVantleSV for scalars and globs, BqVantleAV for arrays,
 * BqVantleHV for hashes, the receiver for anything else.  Nil for a null
 * value and for a value that never had one (SVt_NULL). */
+ (id) varWithSV: (SV *)value;
- (id) _initWithSV: (SV *)value;
/* Wraps a new undefined scalar that the wrapper alone owns. */
- (id) init;

- (SV *) sValue;
/* Copies value into the wrapped scalar; both must be scalars. */
- (void) setSValue: (SV *)value;

- (int) refCount;
- (void) refCountInc;
- (void) refCountDec;
- (BOOL) isMortal;
- (BOOL) isSV;
- (BOOL) isAV;
- (BOOL) isHV;
- (BOOL) isCV;
- (BOOL) isGV;
- (int) type;
/* Perl's truth of the value; NO without one. */
- (BOOL) true;
/* The value's string form, owned by Perl. */
- (const char *) descr;
- (const char *) shortDescr: (int)limit;
@end

@interface BqVantleSV : BqVantleVar
- (const char *) stringValue;
- (void) setStringValue: (const char *)text;
/* Perl's integer value, cut to an int. */
- (int) intValue;
- (void) setIntValue: (int)value;
/* Perl's full 64-bit integer value, signed or unsigned. */
- (long long) longLongValue;
- (void) setLongLongValue: (long long)value;
- (unsigned long long) unsignedLongLongValue;
- (void) setUnsignedLongLongValue: (unsigned long long)value;
- (float) floatValue;
- (void) setFloatValue: (float)value;
- (double) doubleValue;
- (void) setDoubleValue: (double)value;
/* The object of a handle, nil or class name; nil for anything else. */
- (id) idValue;
- (void) setIdValue: (id)object;
/* A wrapper of the referent, or nil when the scalar is no reference. */
- (id) referenceValue;
/* Makes the scalar a reference to the other wrapper's value. */
- (void) setReferenceValue: (BqVantleVar *)target;
@end

@interface BqVantleAV : BqVantleVar
/* Wraps a new empty array that the wrapper alone owns. */
- (id) init;
- (int) count;
/* A wrapper sharing the element; nil for a negative index or a hole. */
- (id) fetchVarAtIndex: (int)index;
/* Stores a copy of var's value; negative indexes count from the end. */
- (BOOL) storeVar: (BqVantleVar *)var atIndex: (int)index;
- (void) push: (BqVantleVar *)var;
/* The removed element, owned by the returned wrapper; nil when empty. */
- (id) pop;
- (id) shift;
- (void) unshift: (int)count;
- (void) clear;
@end

@interface BqVantleHV : BqVantleVar
{
    HE *he;			/* the iteration's current entry */
}
/* Wraps a new empty hash that the wrapper alone owns. */
- (id) init;
- (BOOL) storeVar: (BqVantleVar *)var key: (const char *)key;
- (id) fetchKey: (const char *)key;
- (void) iterInit;
- (BOOL) iterNext;
- (const char *) iterKey;
- (id) iterValue;
- (void) clear;
@end

/*
 * What the wrapper classes and the interpreter object share.
 */
@interface BqVantleVar (Internal)
/* A wrapper that takes over the one count its creator held on a value
 * made for it: a value that gives no wrapper (SVt_NULL) is freed. */
+ (id) _varOwningSV: (SV *)value;
- (PerlInterpreter *) _perl;
/* The value, for reading it; raises when its interpreter was destroyed. */
- (SV *) _value;
@end

#ifdef __cplusplus
extern "C" {
#endif
/* Scalar types, the undefined one (SVt_NULL) included: the value kinds
 * the scalar accessors work on. */
int VantlePriv_IsScalarType(SV *value);
/* The string form of value, running magic and overloading trapped when
 * they may run Perl code (a Perl error raises "Perl Error" naming
 * doing).  The text is valid until the next FREETMPS of the caller. */
const char *VantlePriv_StringOf(pTHX_ SV *value, const char *doing);
/* Refuses, by NSInvalidArgumentException, a change of a read-only value. */
void VantlePriv_CheckWritable(SV *value, const char *doing);
/* The current interpreter, for a new value; raises (naming doing) when
 * there is none. */
PerlInterpreter *VantlePriv_CurrentPerl(const char *doing);
#ifdef __cplusplus
}
#endif

#endif
