/*
 * KxTypedStream.h --
 *
 *	Typed streams: files that hold a sequence of values, each written
 *	with its type encoding, and whole object graphs with their classes.
 *	A stream is opened on a file either for reading or for writing.
 *
 *	Values are written by GNUstep's NSArchiver and read back by a
 *	decoder of this library that reads NSArchiver's format; objects
 *	archive themselves through NSCoding, and an object written more
 *	than once to the same stream (directly or inside a graph, cycles
 *	included) is stored once and read back as one object.
 *
 *	File format (all integers little-endian):
 *
 *	    offset  size  contents
 *	    0       8     magic "KxTStrm" followed by 0x1a
 *	    8       4     format version, 1
 *	    12      8     length of the archive that follows
 *	    20      4     CRC-32 (the zlib/IEEE polynomial) of that archive
 *	    24      n     the archive: NSArchiver's data, header included
 *
 *	Inside the archive every top-level value is preceded by its type
 *	encoding in canonical form (qualifiers, element names and class
 *	names dropped), so a read must ask for exactly the type that was
 *	written.  C strings, classes and selectors are stored as a length
 *	and bytes of their own rather than through NSArchiver's pointer
 *	sharing, which goes by address and would confuse two strings that
 *	happened to live at the same address at different times.
 *
 *	Hostile input: a file is read by a decoder of this library's own
 *	(KxTypedStreamDecoder.mm), never by NSUnarchiver, which crashes on
 *	damaged archives.  The container's checksum refuses accidental
 *	damage at open; beyond that, every tag, length, count, class name
 *	and reference in the archive is checked against the bytes left and
 *	the items read before it, so a damaged or forged file ends in a
 *	typed-stream error whose message names the byte where the problem
 *	was found.  A count is refused before anything is allocated for it
 *	when the bytes left cannot hold it, and one read allocates at most
 *	its allocation limit (KxSetTypedStreamAllocationLimit).
 *
 *	What stays trusted are the classes: a stream names the classes it
 *	makes objects of, and their initWithCoder: methods run on what the
 *	file holds.  Only classes that descend from NSObject and declare
 *	NSCoding are made at all, and the Foundation collections, strings
 *	and NSValue are read with extra checks (their counts and type
 *	encodings); KxSetTypedStreamAllowedClasses limits a stream to the
 *	classes a program expects, which is what a reader of files from
 *	unknown writers should do.
 *
 *	Errors: every failure that is the stream's or the caller's fault is
 *	raised with _KxRaiseError(code, message, NULL), code being one of
 *	the TYPEDSTREAM_* codes below and message a C string that stays
 *	valid until eight more typed-stream errors have been raised.  Errors
 *	of other layers raised from inside an object's encodeWithCoder: or
 *	initWithCoder: pass through unchanged.  A call that fails before it
 *	has written or read anything leaves the stream as it was; a call
 *	that fails half way leaves the stream failed: a write stream then
 *	refuses further writes and, on flush and close, writes every value
 *	completed before the failure; a read stream refuses further reads.
 *
 *	Lifetime: a write stream retains every object written to it until it
 *	is closed (the archive tells objects apart by address).  Objects
 *	read are autoreleased and kept alive by the stream until it is
 *	closed; C strings read are allocated from the stream's zone and
 *	belong to the caller.  An object whose initWithCoder: raised is
 *	released and can no longer be referred to.  Calls need an
 *	autorelease pool, like any Foundation code.  Calls on one stream
 *	may nest (an object's encodeWithCoder: or initWithCoder: may write
 *	or read the stream it is archived in), but a stream cannot be
 *	flushed or closed from inside another call on it.
 */
#ifndef KX_TYPED_STREAM_H
#define KX_TYPED_STREAM_H

#include "KxZone.h"

#include <stddef.h>

#ifndef __OBJC__
typedef struct objc_object *id;
#endif

/* Modes of KxOpenTypedStreamForFile. */
#define KX_READONLY	1
#define KX_WRITEONLY	2

/* Error codes raised by the typed-stream functions. */
#define TYPEDSTREAM_CALLER_ERROR		8000	/* null stream or argument,
							 * wrong mode, misuse */
#define TYPEDSTREAM_FILE_INCONSISTENCY		8001	/* damaged, truncated or
							 * foreign file, reading past
							 * the end */
#define TYPEDSTREAM_CLASS_ERROR			8002	/* unknown class, object
							 * that cannot be archived */
#define TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR	8003	/* bad or unsupported type
							 * encoding, or not the type
							 * the stream holds */
#define TYPEDSTREAM_WRITE_REFERENCE_ERROR	8004	/* object reference outside
							 * a root object */
#define TYPEDSTREAM_INTERNAL_ERROR		8005	/* the file cannot be
							 * written, out of memory */

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KxTypedStream KxTypedStream;

/* The name of a typed-stream error code ("TYPEDSTREAM_CALLER_ERROR" ...),
 * or null for any other code. */
const char *TS_getExceptionName(int code);

