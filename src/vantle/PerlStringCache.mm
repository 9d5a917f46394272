/*
 * PerlStringCache.mm --
 *
 *	Each interpreter keeps the NSStrings of the last short strings it
 *	converted, in a small direct-mapped cache hashed on the bytes.  A
 *	hit costs a hash and a compare where making the string costs an
 *	allocation, a UTF-8 check and an autorelease.
 *
 *	Invariants:
 *	- An entry holds one retain on its string.  An entry that is
 *	  replaced autoreleases its string instead of releasing it, so every
 *	  string handed out stays valid until the current pool drains, as
 *	  the autoreleased strings made without the cache do.
 *	- The bytes and the UTF-8 flag together are the key: the same bytes
 *	  read as Latin-1 are another string.
 *	- An interpreter runs on one thread at a time, and its cache is its
 *	  own, so no lock is needed.
 */
#import <Foundation/Foundation.h>

#include "PerlStringCache.h"
#include "PerlContext.h"
#include "VantlePriv.h"

#include <string.h>

#define CACHE_SLOTS	 32	/* a power of two */
#define CACHED_LENGTH	 48	/* longer strings are made every time */

typedef struct CachedString {
    id string;			/* nil: the slot is empty */
    unsigned char length;
    unsigned char isUTF8;
    char bytes[CACHED_LENGTH];
} CachedString;

typedef struct StringCache {
    CachedString slots[CACHE_SLOTS];
} StringCache;

/*
 * MakeString --
 *	An autoreleased NSString of the bytes, read as UTF-8 or as Latin-1.
 *	Nil (with the error appended) for bytes that are no valid UTF-8,
 *	such as surrogates Perl lets a string hold.
 */
static id
MakeString(const char *bytes, STRLEN length, int isUTF8, Tcl_DString *errors)
{
    id string = nil;
    int completed = VantlePriv_Guard(errors, [&] {
	string = [[[VantlePriv_NSStringClass alloc] initWithBytes: bytes length: length
		encoding: isUTF8 ? NSUTF8StringEncoding : NSISOLatin1StringEncoding]
		autorelease];
    });
    if (completed && string == nil) {
	BqTcl_DStringApp(errors, "string is not valid UTF-8", (char *) NULL);
    }
    return string;
}

/* The slot the bytes belong in (FNV-1a over the bytes and the flag). */
static unsigned
SlotOf(const char *bytes, STRLEN length, int isUTF8)
{
    unsigned hash = 2166136261u ^ (unsigned) isUTF8;
    for (STRLEN i = 0; i < length; i++) {
	hash = (hash ^ (unsigned char) bytes[i]) * 16777619u;
    }
    return (hash ^ (hash >> 15)) & (CACHE_SLOTS - 1);
}

id
VantlePriv_StringForBytes(pTHX_ const char *bytes, STRLEN length, int isUTF8,
	Tcl_DString *errors)
{
    if (length > CACHED_LENGTH) {
	return MakeString(bytes, length, isUTF8, errors);
    }
    VantleContext *context = VantlePriv_Context(aTHX);
    if (context->strings == NULL) {
	context->strings = (StringCache *) calloc(1, sizeof(StringCache));
	if (context->strings == NULL) {
	    return MakeString(bytes, length, isUTF8, errors);
	}
    }
    isUTF8 = isUTF8 != 0;
    CachedString *slot = &context->strings->slots[SlotOf(bytes, length, isUTF8)];
    if (slot->string != nil && slot->length == length && slot->isUTF8 == isUTF8
	    && memcmp(slot->bytes, bytes, length) == 0) {
	return slot->string;
    }
    id string = MakeString(bytes, length, isUTF8, errors);
    if (string == nil) {
	return nil;
    }
    id replaced = slot->string;
    slot->string = [string retain];
    slot->length = (unsigned char) length;
    slot->isUTF8 = (unsigned char) isUTF8;
    memcpy(slot->bytes, bytes, length);
    /* Whoever took the replaced string from here may still hold it. */
    [replaced autorelease];
    return string;
}

void
VantlePriv_StringCacheEnd(VantleContext *context)
{
    StringCache *cache = context->strings;
    if (cache == NULL) {
	return;
    }
    context->strings = NULL;
    for (unsigned i = 0; i < CACHE_SLOTS; i++) {
	[cache->slots[i].string release];
    }
    free(cache);
}
