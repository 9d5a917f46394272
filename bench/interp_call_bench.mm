/*
 * interp_call_bench.mm --
 *
 *	The cost of calling a trivial compiled Perl sub from Objective-C
 *	through -[BqVantleInterp call:args:errorCode:listContext:], as a
 *	ratio to calling the same sub with Perl's call_sv directly from C
 *	(with its own scope, G_EVAL and a copy of the result, as a careful
 *	host would), measured in the same run.  The interpreter object makes
 *	the interpreter itself.
 *
 *	    interp_call_bench [--ratios]
 *
 *	--ratios adds the machine-readable lines of bench_report.h.
 */
#import <Foundation/Foundation.h>

#include "BqVantleInterp.h"

#include "bench_report.h"

#include <stdio.h>

/* Keeps the compiler from dropping the loops' results. */
static volatile IV sink;

/* One call of code with argument, the way a careful host calls Perl. */
static IV
DirectCall(pTHX_ SV *code, SV *argument)
{
    dSP;
    ENTER;
    SAVETMPS;
    PUSHMARK(SP);
    XPUSHs(argument);
    PUTBACK;
    I32 count = call_sv(code, G_SCALAR | G_EVAL);
    SPAGAIN;
    IV result = 0;
    if (count == 1 && !SvTRUE(ERRSV)) {
	SV *copy = newSVsv(POPs);
	result = SvIV(copy);
	SvREFCNT_dec(copy);
    } else {
	SP -= count;
    }
    PUTBACK;
    FREETMPS;
    LEAVE;
    return result;
}

static void
Bench(BqVantleInterp *perl, int ratios)
{
    PerlInterpreter *my_perl = (PerlInterpreter *) [perl perlInterpreter];
    int error = 0;
    BqVantleSV *sub = [perl compile: "$_[0] + 1" errorCode: &error];
    BqVantleAV *args = [[BqVantleAV alloc] init];
    BqVantleSV *argument = [[BqVantleSV alloc] init];
    [argument setIntValue: 41];
    [args push: argument];
    SV *code = [sub sValue];
    SV *plain = sv_2mortal(newSViv(41));
    const long iterations = 300000;

    double start = BenchNow();
    for (long i = 0; i < iterations; i++) {
	sink = DirectCall(aTHX_ code, plain);
    }
    double direct = BenchNow() - start;

    start = BenchNow();
    for (long i = 0; i < iterations; i++) {
	ENTER;
	SAVETMPS;
	BqVantleSV *result = [perl call: sub args: args errorCode: &error listContext: NO];
	sink = [result intValue];
	[result free];
	FREETMPS;
	LEAVE;
    }
    double wrapped = BenchNow() - start;

    printf("%-44s %10s %10s %8s\n", "call of sub { $_[0] + 1 }", "call_sv ns",
	    "interp ns", "ratio");
    printf("%-44s %10.1f %10.1f %8.2f\n", "call:args:errorCode:listContext: NO",
	    direct / iterations * 1e9, wrapped / iterations * 1e9, wrapped / direct);
    if (ratios) {
	BenchPrintRatio("interp_call_bench", "call:args:errorCode:listContext: NO",
		"call_sv", direct / iterations * 1e9, wrapped / iterations * 1e9);
    }
    [argument free];
    [args free];
    [sub free];
}

int
main(int argc, char **argv)
{
    int bad;
    int ratios = BenchWantsRatios(argc, argv, &bad);
    if (bad) {
	return 2;
    }
    @autoreleasepool {
	BqVantleInterp *perl = [[BqVantleInterp alloc] init];
	Bench(perl, ratios);
	[perl release];
    }
    return 0;
}
