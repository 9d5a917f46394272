/*
 * BqVantleInterpPriv.h --
 *
 *	What the files of the interpreter object share: making its
 *	interpreter current, the interactor slot, the failed creation.
 */
#ifndef BQ_VANTLE_INTERP_PRIV_H
#define BQ_VANTLE_INTERP_PRIV_H

#include "BqVantleInterp.h"

@interface BqVantleInterp (Internal)
/* Makes the receiver's interpreter current (the access layer's and
 * Perl's own context); answers it, or null when it stands for none. */
- (PerlInterpreter *) _makeCurrent;
- (void) _setInteractor: (id)interactor;
- (void) _failCreation __attribute__((noreturn));
@end

#endif
