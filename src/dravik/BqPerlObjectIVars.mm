/*
 * BqPerlObjectIVars.mm --
 *
 *	A BqPerlObject's instance variables: the entries of its hash, read,
 *	written, listed and made read-only, and the objects it keeps alive
 *	for them.
 *
 *	A plain hash keeps the objects of the handles stored with retain in
 *	the retained-object list rr, once per store; a retaining hash
 *	(magic) keeps them itself, and its entries are read and written in
 *	its inner hash.  A hash that runs Perl code when used (tied by Perl
 *	code, restricted) is used trapped, so a Perl error becomes an
 *	exception once its frame is closed.
 */
#import <Foundation/Foundation.h>

#include "BqPerlObjectPriv.h"

#include <stdio.h>
#include <string.h>

/* Whether using hash may run Perl code or die (tie magic, a restricted
 * hash's disallowed keys). */
static int
HashNeedsTrap(HV *hash)
{
    return VantlePriv_NeedsTrap((SV *) hash) || SvREADONLY((SV *) hash);
}

/*
 * OnHash --
 *	Runs body, which uses hash, directly when that runs no Perl code,
 *	else trapped; a Perl error then raises "Perl Error" ("<doing>
 *	<name>: why").
 */
template <typename Body>
static void
OnHash(pTHX_ HV *hash, const char *doing, const char *name, Body body)
{
    if (!HashNeedsTrap(hash)) {
	body();
	return;
    }
    if (!VantlePriv_Trapped(aTHX_ body)) {
	DravikPriv_RaiseFailure(aTHX_ doing, name, 1, NULL);
    }
}

/* The object of a live handle (nil for a nil handle or any other value);
 * runs no magic. */
static id
HandleObject(pTHX_ SV *value)
{
    id object = nil;
    if (value == NULL || !VantlePriv_LiveHandleObject(aTHX_ value, &object, NULL)) {
	return nil;
    }
    return object;
}

/* Whether name is the key that holds the owner's handle: the owner is
 * never kept alive by its own hash. */
static int
IsSelfKey(const char *name)
{
    return strcmp(name, DRAVIK_MAGIC_SELF_KEY) == 0;
}

/* An NSString of a key in Perl's encoding of it. */
static NSString *
KeyString(const char *bytes, STRLEN length, int utf8)
{
    return [[[NSString alloc] initWithBytes: bytes length: length
	encoding: utf8 ? NSUTF8StringEncoding : NSISOLatin1StringEncoding] autorelease];
}

@implementation BqPerlObject (InstanceVariables)

/* The tie object of the retaining hash, or null. */
- (SV *) _tieObject: (HV *)hash
{
    return magic ? Dravik_GetMagic((SV *) hash, DRAVIK_MAGIC_HASH) : NULL;
}

- (BOOL) isIVar: (const char *)name
{
    HV *hash = DravikPriv_ReferencedHash(sv);
    if (hash == NULL || name == NULL) {
	return NO;
    }
    DRAVIK_dOBJECT("isIVar:");
    I32 length = (I32) strlen(name);
    if (magic) {
	return Dravik_Magic_exists([self _tieObject: hash], name, length);
    }
    bool exists = false;
    OnHash(aTHX_ hash, "isIVar:", name, [&] { exists = hv_exists(hash, name, length); });
    return exists ? YES : NO;
}

/*
 *----------------------------------------------------------------------
 * allIVars --
 *	The keys of the hash but "selfObject", in the hash's order.  Walking
 *	the hash resets its iterator.
 *----------------------------------------------------------------------
 */
- (NSArray *) allIVars
{
    HV *hash = DravikPriv_ReferencedHash(sv);
    if (hash == NULL) {
	return nil;
    }
    DRAVIK_dOBJECT("allIVars");
    if (magic) {
	NSMutableArray *keys = Dravik_Magic_keys([self _tieObject: hash]);
	return keys != nil ? keys : [NSMutableArray array];
    }
    NSMutableArray *keys = [NSMutableArray arrayWithCapacity: HvUSEDKEYS(hash)];
    OnHash(aTHX_ hash, "allIVars", "keys", [&] {
	hv_iterinit(hash);
	HE *entry;
	while ((entry = hv_iternext(hash)) != NULL) {
	    STRLEN length;
	    const char *bytes = HePV(entry, length);
	    if (length == sizeof DRAVIK_MAGIC_SELF_KEY - 1 && IsSelfKey(bytes)) {
		continue;
	    }
	    NSString *string = KeyString(bytes, length, HeUTF8(entry) != 0);
	    if (string != nil) {
		[keys addObject: string];
	    }
	}
    });
    return keys;
}

