/*
 * Dravik.h --
 *
 *	The web layer: the Perl module Dravik, which lets the web framework
 *	run Perl code.  Loading it boots the Perl binding, switches on the
 *	controls the web layer relies on and registers the web layer's Perl
 *	subs.  It lives in the same shared object as the binding, so host
 *	programs keep linking one file.
 */
#ifndef DRAVIK_H
#define DRAVIK_H

#include "bqcperl.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The web layer's start-up, once per process: the controls
 * use_ns_exceptions, perl_auto_convert, perl_selector_map,
 * perlify_foundation and hash_perlify on, KxArgc 1, $Dravik::RyApp
 * linked to the framework's current application (RyApp) in the default
 * interpreter, the web layer's converters installed (DravikConvert.h),
 * and the component controller class initialised. */
void  Dravik_Init(void);

/* The directory Dravik.pm was loaded from, or null; cached once found. */
char *Dravik_LibraryDirectory(void);

/* Perl's loader calls it for `use Dravik` (through Dravik.pm). */
XS_EXTERNAL(boot_Dravik);

#ifdef __cplusplus
}
#endif

#endif /* DRAVIK_H */