/*
 * Opening and closing.
 *
 * KxOpenTypedStreamForFile opens path for reading (KX_READONLY) or
 * writing (KX_WRITEONLY).  It answers null when the file cannot be opened
 * or read (missing, unreadable, not a regular file) or, for writing,
 * cannot be created and written; a file for writing is created (or
 * truncated) at once and holds an empty stream until the first flush.  A
 * file that can be read but is no intact typed stream raises
 * TYPEDSTREAM_FILE_INCONSISTENCY; a bad mode or a null path raises
 * TYPEDSTREAM_CALLER_ERROR.
 *
 * KxCloseTypedStream ends the stream: a write stream writes its file
 * first.  The stream is freed in every case but two, which raise
 * TYPEDSTREAM_CALLER_ERROR and change nothing: a null stream, and a call
 * from inside another call on the same stream.  When the final write
 * fails the stream is freed all the same and TYPEDSTREAM_INTERNAL_ERROR
 * is raised afterwards, so the caller must forget the stream whenever
 * the code is not TYPEDSTREAM_CALLER_ERROR.
 *
 * KxFlushTypedStream writes everything written so far to the file of a
 * write stream (TYPEDSTREAM_INTERNAL_ERROR when that fails; the stream
 * stays usable and a later flush or close tries again).
 *
 * Only the process that opened a write stream writes its file.  In a
 * process forked from it, writing to the stream and flushing it raise
 * TYPEDSTREAM_CALLER_ERROR, and closing it frees that process's copy
 * without touching the file.
 */
KxTypedStream *KxOpenTypedStreamForFile(const char *path, int mode);
void KxCloseTypedStream(KxTypedStream *ts);
void KxFlushTypedStream(KxTypedStream *ts);

/* True when a read stream holds no more values (raises for a write
 * stream). */
int KxEndOfTypedStream(KxTypedStream *ts);

/* The archiver's system version: as stored in the file for a read stream,
 * the one being written for a write stream. */
int KxSystemVersion(KxTypedStream *ts);

/* The version of a class: for a read stream, as stored with the objects of
 * that class read so far (-1 when none was read yet); for a write stream,
 * the class's current version (TYPEDSTREAM_CLASS_ERROR when there is no
 * such class). */
int KxTypedStreamClassVersion(KxTypedStream *ts, const char *className);

/*
 * Values.  type is one complete type encoding: the integer types
 * c C s S i I l L q Q and B, f and d, C strings (*, and % for interned
 * strings), objects (@), classes (#), selectors (:), and arrays and
 * structures of these.  Pointers other than C strings, unions,
 * bit-fields, long double, void and unknown types raise
 * TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR, as does reading with a type other
 * than the one written.  data points to storage of the type's size and
 * alignment.  A read fills data only when it succeeds; the C strings it
 * stores there come from the stream's zone (release them with
 * KxZoneFree), interned strings are KxUniqueString's, objects are
 * autoreleased.
 *
 * KxWriteArray and KxReadArray handle count elements of elementType, the
 * same as the type "[<count><elementType>]": either form reads what the
 * other wrote.
 */
void KxWriteType(KxTypedStream *ts, const char *type, const void *data);
void KxReadType(KxTypedStream *ts, const char *type, void *data);
void KxWriteArray(KxTypedStream *ts, const char *elementType, int count,
		  const void *data);
void KxReadArray(KxTypedStream *ts, const char *elementType, int count,
		 void *data);

/*
 * Objects.  KxWriteObject writes an object and the graph it archives;
 * KxWriteRootObject does the same and lets objects inside the graph refer
 * to others conditionally (encodeConditionalObject:): such an object is
 * written only if something in the graph writes it unconditionally, and
 * reads back as nil otherwise.  KxWriteObjectReference is that
 * conditional write; it is allowed only while a root object of the same
 * stream is being written (else TYPEDSTREAM_WRITE_REFERENCE_ERROR), and so
 * is an object's own encodeConditionalObject:, which makes KxWriteObject
 * of such an object fail with that code.  An object whose class does not
 * archive raises TYPEDSTREAM_CLASS_ERROR.
 * KxReadObject reads any of them (and "@" values written by
 * KxWriteType); nil objects come back as nil.
 */
void KxWriteObject(KxTypedStream *ts, id object);
void KxWriteRootObject(KxTypedStream *ts, id object);
void KxWriteObjectReference(KxTypedStream *ts, id object);
id   KxReadObject(KxTypedStream *ts);

/* The zone from which reading allocates objects and C strings; a null
 * zone stands for the default malloc zone, which is also the start
 * value.  A write stream keeps the zone without using it. */
void    KxSetTypedStreamZone(KxTypedStream *ts, KxZone *zone);
KxZone *KxGetTypedStreamZone(KxTypedStream *ts);

/*
 * Options of read streams (TYPEDSTREAM_CALLER_ERROR for a write stream,
 * or from inside a call on the stream).
 *
 * KxSetTypedStreamAllowedClasses limits the classes the stream may make
 * objects of or hand out as class values ("#") to the count names given;
 * any other class raises TYPEDSTREAM_CLASS_ERROR before it is looked up,
 * let alone sent a message.  The names are those the file stores, the
 * classes' classForArchiver (NSMutableArray, NSString, NSNumber ..., not
 * GNUstep's concrete GS... classes).  A null list (count 0) lifts the
 * limit, which is the start value; an empty one allows no class at all.
 *
 * KxSetTypedStreamAllocationLimit sets how many bytes one read (one call
 * of a reader, with everything the objects it makes read) may ask for:
 * the objects it makes, the strings and buffers it copies, and the
 * storage that the element counts it accepts stand for.  Beyond it the
 * read raises TYPEDSTREAM_INTERNAL_ERROR.  0 restores the default, 64
 * times the archive's size plus one megabyte, which
 * KxGetTypedStreamAllocationLimit answers until it is changed.
 */
void   KxSetTypedStreamAllowedClasses(KxTypedStream *ts, const char *const *classNames,
				      int count);
void   KxSetTypedStreamAllocationLimit(KxTypedStream *ts, size_t limit);
size_t KxGetTypedStreamAllocationLimit(KxTypedStream *ts);

#ifdef __cplusplus
}
#endif

#endif
