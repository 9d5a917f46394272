/*
 * bqcperl.mm --
 *
 *	The current interpreter, the forwarders of the Perl API, the hook
 *	setters, and the dereference route: the subs that the module's
 *	`use overload '%{}'` and `'@{}'` entries of Vantle::Object call, which
 *	hand the dereferenced handle to the installed hook and answer a
 *	reference to the container it returns.
 *
 *	Each forwarder binds my_perl to its interpreter argument and then
 *	uses Perl's own macro of the same name, so it behaves exactly as the
 *	macro does in XS code.
 */
#include "bqcperl.h"
#include "PerlThread.h"

#include <stdarg.h>

__thread PerlInterpreter *_bqcperl_interp;

static BqCPerl_FetchmethodHookFunction fetchmethodHook;
static BqCPerl_MethodHookFunction methodHook;
static BqCPerl_RV2HVHookFunction rv2hvHook;
static BqCPerl_RV2AVHookFunction rv2avHook;

/* Binds Perl's implicit interpreter argument to interp. */
#define BQ_WITH(interp) PerlInterpreter *const my_perl = (interp); PERL_UNUSED_CONTEXT

/* Set once this thread was made ready for Objective-C work. */
static __thread int threadReady;

int
BqCPerl_SetInterp(PerlInterpreter *interp)
{
    if (__builtin_expect(!threadReady, 0) && interp != NULL) {
	threadReady = 1;
	VantlePriv_EnterThread();
    }
    _bqcperl_interp = interp;
    return 0;
}

PerlInterpreter *
BqCPerl_GetInterp(void)
{
    return _bqcperl_interp;
}

/*
 *----------------------------------------------------------------------
 * Hook setters --
 *	Install one hook each, process-wide, and answer the one replaced.
 *----------------------------------------------------------------------
 */
BqCPerl_FetchmethodHookFunction
BqCPerl_setFetchmethodHook(BqCPerl_FetchmethodHookFunction fn)
{
    BqCPerl_FetchmethodHookFunction previous = fetchmethodHook;
    fetchmethodHook = fn;
    return previous;
}

BqCPerl_MethodHookFunction
BqCPerl_setMethodHook(BqCPerl_MethodHookFunction fn)
{
    BqCPerl_MethodHookFunction previous = methodHook;
    methodHook = fn;
    return previous;
}

BqCPerl_RV2HVHookFunction
BqCPerl_setRV2HVHook(BqCPerl_RV2HVHookFunction fn)
{
    BqCPerl_RV2HVHookFunction previous = rv2hvHook;
    rv2hvHook = fn;
    return previous;
}

BqCPerl_RV2AVHookFunction
BqCPerl_setRV2AVHook(BqCPerl_RV2AVHookFunction fn)
{
    BqCPerl_RV2AVHookFunction previous = rv2avHook;
    rv2avHook = fn;
    return previous;
}

BqCPerl_FetchmethodHookFunction
BqCPerl_GetFetchmethodHook(void)
{
    return fetchmethodHook;
}

BqCPerl_MethodHookFunction
BqCPerl_GetMethodHook(void)
{
    return methodHook;
}

/*
 *----------------------------------------------------------------------
 * Vantle::Hook::rv2hv, Vantle::Hook::rv2av --
 *	Overload handlers for '%{}' and '@{}' (arguments: the operand, the
 *	other operand, the swapped flag).  The operand goes to the installed
 *	hook; a container it answers is returned by a new mortal reference.
 *	When there is no hook or it declines, the operand itself is returned,
 *	which tells Perl to dereference it as it is (and so to fail with its
 *	own error for a handle, whose referent is a scalar).
 *----------------------------------------------------------------------
 */
static void
XS_Vantle__Hook__rv2hv(pTHX_ CV *cv)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items < 1) {
	croak_xs_usage(cv, "operand, ...");
    }
    HV *hv = rv2hvHook != NULL ? rv2hvHook(ST(0)) : NULL;
    if (hv != NULL) {
	ST(0) = sv_2mortal(newRV_inc((SV *) hv));
    }
    XSRETURN(1);
}

static void
XS_Vantle__Hook__rv2av(pTHX_ CV *cv)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items < 1) {
	croak_xs_usage(cv, "operand, ...");
    }
    AV *av = rv2avHook != NULL ? rv2avHook(ST(0)) : NULL;
    if (av != NULL) {
	ST(0) = sv_2mortal(newRV_inc((SV *) av));
    }
    XSRETURN(1);
}

void
BqCPerl_BootHooks(pTHX)
{
    newXS("Vantle::Hook::rv2hv", XS_Vantle__Hook__rv2hv, "Vantle");
    newXS("Vantle::Hook::rv2av", XS_Vantle__Hook__rv2av, "Vantle");
}

