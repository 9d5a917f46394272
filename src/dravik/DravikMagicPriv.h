/*
 * DravikMagicPriv.h --
 *
 *	What the files of retaining containers share: the per-interpreter
 *	state (the stash of Dravik::Magic and the inner hash a key walk last
 *	went through), the reading of tie objects, and the retain and
 *	release of the objects of stored values.
 *
 *	Retain and release send messages, which may raise an Objective-C
 *	exception; the XS subs run them under DravikPriv_Foundation, which
 *	turns what was raised into a Perl error message.  Every change to a
 *	container is ordered so that a raise leaves it as it was (the new
 *	value's retain comes first), or consistent (a release that raises
 *	after its value was replaced loses that release only).
 */
#ifndef DRAVIK_MAGIC_PRIV_H
#define DRAVIK_MAGIC_PRIV_H

#include "DravikMagic.h"
#include "PerlGuard.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The stash of Dravik::Magic in the current interpreter (made when
 * missing), looked up once per interpreter. */
HV   *DravikPriv_MagicStash(pTHX);

/* Makes the interpreter's state when it has none of its own: at boot,
 * and in an interpreter that Perl's threads cloned (Dravik::Magic::CLONE,
 * registered by DravikPriv_BootMagicContext). */
void  DravikPriv_MagicContextBoot(pTHX);
void  DravikPriv_BootMagicContext(pTHX);

/* The inner hash that the last FIRSTKEY or NEXTKEY walked.  The record
 * is a weak reference: freeing the hash clears it, so a freed hash is
 * never compared or walked again. */
int   DravikPriv_IsLastWalked(pTHX_ HV *inner);
void  DravikPriv_SetLastWalked(pTHX_ HV *inner);
/* Forgets inner as the last walked, when it is: its iterator was reset
 * by something other than a key walk. */
void  DravikPriv_ForgetWalk(pTHX_ HV *inner);

/* The inner container of a tie object: the referent of a reference
 * whose referent is blessed into Dravik::Magic; null for anything else. */
SV   *DravikPriv_Inner(pTHX_ SV *tieObject);
/* The kind of an inner container (DRAVIK_MAGIC_HASH, _ARRAY, _SCALAR). */
int   DravikPriv_KindOf(SV *inner);

/* Whether a key is the reserved "selfObject" (length as hv_fetch's:
 * negative for UTF-8). */
int   DravikPriv_IsSelfKey(const char *key, I32 length);

/* Sends retain (autorelease) to the object of value when value is the
 * handle of a live object; anything else is left alone.  May raise. */
void  DravikPriv_Retain(pTHX_ SV *value);
void  DravikPriv_Release(pTHX_ SV *value);

/* Stores value (borrowed: the hash takes a count of its own) under key
 * in an inner hash, as Dravik_Magic_store.  A raise leaves the hash as
 * it was, unless it comes from releasing the replaced value. */
void  DravikPriv_StoreInHash(pTHX_ HV *inner, const char *key, I32 length, SV *value,
			     BOOL retain);
/* Releases the retained values of an inner hash (all but "selfObject")
 * and removes them; "selfObject" stays only when keepSelf. */
void  DravikPriv_EmptyHash(pTHX_ HV *inner, int keepSelf);
/* Releases every element of an inner array and clears it. */
void  DravikPriv_EmptyArray(pTHX_ AV *inner);

/* Registers the subs of the array kind (FETCHSIZE, PUSH, SPLICE, ...). */
void  DravikPriv_BootMagicArray(pTHX);

/* In the XS subs of Dravik::Magic: croaks with a sub's usage text unless
 * it got min to max arguments. */
#define CHECK_ITEMS(min, max, usage)		\
    do {					\
	if (items < (min) || items > (max)) {	\
	    croak("%s", usage);			\
	}					\
    } while (0)

#ifdef __cplusplus
}

/*
 * DravikPriv_Foundation --
 *	Runs body, which retains or releases, under the platform guard.
 *	Answers null, or a new mortal "SUBNAME: TEXT" for what it raised,
 *	for croak_sv once the caller has put its values in order.  The body
 *	must hold nothing with a destructor and must not run Perl code that
 *	can die.
 */
template <typename Body>
static inline SV *
DravikPriv_Foundation(pTHX_ const char *subName, Body body)
{
    KxErrorInfo caught;
    if (KxGuard(VantlePriv_RunGuardedBody<Body>, &body, &caught) == 0) {
	return NULL;
    }
    SV *failure = VantlePriv_CaughtErrorMessage(aTHX_ subName, &caught);
    KxErrorInfoClear(&caught);
    return failure;
}
#endif

#endif /* DRAVIK_MAGIC_PRIV_H */
