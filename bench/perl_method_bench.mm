/*
 * perl_method_bench.mm --
 *
 *	The cost of a message from compiled Objective-C to a method defined
 *	in Perl (Vantle::Class), as a ratio to calling the method's sub
 *	straight from C with Perl's API, measured in the same run:
 *
 *	- baseline: call_sv of the sub `sub { $_[1] + 1 }` with the
 *	  receiver's handle and one new integer, in a scope of its own
 *	  (ENTER, SAVETMPS, PUSHMARK, the pushes, call_sv in scalar context,
 *	  POPi, FREETMPS, LEAVE);
 *	- measured: [adder addOne: x], a compiled send (objc_msg_lookup and
 *	  a call of the method's implementation) to the method
 *	  "int addOne: (int) x" whose sub is that same sub.
 *
 *	Both loops sum their results, which are checked.  Each side runs
 *	about a second, split into rounds taken in turn; each keeps its
 *	fastest round.
 *
 *	    perl_method_bench [--ratios]
 *
 *	--ratios adds the machine-readable lines of bench_report.h.
 */
#import <Foundation/Foundation.h>

#include "BqVantleInterp.h"

#include "bench_report.h"

#include <stdio.h>
#include <stdlib.h>

/* The class and its one method, defined by the interpreter (the object
 * is made there too; handles do not retain, so this program owns it). */
static const char *const DEFINITION =
    "package BenchAdder;\n"
    "use Vantle::Class 'BenchAdder';\n"
    "our $add_one = sub { $_[1] + 1 };\n"
    "Vantle::Class::add_method('BenchAdder', 'int addOne: (int) x', $add_one);\n"
    "our $adder = BenchAdder->alloc->init;\n"
    "1;\n";

/* The method, as compiled code declares it. */
@protocol BenchAdding
- (int) addOne: (int)x;
@end

/* Keeps the compiler from dropping the loops' results. */
static volatile long sink;

/* One call of code with self and x, the way C calls a Perl sub. */
static IV
DirectCall(pTHX_ SV *code, SV *self, int x)
{
    dSP;
    ENTER;
    SAVETMPS;
    PUSHMARK(SP);
    EXTEND(SP, 2);
    PUSHs(self);
    mPUSHi(x);
    PUTBACK;
    I32 count = call_sv(code, G_SCALAR);
    SPAGAIN;
    IV result = count == 1 ? POPi : 0;
    PUTBACK;
    FREETMPS;
    LEAVE;
    return result;
}

/* The sum of body(i) for i below count, and the seconds it took. */
template <typename Body>
static double
Run(long count, long *sum, Body body)
{
    long total = 0;
    double start = BenchNow();
    for (long i = 0; i < count; i++) {
	total += body((int) i);
    }
    double seconds = BenchNow() - start;
    *sum = total;
    sink = total;
    return seconds;
}

static int
Bench(BqVantleInterp *perl, int ratios)
{
    PerlInterpreter *my_perl = (PerlInterpreter *) [perl perlInterpreter];
    int error = 0;
    BqVantleVar *defined = [perl eval: DEFINITION errorCode: &error];
    if (error != 0) {
	fprintf(stderr, "perl_method_bench: %s\n", [defined descr]);
	return 1;
    }
    [defined free];
    BqVantleSV *codeVar = [perl getVar: "$BenchAdder::add_one"];
    BqVantleSV *adderVar = [perl getVar: "$BenchAdder::adder"];
    SV *code = [codeVar sValue];
    SV *self = [adderVar sValue];
    id<BenchAdding> adder = [adderVar idValue];

    auto direct = [&](int x) { return (long) DirectCall(aTHX_ code, self, x); };
    auto method = [&](int x) { return (long) [adder addOne: x]; };
    auto runDirect = [&](long count, long *sum) { return Run(count, sum, direct); };
    auto runMethod = [&](long count, long *sum) { return Run(count, sum, method); };
    long directCount = BenchRoundCount(runDirect);
    long methodCount = BenchRoundCount(runMethod);
    double baseline, measured;
    long directSum = 0, methodSum = 0;
    BenchAlternate(directCount, runDirect, methodCount, runMethod, &baseline, &directSum,
	    &measured, &methodSum);
    if (directSum != directCount * (directCount + 1) / 2
	    || methodSum != methodCount * (methodCount + 1) / 2) {
	fprintf(stderr, "perl_method_bench: wrong sums %ld of %ld calls (call_sv), "
		"%ld of %ld (method)\n", directSum, directCount, methodSum, methodCount);
	return 1;
    }

    const char *what = "ObjC -> Perl method (vs call_sv)";
    double baselineNs = baseline / (double) directCount * 1e9;
    double measuredNs = measured / (double) methodCount * 1e9;
    printf("%-36s %-8s %12s %12s %8s\n", "case", "baseline", "baseline ns", "method ns",
	    "ratio");
    printf("%-36s %-8s %12.1f %12.1f %8.2f\n", what, "call_sv", baselineNs, measuredNs,
	    measuredNs / baselineNs);
    printf("(%d rounds of %ld and %ld calls, fastest round kept)\n", BENCH_ROUNDS, directCount,
	    methodCount);
    if (ratios) {
	BenchPrintRatio("perl_method_bench", what, "call_sv", baselineNs, measuredNs);
    }

    [codeVar free];
    [adderVar free];
    [[perl eval: "undef $BenchAdder::adder; 1" errorCode: &error] free];
    [(id) adder release];
    return 0;
}

int
main(int argc, char **argv)
{
    int bad;
    int ratios = BenchWantsRatios(argc, argv, &bad);
    if (bad) {
	return 2;
    }
    int status;
    @autoreleasepool {
	BqVantleInterp *perl = [[BqVantleInterp alloc] init];
	status = Bench(perl, ratios);
	[perl release];
    }
    return status;
}