/*
 *----------------------------------------------------------------------
 * Interpreter variables --
 *	The address of each variable inside the given interpreter.
 *----------------------------------------------------------------------
 */
SV ***
BqCPerl_stack_sp_ptr(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return &PL_stack_sp;
}

SV ***
BqCPerl_stack_base_ptr(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return &PL_stack_base;
}

SV ***
BqCPerl_stack_max_ptr(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return &PL_stack_max;
}

I32 **
BqCPerl_markstack_ptr_ptr(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return &PL_markstack_ptr;
}

I32 **
BqCPerl_markstack_max_ptr(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return &PL_markstack_max;
}

SV *
BqCPerl_sv_yes_ptr(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return &PL_sv_yes;
}

SV *
BqCPerl_sv_no_ptr(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return &PL_sv_no;
}

SV *
BqCPerl_sv_undef_ptr(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return &PL_sv_undef;
}

STRLEN *
BqCPerl_na_ptr(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return &PL_na;
}

SV **
BqCPerl_Sv_ptr(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return &PL_Sv;
}

XPV **
BqCPerl_Xpv_ptr(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return &PL_Xpv;
}

OP **
BqCPerl_op_ptr(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return &PL_op;
}

/*
 *----------------------------------------------------------------------
 * Errors --
 *	The whole argument list is forwarded, whatever its length.
 *----------------------------------------------------------------------
 */
void
BqCPerl_croak(PerlInterpreter *interp, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    Perl_vcroak(interp, format, &ap);
    /* not reached: vcroak unwinds */
}

void
BqCPerl_warn(PerlInterpreter *interp, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    Perl_vwarn(interp, format, &ap);
    va_end(ap);
}

CV *
BqCPerl_newXS(PerlInterpreter *interp, const char *name, XSUBADDR_t fn, const char *file)
{
    BQ_WITH(interp);
    return newXS(name, fn, file);
}

/*
 *----------------------------------------------------------------------
 * Scalars
 *----------------------------------------------------------------------
 */
SV *
BqCPerl_newSV(PerlInterpreter *interp, STRLEN length)
{
    BQ_WITH(interp);
    return newSV(length);
}

SV *
BqCPerl_newSViv(PerlInterpreter *interp, IV value)
{
    BQ_WITH(interp);
    return newSViv(value);
}

SV *
BqCPerl_newSVpv(PerlInterpreter *interp, const char *text, STRLEN length)
{
    BQ_WITH(interp);
    return newSVpv(text, length);
}

SV *
BqCPerl_newSVsv(PerlInterpreter *interp, SV *sv)
{
    BQ_WITH(interp);
    return newSVsv(sv);
}

SV *
BqCPerl_sv_newmortal(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return sv_newmortal();
}

SV *
BqCPerl_sv_2mortal(PerlInterpreter *interp, SV *sv)
{
    BQ_WITH(interp);
    return sv_2mortal(sv);
}

bool
BqCPerl_sv_2bool(PerlInterpreter *interp, SV *sv)
{
    BQ_WITH(interp);
    return sv_2bool(sv);
}

IV
BqCPerl_sv_2iv(PerlInterpreter *interp, SV *sv)
{
    BQ_WITH(interp);
    return sv_2iv(sv);
}

NV
BqCPerl_sv_2nv(PerlInterpreter *interp, SV *sv)
{
    BQ_WITH(interp);
    return sv_2nv(sv);
}

char *
BqCPerl_sv_2pv(PerlInterpreter *interp, SV *sv, STRLEN *length)
{
    BQ_WITH(interp);
    return sv_2pv(sv, length);
}

void
BqCPerl_sv_setiv(PerlInterpreter *interp, SV *sv, IV value)
{
    BQ_WITH(interp);
    sv_setiv(sv, value);
}

void
BqCPerl_sv_setnv(PerlInterpreter *interp, SV *sv, NV value)
{
    BQ_WITH(interp);
    sv_setnv(sv, value);
}

void
BqCPerl_sv_setpv(PerlInterpreter *interp, SV *sv, const char *text)
{
    BQ_WITH(interp);
    sv_setpv(sv, text);
}

void
BqCPerl_sv_setpvn(PerlInterpreter *interp, SV *sv, const char *bytes, STRLEN length)
{
    BQ_WITH(interp);
    sv_setpvn(sv, bytes, length);
}

void
BqCPerl_sv_setsv(PerlInterpreter *interp, SV *dest, SV *source)
{
    BQ_WITH(interp);
    sv_setsv(dest, source);
}

