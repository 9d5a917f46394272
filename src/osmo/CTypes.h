/*
 * CTypes.h --
 *
 *	C type tables.  The runtime layer knows no scripting language: each
 *	language binding creates one table that maps type encodings to
 *	readable C type names and back, and holds per type the converters
 *	that turn an interpreter value into C storage ("to C") and back
 *	("from C").  Every value the message send, instance-variable access
 *	and pointer access exchange with C goes through BqOsmo_I2C and
 *	BqOsmo_C2I.
 *
 *	Tables, entries and type fixes live for the whole process.  Tables
 *	are filled while the binding starts and only read afterwards; nothing
 *	here is locked.
 *
 *	Conventions: errors and results go into caller-owned dynamic strings;
 *	functions that return int answer 0 on success and 1 on failure, the
 *	message then appended to the string.
 *
 *	Qualifier words: the low byte holds the qualifier bits of TypeEncoding.h;
 *	BQ_QUAL_RESULT marks a method's return value, BQ_QUAL_OWNED C string
 *	storage the receiver of the value owns, BQ_QUAL_ELEMENT an element of
 *	an aggregate converted from C.
 */
#ifndef BQ_CTYPES_H
#define BQ_CTYPES_H

#include "BqTcl.h"
#include "TypeEncoding.h"

#include <stddef.h>

#ifdef __OBJC__
#include <objc/objc.h>
#else
typedef struct objc_object *id;
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define BQ_QUAL_RESULT	0x100
#define BQ_QUAL_OWNED	0x200
#define BQ_QUAL_ELEMENT	0x400

typedef struct CTypeTable CTypeTable;
typedef struct CTypeEntry CTypeEntry;

/* An entry's converter: (interp, errors, interpreter value, address of
 * the C value, flag, the entry, qualifier word), 0 or 1.  For from-C
 * conversion the interpreter value is the place that receives the new
 * value.  The qualifier word already includes the bits read from the
 * front of the type encoding. */
typedef int (*BqOsmo_EntryConverter)(void *interp, Tcl_DString *errors,
	void *ivalue, void *cstorage, int flag, CTypeEntry *entry,
	unsigned qualifiers);

/* A table's default converter, for types without an entry or without a
 * converter: (interp, errors, table, interpreter value, address, flag,
 * type, the entry or null, qualifier word), 0 or 1. */
typedef int (*BqOsmo_DefaultConverter)(void *interp, Tcl_DString *errors,
	CTypeTable *table, void *ivalue, void *cstorage, int flag,
	const char *type, CTypeEntry *entry, unsigned qualifiers);

/* The binding's declaration operations, used for types without an entry
 * (see BqOsmo_T2N and BqOsmo_N2T). */
typedef int (*BqOsmo_UnparseTypeProc)(CTypeTable *table, const char *type,
	unsigned bits, Tcl_DString *result);
typedef int (*BqOsmo_ParseTypeProc)(CTypeTable *table, const char *name,
	unsigned bits, Tcl_DString *result);
typedef int (*BqOsmo_UnparseQualifiersProc)(CTypeEntry *entry, unsigned bits,
	Tcl_DString *result);
/* Stores the qualifier bits it recognised in *bitsPtr, writes the bare
 * name into result and answers 0; or answers 1 with a message in result. */
typedef int (*BqOsmo_ParseQualifiersProc)(const char *name, unsigned *bitsPtr,
	Tcl_DString *result);

/* The message send calls this, when set, once the method description is
 * known and before any argument is converted; a non-zero answer ends the
 * send with that value.  receiver is the object, or the super record. */
typedef int (*BqOsmo_MsgSendHook)(Tcl_DString *errors, int kind, void *receiver,
	BqOsmoMethodDescription *method, int argc, void **argv);

/* The message send calls a table's release procedure, when set, for each
 * argument passed by value as an array, structure or union that it
 * converted to C, once the call and its result are done (or the send
 * failed after converting it): the binding frees there what its to-C
 * converters allocated inside the value (copied strings). */
typedef void (*BqOsmo_ReleaseProc)(CTypeTable *table, const char *type, void *cstorage);

/* Class-, category- and protocol-define hooks: stored, never called here. */
typedef void *BqOsmo_DefineHook;

struct CTypeEntry {
    const char *type;		/* the key text in the by-type index */
    const char *name;		/* the key text in the by-name index */
    BqOsmo_EntryConverter toC;	/* null: the table's default applies */
    void *toCData;
    BqOsmo_EntryConverter fromC;
    void *fromCData;
};

struct CTypeTable {
    CTypeTable *link;		/* the table created before this one */
    char *name;			/* private copy of the binding's name */
    void *clientWord;
    Tcl_HashTable byType;	/* encoding -> CTypeEntry * */
    Tcl_HashTable byName;	/* name -> CTypeEntry * */
    BqOsmo_UnparseTypeProc unparseType;
    BqOsmo_ParseTypeProc parseType;
    BqOsmo_UnparseQualifiersProc unparseQualifiers;
    BqOsmo_ParseQualifiersProc parseQualifiers;
    BqOsmo_DefaultConverter defaultToC;
    BqOsmo_DefaultConverter defaultFromC;
    int flag;
    /* Hook slots; each second slot has no setter.  All null at creation. */
    BqOsmo_MsgSendHook msgSendHook;
    BqOsmo_MsgSendHook msgSendHook2;
    BqOsmo_DefineHook classDefineHook;
    BqOsmo_DefineHook classDefineHook2;
    BqOsmo_DefineHook categoryDefineHook;
    BqOsmo_DefineHook categoryDefineHook2;
    BqOsmo_DefineHook protocolDefineHook;
    BqOsmo_DefineHook protocolDefineHook2;
    unsigned generation;	/* counts encodings entered; resolutions made
				 * before a change are stale after it */
    BqOsmo_ReleaseProc releaseArgument;	/* null: arguments own nothing */
};

