/*
 * interp_tour.mm --
 *
 *	A host program that embeds Perl and then drives it from Objective-C
 *	through the interpreter object alone: it evaluates Perl text, compiles
 *	a sub and calls it, reads a Perl variable, shows a Perl error coming
 *	back, and lets Perl see an object variable of its own.  It prints
 *	what it does.
 *
 *	The module is loaded with `use Vantle` from the blib directory of
 *	the library this program is linked with.
 */
#import <Foundation/Foundation.h>

#include "BqVantleInterp.h"
#include "Vantle.h"

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

extern char **environ;

EXTERN_C void boot_DynaLoader(pTHX_ CV *cv);

/* Lets `use Vantle` load shared objects, as in perlembed. */
static void
InitXS(pTHX)
{
    newXS("DynaLoader::boot_DynaLoader", boot_DynaLoader, __FILE__);
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

/* Prints a wrapper's description, then gives the wrapper up. */
static void
Show(const char *what, BqVantleVar *value)
{
    printf("%-44s %s\n", what, value != nil ? [value descr] : "(nil)");
    [value free];
}

static void
Tour(void)
{
    BqVantleInterp *perl = [BqVantleInterp defaultInterp];
    int error = 0;

    Show("eval \"2 ** 10\"", [perl eval: "2 ** 10" errorCode: &error]);
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

    [perl eval: "our %Tour = (language => 'Perl', version => sprintf '%vd', $^V)" errorCode: &error];
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
main(int argc, char **argv, char **env)
{
    (void) argc;
    (void) argv;
    char blib[4096];
    if (!BlibDirectory(blib, sizeof blib)) {
	fprintf(stderr, "interp_tour: cannot find the module's directory\n");
	return 1;
    }
    char lib[4200], arch[4200];
    snprintf(lib, sizeof lib, "-I%s/lib", blib);
    snprintf(arch, sizeof arch, "-I%s/arch", blib);
    char program[] = "interp_tour", useVantle[] = "-MVantle", dashE[] = "-e", zero[] = "0";
    char *arguments[] = { program, lib, arch, useVantle, dashE, zero, NULL };
    int perlArgc = 6;
    char **perlArgv = arguments;
    PERL_SYS_INIT3(&perlArgc, &perlArgv, &env);
    PerlInterpreter *my_perl = perl_alloc();
    PERL_SET_CONTEXT(my_perl);
    perl_construct(my_perl);
    PL_exit_flags |= PERL_EXIT_DESTRUCT_END;
    if (perl_parse(my_perl, InitXS, perlArgc, perlArgv, environ) != 0 || perl_run(my_perl) != 0) {
	fprintf(stderr, "interp_tour: perl could not load Vantle\n");
	return 1;
    }
    @autoreleasepool {
	ENTER;
	SAVETMPS;
	Tour();
	FREETMPS;
	LEAVE;
    }
    perl_destruct(my_perl);
    perl_free(my_perl);
    PERL_SYS_TERM();
    return 0;
}
