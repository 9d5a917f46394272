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
