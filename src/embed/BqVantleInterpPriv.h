/*
 * BqVantleInterpPriv.h --
 *
 *	What the files of the interpreter object and of the value wrappers
 *	share: making an interpreter current for one host call, telling a
 *	live interpreter from a destroyed one, the interactor slot, the
 *	failed creation.
 */
#ifndef BQ_VANTLE_INTERP_PRIV_H
#define BQ_VANTLE_INTERP_PRIV_H

#include "BqVantleInterp.h"
#include "BqVantleInterpCallsPriv.h"
#include "BqVantleWrapperPoolPriv.h"
#include "VantlePriv.h"

@interface BqVantleInterp (Internal)
/* Makes the receiver's interpreter current (the access layer's and
 * Perl's own context); answers it, or null when it stands for none. */
- (PerlInterpreter *) _makeCurrent;
- (void) _setInteractor: (id)interactor;
- (void) _failCreation __attribute__((noreturn));
/* Ties %Vantle::CONTROL and sets $Vantle::interp in a new interpreter. */
- (void) _publish;
/* Frees the temporaries an interpreter of the object's own keeps at the
 * host's top level, before the next call into it. */
- (void) _freeTopTemporaries;
/* Forgets an interpreter the object was given, which Perl is destroying,
 * and gives up the count that interpreter held on the object. */
- (void) _interpreterEnded;
/* Frees the wrappers the object keeps for reuse (after it left the
 * interpreter list). */
- (void) _freeWrappers;
@end

#ifdef __cplusplus
extern "C" {
#endif

/* Makes perl the current interpreter of the access layer and of Perl's
 * own context (null allowed: then none is). */
void VantlePriv_MakeCurrent(PerlInterpreter *perl);
/* Whether perl is an interpreter that an interpreter object stands for
 * and that was not destroyed. */
int  VantlePriv_IsLiveInterpreter(PerlInterpreter *perl);
/* The object in the interpreter list that stands for perl; nil when
 * there is none (perl null, destroyed or never published). */
BqVantleInterp *VantlePriv_LiveInterpObject(PerlInterpreter *perl);
/* Whether perl is a live interpreter running Perl code now (a host call
 * from inside it). */
int  VantlePriv_IsRunning(PerlInterpreter *perl);

/* The wrapper classes, set as the runtime loads them: a class named in
 * the source costs a lookup by name at every use with this runtime. */
extern Class VantlePriv_VarClass;
extern Class VantlePriv_SVClass;
extern Class VantlePriv_AVClass;
extern Class VantlePriv_HVClass;

/* A new wrapper of value (one count added), of the class its type
 * selects; nil for a null value or one that never had one. */
id   VantlePriv_Wrap(SV *value);
/* The same taking over the caller's count on value; a value that gives
 * no wrapper is freed. */
id   VantlePriv_WrapOwned(pTHX_ SV *value);
/* The same for a result of the interpreter object owner (whose
 * interpreter is aTHX, current). */
id   VantlePriv_WrapResult(BqVantleInterp *owner, pTHX_ SV *value);
/* Whether object is a wrapper (BqVantleVar or a subclass); nil is not. */
int  VantlePriv_IsWrapper(id object);
/* A wrapper's value and interpreter, read without a check. */
SV  *VantlePriv_VarSV(BqVantleVar *var);
PerlInterpreter *VantlePriv_VarPerl(BqVantleVar *var);
/* The value for reading it: raises NSInternalInconsistencyException when
 * its interpreter was destroyed. */
SV  *VantlePriv_VarValue(BqVantleVar *var);

/* The interpreter object's table of the subs it calls, made on first
 * use; null once the object gave it up (its interpreter is ending) or
 * when memory is short.  For the object's own interpreter only. */
VantleInterpCalls *VantlePriv_InterpCalls(BqVantleInterp *interp);
/* -[BqVantleInterp _freeTopTemporaries] as a function call. */
void VantlePriv_FreeTopTemporaries(BqVantleInterp *interp);
/* The object's pool of wrappers kept for reuse, made on first use; null
 * when memory is short.  For an object in the interpreter list. */
VantleWrapperPool *VantlePriv_InterpWrappers(BqVantleInterp *interp);

#ifdef __cplusplus
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_CurrentScope --
 *	Makes an interpreter current for one call from the host.  When the
 *	call came from Perl code of another interpreter (that one is
 *	running), that one is made current again when the scope ends, so the
 *	caller goes on in its own interpreter; otherwise the new one stays
 *	current, and wrappers the host makes next belong to it.  Raises
 *	NSInternalInconsistencyException, naming doing, for an interpreter
 *	that is missing or was destroyed.
 *----------------------------------------------------------------------
 */
class VantlePriv_CurrentScope {
public:
    /* An interpreter that is current already stays so: nothing is
     * checked or restored (the common case, inline). */
    VantlePriv_CurrentScope(PerlInterpreter *perl, const char *doing)
	: restore(NULL)
    {
	if (perl == NULL || perl != _bqcperl_interp) {
	    Switch(perl, doing);
	} else if (PERL_GET_CONTEXT != perl) {
	    PERL_SET_CONTEXT(perl);
	}
    }
    ~VantlePriv_CurrentScope()
    {
	if (restore != NULL) {
	    VantlePriv_MakeCurrent(restore);
	}
    }
private:
    PerlInterpreter *restore;
    void Switch(PerlInterpreter *perl, const char *doing);
    VantlePriv_CurrentScope(const VantlePriv_CurrentScope &);
    VantlePriv_CurrentScope &operator=(const VantlePriv_CurrentScope &);
};

/* Declares my_perl as the interpreter perl, made current for the rest of
 * the method that uses it (doing names the method in errors). */
#define VANTLE_dCURRENT(perl, doing) \
    PerlInterpreter *const my_perl = (perl); \
    VantlePriv_CurrentScope vantleCurrentScope(my_perl, doing)

/* The same for a wrapper's interpreter and for an interpreter object's. */
#define VANTLE_dWRAPPER(doing) VANTLE_dCURRENT(_perl, doing)
#define VANTLE_dINTERP(doing) VANTLE_dCURRENT((PerlInterpreter *) _perlInterpreter, doing)

/*
 * VantlePriv_TrapSubject --
 *	The value whose magic decides whether an operation reading both
 *	values must run trapped: the first when it needs the trap, else the
 *	second.
 */
static inline SV *
VantlePriv_TrapSubject(SV *first, SV *second)
{
    return VantlePriv_NeedsTrap(first) ? first : second;
}
#endif

#endif
