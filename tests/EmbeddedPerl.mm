/*
 * EmbeddedPerl.mm --
 *
 *	Embeds Perl for the tests, as a host program does (embed_perl.h):
 *	the module is loaded by `use Vantle` from the blib directory that
 *	holds the library this program runs with, so Perl's loader maps that
 *	very file again and the module's Perl source (Vantle.pm) is there
 *	too.
 */
#include "EmbeddedPerl.h"
#include "embed_perl.h"

#include <stdlib.h>

extern char **environ;

PerlInterpreter *
EmbeddedPerl(void)
{
    static PerlInterpreter *perl;
    if (perl == NULL) {
	perl = EmbedPerl_Start("bq_tests", environ);
	if (perl == NULL) {
	    abort();
	}
    }
    BqCPerl_SetInterp(perl);
    PERL_SET_CONTEXT(perl);
    return perl;
}
