/*
 * TypeDeclaration.mm --
 *
 *	Type declarations to encodings and back.
 *
 *	Declarations are first normalised: tokens (runs of letters, digits,
 *	'_' and '@', or any single other character) separated by exactly one
 *	blank, comments dropped.  The parser then reads the normalised text
 *	from its ends: a trailing '*' makes a pointer, a trailing ']' an
 *	array, enclosing parentheses a group, "id < P >" an object conforming
 *	to a protocol, "struct tag { ... }" a structure.  The part inside is
 *	converted by the table again (BqOsmo_N2T), so registered names and
 *	qualifier keywords are recognised at every level.
 *
 *	Unparsing walks an encoding the other way and writes the text that
 *	parses back to the same encoding.
 *
 *	Invariants: every encoding the parser answers is one complete type
 *	that the encoding walkers accept (it is checked before it is
 *	answered), so a declaration can never smuggle a malformed encoding
 *	into a conversion.  On failure the result receives only the message,
 *	never a half-written encoding.
 */
#import <Foundation/Foundation.h>

#include "TypeDeclaration.h"
#include "BqOsmoControl.h"
#include "Protocol.h"

#include <objc/runtime.h>
#include <limits.h>
#include <string.h>

/* Longer declaration texts are refused outright: nothing real comes
 * close, and dynamic string lengths stay far from INT_MAX. */
#define MAX_DECLARATION_LENGTH (1 << 24)

/* The qualifier keywords in the order the parser tests them ("inout "
 * before "in "), each with its trailing blank. */
typedef struct Keyword {
    const char *word;
    int length;
    unsigned bits;
} Keyword;

static const Keyword qualifierKeywords[] = {
    { "const ", 6, BQ_QUAL_CONST },
    { "inout ", 6, BQ_QUAL_INOUT },
    { "in ", 3, BQ_QUAL_IN },
    { "out ", 4, BQ_QUAL_OUT },
    { "bycopy ", 7, BQ_QUAL_BYCOPY },
    { "byref ", 6, BQ_QUAL_BYREF },
};
#define KEYWORD_COUNT ((int) (sizeof qualifierKeywords / sizeof qualifierKeywords[0]))

/* Nesting of ParseType calls in the conversion under way (on this
 * thread: each thread's interpreter parses on its own). */
static __thread int parseDepth;
/* Structures whose members are being written around the current one;
 * member lines are indented by two blanks per level. */
static __thread int unparseLevel;

static inline int
IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

static inline int
IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

static inline int
IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

/* Characters that make up one word token. */
static inline int
IsWordChar(char c)
{
    return IsLetter(c) || IsDigit(c) || c == '_' || c == '@';
}

static const char *
SkipBlanks(const char *p)
{
    while (IsBlank(*p)) {
	p++;
    }
    return p;
}

/* Narrows [*startPtr, *endPtr) to leave out blanks at both ends. */
static void
TrimSlice(const char **startPtr, const char **endPtr)
{
    const char *start = *startPtr, *end = *endPtr;
    while (start < end && IsBlank(*start)) {
	start++;
    }
    while (end > start && IsBlank(end[-1])) {
	end--;
    }
    *startPtr = start;
    *endPtr = end;
}

static void
AppendSlice(Tcl_DString *ds, const char *start, const char *end)
{
    Tcl_DStringAppend(ds, start, (int) (end - start));
}

/* Appends message and answers 1, for the one-line failures. */
static int
Fail(Tcl_DString *out, const char *message)
{
    Tcl_DStringAppend(out, message, -1);
    return 1;
}

/* True when text is exactly one type the walkers accept. */
static int
IsOneType(const char *text)
{
    const char *end = BqTypeSpec_ScanType(text, NULL, NULL);
    return end != NULL && *end == '\0';
}

/*
 * ConvertSlice --
 *	Converts the declaration text [start, end) with the table (N2T),
 *	appending the encoding or the message to out.
 */
