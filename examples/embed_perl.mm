/*
 * embed_perl.mm --
 *
 *	See embed_perl.h.
 */
#include "embed_perl.h"

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

PerlInterpreter *
EmbedPerl_Start(const char *program, char **env)
{
    /* perl_parse keeps pointers into its arguments for the whole run. */
    static char blib[4096], lib[4200], arch[4200], name[256];
    static char useVantle[] = "-MVantle", dashE[] = "-e", zero[] = "0";
    static char *arguments[] = { name, lib, arch, useVantle, dashE, zero, NULL };

    if (!BlibDirectory(blib, sizeof blib)) {
	fprintf(stderr, "%s: cannot find the module's directory\n", program);
	return NULL;
    }
    snprintf(name, sizeof name, "%s", program);
    snprintf(lib, sizeof lib, "-I%s/lib", blib);
    snprintf(arch, sizeof arch, "-I%s/arch", blib);
    int perlArgc = 6;
    char **perlArgv = arguments;
    PERL_SYS_INIT3(&perlArgc, &perlArgv, &env);
    PerlInterpreter *my_perl = perl_alloc();
    PERL_SET_CONTEXT(my_perl);
    perl_construct(my_perl);
    PL_exit_flags |= PERL_EXIT_DESTRUCT_END;
    if (perl_parse(my_perl, InitXS, perlArgc, perlArgv, environ) != 0 || perl_run(my_perl) != 0) {
	fprintf(stderr, "%s: perl could not load Vantle\n", program);
	return NULL;
    }
    return my_perl;
}

void
EmbedPerl_Stop(PerlInterpreter *my_perl)
{
    perl_destruct(my_perl);
    perl_free(my_perl);
    PERL_SYS_TERM();
}
