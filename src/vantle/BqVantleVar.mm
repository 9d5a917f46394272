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
 *	scalar is described through a reference to it ("CODE(0x...)").
 *----------------------------------------------------------------------
 */
const char *
VantlePriv_StringOf(pTHX_ SV *value, const char *doing)
{
    if (!VantlePriv_IsScalarType(value)) {
	return SvPV_nolen(sv_2mortal(newRV_inc(value)));
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

/* A new undefined scalar whose one count the wrapper takes over. */
- (id) init
{
    BQCPERL_dTHX;
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
    if (sv != NULL) {
	PerlInterpreter *my_perl = _perl;
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

- (SV *) sValue
{
    return sv;
}

/*
 * setSValue: --
 *	Copies value into the wrapped scalar; refuses (silently) anything
 *	but scalar to scalar, which Perl itself would die on.
 */
- (void) setSValue: (SV *)value
{
    if (value == NULL || sv == NULL || !VantlePriv_IsScalarType(sv)
	    || !VantlePriv_IsScalarType(value)) {
	return;
    }
    VantlePriv_CheckWritable(sv, "setSValue:");
    PerlInterpreter *my_perl = _perl;
    sv_setsv(sv, value);
}

- (int) refCount
{
    return sv != NULL ? (int) SvREFCNT(sv) : 0;
}

- (void) refCountInc
{
    if (sv != NULL) {
	SvREFCNT_inc_simple_void_NN(sv);
    }
}

- (void) refCountDec
{
    if (sv != NULL) {
	PerlInterpreter *my_perl = _perl;
	SvREFCNT_dec(sv);
    }
}

- (BOOL) isMortal
{
    return sv != NULL && SvTEMP(sv) ? YES : NO;
}

- (BOOL) isSV
{
    return sv != NULL && VantlePriv_IsScalarType(sv) ? YES : NO;
}

- (BOOL) isAV
{
    return sv != NULL && SvTYPE(sv) == SVt_PVAV ? YES : NO;
}

- (BOOL) isHV
{
    return sv != NULL && SvTYPE(sv) == SVt_PVHV ? YES : NO;
}

- (BOOL) isCV
{
    return sv != NULL && SvTYPE(sv) == SVt_PVCV ? YES : NO;
}

- (BOOL) isGV
{
    return sv != NULL && SvTYPE(sv) == SVt_PVGV ? YES : NO;
}

- (int) type
{
    return sv != NULL ? (int) SvTYPE(sv) : -1;
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
    if (sv == NULL || !VantlePriv_IsScalarType(sv)) {
	return NO;
    }
    PerlInterpreter *my_perl = _perl;
    if (!VantlePriv_NeedsTrap(sv)) {
	return SvTRUE(sv) ? YES : NO;
    }
    bool truth = false;
    SV *value = sv;
    if (!VantlePriv_Trapped(aTHX_ [&] { truth = SvTRUE(value); })) {
	VantlePriv_RaisePerlError(aTHX_ "true");
    }
    return truth ? YES : NO;
}

- (const char *) descr
{
    if (sv == NULL) {
	return NULL;
    }
    return VantlePriv_StringOf(_perl, sv, "descr");
}

- (const char *) shortDescr: (int)limit
{
    (void) limit;
    return [self descr];
}

@end
