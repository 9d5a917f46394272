/*
 * bqcperl.h --
 *
 *	The one path into the Perl interpreter.  Perl here is a threaded
 *	build: every API operation takes the interpreter as a hidden first
 *	argument (pTHX).  The library keeps a current interpreter per thread;
 *	every XS sub makes its caller current on entry, and code that is not
 *	handed an interpreter acts on the current one (BQCPERL_dTHX), so
 *	Perl's own macros work everywhere.
 *
 *	The BqCPerl_<name> functions forward one Perl operation each to the
 *	interpreter given as their first argument.  The library itself uses
 *	Perl's macros directly; the forwarders are the exported interface for
 *	modules compiled against the library without Perl's headers at hand.
 *
 *	The four hook setters install the functions through which Perl
 *	method calls and hash or array dereferences of object handles reach
 *	the binding.  Stock Perl has no such hooks; the module's Perl source
 *	routes the dereferences here through `use overload` (see
 *	BqCPerl_BootHooks), and the method-call routes reach the method hooks
 *	through the subs that the message send installs.
 */
#ifndef BQ_CPERL_H
#define BQ_CPERL_H

#ifndef PERL_NO_GET_CONTEXT
#define PERL_NO_GET_CONTEXT
#endif
#include <EXTERN.h>
#include <perl.h>
#include <XSUB.h>

