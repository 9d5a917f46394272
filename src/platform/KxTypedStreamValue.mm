/*
 * KxTypedStreamValue.mm --
 *
 *	Writing and reading one value of a canonical type encoding through
 *	the archiver.  One walker goes through arrays and structures (member
 *	offsets as the C compiler places them) and hands every leaf to a
 *	visitor: the check before writing, the writer, or the reader.  Runs
 *	of numbers inside an array reach the visitor as one leaf, which
 *	NSArchiver writes as one array.
 *
 *	How leaves are stored:
 *	  numbers	NSArchiver's own typed value (or typed array)
 *	  objects	NSArchiver's object graph (NSCoding, shared once)
 *	  * % : #	a string: its length as an "i" (-1 for null) and, when
 *			not empty, its bytes as an array of "C"; a selector
 *			is stored by its name, a class by its name
 *	The strings are stored this way, not as NSArchiver's "*", because
 *	NSArchiver shares C strings by address, so two different texts that
 *	lived at the same address at different times would come back as one.
 *
 *	A type record, the canonical encoding stored in front of each
 *	top-level value, is such a string too.
 *
 *	Reading goes through the stream's decoder, which checks every item
 *	against what is asked for and against the bytes left; what this
 *	file adds are the checks of its own strings (lengths, the type
 *	record, class names against the allowed-class list), with the byte
 *	of the file where a problem was found.
 */
#include "KxTypedStreamPriv.h"
#include "KxObjectCheck.h"
#include "KxUniqueString.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <objc/runtime.h>

typedef struct DecodeContext {
    KxTypedStream *ts;
    KxTSAllocations *allocations;
} DecodeContext;

/*
 *----------------------------------------------------------------------
 * KxTSWalkValue --
 *	Visits every leaf of the value of canonical type type at data, in
 *	order; answers the position after the type.
 *----------------------------------------------------------------------
 */
const char *
KxTSWalkValue(const char *type, unsigned char *data, KxTSLeafProc leaf, void *context)
{
    KxTSLayout layout;

    if (*type == '[') {
	char *element;
	long count = strtol(type + 1, &element, 10);
	const char *end = KxTSScanType(element, &layout);
	if (KxTSIsNumeric(*element)) {
	    leaf(context, *element, data, (int) count, 1);
	} else {
	    for (long i = 0; i < count; i++) {
		KxTSWalkValue(element, data + (size_t) i * layout.size, leaf, context);
	    }
	}
	return end + 1;
    }
    if (*type == '{') {
	const char *member = strchr(type, '=') + 1;
	size_t offset = 0;
	while (*member != '}') {
	    const char *end = KxTSScanType(member, &layout);
	    offset = KxTSAlignUp(offset, layout.align);
	    KxTSWalkValue(member, data + offset, leaf, context);
	    offset += layout.size;
	    member = end;
	}
	return member + 1;
    }
    leaf(context, *type, data, 1, 0);
    return type + 1;
}

/*
 *----------------------------------------------------------------------
 * CheckObject, CheckClass, CheckLeaf --
 *	Raise for a leaf that cannot be written: a pointer that is no live
 *	object or class (TYPEDSTREAM_CALLER_ERROR), an object whose class
 *	does not archive (no NSObject descendant declaring NSCoding, so the
 *	reader would refuse it), a class given as an object, a metaclass
 *	(TYPEDSTREAM_CLASS_ERROR), a string too long for its length word.
 *----------------------------------------------------------------------
 */
static void
CheckObject(id object)
{
    switch (KxInspectPointer(object)) {
    case KxPointerNil:
	return;
    case KxPointerObject:
	break;
    case KxPointerFreed:
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "object %p was freed", (void *) object);
    default:
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "%p is not an object", (void *) object);
    }
    Class isa = object_getClass(object);
    if (class_isMetaClass(isa)) {
	KxTSRaise(TYPEDSTREAM_CLASS_ERROR,
		  "class %s given as an object: classes are written with the type #",
		  class_getName((Class) object));
    }
    if (!KxTSClassIsArchivable(isa)) {
	KxTSRaise(TYPEDSTREAM_CLASS_ERROR, "objects of class %s cannot be archived",
		  class_getName(isa));
    }
}

static void
CheckClass(Class cls)
{
    if (cls == Nil) {
	return;
    }
    if (!KxIsKnownClass((const void *) cls)) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "%p is not a class", (void *) cls);
    }
    if (class_isMetaClass(cls)) {
	KxTSRaise(TYPEDSTREAM_CLASS_ERROR, "the metaclass of %s cannot be written",
		  class_getName(cls));
    }
}

static void
CheckLeaf(void *, char code, unsigned char *data, int, int)
{
    switch (code) {
    case '@':
	CheckObject(*(id *) data);
	break;
    case '#':
	CheckClass(*(Class *) data);
	break;
    case '*': case '%': {
	const char *text = *(const char **) data;
	if (text != NULL && strlen(text) > INT_MAX) {
	    KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "string too long for a typed stream");
	}
	break;
    }
    default:
	break;
    }
}

