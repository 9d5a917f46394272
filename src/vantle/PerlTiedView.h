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

/* The views of one referent, which its magic holds (see PerlHandles.mm).
 * When the referent is freed, its free hook either frees them or, when
 * Perl code still holds one (VantlePriv_ViewsHeld), moves them to an
 * heir referent of the same object. */
typedef struct VantleHandleViews VantleHandleViews;
int  VantlePriv_ViewsHeld(pTHX_ VantleHandleViews *views);
void VantlePriv_MoveViews(pTHX_ VantleHandleViews *views, SV *heir);
void VantlePriv_FreeViews(pTHX_ VantleHandleViews *views);
#ifdef USE_ITHREADS
VantleHandleViews *VantlePriv_CloneViews(pTHX_ VantleHandleViews *views, CLONE_PARAMS *param);
#endif

#ifdef __cplusplus
}
#endif

#endif /* VANTLE_PERL_TIED_VIEW_H */
