/*
 * BqVantleInterpCallsPriv.h --
 *
 *	The subs an interpreter object calls, found again without a name
 *	lookup: Vantle::Eval::text and Vantle::SOURCE, through which it
 *	evaluates text and files, and the last few subs host code called by
 *	name.
 *	Each object keeps its own table (an interpreter's subs are its own),
 *	made on first use.
 *
 *	A sub is kept as its glob, on which the table holds one count, and
 *	the glob's sub is read at every call (GvCVu): a sub that Perl code
 *	redefines, replaces by glob assignment or localises is the one
 *	called.  A glob is used only while it is still its package's entry
 *	under its name and the package still has its name; a deleted glob,
 *	or a package that was emptied or replaced, makes the name be looked
 *	up again.  A glob without a sub gives no answer: the caller then
 *	calls by name, so Perl itself makes the stub, autoloads or reports
 *	the undefined sub, as it always did.
 *
 *	A name is the bytes Perl looks up, with their UTF-8 flag; a name
 *	without "::" also depends on the package Perl takes it in (that of
 *	the running code), which the table compares too.
 *
 *	The table gives up its counts (VantlePriv_CallsRelease) before its
 *	interpreter is destroyed, and finds nothing afterwards.
 */
#ifndef BQ_VANTLE_INTERP_CALLS_PRIV_H
#define BQ_VANTLE_INTERP_CALLS_PRIV_H

#include "bqcperl.h"

/* The longest name kept, in bytes; longer names are always looked up. */
#define VANTLE_CALLS_NAME_MAX 120

/* How many subs called by name are kept. */
#define VANTLE_CALLS_NAMED 4

/* A sub kept as its glob; gv null when none is kept. */
typedef struct VantleCachedSub {
    GV *gv;			/* one count held */
} VantleCachedSub;

/* A sub kept for a name host code called it by. */
typedef struct VantleNamedSub {
    VantleCachedSub sub;
    HV *package;		/* where an unqualified name was looked up
				 * (no count); null for a qualified name */
    U32 utf8;			/* SVf_UTF8 or 0 */
    STRLEN length;
    char name[VANTLE_CALLS_NAME_MAX];
} VantleNamedSub;

typedef struct VantleInterpCalls {
    int released;		/* counts given up: nothing is kept */
    VantleCachedSub text;	/* Vantle::Eval::text */
    VantleCachedSub source;	/* Vantle::SOURCE */
    VantleNamedSub named[VANTLE_CALLS_NAMED];
    unsigned nextNamed;		/* the entry the next new name replaces */
} VantleInterpCalls;

#ifdef __cplusplus
extern "C" {
#endif

/* A new empty table; null when memory is short (then nothing is kept). */
VantleInterpCalls *VantlePriv_CallsNew(void);

/* Gives up every count of the table (in its live interpreter) and keeps
 * nothing from then on. */
void VantlePriv_CallsRelease(pTHX_ VantleInterpCalls *calls);

/* Frees a table whose counts were given up (null allowed). */
void VantlePriv_CallsFree(VantleInterpCalls *calls);

/* The sub to call for the fixed, qualified name (NUL-terminated, bytes)
 * kept in slot: found again, or looked up and kept; null when the name
 * has no sub now (the caller calls by name).  calls may be null. */
CV  *VantlePriv_CallsFixed(pTHX_ VantleInterpCalls *calls, VantleCachedSub *slot,
	const char *name);

/* The same for a name host code gives (length bytes, utf8 SVf_UTF8 or 0). */
CV  *VantlePriv_CallsNamed(pTHX_ VantleInterpCalls *calls, const char *name, STRLEN length,
	U32 utf8);

#ifdef __cplusplus
}
#endif

#endif
