/*
 * PerlThread.h --
 *
 *	Readying a thread for Objective-C work the first time it enters the
 *	library from Perl.
 */
#ifndef PERL_THREAD_H
#define PERL_THREAD_H

#ifdef __cplusplus
extern "C" {
#endif

/* Registers the calling thread with GNUstep and gives it a bottom
 * autorelease pool of its own.  Called once per thread, by
 * BqCPerl_SetInterp. */
void VantlePriv_EnterThread(void);

#ifdef __cplusplus
}
#endif

#endif /* PERL_THREAD_H */
