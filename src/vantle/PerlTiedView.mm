/*
 * PerlTiedView.mm --
 *
 *	The views of a handle: the tied hash and the tied array that
 *	dereferencing a handle answers, one of each per handle referent
 *	while they live.  Perl keeps the iterator of `each` (and the
 *	position of `each @$a`) in the container, so the same container must
 *	come back at every dereference, also in the next statement, when no
 *	Perl value holds it any more.
 *
 *	Ownership goes one way at a time, so there is never a reference
 *	cycle:
 *	- At first the referent owns its views: ext magic on the referent
 *	  holds a count on each, and each view's tie object is a weak handle
 *	  of the referent.  The views live as long as the object has handles
 *	  and go with the referent.
 *	- When the last handle goes while Perl code still holds a view
 *	  (my $keys = \@{ $d->allKeys }), the referent's free hook (in
 *	  PerlHandles.mm) makes an heir, a new referent of the same object,
 *	  and the views move to it: the held view's tie object, which Perl
 *	  has just undefined as a weak reference to the freed referent,
 *	  becomes a strong handle of the heir, and the heir's link to the
 *	  view does not count.  The view then lives as long as its holders,
 *	  as a Perl container does, and the heir goes after it.
 *	A view's own ext magic points back at its referent (and holds its
 *	tie object), and whichever of the two is freed first clears the
 *	other's pointer.
 *
 *	A view that Perl code untied or tied to something else is dropped
 *	and a new one made at the next dereference.
 *
 *	When Perl clones an interpreter (a new thread), handle referents are
 *	not copied (Vantle::Object has CLONE_SKIP): a view that Perl code
 *	held is copied with a tie object that refers to an empty scalar, as
 *	any copied handle does, and is linked to nothing.
 */
#include "PerlTiedView.h"
#include "VantlePriv.h"

/* The views of one referent, held by the referent's magic.  owned[i]
 * says whether the referent holds a reference count on views[i]. */
struct VantleHandleViews {
    SV *views[2];
    unsigned char owned[2];
};
typedef VantleHandleViews HandleViews;

enum { SLOT_HASH, SLOT_ARRAY };

static int ForgetReferent(pTHX_ SV *view, MAGIC *mg);

#ifdef USE_ITHREADS
static int CloneBackLink(pTHX_ MAGIC *mg, CLONE_PARAMS *param);
#else
#define CloneBackLink NULL
#endif

/* svt_get, svt_set, svt_len, svt_clear, svt_free, svt_copy, svt_dup,
 * svt_local: only freeing and cloning matter. */
static const MGVTBL viewVtbl = {
    NULL, NULL, NULL, NULL, ForgetReferent, NULL, CloneBackLink, NULL
};

static int
SlotOf(svtype type)
{
    return type == SVt_PVAV ? SLOT_ARRAY : SLOT_HASH;
}

/*
 * ViewsOf --
 *	The views record of referent; when it has none, a new empty one if
 *	make is set, else null.
 */
static HandleViews *
ViewsOf(pTHX_ SV *referent, int make)
{
    MAGIC *mg = VantlePriv_ReferentMagic(aTHX_ referent, make);
    if (mg == NULL || mg->mg_ptr != NULL || !make) {
	return mg != NULL ? (HandleViews *) mg->mg_ptr : NULL;
    }
    HandleViews *views;
    Newxz(views, 1, HandleViews);
    mg->mg_ptr = (char *) views;
    return views;
}

/* The magic of view that points back at its referent. */
static MAGIC *
BackLink(pTHX_ SV *view)
{
    return mg_findext(view, PERL_MAGIC_ext, &viewVtbl);
}

/* The tie object of view when it is a handle of referent, else null
 * (Perl code untied or retied the view). */
static SV *
TieObjectOf(pTHX_ SV *view, SV *referent)
{
    MAGIC *tie = mg_find(view, PERL_MAGIC_tied);
    if (tie == NULL || tie->mg_obj == NULL || !SvROK(tie->mg_obj)
	    || SvRV(tie->mg_obj) != referent) {
	return NULL;
    }
    return tie->mg_obj;
}

