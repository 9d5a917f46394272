/*
 * KxTypedStreamDecoder.mm --
 *
 *	The reader of a stream's archive: an NSCoder that reads the format
 *	GNUstep's NSArchiver writes, without trusting any of it.  The
 *	archive is a sequence of tagged items (see _GSC_* in NSData.h):
 *
 *	    tag		one byte: the kind in the low five bits; for kinds
 *			from 0x10 up, the size of a cross-reference number
 *			that follows (0, 1, 2 or 4 bytes, big-endian) and
 *			the cross-reference bit 0x80; for integer kinds the
 *			width of the value (2, 4, 8 or 16 bytes)
 *	    numbers	the tag, then the value big-endian
 *	    arrays	0x15, a 32-bit count (0xffffffff: a 64-bit count
 *			follows), then either a tag and count raw numbers or
 *			count tagged items
 *	    structures	0x16, then each member as a tagged item
 *	    classes	0x11 with a new number, the name (16-bit length and
 *			bytes) and the version (32 bits), repeated for
 *			superclasses not written before, ending with a 0x00
 *			tag; or 0x91 with the number of one written before
 *	    objects	0x10 with a new number, the class, then whatever the
 *			class's encodeWithCoder: wrote; or 0x90 with the
 *			number of one written before; nil has no number
 *	    selectors,	0x12, 0x14, 0x13 with a new number and the value, or
 *	    C strings,	with the cross-reference bit and the number of one
 *	    pointers	written before
 *
 *	The caller says what it expects (the type of each value it asks
 *	for), and every tag, length, count, class name and cross-reference
 *	is checked against that, against the bytes left and against the
 *	items read before, before anything is allocated or trusted.  A
 *	failure raises a typed-stream error whose message names the byte
 *	of the file where the damage was found, and leaves the decoder
 *	broken: every later call raises too, even if an object's
 *	initWithCoder: caught the first error.
 *
 *	Objects are made as NSUnarchiver makes them: allocated in the
 *	decoder's zone, registered for later references, then sent
 *	initWithCoder: and awakeAfterUsingCoder:.  A class is looked up only
 *	after its name passed the allowed-class list (when there is one),
 *	and must descend from NSObject and declare NSCoding.  When
 *	initWithCoder: raises, the object's registration is withdrawn (a
 *	later reference to it is an error) and the decoder's reference to
 *	it is released; objects and C strings an array or structure decode
 *	had already stored are released and the slots cleared, so a
 *	container that had not yet taken them over does not leak them.  A
 *	reference to an object still under construction closes a cycle; if
 *	the object's class then replaces it (a class cluster's placeholder
 *	does), the read fails rather than leave the placeholder in the
 *	graph.
 *
 *	Memory: a count or length is refused when the bytes left cannot
 *	hold it, before anything is allocated for it.  Some Foundation
 *	classes read an element count as a plain integer and size their
 *	storage by it before reading any element (collections and strings
 *	read it first, NSValue reads the lengths of its type encoding and of
 *	its serialized value, and then allocates on the stack); while such
 *	an object reads, those integers are held to what the bytes left can
 *	hold, a string's characters must all be there before it allocates
 *	for them, and NSValue's type encoding must be one of numbers of a
 *	bounded size.  These classes also keep what they read in local
 *	variables until they store it, and lose it when a later read
 *	raises: a dictionary's key whose value failed is released by the
 *	reader.  Everything a read asks for (objects, strings and
 *	buffers, and the storage that accepted counts stand for) is charged
 *	against an allocation limit, by default 64 times the archive's
 *	size plus one megabyte.
 */
#include "KxTypedStreamPriv.h"
#include "KxError.h"

#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <objc/runtime.h>

/* NSArchiver's header: this prefix, then "%08x:" four times (system
 * version and the three table sizes). */
#define ARCHIVE_PREFIX		"GNUstep archive"
#define ARCHIVE_PREFIX_SIZE	(sizeof ARCHIVE_PREFIX - 1)
#define ARCHIVE_HEADER_SIZE	(ARCHIVE_PREFIX_SIZE + 4 * 9)

/* The one archiver version whose array counts are variable-length; this
 * reader does not read it. */
#define VARIABLE_COUNT_VERSION	12402

#define MAX_NAME_LENGTH		1024	/* class and selector names */
#define MAX_OBJECT_DEPTH	200	/* objects under construction, nested */
#define VALUE_LIMIT		65536	/* NSValue: lengths and value size */
#define ELEMENT_CHARGE		32	/* bytes charged per accepted element */
#define DEFAULT_LIMIT_FACTOR	64
#define DEFAULT_LIMIT_EXTRA	((size_t) 1 << 20)

/* What the reader checks while an object of a Foundation class reads
 * itself (see the file comment), and what it cleans up when that fails:
 * GNUstep's initWithCoder: methods keep what they have read in local
 * variables until they store it, and lose it when a later read raises. */
enum {
    GUARD_COUNT = 1,		/* its first value is an unsigned element
				 * count */
    GUARD_CHARACTERS = 2,	/* the count is a string's: its encoding and
				 * all its characters must follow */
    GUARD_PAIRS = 4,		/* its objects come as key and value: a key
				 * whose value failed is released */
    GUARD_VALUE = 8		/* NSValue: every length and its type */
};

static const struct { const char *name; int guard; } guardedClasses[] = {
    { "NSArray", GUARD_COUNT },
    { "NSMutableArray", GUARD_COUNT },
    { "NSSet", GUARD_COUNT },
    { "NSMutableSet", GUARD_COUNT },
    { "NSCountedSet", GUARD_COUNT },
    { "NSDictionary", GUARD_COUNT | GUARD_PAIRS },
    { "NSMutableDictionary", GUARD_COUNT | GUARD_PAIRS },
    { "NSString", GUARD_COUNT | GUARD_CHARACTERS },
    { "NSMutableString", GUARD_COUNT | GUARD_CHARACTERS },
    { "NSValue", GUARD_VALUE },
};

typedef struct ClassEntry {
    char *name;			/* as stored, NUL-terminated */
    unsigned version;
    Class cls;			/* once looked up for an object or value */
} ClassEntry;

enum { OBJECT_BUILDING, OBJECT_DONE, OBJECT_FAILED };

typedef struct ObjectEntry {
    id object;			/* not retained here (see kept) */
    int state;
    int referred;		/* references handed out while it was building
				 * and not given back (see GiveBack) */
} ObjectEntry;

typedef struct PointerEntry {
    int kind;			/* _GSC_SEL, _GSC_CHARPTR or _GSC_PTR */
    void *value;		/* string: malloc'd master copy */
    char *type;			/* memory: the pointed-to type, malloc'd */
} PointerEntry;

/* An object whose initWithCoder: is running; the innermost is current. */
typedef struct Frame {
    struct Frame *outer;
    id object;			/* as allocated */
    unsigned number;		/* its entry */
    int guard;
    int values;			/* values it asked for so far */
    int objects;		/* objects it received */
    id lastObject;		/* the last of them */
} Frame;

/* A growable table of entries, numbered from 1 as the archive numbers
 * its cross-references. */
typedef struct Table {
    void *entries;
    NSUInteger count;
    NSUInteger capacity;
} Table;

