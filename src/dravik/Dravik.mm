/*
 * Dravik.mm --
 *
 *	The boot of the Perl module Dravik, the web layer's start-up and
 *	Dravik::kludge_argv.
 */
#import <Foundation/Foundation.h>

#include "Dravik.h"
#include "BqDravikComponentController.h"
#include "BqVantleInterp.h"
#include "DravikConvert.h"
#include "DravikMagic.h"
#include "BqOsmoControl.h"
#include "KxArgs.h"
#include "RyApplication.h"
#include "Vantle.h"
#include "VantlePriv.h"

#include <stdio.h>
#include <string.h>

/* How often Dravik::kludge_argv was called (only the first is quiet),
 * and every vector it made: replaced ones stay, since code may still
 * point into them. */
static int kludgeArgvCalls;
static char ***kludgeVectors;

void
Dravik_Init(void)
{
    static int done;
    if (done) {
	return;
    }
    done = 1;
    BQ_CONTROL(use_ns_exceptions) = 1;
    VantlePriv_PerlAutoConvert = 1;
    VantlePriv_PerlSelectorMap = 1;
    VantlePriv_PerlifyFoundation = 1;
    VantlePriv_HashPerlify = 1;
    KxArgc = 1;
    /* $Dravik::RyApp reads the framework's current application at each
     * use, and setting it sets the framework's. */
    [[BqVantleInterp getDefaultInterp] linkObjectAt: &RyApp asVariableName: "Dravik::RyApp"
					   readOnly: NO];
    Dravik_ConvertInit();
    /* The component controller's +initialize sets its exception name. */
    [BqDravikComponentController class];
    fflush(stdout);
}

char *
Dravik_LibraryDirectory(void)
{
    static char *directory;
    if (directory == NULL) {
	directory = Vantle_ModuleDirectory("Dravik.pm");
    }
    return directory;
}

/*
 *----------------------------------------------------------------------
 * Dravik::kludge_argv --
 *	(LIST): makes the arguments the platform's argument vector (KxArgv,
 *	KxArgc), for code that reads the process arguments through the
 *	platform.  Earlier vectors are kept (code may still point into
 *	them); a second call warns.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Dravik__kludge_argv)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    if (kludgeArgvCalls > 0) {
	warn("Dravik::kludge_argv: already called!");
    }
    kludgeArgvCalls++;
    char **vector = (char **) malloc(sizeof(char *) * ((size_t) items + 1));
    if (vector == NULL) {
	croak("Dravik::kludge_argv: out of memory");
    }
    for (I32 i = 0; i < items; i++) {
	STRLEN length;
	const char *text = SvPV(ST(i), length);
	vector[i] = (char *) malloc(length + 1);
	if (vector[i] == NULL) {
	    for (I32 j = 0; j < i; j++) {
		free(vector[j]);
	    }
	    free(vector);
	    croak("Dravik::kludge_argv: out of memory");
	}
	memcpy(vector[i], text, length);
	vector[i][length] = '\0';
    }
    vector[items] = NULL;
    char ***kept = (char ***) realloc(kludgeVectors, sizeof(char **) * (size_t) kludgeArgvCalls);
    if (kept != NULL) {
	kludgeVectors = kept;
	kludgeVectors[kludgeArgvCalls - 1] = vector;
    }
    KxArgv = vector;
    KxArgc = (int) items;
    XSRETURN_EMPTY;
}

/*
 *----------------------------------------------------------------------
 * boot_Dravik --
 *	Called through Dravik.pm, after `use Vantle` booted the binding in
 *	the interpreter: the web layer's start-up (once per process) and
 *	its subs (in every interpreter that loads the module).
 *----------------------------------------------------------------------
 */
XS_EXTERNAL(boot_Dravik)
{
    dXSBOOTARGSAPIVERCHK;
    PERL_UNUSED_VAR(mark);
    PERL_UNUSED_VAR(sp);
    PERL_UNUSED_VAR(items);
    BqCPerl_SetInterp(aTHX);
    Dravik_Init();
    newXS("Dravik::kludge_argv", XS_Dravik__kludge_argv, "Dravik");
    DravikPriv_BootMagic(aTHX);
    Perl_xs_boot_epilog(aTHX_ ax);
}
