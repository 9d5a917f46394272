/*
 * BqVantleInterpCalls.mm --
 *
 *	The table of subs an interpreter object calls (see
 *	BqVantleInterpCallsPriv.h): finding a kept glob again, checking that it
 *	still stands for its name, looking a name up, keeping and giving up
 *	the globs.
 */
#import <Foundation/Foundation.h>

#include "BqVantleInterpCallsPriv.h"

#include <stdlib.h>
#include <string.h>

VantleInterpCalls *
VantlePriv_CallsNew(void)
{
    return (VantleInterpCalls *) calloc(1, sizeof (VantleInterpCalls));
}

void
VantlePriv_CallsFree(VantleInterpCalls *calls)
{
    free(calls);
}

/*
 * Keep --
 *	Makes slot keep gv (null: nothing), giving up the glob it kept.  The
 *	new glob is in place before the old one goes, since freeing a glob
 *	may run Perl code (DESTROY of an object in it) that uses the table.
 */
static void
Keep(pTHX_ VantleCachedSub *slot, GV *gv)
{
    GV *old = slot->gv;
    slot->gv = gv != NULL ? (GV *) SvREFCNT_inc_simple_NN((SV *) gv) : NULL;
    SvREFCNT_dec((SV *) old);
}

void
VantlePriv_CallsRelease(pTHX_ VantleInterpCalls *calls)
{
    if (calls == NULL || calls->released) {
	return;
    }
    calls->released = 1;
    Keep(aTHX_ &calls->text, NULL);
    Keep(aTHX_ &calls->source, NULL);
    for (int i = 0; i < VANTLE_CALLS_NAMED; i++) {
	Keep(aTHX_ &calls->named[i].sub, NULL);
    }
}

/*
 *----------------------------------------------------------------------
 * StillNamed --
 *	Whether gv is still what its name finds: a glob that is its
 *	package's entry under its name, in a package that still has its
 *	name.  A deleted glob, or a glob of a package that was emptied,
 *	deleted or replaced, is not.
 *----------------------------------------------------------------------
 */
static int
StillNamed(pTHX_ GV *gv)
{
    if (!isGV_with_GP(gv)) {
	return 0;
    }
    HV *package = GvSTASH(gv);
    if (package == NULL || HvENAME_get(package) == NULL) {
	return 0;
    }
    HEK *name = GvNAME_HEK(gv);
    SV **entry = (SV **) hv_common(package, NULL, HEK_KEY(name), HEK_LEN(name), HEK_UTF8(name),
	    HV_FETCH_JUST_SV, NULL, HEK_HASH(name));
    return entry != NULL && *entry == (SV *) gv;
}

/*
 * LookUp --
 *	The glob a call by name finds now, as Perl's own call looks it up,
 *	without making one; null when there is none.
 */
static GV *
LookUp(pTHX_ const char *name, STRLEN length, U32 utf8)
{
    GV *gv = gv_fetchpvn_flags(name, length, utf8 ? SVf_UTF8 : 0, SVt_PVCV);
    return gv != NULL && isGV_with_GP(gv) ? gv : NULL;
}

/*
 * Refresh --
 *	The sub of the glob slot keeps when that is still named; else looks
 *	name up again and keeps what it finds.  Null when there is no sub.
 */
static CV *
Refresh(pTHX_ VantleCachedSub *slot, const char *name, STRLEN length, U32 utf8)
{
    GV *gv = slot->gv;
    if (gv == NULL || !StillNamed(aTHX_ gv)) {
	gv = LookUp(aTHX_ name, length, utf8);
	Keep(aTHX_ slot, gv);
	if (gv == NULL) {
	    return NULL;
	}
    }
    return GvCVu(gv);
}

CV *
VantlePriv_CallsFixed(pTHX_ VantleInterpCalls *calls, VantleCachedSub *slot, const char *name)
{
    if (calls == NULL || calls->released) {
	return NULL;
    }
    return Refresh(aTHX_ slot, name, strlen(name), 0);
}

/*
 * PackageOf --
 *	Where Perl looks up an unqualified name now (that of the code
 *	running, or the package being compiled); null for a name with a
 *	package, whose lookup does not depend on it.
 */
static HV *
PackageOf(pTHX_ const char *name, STRLEN length)
{
    for (STRLEN i = 0; i + 1 < length; i++) {
	if (name[i] == ':' && name[i + 1] == ':') {
	    return NULL;
	}
    }
    return IN_PERL_COMPILETIME ? PL_curstash : CopSTASH(PL_curcop);
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_CallsNamed --
 *	The sub a call by name would call now, from the table's entry for
 *	the name (refreshed when its glob no longer stands for the name), or
 *	looked up and kept in the entry that was made longest ago.  Null when
 *	the name has no sub, and for names too long to keep.
 *----------------------------------------------------------------------
 */
CV *
VantlePriv_CallsNamed(pTHX_ VantleInterpCalls *calls, const char *name, STRLEN length, U32 utf8)
{
    if (calls == NULL || calls->released || length == 0 || length > VANTLE_CALLS_NAME_MAX) {
	return NULL;
    }
    utf8 = utf8 ? SVf_UTF8 : 0;
    HV *package = PackageOf(aTHX_ name, length);
    for (int i = 0; i < VANTLE_CALLS_NAMED; i++) {
	VantleNamedSub *entry = &calls->named[i];
	if (entry->sub.gv != NULL && entry->length == length && entry->utf8 == utf8
		&& entry->package == package && memcmp(entry->name, name, length) == 0) {
	    return Refresh(aTHX_ &entry->sub, name, length, utf8);
	}
    }
    GV *gv = LookUp(aTHX_ name, length, utf8);
    if (gv == NULL) {
	return NULL;
    }
    VantleNamedSub *entry = &calls->named[calls->nextNamed];
    calls->nextNamed = (calls->nextNamed + 1) % VANTLE_CALLS_NAMED;
    entry->package = package;
    entry->utf8 = utf8;
    entry->length = length;
    memcpy(entry->name, name, length);
    Keep(aTHX_ &entry->sub, gv);
    return GvCVu(gv);
}
