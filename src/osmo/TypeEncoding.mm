/*
 * TypeEncoding.mm --
 *
 *	The grammar of runtime type encodings.  One recursive scanner
 *	(ScanOne) reads a type and computes, in the same pass, its size, its
 *	alignment and whether it is a usable C value; skipping, validity and
 *	layout are thin wrappers around it, so a structure nested n deep is
 *	read once, not 2^n times, and every rule about where a type ends lives
 *	in one place.
 *
 *	The scanner reads nothing past the terminating NUL: each step looks at
 *	the current character and moves on only when it is not NUL.  Any
 *	malformation makes it report (when it has a walker name) and answer
 *	null; it never guesses how a broken encoding continues.
 */
#include "TypeEncoding.h"
#include "KxUniqueString.h"

#include <objc/runtime.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

/* Types bigger than this are refused: it keeps every size, offset and
 * rounding below INT_MAX without overflow checks at each step. */
#define MAX_TYPE_SIZE (1 << 30)

/* What answers stand for a type that could not be read: one word. */
#define FALLBACK_SIZE BQ_TYPESPEC_WORD

/* Messages quote at most this many bytes of a broken encoding. */
#define QUOTE_LIMIT 200

/*
 * The state of one walk: the type it began with (quoted in messages), the
 * name of the walker for messages (null: say nothing), and the current
 * nesting depth.
 */
typedef struct Scan {
    const char *start;
    const char *walker;
    int depth;
} Scan;

static const char *ScanOne(Scan *scan, const char *p, BqTypeLayout *out);

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

/* Round value up to a multiple of align (align >= 1). */
static inline long long
RoundUp(long long value, int align)
{
    return ((value + align - 1) / align) * align;
}

/*
 *----------------------------------------------------------------------
 * ReportCode --
 *	Says that the byte at p is no type code.  Printable bytes are shown
 *	as themselves, the NUL as "end of string", others in hex.
 *----------------------------------------------------------------------
 */
static void
ReportCode(const Scan *scan, const char *p)
{
    if (scan->walker == NULL) {
	return;
    }
    unsigned char c = (unsigned char) *p;
    if (c == 0) {
	fprintf(stderr, "Osmo: (%s) illegal type: end of string\n", scan->walker);
    } else if (c >= 0x20 && c < 0x7f) {
	fprintf(stderr, "Osmo: (%s) illegal type: %c\n", scan->walker, c);
    } else {
	fprintf(stderr, "Osmo: (%s) illegal type: \\x%02x\n", scan->walker, c);
    }
}

/*
 *----------------------------------------------------------------------
 * ReportMalformed --
 *	Says what is wrong with the encoding the walk began with, quoting it
 *	(cut to QUOTE_LIMIT bytes).
 *----------------------------------------------------------------------
 */
static void
ReportMalformed(const Scan *scan, const char *what)
{
    if (scan->walker == NULL) {
	return;
    }
    size_t length = strlen(scan->start);
    int shown = length > QUOTE_LIMIT ? QUOTE_LIMIT : (int) length;
    fprintf(stderr, "Osmo: (%s) illegal type: %s in \"%.*s%s\"\n", scan->walker,
	    what, shown, scan->start, length > QUOTE_LIMIT ? "..." : "");
}

/*
 *----------------------------------------------------------------------
 * SkipQualifiers --
 *	Passes the qualifier characters r n N o O R, and V where it means
 *	oneway: when the byte after it is neither NUL, nor a digit, nor '"'
 *	(otherwise V is the oneway type code itself).
 *----------------------------------------------------------------------
 */
static const char *
SkipQualifiers(const char *p)
{
    for (;;) {
	char c = *p;
	if (c == 'r' || c == 'n' || c == 'N' || c == 'o' || c == 'O' || c == 'R') {
	    p++;
	} else if (c == 'V' && p[1] != '\0' && !IsDigit(p[1]) && p[1] != '"') {
	    p++;
	} else {
	    return p;
	}
    }
}

/* The qualifier bits of one qualifier character; 0 for any other. */
static unsigned
QualifierBits(char c)
{
    switch (c) {
    case 'r': return BQ_QUAL_CONST;
    case 'n': return BQ_QUAL_IN;
    case 'o': return BQ_QUAL_OUT;
    case 'N': return BQ_QUAL_INOUT;
    case 'O': return BQ_QUAL_BYCOPY;
    case 'R': return BQ_QUAL_BYREF;
    default:  return 0;
    }
}

/*
 *----------------------------------------------------------------------
 * ReadNumber --
 *	Reads the decimal digits at *pp (possibly none, giving 0) and leaves
 *	*pp after them.  Answers 0 when the number exceeds MAX_TYPE_SIZE; the
 *	digits are passed all the same.
 *----------------------------------------------------------------------
 */
