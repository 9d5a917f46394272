/*
 * TestSupport.mm --
 *
 *	The module Vantle::TestSupport, which serves the library's own tests
 *	and is never installed.  Tests need objects to die on cue before
 *	Perl can send messages: Vantle::TestSupport::push_pool opens an
 *	autorelease pool, Vantle::TestSupport::pop_pool drains and closes the
 *	innermost one opened this way, deallocating every object that only
 *	the pool kept alive.  Vantle::TestSupport::module_directory reaches
 *	Vantle_ModuleDirectory; test_classes (TestSupportClasses.mm) makes
 *	the test classes; add_class and add_method (TestSupportRuntime.mm)
 *	change the runtime's classes.
 */
#import <Foundation/Foundation.h>

#include "TestSupport.h"
#include "BqOsmo.h"
#include "Class.h"

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

/* Vantle::TestSupport::rename_class(name, new_name): renames a class
 * through the runtime layer; croaks with the reason when it refuses. */
XS_INTERNAL(XS_Vantle__TestSupport__rename_class)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    if (items != 2) {
	croak("Usage: Vantle::TestSupport::rename_class(name, new_name)");
    }
    Class cls = objc_lookUpClass(SvPV_nolen(ST(0)));
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    if (BqOsmo_ClassRename(cls, SvPV_nolen(ST(1)), &errors) != 0) {
	SV *message = sv_2mortal(newSVpvf("Vantle::TestSupport::rename_class: %s",
		Tcl_DStringValue(&errors)));
	Tcl_DStringFree(&errors);
	croak_sv(message);
    }
    Tcl_DStringFree(&errors);
    XSRETURN_EMPTY;
}

XS_INTERNAL(XS_Vantle__TestSupport__module_directory)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    if (items != 1) {
	croak("Usage: Vantle::TestSupport::module_directory(name)");
    }
    char *directory = Vantle_ModuleDirectory(SvPV_nolen(ST(0)));
    ST(0) = directory != NULL ? sv_2mortal(newSVpv(directory, 0)) : &PL_sv_undef;
    BqOsmo_RuntimeFree(directory);
    XSRETURN(1);
}

/*
 * Vantle::TestSupport::non_object --
 *	A handle of a block no object lives in, made as any result is
 *	(refused while bad_object_check is on; a handle of it when it is
 *	off), for the tests of what a later check finds.
 */
XS_INTERNAL(XS_Vantle__TestSupport__non_object)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    if (items != 0) {
	croak("Usage: Vantle::TestSupport::non_object()");
    }
    static void *block[4];
    SV *result = sv_newmortal();
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    int made = Vantle_SVSetObject(result, (id) block, &errors);
    if (!made) {
	SV *message = sv_2mortal(newSVpvf("Vantle::TestSupport::non_object: %s",
		Tcl_DStringValue(&errors)));
	Tcl_DStringFree(&errors);
	croak_sv(message);
    }
    Tcl_DStringFree(&errors);
    ST(0) = result;
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * boot_Vantle__TestSupport --
 *	Perl's loader calls it for `use Vantle::TestSupport`, after Vantle
 *	itself booted (the module's .pm loads Vantle first).
 *----------------------------------------------------------------------
 */
XS_EXTERNAL(boot_Vantle__TestSupport)
{
    dXSBOOTARGSAPIVERCHK;
    PERL_UNUSED_VAR(mark);
    PERL_UNUSED_VAR(sp);
    PERL_UNUSED_VAR(items);
    BqCPerl_SetInterp(aTHX);
    newXS("Vantle::TestSupport::push_pool", XS_Vantle__TestSupport__push_pool, __FILE__);
    newXS("Vantle::TestSupport::pop_pool", XS_Vantle__TestSupport__pop_pool, __FILE__);
    newXS("Vantle::TestSupport::rename_class", XS_Vantle__TestSupport__rename_class, __FILE__);
    newXS("Vantle::TestSupport::module_directory", XS_Vantle__TestSupport__module_directory,
	    __FILE__);
    newXS("Vantle::TestSupport::non_object", XS_Vantle__TestSupport__non_object, __FILE__);
    TestSupport_BootClasses(aTHX);
    TestSupport_BootRuntime(aTHX);
    Perl_xs_boot_epilog(aTHX_ ax);
}