/*
 * Unlink --
 *	Removes the view of slot from views, clearing the view's pointer
 *	back; answers the view when views held a count on it (the caller
 *	drops that count), else null.
 */
static SV *
Unlink(pTHX_ HandleViews *views, int slot)
{
    SV *view = views->views[slot];
    int owned = views->owned[slot];
    views->views[slot] = NULL;
    views->owned[slot] = 0;
    if (view == NULL) {
	return NULL;
    }
    MAGIC *back = BackLink(aTHX_ view);
    if (back != NULL) {
	back->mg_ptr = NULL;
    }
    return owned ? view : NULL;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_FreeViews --
 *	The referent that held views is being freed: the views it owns lose
 *	its count (their weak tie objects are already undefined) and the
 *	others forget it.
 *----------------------------------------------------------------------
 */
void
VantlePriv_FreeViews(pTHX_ HandleViews *views)
{
    SV *owned[2];
    for (int slot = 0; slot < 2; slot++) {
	owned[slot] = Unlink(aTHX_ views, slot);
    }
    Safefree(views);
    for (int slot = 0; slot < 2; slot++) {
	SvREFCNT_dec(owned[slot]);
    }
}

/*
 * ForgetReferent --
 *	svt_free of a view's link back: the view is being freed, so its
 *	referent (if still there) no longer answers it.
 */
static int
ForgetReferent(pTHX_ SV *view, MAGIC *mg)
{
    SV *referent = (SV *) mg->mg_ptr;
    mg->mg_ptr = NULL;
    if (referent == NULL) {
	return 0;
    }
    HandleViews *views = ViewsOf(aTHX_ referent, 0);
    int slot = SlotOf(SvTYPE(view));
    if (views != NULL && views->views[slot] == view) {
	views->views[slot] = NULL;
	views->owned[slot] = 0;
    }
    return 0;
}

#ifdef USE_ITHREADS
/*
 *----------------------------------------------------------------------
 * VantlePriv_CloneViews --
 *	svt_dup of a referent's magic: the copy's views record points at
 *	the copies of the views, with a count on those its referent owns.
 *----------------------------------------------------------------------
 */
HandleViews *
VantlePriv_CloneViews(pTHX_ HandleViews *views, CLONE_PARAMS *param)
{
    HandleViews *copy;
    Newxz(copy, 1, HandleViews);
    for (int slot = 0; slot < 2; slot++) {
	SV *view = views->views[slot];
	copy->owned[slot] = views->owned[slot];
	copy->views[slot] = view == NULL ? NULL
	    : views->owned[slot] ? sv_dup_inc(view, param) : sv_dup(view, param);
    }
    return copy;
}

/*
 * KeepClonedTarget --
 *	Makes the copy of a weak tie object whose referent was not copied
 *	a plain reference.  That referent's copy is an empty scalar with no
 *	back-references, from which Perl could not remove a weak reference
 *	when it is freed; as a plain reference the tie object keeps it as
 *	long as the view.  When the copy is made for a join, Perl has given
 *	it its back-reference, and the reference is unweakened as usual.
 */
static void
KeepClonedTarget(pTHX_ SV *tie)
{
    if (tie == NULL || !SvROK(tie) || !SvWEAKREF(tie)) {
	return;
    }
    SV *target = SvRV(tie);
    if (SvRMAGICAL(target) && mg_find(target, PERL_MAGIC_backref) != NULL) {
	sv_rvunweaken(tie);
	return;
    }
    SvWEAKREF_off(tie);		/* which clears ROK as well */
    SvROK_on(tie);
    SvREFCNT_inc_simple_void_NN(target);
}

/* The copy of a view links back to the copy of its referent, or to
 * nothing when the referent was not copied (no object, no views). */
static int
CloneBackLink(pTHX_ MAGIC *mg, CLONE_PARAMS *param)
{
    SV *referent = mg->mg_ptr != NULL ? sv_dup((SV *) mg->mg_ptr, param) : NULL;
    if (referent != NULL && !SvOBJECT(referent)) {
	KeepClonedTarget(aTHX_ mg->mg_obj);
	referent = NULL;
    }
    mg->mg_ptr = (char *) referent;
    return 0;
}
#endif

/*
 * NewView --
 *	A new container of type tied to a weak handle of referent, pointing
 *	back at it.  The link back also holds the tie object, so that a copy
 *	made for a new thread reaches the tie object's copy.  The caller
 *	owns the view's one count.
 */
static SV *
NewView(pTHX_ SV *referent, svtype type)
{
    SV *view = type == SVt_PVAV ? (SV *) newAV() : (SV *) newHV();
    SV *tie = newRV_inc(referent);
    sv_rvweaken(tie);
    sv_magic(view, tie, PERL_MAGIC_tied, NULL, 0);
    MAGIC *back = sv_magicext(view, tie, PERL_MAGIC_ext, &viewVtbl, (const char *) referent, 0);
    back->mg_flags |= MGf_DUP;
    SvREFCNT_dec_NN(tie);
    return view;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_HandleView --
 *	The live view of type (SVt_PVHV or SVt_PVAV) of referent; a new one,
 *	owned by the referent, when it has none or Perl code untied the one
 *	it had.  Borrowed: the caller takes a reference to keep it.
 *----------------------------------------------------------------------
 */
SV *
VantlePriv_HandleView(pTHX_ SV *referent, svtype type)
{
    HandleViews *views = ViewsOf(aTHX_ referent, 1);
    int slot = SlotOf(type);
    SV *view = views->views[slot];
    if (view != NULL && TieObjectOf(aTHX_ view, referent) == NULL) {
	/* Someone may still be using it in this statement. */
	SV *owned = Unlink(aTHX_ views, slot);
	if (owned != NULL) {
	    sv_2mortal(owned);
	}
	view = NULL;
    }
    if (view == NULL) {
	view = NewView(aTHX_ referent, type);
	views->views[slot] = view;
	views->owned[slot] = 1;
    }
    return view;
}

/*
 * HeldView --
 *	The view of slot when it outlives its referent: owned by it, held by
 *	something else too, and still tied to the tie object made for it
 *	(the one its link back holds).  Else null.
 */
static SV *
HeldView(pTHX_ HandleViews *views, int slot)
{
    SV *view = views->views[slot];
    if (view == NULL || !views->owned[slot] || SvREFCNT(view) < 2) {
	return NULL;
    }
    MAGIC *tie = mg_find(view, PERL_MAGIC_tied);
    MAGIC *back = BackLink(aTHX_ view);
    if (tie == NULL || back == NULL || tie->mg_obj == NULL || tie->mg_obj != back->mg_obj) {
	return NULL;
    }
    return view;
}

int
VantlePriv_ViewsHeld(pTHX_ HandleViews *views)
{
    return HeldView(aTHX_ views, SLOT_HASH) != NULL || HeldView(aTHX_ views, SLOT_ARRAY) != NULL;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_MoveViews --
 *	The referent that held views is being freed and heir takes its
 *	place: each held view's tie object becomes a strong handle of heir
 *	(which keeps heir alive) and links back to heir, and views stops
 *	counting it; the views that nothing else holds go.  The caller hands
 *	views to heir's magic.
 *----------------------------------------------------------------------
 */
void
VantlePriv_MoveViews(pTHX_ HandleViews *views, SV *heir)
{
    SV *dropped[2] = { NULL, NULL };
    for (int slot = 0; slot < 2; slot++) {
	SV *view = HeldView(aTHX_ views, slot);
	if (view == NULL) {
	    dropped[slot] = Unlink(aTHX_ views, slot);
	    continue;
	}
	MAGIC *back = BackLink(aTHX_ view);
	sv_setrv_inc(back->mg_obj, heir);
	back->mg_ptr = (char *) heir;
	views->owned[slot] = 0;
	SvREFCNT_dec_NN(view);
    }
    for (int slot = 0; slot < 2; slot++) {
	SvREFCNT_dec(dropped[slot]);
    }
}
