/*
 * FormatArgs.mm --
 *
 *	Which selectors take a format and a list of values, and which value
 *	each directive of a format reads.
 *
 *	A directive is '%', flags ("-+ #0'"), a width (digits or '*'), a
 *	precision ('.' and digits or '*'), a size (hh h l ll q z j t L) and
 *	a conversion.  Each '*' reads an int before the directive's own
 *	value.  Only the directives whose value the reader can tell are
 *	accepted; everything else is refused, so that the values a format
 *	reads are known exactly.
 */
#include "FormatArgs.h"

#include <string.h>

/* Sizes, in the order the size letters are tried. */
typedef enum Size {
    SIZE_NONE, SIZE_CHAR, SIZE_SHORT, SIZE_LONG, SIZE_LONG_LONG, SIZE_SIZE_T,
    SIZE_INTMAX, SIZE_PTRDIFF, SIZE_LONG_DOUBLE
} Size;

static const struct {
    const char *letters;
    Size size;
} sizes[] = {
    { "hh", SIZE_CHAR }, { "h", SIZE_SHORT }, { "ll", SIZE_LONG_LONG }, { "l", SIZE_LONG },
    { "q", SIZE_LONG_LONG }, { "z", SIZE_SIZE_T }, { "j", SIZE_INTMAX }, { "t", SIZE_PTRDIFF },
    { "L", SIZE_LONG_DOUBLE },
};

static int
EndsWith(const char *start, size_t length, const char *suffix)
{
    size_t suffixLength = strlen(suffix);
    return length >= suffixLength && memcmp(start + length - suffixLength, suffix,
	    suffixLength) == 0;
}

int
BqFormat_IsFormatSelector(const char *name)
{
    size_t length = name != NULL ? strlen(name) : 0;
    if (length < 2 || name[length - 1] != ':') {
	return 0;
    }
    const char *end = name + length - 1;
    const char *part = end;
    while (part > name && part[-1] != ':') {
	part--;
    }
    size_t partLength = (size_t) (end - part);
    if (partLength == 6 && memcmp(part, "format", 6) == 0) {
	return 1;
    }
    if (partLength <= 6 || !EndsWith(part, partLength, "Format")) {
	return 0;
    }
    if (strncmp(part, "set", 3) == 0 && part[3] >= 'A' && part[3] <= 'Z') {
	return 0;
    }
    return !EndsWith(part, partLength, "alendarFormat");
}

/* The code of the value a conversion of that size reads, or 0. */
static char
CodeOf(char conversion, Size size, int objects)
{
    static const char signedCodes[] = { 'i', 'i', 'i', 'l', 'q', 'l', 'q', 'l', 0 };
    static const char unsignedCodes[] = { 'I', 'I', 'I', 'L', 'Q', 'L', 'Q', 'L', 0 };
    switch (conversion) {
    case 'd': case 'i':
	return signedCodes[size];
    case 'u': case 'o': case 'x': case 'X':
	return unsignedCodes[size];
    case 'c':
	return size == SIZE_NONE ? 'i' : 0;
    case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
	return size == SIZE_NONE || size == SIZE_LONG ? 'd' : 0;
    case 's':
	return size == SIZE_NONE ? '*' : 0;
    case '@':
	return size == SIZE_NONE && objects ? '@' : 0;
    default:
	return 0;
    }
}

static void
AppendDirective(Tcl_DString *errors, const char *before, const char *start, const char *end,
	const char *after)
{
    if (errors == NULL) {
	return;
    }
    Tcl_DStringAppend(errors, before, -1);
    Tcl_DStringAppend(errors, start, (int) (end - start));
    Tcl_DStringAppend(errors, after, -1);
}

/* Counts one more value read; stores its code while there is room. */
static void
Read(char code, char *codes, int max, int *count)
{
    if (*count < max) {
	codes[*count] = code;
    }
    (*count)++;
}

/* A width or a precision: '*' reads an int, digits read nothing. */
static const char *
SkipCount(const char *p, const char *end, char *codes, int max, int *count)
{
    if (p < end && *p == '*') {
	Read('i', codes, max, count);
	return p + 1;
    }
    while (p < end && *p >= '0' && *p <= '9') {
	p++;
    }
    return p;
}

/* The size letters at *p, which it skips. */
static Size
ReadSize(const char **p, const char *end)
{
    for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; i++) {
	size_t letters = strlen(sizes[i].letters);
	if ((size_t) (end - *p) >= letters && memcmp(*p, sizes[i].letters, letters) == 0) {
	    *p += letters;
	    return sizes[i].size;
	}
    }
    return SIZE_NONE;
}

int
BqFormat_Scan(const char *format, size_t length, int objects, char *codes, int max,
	Tcl_DString *errors)
{
    const char *end = format + length;
    int count = 0;
    for (const char *p = format; p < end; p++) {
	if (*p != '%') {
	    continue;
	}
	const char *start = p++;
	if (p < end && *p == '%') {
	    continue;
	}
	while (p < end && *p != '\0' && strchr("-+ #0'", *p) != NULL) {
	    p++;
	}
	p = SkipCount(p, end, codes, max, &count);
	if (p < end && *p == '$') {
	    AppendDirective(errors, "positional directive \"", start, p + 1,
		    "...\" is not supported");
	    return -1;
	}
	if (p < end && *p == '.') {
	    p = SkipCount(p + 1, end, codes, max, &count);
	}
	Size size = ReadSize(&p, end);
	if (p >= end) {
	    AppendDirective(errors, "incomplete directive \"", start, end, "\" at the end");
	    return -1;
	}
	if (*p == 'n') {
	    AppendDirective(errors, "directive \"", start, p + 1,
		    "\" is refused (it writes to memory)");
	    return -1;
	}
	char code = CodeOf(*p, size, objects);
	if (code == 0) {
	    /* The whole character, when it is one of several UTF-8 bytes. */
	    const char *stop = p + 1;
	    while (stop < end && (*stop & 0xC0) == 0x80) {
		stop++;
	    }
	    AppendDirective(errors, "unknown directive \"", start, stop, "\"");
	    return -1;
	}
	Read(code, codes, max, &count);
    }
    return count;
}
