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

#ifdef __cplusplus
/* Rounds each side's second is split into, baseline and measured in
 * turn, so a burst of load elsewhere favours neither. */
enum { BENCH_ROUNDS = 5 };

/* Calls per round for about a second per side, from a short trial of
 * run(count, &sum), which answers the seconds count calls took. */
template <typename Runner>
static long
BenchRoundCount(Runner run)
{
    long sum;
    long trial = 20000;
    double seconds = run(trial, &sum);
    long count = (long) ((double) trial / (seconds > 1e-6 ? seconds : 1e-6) / BENCH_ROUNDS);
    return count > 1000 ? count : 1000;
}

/* Runs the baseline and the measured side in turn for BENCH_ROUNDS
 * rounds of their counts; keeps each side's fastest round (seconds) and
 * the sums of its last round. */
template <typename Baseline, typename Measured>
static void
BenchAlternate(long baselineCount, Baseline baseline, long measuredCount, Measured measured,
	double *baselineBest, long *baselineSum, double *measuredBest, long *measuredSum)
{
    *baselineBest = *measuredBest = 1e300;
    for (int round = 0; round < BENCH_ROUNDS; round++) {
	double seconds = baseline(baselineCount, baselineSum);
	*baselineBest = seconds < *baselineBest ? seconds : *baselineBest;
	seconds = measured(measuredCount, measuredSum);
	*measuredBest = seconds < *measuredBest ? seconds : *measuredBest;
    }
}
#endif

#endif
