/*
 * BqVantleHV.mm --
 *
 *	The wrapper of a Perl hash: storing and fetching by C-string key,
 *	Perl's own iteration (the wrapper remembers the current entry), and
 *	the description "key: value\n" per entry.
 *
 *	Every method checks first that the value is a hash and otherwise
 *	answers its neutral value.  On a hash with magic (a tied hash), or
 *	with a stored value whose reading runs Perl code, the operation runs
 *	trapped; a Perl error raises "Perl Error".  Values handed out share
 *	the hash's (of a tied hash: the value that fetches and stores
 *	through the tie).  Keys are byte strings measured with strlen.
 */
#import <Foundation/Foundation.h>

#include "BqVantleVar.h"
#include "BqVantleInterpPriv.h"
#include "VantlePriv.h"
#include "KxThreadStorage.h"

#include <string.h>

/* The buffer of hash descriptions, reused by every description made on
 * the same thread. */
static KxThreadStorage hashDescriptions = KX_THREAD_DSTRING_STORAGE;

@implementation BqVantleHV

+ (void) load
{
    VantlePriv_HVClass = self;
}

- (HV *) _hash
{
    SV *value = [self _value];
    return value != NULL && SvTYPE(value) == SVt_PVHV ? (HV *) value : NULL;
}

/* A new empty hash whose one count the wrapper takes over. */
- (id) init
{
    PerlInterpreter *my_perl = VantlePriv_CurrentPerl("init");
    HV *hv = newHV();
    self = [self _initWithSV: (SV *) hv];
    SvREFCNT_dec((SV *) hv);
    return self;
}

/*
 *----------------------------------------------------------------------
 * storeVar:key: --
 *	Stores a copy of var's value under key; NO for a missing var or key.
 *----------------------------------------------------------------------
 */
- (BOOL) storeVar: (BqVantleVar *)var key: (const char *)key
{
    HV *hv = [self _hash];
    SV *value = var != nil ? [var sValue] : NULL;
    if (hv == NULL || value == NULL || key == NULL) {
	return NO;
    }
    VantlePriv_CheckWritable((SV *) hv, "storeVar:key:");
    VANTLE_dWRAPPER("storeVar:key:");
    BOOL stored = NO;
    VantlePriv_OnValue(aTHX_ VantlePriv_TrapSubject((SV *) hv, value), "storeVar:key:", [&] {
	SV *copy = newSVsv(value);
	if (hv_store(hv, key, (I32) strlen(key), copy, 0) != NULL) {
	    stored = YES;
	} else {
	    SvREFCNT_dec(copy);
	}
    });
    return stored;
}

/* A wrapper sharing the value stored under key; nil when there is none. */
- (id) fetchKey: (const char *)key
{
    HV *hv = [self _hash];
    if (hv == NULL || key == NULL) {
	return nil;
    }
    VANTLE_dWRAPPER("fetchKey:");
    /* The value is held while the trap's temporaries are freed: the
     * value of a tied hash is one of them. */
    SV *value = NULL;
    VantlePriv_OnValue(aTHX_ (SV *) hv, "fetchKey:", [&] {
	SV **slot = hv_fetch(hv, key, (I32) strlen(key), 0);
	if (slot != NULL) {
	    value = SvREFCNT_inc_simple_NN(*slot);
	}
    });
    return VantlePriv_WrapOwned(aTHX_ value);
}

- (void) iterInit
{
    HV *hv = [self _hash];
    if (hv == NULL) {
	return;
    }
    VANTLE_dWRAPPER("iterInit");
    he = NULL;
    VantlePriv_OnValue(aTHX_ (SV *) hv, "iterInit", [&] { hv_iterinit(hv); });
}

- (BOOL) iterNext
{
    HV *hv = [self _hash];
    if (hv == NULL) {
	return NO;
    }
    VANTLE_dWRAPPER("iterNext");
    HE *entry = NULL;
    VantlePriv_OnValue(aTHX_ (SV *) hv, "iterNext", [&] { entry = hv_iternext(hv); });
    he = entry;
    return he != NULL ? YES : NO;
}

- (const char *) iterKey
{
    if ([self _hash] == NULL || he == NULL) {
	return NULL;
    }
    VANTLE_dWRAPPER("iterKey");
    /* A tied hash's key is a scalar, which may be an object. */
    if (HeKLEN(he) == HEf_SVKEY) {
	return VantlePriv_StringOf(aTHX_ HeSVKEY(he), "iterKey");
    }
    I32 length = 0;
    return hv_iterkey(he, &length);
}

- (id) iterValue
{
    HV *hv = [self _hash];
    if (hv == NULL || he == NULL) {
	return nil;
    }
    VANTLE_dWRAPPER("iterValue");
    SV *value = NULL;
    HE *entry = he;
    VantlePriv_OnValue(aTHX_ (SV *) hv, "iterValue", [&] {
	value = SvREFCNT_inc(hv_iterval(hv, entry));
    });
    return VantlePriv_WrapOwned(aTHX_ value);
}

- (void) clear
{
    HV *hv = [self _hash];
    if (hv == NULL) {
	return;
    }
    VantlePriv_CheckWritable((SV *) hv, "clear");
    VANTLE_dWRAPPER("clear");
    he = NULL;
    VantlePriv_OnValue(aTHX_ (SV *) hv, "clear", [&] { hv_clear(hv); });
}

/*
 *----------------------------------------------------------------------
 * shortDescr: --
 *	"<key>: <value>\n" for at most limit entries in Perl's order, then
 *	"...\n" when entries are left.  Restarts the hash's iteration and
 *	leaves it (and he) where the description stopped.  The text lives
 *	in one buffer shared by all hash descriptions, until the next one.
 *----------------------------------------------------------------------
 */
- (const char *) shortDescr: (int)limit
{
    if ([self _hash] == NULL) {
	return NULL;
    }
    Tcl_DString *hashDescription = KxThreadDStringGet(&hashDescriptions);
    if (hashDescription == NULL) {
	return NULL;
    }
    Tcl_DStringSetLength(hashDescription, 0);
    [self iterInit];
    int written = 0;
    while ([self iterNext]) {
	if (written >= limit) {
	    break;
	}
	const char *key = [self iterKey];
	BqVantleVar *value = [self iterValue];
	const char *text = value != nil ? [value descr] : NULL;
	Tcl_DStringAppend(hashDescription, key != NULL ? key : "", -1);
	Tcl_DStringAppend(hashDescription, ": ", 2);
	Tcl_DStringAppend(hashDescription, text != NULL ? text : "", -1);
	Tcl_DStringAppend(hashDescription, "\n", 1);
	[value release];
	written++;
    }
    if (he != NULL) {
	Tcl_DStringAppend(hashDescription, "...\n", -1);
    }
    return Tcl_DStringValue(hashDescription);
}

- (const char *) descr
{
    return [self shortDescr: 10000000];
}

@end