/*
 * _readIVar:raw:strict: --
 *	The value of an entry, converted; nil when there is none.  A value
 *	that does not convert raises "Perl Error" when strict, else reads
 *	as nil.  Prints the trace line of a read.
 */
- (id) _readIVar: (const char *)name raw: (BOOL)raw strict: (BOOL)strict
{
    if (traceGet) {
	printf("%s->{%s} %s>> ", [self stashName], name != NULL ? name : "(null)",
	    raw ? "**" : "==");
    }
    HV *hash = DravikPriv_ReferencedHash(sv);
    if (hash == NULL || name == NULL) {
	if (traceGet) {
	    printf("nil\n");
	}
	return nil;
    }
    DRAVIK_dOBJECT("getIVarValue:raw:");
    I32 length = (I32) strlen(name);
    SV *tie = [self _tieObject: hash];
    id result = nil;
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    char failed = 0;
    int ran = 1;
    if (magic || !HashNeedsTrap(hash)) {
	SV **slot = magic ? Dravik_Magic_fetch(tie, name, length, 0)
	    : hv_fetch(hash, name, length, 0);
	if (slot != NULL) {
	    ran = DravikPriv_ObjectForValue(aTHX_ *slot, raw, &errors, &failed, &result);
	}
    } else {
	/* A tied hash's entry is a temporary that the trap frees. */
	ran = VantlePriv_Trapped(aTHX_ [&] {
	    SV **slot = hv_fetch(hash, name, length, 0);
	    if (slot != NULL) {
		result = raw ? Dravik_ObjectForSV_Raw(*slot, &errors, &failed)
		    : Vantle_ObjectForSV(*slot, &errors, &failed);
	    }
	});
    }
    if (!ran || failed) {
	if (strict) {
	    if (traceGet) {
		printf("ERROR\n");
	    }
	    DravikPriv_RaiseFailure(aTHX_ "getIVarValue:raw:", name, !ran, &errors);
	}
	result = nil;
    }
    Tcl_DStringFree(&errors);
    if (traceGet) {
	printf("%s\n", DravikPriv_TraceText(result));
    }
    return result;
}

- (id) getIVarValue: (const char *)name
{
    return [self _readIVar: name raw: rawGet strict: YES];
}

- (id) getIVarValue: (const char *)name raw: (BOOL)raw
{
    return [self _readIVar: name raw: raw strict: YES];
}

- (NSMutableDictionary *) allIVarValues
{
    NSArray *keys = [self allIVars];
    NSMutableDictionary *values = [NSMutableDictionary dictionaryWithCapacity: [keys count]];
    for (NSString *key in keys) {
	id value = [self _readIVar: [key UTF8String] raw: YES strict: NO];
	if (value != nil) {
	    [values setObject: value forKey: key];
	}
    }
    return values;
}

- (void) setIVar: (const char *)name toValue: (id)value
{
    [self setIVar: name toValue: value raw: rawSet retain: YES];
}

- (void) setIVar: (const char *)name toValue: (id)value raw: (BOOL)raw
{
    [self setIVar: name toValue: value raw: raw retain: YES];
}

/*
 *----------------------------------------------------------------------
 * setIVar:toValue:raw:retain: --
 *	Stores a new scalar set from value under name.  A retaining hash
 *	retains and releases by itself.  In a plain hash, with retain, the
 *	new value's object is kept before the old value's object is let go
 *	(so storing the object an entry already holds never frees it), and
 *	only once the store succeeded; the owner's key "selfObject" keeps
 *	nothing.  A value that does not convert, or a Perl error of a tied
 *	hash, raises "Perl Error" and keeps nothing new.
 *----------------------------------------------------------------------
 */
