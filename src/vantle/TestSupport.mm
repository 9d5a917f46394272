/*
 * TestSupport.mm --
 *
 *	Subs for the module's own tests, which need objects to die on cue
 *	before Perl can send messages: Vantle::TestSupport::push_pool opens
 *	an autorelease pool, Vantle::TestSupport::pop_pool drains and closes
 *	the innermost one opened this way, deallocating every object that
 *	only the pool kept alive.  Not meant for applications.
 */
#import <Foundation/Foundation.h>

#include "VantlePriv.h"

#define MAX_TEST_POOLS 64

static NSAutoreleasePool *testPools[MAX_TEST_POOLS];
static int testPoolCount;

XS_INTERNAL(XS_Vantle__TestSupport__push_pool)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 0) {
	croak("Usage: Vantle::TestSupport::push_pool()");
    }
    if (testPoolCount == MAX_TEST_POOLS) {
	croak("Vantle::TestSupport::push_pool: too many pools");
    }
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    NSAutoreleasePool *pool = nil;
    if (!VantlePriv_Guard(&errors, [&] { pool = [[NSAutoreleasePool alloc] init]; })) {
	SV *message = sv_2mortal(newSVpvf("Vantle::TestSupport::push_pool: %s",
		Tcl_DStringValue(&errors)));
	Tcl_DStringFree(&errors);
	croak_sv(message);
    }
    Tcl_DStringFree(&errors);
    testPools[testPoolCount++] = pool;
    XSRETURN_EMPTY;
}

XS_INTERNAL(XS_Vantle__TestSupport__pop_pool)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 0) {
	croak("Usage: Vantle::TestSupport::pop_pool()");
    }
    if (testPoolCount == 0) {
	croak("Vantle::TestSupport::pop_pool: no pool");
    }
    NSAutoreleasePool *pool = testPools[--testPoolCount];
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    if (!VantlePriv_Guard(&errors, [&] { [pool release]; })) {
	SV *message = sv_2mortal(newSVpvf("Vantle::TestSupport::pop_pool: %s",
		Tcl_DStringValue(&errors)));
	Tcl_DStringFree(&errors);
	croak_sv(message);
    }
    Tcl_DStringFree(&errors);
    XSRETURN_EMPTY;
}

void
VantlePriv_BootTestSupport(pTHX)
{
    newXS("Vantle::TestSupport::push_pool", XS_Vantle__TestSupport__push_pool, "Vantle");
    newXS("Vantle::TestSupport::pop_pool", XS_Vantle__TestSupport__pop_pool, "Vantle");
    VantlePriv_BootTestSupportClasses(aTHX);
}
