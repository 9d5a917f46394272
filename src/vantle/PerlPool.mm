/*
 * PerlPool.mm --
 *
 *	Autorelease pools seen from Perl: the scoped pool that
 *	Vantle::autorelease_pool answers, which drains when the last Perl
 *	value holding it goes, and the watch on NSAutoreleasePool that makes
 *	the handles of a released pool dead.
 *
 *	GNUstep never frees a released pool: -[NSAutoreleasePool dealloc]
 *	empties it and keeps it for the next pool the thread makes.  The
 *	deallocation observer therefore never sees it, and without the watch
 *	a handle of a released pool would stay live and, once the pool is
 *	made again, stand for the newer pool.  Every way a pool ends (release
 *	and drain from Perl or Objective-C, an outer pool draining its inner
 *	ones) passes through that -dealloc, so it is wrapped, once per
 *	process, to unregister the pool from the handle registry.
 *
 *	A scoped pool is a reference blessed into Vantle::AutoreleasePool to
 *	a read-only scalar holding a handle of the pool.  It drains the pool
 *	only while that handle is live, so a pool that was drained by other
 *	means (an outer pool, drain, Objective-C code) is never released
 *	again, and a made-up one releases nothing that is no pool.
 */
#import <Foundation/Foundation.h>

#include "VantlePriv.h"

#include <objc/runtime.h>
#include <pthread.h>

/*
 * The wrapped -dealloc of NSAutoreleasePool.  Process-wide by nature, as
 * the class is: installed by the first boot (once, though interpreters
 * may boot on several threads at once), then never changed.
 */
static struct {
    pthread_once_t installed;
    IMP dealloc;		/* the implementation that was replaced */
} poolWatch = { PTHREAD_ONCE_INIT, NULL };

/*
 * WatchedPoolDealloc --
 *	NSAutoreleasePool's -dealloc with the pool's handles made dead:
 *	before the pool is emptied (objects freed while it is emptied may
 *	run code that must not release it again) and after (a handle made
 *	meanwhile must not outlive it).
 */
static void
WatchedPoolDealloc(id pool, SEL selector)
{
    Vantle_UnregisterObject(pool);
    @try {
	((void (*)(id, SEL)) poolWatch.dealloc)(pool, selector);
    } @finally {
	Vantle_UnregisterObject(pool);
    }
}

/*
 * WatchPools --
 *	Wraps -[NSAutoreleasePool dealloc] (pthread_once runs it once per
 *	process).  When the class inherits its -dealloc, the wrapper is
 *	added to the class alone and calls the inherited one.
 */
static void
WatchPools(void)
{
    Class poolClass = objc_getClass("NSAutoreleasePool");
    SEL selector = sel_registerName("dealloc");
    Method method = poolClass != Nil ? class_getInstanceMethod(poolClass, selector) : NULL;
    if (method == NULL) {
	return;
    }
    IMP inherited = method_getImplementation(method);
    IMP replaced = class_replaceMethod(poolClass, selector, (IMP) WatchedPoolDealloc,
	    method_getTypeEncoding(method));
    poolWatch.dealloc = replaced != NULL ? replaced : inherited;
}

/*
 * LivePool --
 *	The pool a scoped pool stands for while its handle is live and holds
 *	an NSAutoreleasePool; nil otherwise (dead, nil, or anything Perl code
 *	blessed into Vantle::AutoreleasePool itself).
 */
static id
LivePool(pTHX_ SV *scope)
{
    if (!SvROK(scope) || VantlePriv_HandleReferent(aTHX_ SvRV(scope)) == NULL) {
	return nil;
    }
    char failed = 0;
    id pool = Vantle_SVGetObject2NM(SvRV(scope), NULL, &failed);
    if (failed || !VantlePriv_IsKindOfClass(pool, objc_getClass("NSAutoreleasePool"))) {
	return nil;
    }
    return pool;
}