SV *
BqCPerl_sv_setref_pvn(PerlInterpreter *interp, SV *rv, const char *className,
		      const char *bytes, STRLEN length)
{
    BQ_WITH(interp);
    return sv_setref_pvn(rv, className, bytes, length);
}

void
BqCPerl_sv_catpv(PerlInterpreter *interp, SV *sv, const char *text)
{
    BQ_WITH(interp);
    sv_catpv(sv, text);
}

I32
BqCPerl_sv_eq(PerlInterpreter *interp, SV *sv1, SV *sv2)
{
    BQ_WITH(interp);
    return sv_eq(sv1, sv2);
}

void
BqCPerl_sv_free(PerlInterpreter *interp, SV *sv)
{
    BQ_WITH(interp);
    sv_free(sv);
}

void
BqCPerl_sv_upgrade(PerlInterpreter *interp, SV *sv, svtype type)
{
    BQ_WITH(interp);
    sv_upgrade(sv, type);
}

void
BqCPerl_sv_backoff(PerlInterpreter *interp, SV *sv)
{
    BQ_WITH(interp);
    if (SvOOK(sv)) {
	sv_backoff(sv);
    }
}

SV *
BqCPerl_sv_bless(PerlInterpreter *interp, SV *rv, HV *stash)
{
    BQ_WITH(interp);
    return sv_bless(rv, stash);
}

void
BqCPerl_sv_unref(PerlInterpreter *interp, SV *rv)
{
    BQ_WITH(interp);
    sv_unref(rv);
}

void
BqCPerl_sv_magic(PerlInterpreter *interp, SV *sv, SV *object, int how, const char *name,
		 I32 nameLength)
{
    BQ_WITH(interp);
    sv_magic(sv, object, how, name, nameLength);
}

int
BqCPerl_sv_unmagic(PerlInterpreter *interp, SV *sv, int how)
{
    BQ_WITH(interp);
    return sv_unmagic(sv, how);
}

void
BqCPerl_sv_dump(PerlInterpreter *interp, SV *sv)
{
    BQ_WITH(interp);
    sv_dump(sv);
}

SV *
BqCPerl_sv_newref(PerlInterpreter *interp, SV *sv)
{
    BQ_WITH(interp);
    return SvREFCNT_inc(sv);
}

/*
 *----------------------------------------------------------------------
 * Arrays
 *----------------------------------------------------------------------
 */
AV *
BqCPerl_newAV(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return newAV();
}

void
BqCPerl_av_clear(PerlInterpreter *interp, AV *av)
{
    BQ_WITH(interp);
    av_clear(av);
}

void
BqCPerl_av_extend(PerlInterpreter *interp, AV *av, SSize_t index)
{
    BQ_WITH(interp);
    av_extend(av, index);
}

SV **
BqCPerl_av_fetch(PerlInterpreter *interp, AV *av, SSize_t index, I32 lvalue)
{
    BQ_WITH(interp);
    return av_fetch(av, index, lvalue);
}

SSize_t
BqCPerl_av_len(PerlInterpreter *interp, AV *av)
{
    BQ_WITH(interp);
    return av_len(av);
}

SV *
BqCPerl_av_pop(PerlInterpreter *interp, AV *av)
{
    BQ_WITH(interp);
    return av_pop(av);
}

void
BqCPerl_av_push(PerlInterpreter *interp, AV *av, SV *value)
{
    BQ_WITH(interp);
    av_push(av, value);
}

SV *
BqCPerl_av_shift(PerlInterpreter *interp, AV *av)
{
    BQ_WITH(interp);
    return av_shift(av);
}

SV **
BqCPerl_av_store(PerlInterpreter *interp, AV *av, SSize_t index, SV *value)
{
    BQ_WITH(interp);
    return av_store(av, index, value);
}

void
BqCPerl_av_unshift(PerlInterpreter *interp, AV *av, SSize_t count)
{
    BQ_WITH(interp);
    av_unshift(av, count);
}

/*
 *----------------------------------------------------------------------
 * Hashes
 *----------------------------------------------------------------------
 */
HV *
BqCPerl_newHV(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return newHV();
}

void
BqCPerl_hv_clear(PerlInterpreter *interp, HV *hv)
{
    BQ_WITH(interp);
    hv_clear(hv);
}

SV *
BqCPerl_hv_delete(PerlInterpreter *interp, HV *hv, const char *key, I32 keyLength, I32 flags)
{
    BQ_WITH(interp);
    return hv_delete(hv, key, keyLength, flags);
}

bool
BqCPerl_hv_exists(PerlInterpreter *interp, HV *hv, const char *key, I32 keyLength)
{
    BQ_WITH(interp);
    return hv_exists(hv, key, keyLength);
}