static int
ConvertSlice(CTypeTable *table, const char *start, const char *end, Tcl_DString *out)
{
    Tcl_DString name;
    Tcl_DStringInit(&name);
    AppendSlice(&name, start, end);
    int code = BqOsmo_N2T(table, Tcl_DStringValue(&name), out);
    Tcl_DStringFree(&name);
    return code;
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_NormalizeDeclaration --
 *	Appends the tokens of text to result, separated by one blank.
 *	White space and comments ("#" or "//" to the end of the line,
 *	"/ * ... * /") only separate tokens.  Answers 1 when a '{' is never
 *	closed, a '}' closes nothing, or a comment is not closed; result
 *	then holds the tokens read so far.
 *----------------------------------------------------------------------
 */
int
BqOsmo_NormalizeDeclaration(const char *text, Tcl_DString *result)
{
    int start = Tcl_DStringLength(result);
    int braces = 0;
    const char *p = text != NULL ? text : "";
    while (*p != '\0') {
	if (IsBlank(*p)) {
	    p++;
	    continue;
	}
	if (*p == '#' || (p[0] == '/' && p[1] == '/')) {
	    while (*p != '\0' && *p != '\n') {
		p++;
	    }
	    continue;
	}
	if (p[0] == '/' && p[1] == '*') {
	    const char *close = strstr(p + 2, "*/");
	    if (close == NULL) {
		return 1;
	    }
	    p = close + 2;
	    continue;
	}
	const char *tokenEnd = p + 1;
	if (IsWordChar(*p)) {
	    while (IsWordChar(*tokenEnd)) {
		tokenEnd++;
	    }
	} else if (*p == '{') {
	    braces++;
	} else if (*p == '}') {
	    if (braces == 0) {
		return 1;
	    }
	    braces--;
	}
	if (Tcl_DStringLength(result) > start) {
	    Tcl_DStringAppend(result, " ", 1);
	}
	AppendSlice(result, p, tokenEnd);
	p = tokenEnd;
    }
    return braces != 0;
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_EncodeDeclaration --
 *	Normalises a free-form declaration and converts it with the
 *	given binding's table.  Text that cannot be normalised gives
 *	"error parsing type \"<declaration>\"".
 *----------------------------------------------------------------------
 */
int
BqOsmo_EncodeDeclaration(CTypeTable *table, const char *declaration, Tcl_DString *result)
{
    const char *text = declaration != NULL ? declaration : "";
    Tcl_DString normal;
    Tcl_DStringInit(&normal);
    int code;
    if (strlen(text) > MAX_DECLARATION_LENGTH
	    || BqOsmo_NormalizeDeclaration(text, &normal) != 0) {
	BqTcl_DStringApp(result, "error parsing type \"", text, "\"", (char *) NULL);
	code = 1;
    } else {
	code = BqOsmo_N2T(table, Tcl_DStringValue(&normal), result);
    }
    Tcl_DStringFree(&normal);
    return code;
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_ParseQualifiers --
 *	Takes qualifier keywords off the front of name: in repeated passes,
 *	each keyword in turn is passed when the name begins with it, until a
 *	pass adds no bit.  Stores the bits and appends the rest of the name
 *	(when result is given).  Always answers 0.
 *----------------------------------------------------------------------
 */
int
BqOsmo_ParseQualifiers(const char *name, unsigned *bitsPtr, Tcl_DString *result)
{
    const char *p = name != NULL ? name : "";
    unsigned bits = 0, before;
    do {
	before = bits;
	for (int i = 0; i < KEYWORD_COUNT; i++) {
	    const Keyword *keyword = &qualifierKeywords[i];
	    if (strncmp(p, keyword->word, (size_t) keyword->length) == 0) {
		bits |= keyword->bits;
		p = SkipBlanks(p + keyword->length);
	    }
	}
    } while (bits != before);
    if (bitsPtr != NULL) {
	*bitsPtr = bits;
    }
    if (result != NULL) {
	Tcl_DStringAppend(result, p, -1);
    }
    return 0;
}

/* Appends the keywords of bits: const, bycopy, byref, then the
 * direction (inout, or in and out). */
static void
AppendQualifierKeywords(Tcl_DString *out, unsigned bits)
{
    if (bits & BQ_QUAL_CONST) {
	Tcl_DStringAppend(out, "const ", -1);
    }
    if (bits & BQ_QUAL_BYCOPY) {
	Tcl_DStringAppend(out, "bycopy ", -1);
    }
    if (bits & BQ_QUAL_BYREF) {
	Tcl_DStringAppend(out, "byref ", -1);
    }
    if ((bits & BQ_QUAL_INOUT) == BQ_QUAL_INOUT) {
	Tcl_DStringAppend(out, "inout ", -1);
    } else if (bits & BQ_QUAL_IN) {
	Tcl_DStringAppend(out, "in ", -1);
    } else if (bits & BQ_QUAL_OUT) {
	Tcl_DStringAppend(out, "out ", -1);
    }
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_UnParseQualifiers --
 *	Writes the name of a qualified registered type: the keywords of
 *	bits, then the entry's name (when an entry is given).  Always
 *	answers 0.
 *----------------------------------------------------------------------
 */
int
BqOsmo_UnParseQualifiers(CTypeEntry *entry, unsigned bits, Tcl_DString *result)
{
    AppendQualifierKeywords(result, bits);
    if (entry != NULL) {
	Tcl_DStringAppend(result, entry->name, -1);
    }
    return 0;
}

static int
BeginsWithQualifierKeyword(const char *name)
{
    for (int i = 0; i < KEYWORD_COUNT; i++) {
	if (strncmp(name, qualifierKeywords[i].word, (size_t) qualifierKeywords[i].length) == 0) {
	    return 1;
	}
    }
    return 0;
}

/* "@", with the quoted class or protocol name when types are checked. */
static void
AppendObjectEncoding(Tcl_DString *out, unsigned bits, const char *name, int isProtocol)
{
    BqTypeSpec_Qualifiers(out, bits);
    Tcl_DStringAppend(out, "@", 1);
    if (BQ_CONTROL(runtime_type_check)) {
	BqTcl_DStringApp(out, isProtocol ? "\"<" : "\"", name, isProtocol ? ">\"" : "\"",
		(char *) NULL);
    }
}

/*
 *----------------------------------------------------------------------
 * ParsePointer --
 *	"T *": an object when T names a class, else '^' and T's encoding.
 *	name ends in '*'.
 *----------------------------------------------------------------------
 */
static int
ParsePointer(CTypeTable *table, const char *name, size_t length, unsigned bits,
	Tcl_DString *out)
{
    const char *start = name, *end = name + length - 1;
    TrimSlice(&start, &end);
    Tcl_DString pointee;
    Tcl_DStringInit(&pointee);
    AppendSlice(&pointee, start, end);
    const char *pointeeName = Tcl_DStringValue(&pointee);
    int code = 0;
    if (*pointeeName != '\0' && objc_lookUpClass(pointeeName) != Nil) {
	AppendObjectEncoding(out, bits, pointeeName, 0);
    } else {
	Tcl_DString sub;
	Tcl_DStringInit(&sub);
	code = BqOsmo_N2T(table, pointeeName, &sub);
	if (code != 0) {
	    Tcl_DStringAppend(out, Tcl_DStringValue(&sub), Tcl_DStringLength(&sub));
	    Tcl_DStringAppend(out, " (pointer)", -1);
	} else {
	    BqTypeSpec_Qualifiers(out, bits);
	    Tcl_DStringAppend(out, "^", 1);
	    Tcl_DStringAppend(out, Tcl_DStringValue(&sub), Tcl_DStringLength(&sub));
	}
	Tcl_DStringFree(&sub);
    }
    Tcl_DStringFree(&pointee);
    return code;
}

/* Reads the decimal digits [start, end) into *countPtr; 0 when the
 * number does not fit an int. */
static int
ReadCount(const char *start, const char *end, int *countPtr)
{
    long long count = 0;
    for (const char *p = start; p < end; p++) {
	count = count * 10 + (*p - '0');
	if (count > INT_MAX) {
	    return 0;
	}
    }
    *countPtr = (int) count;
    return 1;
}

/*
 *----------------------------------------------------------------------
 * ParseArray --
 *	"T [ n ]" gives "[nT]", "T [ ]" a pointer to T.  name ends in ']'.
 *	The count is read backwards from the bracket up to a blank, which
 *	must follow a '['.
 *----------------------------------------------------------------------
 */
static int
ParseArray(CTypeTable *table, const char *name, size_t length, unsigned bits,
	Tcl_DString *out)
{
    const char *end = name + length - 1;
    while (end > name && IsBlank(end[-1])) {
	end--;
    }
    int sized = !(end > name && end[-1] == '[');
    int count = 0;
    const char *elementEnd;
    if (!sized) {
	elementEnd = end - 1;
    } else {
	const char *digits = end;
	while (digits > name && digits[-1] != ' ') {
	    if (!IsDigit(digits[-1])) {
		return Fail(out, "error parsing array size");
	    }
	    digits--;
	}
	if (digits == end || !ReadCount(digits, end, &count)) {
	    return Fail(out, "error parsing array size");
	}
	if (digits - name < 2 || digits[-2] != '[') {
	    return Fail(out, "illegal array");
	}
	elementEnd = digits - 2;
    }
    const char *elementStart = name;
    TrimSlice(&elementStart, &elementEnd);
    Tcl_DString element;
    Tcl_DStringInit(&element);
    int code = ConvertSlice(table, elementStart, elementEnd, &element);
    if (code != 0) {
	Tcl_DStringAppend(out, Tcl_DStringValue(&element), Tcl_DStringLength(&element));
	Tcl_DStringAppend(out, " (array)", -1);
    } else if (sized) {
	BqTypeSpec_Qualifiers(out, bits);
	BqTcl_DStringPrintf(out, "[%d%s]", count, Tcl_DStringValue(&element));
    } else {
	BqTypeSpec_Qualifiers(out, bits);
	Tcl_DStringAppend(out, "^", 1);
	Tcl_DStringAppend(out, Tcl_DStringValue(&element), Tcl_DStringLength(&element));
    }
    Tcl_DStringFree(&element);
    return code;
}

/*
 *----------------------------------------------------------------------
 * ParseGroup --
 *	"( T )": T's encoding.  The parenthesis that matches the first one
 *	must end the name.  Qualifier keywords inside and in front of the
 *	group make one set of qualifier characters.
 *----------------------------------------------------------------------
 */
static int
ParseGroup(CTypeTable *table, const char *name, unsigned bits, Tcl_DString *out)
{
    int depth = 0;
    const char *close = NULL;
    for (const char *p = name; *p != '\0'; p++) {
	if (*p == '(') {
	    depth++;
	} else if (*p == ')' && --depth == 0) {
	    close = p;
	    break;
	}
    }
    if (close == NULL || close[1] != '\0') {
	return Fail(out, "error parsing group");
    }
    const char *start = name + 1, *end = close;
    TrimSlice(&start, &end);
    Tcl_DString inner;
    Tcl_DStringInit(&inner);
    int code = ConvertSlice(table, start, end, &inner);
    if (code != 0) {
	Tcl_DStringAppend(out, Tcl_DStringValue(&inner), Tcl_DStringLength(&inner));
    } else {
	/* Qualifiers inside and outside the group join into one set. */
	const char *encoding = Tcl_DStringValue(&inner);
	BqTypeSpec_Qualifiers(out, bits | BqTypeSpec_GetTypeQualifiers(encoding));
	Tcl_DStringAppend(out, BqTypeSpec_SkipTypeQualifiers(encoding), -1);
    }
    Tcl_DStringFree(&inner);
    return code;
}

/*
 *----------------------------------------------------------------------
 * ParseProtocol --
 *	"id < P >" with P a known protocol: an object.  Answers -1, writing
 *	nothing, when P is no known protocol.
 *----------------------------------------------------------------------
 */
static int
ParseProtocol(const char *name, size_t length, unsigned bits, Tcl_DString *out)
{
    const char *start = name + 5, *end = name + length - 1;
    TrimSlice(&start, &end);
    Tcl_DString protocolName;
    Tcl_DStringInit(&protocolName);
    AppendSlice(&protocolName, start, end);
    int code = -1;
    if (BqOsmo_LookupProtocol(Nil, Tcl_DStringValue(&protocolName)) != nil) {
	AppendObjectEncoding(out, bits, Tcl_DStringValue(&protocolName), 1);
	code = 0;
    }
    Tcl_DStringFree(&protocolName);
    return code;
}

/*
 *----------------------------------------------------------------------
 * ParseMember --
 *	One member "T name" of a structure body, [start, end) without
 *	surrounding blanks: appends "\"name\"" (nothing for the name "_")
 *	and T's encoding to the members before it in out.  The name is the
 *	last token and must be a word.  On failure out is emptied and
 *	receives only the message.
 *----------------------------------------------------------------------
 */
static int
ParseMember(CTypeTable *table, const char *start, const char *end, const char *tag,
	int tagLength, Tcl_DString *out)
{
    const char *nameStart = end;
    while (nameStart > start && nameStart[-1] != ' ') {
	nameStart--;
    }
    for (const char *p = nameStart; p < end; p++) {
	if (!IsWordChar(*p)) {
	    Tcl_DStringSetLength(out, 0);
	    return Fail(out, "error parsing structure");
	}
    }
    const char *typeStart = start, *typeEnd = nameStart;
    TrimSlice(&typeStart, &typeEnd);
    Tcl_DString memberType;
    Tcl_DStringInit(&memberType);
    int code = ConvertSlice(table, typeStart, typeEnd, &memberType);
    if (code != 0) {
	Tcl_DStringSetLength(out, 0);
	Tcl_DStringAppend(out, Tcl_DStringValue(&memberType), Tcl_DStringLength(&memberType));
	Tcl_DStringAppend(out, " while parsing struct \"", -1);
	Tcl_DStringAppend(out, tag, tagLength);
	Tcl_DStringAppend(out, "\"", 1);
    } else {
	if (!(end - nameStart == 1 && *nameStart == '_')) {
	    /* After a member that ends in a bare object ("@", "^@"), a
	     * quoted name would be read as that object's class name: the
	     * object gets an empty class name first, which says nothing. */
	    int length = Tcl_DStringLength(out);
	    if (length > 0 && Tcl_DStringValue(out)[length - 1] == '@') {
		Tcl_DStringAppend(out, "\"\"", 2);
	    }
	    Tcl_DStringAppend(out, "\"", 1);
	    AppendSlice(out, nameStart, end);
	    Tcl_DStringAppend(out, "\"", 1);
	}
	Tcl_DStringAppend(out, Tcl_DStringValue(&memberType), Tcl_DStringLength(&memberType));
    }
    Tcl_DStringFree(&memberType);
    return code;
}

/*
 *----------------------------------------------------------------------
 * ParseMembers --
 *	The body [body, bodyEnd) of a structure, split at the ';' that no
 *	parenthesis, bracket, brace or angle bracket encloses.  Only the
 *	piece after the last ';' may be empty.  Appends the member
 *	encodings, or on failure only the message.
 *----------------------------------------------------------------------
 */
static int
ParseMembers(CTypeTable *table, const char *body, const char *bodyEnd, const char *tag,
	int tagLength, Tcl_DString *out)
{
    const char *piece = body;
    int depth = 0;
    for (const char *p = body;; p++) {
	if (p == bodyEnd || (*p == ';' && depth == 0)) {
	    const char *start = piece, *end = p;
	    TrimSlice(&start, &end);
	    if (start == end) {
		if (p != bodyEnd) {
		    Tcl_DStringSetLength(out, 0);
		    return Fail(out, "error parsing structure");
		}
	    } else if (ParseMember(table, start, end, tag, tagLength, out) != 0) {
		return 1;
	    }
	    if (p == bodyEnd) {
		return 0;
	    }
	    piece = p + 1;
	    continue;
	}
	switch (*p) {
	case '(': case '[': case '{': case '<':
	    depth++;
	    break;
	case ')': case ']': case '}': case '>':
	    if (depth > 0) {
		depth--;
	    }
	    break;
	default:
	    break;
	}
    }
}

/* The '}' that closes the '{' at open, or null. */
static const char *
MatchingBrace(const char *open)
{
    int depth = 0;
    for (const char *p = open; *p != '\0'; p++) {
	if (*p == '{') {
	    depth++;
	} else if (*p == '}' && --depth == 0) {
	    return p;
	}
    }
    return NULL;
}

/*
 *----------------------------------------------------------------------
 * ParseStruct --
 *	"struct tag" gives "{tag}"; "struct tag { T1 m1 ; ... }" gives
 *	"{tag=\"m1\"E1...}", with '?' for a missing tag.  A tag is a word
 *	that begins with a letter or '_'.
 *----------------------------------------------------------------------
 */
static int
ParseStruct(CTypeTable *table, const char *name, unsigned bits, Tcl_DString *out)
{
    const char *p = SkipBlanks(name + 7);
    const char *tag = "?";
    int tagLength = 1;
    if (IsLetter(*p) || *p == '_') {
	const char *tagEnd = p;
	while (IsWordChar(*tagEnd)) {
	    tagEnd++;
	}
	tag = p;
	tagLength = (int) (tagEnd - p);
	p = SkipBlanks(tagEnd);
	if (*p == '\0') {
	    BqTypeSpec_Qualifiers(out, bits);
	    Tcl_DStringAppend(out, "{", 1);
	    Tcl_DStringAppend(out, tag, tagLength);
	    Tcl_DStringAppend(out, "}", 1);
	    return 0;
	}
    }
    if (*p != '{') {
	return Fail(out, "illegal structure");
    }
    const char *close = MatchingBrace(p);
    if (close == NULL || *SkipBlanks(close + 1) != '\0') {
	return Fail(out, "error parsing structure");
    }
    Tcl_DString members;
    Tcl_DStringInit(&members);
    int code = ParseMembers(table, p + 1, close, tag, tagLength, &members);
    if (code == 0) {
	BqTypeSpec_Qualifiers(out, bits);
	Tcl_DStringAppend(out, "{", 1);
	Tcl_DStringAppend(out, tag, tagLength);
	Tcl_DStringAppend(out, "=", 1);
    }
    Tcl_DStringAppend(out, Tcl_DStringValue(&members), Tcl_DStringLength(&members));
    if (code == 0) {
	Tcl_DStringAppend(out, "}", 1);
    }
    Tcl_DStringFree(&members);
    return code;
}

/* Chooses the rule for a declaration; see BqOsmo_ParseType. */
static int
ParseDeclaration(CTypeTable *table, const char *name, unsigned bits, Tcl_DString *out)
{
    size_t length = strlen(name);
    if (length > 2 && name[length - 1] == '*') {
	return ParsePointer(table, name, length, bits, out);
    }
    if (length > 4 && name[length - 1] == ']') {
	return ParseArray(table, name, length, bits, out);
    }
    if (name[0] == '(') {
	return ParseGroup(table, name, bits, out);
    }
    if (length > 7 && strncmp(name, "id < ", 5) == 0 && name[length - 1] == '>'
	    && ParseProtocol(name, length, bits, out) == 0) {
	return 0;
    }
    if (strncmp(name, "struct ", 7) == 0) {
	return ParseStruct(table, name, bits, out);
    }
    BqTcl_DStringApp(out, "illegal itype \"", name, "\"", (char *) NULL);
    return 1;
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_ParseType --
 *	The table's parse-type operation: the encoding of a normalised
 *	declaration that is no registered name, with the qualifier
 *	characters of bits in front.  The first matching rule wins: a
 *	pointer ("T *"), an array ("T [ n ]", "T [ ]"), a group ("( T )"),
 *	an object conforming to a known protocol ("id < P >"), a structure
 *	("struct tag", "struct tag { ... }").  Anything else is an
 *	"illegal itype".  An encoding that comes out malformed (a oneway
 *	member, an array too large for the walkers) is an "illegal itype"
 *	as well.
 *----------------------------------------------------------------------
 */
int
BqOsmo_ParseType(CTypeTable *table, const char *name, unsigned bits, Tcl_DString *result)
{
    if (name == NULL || *name == '\0') {
	return Fail(result, "NULL itype");
    }
    if (parseDepth >= BQ_DECLARATION_MAX_DEPTH) {
	return Fail(result, "type declaration nested too deeply");
    }
    Tcl_DString made;
    Tcl_DStringInit(&made);
    parseDepth++;
    int code = ParseDeclaration(table, name, bits, &made);
    parseDepth--;
    if (code == 0 && !IsOneType(Tcl_DStringValue(&made))) {
	Tcl_DStringSetLength(&made, 0);
	BqTcl_DStringApp(&made, "illegal itype \"", name, "\"", (char *) NULL);
	code = 1;
    }
    Tcl_DStringAppend(result, Tcl_DStringValue(&made), Tcl_DStringLength(&made));
    Tcl_DStringFree(&made);
    return code;
}

/*
 * IllegalType --
 *	Appends "illegal ctype \"<type>\"", quoting the first type only
 *	when the text holds a readable one.
 */
static int
IllegalType(Tcl_DString *out, const char *type)
{
    const char *text = type != NULL ? type : "";
    const char *end = BqTypeSpec_ScanType(text, NULL, NULL);
    Tcl_DStringAppend(out, "illegal ctype \"", -1);
    Tcl_DStringAppend(out, text, end != NULL ? (int) (end - text) : -1);
    Tcl_DStringAppend(out, "\"", 1);
    return 1;
}

/*
 * AppendDeclarator --
 *	Appends a type name followed by a declarator (" *", " [n]").  The
 *	name goes in parentheses when it begins with a qualifier keyword (so
 *	the keyword stays with it) or when name and declarator together
 *	would spell a registered name ("char" and " *" would read as the
 *	string type "char *").
 */
static void
AppendDeclarator(CTypeTable *table, Tcl_DString *out, Tcl_DString *name,
	const char *declarator)
{
    int enclose = BeginsWithQualifierKeyword(Tcl_DStringValue(name));
    if (!enclose) {
	Tcl_DString plain;
	Tcl_DStringInit(&plain);
	Tcl_DStringAppend(&plain, Tcl_DStringValue(name), Tcl_DStringLength(name));
	Tcl_DStringAppend(&plain, declarator, -1);
	enclose = BqOsmo__CTypeNFind(table, Tcl_DStringValue(&plain)) != NULL;
	Tcl_DStringFree(&plain);
    }
    if (enclose) {
	Tcl_DStringAppend(out, "(", 1);
    }
    Tcl_DStringAppend(out, Tcl_DStringValue(name), Tcl_DStringLength(name));
    if (enclose) {
	Tcl_DStringAppend(out, ")", 1);
    }
    Tcl_DStringAppend(out, declarator, -1);
}

/* "id", "id <P>" or "Name *" for an object type at t. */
static int
UnparseObject(const char *t, unsigned bits, Tcl_DString *out)
{
    AppendQualifierKeywords(out, bits);
    if (t[1] != '"' || t[2] == '"') {
	Tcl_DStringAppend(out, "id", 2);
	return 0;
    }
    const char *nameStart = t + 2;
    const char *close = strchr(nameStart, '"');
    if (*nameStart == '<') {
	Tcl_DStringAppend(out, "id ", 3);
	AppendSlice(out, nameStart, close);
    } else {
	AppendSlice(out, nameStart, close);
	Tcl_DStringAppend(out, " *", 2);
    }
    return 0;
}

/* "T *" for a pointer at t. */
static int
UnparsePointer(CTypeTable *table, const char *t, unsigned bits, Tcl_DString *out)
{
    Tcl_DString pointee;
    Tcl_DStringInit(&pointee);
    int code = BqOsmo_T2N(table, t + 1, &pointee);
    if (code != 0) {
	Tcl_DStringAppend(out, Tcl_DStringValue(&pointee), Tcl_DStringLength(&pointee));
	Tcl_DStringAppend(out, " (pointer)", -1);
    } else {
	AppendQualifierKeywords(out, bits);
	AppendDeclarator(table, out, &pointee, " *");
    }
    Tcl_DStringFree(&pointee);
    return code;
}

/* "T [n]" for an array at t. */
static int
UnparseArray(CTypeTable *table, const char *t, unsigned bits, Tcl_DString *out)
{
    const char *digits = t + 1, *p = digits;
    while (IsDigit(*p)) {
	p++;
    }
    Tcl_DString element;
    Tcl_DStringInit(&element);
    int code = BqOsmo_T2N(table, p, &element);
    if (code != 0) {
	Tcl_DStringAppend(out, Tcl_DStringValue(&element), Tcl_DStringLength(&element));
	Tcl_DStringAppend(out, " (array)", -1);
    } else {
	AppendQualifierKeywords(out, bits);
	Tcl_DString declarator;
	Tcl_DStringInit(&declarator);
	Tcl_DStringAppend(&declarator, " [", 2);
	AppendSlice(&declarator, digits, p);
	Tcl_DStringAppend(&declarator, "]", 1);
	AppendDeclarator(table, out, &element, Tcl_DStringValue(&declarator));
	Tcl_DStringFree(&declarator);
    }
    Tcl_DStringFree(&element);
    return code;
}

static void
Indent(Tcl_DString *out, int level)
{
    for (int i = 0; i < level; i++) {
	Tcl_DStringAppend(out, "  ", 2);
    }
}

/*
 * UnparseMembers --
 *	One line per member of the structure at t: indentation, the type's
 *	name, the element name ("_" when it has none) and ";".  On failure
 *	out is emptied and receives only the message.
 */
static int
UnparseMembers(CTypeTable *table, const char *t, Tcl_DString *out)
{
    BqTypeMember member;
    for (int status = BqTypeSpec_FirstMember(t, &member); status == 1;
	    status = BqTypeSpec_NextMember(&member)) {
	Tcl_DString memberType;
	Tcl_DStringInit(&memberType);
	if (BqOsmo_T2N(table, member.type, &memberType) != 0) {
	    Tcl_DStringSetLength(out, 0);
	    Tcl_DStringAppend(out, Tcl_DStringValue(&memberType), Tcl_DStringLength(&memberType));
	    Tcl_DStringAppend(out, " (while unparsing struct)", -1);
	    Tcl_DStringFree(&memberType);
	    return 1;
	}
	Indent(out, unparseLevel);
	Tcl_DStringAppend(out, Tcl_DStringValue(&memberType), Tcl_DStringLength(&memberType));
	if (member.name != NULL && member.nameLength > 0) {
	    Tcl_DStringAppend(out, " ", 1);
	    Tcl_DStringAppend(out, member.name, member.nameLength);
	} else {
	    Tcl_DStringAppend(out, " _", 2);
	}
	Tcl_DStringAppend(out, ";\n", 2);
	Tcl_DStringFree(&memberType);
    }
    return 0;
}

/*
 * UnparseStruct --
 *	"struct tag" for "{tag}"; "struct tag {\n<members>}" for a structure
 *	with a body, the closing brace indented like the line that opened
 *	it.  The tag is left out when it is '?'.
 */
static int
UnparseStruct(CTypeTable *table, const char *t, unsigned bits, Tcl_DString *out)
{
    const char *tag = t + 1, *tagEnd = tag;
    while (*tagEnd != '\0' && *tagEnd != '=' && *tagEnd != '}') {
	tagEnd++;
    }
    AppendQualifierKeywords(out, bits);
    Tcl_DStringAppend(out, "struct", 6);
    if (tagEnd > tag && !(tagEnd - tag == 1 && *tag == '?')) {
	Tcl_DStringAppend(out, " ", 1);
	AppendSlice(out, tag, tagEnd);
    }
    if (*tagEnd != '=') {
	return 0;
    }
    Tcl_DStringAppend(out, " {\n", 3);
    unparseLevel++;
    int code = UnparseMembers(table, t, out);
    unparseLevel--;
    if (code == 0) {
	Indent(out, unparseLevel);
	Tcl_DStringAppend(out, "}", 1);
    }
    return code;
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_UnParseType --
 *	The table's unparse-type operation: the declaration of the first
 *	type of an encoding that has no registered name (or has qualifiers
 *	the registered name cannot carry).  Objects, pointers, arrays and
 *	structures have declarations; the keywords of bits are written in
 *	front.  Anything else, and any malformed encoding, is an
 *	"illegal ctype".
 *----------------------------------------------------------------------
 */
int
BqOsmo_UnParseType(CTypeTable *table, const char *type, unsigned bits,
	Tcl_DString *result)
{
    const char *t = type != NULL ? BqTypeSpec_SkipTypeQualifiers(type) : NULL;
    if (t == NULL || BqTypeSpec_ScanType(t, NULL, NULL) == NULL) {
	return IllegalType(result, type);
    }
    Tcl_DString made;
    Tcl_DStringInit(&made);
    int code;
    switch (*t) {
    case '@':
	code = UnparseObject(t, bits, &made);
	break;
    case '^':
	code = UnparsePointer(table, t, bits, &made);
	break;
    case '[':
	code = UnparseArray(table, t, bits, &made);
	break;
    case '{':
	code = UnparseStruct(table, t, bits, &made);
	break;
    default:
	code = IllegalType(&made, t);
	break;
    }
    Tcl_DStringAppend(result, Tcl_DStringValue(&made), Tcl_DStringLength(&made));
    Tcl_DStringFree(&made);
    return code;
}
