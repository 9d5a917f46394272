/*
 * bench_report.h --
 *
 *	What the benchmark programs share: a monotonic clock, and the
 *	machine-readable line each prints per case when run with --ratios,
 *	after its own table, for bench/run to collect:
 *
 *	    RATIO <tab> benchmark <tab> case <tab> baseline <tab>
 *	        baseline ns <tab> measured ns <tab> ratio
 *
 *	Fields hold no tabs or newlines; times are per operation.
 */
#ifndef BENCH_REPORT_H
#define BENCH_REPORT_H

#include <stdio.h>
#include <string.h>
#include <time.h>

/* Seconds on the monotonic clock. */
static inline double
BenchNow(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double) t.tv_sec + (double) t.tv_nsec * 1e-9;
}

/* Whether the command line asks for the RATIO lines; any other argument
 * is refused with the usage on stderr (*bad set). */
static inline int
BenchWantsRatios(int argc, char **argv, int *bad)
{
    *bad = 0;
    if (argc == 1) {
	return 0;
    }
    if (argc == 2 && strcmp(argv[1], "--ratios") == 0) {
	return 1;
    }
    fprintf(stderr, "usage: %s [--ratios]\n", argv[0]);
    *bad = 1;
    return 0;
}

/* One RATIO line. */
static inline void
BenchPrintRatio(const char *benchmark, const char *what, const char *baseline,
	double baselineNs, double measuredNs)
{
    printf("RATIO\t%s\t%s\t%s\t%.1f\t%.1f\t%.3f\n", benchmark, what, baseline, baselineNs,
	    measuredNs, measuredNs / baselineNs);
}

#endif