/*
 *----------------------------------------------------------------------
 * KxTSCheckValue --
 *	Raises for the first leaf of the value that cannot be written,
 *	before anything is written.
 *----------------------------------------------------------------------
 */
void
KxTSCheckValue(const char *canon, const void *data)
{
    KxTSWalkValue(canon, (unsigned char *) data, CheckLeaf, NULL);
}

/*
 *----------------------------------------------------------------------
 * WriteString --
 *	Writes text (null allowed) as a length and its bytes.
 *----------------------------------------------------------------------
 */
static void
WriteString(NSArchiver *archiver, const char *text)
{
    int length = text != NULL ? (int) strlen(text) : -1;
    [archiver encodeValueOfObjCType: "i" at: &length];
    if (length > 0) {
	[archiver encodeArrayOfObjCType: "C" count: (NSUInteger) length at: text];
    }
}

/*
 *----------------------------------------------------------------------
 * EncodeLeaf --
 *	Writes one leaf through the archiver given as context.
 *----------------------------------------------------------------------
 */
static void
EncodeLeaf(void *context, char code, unsigned char *data, int count, int isArray)
{
    NSArchiver *archiver = (NSArchiver *) context;
    char type[2] = { code, '\0' };

    switch (code) {
    case '@':
	[archiver encodeObject: *(id *) data];
	break;
    case '*': case '%':
	WriteString(archiver, *(const char **) data);
	break;
    case ':': {
	SEL selector = *(SEL *) data;
	WriteString(archiver, selector != NULL ? sel_getName(selector) : NULL);
	break;
    }
    case '#': {
	Class cls = *(Class *) data;
	WriteString(archiver, cls != Nil ? class_getName(cls) : NULL);
	break;
    }
    default:
	if (isArray) {
	    [archiver encodeArrayOfObjCType: type count: (NSUInteger) count at: data];
	} else {
	    [archiver encodeValueOfObjCType: type at: data];
	}
	break;
    }
}

/*
 *----------------------------------------------------------------------
 * KxTSEncodeValue, KxTSWriteTypeRecord --
 *	Write a value of a canonical type; write the type record.
 *----------------------------------------------------------------------
 */
void
KxTSEncodeValue(NSArchiver *archiver, const char *canon, const void *data)
{
    KxTSWalkValue(canon, (unsigned char *) data, EncodeLeaf, archiver);
}

void
KxTSWriteTypeRecord(NSArchiver *archiver, const char *canon)
{
    WriteString(archiver, canon);
}

/*
 *----------------------------------------------------------------------
 * ReadString --
 *	Reads a string written by WriteString.  Answers an autoreleased
 *	buffer holding its bytes and a NUL, or nil for the null string.  A
 *	length below -1, above maxLength or beyond the end of the archive
 *	raises TYPEDSTREAM_FILE_INCONSISTENCY before anything is allocated.
 *	*atPtr (when given) receives the file offset of the string.
 *----------------------------------------------------------------------
 */
static NSMutableData *
ReadString(KxTypedStream *ts, int maxLength, unsigned long *atPtr)
{
    KxTSDecoder *decoder = ts->decoder;
    unsigned long at = [decoder fileOffset];
    int length;
    if (atPtr != NULL) {
	*atPtr = at;
    }
    [decoder readValueOfType: "i" at: &length];
    if (length == -1) {
	return nil;
    }
    if (length < -1 || length > maxLength || (NSUInteger) length > [decoder bytesLeft]) {
	KxTSRaise(TYPEDSTREAM_FILE_INCONSISTENCY, "damaged string length %d at byte %lu",
		  length, at);
    }
    [decoder chargeAllocation: (size_t) length + 1];
    NSMutableData *buffer = [NSMutableData dataWithLength: (NSUInteger) length + 1];
    if (length > 0) {
	[decoder readArrayOfType: "C" count: (NSUInteger) length at: [buffer mutableBytes]];
    }
    return buffer;
}

/*
 *----------------------------------------------------------------------
 * KeepAllocation --
 *	Lists a block allocated for the value being read.  When the list
 *	cannot grow, frees the block and raises TYPEDSTREAM_INTERNAL_ERROR.
 *----------------------------------------------------------------------
 */
static void
KeepAllocation(KxTSAllocations *allocations, void *block, KxZone *zone)
{
    if (allocations->count == allocations->capacity) {
	int capacity = allocations->capacity > 0 ? 2 * allocations->capacity : 8;
	KxTSBlock *blocks = (KxTSBlock *) realloc(allocations->blocks,
						  (size_t) capacity * sizeof(KxTSBlock));
	if (blocks == NULL) {
	    KxZoneFree(zone, block);
	    KxTSRaise(TYPEDSTREAM_INTERNAL_ERROR, "out of memory");
	}
	allocations->blocks = blocks;
	allocations->capacity = capacity;
    }
    allocations->blocks[allocations->count].block = block;
    allocations->blocks[allocations->count].zone = zone;
    allocations->count++;
}

/*
 *----------------------------------------------------------------------
 * DecodeText --
 *	Reads a C string into a block of the stream's zone, listed in the
 *	allocations; null for the null string.
 *----------------------------------------------------------------------
 */
