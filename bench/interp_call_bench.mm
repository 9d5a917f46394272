/*
 * interp_call_bench.mm --
 *
 *	The cost of the interpreter object's paths into Perl, each as a
 *	ratio to the same work done with Perl's API directly from C, the
 *	way a careful host does it (a scope of its own, errors trapped, a
 *	copy of the result), measured in the same run:
 *
 *	- -[BqVantleInterp call:args:errorCode:listContext:] of a trivial
 *	  compiled sub, against call_sv of the same code reference;
 *	- the same call of a sub given by its name (an NSString), against
 *	  call_pv of that name;
 *	- -[BqVantleInterp eval:errorCode:listContext:] of a short
 *	  expression, against eval_sv of the same text.
 *
 *	Each measured loop also reads the result wrapper's integer and
 *	frees it, as host code does with every result.  The interpreter
 *	object makes the interpreter itself.
 *
 *	    interp_call_bench [--ratios]
 *
 *	--ratios adds the machine-readable lines of bench_report.h.
 */
#import <Foundation/Foundation.h>

#include "BqVantleInterp.h"

#include "bench_report.h"

#include <stdio.h>
#include <stdlib.h>

/* Keeps the compiler from dropping the loops' results. */
static volatile IV sink;

/* The integer of the one value a trapped call or eval left on the stack
 * (0 after an error), read from a copy as a host keeps results; pops
 * what the call returned. */
static IV
TakeResult(pTHX_ I32 count)
{
    dSP;
    IV result = 0;
    if (count == 1 && !SvTRUE(ERRSV)) {
	SV *copy = newSVsv(POPs);
	result = SvIV(copy);
	SvREFCNT_dec(copy);
    } else {
	SP -= count;
    }
    PUTBACK;
    return result;
}

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
    IV result = TakeResult(aTHX_ count);
    FREETMPS;
    LEAVE;
    return result;
}

/* The same for a sub named by a C string. */
static IV
DirectCallByName(pTHX_ const char *name, SV *argument)
{
    dSP;
    ENTER;
    SAVETMPS;
    PUSHMARK(SP);
    XPUSHs(argument);
    PUTBACK;
    I32 count = call_pv(name, G_SCALAR | G_EVAL);
    IV result = TakeResult(aTHX_ count);
    FREETMPS;
    LEAVE;
    return result;
}

/* One evaluation of text in scalar context, the way a careful host
 * evaluates Perl text. */
static IV
DirectEval(pTHX_ SV *text)
{
    ENTER;
    SAVETMPS;
    I32 count = eval_sv(text, G_SCALAR);
    IV result = TakeResult(aTHX_ count);
    FREETMPS;
    LEAVE;
    return result;
}

/* One interpreter-object call of sub, as host code makes it. */
static IV
WrappedCall(BqVantleInterp *perl, id sub, BqVantleAV *args)
{
    PerlInterpreter *my_perl = (PerlInterpreter *) [perl perlInterpreter];
    int error = 0;
    ENTER;
    SAVETMPS;
    BqVantleSV *result = [perl call: sub args: args errorCode: &error listContext: NO];
    IV value = [result intValue];
    [result free];
    FREETMPS;
    LEAVE;
    return value;
}

/* One interpreter-object evaluation of text, as host code makes it. */
static IV
WrappedEval(BqVantleInterp *perl, const char *text)
{
    PerlInterpreter *my_perl = (PerlInterpreter *) [perl perlInterpreter];
    int error = 0;
    ENTER;
    SAVETMPS;
    BqVantleSV *result = [perl eval: text errorCode: &error listContext: NO];
    IV value = [result intValue];
    [result free];
    FREETMPS;
    LEAVE;
    return value;
}

/* One row of the table: the case, its baseline and both times. */
typedef struct Row {
    const char *what;
    const char *baseline;
    double baselineNs;
    double measuredNs;
} Row;

/* Rounds each comparison is split into, baseline and measured in turn;
 * each side keeps its fastest round, so a burst of load elsewhere on the
 * machine, or the clock speeding up, favours neither. */
enum { ROUNDS = 5 };

/* Nanoseconds per run of body, over count runs. */
template <typename Body>
static double
NsPerRun(long count, Body body)
{
    double start = BenchNow();
    for (long i = 0; i < count; i++) {
	sink = body();
    }
    return (BenchNow() - start) / count * 1e9;
}

/* Fills row with the fastest rounds of direct and wrapped, count runs
 * in all for each; fails the run when the two answer different values,
 * which would make the comparison meaningless. */
template <typename Direct, typename Wrapped>
static void
Compare(Row *row, long count, Direct direct, Wrapped wrapped)
{
    if (direct() != wrapped()) {
	fprintf(stderr, "%s: the baseline and the interpreter object disagree\n", row->what);
	exit(1);
    }
    row->baselineNs = row->measuredNs = 1e300;
    for (int round = 0; round < ROUNDS; round++) {
	double baseline = NsPerRun(count / ROUNDS, direct);
	double measured = NsPerRun(count / ROUNDS, wrapped);
	row->baselineNs = baseline < row->baselineNs ? baseline : row->baselineNs;
	row->measuredNs = measured < row->measuredNs ? measured : row->measuredNs;
    }
}

static void
PrintRows(const Row *rows, int count, int ratios)
{
    printf("%-44s %-8s %12s %12s %8s\n", "case", "baseline", "baseline ns", "interp ns",
	    "ratio");
    for (int i = 0; i < count; i++) {
	printf("%-44s %-8s %12.1f %12.1f %8.2f\n", rows[i].what, rows[i].baseline,
		rows[i].baselineNs, rows[i].measuredNs, rows[i].measuredNs / rows[i].baselineNs);
    }
    if (ratios) {
	for (int i = 0; i < count; i++) {
	    BenchPrintRatio("interp_call_bench", rows[i].what, rows[i].baseline,
		    rows[i].baselineNs, rows[i].measuredNs);
	}
    }
}

static void
Bench(BqVantleInterp *perl, int ratios)
{
    PerlInterpreter *my_perl = (PerlInterpreter *) [perl perlInterpreter];
    int error = 0;
    BqVantleSV *sub = [perl compile: "$_[0] + 1" errorCode: &error];
    [[perl eval: "sub main::increment { $_[0] + 1 } our $x = 41; 1" errorCode: &error] free];
    BqVantleAV *args = [[BqVantleAV alloc] init];
    BqVantleSV *argument = [[BqVantleSV alloc] init];
    [argument setIntValue: 41];
    [args push: argument];
    SV *code = [sub sValue];
    SV *plain = newSViv(41);
    SV *text = newSVpvs("$x + 1");
    NSString *name = @"main::increment";
    Row rows[3] = {
	{ "call:args:errorCode:listContext: NO", "call_sv", 0, 0 },
	{ "call:args:errorCode:listContext: NO, by name", "call_pv", 0, 0 },
	{ "eval:errorCode:listContext: NO of $x + 1", "eval_sv", 0, 0 },
    };

    Compare(&rows[0], 300000, [&] { return DirectCall(aTHX_ code, plain); },
	    [&] { return WrappedCall(perl, sub, args); });
    Compare(&rows[1], 300000, [&] { return DirectCallByName(aTHX_ "main::increment", plain); },
	    [&] { return WrappedCall(perl, name, args); });
    Compare(&rows[2], 100000, [&] { return DirectEval(aTHX_ text); },
	    [&] { return WrappedEval(perl, "$x + 1"); });

    PrintRows(rows, 3, ratios);
    SvREFCNT_dec(text);
    SvREFCNT_dec(plain);
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
