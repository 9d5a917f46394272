/*
 * PerlGuard.mm --
 *
 *	Texts for Objective-C errors caught before they could reach Perl.
 *	The formats follow those of the message send, so a Perl user sees
 *	one style of message whichever entry caught the error.
 */
#import <Foundation/Foundation.h>

#include "PerlGuard.h"
#include "ErrorText.h"


/*
 *----------------------------------------------------------------------
 * VantlePriv_AppendCaughtError --
 *	Appends the text of an error the platform guard caught, in the
 *	runtime layer's style.  A null errors swallows the text.
 *----------------------------------------------------------------------
 */
void
VantlePriv_AppendCaughtError(Tcl_DString *errors, KxErrorInfo *caught)
{
    BqOsmo_AppendErrorMessage(errors, caught, NULL);
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_CaughtErrorMessage --
 *	A new mortal "SUBNAME: TEXT" for an error the platform guard caught,
 *	ready for croak_sv.
 *----------------------------------------------------------------------
 */
SV *
VantlePriv_CaughtErrorMessage(pTHX_ const char *subName, KxErrorInfo *caught)
{
    Tcl_DString message;
    Tcl_DStringInit(&message);
    BqOsmo_AppendErrorMessage(&message, caught, NULL);
    SV *failure = sv_2mortal(newSVpvf("%s: %s", subName, Tcl_DStringValue(&message)));
    Tcl_DStringFree(&message);
    return failure;
}