/*
 * DrainSub --
 *	The body of Vantle::AutoreleasePool::drain and DESTROY, named
 *	subName: releases the pool of the scoped pool in ST(0), if it still
 *	has one.
 */
static void
DrainSub(pTHX_ I32 ax, I32 items, const char *subName)
{
    if (items != 1) {
	croak("Usage: %s(pool)", subName);
    }
    id pool = LivePool(aTHX_ ST(0));
    if (pool == nil) {
	return;
    }
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    SV *failure = NULL;
    if (!VantlePriv_Guard(&errors, [&] { [pool release]; })) {
	failure = sv_2mortal(newSVpvf("%s: %s", subName, Tcl_DStringValue(&errors)));
    }
    Tcl_DStringFree(&errors);
    if (failure != NULL) {
	croak_sv(failure);
    }
}

/*
 *----------------------------------------------------------------------
 * Vantle::autorelease_pool --
 *	(): a new autorelease pool, as a scoped pool that drains it when the
 *	last Perl value holding it goes.  In void context nothing would hold
 *	it, so that croaks before any pool is made.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__autorelease_pool)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 0) {
	croak("Usage: Vantle::autorelease_pool()");
    }
    if (GIMME_V == G_VOID) {
	croak("Vantle::autorelease_pool: useless in void context, the pool would drain at once");
    }
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    id pool = nil;
    SV *handle = newSV(0);
    SV *scope = sv_2mortal(newRV_noinc(handle));
    SV *failure = NULL;
    if (!VantlePriv_Guard(&errors, [&] { pool = [[NSAutoreleasePool alloc] init]; })) {
	failure = sv_2mortal(newSVpvf("Vantle::autorelease_pool: %s", Tcl_DStringValue(&errors)));
    } else if (!Vantle_SVSetObject(handle, pool, &errors)) {
	VantlePriv_Guard(&errors, [&] { [pool release]; });
	failure = sv_2mortal(newSVpvf("Vantle::autorelease_pool: %s", Tcl_DStringValue(&errors)));
    }
    Tcl_DStringFree(&errors);
    if (failure != NULL) {
	croak_sv(failure);
    }
    sv_bless(scope, gv_stashpvs("Vantle::AutoreleasePool", GV_ADD));
    SvREADONLY_on(handle);
    EXTEND(SP, 1);
    ST(0) = scope;
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * Vantle::AutoreleasePool::drain, Vantle::AutoreleasePool::DESTROY --
 *	(pool): release the pool now, unless it is gone already.  Perl calls
 *	DESTROY when the last value holding the scoped pool goes.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__AutoreleasePool__drain)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    DrainSub(aTHX_ ax, items, "Vantle::AutoreleasePool::drain");
    XSRETURN_EMPTY;
}

XS_INTERNAL(XS_Vantle__AutoreleasePool__DESTROY)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    DrainSub(aTHX_ ax, items, "Vantle::AutoreleasePool::DESTROY");
    XSRETURN_EMPTY;
}

/*
 * Vantle::AutoreleasePool::CLONE_SKIP --
 *	A pool belongs to the thread that made it: a new Perl thread gets
 *	undef in place of each scoped pool, so it never drains another
 *	thread's pool.
 */
XS_INTERNAL(XS_Vantle__AutoreleasePool__CLONE_SKIP)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    PERL_UNUSED_VAR(items);
    ST(0) = &PL_sv_yes;
    XSRETURN(1);
}

void
VantlePriv_BootPool(pTHX)
{
    pthread_once(&poolWatch.installed, WatchPools);
    newXS("Vantle::autorelease_pool", XS_Vantle__autorelease_pool, "Vantle");
    newXS("Vantle::AutoreleasePool::drain", XS_Vantle__AutoreleasePool__drain, "Vantle");
    newXS("Vantle::AutoreleasePool::DESTROY", XS_Vantle__AutoreleasePool__DESTROY, "Vantle");
    newXS("Vantle::AutoreleasePool::CLONE_SKIP", XS_Vantle__AutoreleasePool__CLONE_SKIP,
	    "Vantle");
}