- (void) setIVar: (const char *)name toValue: (id)value raw: (BOOL)raw retain: (BOOL)retain
{
    if (traceSet) {
	printf("%s->{%s} <<%s %s\n", [self stashName], name != NULL ? name : "(null)",
	    raw ? "**" : "==", DravikPriv_TraceText(value));
    }
    HV *hash = DravikPriv_ReferencedHash(sv);
    if (hash == NULL || name == NULL) {
	return;
    }
    DRAVIK_dOBJECT("setIVar:toValue:raw:retain:");
    SV *newValue = newSV(0);
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    char failed = 0;
    int ran = DravikPriv_ValueForObject(aTHX_ newValue, value, raw, &errors, &failed);
    if (!ran || failed) {
	SvREFCNT_dec_NN(newValue);
	DravikPriv_RaiseFailure(aTHX_ "setIVar:toValue:raw:retain:", name, !ran, &errors);
    }
    Tcl_DStringFree(&errors);
    I32 length = (I32) strlen(name);
    if (magic) {
	SV *tie = [self _tieObject: hash];
	if (tie == NULL) {
	    SvREFCNT_dec_NN(newValue);
	    return;
	}
	@try {
	    Dravik_Magic_store(tie, name, length, newValue, retain);
	} @catch (id exception) {
	    /* A retain that raised stored nothing: the value is ours. */
	    SvREFCNT_dec_NN(newValue);
	    @throw;
	}
	return;
    }
    retain = retain && !IsSelfKey(name);
    id newObject = retain ? HandleObject(aTHX_ newValue) : nil;
    id oldObject = nil;
    if (retain && !HashNeedsTrap(hash)) {
	SV **old = hv_fetch(hash, name, length, 0);
	oldObject = old != NULL ? HandleObject(aTHX_ *old) : nil;
    }
    OnHash(aTHX_ hash, "setIVar:toValue:raw:retain:", name, [&] {
	/* A tied hash stores when the value's set-magic runs, and then
	 * gives the value back. */
	SV **slot = hv_store(hash, name, length, newValue, 0);
	SvSETMAGIC(newValue);
	if (slot == NULL) {
	    SvREFCNT_dec_NN(newValue);
	}
    });
    if (newObject != nil) {
	[self _keepObject: newObject];
    }
    if (oldObject != nil) {
	[self _releaseObject: oldObject];
    }
}

/*
 * _makeIVar:readOnly: --
 *	Sets or clears the read-only flag of an entry's value.  An entry of
 *	a tied hash is fetched anew at every use, and Perl's shared
 *	constants (undef, yes, no) stay as they are: both are left alone.
 */
- (void) _makeIVar: (const char *)name readOnly: (BOOL)readOnly
{
    HV *hash = DravikPriv_ReferencedHash(sv);
    if (hash == NULL || name == NULL || (!magic && HashNeedsTrap(hash))) {
	return;
    }
    DRAVIK_dOBJECT("_makeIVar:readOnly:");
    I32 length = (I32) strlen(name);
    SV **slot = magic ? Dravik_Magic_fetch([self _tieObject: hash], name, length, 0)
	: hv_fetch(hash, name, length, 0);
    if (slot == NULL || SvIMMORTAL(*slot)) {
	return;
    }
    if (readOnly) {
	SvREADONLY_on(*slot);
    } else {
	SvREADONLY_off(*slot);
    }
}

- (void) retainSV: (SV *)value
{
    DRAVIK_dOBJECT("retainSV:");
    [self _keepObject: HandleObject(aTHX_ value)];
}

/* Keeps object alive (once more), in the retained-object list. */
- (void) _keepObject: (id)object
{
    if (object == nil) {
	return;
    }
    if (rr == nil) {
	rr = [[NSMutableArray alloc] init];
    }
    [rr addObject: object];
}

- (void) releaseSV: (SV *)value
{
    DRAVIK_dOBJECT("releaseSV:");
    [self _releaseObject: HandleObject(aTHX_ value)];
}

/* Lets go of one hold on object (by identity: equal objects kept for
 * other entries stay). */
- (void) _releaseObject: (id)object
{
    if (object == nil || rr == nil) {
	return;
    }
    NSUInteger index = [rr indexOfObjectIdenticalTo: object];
    if (index != NSNotFound) {
	[rr removeObjectAtIndex: index];
    }
}

@end
