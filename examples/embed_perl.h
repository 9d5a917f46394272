/*
 * embed_perl.h --
 *
 *	Embedding Perl the way a host program that runs Perl itself does:
 *	perl_alloc, perl_construct, perl_parse of `-MVantle -e 0` with the
 *	blib directory of the library this program is linked with on @INC
 *	(so the module matches the library), and perl_run.  The test program
 *	makes its interpreter here.  (A host that leaves this to the
 *	interpreter object sends it init instead: BqVantleInterp.h.)
 */
#ifndef EMBED_PERL_H
#define EMBED_PERL_H

#include "Vantle.h"

/*
 * Makes an interpreter that has loaded Vantle and makes it current; env
 * is main's third argument.  On failure prints why, naming program, on
 * stderr and answers NULL.  Call once per process.
 */
PerlInterpreter *EmbedPerl_Start(const char *program, char **env);

/* Destroys the interpreter EmbedPerl_Start made and ends Perl's use of
 * the process. */
void EmbedPerl_Stop(PerlInterpreter *my_perl);

#endif