struct KxTSDecodeState {
    NSData *archive;		/* retained */
    const unsigned char *bytes;
    NSUInteger length;
    NSUInteger cursor;
    NSUInteger base;		/* offset of the archive in its file */
    unsigned version;
    NSZone *zone;
    Table classes;		/* ClassEntry */
    Table objects;		/* ObjectEntry */
    Table pointers;		/* PointerEntry */
    NSMutableArray *kept;	/* every object made and buffer handed out */
    char **allowed;		/* sorted class names, when restricted */
    int allowedCount;
    int restricted;
    size_t limit;		/* 0: the default */
    size_t charged;		/* by the read in progress */
    int depth;			/* objects under construction */
    Frame *frame;
    int nilRefused;		/* the request in progress is a guarded
				 * object's: its objects are never nil */
    int broken;
    char firstError[300];	/* the message that broke the decoder */
};

typedef struct KxTSDecodeState State;

/*
 *----------------------------------------------------------------------
 * Raise --
 *	Marks the decoder broken and raises code with the formatted text
 *	and the file offset of byte at.  Does not return.
 *----------------------------------------------------------------------
 */
static void __attribute__((noreturn, format(printf, 4, 5)))
Raise(State *ds, int code, NSUInteger at, const char *format, ...)
{
    char text[400];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (!ds->broken) {
	snprintf(ds->firstError, sizeof ds->firstError, "%s at byte %lu", text,
		 (unsigned long) (ds->base + at));
    }
    ds->broken = 1;
    KxTSRaise(code, "%s at byte %lu", text, (unsigned long) (ds->base + at));
}

#define DAMAGED(ds, at, ...) Raise(ds, TYPEDSTREAM_FILE_INCONSISTENCY, at, __VA_ARGS__)

/*
 *----------------------------------------------------------------------
 * Charge --
 *	Counts bytes against the read's allocation limit; raises
 *	TYPEDSTREAM_INTERNAL_ERROR beyond it.
 *----------------------------------------------------------------------
 */
static size_t
Limit(State *ds)
{
    if (ds->limit != 0) {
	return ds->limit;
    }
    size_t length = ds->length;
    if (length > (SIZE_MAX - DEFAULT_LIMIT_EXTRA) / DEFAULT_LIMIT_FACTOR) {
	return SIZE_MAX;
    }
    return length * DEFAULT_LIMIT_FACTOR + DEFAULT_LIMIT_EXTRA;
}

static void
Charge(State *ds, size_t bytes)
{
    size_t limit = Limit(ds);
    if (bytes > limit || ds->charged > limit - bytes) {
	Raise(ds, TYPEDSTREAM_INTERNAL_ERROR, ds->cursor,
	      "out of memory: the read would allocate more than its limit of %zu bytes",
	      limit);
    }
    ds->charged += bytes;
}

/* count elements of size bytes each, charged; no overflow. */
static void
ChargeElements(State *ds, NSUInteger count, size_t size)
{
    if (size != 0 && count > SIZE_MAX / size) {
	Charge(ds, SIZE_MAX);
    }
    Charge(ds, count * size);
}

/* size bytes from malloc, charged; raises when there are none. */
static void *
Allocate(State *ds, NSUInteger at, size_t size)
{
    Charge(ds, size);
    void *block = malloc(size);
    if (block == NULL) {
	Raise(ds, TYPEDSTREAM_INTERNAL_ERROR, at, "out of memory");
    }
    return block;
}

/*
 *----------------------------------------------------------------------
 * AddEntry --
 *	Appends a zeroed entry to a table (charged) and answers it.
 *----------------------------------------------------------------------
 */
static void *
AddEntry(State *ds, Table *table, size_t entrySize)
{
    if (table->count == table->capacity) {
	NSUInteger capacity = table->capacity > 0 ? 2 * table->capacity : 16;
	void *entries = realloc(table->entries, capacity * entrySize);
	if (entries == NULL) {
	    Raise(ds, TYPEDSTREAM_INTERNAL_ERROR, ds->cursor, "out of memory");
	}
	table->entries = entries;
	table->capacity = capacity;
    }
    Charge(ds, entrySize);
    void *entry = (char *) table->entries + table->count * entrySize;
    memset(entry, 0, entrySize);
    table->count++;
    return entry;
}

#define ENTRY(table, type, number) (((type *) (table).entries)[(number) - 1])

/*
 *----------------------------------------------------------------------
 * Bytes --
 *	Takes n bytes at the cursor; raises when fewer are left.  what
 *	names them for the message.
 *----------------------------------------------------------------------
 */
static NSUInteger
Left(State *ds)
{
    return ds->length - ds->cursor;
}

static const unsigned char *
Bytes(State *ds, NSUInteger n, const char *what)
{
    if (n > Left(ds)) {
	DAMAGED(ds, ds->cursor, "%s runs past the end of the stream", what);
    }
    const unsigned char *p = ds->bytes + ds->cursor;
    ds->cursor += n;
    return p;
}

static uint64_t
Big(const unsigned char *p, int n)
{
    uint64_t value = 0;
    for (int i = 0; i < n; i++) {
	value = (value << 8) | p[i];
    }
    return value;
}

static uint64_t
ReadBig(State *ds, int n, const char *what)
{
    return Big(Bytes(ds, (NSUInteger) n, what), n);
}

/*
 *----------------------------------------------------------------------
 * Tags --
 *	ReadTag reads a tag and, for the kinds that have one, its
 *	cross-reference number.  KindName names a kind for messages.
 *----------------------------------------------------------------------
 */
static unsigned char
ReadTag(State *ds, unsigned *xrefPtr)
{
    unsigned char tag = *Bytes(ds, 1, "a type tag");
    unsigned xref = 0;
    if (tag & _GSC_MAYX) {
	switch (tag & _GSC_SIZE) {
	case _GSC_X_1:
	    xref = (unsigned) ReadBig(ds, 1, "a reference number");
	    break;
	case _GSC_X_2:
	    xref = (unsigned) ReadBig(ds, 2, "a reference number");
	    break;
	case _GSC_X_4:
	    xref = (unsigned) ReadBig(ds, 4, "a reference number");
	    break;
	default:
	    break;
	}
    }
    if (xrefPtr != NULL) {
	*xrefPtr = xref;
    }
    return tag;
}

static const char *
KindName(unsigned char tag)
{
    switch (tag & _GSC_MASK) {
    case _GSC_NONE: return "an end of list";
    case _GSC_CHR: return "a char";
    case _GSC_UCHR: return "an unsigned char";
    case _GSC_SHT: return "a short";
    case _GSC_USHT: return "an unsigned short";
    case _GSC_INT: return "an int";
    case _GSC_UINT: return "an unsigned int";
    case _GSC_LNG: return "a long";
    case _GSC_ULNG: return "an unsigned long";
    case _GSC_LNG_LNG: return "a long long";
    case _GSC_ULNG_LNG: return "an unsigned long long";
    case _GSC_FLT: return "a float";
    case _GSC_DBL: return "a double";
    case _GSC_BOOL: return "a bool";
    case _GSC_ID: return "an object";
    case _GSC_CLASS: return "a class";
    case _GSC_SEL: return "a selector";
    case _GSC_PTR: return "a pointer";
    case _GSC_CHARPTR: return "a C string";
    case _GSC_ARY_B: return "an array";
    case _GSC_STRUCT_B: return "a structure";
    case _GSC_CID: return "a class given as an object";
    default: return "an unknown item";
    }
}

static void __attribute__((noreturn))
Unexpected(State *ds, NSUInteger at, unsigned char tag, const char *expected)
{
    DAMAGED(ds, at, "%s (tag 0x%02x) where %s was expected", KindName(tag), tag, expected);
}

/*
 *----------------------------------------------------------------------
 * Numbers --
 *	The tag kind of a number type code, its size here, and storing a
 *	value read big-endian into C storage of that type.
 *----------------------------------------------------------------------
 */
