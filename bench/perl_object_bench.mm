/*
 * perl_object_bench.mm --
 *
 *	The cost of calling a Perl method of a BqPerlObject from compiled
 *	Objective-C, as a ratio to calling the same method straight from C
 *	with Perl's API, measured in the same run:
 *
 *	- baseline: call_method of "addOne_" with the object's blessed
 *	  reference and one new integer, in a scope of its own (ENTER,
 *	  SAVETMPS, PUSHMARK, the pushes, call_method in scalar context,
 *	  POPi, FREETMPS, LEAVE);
 *	- invoke: -invokeMethod:withArgs:classMethod:listContext: of that
 *	  method with an array of one NSNumber, in scalar context;
 *	- forward: [host addOne: number], a message the host class does not
 *	  implement, which the runtime forwards (methodSignatureForSelector:,
 *	  an NSInvocation, forwardInvocation:) and the forwarding functions
 *	  answer by the same method;
 *	- forwarding floor: the same message to a host whose
 *	  forwardInvocation: only sets a result (number + 1) and whose
 *	  signature is made once: what the runtime's and Foundation's
 *	  forwarding cost before any Perl work, for telling how much of the
 *	  forwarded case is ours.
 *
 *	The method is `sub { $_[1] + 1 }`.  The argument arrays and numbers
 *	are made before the clock starts (1024 of them, used in turn); the
 *	autoreleased results are drained every 1024 calls, inside the
 *	measured time.  Each loop sums the results, which are checked.  Each
 *	side runs about a second, split into rounds taken in turn; each keeps
 *	its fastest round.
 *
 *	    perl_object_bench [--ratios]
 *
 *	--ratios adds the machine-readable lines of bench_report.h.
 */
#import <Foundation/Foundation.h>

#include "BqPerlObject.h"
#include "BqVantleInterp.h"
#include "DravikForward.h"

#include "bench_report.h"

#include <stdio.h>
#include <stdlib.h>

/* The package and its one method. */
static const char *const DEFINITION =
    "package BenchObject;\n"
    "sub addOne_ { $_[1] + 1 }\n"
    "1;\n";

/* Argument sets made in advance, used in turn. */
enum { ARGUMENT_SETS = 1024 };

/* A host whose undeclared messages its Perl object answers, as the web
 * framework's components do. */
@interface BenchHost : NSObject {
    BqPerlObject *_perl;
}
- (id) initWithPerlObject: (BqPerlObject *)perl;
@end

@implementation BenchHost
- (id) initWithPerlObject: (BqPerlObject *)perl
{
    if ((self = [super init]) != nil) {
	_perl = [perl retain];
    }
    return self;
}

- (void) dealloc
{
    [_perl release];
    [super dealloc];
}

- (BOOL) _isVar: (NSString *)key
{
    (void) key;
    return NO;
}

- (BOOL) respondsToSelector: (SEL)selector
{
    return [super respondsToSelector: selector]
	|| Dravik_RespondsToSelector(self, _perl, selector);
}

- (NSMethodSignature *) methodSignatureForSelector: (SEL)selector
{
    NSMethodSignature *signature = [super methodSignatureForSelector: selector];
    return signature != nil ? signature
	: Dravik_MethodSignatureForSelector(self, _perl, selector, @"BenchHost Error");
}

- (void) forwardInvocation: (NSInvocation *)invocation
{
    Dravik_ForwardInvocation(self, _perl, invocation, @"BenchHost Error");
}
@end

/* A host that answers the forwarded message itself, without Perl. */
@interface BenchFloorHost : NSObject {
    NSMethodSignature *_signature;
}
@end

@implementation BenchFloorHost
- (id) init
{
    if ((self = [super init]) != nil) {
	_signature = [[NSMethodSignature signatureWithObjCTypes: "@@:@"] retain];
    }
    return self;
}

- (void) dealloc
{
    [_signature release];
    [super dealloc];
}

- (NSMethodSignature *) methodSignatureForSelector: (SEL)selector
{
    NSMethodSignature *signature = [super methodSignatureForSelector: selector];
    return signature != nil ? signature : _signature;
}

- (void) forwardInvocation: (NSInvocation *)invocation
{
    id argument = nil;
    [invocation getArgument: &argument atIndex: 2];
    id result = [NSNumber numberWithInt: [argument intValue] + 1];
    [invocation setReturnValue: &result];
}
@end

/* The message, as compiled callers declare it. */
@protocol BenchAdding
- (id) addOne: (id)x;
@end

/* Keeps the compiler from dropping the loops' results. */
static volatile long sink;

/* One call of the method with self and x, the way C calls a Perl method. */
static IV
DirectCall(pTHX_ SV *self, int x)
{
    dSP;
    ENTER;
    SAVETMPS;
    PUSHMARK(SP);
    EXTEND(SP, 2);
    PUSHs(self);
    mPUSHi(x);
    PUTBACK;
    I32 count = call_method("addOne_", G_SCALAR);
    SPAGAIN;
    IV result = count == 1 ? POPi : 0;
    PUTBACK;
    FREETMPS;
    LEAVE;
    return result;
}

