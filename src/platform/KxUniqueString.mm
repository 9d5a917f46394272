/*
 * KxUniqueString.mm --
 *
 *	The interning table is a Tcl string-keyed hash table; the key text
 *	that Tcl stores inside each entry is the unique copy.  Entries are
 *	never deleted, so the returned pointers stay valid for the life of
 *	the process, whichever thread asked.
 */
#include "KxUniqueString.h"
#include "BqTcl.h"
#include "KxLock.h"

KX_MUTEX_DEFINE(uniqueStringsLock);
static Tcl_HashTable uniqueStrings;
static int uniqueStringsReady;

const char *
KxUniqueString(const char *text)
{
    if (text == NULL) {
	return NULL;
    }
    KxLockGuard guard(&uniqueStringsLock);
    if (!uniqueStringsReady) {
	Tcl_InitHashTable(&uniqueStrings, TCL_STRING_KEYS);
	uniqueStringsReady = 1;
    }
    int isNew;
    Tcl_HashEntry *entry = Tcl_CreateHashEntry(&uniqueStrings, text, &isNew);
    return (const char *) Tcl_GetHashKey(&uniqueStrings, entry);
}