static int
ReadNumber(const char **pp, int *valuePtr)
{
    const char *p = *pp;
    long long value = 0;
    int fits = 1;
    while (IsDigit(*p)) {
	if (fits) {
	    value = value * 10 + (*p - '0');
	    if (value > MAX_TYPE_SIZE) {
		fits = 0;
	    }
	}
	p++;
    }
    *pp = p;
    *valuePtr = fits ? (int) value : 0;
    return fits;
}

/*
 *----------------------------------------------------------------------
 * SkipQuoted --
 *	p is at an opening '"': answers the position after the closing one,
 *	or null (reported) when the string ends first.
 *----------------------------------------------------------------------
 */
static const char *
SkipQuoted(const Scan *scan, const char *p)
{
    const char *close = strchr(p + 1, '"');
    if (close == NULL) {
	ReportMalformed(scan, "unclosed quote");
	return NULL;
    }
    return close + 1;
}

static void
SetLayout(BqTypeLayout *out, int size, int align, char valid)
{
    out->size = size;
    out->align = align;
    out->valid = valid;
    out->isBitField = 0;
    out->bitPosition = 0;
    out->bitWidth = 0;
}

/*
 *----------------------------------------------------------------------
 * ScalarLayout --
 *	The layout of a one-character type code; answers 0 for a byte that
 *	is no such code.  '?' (unknown, e.g. a function) has a pointer's
 *	layout but is not a value one can convert.
 *----------------------------------------------------------------------
 */
static int
ScalarLayout(char code, BqTypeLayout *out)
{
    switch (code) {
    case 'c': case 'C': case 'B':
	SetLayout(out, 1, 1, 1); return 1;
    case 's': case 'S':
	SetLayout(out, 2, 2, 1); return 1;
    case 'i': case 'I': case 'f':
	SetLayout(out, 4, 4, 1); return 1;
    case 'l': case 'L': case 'q': case 'Q': case 'd':
    case '*': case '#': case ':': case '%':
	SetLayout(out, 8, 8, 1); return 1;
    case 'D':
	SetLayout(out, 16, 16, 1); return 1;
    case 'v': case 'V':
	SetLayout(out, 0, 1, 1); return 1;
    case '?':
	SetLayout(out, 8, 8, 0); return 1;
    default:
	return 0;
    }
}

/* Counts one more level of nesting; reports and answers 0 past the limit. */
static int
Enter(Scan *scan)
{
    if (++scan->depth > BQ_TYPESPEC_MAX_DEPTH) {
	ReportMalformed(scan, "types nested too deeply");
	return 0;
    }
    return 1;
}

/*
 *----------------------------------------------------------------------
 * ScanPointer --
 *	p is at '^': the pointee follows as a whole type, qualifiers
 *	included.  A pointer is valid when its pointee is, or when the
 *	pointee is '?' (a pointer to a function or to unknown data).
 *----------------------------------------------------------------------
 */
static const char *
ScanPointer(Scan *scan, const char *p, BqTypeLayout *out)
{
    if (!Enter(scan)) {
	return NULL;
    }
    BqTypeLayout pointee;
    const char *target = SkipQualifiers(p + 1);
    const char *end = ScanOne(scan, target, &pointee);
    scan->depth--;
    if (end == NULL) {
	return NULL;
    }
    SetLayout(out, 8, 8, *target == '?' || pointee.valid);
    return end;
}

/*
 *----------------------------------------------------------------------
 * ScanArray --
 *	p is at '[': a decimal count, the element type, then ']'.  Elements
 *	are laid out at their aligned size, so the array aligns like its
 *	element.
 *----------------------------------------------------------------------
 */
static const char *
ScanArray(Scan *scan, const char *p, BqTypeLayout *out)
{
    int count;
    p++;
    if (!ReadNumber(&p, &count)) {
	ReportMalformed(scan, "array too large");
	return NULL;
    }
    if (!Enter(scan)) {
	return NULL;
    }
    BqTypeLayout element;
    p = ScanOne(scan, p, &element);
    scan->depth--;
    if (p == NULL) {
	return NULL;
    }
    if (*p != ']') {
	ReportMalformed(scan, "missing ']'");
	return NULL;
    }
    long long size = (long long) count * RoundUp(element.size, element.align);
    if (size > MAX_TYPE_SIZE) {
	ReportMalformed(scan, "array too large");
	return NULL;
    }
    SetLayout(out, (int) size, element.align, element.valid);
    return p + 1;
}

/*
 *----------------------------------------------------------------------
 * SkipUnionName --
 *	p is just after '('.  A name starting with '_' runs to its '=' (or
 *	stops before ')'); any other name is a run of letters, digits, '_',
 *	'$' and '?' directly followed by '=' (the compiler writes "(?=...)"
 *	and "(tag=...)").  '=' is no type code, so a run of member codes can
 *	never be mistaken for a name.  Answers where the members begin, or
 *	null when the string ends inside a '_' name.
 *----------------------------------------------------------------------
 */
