/*
 * interp_tour.mm --
 *
 *	A host program that drives Perl from Objective-C through the
 *	interpreter object alone: the object makes its own interpreter with
 *	the module loaded, then the program evaluates Perl text, compiles a
 *	sub and calls it, reads a Perl variable, shows a Perl error coming
 *	back, and lets Perl see an object variable of its own.  It prints
 *	what it does.
 */
#import <Foundation/Foundation.h>

#include "BqVantleInterp.h"

#include <stdio.h>

/* Prints a wrapper's description, then gives the wrapper up. */
static void
Show(const char *what, BqVantleVar *value)
{
    printf("%-44s %s\n", what, value != nil ? [value descr] : "(nil)");
    [value free];
}

static void
Tour(BqVantleInterp *perl)
{
    int error = 0;

    Show("eval \"2 ** 10\"", [perl eval: "2 ** 10" errorCode: &error]);
    BqVantleSV *big = [perl eval: "2 ** 40 + 1" errorCode: &error];
    printf("%-44s %lld\n", "eval \"2 ** 40 + 1\" as a long long", [big longLongValue]);
    [big free];
    BqVantleAV *words = [perl eval: "map { ucfirst } qw(objective perl)" errorCode: &error];
    printf("eval of a list: %d values\n%s", [words count], [words descr]);
    [words free];

    BqVantleSV *join = [perl compile: "join '-', reverse @_" errorCode: &error];
    BqVantleAV *args = [[BqVantleAV alloc] init];
    static const char *const words3[] = { "one", "two", "three" };
    for (const char *word : words3) {
	BqVantleSV *arg = [[BqVantleSV alloc] init];
	[arg setStringValue: word];
	[args push: arg];
	[arg free];
    }
    Show("call of a compiled sub on (one two three)",
	    [perl call: join args: args errorCode: &error listContext: NO]);
    [args free];
    [join free];

    [[perl eval: "our %Tour = (language => 'Perl', version => sprintf '%vd', $^V)" errorCode: &error] free];
    BqVantleHV *tour = [perl getVar: "%Tour"];
    BqVantleSV *language = [tour fetchKey: "language"];
    printf("%-44s %s\n", "$Tour{language} read from Objective-C", [language stringValue]);
    [language free];
    [tour free];

    BqVantleVar *failure = [perl eval: "die \"no such thing\\n\"" errorCode: &error];
    printf("%-44s code %d, $@ = %s", "eval of a die", error, [failure descr]);
    [failure free];

    id greeting = @"hello from Objective-C";
    [perl linkObjectAt: &greeting asVariableName: "main::greeting" readOnly: YES];
    Show("Perl reads a linked object variable",
	    [perl eval: "$main::greeting->length . ' characters'" errorCode: &error]);
    greeting = @"changed by the host";
    Show("... after the host changed it", [perl eval: "\"$main::greeting\"" errorCode: &error]);
}

int
main(void)
{
    @autoreleasepool {
	BqVantleInterp *perl = [[BqVantleInterp alloc] init];
	Tour(perl);
	[perl release];
    }
    return 0;
}
