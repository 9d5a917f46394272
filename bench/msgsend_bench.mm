/*
 * msgsend_bench.mm --
 *
 *	The cost of the generic message send, as a ratio to the same message
 *	sent directly by compiled Objective-C, measured in the same run.  The
 *	type table's converters copy raw bytes, so what is measured is the
 *	send itself: method lookup, frame, argument conversion calls, the
 *	libffi call and the result conversion.
 *
 *	The forwarding cases send a message that their receiver answers
 *	only through -methodSignatureForSelector: and -forwardInvocation:;
 *	their baseline is the same message sent by compiled code, which goes
 *	through the same forwarding machinery of GNUstep, so the ratio is
 *	what the generic send adds to a forwarded message.  The generic send
 *	asks the receiver for its signature on every send (GNUstep's
 *	forwarding asks again), except for a class declared to answer alike
 *	for all its instances (BqOsmo_SetClassWideSignatures): the second
 *	case.
 *
 *	    msgsend_bench [--ratios]
 *
 *	--ratios adds the machine-readable lines of bench_report.h.
 */
#import <Foundation/Foundation.h>

#include "BqOsmo.h"
#include "CTypes.h"
#include "ForwardingCache.h"
#include "MsgSend.h"
#include "TypeEncoding.h"

#include "bench_report.h"

#include <stdio.h>
#include <string.h>

static int
CopyToC(void *, Tcl_DString *, CTypeTable *, void *ivalue, void *cstorage, int,
	const char *type, CTypeEntry *, unsigned)
{
    memcpy(cstorage, ivalue, (size_t) BqTypeSpec_SizeOfType(type));
    return 0;
}

static int
CopyFromC(void *, Tcl_DString *, CTypeTable *, void *ivalue, void *cstorage, int,
	const char *type, CTypeEntry *, unsigned)
{
    memcpy(ivalue, cstorage, (size_t) BqTypeSpec_SizeOfType(type));
    return 0;
}

/* Keeps the compiler from dropping the direct loop. */
static volatile NSUInteger sink;

/* What the forwarding receiver answers, as compiled code sees it. */
@protocol BenchForwarded
- (int) tripled: (int)x;
@end

/* Answers -tripled: only through forwarding. */
@interface BenchForwarder : NSObject
@end

@implementation BenchForwarder
- (NSMethodSignature *) methodSignatureForSelector: (SEL)selector
{
    if (sel_isEqual(selector, @selector(tripled:))) {
	return [NSMethodSignature signatureWithObjCTypes: "i@:i"];
    }
    return [super methodSignatureForSelector: selector];
}

- (void) forwardInvocation: (NSInvocation *)invocation
{
    int x;
    [invocation getArgument: &x atIndex: 2];
    int result = x * 3;
    [invocation setReturnValue: &result];
}
@end

/* The same, declared to answer alike for every instance. */
@interface BenchClassWideForwarder : BenchForwarder
@end
@implementation BenchClassWideForwarder
@end

/* Sends -tripled: count times directly, in a pool of its own (forwarding
 * autoreleases what it makes); answers the seconds taken. */
static double
TimeDirectForwarded(id<BenchForwarded> forwarder, long count)
{
    double start = BenchNow();
    @autoreleasepool {
	for (long i = 0; i < count; i++) {
	    sink = (NSUInteger) [forwarder tripled: 14];
	}
    }
    return BenchNow() - start;
}

/* The same through the generic send; *tripled gets the last answer. */
static double
TimeGenericForwarded(CTypeTable *table, id<BenchForwarded> forwarder, long count,
	Tcl_DString *errors, int *tripled)
{
    int x = 14;
    void *argv[3] = { NULL, NULL, &x };
    SEL selector = @selector(tripled:);
    double start = BenchNow();
    @autoreleasepool {
	for (long i = 0; i < count; i++) {
	    BqOsmo_MsgSend(NULL, errors, table, 0, forwarder, selector, NULL, 3, argv, tripled);
	}
    }
    return BenchNow() - start;
}

/* Times a forwarded message, sent directly and through the generic send
 * in alternating rounds, so that a change in the machine's load weighs on
 * both alike; answers 0, or 1 when a generic send failed or answered
 * wrong. */