static const char *
SkipUnionName(const char *p)
{
    const char *q = p;
    if (*p == '_') {
	while (*q != '\0' && *q != '=' && *q != ')') {
	    q++;
	}
	if (*q == '\0') {
	    return NULL;
	}
	return *q == '=' ? q + 1 : q;
    }
    while (IsLetter(*q) || IsDigit(*q) || *q == '_' || *q == '$' || *q == '?') {
	q++;
    }
    return *q == '=' ? q + 1 : p;
}

/*
 *----------------------------------------------------------------------
 * SkipStructTag --
 *	p is just after '{': the tag runs to and including the first '=', or
 *	stops before '}' when that comes first ("{tag}" has no members).
 *	Answers where the members begin, or null when the string ends first.
 *----------------------------------------------------------------------
 */
static const char *
SkipStructTag(const char *p)
{
    while (*p != '\0' && *p != '=' && *p != '}') {
	p++;
    }
    if (*p == '\0') {
	return NULL;
    }
    return *p == '=' ? p + 1 : p;
}

/*
 *----------------------------------------------------------------------
 * ScanMember --
 *	Reads one member of a structure or union at p: an optional element
 *	name in quotes, then the member's type.  close is the aggregate's
 *	closing character, used for the message when the string ends.
 *----------------------------------------------------------------------
 */
static const char *
ScanMember(Scan *scan, const char *p, char close, BqTypeLayout *member)
{
    if (*p == '"') {
	p = SkipQuoted(scan, p);
	if (p == NULL) {
	    return NULL;
	}
    }
    if (*p == '\0') {
	ReportMalformed(scan, close == '}' ? "unclosed '{'" : "unclosed '('");
	return NULL;
    }
    if (*p == close) {
	ReportMalformed(scan, "element name without a type");
	return NULL;
    }
    return ScanOne(scan, p, member);
}

/*
 *----------------------------------------------------------------------
 * PlaceMember --
 *	Adds one member to a structure whose first *bitsPtr bits are taken.
 *	An ordinary member starts at the next byte rounded up to its
 *	alignment.  A bit-field sits at the bit position its encoding names;
 *	like the C compiler here, a zero-width one only moves the position
 *	and leaves the structure's alignment alone.  Answers 0 when the
 *	structure grows too large.
 *----------------------------------------------------------------------
 */
static int
PlaceMember(const BqTypeLayout *member, long long *bitsPtr, int *alignPtr)
{
    long long bits;
    if (member->isBitField) {
	bits = (long long) member->bitPosition + member->bitWidth;
	if (bits < *bitsPtr) {
	    bits = *bitsPtr;
	}
	if (member->bitWidth > 0 && member->align > *alignPtr) {
	    *alignPtr = member->align;
	}
    } else {
	long long bytes = RoundUp((*bitsPtr + 7) / 8, member->align) + member->size;
	bits = bytes * 8;
	if (member->align > *alignPtr) {
	    *alignPtr = member->align;
	}
    }
    *bitsPtr = bits;
    return bits / 8 <= MAX_TYPE_SIZE;
}

/*
 *----------------------------------------------------------------------
 * ScanStruct --
 *	p is at '{': tag, then members (each with an optional element name)
 *	up to '}'.  The size includes the tail padding to the structure's
 *	alignment, which is its largest member's (1 without members), so it
 *	equals the compiler's sizeof.
 *----------------------------------------------------------------------
 */
static const char *
ScanStruct(Scan *scan, const char *p, BqTypeLayout *out)
{
    p = SkipStructTag(p + 1);
    if (p == NULL) {
	ReportMalformed(scan, "unclosed '{'");
	return NULL;
    }
    if (!Enter(scan)) {
	return NULL;
    }
    long long bits = 0;
    int align = 1;
    char valid = 1;
    while (*p != '}') {
	BqTypeLayout member;
	p = ScanMember(scan, p, '}', &member);
	if (p == NULL) {
	    return NULL;
	}
	if (!PlaceMember(&member, &bits, &align)) {
	    ReportMalformed(scan, "structure too large");
	    return NULL;
	}
	valid = valid && member.valid;
    }
    scan->depth--;
    long long size = RoundUp((bits + 7) / 8, align);
    if (size > MAX_TYPE_SIZE) {
	ReportMalformed(scan, "structure too large");
	return NULL;
    }
    SetLayout(out, (int) size, align, valid);
    return p + 1;
}

/*
 *----------------------------------------------------------------------
 * ScanUnion --
 *	p is at '(': optional name, members up to ')'.  The size is the
 *	largest member's rounded up to the largest alignment.  A union is a
 *	valid C value whatever its members are.
 *----------------------------------------------------------------------
 */
