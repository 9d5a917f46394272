/*
 * DravikMagic.h --
 *
 *	Retaining containers: Perl hashes, arrays and scalars whose values
 *	keep their objects alive.  Object handles never retain their objects
 *	(see Vantle.h); a value stored into a retaining container retains the
 *	object of its handle, and a value that leaves it (overwritten,
 *	deleted, or the container freed) autoreleases it.  Values that are
 *	not object handles are stored as they are.
 *
 *	A retaining container (the outer container Perl code sees) is tied
 *	to the package Dravik::Magic: it carries tie magic ('P' for hashes
 *	and arrays, 'q' for scalars) whose object, the tie object, is a
 *	reference blessed into Dravik::Magic to the inner container of the
 *	same kind, which holds the values.  The inner container is blessed
 *	into Dravik::Magic too, so Perl calls Dravik::Magic::DESTROY when it
 *	is freed, which lets go of what it retained.
 *
 *	The key "selfObject" of a retaining hash is reserved for the handle
 *	of the object that owns the hash.  It is stored without a retain
 *	(the owner must not keep itself alive), never released, and hidden
 *	from EXISTS and from Dravik_Magic_keys.
 *
 *	Every function acts on the current interpreter (bqcperl.h).
 */
#ifndef DRAVIK_MAGIC_H
#define DRAVIK_MAGIC_H

#include "bqcperl.h"

#ifdef __OBJC__
#include <objc/objc.h>
@class NSMutableArray;
#else
#include <objc/objc.h>
typedef struct NSMutableArray NSMutableArray;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The kinds of container. */
enum {
    DRAVIK_MAGIC_SCALAR = 0,
    DRAVIK_MAGIC_ARRAY = 1,
    DRAVIK_MAGIC_HASH = 2
};

/* The key of a retaining hash that holds the owner's handle, unretained. */
#define DRAVIK_MAGIC_SELF_KEY "selfObject"

/* YES when container (of type SVt_PVMG or above) carries tie magic of
 * kind's type whose tie object is a reference to a referent blessed into
 * Dravik::Magic; NO otherwise, null included. */
BOOL  Dravik_IsMagic(SV *container, int kind);

/* A retaining container of kind whose inner container is container:
 * container itself when it already is a retaining container of kind.
 * Otherwise a new container (empty array, hash or scalar) tied to a new
 * mortal tie object that takes over the caller's count of container; a
 * blessed container hands its blessing to the new one, and the handles
 * container already holds are retained ("selfObject" excepted), as the
 * inner container releases them when it goes.  The caller puts the
 * answer in place of container and owns its one count.  Null, with
 * nothing changed, for null and for a container that cannot be the
 * inner one of kind: another Perl type (a hash for 2, an array for 1, a
 * plain scalar for 0), read-only, or already an inner container.  A
 * retain that raises is undone and the exception goes on. */
SV   *Dravik_MakeMagic(SV *container, int kind);

/* The kind of a tie object: its referent's type (hash 2, array 1,
 * anything else 0). */
int   Dravik_GetMagicType(SV *tieObject);

/* The tie object of container's tie magic of kind's type, or null. */
SV   *Dravik_GetMagic(SV *container, int kind);

/* Keys are given as hv_fetch takes them: a negative length marks a
 * UTF-8 key.  A tieObject that is not one of a hash acts as null. */

/* The slot of key in the inner hash of tieObject (hv_fetch, lval as
 * there), or null when absent or tieObject is null. */
SV  **Dravik_Magic_fetch(SV *tieObject, const char *key, I32 length, I32 lval);

/* Stores value (whose count the inner hash takes) under key.  With
 * retain, the object of value is retained and the object of the value
 * it replaces released; a retain that raises stores nothing and leaves
 * the count the caller's.  Without retain the container takes over a
 * retain the caller made: it is released like any other when the value
 * leaves.  "selfObject" is never retained nor released. */
void  Dravik_Magic_store(SV *tieObject, const char *key, I32 length, SV *value, BOOL retain);

/* Whether key is in the inner hash of tieObject; NO for null. */
BOOL  Dravik_Magic_exists(SV *tieObject, const char *key, I32 length);

/* The keys of tieObject's inner container, autoreleased: the indices
 * 0..last (NSNumber) of an array, every key but "selfObject" (NSString,
 * in the hash's iteration order) of a hash, none for a scalar; nil for
 * a null tieObject.  Walking a hash resets its iterator (a walk by
 * FIRSTKEY/NEXTKEY then resumes by finding its last key again). */
NSMutableArray *Dravik_Magic_keys(SV *tieObject);

/* Registers the subs of Dravik::Magic in the current interpreter. */
void  DravikPriv_BootMagic(pTHX);

#ifdef __cplusplus
}
#endif

#endif /* DRAVIK_MAGIC_H */
