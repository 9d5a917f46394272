/*
 * PerlTiedView.h --
 *
 *	The tied containers through which a handle is used as a hash or an
 *	array (its views), and how long they live.  A handle's referent
 *	answers the same hash view and the same array view while they live,
 *	so the iterators Perl keeps in a container (each %$h, each @$h) last
 *	from one statement to the next.  All the state is kept on Perl values
 *	(magic on the referent, the views and their tie objects), so every
 *	interpreter has its own.
 */
#ifndef VANTLE_PERL_TIED_VIEW_H
#define VANTLE_PERL_TIED_VIEW_H

#include "Vantle.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The live view of type SVt_PVHV or SVt_PVAV of a handle referent,
 * made when it has none.  The container is borrowed: take a reference
 * to keep it. */
SV  *VantlePriv_HandleView(pTHX_ SV *referent, svtype type);

/* For Vantle::Object::DESTROY, when the last handle of referent goes:
 * the views that Perl code still holds are handed over to their holders
 * and keep the referent alive.  Answers 1 when that happened (the
 * referent lives on and must stay registered), else 0. */
int  VantlePriv_HandOverViews(pTHX_ SV *referent);

#ifdef __cplusplus
}
#endif

#endif /* VANTLE_PERL_TIED_VIEW_H */