static int
TimeForwarded(CTypeTable *table, id<BenchForwarded> forwarder, long iterations, double *direct,
	double *generic)
{
    const long perRound = 1000;
    int tripled = 0;
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    *direct = 0;
    *generic = 0;
    for (long i = 0; i < iterations; i += perRound) {
	*direct += TimeDirectForwarded(forwarder, perRound);
	*generic += TimeGenericForwarded(table, forwarder, perRound, &errors, &tripled);
    }
    int failed = Tcl_DStringLength(&errors) > 0 || tripled != 42;
    if (failed) {
	fprintf(stderr, "msgsend_bench: forwarded send failed: %s (answered %d)\n",
		Tcl_DStringValue(&errors), tripled);
    }
    Tcl_DStringFree(&errors);
    return failed;
}

/* One row of the table, and its RATIO line when asked for. */
static void
Report(int ratios, const char *what, const char *baseline, double direct, double generic,
	long iterations)
{
    double directNs = direct / (double) iterations * 1e9;
    double genericNs = generic / (double) iterations * 1e9;
    printf("%-42s %10.1f %10.1f %8.2f\n", what, directNs, genericNs, generic / direct);
    if (ratios) {
	BenchPrintRatio("msgsend_bench", what, baseline, directNs, genericNs);
    }
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
	BqOsmo_Init();
	CTypeTable *table = BqOsmo_NewCTypeTable("bench", NULL, NULL, NULL, NULL, NULL,
		CopyToC, CopyFromC, 0);
	NSString *string = @"a string of some length";
	NSMutableDictionary *dictionary = [NSMutableDictionary dictionary];
	[dictionary setObject: @"value" forKey: @"key"];
	const long iterations = 2000000;

	double start = BenchNow();
	for (long i = 0; i < iterations; i++) {
	    sink = [string length];
	}
	double direct = BenchNow() - start;

	Tcl_DString errors;
	Tcl_DStringInit(&errors);
	NSUInteger length = 0;
	void *argv[2] = { NULL, NULL };
	SEL lengthSelector = @selector(length);
	start = BenchNow();
	for (long i = 0; i < iterations; i++) {
	    BqOsmo_MsgSend(NULL, &errors, table, 0, string, lengthSelector, NULL, 2, argv, &length);
	}
	double generic = BenchNow() - start;
	sink = length;

	id key = @"key";
	id found = nil;
	void *argv3[3] = { NULL, NULL, &key };
	SEL objectForKey = @selector(objectForKey:);
	start = BenchNow();
	for (long i = 0; i < iterations; i++) {
	    sink = (NSUInteger) [dictionary objectForKey: key];
	}
	double directLookup = BenchNow() - start;
	start = BenchNow();
	for (long i = 0; i < iterations; i++) {
	    BqOsmo_MsgSend(NULL, &errors, table, 0, dictionary, objectForKey, NULL, 3, argv3, &found);
	}
	double genericLookup = BenchNow() - start;

	Tcl_DStringFree(&errors);

	/* Forwarding is some microseconds a message: fewer rounds. */
	const long forwardedIterations = 100000;
	BqOsmo_SetClassWideSignatures([BenchClassWideForwarder class]);
	id<BenchForwarded> forwarder = (id<BenchForwarded>) [[BenchForwarder alloc] init];
	id<BenchForwarded> classWide = (id<BenchForwarded>) [[BenchClassWideForwarder alloc] init];
	double directForwarded, genericForwarded, directClassWide, genericClassWide;
	int failed = TimeForwarded(table, forwarder, forwardedIterations, &directForwarded,
		&genericForwarded);
	failed |= TimeForwarded(table, classWide, forwardedIterations, &directClassWide,
		&genericClassWide);
	[(id) forwarder release];
	[(id) classWide release];

	printf("%-42s %10s %10s %8s\n", "message", "direct ns", "generic ns", "ratio");
	Report(ratios, "-[NSString length]", "direct send", direct, generic, iterations);
	Report(ratios, "-[NSDictionary objectForKey:]", "direct send", directLookup,
		genericLookup, iterations);
	Report(ratios, "send to a forwarding receiver", "direct forwarded send", directForwarded,
		genericForwarded, forwardedIterations);
	Report(ratios, "send to a forwarding receiver, class-wide", "direct forwarded send",
		directClassWide, genericClassWide, forwardedIterations);
	if (failed) {
	    return 1;
	}
    }
    return 0;
}