static int
NumberKind(char code)
{
    switch (code) {
    case 'c': return _GSC_CHR;
    case 'C': return _GSC_UCHR;
    case 's': return _GSC_SHT;
    case 'S': return _GSC_USHT;
    case 'i': return _GSC_INT;
    case 'I': return _GSC_UINT;
    case 'l': return _GSC_LNG;
    case 'L': return _GSC_ULNG;
    case 'q': return _GSC_LNG_LNG;
    case 'Q': return _GSC_ULNG_LNG;
    case 'f': return _GSC_FLT;
    case 'd': return _GSC_DBL;
    case 'B': return _GSC_BOOL;
    default: return -1;
    }
}

static size_t
NumberSize(char code)
{
    KxTSLayout layout;
    KxTSScanType((char[]) { code, '\0' }, &layout);
    return layout.size;
}

static const char *
NumberName(char code)
{
    unsigned char kind = (unsigned char) NumberKind(code);
    return KindName(kind);
}

/* Whether kinds with an explicit width (short to unsigned long long). */
static int
HasWidth(int kind)
{
    return kind >= _GSC_SHT && kind <= _GSC_ULNG_LNG;
}

static int
TagWidth(unsigned char tag)
{
    switch (tag & _GSC_SIZE) {
    case _GSC_I16: return 2;
    case _GSC_I32: return 4;
    case _GSC_I64: return 8;
    default: return 16;
    }
}

/* Whether tag holds a number that storage of type code may receive:
 * the same kind (a char and an unsigned char stand for each other, as
 * NSUnarchiver allows), with no width bits on kinds that have none. */
static int
TagFits(unsigned char tag, char code)
{
    int kind = tag & _GSC_MASK, want = NumberKind(code);
    if (HasWidth(want)) {
	return kind == want && !(tag & _GSC_XREF);
    }
    if (tag & ~_GSC_MASK) {
	return 0;
    }
    if (want == _GSC_CHR || want == _GSC_UCHR) {
	return kind == _GSC_CHR || kind == _GSC_UCHR;
    }
    return kind == want;
}

static void
StoreNumber(char code, const unsigned char *p, int width, void *address)
{
    uint64_t value = width == 16 ? Big(p + 8, 8) : Big(p, width);
    switch (code) {
    case 'c': case 'C': *(unsigned char *) address = (unsigned char) value; break;
    case 'B': *(bool *) address = value != 0; break;
    case 's': case 'S': *(unsigned short *) address = (unsigned short) value; break;
    case 'i': case 'I': *(unsigned int *) address = (unsigned int) value; break;
    case 'l': case 'L': *(unsigned long *) address = (unsigned long) value; break;
    case 'q': case 'Q': *(unsigned long long *) address = value; break;
    case 'f': {
	uint32_t bits = (uint32_t) value;
	memcpy(address, &bits, sizeof(float));
	break;
    }
    case 'd':
	memcpy(address, &value, sizeof(double));
	break;
    default:
	break;
    }
}

/* The width on the wire of a number of type code under tag. */
static int
WireWidth(unsigned char tag, char code)
{
    return HasWidth(tag & _GSC_MASK) ? TagWidth(tag) : (int) NumberSize(code);
}

/*
 *----------------------------------------------------------------------
 * GuardNumber --
 *	Applies the guard of the object whose initWithCoder: is reading to
 *	an unsigned number it asked for directly.
 *----------------------------------------------------------------------
 */
static void
GuardCharacters(State *ds, NSUInteger at, uint64_t count)
{
    /* An int (0x25) holding the encoding, then an array (0x15) of count
     * characters: unichars for NSUnicodeStringEncoding, else bytes. */
    const unsigned char *p = ds->bytes + ds->cursor;
    NSUInteger left = Left(ds);
    if (count == 0) {
	return;
    }
    if (left < 11 || p[0] != (_GSC_INT | _GSC_I32) || p[5] != _GSC_ARY_B
	    || Big(p + 6, 4) != count) {
	DAMAGED(ds, at, "a string whose characters do not follow its count");
    }
    int unicode = Big(p + 1, 4) == NSUnicodeStringEncoding;
    int fits = unicode ? p[10] == (_GSC_USHT | _GSC_I16)
	: p[10] == _GSC_UCHR || p[10] == _GSC_CHR;
    if (!fits || count > (left - 11) / (unicode ? 2 : 1)) {
	DAMAGED(ds, at, "a string whose characters are not all there");
    }
}

static void
GuardNumber(State *ds, NSUInteger at, char code, const void *address, int direct)
{
    Frame *frame = ds->frame;
    if (!direct || frame == NULL || !strchr("SILQ", code)) {
	return;
    }
    int counting = (frame->guard & GUARD_COUNT) && frame->values == 1;
    if (!counting && !(frame->guard & GUARD_VALUE)) {
	return;
    }
    uint64_t value = code == 'S' ? *(const unsigned short *) address
	: code == 'I' ? *(const unsigned int *) address
	: *(const unsigned long long *) address;
    uint64_t most = Left(ds);
    if ((frame->guard & GUARD_VALUE) && most > VALUE_LIMIT) {
	most = VALUE_LIMIT;
    }
    if (value > most) {
	DAMAGED(ds, at, "a count of %llu that the %lu bytes left cannot hold",
		(unsigned long long) value, (unsigned long) Left(ds));
    }
    if (counting) {
	ChargeElements(ds, (NSUInteger) value, ELEMENT_CHARGE);
    }
    if (counting && (frame->guard & GUARD_CHARACTERS)) {
	GuardCharacters(ds, at, value);
    }
}

static void
ReadNumber(State *ds, char code, void *address, int direct)
{
    NSUInteger at = ds->cursor;
    unsigned char tag = ReadTag(ds, NULL);
    if (!TagFits(tag, code)) {
	Unexpected(ds, at, tag, NumberName(code));
    }
    int width = WireWidth(tag, code);
    StoreNumber(code, Bytes(ds, (NSUInteger) width, "a number"), width, address);
    GuardNumber(ds, at, code, address, direct);
}

/*
 *----------------------------------------------------------------------
 * Forward declarations of the recursive readers.
 *----------------------------------------------------------------------
 */
static void DecodeValue(State *ds, KxTSDecoder *coder, const char *type, void *address);
static void DecodeArray(State *ds, KxTSDecoder *coder, const char *type,
			NSUInteger count, void *address, int direct);

/*
 *----------------------------------------------------------------------
 * CheckCallerType --
 *	Checks a type encoding that a caller hands the decoder; answers
 *	the position after its first type and its layout.  A bad encoding
 *	is the caller's fault (TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR), unless
 *	NSValue read it from the file.
 *----------------------------------------------------------------------
 */
static const char *
CheckCallerType(State *ds, const char *type, KxTSLayout *layout)
{
    const char *why = "null type encoding";
    const char *end = type != NULL ? KxTSCheckType(type, KX_TS_TYPE_POINTERS, layout, &why)
	: NULL;
    if (end == NULL) {
	Raise(ds, TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR, ds->cursor,
	      "cannot read a value of type \"%.100s\": %s", type != NULL ? type : "", why);
    }
    return end;
}

/*
 *----------------------------------------------------------------------
 * GiveBack --
 *	Releases a reference to an object that the decoder handed out and
 *	whose receiver never got to own it (it was stored in a value that
 *	failed to read).  A reference to an object under construction no
 *	longer counts as referred (see DropAllocation), unless two objects
 *	under construction share the address (a class's shared
 *	placeholder): which one it stood for cannot be told then.
 *----------------------------------------------------------------------
 */
