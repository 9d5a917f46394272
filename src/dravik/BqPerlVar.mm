/*
 * BqPerlVar.mm --
 *
 *	The wrapper of one Perl value (BqPerlVar.h): the count it holds,
 *	type queries, truth and the string form.
 *
 *	Invariant: from _initWithSV: until dealloc, sv is non-null and the
 *	wrapper owns exactly one of its counts; _perl is the interpreter
 *	that was current when it was made.
 */
#import <Foundation/Foundation.h>

#include "BqPerlVar.h"
#include "BqVantleInterpPriv.h"

Class DravikPriv_PerlVarClass;

/* Makes the wrapper's interpreter current for the rest of the method
 * (raising, naming doing, when it was destroyed). */
#define DRAVIK_dVAR(doing) VANTLE_dCURRENT(_perl, doing)

/*
 * LiveValue --
 *	The wrapped value, for a method that reads it without Perl's API;
 *	raises NSInternalInconsistencyException when its interpreter was
 *	destroyed (the value went with it).
 */
@implementation BqPerlVar

/* (C functions inside the implementation see the instance variables.) */

PerlInterpreter *
DravikPriv_VarPerl(BqPerlVar *var)
{
    return var->_perl;
}

static SV *
LiveValue(BqPerlVar *var, const char *doing)
{
    if (var->_perl != _bqcperl_interp && VantlePriv_LiveInterpObject(var->_perl) == nil) {
	[NSException raise: NSInternalInconsistencyException
		    format: @"%s: the Perl interpreter of this value was destroyed", doing];
    }
    return var->sv;
}

+ (void) load
{
    DravikPriv_PerlVarClass = self;
}

+ (id) wrapSV: (SV *)value
{
    if (value == NULL) {
	return nil;
    }
    return [[[self alloc] _initWithSV: value] autorelease];
}

/*
 *----------------------------------------------------------------------
 * _initWithSV: --
 *	Takes one count of value, which belongs to the current interpreter.
 *	A null value gives nil (the receiver is released).
 *----------------------------------------------------------------------
 */
- (id) _initWithSV: (SV *)value
{
    if (value == NULL) {
	[self release];
	return nil;
    }
    self = [super init];
    if (self != nil) {
	_perl = VantlePriv_CurrentPerl("_initWithSV:");
	sv = SvREFCNT_inc_simple_NN(value);
    }
    return self;
}

/* A new undefined scalar, whose one count the wrapper takes over. */
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
 *	Gives up the wrapper's count (freeing the value when it was the
 *	last, which may run a DESTROY: Perl traps its errors itself), in
 *	the value's interpreter; nothing when that was destroyed.
 *----------------------------------------------------------------------
 */
- (void) dealloc
{
    if (sv != NULL && VantlePriv_LiveInterpObject(_perl) != nil) {
	DRAVIK_dVAR("dealloc");
	SV *value = sv;
	sv = NULL;
	SvREFCNT_dec_NN(value);
    }
    [super dealloc];
}

- (SV *) sValue
{
    return sv;
}

/*
 *----------------------------------------------------------------------
 * setSValue: --
 *	Copies value into the wrapped scalar and runs the target's
 *	set-magic; trapped when either runs Perl code.
 *----------------------------------------------------------------------
 */
- (void) setSValue: (SV *)value
{
    if (value == NULL) {
	return;
    }
    DRAVIK_dVAR("setSValue:");
    if (!VantlePriv_IsScalarType(sv) || !VantlePriv_IsScalarType(value)) {
	[NSException raise: NSInvalidArgumentException
		    format: @"setSValue:: only a scalar is copied into a scalar"];
    }
    VantlePriv_CheckWritable(sv, "setSValue:");
    SV *target = sv;
    VantlePriv_OnValue(aTHX_ VantlePriv_TrapSubject(value, target), "setSValue:", [&] {
	sv_setsv(target, value);
	SvSETMAGIC(target);
    });
}

- (int) refCount
{
    return (int) SvREFCNT(LiveValue(self, "refCount"));
}

- (void) refCountInc
{
    SvREFCNT_inc_simple_void_NN(LiveValue(self, "refCountInc"));
}

- (void) refCountDec
{
    if (SvREFCNT(LiveValue(self, "refCountDec")) <= 1) {
	[NSException raise: NSInternalInconsistencyException
		    format: @"refCountDec: the count the wrapper owns cannot be given up"];
    }
    DRAVIK_dVAR("refCountDec");
    SvREFCNT_dec_NN(sv);
}

- (BOOL) isMortal
{
    return SvTEMP(LiveValue(self, "isMortal")) ? YES : NO;
}

- (int) type
{
    return (int) SvTYPE(LiveValue(self, "type"));
}

- (BOOL) isSV
{
    switch (SvTYPE(LiveValue(self, "isSV"))) {
    case SVt_IV: case SVt_NV: case SVt_PV: case SVt_PVIV: case SVt_PVNV: case SVt_PVMG:
    case SVt_PVGV:
	return YES;
    default:
	return NO;
    }
}

- (BOOL) isAV
{
    return SvTYPE(LiveValue(self, "isAV")) == SVt_PVAV ? YES : NO;
}

- (BOOL) isHV
{
    return SvTYPE(LiveValue(self, "isHV")) == SVt_PVHV ? YES : NO;
}

- (BOOL) isCV
{
    return SvTYPE(LiveValue(self, "isCV")) == SVt_PVCV ? YES : NO;
}

- (BOOL) isGV
{
    return SvTYPE(LiveValue(self, "isGV")) == SVt_PVGV ? YES : NO;
}

/*
 *----------------------------------------------------------------------
 * true --
 *	Perl's truth: "" and "0" are false, then 0 and 0.0; references
 *	true; tie magic and overloaded bool run trapped.  Values that are
 *	no scalars have no truth of their own: NO.
 *----------------------------------------------------------------------
 */
- (BOOL) true
{
    if (!VantlePriv_IsScalarType(LiveValue(self, "true"))) {
	return NO;
    }
    DRAVIK_dVAR("true");
    SV *value = sv;
    bool truth = false;
    VantlePriv_OnValue(aTHX_ value, "true", [&] { truth = SvTRUE(value); });
    return truth ? YES : NO;
}

- (NSString *) description
{
    DRAVIK_dVAR("description");
    const char *text = VantlePriv_StringOf(aTHX_ sv, "description");
    return [NSString stringWithFormat: @"<%@: %s>", [self class], text];
}

@end
