/*
 * DravikPerlError.mm --
 *
 *	Perl errors as NSStrings and exceptions (DravikPerlError.h).
 */
#import <Foundation/Foundation.h>

#include "DravikPerlError.h"
#include "VantlePriv.h"

/* An NSString of bytes in Perl's encoding (UTF-8 when utf8, else
 * Latin-1, which takes any bytes). */
static NSString *
StringOfBytes(const char *bytes, STRLEN length, int utf8)
{
    NSString *text = [[[NSString alloc] initWithBytes: bytes length: length
	encoding: utf8 ? NSUTF8StringEncoding : NSISOLatin1StringEncoding] autorelease];
    if (text == nil) {
	text = [[[NSString alloc] initWithBytes: bytes length: length
	    encoding: NSISOLatin1StringEncoding] autorelease];
    }
    return text;
}

NSString *
DravikPriv_ErrorText(pTHX_ SV *error)
{
    if (!SvROK(error)) {
	STRLEN length = 0;
	const char *bytes = SvPV_nomg(error, length);
	return StringOfBytes(bytes, length, SvUTF8(error) != 0);
    }
    Tcl_DString text;
    Tcl_DStringInit(&text);
    int utf8 = 0;
    /* A scope of its own: the copy and what stringifying makes go. */
    ENTER;
    SAVETMPS;
    SV *thrown = sv_mortalcopy(error);	/* the trapped run resets $@ */
    int ok = VantlePriv_Trapped(aTHX_ [&] {
	STRLEN length = 0;
	const char *bytes = SvPV(thrown, length);
	Tcl_DStringAppend(&text, bytes, (int) length);
	utf8 = DO_UTF8(thrown) != 0;
    });
    FREETMPS;
    LEAVE;
    NSString *message = ok
	? StringOfBytes(Tcl_DStringValue(&text), (STRLEN) Tcl_DStringLength(&text), utf8)
	: @"a Perl error object was thrown";
    Tcl_DStringFree(&text);
    return message;
}

void
DravikPriv_RaisePerlError(NSString *reason)
{
    [[NSException exceptionWithName: DRAVIK_PERL_ERROR reason: reason userInfo: nil] raise];
    abort();
}

void
DravikPriv_RaiseFailure(pTHX_ const char *doing, const char *subject, int died,
	Tcl_DString *errors)
{
    NSString *words = died ? DravikPriv_ErrorText(aTHX_ ERRSV)
	: StringOfBytes(Tcl_DStringValue(errors), (STRLEN) Tcl_DStringLength(errors), 1);
    if (errors != NULL) {
	Tcl_DStringFree(errors);
    }
    DravikPriv_RaisePerlError([NSString stringWithFormat: @"%s %s: %@", doing, subject, words]);
}
