/*
 * EmbeddedPerl.h --
 *
 *	The one Perl interpreter of the test program, embedded as a host
 *	application embeds it: perl_alloc, perl_construct, perl_parse with
 *	`use Vantle` (found in the build's blib, next to the library this
 *	program is linked with), perl_run.  Made on first use, never
 *	destroyed.  Beside it, what the host-side tests share.
 */
#ifndef EMBEDDED_PERL_H
#define EMBEDDED_PERL_H

#include "bqcperl.h"

/* The interpreter, made current (for the access layer and for Perl). */
PerlInterpreter *EmbeddedPerl(void);

#ifdef __OBJC__
#import <Foundation/NSException.h>
#import <Foundation/NSString.h>

#include <string>

/* The name of the exception that body raises, or "" for none. */
template <typename Body>
static std::string
RaisedName(Body body)
{
    @try {
	body();
    } @catch (NSException *exception) {
	return [[exception name] UTF8String];
    }
    return "";
}
#endif

#endif
