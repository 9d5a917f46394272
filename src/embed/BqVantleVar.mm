/*
 * BqVantleVar.mm --
 *
 *	The wrapper of any Perl value: creation by Perl type, the one
 *	reference count it holds, type queries, truth and the string form.
 *
 *	Invariant: from _initWithSV: until dealloc, sv is non-null and the
 *	wrapper owns exactly one of its reference counts.  The count is
 *	given up in dealloc, so a wrapper retained by someone else keeps its
 *	value alive too; free (the root's) is one release.
 */
#import <Foundation/Foundation.h>

#include "BqVantleVar.h"
#include "BqVantleInterpPriv.h"
#include "VantlePriv.h"

int
VantlePriv_IsScalarType(SV *value)
{
    switch (SvTYPE(value)) {
    case SVt_NULL: case SVt_IV: case SVt_NV: case SVt_PV: case SVt_PVIV: case SVt_PVNV:
    case SVt_PVMG: case SVt_REGEXP: case SVt_PVGV: case SVt_PVLV:
	return 1;
    default:
	return 0;
    }
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_StringOf --
 *	Perl's string form of a scalar.  When reading it may run Perl code
 *	(tie magic, an overloaded '""'), it is copied into a new mortal
 *	under a trapped call, and a Perl error raises "Perl Error"; that
 *	copy lives until the caller's next FREETMPS.  A value that is no
 *	scalar is described through a reference to it ("CODE(0x...)", or
 *	what the overloading of the package it is blessed into says).
 *----------------------------------------------------------------------
 */
const char *
VantlePriv_StringOf(pTHX_ SV *value, const char *doing)
{
    if (!VantlePriv_IsScalarType(value)) {
	value = sv_2mortal(newRV_inc(value));
    }
    if (!VantlePriv_NeedsTrap(value)) {
	return SvPV_nolen(value);
    }
    SV *copy = sv_newmortal();
    if (!VantlePriv_Trapped(aTHX_ [&] { sv_copypv(copy, value); })) {
	VantlePriv_RaisePerlError(aTHX_ doing);
    }
    return SvPV_nolen(copy);
}

void
VantlePriv_CheckWritable(SV *value, const char *doing)
{
    if (SvREADONLY(value)) {
	[NSException raise: NSInvalidArgumentException
		    format: @"%s: the Perl value is read-only", doing];
    }
}

@implementation BqVantleVar

+ (void) initialize
{
    if (self == [BqVantleVar class]) {
	[self setVersion: 0];
    }
}

/*
 *----------------------------------------------------------------------
 * varWithSV: --
 *	A new wrapper of value, of the class its type selects; nil for a
 *	null value or one that never had a value.  The wrapper adds one
 *	reference count of its own.
 *----------------------------------------------------------------------
 */
+ (id) varWithSV: (SV *)value
{
    if (value == NULL || SvTYPE(value) == SVt_NULL) {
	return nil;
    }
    Class cls = self;
    if (VantlePriv_IsScalarType(value)) {
	cls = [BqVantleSV class];
    } else if (SvTYPE(value) == SVt_PVAV) {
	cls = [BqVantleAV class];
    } else if (SvTYPE(value) == SVt_PVHV) {
	cls = [BqVantleHV class];
    }
    return [[cls alloc] _initWithSV: value];
}

+ (id) _varOwningSV: (SV *)value
{
    if (value == NULL) {
	return nil;
    }
    BQCPERL_dTHX;
    id var = [self varWithSV: value];
    SvREFCNT_dec(value);
    return var;
}

- (id) _initWithSV: (SV *)value
{
    self = [super init];
    if (self != nil) {
	_perl = _bqcperl_interp;
	sv = SvREFCNT_inc_simple_NN(value);
    }
    return self;
}

/*
 * VantlePriv_CurrentPerl --
 *	The current interpreter, for a wrapper of a new value; raises
 *	NSInternalInconsistencyException, naming doing, when there is none
 *	(the host has made no interpreter yet).
 */
PerlInterpreter *
VantlePriv_CurrentPerl(const char *doing)
{
    if (_bqcperl_interp == NULL) {
	[NSException raise: NSInternalInconsistencyException
		    format: @"%s: no Perl interpreter is current", doing];
    }
    return _bqcperl_interp;
}

/* A new undefined scalar whose one count the wrapper takes over. */
- (id) init
{
    PerlInterpreter *my_perl = VantlePriv_CurrentPerl("init");
    SV *value = newSV(0);
    self = [self _initWithSV: value];
    SvREFCNT_dec(value);
    return self;
}

/*
 *----------------------------------------------------------------------
 * dealloc --
 *	Gives up the wrapper's count.  The last count makes the value a
 *	temporary, so text read from it stays valid until the current
 *	Perl scope frees its temporaries.
 *----------------------------------------------------------------------
 */
- (void) dealloc
{
    /* A value outlives no interpreter: a destroyed one freed it already. */
    if (sv != NULL && VantlePriv_IsLiveInterpreter(_perl)) {
	VANTLE_dWRAPPER("dealloc");
	if (SvREFCNT(sv) == 1) {
	    sv_2mortal(sv);
	} else {
	    SvREFCNT_dec(sv);
	}
	sv = NULL;
    }
    [super dealloc];
}

- (PerlInterpreter *) _perl
{
    return _perl;
}

/*
 * _value --
 *	The wrapped value, for a method about to read it; raises
 *	NSInternalInconsistencyException when its interpreter was destroyed
 *	(the value went with it).
 */
- (SV *) _value
{
    if (sv != NULL && _perl != _bqcperl_interp && !VantlePriv_IsLiveInterpreter(_perl)) {
	[NSException raise: NSInternalInconsistencyException
		    format: @"%s: the Perl interpreter of this value was destroyed",
	    class_getName(object_getClass(self))];
    }
    return sv;
}

- (SV *) sValue
{
    return sv;
}

/*
 * setSValue: --
 *	Copies value into the wrapped scalar; refuses (silently) anything
 *	but scalar to scalar, which Perl itself would die on.  Reading a
 *	tied value runs trapped.
 */
- (void) setSValue: (SV *)value
{
    SV *target = [self _value];
    if (value == NULL || target == NULL || !VantlePriv_IsScalarType(target)
	    || !VantlePriv_IsScalarType(value)) {
	return;
    }
    VantlePriv_CheckWritable(target, "setSValue:");
    VANTLE_dWRAPPER("setSValue:");
    VantlePriv_OnValue(aTHX_ VantlePriv_TrapSubject(value, target), "setSValue:",
	    [&] { sv_setsv(target, value); });
}

- (int) refCount
{
    SV *value = [self _value];
    return value != NULL ? (int) SvREFCNT(value) : 0;
}

- (void) refCountInc
{
    if ([self _value] != NULL) {
	SvREFCNT_inc_simple_void_NN(sv);
    }
}

- (void) refCountDec
{
    if ([self _value] != NULL) {
	VANTLE_dWRAPPER("refCountDec");
	SvREFCNT_dec(sv);
    }
}

- (BOOL) isMortal
{
    SV *value = [self _value];
    return value != NULL && SvTEMP(value) ? YES : NO;
}

- (BOOL) isSV
{
    SV *value = [self _value];
    return value != NULL && VantlePriv_IsScalarType(value) ? YES : NO;
}

- (BOOL) isAV
{
    SV *value = [self _value];
    return value != NULL && SvTYPE(value) == SVt_PVAV ? YES : NO;
}

- (BOOL) isHV
{
    SV *value = [self _value];
    return value != NULL && SvTYPE(value) == SVt_PVHV ? YES : NO;
}

- (BOOL) isCV
{
    SV *value = [self _value];
    return value != NULL && SvTYPE(value) == SVt_PVCV ? YES : NO;
}

- (BOOL) isGV
{
    SV *value = [self _value];
    return value != NULL && SvTYPE(value) == SVt_PVGV ? YES : NO;
}

- (int) type
{
    SV *value = [self _value];
    return value != NULL ? (int) SvTYPE(value) : -1;
}

/*
 *----------------------------------------------------------------------
 * true --
 *	Perl's truth of a scalar ("" and "0" false, then 0, then 0.0;
 *	references true).  Containers and code are no scalars: NO.
 *----------------------------------------------------------------------
 */
- (BOOL) true
{
    SV *value = [self _value];
    if (value == NULL || !VantlePriv_IsScalarType(value)) {
	return NO;
    }
    VANTLE_dWRAPPER("true");
    bool truth = false;
    VantlePriv_OnValue(aTHX_ value, "true", [&] { truth = SvTRUE(value); });
    return truth ? YES : NO;
}

- (const char *) descr
{
    SV *value = [self _value];
    if (value == NULL) {
	return NULL;
    }
    VANTLE_dWRAPPER("descr");
    return VantlePriv_StringOf(aTHX_ value, "descr");
}

- (const char *) shortDescr: (int)limit
{
    (void) limit;
    return [self descr];
}

@end