#ifdef __cplusplus
extern "C" {
#endif

/* This thread's current interpreter: null until the first XS sub runs
 * on the thread or the host sets it.  The first time a thread sets one,
 * the thread is made ready for Objective-C work (registered with GNUstep,
 * and given an autorelease pool that GNUstep drains when it ends). */
extern __thread PerlInterpreter *_bqcperl_interp;

int              BqCPerl_SetInterp(PerlInterpreter *interp);
PerlInterpreter *BqCPerl_GetInterp(void);

/* Declares my_perl as the current interpreter, so Perl's macros act on
 * it, in functions that are not handed one. */
#define BQCPERL_dTHX PerlInterpreter *const my_perl = _bqcperl_interp

/*
 * Hooks.  Each setter installs one function process-wide and returns
 * the one it replaces.  The hooks act on the current interpreter.
 */

/* (stash, writable method name) -> glob of the sub to call, or null. */
typedef GV *(*BqCPerl_FetchmethodHookFunction)(HV *stash, char *name);
/* (invocant, method name) -> glob of the sub to call, or null. */
typedef GV *(*BqCPerl_MethodHookFunction)(SV *invocant, SV *methodName);
/* (scalar dereferenced as a hash) -> the hash to use, or null. */
typedef HV *(*BqCPerl_RV2HVHookFunction)(SV *sv);
/* (scalar dereferenced as an array) -> the array to use, or null. */
typedef AV *(*BqCPerl_RV2AVHookFunction)(SV *sv);

BqCPerl_FetchmethodHookFunction BqCPerl_setFetchmethodHook(BqCPerl_FetchmethodHookFunction fn);
BqCPerl_MethodHookFunction      BqCPerl_setMethodHook(BqCPerl_MethodHookFunction fn);
BqCPerl_RV2HVHookFunction       BqCPerl_setRV2HVHook(BqCPerl_RV2HVHookFunction fn);
BqCPerl_RV2AVHookFunction       BqCPerl_setRV2AVHook(BqCPerl_RV2AVHookFunction fn);

/* The installed hooks (null when none), for the routes that call them. */
BqCPerl_FetchmethodHookFunction BqCPerl_GetFetchmethodHook(void);
BqCPerl_MethodHookFunction      BqCPerl_GetMethodHook(void);

/* Registers, in the interpreter, the subs through which the dereference
 * overloads of Vantle::Object reach the installed hooks:
 * Vantle::Hook::rv2hv and Vantle::Hook::rv2av.  Called on every boot. */
void BqCPerl_BootHooks(pTHX);

/*
 * Interpreter variables, by address.
 */
SV   ***BqCPerl_stack_sp_ptr(PerlInterpreter *interp);
SV   ***BqCPerl_stack_base_ptr(PerlInterpreter *interp);
SV   ***BqCPerl_stack_max_ptr(PerlInterpreter *interp);
I32   **BqCPerl_markstack_ptr_ptr(PerlInterpreter *interp);
I32   **BqCPerl_markstack_max_ptr(PerlInterpreter *interp);
SV     *BqCPerl_sv_yes_ptr(PerlInterpreter *interp);
SV     *BqCPerl_sv_no_ptr(PerlInterpreter *interp);
SV     *BqCPerl_sv_undef_ptr(PerlInterpreter *interp);
STRLEN *BqCPerl_na_ptr(PerlInterpreter *interp);
SV    **BqCPerl_Sv_ptr(PerlInterpreter *interp);
XPV   **BqCPerl_Xpv_ptr(PerlInterpreter *interp);
OP    **BqCPerl_op_ptr(PerlInterpreter *interp);

/*
 * Forwarders: BqCPerl_<name>(interp, <the Perl operation's arguments>).
 */

/* Errors.  The format is Perl's (it understands %" SVf " and friends). */
void BqCPerl_croak(PerlInterpreter *interp, const char *format, ...)
    __attribute__((noreturn));
void BqCPerl_warn(PerlInterpreter *interp, const char *format, ...);

/* XS registration. */
CV  *BqCPerl_newXS(PerlInterpreter *interp, const char *name, XSUBADDR_t fn,
		   const char *file);

/* Scalars. */
SV  *BqCPerl_newSV(PerlInterpreter *interp, STRLEN length);
SV  *BqCPerl_newSViv(PerlInterpreter *interp, IV value);
SV  *BqCPerl_newSVpv(PerlInterpreter *interp, const char *text, STRLEN length);
SV  *BqCPerl_newSVsv(PerlInterpreter *interp, SV *sv);
SV  *BqCPerl_sv_newmortal(PerlInterpreter *interp);
SV  *BqCPerl_sv_2mortal(PerlInterpreter *interp, SV *sv);
bool BqCPerl_sv_2bool(PerlInterpreter *interp, SV *sv);
IV   BqCPerl_sv_2iv(PerlInterpreter *interp, SV *sv);
NV   BqCPerl_sv_2nv(PerlInterpreter *interp, SV *sv);
char *BqCPerl_sv_2pv(PerlInterpreter *interp, SV *sv, STRLEN *length);
void BqCPerl_sv_setiv(PerlInterpreter *interp, SV *sv, IV value);
void BqCPerl_sv_setnv(PerlInterpreter *interp, SV *sv, NV value);
void BqCPerl_sv_setpv(PerlInterpreter *interp, SV *sv, const char *text);
void BqCPerl_sv_setpvn(PerlInterpreter *interp, SV *sv, const char *bytes, STRLEN length);
void BqCPerl_sv_setsv(PerlInterpreter *interp, SV *dest, SV *source);
SV  *BqCPerl_sv_setref_pvn(PerlInterpreter *interp, SV *rv, const char *className,
			   const char *bytes, STRLEN length);
void BqCPerl_sv_catpv(PerlInterpreter *interp, SV *sv, const char *text);
I32  BqCPerl_sv_eq(PerlInterpreter *interp, SV *sv1, SV *sv2);
void BqCPerl_sv_free(PerlInterpreter *interp, SV *sv);
void BqCPerl_sv_upgrade(PerlInterpreter *interp, SV *sv, svtype type);
void BqCPerl_sv_backoff(PerlInterpreter *interp, SV *sv);
SV  *BqCPerl_sv_bless(PerlInterpreter *interp, SV *rv, HV *stash);
void BqCPerl_sv_unref(PerlInterpreter *interp, SV *rv);
void BqCPerl_sv_magic(PerlInterpreter *interp, SV *sv, SV *object, int how,
		      const char *name, I32 nameLength);
int  BqCPerl_sv_unmagic(PerlInterpreter *interp, SV *sv, int how);
void BqCPerl_sv_dump(PerlInterpreter *interp, SV *sv);
SV  *BqCPerl_sv_newref(PerlInterpreter *interp, SV *sv);

/* Arrays. */
AV  *BqCPerl_newAV(PerlInterpreter *interp);
void BqCPerl_av_clear(PerlInterpreter *interp, AV *av);
void BqCPerl_av_extend(PerlInterpreter *interp, AV *av, SSize_t index);
SV **BqCPerl_av_fetch(PerlInterpreter *interp, AV *av, SSize_t index, I32 lvalue);
SSize_t BqCPerl_av_len(PerlInterpreter *interp, AV *av);
SV  *BqCPerl_av_pop(PerlInterpreter *interp, AV *av);
void BqCPerl_av_push(PerlInterpreter *interp, AV *av, SV *value);
SV  *BqCPerl_av_shift(PerlInterpreter *interp, AV *av);
SV **BqCPerl_av_store(PerlInterpreter *interp, AV *av, SSize_t index, SV *value);
void BqCPerl_av_unshift(PerlInterpreter *interp, AV *av, SSize_t count);

/* Hashes. */
HV  *BqCPerl_newHV(PerlInterpreter *interp);
void BqCPerl_hv_clear(PerlInterpreter *interp, HV *hv);
SV  *BqCPerl_hv_delete(PerlInterpreter *interp, HV *hv, const char *key, I32 keyLength,
		       I32 flags);
bool BqCPerl_hv_exists(PerlInterpreter *interp, HV *hv, const char *key, I32 keyLength);
SV **BqCPerl_hv_fetch(PerlInterpreter *interp, HV *hv, const char *key, I32 keyLength,
		      I32 lvalue);
SV **BqCPerl_hv_store(PerlInterpreter *interp, HV *hv, const char *key, I32 keyLength,
		      SV *value, U32 hash);
I32  BqCPerl_hv_iterinit(PerlInterpreter *interp, HV *hv);
HE  *BqCPerl_hv_iternext(PerlInterpreter *interp, HV *hv);
char *BqCPerl_hv_iterkey(PerlInterpreter *interp, HE *entry, I32 *length);
SV  *BqCPerl_hv_iterval(PerlInterpreter *interp, HV *hv, HE *entry);

/* Magic. */
MAGIC *BqCPerl_mg_find(PerlInterpreter *interp, SV *sv, int type);
int  BqCPerl_mg_get(PerlInterpreter *interp, SV *sv);

/* Globs and stashes. */
GV  *BqCPerl_gv_fetchpv(PerlInterpreter *interp, const char *name, I32 add, svtype type);
GV  *BqCPerl_gv_fetchmethod(PerlInterpreter *interp, HV *stash, const char *name);
HV  *BqCPerl_gv_stashpv(PerlInterpreter *interp, const char *name, I32 create);
HV  *BqCPerl_gv_stashsv(PerlInterpreter *interp, SV *name, I32 create);

/* Named variables. */
SV  *BqCPerl_perl_get_sv(PerlInterpreter *interp, const char *name, I32 create);
AV  *BqCPerl_perl_get_av(PerlInterpreter *interp, const char *name, I32 create);
HV  *BqCPerl_perl_get_hv(PerlInterpreter *interp, const char *name, I32 create);

/* Calls: each returns the number of values left on the stack. */
I32  BqCPerl_perl_call_sv(PerlInterpreter *interp, SV *sub, I32 flags);
I32  BqCPerl_perl_call_pv(PerlInterpreter *interp, const char *name, I32 flags);
I32  BqCPerl_perl_call_method(PerlInterpreter *interp, const char *name, I32 flags);

/* Scopes and temporaries. */
void BqCPerl_push_scope(PerlInterpreter *interp);
void BqCPerl_pop_scope(PerlInterpreter *interp);
void BqCPerl_SaveTmps(PerlInterpreter *interp);
void BqCPerl_FreeTmps(PerlInterpreter *interp);
void BqCPerl_free_tmps(PerlInterpreter *interp);
void BqCPerl_save_int(PerlInterpreter *interp, int *intPtr);
I32  BqCPerl_dowantarray(PerlInterpreter *interp);
SV **BqCPerl_stack_grow(PerlInterpreter *interp, SV **sp, SV **p, SSize_t count);
I32 *BqCPerl_markstack_grow(PerlInterpreter *interp);

#ifdef __cplusplus
}
#endif

#endif /* BQ_CPERL_H */