/* The sum of body(i) for i below count, and the seconds it took; a pool
 * takes the autoreleased results, drained every ARGUMENT_SETS calls. */
template <typename Body>
static double
Run(long count, long *sum, Body body)
{
    long total = 0;
    double start = BenchNow();
    NSAutoreleasePool *pool = [[NSAutoreleasePool alloc] init];
    for (long i = 0; i < count; i++) {
	total += body((int) (i % ARGUMENT_SETS));
	if (i % ARGUMENT_SETS == ARGUMENT_SETS - 1) {
	    [pool release];
	    pool = [[NSAutoreleasePool alloc] init];
	}
    }
    [pool release];
    double seconds = BenchNow() - start;
    *sum = total;
    sink = total;
    return seconds;
}

/* The sum the loops must give for count calls. */
static long
ExpectedSum(long count)
{
    long rounds = count / ARGUMENT_SETS, rest = count % ARGUMENT_SETS;
    return rounds * ((long) ARGUMENT_SETS * (ARGUMENT_SETS + 1) / 2) + rest * (rest + 1) / 2;
}

/* Measures one case against the baseline; prints its line (and its
 * RATIO line).  Answers 0, or 1 when a sum was wrong. */
template <typename Direct, typename Measured>
static int
Compare(const char *what, Direct direct, Measured measured, int ratios)
{
    auto runDirect = [&](long count, long *sum) { return Run(count, sum, direct); };
    auto runMeasured = [&](long count, long *sum) { return Run(count, sum, measured); };
    long directCount = BenchRoundCount(runDirect);
    long measuredCount = BenchRoundCount(runMeasured);
    double baseline, best;
    long directSum = 0, measuredSum = 0;
    BenchAlternate(directCount, runDirect, measuredCount, runMeasured, &baseline, &directSum,
	    &best, &measuredSum);
    if (directSum != ExpectedSum(directCount) || measuredSum != ExpectedSum(measuredCount)) {
	fprintf(stderr, "perl_object_bench: %s: wrong sums %ld of %ld calls (call_method), "
		"%ld of %ld\n", what, directSum, directCount, measuredSum, measuredCount);
	return 1;
    }
    double baselineNs = baseline / (double) directCount * 1e9;
    double measuredNs = best / (double) measuredCount * 1e9;
    printf("%-44s %-12s %12.1f %12.1f %8.2f\n", what, "call_method", baselineNs, measuredNs,
	    measuredNs / baselineNs);
    if (ratios) {
	BenchPrintRatio("perl_object_bench", what, "call_method", baselineNs, measuredNs);
    }
    return 0;
}

static int
Bench(BqVantleInterp *perl, int ratios)
{
    PerlInterpreter *my_perl = (PerlInterpreter *) [perl perlInterpreter];
    int error = 0;
    BqVantleVar *defined = [perl eval: DEFINITION errorCode: &error];
    if (error != 0) {
	fprintf(stderr, "perl_object_bench: %s\n", [defined descr]);
	return 1;
    }
    [defined free];
    BqPerlObject *object = [[BqPerlObject alloc] initInInterp: perl stashName: @"BenchObject"
							magic: NO];
    BenchHost *host = [[BenchHost alloc] initWithPerlObject: object];
    id<BenchAdding> adder = (id<BenchAdding>) host;
    BenchFloorHost *floorHost = [[BenchFloorHost alloc] init];
    id<BenchAdding> floorAdder = (id<BenchAdding>) floorHost;
    SV *self = [object sValue];
    NSMutableArray *numbers = [[NSMutableArray alloc] init];
    NSMutableArray *argumentSets = [[NSMutableArray alloc] init];
    for (int i = 0; i < ARGUMENT_SETS; i++) {
	NSNumber *number = [NSNumber numberWithInt: i];
	[numbers addObject: number];
	[argumentSets addObject: [NSArray arrayWithObject: number]];
    }

    auto direct = [&](int x) { return (long) DirectCall(aTHX_ self, x); };
    auto invoke = [&](int x) {
	return (long) [[object invokeMethod: "addOne_"
				   withArgs: [argumentSets objectAtIndex: (NSUInteger) x]
				classMethod: NO listContext: NO] intValue];
    };
    auto forward = [&](int x) {
	return (long) [[adder addOne: [numbers objectAtIndex: (NSUInteger) x]] intValue];
    };
    auto floor = [&](int x) {
	return (long) [[floorAdder addOne: [numbers objectAtIndex: (NSUInteger) x]] intValue];
    };
    printf("%-44s %-12s %12s %12s %8s\n", "case", "baseline", "baseline ns", "measured ns",
	    "ratio");
    int status = Compare("invokeMethod (vs call_method)", direct, invoke, ratios)
	| Compare("forwarded message (vs call_method)", direct, forward, ratios)
	| Compare("forwarding floor, no Perl (vs call_method)", direct, floor, ratios);
    printf("(%d rounds per case, fastest round kept)\n", BENCH_ROUNDS);

    [argumentSets release];
    [numbers release];
    [floorHost release];
    [host release];
    [object release];
    return status;
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
