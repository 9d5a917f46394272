/*
 * KxTypedStreamType.mm --
 *
 *	The type encodings a typed stream accepts, their canonical form and
 *	their layout on this machine.
 *
 *	Accepted: the integer codes c C s S i I l L q Q B, f and d, C strings
 *	(* and the interned %), objects (@, with or without a quoted class
 *	name), classes (#), selectors (:), arrays "[<count><type>]" and
 *	structures "{<name>=<members>}" whose members may carry quoted
 *	names.  Qualifiers (r n N o O R V) may precede any type.  Everything
 *	else is refused with a reason: NSArchiver cannot write unions,
 *	bit-fields or long double, and a pointer's target has no meaning in
 *	another process.
 *
 *	The canonical form drops qualifiers, element names and class names,
 *	so that two spellings of one C type compare equal; it is what a
 *	stream stores in front of each value and what the coding walks.
 *
 *	Layout follows the C compiler on this machine: scalars take their C
 *	sizes, a structure aligns each member to the member's alignment and
 *	its size to its largest alignment, an array is its elements side by
 *	side.  Sizes are checked against KX_TS_MAX_VALUE_SIZE as they grow,
 *	so no arithmetic overflows whatever the encoding claims.
 *
 *	The parser reads only up to the terminating NUL and advances on
 *	every step; nesting is bounded by KX_TS_MAX_DEPTH.
 *
 *	The reader also checks the type encodings that objects' initWithCoder:
 *	methods hand it (KxTSCheckType): those may be pointers, whose target
 *	is read into memory of its own, and some of them come from the file
 *	itself (NSValue stores the encoding of its value), so they get the
 *	same checks as any other input.
 */
#include "KxTypedStreamPriv.h"

#include <limits.h>
#include <string.h>

#include <objc/runtime.h>

typedef struct Parse {
    char *out;			/* canonical form being written, or null */
    size_t length;		/* characters written to out */
    int depth;			/* arrays, structures and pointers entered */
    int flags;			/* KX_TS_TYPE_* */
    const char *why;		/* reason for refusing, once set */
} Parse;

static const char *ParseOne(Parse *ps, const char *p, KxTSLayout *layout);

/*
 *----------------------------------------------------------------------
 * Fail --
 *	Records why the encoding is refused; answers null for the caller
 *	to return.
 *----------------------------------------------------------------------
 */
static const char *
Fail(Parse *ps, const char *why)
{
    if (ps->why == NULL) {
	ps->why = why;
    }
    return NULL;
}

/*
 *----------------------------------------------------------------------
 * Emit --
 *	Appends n characters to the canonical form (when one is written).
 *	Answers 0 after recording the reason when it would grow past
 *	KX_TS_MAX_TYPE_LENGTH.
 *----------------------------------------------------------------------
 */
static int
Emit(Parse *ps, const char *text, size_t n)
{
    if (ps->out == NULL) {
	return 1;
    }
    if (n > KX_TS_MAX_TYPE_LENGTH - ps->length) {
	Fail(ps, "type encoding too long");
	return 0;
    }
    memcpy(ps->out + ps->length, text, n);
    ps->length += n;
    ps->out[ps->length] = '\0';
    return 1;
}

/*
 *----------------------------------------------------------------------
 * ScalarLayout --
 *	Size and alignment of a one-character type the stream accepts;
 *	answers 0 for any other character.
 *----------------------------------------------------------------------
 */
#define LAYOUT_OF(ctype) \
    (layout->size = sizeof(ctype), layout->align = alignof(ctype), 1)

static int
ScalarLayout(char code, KxTSLayout *layout)
{
    switch (code) {
    case 'c': return LAYOUT_OF(signed char);
    case 'C': return LAYOUT_OF(unsigned char);
    case 'B': return LAYOUT_OF(bool);
    case 's': return LAYOUT_OF(short);
    case 'S': return LAYOUT_OF(unsigned short);
    case 'i': return LAYOUT_OF(int);
    case 'I': return LAYOUT_OF(unsigned int);
    case 'l': return LAYOUT_OF(long);
    case 'L': return LAYOUT_OF(unsigned long);
    case 'q': return LAYOUT_OF(long long);
    case 'Q': return LAYOUT_OF(unsigned long long);
    case 'f': return LAYOUT_OF(float);
    case 'd': return LAYOUT_OF(double);
    case '*': case '%': return LAYOUT_OF(char *);
    case '@': return LAYOUT_OF(id);
    case '#': return LAYOUT_OF(Class);
    case ':': return LAYOUT_OF(SEL);
    default: return 0;
    }
}

/*
 *----------------------------------------------------------------------
 * KxTSIsNumeric --
 *	True for the codes whose values are plain numbers, which NSArchiver
 *	writes in runs when they fill an array.
 *----------------------------------------------------------------------
 */