static char *
DecodeText(DecodeContext *dc)
{
    NSMutableData *bytes = ReadString(dc->ts, INT_MAX, NULL);
    if (bytes == nil) {
	return NULL;
    }
    [dc->ts->decoder chargeAllocation: [bytes length]];
    KxZone *zone = dc->ts->zone;
    char *text = (char *) KxZoneMalloc(zone, [bytes length]);
    if (text == NULL) {
	KxTSRaise(TYPEDSTREAM_INTERNAL_ERROR, "out of memory");
    }
    memcpy(text, [bytes bytes], [bytes length]);
    KeepAllocation(dc->allocations, text, zone);
    return text;
}

/*
 *----------------------------------------------------------------------
 * DecodeClass --
 *	Reads a class by its name; a name the stream's allowed-class list
 *	leaves out (checked before the class is looked up) or that this
 *	process has no class for raises TYPEDSTREAM_CLASS_ERROR.
 *----------------------------------------------------------------------
 */
static Class
DecodeClass(KxTypedStream *ts)
{
    unsigned long at;
    NSMutableData *name = ReadString(ts, INT_MAX, &at);
    if (name == nil) {
	return Nil;
    }
    const char *text = (const char *) [name bytes];
    if (![ts->decoder allowsClassNamed: text]) {
	KxTSRaise(TYPEDSTREAM_CLASS_ERROR,
		  "class %.200s at byte %lu is not among the stream's allowed classes", text, at);
    }
    Class cls = objc_lookUpClass(text);
    if (cls == Nil) {
	KxTSRaise(TYPEDSTREAM_CLASS_ERROR, "no class named %.200s at byte %lu", text, at);
    }
    return cls;
}

/*
 *----------------------------------------------------------------------
 * DecodeLeaf --
 *	Reads one leaf through the stream's decoder into data.  Objects
 *	come back autoreleased.
 *----------------------------------------------------------------------
 */
static void
DecodeLeaf(void *context, char code, unsigned char *data, int count, int isArray)
{
    DecodeContext *dc = (DecodeContext *) context;
    KxTSDecoder *decoder = dc->ts->decoder;
    char type[2] = { code, '\0' };

    switch (code) {
    case '@': {
	id object = nil;
	[decoder readValueOfType: "@" at: &object];
	*(id *) data = [object autorelease];
	break;
    }
    case '*':
	*(char **) data = DecodeText(dc);
	break;
    case '%': {
	NSMutableData *text = ReadString(dc->ts, INT_MAX, NULL);
	*(const char **) data = text != nil ? KxUniqueString((const char *) [text bytes]) : NULL;
	break;
    }
    case ':': {
	NSMutableData *name = ReadString(dc->ts, INT_MAX, NULL);
	*(SEL *) data = name != nil ? sel_registerName((const char *) [name bytes]) : NULL;
	break;
    }
    case '#':
	*(Class *) data = DecodeClass(dc->ts);
	break;
    default:
	if (isArray) {
	    [decoder readArrayOfType: type count: (NSUInteger) count at: data];
	} else {
	    [decoder readValueOfType: type at: data];
	}
	break;
    }
}

/*
 *----------------------------------------------------------------------
 * KxTSDecodeValue --
 *	Reads a value of a canonical type into data; the C strings it
 *	allocates are listed in allocations.
 *----------------------------------------------------------------------
 */
void
KxTSDecodeValue(KxTypedStream *ts, const char *canon, void *data,
		KxTSAllocations *allocations)
{
    DecodeContext dc = { ts, allocations };
    KxTSWalkValue(canon, (unsigned char *) data, DecodeLeaf, &dc);
}

/*
 *----------------------------------------------------------------------
 * KxTSCheckTypeRecord --
 *	Reads the type record in front of the next value and raises
 *	TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR unless it is canon.
 *----------------------------------------------------------------------
 */
void
KxTSCheckTypeRecord(KxTypedStream *ts, const char *canon)
{
    unsigned long at;
    NSMutableData *stored = ReadString(ts, KX_TS_MAX_TYPE_LENGTH, &at);
    const char *text = stored != nil ? (const char *) [stored bytes] : "(none)";
    if (strcmp(text, canon) != 0) {
	KxTSRaise(TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR,
		  "the stream holds a value of type %.200s, not %.200s, at byte %lu", text,
		  canon, at);
    }
}

/*
 *----------------------------------------------------------------------
 * KxTSFreeAllocations --
 *	Empties the list; with freeBlocks, gives the listed blocks back to
 *	their zones (a failed read), else leaves them to the caller.
 *----------------------------------------------------------------------
 */
void
KxTSFreeAllocations(KxTSAllocations *allocations, int freeBlocks)
{
    if (freeBlocks) {
	for (int i = 0; i < allocations->count; i++) {
	    KxZoneFree(allocations->blocks[i].zone, allocations->blocks[i].block);
	}
    }
    free(allocations->blocks);
    allocations->blocks = NULL;
    allocations->count = allocations->capacity = 0;
}
