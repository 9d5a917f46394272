/*
 * msgsend_bench.mm --
 *
 *	The cost of the generic message send, as a ratio to the same message
 *	sent directly by compiled Objective-C, measured in the same run.  The
 *	type table's converters copy raw bytes, so what is measured is the
 *	send itself: method lookup, frame, argument conversion calls, the
 *	libffi call and the result conversion.
 *
 *	    msgsend_bench [--ratios]
 *
 *	--ratios adds the machine-readable lines of bench_report.h.
 */
#import <Foundation/Foundation.h>

#include "BqOsmo.h"
#include "CTypes.h"
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

	printf("%-34s %10s %10s %8s\n", "message", "direct ns", "generic ns", "ratio");
	printf("%-34s %10.1f %10.1f %8.2f\n", "-[NSString length]",
		direct / iterations * 1e9, generic / iterations * 1e9, generic / direct);
	printf("%-34s %10.1f %10.1f %8.2f\n", "-[NSDictionary objectForKey:]",
		directLookup / iterations * 1e9, genericLookup / iterations * 1e9,
		genericLookup / directLookup);
	if (ratios) {
	    BenchPrintRatio("msgsend_bench", "-[NSString length]", "direct send",
		    direct / iterations * 1e9, generic / iterations * 1e9);
	    BenchPrintRatio("msgsend_bench", "-[NSDictionary objectForKey:]", "direct send",
		    directLookup / iterations * 1e9, genericLookup / iterations * 1e9);
	}
    }
    return 0;
}