static void
GiveBack(State *ds, id object)
{
    Frame *owner = NULL;
    int owners = 0;
    for (Frame *f = ds->frame; f != NULL && object != nil; f = f->outer) {
	if (f->object == object) {
	    owner = f;
	    owners++;
	}
    }
    if (owners == 1) {
	ENTRY(ds->objects, ObjectEntry, owner->number).referred--;
    }
    [object release];
}

/*
 *----------------------------------------------------------------------
 * DropObjects, DropMembers --
 *	Give back and clear every object, and free every C string, of a
 *	value of checked type (not behind pointers): the part of a value
 *	read before a failure, which the caller never gets to own.
 *	DropMembers does it for the members of a structure before stop
 *	(null: all of them).
 *----------------------------------------------------------------------
 */
static void DropMembers(State *ds, const char *type, unsigned char *address,
			const char *stop);

static void
DropObjects(State *ds, const char *type, unsigned char *address)
{
    KxTSLayout layout;
    const char *t = KxTSSkipQualifiers(type);
    if (*t == '@') {
	GiveBack(ds, *(id *) address);
	*(id *) address = nil;
    } else if (*t == '*') {
	free(*(char **) address);
	*(char **) address = NULL;
    } else if (*t == '[') {
	char *element;
	const char *why;
	unsigned long count = strtoul(t + 1, &element, 10);
	KxTSCheckType(element, KX_TS_TYPE_POINTERS, &layout, &why);
	for (unsigned long i = 0; i < count; i++) {
	    DropObjects(ds, element, address + i * layout.size);
	}
    } else if (*t == '{') {
	DropMembers(ds, t, address, NULL);
    }
}

static void
DropMembers(State *ds, const char *type, unsigned char *address, const char *stop)
{
    size_t offset = 0;
    for (const char *m = KxTSMemberType(KxTSFirstMember(type)); *m != '}' && m != stop;) {
	KxTSLayout layout;
	const char *why;
	const char *end = KxTSCheckType(m, KX_TS_TYPE_POINTERS, &layout, &why);
	offset = KxTSAlignUp(offset, layout.align);
	DropObjects(ds, m, address + offset);
	offset += layout.size;
	m = KxTSMemberType(end);
    }
}

/*
 *----------------------------------------------------------------------
 * Class lists --
 *	ReadName reads a name and checks it; DecodeClassEntry reads
 *	a class item (a new list or a reference) and answers its entry
 *	number, 0 for Nil.
 *----------------------------------------------------------------------
 */
static char *
ReadName(State *ds, NSUInteger length, const char *what)
{
    NSUInteger at = ds->cursor;
    if (length == 0 || length > MAX_NAME_LENGTH) {
	DAMAGED(ds, at, "%s of %lu bytes", what, (unsigned long) length);
    }
    const unsigned char *p = Bytes(ds, length, what);
    if (memchr(p, '\0', length) != NULL) {
	DAMAGED(ds, at, "%s with a NUL byte", what);
    }
    char *name = (char *) Allocate(ds, at, length + 1);
    memcpy(name, p, length);
    name[length] = '\0';
    return name;
}

static NSUInteger
DecodeClassEntry(State *ds)
{
    NSUInteger at = ds->cursor;
    unsigned xref;
    unsigned char tag = ReadTag(ds, &xref);
    if ((tag & _GSC_MASK) != _GSC_CLASS) {
	Unexpected(ds, at, tag, "a class");
    }
    if ((tag & _GSC_SIZE) == 0) {
	return 0;
    }
    if (tag & _GSC_XREF) {
	if (xref == 0 || xref > ds->classes.count) {
	    DAMAGED(ds, at, "a reference to class %u when %lu were read", xref,
		    (unsigned long) ds->classes.count);
	}
	return xref;
    }
    NSUInteger first = 0;
    for (;;) {
	if (xref != ds->classes.count + 1) {
	    DAMAGED(ds, at, "class number %u where %lu was next", xref,
		    (unsigned long) ds->classes.count + 1);
	}
	NSUInteger length = (NSUInteger) ReadBig(ds, 2, "a class name length");
	if (Left(ds) < 4 || length > Left(ds) - 4) {
	    DAMAGED(ds, at, "a class runs past the end of the stream");
	}
	/* The entry first, so the name it receives is never lost; an
	 * entry without a name is left only by a failed read. */
	ClassEntry *entry = (ClassEntry *) AddEntry(ds, &ds->classes, sizeof(ClassEntry));
	entry->name = ReadName(ds, length, "a class name");
	entry->version = (unsigned) ReadBig(ds, 4, "a class version");
	if (first == 0) {
	    first = ds->classes.count;
	}
	at = ds->cursor;
	tag = ReadTag(ds, &xref);
	if (tag == _GSC_NONE) {
	    return first;
	}
	if ((tag & ~_GSC_SIZE) != _GSC_CLASS || (tag & _GSC_SIZE) == 0) {
	    Unexpected(ds, at, tag, "a superclass or the end of the class list");
	}
    }
}

/*
 *----------------------------------------------------------------------
 * IsAllowed --
 *	Whether the stream's allowed-class list (if any) names a class.
 *----------------------------------------------------------------------
 */
static int
CompareNames(const void *a, const void *b)
{
    return strcmp(*(char *const *) a, *(char *const *) b);
}

static int
IsAllowed(State *ds, const char *name)
{
    if (!ds->restricted) {
	return 1;
    }
    /* An empty list allows nothing (and has no array to search). */
    return ds->allowedCount > 0
	&& bsearch(&name, ds->allowed, (size_t) ds->allowedCount, sizeof(char *),
		   CompareNames) != NULL;
}

/*
 *----------------------------------------------------------------------
 * KxTSClassIsArchivable --
 *	Whether objects of a class can go through a stream: the class
 *	descends from NSObject and it or a superclass declares NSCoding.
 *	Looks only at the runtime's records: nothing is sent to the class.
 *----------------------------------------------------------------------
 */
int
KxTSClassIsArchivable(Class cls)
{
    Class rootClass = objc_lookUpClass("NSObject");
    int coding = 0;
    Class c = cls;
    for (; c != Nil; c = class_getSuperclass(c)) {
	unsigned count = 0;
	Protocol **protocols = class_copyProtocolList(c, &count);
	for (unsigned i = 0; i < count && !coding; i++) {
	    coding = strcmp(protocol_getName(protocols[i]), "NSCoding") == 0;
	}
	free(protocols);
	if (class_getSuperclass(c) == Nil) {
	    break;
	}
    }
    return coding && c == rootClass;
}

/*
 *----------------------------------------------------------------------
 * ResolveClass --
 *	The class of entry number, checked for use: allowed by the
 *	stream's list (checked by name, before the class is looked up),
 *	present in this process and, for objects, archivable.
 *----------------------------------------------------------------------
 */
static Class
ResolveClass(State *ds, NSUInteger number, NSUInteger at, int forObject)
{
    ClassEntry *entry = &ENTRY(ds->classes, ClassEntry, number);
    if (!IsAllowed(ds, entry->name)) {
	Raise(ds, TYPEDSTREAM_CLASS_ERROR, at,
	      "class %.200s is not among the stream's allowed classes", entry->name);
    }
    if (entry->cls == Nil) {
	entry->cls = objc_lookUpClass(entry->name);
	if (entry->cls == Nil) {
	    Raise(ds, TYPEDSTREAM_CLASS_ERROR, at, "no class named %.200s", entry->name);
	}
    }
    if (forObject && !KxTSClassIsArchivable(entry->cls)) {
	Raise(ds, TYPEDSTREAM_CLASS_ERROR, at, "objects of class %.200s cannot be read",
	      entry->name);
    }
    return entry->cls;
}