SV **
BqCPerl_hv_fetch(PerlInterpreter *interp, HV *hv, const char *key, I32 keyLength, I32 lvalue)
{
    BQ_WITH(interp);
    return hv_fetch(hv, key, keyLength, lvalue);
}

SV **
BqCPerl_hv_store(PerlInterpreter *interp, HV *hv, const char *key, I32 keyLength, SV *value,
		 U32 hash)
{
    BQ_WITH(interp);
    return hv_store(hv, key, keyLength, value, hash);
}

I32
BqCPerl_hv_iterinit(PerlInterpreter *interp, HV *hv)
{
    BQ_WITH(interp);
    return hv_iterinit(hv);
}

HE *
BqCPerl_hv_iternext(PerlInterpreter *interp, HV *hv)
{
    BQ_WITH(interp);
    return hv_iternext(hv);
}

char *
BqCPerl_hv_iterkey(PerlInterpreter *interp, HE *entry, I32 *length)
{
    BQ_WITH(interp);
    return hv_iterkey(entry, length);
}

SV *
BqCPerl_hv_iterval(PerlInterpreter *interp, HV *hv, HE *entry)
{
    BQ_WITH(interp);
    return hv_iterval(hv, entry);
}

/*
 *----------------------------------------------------------------------
 * Magic, globs, stashes and named variables
 *----------------------------------------------------------------------
 */
MAGIC *
BqCPerl_mg_find(PerlInterpreter *interp, SV *sv, int type)
{
    BQ_WITH(interp);
    return mg_find(sv, type);
}

int
BqCPerl_mg_get(PerlInterpreter *interp, SV *sv)
{
    BQ_WITH(interp);
    return mg_get(sv);
}

GV *
BqCPerl_gv_fetchpv(PerlInterpreter *interp, const char *name, I32 add, svtype type)
{
    BQ_WITH(interp);
    return gv_fetchpv(name, add, type);
}

GV *
BqCPerl_gv_fetchmethod(PerlInterpreter *interp, HV *stash, const char *name)
{
    BQ_WITH(interp);
    return gv_fetchmethod(stash, name);
}

HV *
BqCPerl_gv_stashpv(PerlInterpreter *interp, const char *name, I32 create)
{
    BQ_WITH(interp);
    return gv_stashpv(name, create);
}

HV *
BqCPerl_gv_stashsv(PerlInterpreter *interp, SV *name, I32 create)
{
    BQ_WITH(interp);
    return gv_stashsv(name, create);
}

SV *
BqCPerl_perl_get_sv(PerlInterpreter *interp, const char *name, I32 create)
{
    BQ_WITH(interp);
    return get_sv(name, create);
}

AV *
BqCPerl_perl_get_av(PerlInterpreter *interp, const char *name, I32 create)
{
    BQ_WITH(interp);
    return get_av(name, create);
}

HV *
BqCPerl_perl_get_hv(PerlInterpreter *interp, const char *name, I32 create)
{
    BQ_WITH(interp);
    return get_hv(name, create);
}

/*
 *----------------------------------------------------------------------
 * Calls
 *----------------------------------------------------------------------
 */
I32
BqCPerl_perl_call_sv(PerlInterpreter *interp, SV *sub, I32 flags)
{
    BQ_WITH(interp);
    return call_sv(sub, flags);
}

I32
BqCPerl_perl_call_pv(PerlInterpreter *interp, const char *name, I32 flags)
{
    BQ_WITH(interp);
    return call_pv(name, flags);
}

I32
BqCPerl_perl_call_method(PerlInterpreter *interp, const char *name, I32 flags)
{
    BQ_WITH(interp);
    return call_method(name, flags);
}

/*
 *----------------------------------------------------------------------
 * Scopes and temporaries
 *----------------------------------------------------------------------
 */
void
BqCPerl_push_scope(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    ENTER;
}

void
BqCPerl_pop_scope(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    LEAVE;
}

void
BqCPerl_SaveTmps(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    SAVETMPS;
}

void
BqCPerl_FreeTmps(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    FREETMPS;
}

void
BqCPerl_free_tmps(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    free_tmps();
}

void
BqCPerl_save_int(PerlInterpreter *interp, int *intPtr)
{
    BQ_WITH(interp);
    save_int(intPtr);
}

I32
BqCPerl_dowantarray(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    /* As Perl's GIMME: void context counts as scalar. */
    return GIMME_V == G_LIST ? G_LIST : G_SCALAR;
}

SV **
BqCPerl_stack_grow(PerlInterpreter *interp, SV **sp, SV **p, SSize_t count)
{
    BQ_WITH(interp);
    return stack_grow(sp, p, count);
}

I32 *
BqCPerl_markstack_grow(PerlInterpreter *interp)
{
    BQ_WITH(interp);
    return markstack_grow();
}
