/*
 * PerlStructNames.mm --
 *
 *	Member names of the structures that classes defined in Perl declare.
 *	A method's types are registered with the runtime without element
 *	names, as compiled methods' are (GNUstep's method signatures cannot
 *	read them), so a send from Perl to such a method would see members
 *	keyed "_0", "_1" ... only.  The declared encodings are remembered by
 *	structure tag, and a conversion of an unnamed encoding with the same
 *	tag and the same members uses the remembered names.
 *
 *	Process-wide, behind a spin lock; entries are interned strings and
 *	live as long as the process.  A tag declared again with other members
 *	keeps its first declaration (the other is simply not remembered).
 */
#import <Foundation/Foundation.h>

#include "PerlCTypes.h"
#include "BqTcl.h"
#include "KxLock.h"
#include "KxUniqueString.h"
#include "TypeEncoding.h"

#include <string.h>

static KxSpinLock structuresLock = KX_SPIN_LOCK_INITIALIZER;
static Tcl_HashTable structures;	/* tag -> named encoding */
static int structureCount;

/* Whether the encoding [type, end) holds an element name. */
static int
HasNames(const char *type, const char *end)
{
    return memchr(type, '"', (size_t) (end - type)) != NULL;
}

/* The tag of a structure encoding into tag (emptied first); 0 when it
 * has none or the anonymous one. */
static int
StructureTag(const char *type, Tcl_DString *tag)
{
    size_t length = strcspn(type + 1, "=}");
    Tcl_DStringSetLength(tag, 0);
    if (length == 0 || (length == 1 && type[1] == '?')) {
	return 0;
    }
    Tcl_DStringAppend(tag, type + 1, (int) length);
    return 1;
}

/* Remembers one named structure encoding [type, end) under its tag. */
static void
RememberOne(const char *type, const char *end)
{
    Tcl_DString tag, copy;
    Tcl_DStringInit(&tag);
    Tcl_DStringInit(&copy);
    if (StructureTag(type, &tag)) {
	Tcl_DStringAppend(&copy, type, (int) (end - type));
	const char *named = KxUniqueString(Tcl_DStringValue(&copy));
	KxSpinGuard guard(&structuresLock);
	if (structureCount == 0) {
	    Tcl_InitHashTable(&structures, TCL_STRING_KEYS);
	}
	int isNew = 0;
	Tcl_HashEntry *entry = Tcl_CreateHashEntry(&structures, Tcl_DStringValue(&tag), &isNew);
	if (isNew) {
	    Tcl_SetHashValue(entry, (ClientData) named);
	    __atomic_store_n(&structureCount, structureCount + 1, __ATOMIC_RELEASE);
	}
    }
    Tcl_DStringFree(&copy);
    Tcl_DStringFree(&tag);
}

/* Walks one type: every named structure in it, at any depth. */
static void
RememberIn(const char *type, int depth)
{
    type = BqTypeSpec_SkipTypeQualifiers(type);
    const char *end = BqTypeSpec_SkipTypeSpec(type);
    if (end == NULL || depth > BQ_TYPESPEC_MAX_DEPTH) {
	return;
    }
    switch (*type) {
    case '{': {
	if (HasNames(type, end)) {
	    RememberOne(type, end);
	}
	BqTypeMember member;
	for (int status = BqTypeSpec_FirstMember(type, &member); status == 1;
		status = BqTypeSpec_NextMember(&member)) {
	    RememberIn(member.type, depth + 1);
	}
	break;
    }
    case '[': {
	const char *element = type + 1;
	while (*element >= '0' && *element <= '9') {
	    element++;
	}
	RememberIn(element, depth + 1);
	break;
    }
    case '^':
	RememberIn(type + 1, depth + 1);
	break;
    default:
	break;
    }
}

void
VantlePriv_RememberStructures(const char *types)
{
    for (const char *cursor = types; cursor != NULL && *cursor != '\0';
	    cursor = BqTypeSpec_SkipArgument(cursor)) {
	RememberIn(cursor, 0);
    }
}

const char *
VantlePriv_RememberedStructure(const char *type, const char *end, const char **endPtr)
{
    if (__atomic_load_n(&structureCount, __ATOMIC_ACQUIRE) == 0 || *type != '{'
	    || HasNames(type, end)) {
	return NULL;
    }
    Tcl_DString tag;
    Tcl_DStringInit(&tag);
    const char *named = NULL;
    if (StructureTag(type, &tag)) {
	KxSpinGuard guard(&structuresLock);
	Tcl_HashEntry *entry = Tcl_FindHashEntry(&structures, Tcl_DStringValue(&tag));
	named = entry != NULL ? (const char *) Tcl_GetHashValue(entry) : NULL;
    }
    Tcl_DStringFree(&tag);
    if (named == NULL) {
	return NULL;
    }
    /* The same members: the named encoding without its names is this one. */
    size_t length = strlen(named);
    char *bare = (char *) alloca(length + 1);
    BqTypeSpec_StripCTypeQuote(named, bare);
    if (strlen(bare) != (size_t) (end - type) || memcmp(bare, type, (size_t) (end - type)) != 0) {
	return NULL;
    }
    *endPtr = named + length;
    return named;
}
