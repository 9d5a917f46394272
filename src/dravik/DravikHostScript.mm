/*
 * DravikHostScript.mm --
 *
 *	Running the Perl file of a Perl-scripted host (DravikHost.h) and
 *	making the Perl object the host then owns: the file runs in the
 *	default interpreter and returns the name of a package, into which
 *	a new retaining hash is blessed, with the host stored in it.
 */
#import <Foundation/Foundation.h>

#include "DravikHost.h"
#include "BqPerlObjectPriv.h"

/*
 *----------------------------------------------------------------------
 * RunOrRaise --
 *	Runs the file at path in the default interpreter and answers the
 *	wrapper of its value (nil for none), which the caller frees.  A
 *	Perl error frees the wrapper of the error text and raises
 *	exceptionName with "perl error while executing <path>: <error>".
 *----------------------------------------------------------------------
 */
static BqVantleVar *
RunOrRaise(NSString *path, NSString *exceptionName)
{
    BqVantleInterp *interp = [BqVantleInterp getDefaultInterp];
    int code = 0;
    BqVantleVar *result = [interp evalFile: [path fileSystemRepresentation] errorCode: &code];
    if (code == 1) {
	NSString *reason = [NSString stringWithFormat: @"perl error while executing %@: %s",
	    path, result != nil ? [result descr] : ""];
	[result free];
	[NSException raise: exceptionName format: @"%@", reason];
    }
    return result;
}

void
DravikHost_RunFile(NSString *path, NSString *exceptionName)
{
    [RunOrRaise(path, exceptionName) free];
}

BOOL
DravikHost_PackageExists(NSString *package)
{
    const char *name = [package UTF8String];
    if (name == NULL || *name == '\0') {
	return NO;
    }
    BqVantleInterp *interp = [BqVantleInterp getDefaultInterp];
    VANTLE_dCURRENT((PerlInterpreter *) [interp perlInterpreter], "DravikHost_PackageExists");
    BOOL ascii = [package canBeConvertedToEncoding: NSASCIIStringEncoding];
    HV *stash = gv_stashpvn(name, (U32) strlen(name), ascii ? 0 : SVf_UTF8);
    return stash != NULL && HvARRAY(stash) != NULL;
}

/*
 *----------------------------------------------------------------------
 * DravikHost_RunPackageFile --
 *	Runs the file at path and answers the package it named by its value:
 *	one that exists after the run, with at least one symbol.  Anything
 *	else raises exceptionName with "<path> did not return a valid
 *	package name"; the value's wrapper is freed either way.
 *----------------------------------------------------------------------
 */
NSString *
DravikHost_RunPackageFile(NSString *path, NSString *exceptionName)
{
    BqVantleVar *result = RunOrRaise(path, exceptionName);
    const char *text = result != nil ? [result descr] : NULL;
    NSString *package = text != NULL ? [NSString stringWithUTF8String: text] : nil;
    [result free];
    if (!DravikHost_PackageExists(package)) {
	[NSException raise: exceptionName format: @"%@ did not return a valid package name",
	    path];
    }
    return package;
}

/*
 *----------------------------------------------------------------------
 * ForgetFileSubs --
 *	Removes from the package named package the subs compiled from the
 *	file at path, before that file runs again: the run defines them
 *	afresh (without Perl's "Subroutine redefined" warnings), and a sub
 *	the file no longer has is gone, as after a restart.  Subs the
 *	package got elsewhere (other files, XS subs) stay.  A package that
 *	does not exist is left alone.
 *----------------------------------------------------------------------
 */
static void
ForgetFileSubs(NSString *package, NSString *path)
{
    const char *name = [package UTF8String];
    const char *file = [path fileSystemRepresentation];
    if (name == NULL || *name == '\0') {
	return;
    }
    BqVantleInterp *interp = [BqVantleInterp getDefaultInterp];
    VANTLE_dCURRENT((PerlInterpreter *) [interp perlInterpreter], "ForgetFileSubs");
    BOOL ascii = [package canBeConvertedToEncoding: NSASCIIStringEncoding];
    HV *stash = gv_stashpvn(name, (U32) strlen(name), ascii ? 0 : SVf_UTF8);
    if (stash == NULL) {
	return;
    }
    bool changed = false;
    hv_iterinit(stash);
    for (HE *entry = hv_iternext(stash); entry != NULL; entry = hv_iternext(stash)) {
	GV *gv = (GV *) HeVAL(entry);
	if (!isGV_with_GP(gv)) {
	    continue;
	}
	CV *cv = GvCV(gv);
	if (cv == NULL || CvISXSUB(cv) || CvFILE(cv) == NULL || strcmp(CvFILE(cv), file) != 0) {
	    continue;
	}
	GvCV_set(gv, NULL);
	GvCVGEN(gv) = 0;
	SvREFCNT_dec(cv);
	changed = true;
    }
    if (changed) {
	mro_method_changed_in(stash);
    }
}

NSString *
DravikHost_RerunPackageFile(NSString *path, NSString *previousPackage,
    NSString *exceptionName)
{
    ForgetFileSubs(previousPackage, path);
    return DravikHost_RunPackageFile(path, exceptionName);
}

/*
 *----------------------------------------------------------------------
 * DravikHost_NewPerlObject --
 *	A new retaining Perl object blessed into package, in the default
 *	interpreter, owned by the caller, whose read-only entry
 *	"selfObject" is a handle of host (not retained: the host owns the
 *	Perl object).  Owned rather than autoreleased, so that it goes with
 *	its host whatever pool is current.
 *----------------------------------------------------------------------
 */
BqPerlObject *
DravikHost_NewPerlObject(id host, NSString *package)
{
    BqPerlObject *perlObject = [[BqPerlObject alloc]
	initInInterp: [BqVantleInterp getDefaultInterp] stashName: package magic: YES];
    @try {
	[perlObject setIVar: DRAVIK_MAGIC_SELF_KEY toValue: host raw: YES retain: NO];
	[perlObject _makeIVar: DRAVIK_MAGIC_SELF_KEY readOnly: YES];
    } @catch (NSException *exception) {
	[perlObject release];
	@throw;
    }
    return perlObject;
}
