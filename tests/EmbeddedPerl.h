/*
 * EmbeddedPerl.h --
 *
 *	The one Perl interpreter of the test program, embedded as a host
 *	application embeds it: perl_alloc, perl_construct, perl_parse with
 *	`use Vantle` (found in the build's blib, next to the library this
 *	program is linked with), perl_run.  Made on first use, never
 *	destroyed.
 */
#ifndef EMBEDDED_PERL_H
#define EMBEDDED_PERL_H

#include "bqcperl.h"

/* The interpreter, made current (for the access layer and for Perl). */
PerlInterpreter *EmbeddedPerl(void);

#endif
