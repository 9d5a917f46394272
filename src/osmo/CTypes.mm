/*
 * CTypes.mm --
 *
 *	C type tables: registration of named types with their converters,
 *	lookup by encoding and by name, conversion of single values through
 *	the converters, the type fixes for the runtime's internal types, the
 *	object type check, the binding hooks and the ring of temporary blocks.
 *
 *	Lookup by encoding is on the path of every converted argument, so it
 *	copies nothing when the type already ends the string, and consults
 *	the fixes only for encodings whose first byte some fix starts with.
 */
#import <Foundation/Foundation.h>

#include "CTypes.h"
#include "BqOsmoCore.h"
#include "Class.h"
#include "KxPlatform.h"
#include "Protocol.h"

#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* Every table ever created, newest first. */
static CTypeTable *tableList;

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

#define RING_SLOTS 64
#define RING_EXTRA 128

/* One ring per thread: a block handed out on one thread is never reused
 * by another while the first still works on it.  A thread's blocks are
 * given back when it ends. */
typedef struct Ring {
    void *blocks[RING_SLOTS];
    KxZone *zones[RING_SLOTS];
    unsigned next;
} Ring;

static pthread_key_t ringKey;
static pthread_once_t ringKeyOnce = PTHREAD_ONCE_INIT;

static void
FreeRing(void *pointer)
{
    Ring *ring = (Ring *) pointer;
    for (unsigned slot = 0; slot < RING_SLOTS; slot++) {
	if (ring->blocks[slot] != NULL) {
	    KxZoneFree(ring->zones[slot], ring->blocks[slot]);
	}
    }
    free(ring);
}

static void
MakeRingKey(void)
{
    pthread_key_create(&ringKey, FreeRing);
}

/* This thread's ring, made on first use; null when out of memory. */
static Ring *
ThreadRing(void)
{
    pthread_once(&ringKeyOnce, MakeRingKey);
    Ring *ring = (Ring *) pthread_getspecific(ringKey);
    if (ring == NULL) {
	ring = (Ring *) calloc(1, sizeof *ring);
	if (ring != NULL && pthread_setspecific(ringKey, ring) != 0) {
	    free(ring);
	    ring = NULL;
	}
    }
    return ring;
}

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
 * FixedType --
 *	The encoding one type (exactly one, NUL-terminated) is registered
 *	under: its fix, or the fix of its tag-only form when it is a pointer
 *	to a complete tagged structure ("^{tag=...}" as "^{tag}"), or the
 *	type itself.
 *----------------------------------------------------------------------
 */
static const char *
FixedType(const char *type)
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

/*
 *----------------------------------------------------------------------
 * BqOsmo_NewCTypeTable --
 *	Creates a table with empty indexes and no hooks, links it into the
 *	list of tables and answers it.  The name is copied.
 *----------------------------------------------------------------------
 */
