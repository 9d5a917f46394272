/*
 * interp_call_bench.mm --
 *
 *	The cost of calling a trivial compiled Perl sub from Objective-C
 *	through -[BqVantleInterp call:args:errorCode:listContext:], as a
 *	ratio to calling the same sub with Perl's call_sv directly from C
 *	(with its own scope, G_EVAL and a copy of the result, as a careful
 *	host would), measured in the same run.  The interpreter is embedded
 *	and loads the module with `use Vantle`.
 */
#import <Foundation/Foundation.h>

#include "BqVantleInterp.h"
#include "Vantle.h"

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

extern char **environ;

EXTERN_C void boot_DynaLoader(pTHX_ CV *cv);

static void
InitXS(pTHX)
{
    newXS("DynaLoader::boot_DynaLoader", boot_DynaLoader, __FILE__);
}

static double
Now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double) t.tv_sec + (double) t.tv_nsec * 1e-9;
}

/* <blib>/arch/auto/Vantle/Vantle.so gives <blib>. */
static int
BlibDirectory(char *buffer, size_t size)
{
    Dl_info info;
    if (dladdr((void *) boot_Vantle, &info) == 0 || info.dli_fname == NULL
	    || strlen(info.dli_fname) >= size) {
	return 0;
    }
    strcpy(buffer, info.dli_fname);
    for (int i = 0; i < 4; i++) {
	char *slash = strrchr(buffer, '/');
	if (slash == NULL) {
	    return 0;
	}
	*slash = '\0';
    }
    return 1;
}

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
Bench(PerlInterpreter *my_perl)
{
    BqVantleInterp *perl = [BqVantleInterp defaultInterp];
    int error = 0;
    BqVantleSV *sub = [perl compile: "$_[0] + 1" errorCode: &error];
    BqVantleAV *args = [[BqVantleAV alloc] init];
    BqVantleSV *argument = [[BqVantleSV alloc] init];
    [argument setIntValue: 41];
    [args push: argument];
    SV *code = [sub sValue];
    SV *plain = sv_2mortal(newSViv(41));
    const long iterations = 300000;

    double start = Now();
    for (long i = 0; i < iterations; i++) {
	sink = DirectCall(aTHX_ code, plain);
    }
    double direct = Now() - start;

    start = Now();
    for (long i = 0; i < iterations; i++) {
	ENTER;
	SAVETMPS;
	BqVantleSV *result = [perl call: sub args: args errorCode: &error listContext: NO];
	sink = [result intValue];
	[result free];
	FREETMPS;
	LEAVE;
    }
    double wrapped = Now() - start;

    printf("%-44s %10s %10s %8s\n", "call of sub { $_[0] + 1 }", "call_sv ns",
	    "interp ns", "ratio");
    printf("%-44s %10.1f %10.1f %8.2f\n", "call:args:errorCode:listContext: NO",
	    direct / iterations * 1e9, wrapped / iterations * 1e9, wrapped / direct);
    [argument free];
    [args free];
    [sub free];
}

int
main(int, char **, char **env)
{
    char blib[4096], lib[4200], arch[4200];
    if (!BlibDirectory(blib, sizeof blib)) {
	fprintf(stderr, "interp_call_bench: cannot find the module's directory\n");
	return 1;
    }
    snprintf(lib, sizeof lib, "-I%s/lib", blib);
    snprintf(arch, sizeof arch, "-I%s/arch", blib);
    char program[] = "interp_call_bench", useVantle[] = "-MVantle", dashE[] = "-e", zero[] = "0";
    char *arguments[] = { program, lib, arch, useVantle, dashE, zero, NULL };
    int perlArgc = 6;
    char **perlArgv = arguments;
    PERL_SYS_INIT3(&perlArgc, &perlArgv, &env);
    PerlInterpreter *my_perl = perl_alloc();
    PERL_SET_CONTEXT(my_perl);
    perl_construct(my_perl);
    if (perl_parse(my_perl, InitXS, perlArgc, perlArgv, environ) != 0 || perl_run(my_perl) != 0) {
	fprintf(stderr, "interp_call_bench: perl could not load Vantle\n");
	return 1;
    }
    @autoreleasepool {
	ENTER;
	SAVETMPS;
	Bench(my_perl);
	FREETMPS;
	LEAVE;
    }
    return 0;
}