int
KxTSIsNumeric(char code)
{
    return code != '\0' && strchr("cCBsSiIlLqQfd", code) != NULL;
}

/*
 *----------------------------------------------------------------------
 * KxTSSkipQualifiers, SkipQuoted --
 *	Step over type qualifiers; over a quoted name (p at its opening
 *	quote), answering null when the closing quote is missing.
 *----------------------------------------------------------------------
 */
const char *
KxTSSkipQualifiers(const char *p)
{
    while (*p != '\0' && strchr("rnNoORV", *p) != NULL) {
	p++;
    }
    return p;
}

static const char *
SkipQuoted(const char *p)
{
    const char *close = strchr(p + 1, '"');
    return close != NULL ? close + 1 : NULL;
}

/*
 *----------------------------------------------------------------------
 * ParseArray --
 *	p at '['.  Reads the count, the element type and the ']'; the size
 *	is count times the element's, refused beyond KX_TS_MAX_VALUE_SIZE.
 *----------------------------------------------------------------------
 */
static const char *
ParseArray(Parse *ps, const char *p, KxTSLayout *layout)
{
    p++;
    if (*p < '0' || *p > '9') {
	return Fail(ps, "array without an element count");
    }
    size_t count = 0;
    while (*p >= '0' && *p <= '9') {
	count = count * 10 + (size_t) (*p - '0');
	if (count > INT_MAX) {
	    return Fail(ps, "array element count too large");
	}
	p++;
    }
    char digits[16];
    int n = snprintf(digits, sizeof digits, "[%zu", count);
    if (!Emit(ps, digits, (size_t) n)) {
	return NULL;
    }
    KxTSLayout element;
    p = ParseOne(ps, p, &element);
    if (p == NULL) {
	return NULL;
    }
    if (*p != ']') {
	return Fail(ps, "array without its closing ']'");
    }
    if (element.size != 0 && count > KX_TS_MAX_VALUE_SIZE / element.size) {
	return Fail(ps, "value too large");
    }
    if (!Emit(ps, "]", 1)) {
	return NULL;
    }
    layout->size = count * element.size;
    layout->align = element.align;
    return p + 1;
}

/* Whether c may stand in a structure's name as the runtime's layout
 * functions read it: they take a '{', '(' or '[' for the start of a
 * member. */
static int
IsPlainNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
	|| c == '_' || c == '?';
}

/*
 *----------------------------------------------------------------------
 * ParseStruct --
 *	p at '{'.  Reads the name, the '=', the members (each with an
 *	optional quoted name) and the '}', placing the members as the C
 *	compiler does.  A structure needs at least one member: without
 *	them its size is unknown.
 *----------------------------------------------------------------------
 */
static const char *
ParseStruct(Parse *ps, const char *p, KxTSLayout *layout)
{
    const char *name = ++p;
    while (*p != '\0' && *p != '=' && *p != '}') {
	if ((ps->flags & KX_TS_TYPE_NUMBERS) && !IsPlainNameChar(*p)) {
	    return Fail(ps, "structure name the runtime cannot read");
	}
	p++;
    }
    if (*p == '\0') {
	return Fail(ps, "structure without its closing '}'");
    }
    if (*p == '}') {
	return Fail(ps, "structure without members");
    }
    if (!Emit(ps, "{", 1) || !Emit(ps, name, (size_t) (p - name))
	|| !Emit(ps, "=", 1)) {
	return NULL;
    }
    p++;
    size_t offset = 0, align = 1;
    int members = 0;
    while (*p != '}') {
	if (*p == '"' && (ps->flags & KX_TS_TYPE_NUMBERS)) {
	    return Fail(ps, "member names are not allowed here");
	}
	if (*p == '"') {
	    p = SkipQuoted(p);
	    if (p == NULL) {
		return Fail(ps, "unclosed quote");
	    }
	}
	if (*p == '\0') {
	    return Fail(ps, "structure without its closing '}'");
	}
	if (*p == '}') {
	    return Fail(ps, "element name without a type");
	}
	KxTSLayout member;
	p = ParseOne(ps, p, &member);
	if (p == NULL) {
	    return NULL;
	}
	offset = KxTSAlignUp(offset, member.align);
	if (member.size > KX_TS_MAX_VALUE_SIZE - offset) {
	    return Fail(ps, "value too large");
	}
	offset += member.size;
	if (member.align > align) {
	    align = member.align;
	}
	members++;
    }
    if (members == 0) {
	return Fail(ps, "structure without members");
    }
    if (!Emit(ps, "}", 1)) {
	return NULL;
    }
    layout->size = KxTSAlignUp(offset, align);
    layout->align = align;
    return p + 1;
}

/*
 *----------------------------------------------------------------------
 * RefusedCode --
 *	The reason a type code that is no accepted scalar is refused.
 *----------------------------------------------------------------------
 */
