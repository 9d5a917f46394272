/*
 * host.mm --
 *
 *	A host program built against an installed Vantle: its interpreter
 *	object makes an interpreter of its own, which must find Vantle.pm
 *	from the installed library alone.  It prints the result of "2 + 3",
 *	the file Vantle.pm was loaded from, and the length of an NSString
 *	made by a message from Perl.
 */
#import <Foundation/Foundation.h>

/* Hosts include the header either way. */
#ifdef HOST_INCLUDES_FLAT
#include "BqVantleInterp.h"
#else
#include <vantle/BqVantleInterp.h>
#endif

#include <stdio.h>

/* Prints what Perl text answered, or its error, and gives the wrapper up;
 * answers 1 when the text failed. */
static int
Show(BqVantleInterp *perl, const char *label, const char *text)
{
    int error = 0;
    BqVantleVar *value = [perl eval: text errorCode: &error];
    printf("%s: %s\n", label, value != nil ? [value descr] : "(nil)");
    [value free];
    return error;
}

int
main(void)
{
    int failed = 0;
    @autoreleasepool {
	BqVantleInterp *perl = [[BqVantleInterp alloc] init];
	failed |= Show(perl, "2 + 3", "2 + 3");
	failed |= Show(perl, "Vantle.pm", "$INC{'Vantle.pm'}");
	failed |= Show(perl, "length", "NSString->stringWithCString_('abc')->length");
	[perl release];
    }
    return failed;
}