/* The guard for objects of the class an archive names. */
static int
GuardOf(const char *name)
{
    for (size_t i = 0; i < sizeof guardedClasses / sizeof guardedClasses[0]; i++) {
	if (strcmp(guardedClasses[i].name, name) == 0) {
	    return guardedClasses[i].guard;
	}
    }
    return 0;
}

/*
 *----------------------------------------------------------------------
 * DropAllocation --
 *	After an object's initWithCoder: raised: releases the decoder's
 *	own reference (held was the retain count with it) and, unless
 *	initWithCoder: gave up the allocation's reference before raising
 *	(as GNUstep's classes do on errors of their own), that one too.
 *	When references to the object handed out meanwhile are still held
 *	(referred), whether it did cannot be told, and the allocation's
 *	reference is left to their holders.
 *----------------------------------------------------------------------
 */
static void
DropAllocation(id object, NSUInteger held, int referred)
{
    int releasedItself = [object retainCount] < held;
    [object release];
    if (!releasedItself && referred == 0) {
	[object release];
    }
}

/*
 *----------------------------------------------------------------------
 * MakeObject --
 *	Makes the object numbered xref, whose class item follows: checks
 *	the class, allocates, registers and initialises the object.
 *	Answers it retained for the caller.
 *----------------------------------------------------------------------
 */
static id
MakeObject(State *ds, KxTSDecoder *coder, NSUInteger at, unsigned xref)
{
    if (xref != ds->objects.count + 1) {
	DAMAGED(ds, at, "object number %u where %lu was next", xref,
		(unsigned long) ds->objects.count + 1);
    }
    NSUInteger classAt = ds->cursor;
    NSUInteger number = DecodeClassEntry(ds);
    if (number == 0) {
	DAMAGED(ds, classAt, "an object without a class");
    }
    Class cls = ResolveClass(ds, number, classAt, 1);
    if (ds->depth >= MAX_OBJECT_DEPTH) {
	DAMAGED(ds, at, "objects nested more than %d deep", MAX_OBJECT_DEPTH);
    }
    int guard = GuardOf(ENTRY(ds->classes, ClassEntry, number).name);
    if ((guard & GUARD_VALUE) && [coder versionOfClassNamed: "NSValue"] < 2) {
	/* Older forms copy a value of the type's size out of a buffer of
	 * the length the file gives. */
	DAMAGED(ds, classAt, "an NSValue in a form older than version 2");
    }
    Charge(ds, class_getInstanceSize(cls) + 16);

    /* The entry first (it may exceed the limit); it names no object
     * until there is one. */
    ObjectEntry *entry = (ObjectEntry *) AddEntry(ds, &ds->objects, sizeof(ObjectEntry));
    entry->state = OBJECT_FAILED;
    id object = [cls allocWithZone: ds->zone];
    if (object == nil) {
	Raise(ds, TYPEDSTREAM_CLASS_ERROR, at, "class %.200s made no object",
	      class_getName(cls));
    }
    [object retain];		/* the decoder's, so initWithCoder: cannot free
				 * the object under it */
    NSUInteger held = [object retainCount];
    entry = &ENTRY(ds->objects, ObjectEntry, xref);
    entry->object = object;
    entry->state = OBJECT_BUILDING;

    Frame frame = { ds->frame, object, xref, guard, 0, 0, nil };
    int nilRefused = ds->nilRefused;
    ds->frame = &frame;
    ds->depth++;
    id made = nil;
    @try {
	made = [object initWithCoder: coder];
	if (made != nil) {
	    made = [made awakeAfterUsingCoder: coder];
	}
    } @catch (id thrown) {
	if ((guard & GUARD_PAIRS) && frame.objects % 2 == 1) {
	    GiveBack(ds, frame.lastObject);	/* a key whose value failed */
	}
	ds->frame = frame.outer;
	ds->depth--;
	if (!ds->broken) {
	    snprintf(ds->firstError, sizeof ds->firstError,
		     "an object of class %.200s failed to read itself at byte %lu",
		     class_getName(cls), (unsigned long) (ds->base + at));
	}
	ds->broken = 1;
	entry = &ENTRY(ds->objects, ObjectEntry, xref);
	entry->state = OBJECT_FAILED;
	entry->object = nil;
	DropAllocation(object, held, entry->referred);
	@throw;
    }
    ds->frame = frame.outer;
    ds->depth--;
    ds->nilRefused = nilRefused;
    entry = &ENTRY(ds->objects, ObjectEntry, xref);
    if (made == nil || ds->broken
	    || (made != object && entry->referred > 0)) {
	entry->state = OBJECT_FAILED;
	entry->object = nil;
	[made release];
	[object release];
	if (ds->broken) {
	    DAMAGED(ds, at, "an object of class %.200s read on after an error",
		    class_getName(cls));
	}
	if (made != nil) {
	    /* Objects read inside it hold the allocated object (a class
	     * cluster's placeholder, say), which its class replaced: they
	     * would hold an object nobody can use. */
	    DAMAGED(ds, at, "an object of class %.200s referred to while it was read, "
		    "then replaced", class_getName(cls));
	}
	Raise(ds, TYPEDSTREAM_CLASS_ERROR, at,
	      "an object of class %.200s refused its archived contents", class_getName(cls));
    }
    [object release];
    entry->object = made;
    entry->state = OBJECT_DONE;
    [ds->kept addObject: made];
    return made;
}

/*
 *----------------------------------------------------------------------
 * DecodeObject --
 *	Reads an object item: nil, a reference to an object read before
 *	(or under construction, which closes a cycle), or a new object.
 *	Answers it retained for the caller, as NSUnarchiver does.
 *----------------------------------------------------------------------
 */
static id
DecodeObject(State *ds, KxTSDecoder *coder)
{
    NSUInteger at = ds->cursor;
    unsigned xref;
    unsigned char tag = ReadTag(ds, &xref);
    if ((tag & _GSC_MASK) != _GSC_ID) {
	Unexpected(ds, at, tag, "an object");
    }
    if ((tag & _GSC_SIZE) == 0) {
	if (ds->nilRefused) {
	    /* GNUstep's collections take what they read as it comes, and
	     * their writers never write nil. */
	    DAMAGED(ds, at, "nil inside a collection");
	}
	return nil;
    }
    if (!(tag & _GSC_XREF)) {
	return MakeObject(ds, coder, at, xref);
    }
    if (xref == 0 || xref > ds->objects.count) {
	DAMAGED(ds, at, "a reference to object %u when %lu were read", xref,
		(unsigned long) ds->objects.count);
    }
    ObjectEntry *entry = &ENTRY(ds->objects, ObjectEntry, xref);
    if (entry->state == OBJECT_FAILED) {
	DAMAGED(ds, at, "a reference to object %u, which could not be read", xref);
    }
    if (entry->state == OBJECT_BUILDING) {
	entry->referred++;	/* a cycle: see MakeObject */
    }
    return [entry->object retain];
}

/*
 *----------------------------------------------------------------------
 * PointerItem --
 *	Selectors, C strings and pointers share one table of numbers.
 *	Reads the tag of such an item where the caller expects one of kind
 *	(_GSC_SEL, _GSC_CHARPTR or _GSC_PTR; what names it).  Answers null
 *	for a null item; else the item's entry: the entry of an item of
 *	that kind read before, for a reference, or a new one whose value
 *	follows in the archive (*isNewPtr set).
 *----------------------------------------------------------------------
 */