static const char *
ScanUnion(Scan *scan, const char *p, BqTypeLayout *out)
{
    p = SkipUnionName(p + 1);
    if (p == NULL) {
	ReportMalformed(scan, "unclosed '('");
	return NULL;
    }
    if (!Enter(scan)) {
	return NULL;
    }
    int size = 0;
    int align = 1;
    while (*p != ')') {
	BqTypeLayout member;
	p = ScanMember(scan, p, ')', &member);
	if (p == NULL) {
	    return NULL;
	}
	if (member.size > size) {
	    size = member.size;
	}
	if (member.align > align) {
	    align = member.align;
	}
    }
    scan->depth--;
    SetLayout(out, (int) RoundUp(size, align), align, 1);
    return p + 1;
}

/*
 *----------------------------------------------------------------------
 * ScanBitField --
 *	p is at 'b'.  The compiler here writes "b<position><type><width>":
 *	the first bit counted from the start of the structure, the type of
 *	the storage unit, the number of bits.  The older form "b<width>",
 *	optionally followed by a quoted name, is read too; it is laid out as
 *	an unsigned int.
 *----------------------------------------------------------------------
 */
static const char *
ScanBitField(Scan *scan, const char *p, BqTypeLayout *out)
{
    int first;
    p++;
    if (!ReadNumber(&p, &first)) {
	ReportMalformed(scan, "bit-field too large");
	return NULL;
    }
    if (*p != '\0' && strchr("cCsSiIlLqQB", *p) != NULL && IsDigit(p[1])) {
	BqTypeLayout unit;
	ScalarLayout(*p, &unit);
	p++;
	int width;
	if (!ReadNumber(&p, &width)) {
	    ReportMalformed(scan, "bit-field too large");
	    return NULL;
	}
	SetLayout(out, unit.size, unit.align, 1);
	out->isBitField = 1;
	out->bitPosition = first;
	out->bitWidth = width;
	return p;
    }
    if (*p == '"') {
	p = SkipQuoted(scan, p);
	if (p == NULL) {
	    return NULL;
	}
    }
    SetLayout(out, 4, 4, 1);
    return p;
}

/*
 *----------------------------------------------------------------------
 * ScanOne --
 *	Reads one complete type at p (qualifiers first) into *out and
 *	answers the position after it, or null after reporting when the
 *	type is malformed.
 *----------------------------------------------------------------------
 */
