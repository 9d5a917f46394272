/*
 * TypeDeclaration.h --
 *
 *	C-like type declarations and type encodings, both ways.  A scripting
 *	language's code names C types as it would write them in C ("unsigned int",
 *	"char * *", "NSString *", "int [4]", "struct pt { int x; int y; }",
 *	"id <NSCopying>"); the runtime works on encodings ("I", "^*", "@",
 *	"[4i]", "{pt=\"x\"i\"y\"i}", "@").  The four operations below are the
 *	fallbacks of a binding's C type table (BqOsmo_N2T and BqOsmo_T2N
 *	reach them for names and encodings that are not registered) and they
 *	call N2T and T2N again for the parts of a compound type, so
 *	declarations nest to any depth the encoding walkers accept.
 *
 *	Every function appends to a caller-owned dynamic string: the result
 *	on success, the message on failure (0 and 1 as everywhere in the
 *	library).  None calls into an interpreter, none raises, none keeps state
 *	beyond the nesting counters of one conversion.
 */
#ifndef BQ_TYPE_DECLARATION_H
#define BQ_TYPE_DECLARATION_H

#include "CTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Declarations nested deeper than this (pointers, arrays, groups and
 * structures inside one another) are refused, so the encodings made are
 * always ones the walkers accept and no input exhausts the stack. */
#define BQ_DECLARATION_MAX_DEPTH BQ_TYPESPEC_MAX_DEPTH

/* Rewrites free-form declaration text as tokens separated by one blank
 * (comments dropped); 1 when a brace group or a comment is not closed. */
int BqOsmo_NormalizeDeclaration(const char *text, Tcl_DString *result);

/* The encoding of a free-form declaration, through a binding's table. */
int BqOsmo_EncodeDeclaration(CTypeTable *table, const char *declaration, Tcl_DString *result);

/* The table's declaration operations (see CTypes.h for the contracts). */
int BqOsmo_ParseQualifiers(const char *name, unsigned *bitsPtr, Tcl_DString *result);
int BqOsmo_UnParseQualifiers(CTypeEntry *entry, unsigned bits, Tcl_DString *result);
int BqOsmo_ParseType(CTypeTable *table, const char *name, unsigned bits,
		Tcl_DString *result);
int BqOsmo_UnParseType(CTypeTable *table, const char *type, unsigned bits,
		Tcl_DString *result);

#ifdef __cplusplus
}
#endif

#endif /* BQ_TYPE_DECLARATION_H */