static PointerEntry *
PointerItem(State *ds, int kind, const char *what, int *isNewPtr)
{
    NSUInteger at = ds->cursor;
    unsigned xref;
    unsigned char tag = ReadTag(ds, &xref);
    *isNewPtr = 0;
    if ((tag & _GSC_MASK) != kind) {
	Unexpected(ds, at, tag, what);
    }
    if ((tag & _GSC_SIZE) == 0) {
	return NULL;
    }
    if (tag & _GSC_XREF) {
	if (xref == 0 || xref > ds->pointers.count) {
	    DAMAGED(ds, at, "a reference to item %u when %lu were read", xref,
		    (unsigned long) ds->pointers.count);
	}
	PointerEntry *entry = &ENTRY(ds->pointers, PointerEntry, xref);
	if (entry->kind != kind) {
	    DAMAGED(ds, at, "a reference to item %u, which is not %s", xref, what);
	}
	return entry;
    }
    if (xref != ds->pointers.count + 1) {
	DAMAGED(ds, at, "item number %u where %lu was next", xref,
		(unsigned long) ds->pointers.count + 1);
    }
    PointerEntry *entry = (PointerEntry *) AddEntry(ds, &ds->pointers, sizeof(PointerEntry));
    entry->kind = kind;
    *isNewPtr = 1;
    return entry;
}

static SEL
DecodeSelector(State *ds)
{
    NSUInteger at = ds->cursor;
    int isNew;
    PointerEntry *entry = PointerItem(ds, _GSC_SEL, "a selector", &isNew);
    if (!isNew) {
	return entry != NULL ? (SEL) entry->value : NULL;
    }
    NSUInteger nameLength = (NSUInteger) ReadBig(ds, 2, "a selector name length");
    NSUInteger typesLength = (NSUInteger) ReadBig(ds, 2, "a selector types length");
    if (nameLength + typesLength > Left(ds)) {
	DAMAGED(ds, at, "a selector runs past the end of the stream");
    }
    if (nameLength == 0) {
	Bytes(ds, typesLength, "selector types");
	return NULL;
    }
    char *name = ReadName(ds, nameLength, "a selector name");
    /* The types are skipped: the runtime's selector table is no place
     * for encodings from a file. */
    Bytes(ds, typesLength, "selector types");
    entry->value = (void *) sel_registerName(name);
    free(name);
    return (SEL) entry->value;
}

/* A new malloc'd copy of a string entry's text (the caller frees it, as
 * with NSUnarchiver). */
static char *
CopyString(State *ds, NSUInteger at, const char *text)
{
    if (text == NULL) {
	return NULL;
    }
    size_t length = strlen(text);
    char *copy = (char *) Allocate(ds, at, length + 1);
    memcpy(copy, text, length + 1);
    return copy;
}

static char *
DecodeCString(State *ds)
{
    NSUInteger at = ds->cursor;
    int isNew;
    PointerEntry *entry = PointerItem(ds, _GSC_CHARPTR, "a C string", &isNew);
    if (!isNew) {
	return entry != NULL ? CopyString(ds, at, (const char *) entry->value) : NULL;
    }
    NSUInteger lengthAt = ds->cursor;
    int32_t length = (int32_t) (uint32_t) ReadBig(ds, 4, "a C string length");
    if (length == -1) {
	return NULL;
    }
    if (length < 0 || (NSUInteger) length > Left(ds)) {
	DAMAGED(ds, lengthAt, "a C string of %d bytes when %lu are left", length,
		(unsigned long) Left(ds));
    }
    const unsigned char *p = Bytes(ds, (NSUInteger) length, "a C string");
    if (memchr(p, '\0', (size_t) length) != NULL) {
	DAMAGED(ds, lengthAt, "a C string with a NUL byte");
    }
    char *text = (char *) Allocate(ds, at, (size_t) length + 1);
    memcpy(text, p, (size_t) length);
    text[length] = '\0';
    entry->value = text;
    return CopyString(ds, at, text);
}

/* A pointer: new memory of the pointed-to type, kept by the decoder,
 * filled by reading the target; or the memory of an earlier item of the
 * same type. */
static void *
DecodePointer(State *ds, KxTSDecoder *coder, const char *type)
{
    const char *target = KxTSSkipQualifiers(type) + 1;
    KxTSLayout layout;
    const char *end = CheckCallerType(ds, target, &layout);
    size_t typeLength = (size_t) (end - target);
    NSUInteger at = ds->cursor;
    int isNew;
    PointerEntry *entry = PointerItem(ds, _GSC_PTR, "a pointer", &isNew);
    if (!isNew) {
	if (entry != NULL && (strlen(entry->type) != typeLength
			      || strncmp(entry->type, target, typeLength) != 0)) {
	    DAMAGED(ds, at, "a reference to a pointer to another type");
	}
	return entry != NULL ? entry->value : NULL;
    }
    Charge(ds, layout.size + typeLength + 1);
    entry->type = strndup(target, typeLength);
    NSMutableData *memory = [NSMutableData dataWithLength: layout.size > 0 ? layout.size : 1];
    if (entry->type == NULL || memory == nil) {
	Raise(ds, TYPEDSTREAM_INTERNAL_ERROR, at, "out of memory");
    }
    [ds->kept addObject: memory];
    entry->value = [memory mutableBytes];
    DecodeValue(ds, coder, target, entry->value);
    return entry->value;
}

/*
 *----------------------------------------------------------------------
 * DecodeStruct --
 *	Reads a structure item of checked type into address, member by
 *	member as the compiler places them.
 *----------------------------------------------------------------------
 */
static void
DecodeStruct(State *ds, KxTSDecoder *coder, const char *type, unsigned char *address)
{
    NSUInteger at = ds->cursor;
    unsigned char tag = ReadTag(ds, NULL);
    if (tag != _GSC_STRUCT_B) {
	Unexpected(ds, at, tag, "a structure");
    }
    size_t offset = 0;
    const char *member = KxTSMemberType(KxTSFirstMember(type));
    while (*member != '}') {
	KxTSLayout layout;
	const char *end = CheckCallerType(ds, member, &layout);
	offset = KxTSAlignUp(offset, layout.align);
	@try {
	    DecodeValue(ds, coder, member, address + offset);
	} @catch (id thrown) {
	    DropMembers(ds, type, address, member);
	    @throw;
	}
	offset += layout.size;
	member = KxTSMemberType(end);
    }
}

/*
 *----------------------------------------------------------------------
 * DecodeValue --
 *	Reads one value of a checked type into address.
 *----------------------------------------------------------------------
 */
static void
DecodeValue(State *ds, KxTSDecoder *coder, const char *type, void *address)
{
    const char *t = KxTSSkipQualifiers(type);
    switch (*t) {
    case '@':
	*(id *) address = DecodeObject(ds, coder);
	break;
    case '#': {
	NSUInteger at = ds->cursor;
	NSUInteger number = DecodeClassEntry(ds);
	*(Class *) address = number == 0 ? Nil : ResolveClass(ds, number, at, 0);
	break;
    }
    case ':':
	*(SEL *) address = DecodeSelector(ds);
	break;
    case '*':
	*(char **) address = DecodeCString(ds);
	break;
    case '^':
	*(void **) address = DecodePointer(ds, coder, t);
	break;
    case '[': {
	NSUInteger at = ds->cursor;
	unsigned char tag = ReadTag(ds, NULL);
	if (tag != _GSC_ARY_B) {
	    Unexpected(ds, at, tag, "an array");
	}
	char *element;
	unsigned long count = strtoul(t + 1, &element, 10);
	DecodeArray(ds, coder, element, (NSUInteger) count, address, 0);
	break;
    }
    case '{':
	DecodeStruct(ds, coder, t, (unsigned char *) address);
	break;
    default:
	if (NumberKind(*t) < 0) {
	    Raise(ds, TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR, ds->cursor,
		  "cannot read a value of type \"%.100s\"", type);
	}
	ReadNumber(ds, *t, address, 0);
	break;
    }
}

