/*
 * BqVantleVar.mm --
 *
 *	The wrapper of any Perl value: creation by Perl type, the one
 *	reference count it holds, type queries, truth and the string form.
 *
 *	Invariant: from its making until dealloc, sv is non-null and the
 *	wrapper owns exactly one of its reference counts.  The count is
 *	given up in dealloc, so a wrapper retained by someone else keeps its
 *	value alive too; free is one release.  Wrappers the interpreter
 *	object and the containers make for values are of the class the
 *	value's type selects, and their objects may be ones the
 *	interpreter's object kept for reuse (BqVantleWrapperPoolPriv.h).
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

/* Set as the runtime loads each class (see BqVantleInterpPriv.h). */
Class VantlePriv_VarClass;
Class VantlePriv_SVClass;
Class VantlePriv_AVClass;
Class VantlePriv_HVClass;

/*
 * WrapperClass --
 *	The class of a wrapper of value: the one its Perl type selects, or
 *	other for types no subclass takes (code, globs of IO ...).
 */
static Class
WrapperClass(SV *value, Class other)
{
    if (VantlePriv_IsScalarType(value)) {
	return VantlePriv_SVClass;
    }
    if (SvTYPE(value) == SVt_PVAV) {
	return VantlePriv_AVClass;
    }
    if (SvTYPE(value) == SVt_PVHV) {
	return VantlePriv_HVClass;
    }
    return other;
}

@implementation BqVantleVar

+ (void) load
{
    VantlePriv_VarClass = self;
}

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
    return [[WrapperClass(value, self) alloc] _initWithSV: value];
}

+ (id) _varOwningSV: (SV *)value
{
    BQCPERL_dTHX;
    return VantlePriv_WrapOwned(aTHX_ value);
}

/*
 *----------------------------------------------------------------------
 * NewWrapper --
 *	A new wrapper of value (one count added) for perl, whose object is
 *	owner (nil when it has none): an object owner kept for reuse when
 *	there is one, else a new one made as +alloc makes it (the class is
 *	one of ours, and its -init is not the one to run).
 *----------------------------------------------------------------------
 */
static id
NewWrapper(BqVantleInterp *owner, PerlInterpreter *perl, SV *value)
{
    Class cls = WrapperClass(value, VantlePriv_VarClass);
    BqVantleVar *var = owner != nil
	? VantlePriv_PoolTake(VantlePriv_InterpWrappers(owner), cls) : nil;
    if (var == nil) {
	var = (BqVantleVar *) NSAllocateObject(cls, 0, NSDefaultMallocZone());
    }
    var->_perl = perl;
    var->sv = SvREFCNT_inc_simple_NN(value);
    return var;
}

/*
 * VantlePriv_Wrap, VantlePriv_WrapOwned, VantlePriv_WrapResult --
 *	+[BqVantleVar varWithSV:] and +[BqVantleVar _varOwningSV:] as
 *	function calls, for the paths that make a wrapper per value; the
 *	last for the interpreter object's results, whose object is known.
 */
id
VantlePriv_Wrap(SV *value)
{
    if (value == NULL || SvTYPE(value) == SVt_NULL) {
	return nil;
    }
    PerlInterpreter *perl = _bqcperl_interp;
    return NewWrapper(VantlePriv_LiveInterpObject(perl), perl, value);
}

id
VantlePriv_WrapOwned(pTHX_ SV *value)
{
    return VantlePriv_WrapResult(VantlePriv_LiveInterpObject(aTHX), aTHX_ value);
}

id
VantlePriv_WrapResult(BqVantleInterp *owner, pTHX_ SV *value)
{
    if (value == NULL) {
	return nil;
    }
    id var = SvTYPE(value) != SVt_NULL ? NewWrapper(owner, aTHX, value) : nil;
    SvREFCNT_dec_NN(value);
    return var;
}

/*
 * VantlePriv_IsWrapper --
 *	Whether object is a wrapper: of one of the wrapper classes, or of a
 *	subclass of BqVantleVar.
 */
int
VantlePriv_IsWrapper(id object)
{
    Class cls = object_getClass(object);
    if (cls == VantlePriv_SVClass || cls == VantlePriv_AVClass || cls == VantlePriv_HVClass) {
	return 1;
    }
    return VantlePriv_IsKindOfClass(object, VantlePriv_VarClass);
}

/*
 * VantlePriv_VarSV, VantlePriv_VarPerl, VantlePriv_VarValue --
 *	-sValue, -_perl and -_value as function calls.
 */
SV *
VantlePriv_VarSV(BqVantleVar *var)
{
    return var->sv;
}

PerlInterpreter *
VantlePriv_VarPerl(BqVantleVar *var)
{
    return var->_perl;
}

SV *
VantlePriv_VarValue(BqVantleVar *var)
{
    if (var->sv != NULL && var->_perl != _bqcperl_interp
	    && !VantlePriv_IsLiveInterpreter(var->_perl)) {
	[NSException raise: NSInternalInconsistencyException
		    format: @"%s: the Perl interpreter of this value was destroyed",
	    class_getName(object_getClass(var))];
    }
    return var->sv;
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
 * GiveUp --
 *	The end of a wrapper whose last reference went: gives up its count
 *	(the last count makes the value a temporary, so text read from it
 *	stays valid until the current Perl scope frees its temporaries),
 *	then retires the object into its interpreter object's pool when
 *	that keeps it.  Answers 1 when it was retired, 0 when it is to be
 *	freed.  A wrapper of a destroyed interpreter gives up nothing: the
 *	value went with the interpreter.
 *----------------------------------------------------------------------
 */
static int
GiveUp(BqVantleVar *var)
{
    BqVantleInterp *owner = var->sv != NULL ? VantlePriv_LiveInterpObject(var->_perl) : nil;
    if (owner == nil) {
	return 0;
    }
    SV *value = var->sv;
    var->sv = NULL;
    {
	VANTLE_dCURRENT(var->_perl, "dealloc");
	if (SvREFCNT(value) == 1) {
	    sv_2mortal(value);
	} else {
	    SvREFCNT_dec_NN(value);
	}
    }
    return VantlePriv_PoolRetire(VantlePriv_InterpWrappers(owner), var);
}

- (void) dealloc
{
    if (!GiveUp(self)) {
	[super dealloc];
    }
}

/*
 * free --
 *	The root's free, one release, done here for the wrapper classes
 *	themselves (one message fewer for each result host code gives up);
 *	a subclass, which may have release or dealloc of its own, is sent
 *	release.  The caller's reference is the last one when there is no
 *	other to count down: nobody else can take one at the same time.
 */
- (id) free
{
    Class cls = object_getClass(self);
    if (cls != VantlePriv_SVClass && cls != VantlePriv_AVClass) {
	[self release];
    } else if ((NSExtraRefCount(self) == 0 || NSDecrementExtraRefCountWasZero(self))
	    && !GiveUp(self)) {
	[self dealloc];
    }
    return nil;
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
    return VantlePriv_VarValue(self);
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