static const char *
ScanOne(Scan *scan, const char *p, BqTypeLayout *out)
{
    p = SkipQualifiers(p);
    switch (*p) {
    case '\0':
	if (scan->depth == 0) {
	    ReportCode(scan, p);
	} else {
	    ReportMalformed(scan, "type cut short");
	}
	return NULL;
    case '@':
	SetLayout(out, 8, 8, 1);
	p++;
	return *p == '"' ? SkipQuoted(scan, p) : p;
    case '^':
	return ScanPointer(scan, p, out);
    case '[':
	return ScanArray(scan, p, out);
    case '{':
	return ScanStruct(scan, p, out);
    case '(':
	return ScanUnion(scan, p, out);
    case 'b':
	return ScanBitField(scan, p, out);
    default:
	if (ScalarLayout(*p, out)) {
	    return p + 1;
	}
	ReportCode(scan, p);
	return NULL;
    }
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_ScanType --
 *	Reads one complete type and, when layoutPtr is given, stores its
 *	size, alignment and validity there.  Answers the position after the
 *	type, or null when type is null, empty or malformed; walker names
 *	the caller in the messages ("skip", "size" ...), null keeps quiet.
 *----------------------------------------------------------------------
 */
const char *
BqTypeSpec_ScanType(const char *type, BqTypeLayout *layoutPtr, const char *walker)
{
    if (type == NULL) {
	return NULL;
    }
    Scan scan = { type, walker, 0 };
    BqTypeLayout ignored;
    return ScanOne(&scan, type, layoutPtr != NULL ? layoutPtr : &ignored);
}

const char *
BqTypeSpec_SkipTypeQualifiers(const char *type)
{
    return type != NULL ? SkipQualifiers(type) : NULL;
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_GetTypeQualifiers --
 *	The OR of the qualifier bits at the start of type; stops at the
 *	first byte that is not r n N o O R (so V stops it).
 *----------------------------------------------------------------------
 */
unsigned char
BqTypeSpec_GetTypeQualifiers(const char *type)
{
    unsigned bits = 0;
    if (type != NULL) {
	for (unsigned b; (b = QualifierBits(*type)) != 0; type++) {
	    bits |= b;
	}
    }
    return (unsigned char) bits;
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_FixTypeQualifiers --
 *	Rewrites the qualifiers of type in place into the canonical order
 *	r, one of N n o, one of O R, and answers the new start (at or after
 *	type: each written character stands for bits that one or more of the
 *	replaced characters carried, so it never needs more room).  const,
 *	in and out are dropped unless the type is a pointer or a C string;
 *	oneway is dropped.
 *----------------------------------------------------------------------
 */
char *
BqTypeSpec_FixTypeQualifiers(char *type)
{
    if (type == NULL) {
	return NULL;
    }
    char *q = type + (SkipQualifiers(type) - type);
    if (q == type) {
	return type;
    }
    unsigned bits = 0;
    for (const char *p = type; p < q; p++) {
	bits |= QualifierBits(*p);
    }
    char code = *q;
    if (code != '^' && code != '*') {
	bits &= ~(unsigned) (BQ_QUAL_CONST | BQ_QUAL_INOUT);
    }
    char after = code != '\0' ? q[1] : '\0';
    int keepByWhat = !(code != '@' && code != '^' && after == '@');
    if ((bits & BQ_QUAL_BYCOPY) && keepByWhat) {
	*--q = 'O';
    } else if (!(bits & BQ_QUAL_BYCOPY) && (bits & BQ_QUAL_BYREF) && keepByWhat) {
	*--q = 'R';
    }
    if ((bits & BQ_QUAL_INOUT) == BQ_QUAL_INOUT) {
	*--q = 'N';
    } else if (bits & BQ_QUAL_IN) {
	*--q = 'n';
    } else if (bits & BQ_QUAL_OUT) {
	*--q = 'o';
    }
    if (bits & BQ_QUAL_CONST) {
	*--q = 'r';
    }
    return q;
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_GetArgInOutType --
 *	The direction in which an argument's value travels: in for values,
 *	none for void, and for pointers what the qualifiers say (both when
 *	they say nothing).  const counts as in; "const out" is warned about
 *	and becomes in-out.  The const, bycopy and byref bits are kept.
 *----------------------------------------------------------------------
 */
unsigned char
BqTypeSpec_GetArgInOutType(const char *type)
{
    if (type == NULL) {
	return 0;
    }
    unsigned bits = 0;
    for (unsigned b; (b = QualifierBits(*type)) != 0; type++) {
	bits |= b;
    }
    if (bits & BQ_QUAL_CONST) {
	if (bits & BQ_QUAL_OUT) {
	    fprintf(stderr, "WARNING: type is \"const out\"\n");
	}
	bits |= BQ_QUAL_IN;
    }
    unsigned direction;
    if (*type == 'v' || *type == 'V') {
	return 0;
    } else if (*type == '^') {
	direction = bits & BQ_QUAL_INOUT;
	if (direction == 0) {
	    direction = BQ_QUAL_INOUT;
	}
    } else {
	direction = BQ_QUAL_IN;
    }
    return (unsigned char) (direction
	    | (bits & (BQ_QUAL_CONST | BQ_QUAL_BYCOPY | BQ_QUAL_BYREF)));
}

/* Appends the qualifier characters of bits in canonical order. */
void
BqTypeSpec_Qualifiers(Tcl_DString *dsPtr, unsigned bits)
{
    if (dsPtr == NULL) {
	return;
    }
    if (bits & BQ_QUAL_BYCOPY) {
	Tcl_DStringAppend(dsPtr, "O", 1);
    }
    if (bits & BQ_QUAL_BYREF) {
	Tcl_DStringAppend(dsPtr, "R", 1);
    }
    if (bits & BQ_QUAL_CONST) {
	Tcl_DStringAppend(dsPtr, "r", 1);
    }
    if ((bits & BQ_QUAL_INOUT) == BQ_QUAL_INOUT) {
	Tcl_DStringAppend(dsPtr, "N", 1);
    } else if (bits & BQ_QUAL_IN) {
	Tcl_DStringAppend(dsPtr, "n", 1);
    } else if (bits & BQ_QUAL_OUT) {
	Tcl_DStringAppend(dsPtr, "o", 1);
    }
}

/* Passes a quoted element name at type (to the NUL when unclosed). */
const char *
BqTypeSpec_SkipStructElementName(const char *type)
{
    if (type == NULL || *type != '"') {
	return type;
    }
    const char *close = strchr(type + 1, '"');
    return close != NULL ? close + 1 : type + strlen(type);
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_SkipTypeSpec --
 *	Answers the position after one complete type.  An empty type (only
 *	qualifiers, or nothing) answers the terminating NUL silently; a
 *	malformed one is reported and answers the terminating NUL, ending
 *	any walk over the rest of the string.
 *----------------------------------------------------------------------
 */
const char *
BqTypeSpec_SkipTypeSpec(const char *type)
{
    if (type == NULL) {
	return NULL;
    }
    const char *p = SkipQualifiers(type);
    if (*p == '\0') {
	return p;
    }
    const char *end = BqTypeSpec_ScanType(p, NULL, "skip");
    return end != NULL ? end : p + strlen(p);
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_SkipOffset --
 *	Passes an offset: an optional '+' or '-', then decimal digits.
 *	Nothing else is passed, so an absent offset costs nothing and the
 *	terminating NUL is never passed.
 *----------------------------------------------------------------------
 */
const char *
BqTypeSpec_SkipOffset(const char *type)
{
    if (type == NULL) {
	return NULL;
    }
    if (*type == '+' || *type == '-') {
	type++;
    }
    while (IsDigit(*type)) {
	type++;
    }
    return type;
}

const char *
BqTypeSpec_SkipArgument(const char *type)
{
    return BqTypeSpec_SkipOffset(BqTypeSpec_SkipTypeSpec(type));
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_IsValidCType --
 *	Whether one type can be handled as a C value: scalars, strings,
 *	objects, classes, selectors, atoms, bit-fields, unions, pointers to
 *	valid types or to '?', arrays of valid elements and structures of
 *	valid members (none at all included).  The empty type, '?' and
 *	anything malformed are not.  Says nothing on standard error.
 *----------------------------------------------------------------------
 */
char
BqTypeSpec_IsValidCType(const char *type)
{
    if (type == NULL) {
	return 0;
    }
    const char *p = SkipQualifiers(type);
    if (*p == '\0' || *p == '?') {
	return 0;
    }
    BqTypeLayout layout;
    return BqTypeSpec_ScanType(p, &layout, NULL) != NULL && layout.valid;
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_AlignOfType --
 *	The alignment of one type.  An unreadable type silently counts as a
 *	word, as callers that must reject bad types test validity first.
 *----------------------------------------------------------------------
 */
int
BqTypeSpec_AlignOfType(const char *type)
{
    BqTypeLayout layout;
    if (BqTypeSpec_ScanType(type, &layout, NULL) == NULL) {
	return FALLBACK_SIZE;
    }
    return layout.align;
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_SizeOfType --
 *	The size of one type, as sizeof gives it (a structure's tail
 *	padding included).  An unreadable type is reported as "(size)" and
 *	counts as a word.
 *----------------------------------------------------------------------
 */
int
BqTypeSpec_SizeOfType(const char *type)
{
    BqTypeLayout layout;
    if (BqTypeSpec_ScanType(type, &layout, "size") == NULL) {
	return FALLBACK_SIZE;
    }
    return layout.size;
}

/* The size rounded up to the alignment: the stride of an array. */
int
BqTypeSpec_AlignedSizeOfType(const char *type)
{
    BqTypeLayout layout;
    if (BqTypeSpec_ScanType(type, &layout, "size") == NULL) {
	return FALLBACK_SIZE;
    }
    return (int) RoundUp(layout.size, layout.align);
}

/* The size rounded up to a whole number of words. */
int
BqTypeSpec_WordSizeOfType(const char *type)
{
    return (int) RoundUp(BqTypeSpec_SizeOfType(type), BQ_TYPESPEC_WORD);
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_FirstMember --
 *	Starts a walk over the members of the structure or union at type
 *	(after its qualifiers) and reads the first member.  Members are
 *	placed as the structure's layout places them, so offsets equal the
 *	compiler's offsetof.
 *
 * Results:
 *	1 with the member in *member; 0 when there is none; -1 when type is
 *	no structure or union, or is malformed.
 *----------------------------------------------------------------------
 */
int
BqTypeSpec_FirstMember(const char *type, BqTypeMember *member)
{
    if (type == NULL || member == NULL) {
	return -1;
    }
    const char *p = SkipQualifiers(type);
    if (*p == '{') {
	member->next = SkipStructTag(p + 1);
	member->close = '}';
    } else if (*p == '(') {
	member->next = SkipUnionName(p + 1);
	member->close = ')';
    } else {
	return -1;
    }
    if (member->next == NULL) {
	return -1;
    }
    member->bits = 0;
    member->align = 1;
    member->index = -1;
    return BqTypeSpec_NextMember(member);
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_NextMember --
 *	Reads the member after the current one; results as for
 *	BqTypeSpec_FirstMember.
 *----------------------------------------------------------------------
 */
int
BqTypeSpec_NextMember(BqTypeMember *member)
{
    if (member == NULL || member->next == NULL) {
	return -1;
    }
    const char *p = member->next;
    if (*p == member->close) {
	return 0;
    }
    member->name = NULL;
    member->nameLength = 0;
    if (*p == '"') {
	const char *close = strchr(p + 1, '"');
	if (close == NULL) {
	    return -1;
	}
	member->name = p + 1;
	member->nameLength = (int) (close - p - 1);
	p = close + 1;
    }
    if (*p == '\0' || *p == member->close) {
	return -1;
    }
    const char *end = BqTypeSpec_ScanType(p, &member->layout, NULL);
    if (end == NULL) {
	return -1;
    }
    const BqTypeLayout *layout = &member->layout;
    if (member->close == ')') {
	member->offset = 0;
    } else if (layout->isBitField) {
	int unitBits = layout->size * 8;
	member->offset = unitBits > 0 ? layout->bitPosition / unitBits * layout->size : 0;
    } else {
	member->offset = (int) RoundUp((member->bits + 7) / 8, layout->align);
    }
    if (member->close == '}' && !PlaceMember(layout, &member->bits, &member->align)) {
	return -1;
    }
    member->type = p;
    member->typeEnd = end;
    member->index++;
    member->next = end;
    return 1;
}

/*
 *----------------------------------------------------------------------
 * EqTypes helpers --
 *	PassOffset passes an optional sign and digits; SkipLooseQuote passes
 *	a quoted name (to the NUL when unclosed); SameDigits compares two
 *	runs of digits (array counts, bit positions and widths), which must
 *	be equal, and passes them.
 *----------------------------------------------------------------------
 */
static const char *
PassOffset(const char *p)
{
    if (*p == '+' || *p == '-') {
	p++;
    }
    while (IsDigit(*p)) {
	p++;
    }
    return p;
}

static const char *
SkipLooseQuote(const char *p)
{
    return BqTypeSpec_SkipStructElementName(p);
}

static int
SameDigits(const char **aPtr, const char **bPtr)
{
    const char *a = *aPtr;
    const char *b = *bPtr;
    while (IsDigit(*a) || IsDigit(*b)) {
	if (*a != *b) {
	    return 0;
	}
	a++;
	b++;
    }
    *aPtr = a;
    *bPtr = b;
    return 1;
}

/*
 * SameClassNames --
 *	a and b are just after '@'.  When both carry a quoted class name the
 *	names must be equal; a name on one side only, or none, matches.
 *	Passes the names; answers 0 on a mismatch.
 */
static int
SameClassNames(const char **aPtr, const char **bPtr)
{
    const char *a = *aPtr;
    const char *b = *bPtr;
    if (*a == '"' && *b == '"') {
	a++;
	b++;
	while (*a != '\0' && *a != '"' && *b != '\0' && *b != '"') {
	    if (*a != *b) {
		return 0;
	    }
	    a++;
	    b++;
	}
	if (*a != *b) {
	    return 0;
	}
	if (*a != '\0') {
	    a++;
	    b++;
	}
    } else {
	a = SkipLooseQuote(a);
	b = SkipLooseQuote(b);
    }
    *aPtr = a;
    *bPtr = b;
    return 1;
}

/*
 * SkipAggregateName --
 *	p is just after '{' or '(': passes the tag or union name (to the
 *	NUL when unclosed).
 */
static const char *
SkipAggregateName(const char *p, char open)
{
    const char *members = open == '{' ? SkipStructTag(p) : SkipUnionName(p);
    return members != NULL ? members : p + strlen(p);
}

/*
 * SameAggregateNames --
 *	a and b are just after '{' or '('.  Names that begin alike are
 *	compared as text; names that differ in their first character are
 *	both skipped, so the anonymous tag '?' matches any tag.
 */
static int
SameAggregateNames(const char **aPtr, const char **bPtr, char open)
{
    const char *a = *aPtr;
    const char *b = *bPtr;
    const char *aMembers = SkipAggregateName(a, open);
    const char *bMembers = SkipAggregateName(b, open);
    if (*a == *b) {
	size_t aLength = (size_t) (aMembers - a);
	if (aLength != (size_t) (bMembers - b) || memcmp(a, b, aLength) != 0) {
	    return 0;
	}
    }
    *aPtr = aMembers;
    *bPtr = bMembers;
    return 1;
}

/* Bit-fields of the form b<pos><type><width>: compare all three. */
static int
SameBitFields(const char **aPtr, const char **bPtr)
{
    if (!SameDigits(aPtr, bPtr)) {
	return 0;
    }
    const char *a = *aPtr;
    const char *b = *bPtr;
    if (IsLetter(*a) && IsDigit(a[1])) {
	if (*a != *b) {
	    return 0;
	}
	a++;
	b++;
	if (!SameDigits(&a, &b)) {
	    return 0;
	}
    }
    *aPtr = a;
    *bPtr = b;
    return 1;
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_EqTypes --
 *	Whether two encodings describe the same types.  Offsets and
 *	qualifiers never count; one encoding may be a prefix of the other;
 *	a class name on one '@' only matches; element names are skipped;
 *	structure tags that differ in their first character are skipped
 *	(the anonymous tag matches any), others compared as text.  Array
 *	counts and bit-field sizes count: [3i] and [4i] differ.
 *	False when either is null.
 *----------------------------------------------------------------------
 */
char
BqTypeSpec_EqTypes(const char *a, const char *b)
{
    if (a == NULL || b == NULL) {
	return 0;
    }
    while (*a != '\0') {
	a = SkipQualifiers(PassOffset(a));
	b = SkipQualifiers(PassOffset(b));
	if (*a == '\0' || *b == '\0') {
	    return 1;
	}
	if (*a == '@' && *b == '@') {
	    a++;
	    b++;
	    if (!SameClassNames(&a, &b)) {
		return 0;
	    }
	    continue;
	}
	a = SkipLooseQuote(a);
	b = SkipLooseQuote(b);
	if (*a == '\0' && *b == '\0') {
	    return 1;
	}
	if (*a != *b) {
	    return 0;
	}
	char code = *a;
	a++;
	b++;
	int same = 1;
	if (code == '[') {
	    same = SameDigits(&a, &b);
	} else if (code == 'b') {
	    same = SameBitFields(&a, &b);
	} else if (code == '{' || code == '(') {
	    same = SameAggregateNames(&a, &b, code);
	}
	if (!same) {
	    return 0;
	}
    }
    return 1;
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_CompatiblePtrTypes --
 *	Whether a pointer of type b may be stored where type a is wanted:
 *	both must be pointers; a pointer to void fits either way; otherwise
 *	the pointees must be equal types.
 *----------------------------------------------------------------------
 */
char
BqTypeSpec_CompatiblePtrTypes(const char *a, const char *b)
{
    if (a == NULL || b == NULL || *a != '^' || *b != '^') {
	return 0;
    }
    a++;
    b++;
    if (*SkipQualifiers(a) == 'v' || *SkipQualifiers(b) == 'v') {
	return 1;
    }
    return BqTypeSpec_EqTypes(a, b);
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_StripCTypeQuote --
 *	Copies src into dst (room for strlen(src) + 1 bytes) without the
 *	quoted element and class names, quotes included.  Answers 1 when
 *	src held any '"'.
 *----------------------------------------------------------------------
 */
int
BqTypeSpec_StripCTypeQuote(const char *src, char *dst)
{
    int seen = 0;
    while (*src != '\0') {
	if (*src == '"') {
	    seen = 1;
	    src = BqTypeSpec_SkipStructElementName(src);
	    continue;
	}
	*dst++ = *src++;
    }
    *dst = '\0';
    return seen;
}

/*
 *----------------------------------------------------------------------
 * BqTypeSpec_Str2SEL --
 *	The selector of that name, registered under the interned copy of
 *	the name when the runtime does not know it yet.
 *----------------------------------------------------------------------
 */
SEL
BqTypeSpec_Str2SEL(const char *name)
{
    if (name == NULL) {
	return NULL;
    }
    SEL selector = sel_getUid(name);
    if (selector == NULL) {
	selector = sel_registerName(KxUniqueString(name));
    }
    return selector;
}

/*
 *----------------------------------------------------------------------
 * BqMethod_GetNumberOfArguments --
 *	The number of (type, offset) pairs after the return type of the
 *	method's signature; receiver and selector count.
 *----------------------------------------------------------------------
 */
int
BqMethod_GetNumberOfArguments(const BqOsmoMethodDescription *method)
{
    if (method == NULL || method->types == NULL) {
	return 0;
    }
    int pairs = 0;
    for (const char *p = method->types; *p != '\0'; p = BqTypeSpec_SkipArgument(p)) {
	pairs++;
    }
    return pairs > 0 ? pairs - 1 : 0;
}

/*
 * ReadOffset --
 *	Reads an offset at p: optional '+' (relative to the frame itself),
 *	optional '-', digits.  Digits beyond MAX_TYPE_SIZE read as 0.
 */
static long
ReadOffset(const char *p, int *frameRelativePtr)
{
    *frameRelativePtr = 0;
    if (*p == '+') {
	*frameRelativePtr = 1;
	p++;
    }
    int negative = 0;
    if (*p == '-') {
	negative = 1;
	p++;
    }
    int value;
    ReadNumber(&p, &value);
    return negative ? -(long) value : (long) value;
}

/* The frame size: the number after the signature's return type. */
int
BqMethod_GetSizeOfArguments(const BqOsmoMethodDescription *method)
{
    if (method == NULL || method->types == NULL) {
	return 0;
    }
    int frameRelative;
    return (int) ReadOffset(BqTypeSpec_SkipTypeSpec(method->types), &frameRelative);
}

void *
BqMethod_GetFirstArgument(const BqOsmoMethodDescription *method, void *frame,
	const char **cursor)
{
    if (method == NULL || method->types == NULL || cursor == NULL) {
	return NULL;
    }
    *cursor = method->types;
    return BqMethod_GetNextArgument(frame, cursor);
}

/*
 *----------------------------------------------------------------------
 * BqMethod_GetNextArgument --
 *	Moves the cursor from one (type, offset) pair to the next and
 *	answers the address of that argument in the frame: offsets marked
 *	'+' count from the frame itself, others from the stacked-argument
 *	block whose address is the frame's first word.  Answers null at the
 *	end of the signature (the cursor is then left alone).
 *----------------------------------------------------------------------
 */
void *
BqMethod_GetNextArgument(void *frame, const char **cursor)
{
    if (frame == NULL || cursor == NULL || *cursor == NULL) {
	return NULL;
    }
    const char *next = BqTypeSpec_SkipArgument(*cursor);
    if (*next == '\0') {
	return NULL;
    }
    *cursor = next;
    int frameRelative;
    long offset = ReadOffset(BqTypeSpec_SkipTypeSpec(next), &frameRelative);
    uintptr_t base = frameRelative ? (uintptr_t) frame : *(uintptr_t *) frame;
    return (void *) (base + (uintptr_t) offset);
}