/*
 *----------------------------------------------------------------------
 * GuardTypeText --
 *	NSValue reads the type encoding of its value as an array of chars
 *	and hands it to the runtime's layout functions unchecked: the
 *	text must be one encoding of numbers (structures and arrays of
 *	them), NUL-terminated, of a bounded size.
 *----------------------------------------------------------------------
 */
static void
GuardTypeText(State *ds, NSUInteger at, const char *text, NSUInteger count)
{
    KxTSLayout layout;
    const char *why = "no terminating NUL";
    const char *end = NULL;
    if (count > 0 && memchr(text, '\0', count) != NULL) {
	end = KxTSCheckType(text, KX_TS_TYPE_NUMBERS, &layout, &why);
	if (end != NULL && *end != '\0') {
	    end = NULL;
	    why = "more than one type";
	}
	if (end != NULL && (layout.size == 0 || layout.size > VALUE_LIMIT)) {
	    end = NULL;
	    why = layout.size == 0 ? "a value of no size" : "value too large";
	}
    }
    if (end == NULL) {
	DAMAGED(ds, at, "a value's type encoding that cannot be read (%s)", why);
    }
}

/*
 *----------------------------------------------------------------------
 * DecodeArray --
 *	Reads an array item of count elements of checked type into
 *	address: numbers as one run, anything else element by element;
 *	when an element fails, what the elements before it hold is
 *	dropped.  direct: asked for by an initWithCoder: itself.
 *----------------------------------------------------------------------
 */
static void
DecodeArray(State *ds, KxTSDecoder *coder, const char *type, NSUInteger count,
	    void *address, int direct)
{
    KxTSLayout layout;
    CheckCallerType(ds, type, &layout);
    const char *t = KxTSSkipQualifiers(type);

    NSUInteger at = ds->cursor;
    unsigned char tag = ReadTag(ds, NULL);
    if (tag != _GSC_ARY_B) {
	Unexpected(ds, at, tag, "an array");
    }
    uint64_t stored = ReadBig(ds, 4, "an array count");
    if (stored == 0xffffffffu) {
	stored = ReadBig(ds, 8, "an array count");
    }
    if (stored != count) {
	DAMAGED(ds, at, "an array of %llu elements where %lu were expected",
		(unsigned long long) stored, (unsigned long) count);
    }
    if (NumberKind(*t) >= 0) {
	NSUInteger runAt = ds->cursor;
	unsigned char runTag = ReadTag(ds, NULL);
	if (!TagFits(runTag, *t) || WireWidth(runTag, *t) != (int) layout.size) {
	    Unexpected(ds, runAt, runTag, NumberName(*t));
	}
	if (count > Left(ds) / layout.size) {
	    DAMAGED(ds, at, "an array of %lu elements that the %lu bytes left cannot hold",
		    (unsigned long) count, (unsigned long) Left(ds));
	}
	ChargeElements(ds, count, layout.size);
	const unsigned char *p = Bytes(ds, count * layout.size, "an array");
	for (NSUInteger i = 0; i < count; i++) {
	    StoreNumber(*t, p + i * layout.size, (int) layout.size,
			(unsigned char *) address + i * layout.size);
	}
	if (direct && ds->frame != NULL && (ds->frame->guard & GUARD_VALUE) && *t == 'c') {
	    GuardTypeText(ds, at, (const char *) address, count);
	}
	return;
    }
    if (count > Left(ds)) {
	DAMAGED(ds, at, "an array of %lu elements that the %lu bytes left cannot hold",
		(unsigned long) count, (unsigned long) Left(ds));
    }
    ChargeElements(ds, count, layout.size);
    for (NSUInteger i = 0; i < count; i++) {
	@try {
	    DecodeValue(ds, coder, type, (unsigned char *) address + i * layout.size);
	} @catch (id thrown) {
	    for (NSUInteger j = 0; j < i; j++) {
		DropObjects(ds, type, (unsigned char *) address + j * layout.size);
	    }
	    @throw;
	}
    }
}

/*
 *----------------------------------------------------------------------
 * EnterCall --
 *	The start of every request from outside: raises once the decoder
 *	is broken, and counts a request of an initWithCoder: (direct) for
 *	the current object's guard.  The flag it sets for the request
 *	holds until the next request, so MakeObject restores it when an
 *	object's own requests are over.
 *----------------------------------------------------------------------
 */
static void
EnterCall(State *ds, int direct)
{
    if (ds->broken) {
	KxTSRaise(TYPEDSTREAM_FILE_INCONSISTENCY,
		  "the stream cannot be read on after an error (%s)",
		  ds->firstError[0] != '\0' ? ds->firstError : "raised by an object");
    }
    if (direct && ds->frame != NULL) {
	ds->frame->values++;
    }
    ds->nilRefused = direct && ds->frame != NULL && ds->frame->guard != 0;
}

/*
 *----------------------------------------------------------------------
 * ReadHeader --
 *	Checks NSArchiver's header at the start of the archive and stores
 *	its version; version is the highest this process writes.  The
 *	table sizes it declares are not used, only checked.  Answers null
 *	or the reason for refusing the archive.
 *----------------------------------------------------------------------
 */
static int
HexField(const unsigned char *p, unsigned long *valuePtr)
{
    unsigned long value = 0;
    for (int i = 0; i < 8; i++) {
	int c = p[i], digit;
	if (c >= '0' && c <= '9') {
	    digit = c - '0';
	} else if (c >= 'a' && c <= 'f') {
	    digit = c - 'a' + 10;
	} else if (c >= 'A' && c <= 'F') {
	    digit = c - 'A' + 10;
	} else {
	    return 0;
	}
	value = (value << 4) | (unsigned long) digit;
    }
    *valuePtr = value;
    return p[8] == ':';
}

static const char *
ReadHeader(State *ds, unsigned version)
{
    if (ds->length < ARCHIVE_HEADER_SIZE
	    || memcmp(ds->bytes, ARCHIVE_PREFIX, ARCHIVE_PREFIX_SIZE) != 0) {
	return "the archive has no archiver header";
    }
    unsigned long fields[4];
    for (int i = 0; i < 4; i++) {
	if (!HexField(ds->bytes + ARCHIVE_PREFIX_SIZE + 9 * i, &fields[i])) {
	    return "the archiver header is damaged";
	}
    }
    if (fields[0] > version) {
	return "the archive was written by a newer archiver";
    }
    if (fields[0] == VARIABLE_COUNT_VERSION) {
	return "the archive was written by an archiver whose format this reader does not read";
    }
    for (int i = 1; i < 4; i++) {
	if (fields[i] > ds->length) {
	    return "the archiver header is damaged";	/* more items than bytes */
	}
    }
    ds->version = (unsigned) fields[0];
    ds->cursor = ARCHIVE_HEADER_SIZE;
    return NULL;
}

@implementation KxTSDecoder

