/*
 * EmbeddedPerl.mm --
 *
 *	Embeds Perl for the tests.  The module is loaded by `use Vantle`
 *	from the blib directory that holds the library this program runs
 *	with, so Perl's loader maps that very file again and the module's
 *	Perl source (Vantle.pm) is there too.  A program part that already
 *	embedded Perl keeps its interpreter; Vantle.pm is then loaded into it.
 */
#include "EmbeddedPerl.h"
#include "Vantle.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

extern char **environ;

EXTERN_C void boot_DynaLoader(pTHX_ CV *cv);

/* Lets `use Vantle` load shared objects, as in perlembed. */
static void
InitXS(pTHX)
{
    newXS("DynaLoader::boot_DynaLoader", boot_DynaLoader, __FILE__);
}

/*
 * BlibDirectory --
 *	The blib directory of the library: Vantle.so lives in
 *	<blib>/arch/auto/Vantle.
 */
static std::string
BlibDirectory()
{
    Dl_info info;
    if (dladdr((void *) boot_Vantle, &info) == 0 || info.dli_fname == NULL) {
	fprintf(stderr, "EmbeddedPerl: cannot locate the Vantle library\n");
	abort();
    }
    std::string path = info.dli_fname;
    for (int i = 0; i < 4; i++) {
	path = path.substr(0, path.rfind('/'));
    }
    return path;
}

static void
MakeCurrent(PerlInterpreter *perl)
{
    BqCPerl_SetInterp(perl);
    PERL_SET_CONTEXT(perl);
}

/* Loads Vantle.pm into an interpreter that booted the module directly. */
static void
RequireModule(PerlInterpreter *my_perl, const std::string &blib)
{
    std::string code = "unshift @INC, '" + blib + "/lib', '" + blib + "/arch';"
	" local $SIG{__WARN__} = sub {}; require Vantle; 1";
    if (!SvTRUE(eval_pv(code.c_str(), FALSE))) {
	fprintf(stderr, "EmbeddedPerl: require Vantle: %s\n", SvPV_nolen(ERRSV));
	abort();
    }
}

PerlInterpreter *
EmbeddedPerl(void)
{
    static PerlInterpreter *perl;
    if (perl != NULL) {
	MakeCurrent(perl);
	return perl;
    }
    std::string blib = BlibDirectory();
    if (BqCPerl_GetInterp() != NULL) {
	perl = BqCPerl_GetInterp();
	MakeCurrent(perl);
	RequireModule(perl, blib);
	return perl;
    }

    static std::string lib = "-I" + blib + "/lib", arch = "-I" + blib + "/arch";
    static char program[] = "", useVantle[] = "-MVantle", dashE[] = "-e", zero[] = "0";
    static char *arguments[] = { program, &lib[0], &arch[0], useVantle, dashE, zero, NULL };
    int argc = 6;
    char **argv = arguments;
    char **env = environ;
    PERL_SYS_INIT3(&argc, &argv, &env);
    perl = perl_alloc();
    MakeCurrent(perl);
    perl_construct(perl);
    PerlInterpreter *my_perl = perl;
    PL_exit_flags |= PERL_EXIT_DESTRUCT_END;
    if (perl_parse(perl, InitXS, argc, argv, NULL) != 0 || perl_run(perl) != 0) {
	fprintf(stderr, "EmbeddedPerl: perl could not load Vantle\n");
	abort();
    }
    MakeCurrent(perl);
    return perl;
}