/* Start-up: creates the type-fix table and enters the fixes (once). */
void        BqOsmo_CTypeInit(void);
void        BqOsmo_AddCTypeFix(const char *fix, const char *type);

/* Tables and registration. */
CTypeTable *BqOsmo_NewCTypeTable(const char *name, void *clientWord,
		BqOsmo_UnparseTypeProc unparseType, BqOsmo_ParseTypeProc parseType,
		BqOsmo_UnparseQualifiersProc unparseQualifiers,
		BqOsmo_ParseQualifiersProc parseQualifiers,
		BqOsmo_DefaultConverter defaultToC,
		BqOsmo_DefaultConverter defaultFromC, int flag);
void        BqOsmo_AddCType(CTypeTable *table, const char *type, const char *name,
		BqOsmo_EntryConverter toC, void *toCData,
		BqOsmo_EntryConverter fromC, void *fromCData);

/* Lookup; null when unknown. */
CTypeEntry *BqOsmo__CTypeTFind(CTypeTable *table, const char *type);
const char *BqOsmo__NameForCType(CTypeTable *table, const char *type);
CTypeEntry *BqOsmo__CTypeNFind(CTypeTable *table, const char *name);
const char *BqOsmo__CTypeForName(CTypeTable *table, const char *name);

/* Validity with the table's knowledge (table may be null). */
char BqOsmo_IsValidCType(CTypeTable *table, const char *type);
char BqOsmo_IsValidIVarType(CTypeTable *table, const char *type);
char BqOsmo_IsValidReturnType(CTypeTable *table, const char *type);
char BqOsmo_IsValidArgType(CTypeTable *table, const char *type);

/* Names and encodings. */
void BqOsmo_GetCTypes(CTypeTable *table, Tcl_DString *result);
int  BqOsmo_T2N(CTypeTable *table, const char *type, Tcl_DString *result);
int  BqOsmo_N2T(CTypeTable *table, const char *name, Tcl_DString *result);

/* A conversion resolved once for a type: the entry (null: the table's
 * default decides) and the qualifier bits read from the type's front.
 * Callers that convert many values of one type (the message send, per
 * signature) resolve it once and then convert with BqOsmo_ConvertResolved.
 * A resolution is current while its generation equals its table's. */
typedef struct BqOsmoCTypeConversion {
    CTypeTable *table;
    unsigned generation;	/* the table's when resolved */
    const char *type;		/* as given */
    const char *bare;		/* after its qualifiers */
    CTypeEntry *entry;
    unsigned qualifiers;
} BqOsmoCTypeConversion;

void BqOsmo_ResolveCType(CTypeTable *table, const char *type,
		BqOsmoCTypeConversion *conversion);
/* toC: 1 to C (to-C converter), 0 from C.  qualifiers are ORed with the
 * resolved ones. */
int  BqOsmo_ConvertResolved(int toC, void *interp, Tcl_DString *errors,
		const BqOsmoCTypeConversion *conversion, void *ivalue, void *cstorage,
		int flag, unsigned qualifiers);

/* Converting one value. */
int  BqOsmo_I2C(void *interp, Tcl_DString *errors, CTypeTable *table,
		void *ivalue, void *cstorage, int flag, const char *type,
		unsigned qualifiers);
int  BqOsmo_C2I(void *interp, Tcl_DString *errors, CTypeTable *table,
		void *ivalue, void *cstorage, int flag, const char *type,
		unsigned qualifiers);

/* Hooks, by table name; setters answer the previous hook, or null when
 * no table has that name. */
BqOsmo_MsgSendHook BqOsmo_SetMsgSendHook(const char *tableName, BqOsmo_MsgSendHook hook);
BqOsmo_MsgSendHook BqOsmo_GetMsgSendHook(const char *tableName);
BqOsmo_DefineHook  BqOsmo_SetClassDefineHook(const char *tableName, BqOsmo_DefineHook hook);
BqOsmo_DefineHook  BqOsmo_GetClassDefineHook(const char *tableName);
BqOsmo_DefineHook  BqOsmo_SetCategoryDefineHook(const char *tableName, BqOsmo_DefineHook hook);
BqOsmo_DefineHook  BqOsmo_GetCategoryDefineHook(const char *tableName);
BqOsmo_DefineHook  BqOsmo_SetProtocolDefineHook(const char *tableName, BqOsmo_DefineHook hook);
BqOsmo_DefineHook  BqOsmo_GetProtocolDefineHook(const char *tableName);

#ifdef __cplusplus
}
#endif

#endif /* BQ_CTYPES_H */
