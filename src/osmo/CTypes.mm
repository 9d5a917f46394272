/*
 * CTypes.mm --
 *
 *	C type tables: registration of named types with their converters,
 *	lookup by encoding and by name, and conversion of single values
 *	through the converters.
 *
 *	Lookup by encoding is on the path of every converted argument, so it
 *	copies nothing when the type already ends the string, and consults
 *	the fixes only for encodings whose first byte some fix starts with.
 */
#import <Foundation/Foundation.h>

#include "CTypes.h"
#include "CTypesPriv.h"
#include "BqOsmoCore.h"
#include "KxPlatform.h"

#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* Every table ever created, newest first. */
CTypeTable *BqOsmo__CTypeTables;

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
    table->link = BqOsmo__CTypeTables;
    BqOsmo__CTypeTables = table;
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
    Tcl_HashEntry *hPtr = Tcl_FindHashEntry(&table->byType, BqOsmo__FixedCType(key));
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

