/*
 * CTypeFix.mm --
 *
 *	Type fixes: the encodings the compiler writes for the runtime's
 *	internal types, mapped to the encodings the tables register them
 *	under, so a method whose signature names "^{objc_class}" converts
 *	its argument as a class.  Looked up on the path of every converted
 *	argument, so only encodings whose first byte starts some fix are
 *	looked up at all.
 */
#import <Foundation/Foundation.h>

#include "CTypes.h"
#include "CTypesPriv.h"
#include "BqOsmoCore.h"

#include <string.h>

/* Encoding as the compiler emits it -> encoding it is registered under
 * (values are runtime-zone copies). */
static Tcl_HashTable typeFixes;
static int fixesReady;		/* the table exists */
static int standardFixesEntered;
/* First bytes of the fix keys: an encoding starting otherwise has none. */
static unsigned char fixStarts[256];

/*
 * The compiler's encodings of the runtime's internal types, and what they
 * are looked up as.  A pointer to a tagged structure is also found by the
 * tag-only form: "^{_objc_ivar_list}" covers "^{_objc_ivar_list=}" and
 * "^{_objc_class=...}" the complete class structure the runtime's own
 * records carry.
 */
static const char *const standardFixes[][2] = {
    { "^{_objc_class}",		"#" },
    { "^{_objc_selector}",	":" },
    { "^{_objc_object}",	"@" },
    { "^{objc_cache}",		"^v" },
    { "^^{_objc_protocol}",	"^v" },
    { "^{_objc_ivar_list}",	"^v" },
    { "^{_objc_method_list}",	"^v" },
    { "^{?=}",			"^{?}" },
    /* What GCC's runtime and clang -fobjc-runtime=gcc write here. */
    { "^{objc_class}",		"#" },
    { "^{objc_selector}",	":" },
    { "^{objc_object}",		"@" },
    { "^{sarray}",		"^v" },
    { "^{objc_ivar}",		"^v" },
    { "^{objc_method}",		"^v" },
    { "^{objc_property}",	"^v" },
    { "^{objc_category}",	"^v" },
    { "^{objc_protocol_list}",	"^v" },
    { "^{objc_method_description_list}", "^v" },
    /* NSZone *: the runtime's zone, registered by bindings as KxZonePtr. */
    { "^{_NSZone}",		"^{?=^?^?^?^?}" },
};

static const char *
FindFix(const char *type)
{
    Tcl_HashEntry *hPtr = Tcl_FindHashEntry(&typeFixes, type);
    return hPtr != NULL ? (const char *) Tcl_GetHashValue(hPtr) : NULL;
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_AddCTypeFix --
 *	Makes encoding fix be looked up as type.  A later fix for the same
 *	encoding replaces the earlier one.  Both must be given.
 *----------------------------------------------------------------------
 */
void
BqOsmo_AddCTypeFix(const char *fix, const char *type)
{
    if (fix == NULL || type == NULL || *fix == '\0') {
	return;
    }
    if (!fixesReady) {
	Tcl_InitHashTable(&typeFixes, TCL_STRING_KEYS);
	fixesReady = 1;
    }
    int isNew;
    Tcl_HashEntry *hPtr = Tcl_CreateHashEntry(&typeFixes, fix, &isNew);
    if (!isNew) {
	BqOsmo_RuntimeFree(Tcl_GetHashValue(hPtr));
    }
    Tcl_SetHashValue(hPtr, (ClientData) BqOsmo_RuntimeStrdup(type));
    fixStarts[(unsigned char) *fix] = 1;
}

/* Enters the standard fixes (once), creating the table if need be.  A
 * fix a host entered earlier for the same encoding is kept. */
void
BqOsmo_CTypeInit(void)
{
    if (standardFixesEntered) {
	return;
    }
    standardFixesEntered = 1;
    for (size_t i = 0; i < sizeof standardFixes / sizeof standardFixes[0]; i++) {
	if (!fixesReady || FindFix(standardFixes[i][0]) == NULL) {
	    BqOsmo_AddCTypeFix(standardFixes[i][0], standardFixes[i][1]);
	}
    }
}

/*
 *----------------------------------------------------------------------
 * BqOsmo__FixedCType --
 *	The encoding one type (exactly one, NUL-terminated) is registered
 *	under: its fix, or the fix of its tag-only form when it is a pointer
 *	to a complete tagged structure ("^{tag=...}" as "^{tag}"), or the
 *	type itself.
 *----------------------------------------------------------------------
 */
const char *
BqOsmo__FixedCType(const char *type)
{
    if (!fixesReady || !fixStarts[(unsigned char) *type]) {
	return type;
    }
    const char *fixed = FindFix(type);
    if (fixed != NULL) {
	return fixed;
    }
    const char *p = type;
    while (*p == '^') {
	p++;
    }
    if (p == type || *p != '{') {
	return type;
    }
    const char *equals = strpbrk(p, "=}");
    if (equals == NULL || *equals != '=') {
	return type;
    }
    Tcl_DString tagOnly;
    Tcl_DStringInit(&tagOnly);
    Tcl_DStringAppend(&tagOnly, type, (int) (equals - type));
    Tcl_DStringAppend(&tagOnly, "}", 1);
    fixed = FindFix(Tcl_DStringValue(&tagOnly));
    Tcl_DStringFree(&tagOnly);
    return fixed != NULL ? fixed : type;
}