static const char *
RefusedCode(char code)
{
    switch (code) {
    case '\0': return "type encoding cut short";
    case '^': return "pointers cannot be written to a stream";
    case '(': return "unions cannot be written to a stream";
    case 'b': return "bit-fields cannot be written to a stream";
    case 'D': return "long double cannot be written to a stream";
    case 'v': return "void has no value";
    default: return "unknown type code";
    }
}

/*
 *----------------------------------------------------------------------
 * ParseOne --
 *	Reads one type at p (qualifiers first), appends its canonical
 *	form and stores its layout.  Answers the position after the type,
 *	or null with ps->why set.
 *----------------------------------------------------------------------
 */
static const char *
ParseOne(Parse *ps, const char *p, KxTSLayout *layout)
{
    const char *end;

    p = KxTSSkipQualifiers(p);

    if (*p == '[' || *p == '{') {
	if (++ps->depth > KX_TS_MAX_DEPTH) {
	    return Fail(ps, "type encoding nested too deeply");
	}
	end = *p == '[' ? ParseArray(ps, p, layout) : ParseStruct(ps, p, layout);
	ps->depth--;
	return end;
    }
    if (*p == '^' && (ps->flags & KX_TS_TYPE_POINTERS)) {
	if (++ps->depth > KX_TS_MAX_DEPTH) {
	    return Fail(ps, "type encoding nested too deeply");
	}
	KxTSLayout target;
	end = ParseOne(ps, p + 1, &target);
	ps->depth--;
	layout->size = sizeof(void *);
	layout->align = alignof(void *);
	return end;
    }
    if ((ps->flags & KX_TS_TYPE_NUMBERS) && !KxTSIsNumeric(*p)) {
	return Fail(ps, *p == '\0' ? RefusedCode(*p) : "only numbers are allowed here");
    }
    if (!ScalarLayout(*p, layout)) {
	return Fail(ps, RefusedCode(*p));
    }
    if (!Emit(ps, p, 1)) {
	return NULL;
    }
    end = p + 1;
    if (*p == '@' && *end == '"') {
	end = SkipQuoted(end);
	if (end == NULL) {
	    return Fail(ps, "unclosed quote");
	}
    }
    return end;
}

/*
 *----------------------------------------------------------------------
 * KxTSParseType --
 *	Checks that type is exactly one accepted type encoding; writes its
 *	canonical form into canon and its layout into *layout.  Answers
 *	null, or the reason for refusing it.
 *----------------------------------------------------------------------
 */
const char *
KxTSParseType(const char *type, char *canon, KxTSLayout *layout)
{
    Parse ps = { canon, 0, 0, 0, NULL };
    canon[0] = '\0';
    if (*type == '\0') {
	return "empty type encoding";
    }
    const char *end = ParseOne(&ps, type, layout);
    if (end == NULL) {
	return ps.why;
    }
    if (*end != '\0') {
	return "more than one type in the encoding";
    }
    return NULL;
}

/*
 *----------------------------------------------------------------------
 * KxTSScanType --
 *	Layout of the first type of a canonical encoding; answers the
 *	position after that type.
 *----------------------------------------------------------------------
 */
const char *
KxTSScanType(const char *canon, KxTSLayout *layout)
{
    Parse ps = { NULL, 0, 0, 0, NULL };
    return ParseOne(&ps, canon, layout);
}

/*
 *----------------------------------------------------------------------
 * KxTSCheckType --
 *	Checks the first type encoding at type, which need not be
 *	canonical, with the extra allowances or limits of flags.  Answers
 *	the position after it and stores its layout, or answers null with
 *	the reason in *whyPtr.
 *----------------------------------------------------------------------
 */
const char *
KxTSCheckType(const char *type, int flags, KxTSLayout *layout, const char **whyPtr)
{
    Parse ps = { NULL, 0, 0, flags, NULL };
    const char *end = *type == '\0' ? Fail(&ps, "empty type encoding")
	: ParseOne(&ps, type, layout);
    if (end == NULL) {
	*whyPtr = ps.why;
    }
    return end;
}

/*
 *----------------------------------------------------------------------
 * KxTSMemberType --
 *	p at a member of a structure whose encoding passed KxTSCheckType:
 *	answers the position of the member's type, after its quoted name if
 *	it has one, or of the closing '}' after the last member.
 *----------------------------------------------------------------------
 */
const char *
KxTSMemberType(const char *p)
{
    return *p == '"' ? SkipQuoted(p) : p;
}

/*
 *----------------------------------------------------------------------
 * KxTSFirstMember --
 *	p at the '{' of a checked structure encoding: answers the position
 *	of its first member.
 *----------------------------------------------------------------------
 */
const char *
KxTSFirstMember(const char *p)
{
    while (*p != '=') {
	p++;
    }
    return p + 1;
}
