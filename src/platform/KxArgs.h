/*
 * KxArgs.h --
 *
 *	The process's argument count and vector, as the runtime layer sees
 *	them.  Whoever owns the real ones (a host's main, or the Perl module
 *	from @ARGV) stores them here.
 */
#ifndef KX_ARGS_H
#define KX_ARGS_H

#ifdef __cplusplus
extern "C" {
#endif

extern int KxArgc;
extern char **KxArgv;

#ifdef __cplusplus
}
#endif

#endif