CTypeTable *
BqOsmo_NewCTypeTable(const char *name, void *clientWord,
	BqOsmo_UnparseTypeProc unparseType, BqOsmo_ParseTypeProc parseType,
	BqOsmo_UnparseQualifiersProc unparseQualifiers,
	BqOsmo_ParseQualifiersProc parseQualifiers,
	BqOsmo_DefaultConverter defaultToC, BqOsmo_DefaultConverter defaultFromC,
	int flag)
{
    CTypeTable *table = (CTypeTable *) BqOsmo_RuntimeAlloc(sizeof *table);
    memset(table, 0, sizeof *table);
    table->name = name != NULL ? BqOsmo_RuntimeStrdup(name) : NULL;
    table->clientWord = clientWord;
    Tcl_InitHashTable(&table->byType, TCL_STRING_KEYS);
    Tcl_InitHashTable(&table->byName, TCL_STRING_KEYS);
    table->unparseType = unparseType;
    table->parseType = parseType;
    table->unparseQualifiers = unparseQualifiers;
    table->parseQualifiers = parseQualifiers;
    table->defaultToC = defaultToC;
    table->defaultFromC = defaultFromC;
    table->flag = flag;
    table->link = tableList;
    tableList = table;
    return table;
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_AddCType --
 *	Registers a type name.  The first registration of an encoding fixes
 *	its name, the first of a name its encoding: an entry is made only
 *	when one of the two keys is new, and only new keys point at it.  An
 *	encoding with quoted element or class names is registered a second
 *	time without them, so a named structure is also found by its bare
 *	encoding.  Null or empty type or name does nothing.
 *----------------------------------------------------------------------
 */
void
BqOsmo_AddCType(CTypeTable *table, const char *type, const char *name,
	BqOsmo_EntryConverter toC, void *toCData,
	BqOsmo_EntryConverter fromC, void *fromCData)
{
    if (table == NULL || type == NULL || *type == '\0' || name == NULL || *name == '\0') {
	return;
    }
    int typeIsNew, nameIsNew;
    Tcl_HashEntry *typeKey = Tcl_CreateHashEntry(&table->byType, type, &typeIsNew);
    Tcl_HashEntry *nameKey = Tcl_CreateHashEntry(&table->byName, name, &nameIsNew);
    if (typeIsNew || nameIsNew) {
	CTypeEntry *entry = (CTypeEntry *) BqOsmo_RuntimeAlloc(sizeof *entry);
	entry->type = (const char *) Tcl_GetHashKey(&table->byType, typeKey);
	entry->name = (const char *) Tcl_GetHashKey(&table->byName, nameKey);
	entry->toC = toC;
	entry->toCData = toCData;
	entry->fromC = fromC;
	entry->fromCData = fromCData;
	if (typeIsNew) {
	    Tcl_SetHashValue(typeKey, (ClientData) entry);
	    table->generation++;
	}
	if (nameIsNew) {
	    Tcl_SetHashValue(nameKey, (ClientData) entry);
	}
    }
    if (strchr(type, '"') != NULL) {
	Tcl_DString bare;
	Tcl_DStringInit(&bare);
	Tcl_DStringSetLength(&bare, (int) strlen(type));
	BqTypeSpec_StripCTypeQuote(type, Tcl_DStringValue(&bare));
	BqOsmo_AddCType(table, Tcl_DStringValue(&bare), name, toC, toCData, fromC, fromCData);
	Tcl_DStringFree(&bare);
    }
}

/*
 *----------------------------------------------------------------------
 * BqOsmo__CTypeTFind --
 *	The entry for the first type of an encoding: qualifiers, offsets and
 *	following types are ignored, and type fixes apply.  Null when the
 *	table has none, or the type is empty or malformed.
 *----------------------------------------------------------------------
 */
CTypeEntry *
BqOsmo__CTypeTFind(CTypeTable *table, const char *type)
{
    if (table == NULL || type == NULL) {
	return NULL;
    }
    const char *start = BqTypeSpec_SkipTypeQualifiers(type);
    if (*start == '\0') {
	return NULL;
    }
    const char *end = BqTypeSpec_ScanType(start, NULL, NULL);
    if (end == NULL) {
	return NULL;
    }
    Tcl_DString copy;
    const char *key = start;
    if (*end != '\0') {
	Tcl_DStringInit(&copy);
	key = Tcl_DStringAppend(&copy, start, (int) (end - start));
    }
    Tcl_HashEntry *hPtr = Tcl_FindHashEntry(&table->byType, FixedType(key));
    if (key != start) {
	Tcl_DStringFree(&copy);
    }
    return hPtr != NULL ? (CTypeEntry *) Tcl_GetHashValue(hPtr) : NULL;
}

const char *
BqOsmo__NameForCType(CTypeTable *table, const char *type)
{
    CTypeEntry *entry = BqOsmo__CTypeTFind(table, type);
    return entry != NULL ? entry->name : NULL;
}

CTypeEntry *
BqOsmo__CTypeNFind(CTypeTable *table, const char *name)
{
    if (table == NULL || name == NULL) {
	return NULL;
    }
    Tcl_HashEntry *hPtr = Tcl_FindHashEntry(&table->byName, name);
    return hPtr != NULL ? (CTypeEntry *) Tcl_GetHashValue(hPtr) : NULL;
}

const char *
BqOsmo__CTypeForName(CTypeTable *table, const char *name)
{
    CTypeEntry *entry = BqOsmo__CTypeNFind(table, name);
    return entry != NULL ? entry->type : NULL;
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_IsValidCType --
 *	Whether a type can be converted: never the empty type or '?'; any
 *	type the table knows; otherwise the general rule of
 *	BqTypeSpec_IsValidCType.  The three variants apply the same test.
 *----------------------------------------------------------------------
 */
char
BqOsmo_IsValidCType(CTypeTable *table, const char *type)
{
    if (type == NULL) {
	return 0;
    }
    const char *bare = BqTypeSpec_SkipTypeQualifiers(type);
    if (*bare == '\0' || *bare == '?') {
	return 0;
    }
    if (table != NULL && BqOsmo__CTypeTFind(table, bare) != NULL) {
	return 1;
    }
    return BqTypeSpec_IsValidCType(bare);
}

char
BqOsmo_IsValidIVarType(CTypeTable *table, const char *type)
{
    return BqOsmo_IsValidCType(table, type);
}

char
BqOsmo_IsValidReturnType(CTypeTable *table, const char *type)
{
    return BqOsmo_IsValidCType(table, type);
}

char
BqOsmo_IsValidArgType(CTypeTable *table, const char *type)
{
    return BqOsmo_IsValidCType(table, type);
}

/* Appends text with a backslash before each " [ ] { }. */
static void
AppendEscapedType(Tcl_DString *result, const char *type)
{
    const char *run = type;
    for (const char *p = type; *p != '\0'; p++) {
	if (strchr("\"[]{}", *p) != NULL) {
	    Tcl_DStringAppend(result, run, (int) (p - run));
	    Tcl_DStringAppend(result, "\\", 1);
	    run = p;
	}
    }
    Tcl_DStringAppend(result, run, -1);
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_GetCTypes --
 *	Appends a Tcl list of {name type} pairs, one per registered name, in
 *	the order of the hash table.  Brackets, braces and quotes in types
 *	are escaped; a name containing blanks is braced, so every pair reads
 *	back as two elements.
 *----------------------------------------------------------------------
 */
void
BqOsmo_GetCTypes(CTypeTable *table, Tcl_DString *result)
{
    if (table == NULL || result == NULL) {
	return;
    }
    Tcl_HashSearch search;
    int first = 1;
    for (Tcl_HashEntry *hPtr = Tcl_FirstHashEntry(&table->byName, &search);
	    hPtr != NULL; hPtr = Tcl_NextHashEntry(&search)) {
	CTypeEntry *entry = (CTypeEntry *) Tcl_GetHashValue(hPtr);
	const char *name = (const char *) Tcl_GetHashKey(&table->byName, hPtr);
	int braced = strpbrk(name, " \t\n") != NULL;
	BqTcl_DStringApp(result, first ? "{" : " {", braced ? "{" : "", name,
		braced ? "} " : " ", (char *) NULL);
	AppendEscapedType(result, entry->type);
	Tcl_DStringAppend(result, "}", 1);
	first = 0;
    }
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_T2N --
 *	Appends the name of a type.  A registered type without qualifiers
 *	gives its entry's name; with qualifiers the table's unparse-
 *	qualifiers operation writes the name.  Other types go to the table's
 *	unparse-type operation with the full type and its qualifier bits.
 *----------------------------------------------------------------------
 */
int
BqOsmo_T2N(CTypeTable *table, const char *type, Tcl_DString *result)
{
    if (table == NULL || type == NULL) {
	BqTcl_DStringApp(result, "cannot convert ctype name", (char *) NULL);
	return 1;
    }
    unsigned bits = BqTypeSpec_GetTypeQualifiers(type);
    CTypeEntry *entry = BqOsmo__CTypeTFind(table, type);
    if (entry != NULL && bits == 0) {
	Tcl_DStringAppend(result, entry->name, -1);
	return 0;
    }
    if (entry != NULL && table->unparseQualifiers != NULL) {
	return table->unparseQualifiers(entry, bits, result);
    }
    if (table->unparseType != NULL) {
	return table->unparseType(table, type, bits, result);
    }
    BqTcl_DStringApp(result, "cannot convert ctype name", (char *) NULL);
    return 1;
}

/* Copies name into copy without leading and trailing white space. */
static const char *
TrimmedName(const char *name, Tcl_DString *copy)
{
    static const char blanks[] = " \t\n\r\f\v";
    while (*name != '\0' && strchr(blanks, *name) != NULL) {
	name++;
    }
    size_t length = strlen(name);
    while (length > 0 && strchr(blanks, name[length - 1]) != NULL) {
	length--;
    }
    Tcl_DStringInit(copy);
    return Tcl_DStringAppend(copy, name, (int) length);
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_N2T --
 *	Appends the encoding for a type name.  Blanks around the name are
 *	ignored; qualifier words are taken off by the table's parse-
 *	qualifiers operation; a registered name gives the qualifier
 *	characters and its entry's encoding; any other name goes to the
 *	table's parse-type operation.
 *----------------------------------------------------------------------
 */
int
BqOsmo_N2T(CTypeTable *table, const char *name, Tcl_DString *result)
{
    if (table == NULL || name == NULL) {
	BqTcl_DStringApp(result, "cannot convert itype name", (char *) NULL);
	return 1;
    }
    Tcl_DString trimmed, bare;
    const char *bareName = TrimmedName(name, &trimmed);
    unsigned bits = 0;
    int code = 0;
    Tcl_DStringInit(&bare);
    if (table->parseQualifiers != NULL) {
	code = table->parseQualifiers(bareName, &bits, &bare) != 0;
	if (code != 0) {
	    Tcl_DStringAppend(result, Tcl_DStringValue(&bare), Tcl_DStringLength(&bare));
	}
	bareName = Tcl_DStringValue(&bare);
    }
    if (code == 0) {
	CTypeEntry *entry = BqOsmo__CTypeNFind(table, bareName);
	if (entry != NULL) {
	    BqTypeSpec_Qualifiers(result, bits);
	    Tcl_DStringAppend(result, entry->type, -1);
	} else if (table->parseType != NULL) {
	    code = table->parseType(table, bareName, bits, result);
	} else {
	    BqTcl_DStringApp(result, "cannot convert itype name", (char *) NULL);
	    code = 1;
	}
    }
    Tcl_DStringFree(&bare);
    Tcl_DStringFree(&trimmed);
    return code;
}

/*
 *----------------------------------------------------------------------
 * Convert --
 *	The common path of I2C and C2I: the qualifier characters of type
 *	join the qualifier word; the entry's converter of the direction is
 *	called when there is one, else the table's default converter, with
 *	the entry's own encoding when an entry was found.
 *----------------------------------------------------------------------
 */
void
BqOsmo_ResolveCType(CTypeTable *table, const char *type, BqOsmoCTypeConversion *conversion)
{
    if (type == NULL) {
	type = "";
    }
    conversion->table = table;
    conversion->generation = table != NULL ? table->generation : 0;
    conversion->type = type;
    conversion->bare = BqTypeSpec_SkipTypeQualifiers(type);
    conversion->qualifiers = BqTypeSpec_GetTypeQualifiers(type);
    conversion->entry = table != NULL ? BqOsmo__CTypeTFind(table, conversion->bare) : NULL;
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_ConvertResolved --
 *	Converts one value by a resolved type: the entry's converter when it
 *	has one, else the table's default (given the entry's own type when
 *	there is an entry), else a message.
 *----------------------------------------------------------------------
 */
int
BqOsmo_ConvertResolved(int toC, void *interp, Tcl_DString *errors,
	const BqOsmoCTypeConversion *conversion, void *ivalue, void *cstorage, int flag,
	unsigned qualifiers)
{
    const char *direction = toC ? "to" : "from";
    CTypeTable *table = conversion->table;
    if (table == NULL) {
	BqTcl_DStringApp(errors, "cannot convert ", direction,
		" type (no C type table)", (char *) NULL);
	return 1;
    }
    CTypeEntry *entry = conversion->entry;
    qualifiers |= conversion->qualifiers;
    BqOsmo_EntryConverter convert = entry == NULL ? NULL : toC ? entry->toC : entry->fromC;
    if (convert != NULL) {
	return convert(interp, errors, ivalue, cstorage, flag, entry, qualifiers);
    }
    BqOsmo_DefaultConverter fallback = toC ? table->defaultToC : table->defaultFromC;
    if (fallback != NULL) {
	return fallback(interp, errors, table, ivalue, cstorage, flag,
		entry != NULL ? entry->type : conversion->bare, entry, qualifiers);
    }
    BqTcl_DStringApp(errors, "cannot convert ", direction, " type \"", conversion->type,
	    "\" (no conversion function)", (char *) NULL);
    return 1;
}

static int
Convert(int toC, void *interp, Tcl_DString *errors, CTypeTable *table,
	void *ivalue, void *cstorage, int flag, const char *type, unsigned qualifiers)
{
    BqOsmoCTypeConversion conversion;
    BqOsmo_ResolveCType(table, type, &conversion);
    return BqOsmo_ConvertResolved(toC, interp, errors, &conversion, ivalue, cstorage, flag,
	    qualifiers);
}

int
BqOsmo_I2C(void *interp, Tcl_DString *errors, CTypeTable *table, void *ivalue,
	void *cstorage, int flag, const char *type, unsigned qualifiers)
{
    return Convert(1, interp, errors, table, ivalue, cstorage, flag, type, qualifiers);
}

int
BqOsmo_C2I(void *interp, Tcl_DString *errors, CTypeTable *table, void *ivalue,
	void *cstorage, int flag, const char *type, unsigned qualifiers)
{
    return Convert(0, interp, errors, table, ivalue, cstorage, flag, type, qualifiers);
}

/*
 * IsKindOfClass --
 *	Whether object is an instance of wanted or of a subclass.  A class
 *	object is an instance of its metaclass, whose chain ends in the root
 *	class; it is reached through the class chain, since this runtime may
 *	leave a metaclass's superclass link unresolved.
 */
static int
IsKindOfClass(id object, Class wanted)
{
    Class cls = object_getClass(object);
    if (class_isMetaClass(cls)) {
	Class root = (Class) object;
	while (class_getSuperclass(root) != Nil) {
	    root = class_getSuperclass(root);
	}
	return root == wanted;
    }
    for (; cls != Nil; cls = class_getSuperclass(cls)) {
	if (cls == wanted) {
	    return 1;
	}
    }
    return 0;
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_CheckObjectType --
 *	Whether object may stand where type is declared.  Nil always may.
 *	'#' wants a class; @"<P>" an object whose class (the class itself
 *	for a class object) conforms to protocol P; @"Name" an instance of
 *	class Name or of a subclass.  Other types declare nothing to check.
 *	On a mismatch appends label, what and the reason, and answers 1.
 *----------------------------------------------------------------------
 */
int
BqOsmo_CheckObjectType(id object, const char *type, const char *label,
	const char *what, Tcl_DString *errors)
{
    if (object == nil || type == NULL) {
	return 0;
    }
    label = label != NULL ? label : "";
    what = what != NULL ? what : "";
    const char *p = BqTypeSpec_SkipTypeQualifiers(type);
    int isClass = class_isMetaClass(object_getClass(object));
    if (*p == '#') {
	if (isClass) {
	    return 0;
	}
	BqTcl_DStringApp(errors, label, what, " is not a class", (char *) NULL);
	return 1;
    }
    if (p[0] != '@' || p[1] != '"') {
	return 0;
    }
    const char *nameStart = p + 2;
    const char *nameEnd = strchr(nameStart, '"');
    if (nameEnd == NULL) {
	nameEnd = nameStart + strlen(nameStart);
    }
    Tcl_DString name;
    Tcl_DStringInit(&name);
    int failed = 0;
    if (*nameStart == '<') {
	const char *close = (const char *) memchr(nameStart, '>', (size_t) (nameEnd - nameStart));
	const char *protoName = Tcl_DStringAppend(&name, nameStart + 1,
		(int) ((close != NULL ? close : nameEnd) - nameStart - 1));
	Protocol *protocol = BqOsmo_LookupProtocol(Nil, protoName);
	Class cls = isClass ? (Class) object : object_getClass(object);
	if (protocol == nil || !BqOsmo_ClassConformsTo(cls, protocol)) {
	    BqTcl_DStringApp(errors, label, what, " does not conform to protocol ",
		    protoName, (char *) NULL);
	    failed = 1;
	}
    } else if (nameEnd > nameStart) {
	const char *className = Tcl_DStringAppend(&name, nameStart, (int) (nameEnd - nameStart));
	Class wanted = objc_lookUpClass(className);
	if (wanted == Nil || !IsKindOfClass(object, wanted)) {
	    BqTcl_DStringApp(errors, label, what, " is not a kind of ", className,
		    (char *) NULL);
	    failed = 1;
	}
    }
    Tcl_DStringFree(&name);
    return failed;
}

/* The newest table with that name (same pointer, or equal text). */
static CTypeTable *
TableNamed(const char *name)
{
    for (CTypeTable *table = tableList; table != NULL; table = table->link) {
	if (table->name == name
		|| (table->name != NULL && name != NULL && strcmp(table->name, name) == 0)) {
	    return table;
	}
    }
    return NULL;
}

BqOsmo_MsgSendHook
BqOsmo_SetMsgSendHook(const char *tableName, BqOsmo_MsgSendHook hook)
{
    CTypeTable *table = TableNamed(tableName);
    if (table == NULL) {
	return NULL;
    }
    BqOsmo_MsgSendHook previous = table->msgSendHook;
    table->msgSendHook = hook;
    return previous;
}

BqOsmo_MsgSendHook
BqOsmo_GetMsgSendHook(const char *tableName)
{
    CTypeTable *table = TableNamed(tableName);
    return table != NULL ? table->msgSendHook : NULL;
}

/* Stores hook into the slot at offset slotOffset of the named table. */
static BqOsmo_DefineHook
SwapDefineHook(const char *tableName, size_t slotOffset, BqOsmo_DefineHook hook)
{
    CTypeTable *table = TableNamed(tableName);
    if (table == NULL) {
	return NULL;
    }
    BqOsmo_DefineHook *slot = (BqOsmo_DefineHook *) ((char *) table + slotOffset);
    BqOsmo_DefineHook previous = *slot;
    *slot = hook;
    return previous;
}

static BqOsmo_DefineHook
ReadDefineHook(const char *tableName, size_t slotOffset)
{
    CTypeTable *table = TableNamed(tableName);
    return table != NULL ? *(BqOsmo_DefineHook *) ((char *) table + slotOffset) : NULL;
}

BqOsmo_DefineHook
BqOsmo_SetClassDefineHook(const char *tableName, BqOsmo_DefineHook hook)
{
    return SwapDefineHook(tableName, offsetof(CTypeTable, classDefineHook), hook);
}

BqOsmo_DefineHook
BqOsmo_GetClassDefineHook(const char *tableName)
{
    return ReadDefineHook(tableName, offsetof(CTypeTable, classDefineHook));
}

BqOsmo_DefineHook
BqOsmo_SetCategoryDefineHook(const char *tableName, BqOsmo_DefineHook hook)
{
    return SwapDefineHook(tableName, offsetof(CTypeTable, categoryDefineHook), hook);
}

BqOsmo_DefineHook
BqOsmo_GetCategoryDefineHook(const char *tableName)
{
    return ReadDefineHook(tableName, offsetof(CTypeTable, categoryDefineHook));
}

BqOsmo_DefineHook
BqOsmo_SetProtocolDefineHook(const char *tableName, BqOsmo_DefineHook hook)
{
    return SwapDefineHook(tableName, offsetof(CTypeTable, protocolDefineHook), hook);
}

BqOsmo_DefineHook
BqOsmo_GetProtocolDefineHook(const char *tableName)
{
    return ReadDefineHook(tableName, offsetof(CTypeTable, protocolDefineHook));
}

/*
 *----------------------------------------------------------------------
 * Bqgc_malloc --
 *	Hands out the next slot of this thread's ring: its block is resized
 *	to size + 128 bytes and zeroed.  A block made before the temporary
 *	zone existed is given back to its own zone and replaced.  Answers
 *	null only when size + 128 does not fit a size_t (or the thread's
 *	ring cannot be made).
 *----------------------------------------------------------------------
 */
void *
Bqgc_malloc(size_t size)
{
    if (size > SIZE_MAX - RING_EXTRA) {
	return NULL;
    }
    Ring *ring = ThreadRing();
    if (ring == NULL) {
	return NULL;
    }
    size_t total = size + RING_EXTRA;
    unsigned slot = ring->next;
    KxZone *zone = BqOsmo_GetTmpZone();
    void *block = ring->blocks[slot];
    if (block != NULL && ring->zones[slot] != zone) {
	KxZoneFree(ring->zones[slot], block);
	block = NULL;
    }
    block = block != NULL ? KxZoneRealloc(zone, block, total) : KxZoneMalloc(zone, total);
    memset(block, 0, total);
    ring->blocks[slot] = block;
    ring->zones[slot] = zone;
    ring->next = (slot + 1) % RING_SLOTS;
    return block;
}