- (id) initWithArchive: (NSData *)archive
	    baseOffset: (NSUInteger)base
	 newestVersion: (unsigned)version
{
    self = [super init];
    if (self == nil) {
	return nil;
    }
    _state = (State *) calloc(1, sizeof(State));
    NSMutableArray *kept = [[NSMutableArray alloc] init];
    if (_state == NULL || kept == nil) {
	[kept release];
	[self release];
	KxTSRaise(TYPEDSTREAM_INTERNAL_ERROR, "out of memory");
    }
    _state->archive = [archive retain];
    _state->bytes = (const unsigned char *) [archive bytes];
    _state->length = [archive length];
    _state->base = base;
    _state->zone = NSDefaultMallocZone();
    _state->kept = kept;
    const char *why = ReadHeader(_state, version);
    if (why != NULL) {
	[self release];
	KxTSRaise(TYPEDSTREAM_FILE_INCONSISTENCY, "%s", why);
    }
    return self;
}

- (void) dealloc
{
    State *ds = _state;
    if (ds != NULL) {
	for (NSUInteger i = 1; i <= ds->classes.count; i++) {
	    free(ENTRY(ds->classes, ClassEntry, i).name);
	}
	for (NSUInteger i = 1; i <= ds->pointers.count; i++) {
	    PointerEntry *entry = &ENTRY(ds->pointers, PointerEntry, i);
	    if (entry->kind == _GSC_CHARPTR) {
		free(entry->value);
	    }
	    free(entry->type);
	}
	free(ds->classes.entries);
	free(ds->objects.entries);
	free(ds->pointers.entries);
	for (int i = 0; i < ds->allowedCount; i++) {
	    free(ds->allowed[i]);
	}
	free(ds->allowed);
	[ds->kept release];
	[ds->archive release];
	free(ds);
    }
    [super dealloc];
}

/* --- What the typed-stream functions ask ---------------------------- */

- (BOOL) isAtEnd
{
    return _state->cursor >= _state->length;
}

- (NSUInteger) bytesLeft
{
    return Left(_state);
}

- (void) beginRead
{
    _state->charged = 0;
}

- (void) setAllocationLimit: (size_t)limit
{
    _state->limit = limit;
}

- (size_t) allocationLimit
{
    return Limit(_state);
}

- (void) chargeAllocation: (size_t)bytes
{
    Charge(_state, bytes);
}

- (BOOL) setAllowedClassNames: (const char *const *)names count: (int)count
{
    State *ds = _state;
    char **allowed = NULL;
    if (names != NULL && count > 0) {
	allowed = (char **) calloc((size_t) count, sizeof(char *));
	if (allowed == NULL) {
	    return NO;
	}
	for (int i = 0; i < count; i++) {
	    allowed[i] = strdup(names[i]);
	    if (allowed[i] == NULL) {
		while (i-- > 0) {
		    free(allowed[i]);
		}
		free(allowed);
		return NO;
	    }
	}
	qsort(allowed, (size_t) count, sizeof(char *), CompareNames);
    }
    for (int i = 0; i < ds->allowedCount; i++) {
	free(ds->allowed[i]);
    }
    free(ds->allowed);
    ds->allowed = allowed;
    ds->allowedCount = allowed != NULL ? count : 0;
    ds->restricted = names != NULL;
    return YES;
}

- (BOOL) allowsClassNamed: (const char *)name
{
    return IsAllowed(_state, name);
}

- (int) versionOfClassNamed: (const char *)name
{
    for (NSUInteger i = _state->classes.count; i > 0; i--) {
	ClassEntry *entry = &ENTRY(_state->classes, ClassEntry, i);
	if (entry->name != NULL && strcmp(entry->name, name) == 0) {
	    return entry->version > INT_MAX ? INT_MAX : (int) entry->version;
	}
    }
    return -1;
}

- (unsigned long) fileOffset
{
    return (unsigned long) (_state->base + _state->cursor);
}

- (void) readValueOfType: (const char *)type at: (void *)address
{
    EnterCall(_state, 0);
    KxTSLayout layout;
    CheckCallerType(_state, type, &layout);
    DecodeValue(_state, self, type, address);
}

- (void) readArrayOfType: (const char *)type count: (NSUInteger)count at: (void *)address
{
    EnterCall(_state, 0);
    DecodeArray(_state, self, type, count, address, 0);
}

/* --- NSCoder -------------------------------------------------------- */

- (void) decodeValueOfObjCType: (const char *)type at: (void *)address
{
    State *ds = _state;
    EnterCall(ds, 1);
    KxTSLayout layout;
    CheckCallerType(ds, type, &layout);
    const char *t = KxTSSkipQualifiers(type);
    if (NumberKind(*t) >= 0) {
	ReadNumber(ds, *t, address, 1);
    } else {
	DecodeValue(ds, self, type, address);
    }
    if (*t == '@' && ds->frame != NULL) {
	ds->frame->objects++;
	ds->frame->lastObject = *(id *) address;
    }
}

- (void) decodeArrayOfObjCType: (const char *)type
			 count: (NSUInteger)count
			    at: (void *)address
{
    EnterCall(_state, 1);
    DecodeArray(_state, self, type, count, address, 1);
}

- (id) decodeObject
{
    id object = nil;
    [self decodeValueOfObjCType: @encode(id) at: &object];
    return [object autorelease];
}

/*
 * decodeDataObject, decodeBytesWithReturnedLength: --
 *	A length, then (for data objects, after a scheme byte that must be
 *	0, raw bytes) the bytes as an array: the length is checked against
 *	the bytes left before the buffer is made.
 */
- (NSMutableData *) _bytesOfLength: (NSUInteger)length at: (NSUInteger)at
{
    State *ds = _state;
    if (length > Left(ds)) {
	DAMAGED(ds, at, "%lu bytes of data when %lu are left", (unsigned long) length,
		(unsigned long) Left(ds));
    }
    Charge(ds, length);
    NSMutableData *data = [NSMutableData dataWithLength: length];
    if (data == nil) {
	Raise(ds, TYPEDSTREAM_INTERNAL_ERROR, at, "out of memory");
    }
    DecodeArray(ds, self, "C", length, [data mutableBytes], 0);
    return data;
}

- (NSData *) decodeDataObject
{
    State *ds = _state;
    EnterCall(ds, 1);
    NSUInteger at = ds->cursor;
    unsigned length = 0;
    ReadNumber(ds, 'I', &length, 0);
    if (length == 0) {
	return [NSData data];
    }
    unsigned char scheme = 0;
    NSUInteger schemeAt = ds->cursor;
    ReadNumber(ds, 'C', &scheme, 0);
    if (scheme != 0) {
	DAMAGED(ds, schemeAt, "data stored in an unknown form %u", scheme);
    }
    return [self _bytesOfLength: length at: at];
}

- (void *) decodeBytesWithReturnedLength: (NSUInteger *)lengthPtr
{
    State *ds = _state;
    EnterCall(ds, 1);
    NSUInteger at = ds->cursor;
    unsigned length = 0;
    ReadNumber(ds, 'I', &length, 0);
    NSMutableData *data = [self _bytesOfLength: length at: at];
    [ds->kept addObject: data];
    *lengthPtr = length;
    return [data mutableBytes];
}

- (id) decodePropertyList
{
    EnterCall(_state, 1);
    Raise(_state, TYPEDSTREAM_CLASS_ERROR, _state->cursor,
	  "property lists inside objects are not read");
}

- (unsigned int) systemVersion
{
    return _state->version;
}

- (NSInteger) versionForClassName: (NSString *)className
{
    const char *name = [className UTF8String];
    int version = name != NULL ? [self versionOfClassNamed: name] : -1;
    return version < 0 ? NSNotFound : version;
}

- (NSZone *) objectZone
{
    return _state->zone;
}

- (void) setObjectZone: (NSZone *)zone
{
    _state->zone = zone != NULL ? zone : NSDefaultMallocZone();
}

- (BOOL) allowsKeyedCoding
{
    return NO;
}

@end
