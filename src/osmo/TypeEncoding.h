/*
 * TypeEncoding.h --
 *
 *	Walking runtime type encodings: the compact strings the compiler
 *	emits for method signatures and instance variables ("i", "@\"NSString\"",
 *	"{_NSRange=QQ}", "v24@0:8i16").  This is the one place that knows
 *	their grammar; everything else asks it to skip, validate, size, align,
 *	compare or rewrite one type, or to walk the arguments of a signature.
 *
 *	Layout is this machine's (x86-64 System V): pointers, long, id, SEL,
 *	Class and char * are 8 bytes, long long and double align to 8, a
 *	structure aligns to its largest member and places its members as the
 *	C compiler does (tail padding included), bit-fields sit at the bit
 *	positions the compiler wrote into their encoding ("b<pos><type><width>"),
 *	and a word is 8 bytes.
 *
 *	Robustness: every function reads only up to the terminating NUL of
 *	its argument, whatever bytes it is given, and never loops without
 *	advancing.  A malformed encoding (an unclosed array, structure, union
 *	or quote, a missing ']', a cut string, bytes that are no type code,
 *	nesting deeper than BQ_TYPESPEC_MAX_DEPTH, a size beyond INT_MAX) is
 *	reported on standard error as "Osmo: (<walker>) illegal type: ..." and
 *	stops the walk: the skipping functions then answer the position of the
 *	terminating NUL, so a caller's loop over several types ends there.
 *
 *	No function allocates memory or keeps state; all are reentrant.
 */
#ifndef BQ_TYPE_ENCODING_H
#define BQ_TYPE_ENCODING_H

#include "BqTcl.h"

#ifdef __OBJC__
#include <objc/objc.h>
#else
typedef struct objc_selector *SEL;
typedef void (*IMP)(void);
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Qualifier bits, as read from the characters r n N o O R. */
#define BQ_QUAL_CONST	0x01
#define BQ_QUAL_IN	0x02
#define BQ_QUAL_OUT	0x04
#define BQ_QUAL_INOUT	0x06
#define BQ_QUAL_BYCOPY	0x08
#define BQ_QUAL_BYREF	0x10

/* Compound types nested deeper than this are refused as malformed, so a
 * hostile encoding cannot exhaust the stack of the recursive walk. */
#define BQ_TYPESPEC_MAX_DEPTH 100

/* The size of a machine word: sizes of frame slots are rounded to it. */
#define BQ_TYPESPEC_WORD 8

/*
 * The size and alignment of one type, computed in one pass by
 * BqTypeSpec_ScanType.  Bit-fields also give their bit position and width
 * so that the enclosing structure can place them.
 */
typedef struct BqTypeLayout {
    int size;		/* bytes; a structure's includes its tail padding */
    int align;		/* bytes, at least 1 */
    char valid;		/* whether the type can be handled as a C value */
    char isBitField;	/* a "b<pos><type><width>" bit-field */
    int bitPosition;	/* bit-fields: first bit, from the structure start */
    int bitWidth;	/* bit-fields: number of bits */
} BqTypeLayout;

/*
 * One member of a structure or union, as BqTypeSpec_FirstMember and
 * BqTypeSpec_NextMember walk them.  The fields after layout are the
 * walk's own state.
 */
typedef struct BqTypeMember {
    const char *name;		/* element name (not NUL-terminated), or null */
    int nameLength;
    const char *type;		/* the member's type within the encoding */
    const char *typeEnd;	/* the position after it */
    int offset;			/* bytes from the start of the aggregate;
				 * a bit-field's is its storage unit's */
    int index;			/* 0 for the first member */
    BqTypeLayout layout;
    const char *next;
    long long bits;
    int align;
    char close;
} BqTypeMember;

/*
 * A method description as the message send and the signature walkers use
 * it: selector, type encoding (a method signature), implementation or
 * null.  The walkers read only the type encoding.
 */
typedef struct BqOsmoMethodDescription {
    SEL selector;
    const char *types;
    IMP implementation;
} BqOsmoMethodDescription;

/* Qualifiers. */
const char   *BqTypeSpec_SkipTypeQualifiers(const char *type);
unsigned char BqTypeSpec_GetTypeQualifiers(const char *type);
char         *BqTypeSpec_FixTypeQualifiers(char *type);
unsigned char BqTypeSpec_GetArgInOutType(const char *type);
void          BqTypeSpec_Qualifiers(Tcl_DString *dsPtr, unsigned bits);

/* Skipping. */
const char *BqTypeSpec_SkipStructElementName(const char *type);
const char *BqTypeSpec_SkipTypeSpec(const char *type);
const char *BqTypeSpec_SkipOffset(const char *type);
const char *BqTypeSpec_SkipArgument(const char *type);

/* Reads one whole type and, when layoutPtr is given, its layout: the one
 * pass behind skipping, validity and layout.  Answers the position after
 * the type, or null when type is null, empty or malformed; walker names
 * the caller in the report ("skip", "size" ...), null keeps quiet. */
const char *BqTypeSpec_ScanType(const char *type, BqTypeLayout *layoutPtr,
			const char *walker);

/* Validity and layout. */
char BqTypeSpec_IsValidCType(const char *type);
int  BqTypeSpec_AlignOfType(const char *type);
int  BqTypeSpec_SizeOfType(const char *type);
int  BqTypeSpec_AlignedSizeOfType(const char *type);
int  BqTypeSpec_WordSizeOfType(const char *type);

/* Members of a structure or union: 1 with the member in *member, 0 after
 * the last one, -1 when type is no aggregate or is malformed (silent). */
int  BqTypeSpec_FirstMember(const char *type, BqTypeMember *member);
int  BqTypeSpec_NextMember(BqTypeMember *member);

/* Comparison and rewriting. */
char BqTypeSpec_EqTypes(const char *a, const char *b);
char BqTypeSpec_CompatiblePtrTypes(const char *a, const char *b);
int  BqTypeSpec_StripCTypeQuote(const char *src, char *dst);

/* Selectors by name. */
SEL  BqTypeSpec_Str2SEL(const char *name);

/* Walking the (type, offset) pairs of a complete method signature. */
int   BqMethod_GetNumberOfArguments(const BqOsmoMethodDescription *method);
int   BqMethod_GetSizeOfArguments(const BqOsmoMethodDescription *method);
void *BqMethod_GetFirstArgument(const BqOsmoMethodDescription *method,
			void *frame, const char **cursor);
void *BqMethod_GetNextArgument(void *frame, const char **cursor);

#ifdef __cplusplus
}
#endif

#endif /* BQ_TYPE_ENCODING_H */
