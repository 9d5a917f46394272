/*
 * KxTypedStreamPriv.h --
 *
 *	What the typed-stream sources share among themselves: the stream
 *	record, error raising, type encodings, value coding, the archive
 *	decoder and the file container.  Nothing outside the
 *	KxTypedStream*.mm files includes it, but the tests and the fuzz
 *	target, which open streams on archives in memory.
 */
#ifndef KX_TYPED_STREAM_PRIV_H
#define KX_TYPED_STREAM_PRIV_H

#import <Foundation/Foundation.h>

#include "KxTypedStream.h"

#include <stddef.h>
#include <sys/types.h>

/*
 * Limits.  A type encoding's canonical form is at most
 * KX_TS_MAX_TYPE_LENGTH characters and nests at most KX_TS_MAX_DEPTH
 * arrays and structures; one value is at most KX_TS_MAX_VALUE_SIZE bytes.
 * An archive is at most KX_TS_MAX_ARCHIVE bytes: NSArchiver's format
 * counts positions and cross-references in 32 bits, and this bound keeps
 * well clear of that.
 */
#define KX_TS_MAX_TYPE_LENGTH	1024
#define KX_TS_MAX_DEPTH		32
#define KX_TS_MAX_VALUE_SIZE	((size_t) 1 << 30)
#define KX_TS_MAX_ARCHIVE	((NSUInteger) 0x7fffffff)

/*
 * KxTSArchiver --
 *	NSArchiver that retains every object it is asked to encode (the
 *	archiver recognises objects written before by their address alone,
 *	so an object freed between two writes must not leave its address to
 *	a newcomer) and that knows whether a root object is being written,
 *	the only time a conditional reference may be.
 */
@interface KxTSArchiver : NSArchiver
{
    NSMutableArray *_kept;
    int _rootDepth;
}
/* encodeRootObject: calls in progress. */
- (int) rootDepth;
@end

/*
 * KxTSDecoder --
 *	The reader of read streams (KxTypedStreamDecoder.mm): an NSCoder
 *	over an archive in memory that checks everything it reads.  Its
 *	failures raise typed-stream errors whose text ends in "at byte N",
 *	N counted from the start of the file (base is the archive's offset
 *	in it).  The read* methods serve the value reader; the NSCoder
 *	methods serve the objects' initWithCoder:.
 */
struct KxTSDecodeState;

@interface KxTSDecoder : NSCoder
{
    struct KxTSDecodeState *_state;
}
/* Raises TYPEDSTREAM_FILE_INCONSISTENCY when the archive's header is
 * damaged or of an archiver newer than version. */
- (id) initWithArchive: (NSData *)archive
	    baseOffset: (NSUInteger)base
	 newestVersion: (unsigned)version;
- (BOOL) isAtEnd;
- (NSUInteger) bytesLeft;
- (unsigned long) fileOffset;
/* Starts a read: what it allocates is counted from zero. */
- (void) beginRead;
/* 0 restores the default limit; allocationLimit answers the one in
 * force. */
- (void) setAllocationLimit: (size_t)limit;
- (size_t) allocationLimit;
- (void) chargeAllocation: (size_t)bytes;
/* A null names list lifts the restriction; answers NO when out of
 * memory (nothing changed then). */
- (BOOL) setAllowedClassNames: (const char *const *)names count: (int)count;
- (BOOL) allowsClassNamed: (const char *)name;
/* As stored with the classes read so far, -1 for none. */
- (int) versionOfClassNamed: (const char *)name;
- (void) readValueOfType: (const char *)type at: (void *)address;
- (void) readArrayOfType: (const char *)type count: (NSUInteger)count at: (void *)address;
@end

/* Whether objects of cls can be written and read: it descends from
 * NSObject and it or a superclass declares NSCoding. */
int KxTSClassIsArchivable(Class cls);

struct KxTypedStream {
    int mode;			/* KX_READONLY or KX_WRITEONLY */
    int fd;			/* write streams: the file, open for the
				 * stream's life; -1 for read streams */
    pid_t pid;			/* write streams: the process that opened
				 * the file, the only one that writes it */
    KxZone *zone;		/* what KxGetTypedStreamZone answers */
    int busy;			/* calls on this stream in progress */
    int failed;			/* a call failed half way: no more values */
    NSUInteger goodLength;	/* write streams: archive bytes that end
				 * with a complete top-level value */
    KxTSArchiver *archiver;	/* write streams, retained */
    NSMutableData *archive;	/* write streams: the archiver's data */
    KxTSDecoder *decoder;	/* read streams, retained */
};

/* A read stream on an archive in memory (the file's contents after its
 * container, which starts base bytes into the file); raises
 * TYPEDSTREAM_FILE_INCONSISTENCY for a damaged archive header. */
KxTypedStream *KxTSOpenArchive(NSData *archive, NSUInteger base);

/*
 * Errors (KxTypedStreamError.mm).  KxTSRaise formats the message into
 * one of eight rotating buffers and raises code with it.
 */
void KxTSRaise(int code, const char *format, ...)
    __attribute__((noreturn, format(printf, 2, 3)));

/*
 * Type encodings (KxTypedStreamType.mm).  KxTSParseType checks one
 * complete type encoding and writes its canonical form into canon (room
 * for KX_TS_MAX_TYPE_LENGTH + 1 bytes): qualifiers, structure element
 * names and the class names of objects are dropped.  It answers null, or
 * a reason for refusing the encoding.  The other functions trust that
 * their argument is canonical.
 */
typedef struct KxTSLayout {
    size_t size;
    size_t align;
} KxTSLayout;

const char *KxTSParseType(const char *type, char *canon, KxTSLayout *layout);
const char *KxTSScanType(const char *canon, KxTSLayout *layout);
int	    KxTSIsNumeric(char code);

/*
 * KxTSCheckType checks the first type encoding at type, not necessarily
 * canonical, and answers the position after it (or null with a reason
 * in *whyPtr).  KX_TS_TYPE_POINTERS accepts pointers (their targets are
 * checked too); KX_TS_TYPE_NUMBERS accepts numbers and structures and
 * arrays of them only, with structure names of letters, digits, '_' and
 * '?' and no member names, as the runtime's own layout functions, which
 * such an encoding is handed to, read them.  KxTSSkipQualifiers steps over qualifiers;
 * KxTSFirstMember (at a checked structure's '{') and KxTSMemberType (at
 * a member, past its quoted name) walk a structure's members.
 */
#define KX_TS_TYPE_POINTERS	1
#define KX_TS_TYPE_NUMBERS	2

const char *KxTSCheckType(const char *type, int flags, KxTSLayout *layout,
			  const char **whyPtr);
const char *KxTSSkipQualifiers(const char *p);
const char *KxTSFirstMember(const char *p);
const char *KxTSMemberType(const char *p);

/* offset rounded up to a multiple of align, a power of two. */
static inline size_t
KxTSAlignUp(size_t offset, size_t align)
{
    return (offset + align - 1) & ~(align - 1);
}

/*
 * Values (KxTypedStreamValue.mm).  KxTSCheckValue looks at every object,
 * class and string in a value before anything is written and raises
 * TYPEDSTREAM_CALLER_ERROR or TYPEDSTREAM_CLASS_ERROR for one that cannot
 * be written.  The coding functions raise whatever the archiver raises.
 * Strings that KxTSDecodeValue allocates are listed in allocations, so a
 * failed read can give them back.
 */
typedef struct KxTSBlock {
    void *block;
    KxZone *zone;		/* the zone it came from */
} KxTSBlock;

typedef struct KxTSAllocations {
    KxTSBlock *blocks;
    int count;
    int capacity;
} KxTSAllocations;

/* Visits one leaf of a value: count values of the one-character type
 * code at data, stored as an array when isArray is set (runs of numbers
 * in an array come as one leaf). */
typedef void (*KxTSLeafProc)(void *context, char code, unsigned char *data,
			     int count, int isArray);

const char *KxTSWalkValue(const char *canon, unsigned char *data, KxTSLeafProc leaf,
			  void *context);
void KxTSCheckValue(const char *canon, const void *data);
void KxTSEncodeValue(NSArchiver *archiver, const char *canon, const void *data);
void KxTSDecodeValue(KxTypedStream *ts, const char *canon, void *data,
		     KxTSAllocations *allocations);
void KxTSWriteTypeRecord(NSArchiver *archiver, const char *canon);
void KxTSCheckTypeRecord(KxTypedStream *ts, const char *canon);
void KxTSFreeAllocations(KxTSAllocations *allocations, int freeBlocks);

/*
 * The file container (KxTypedStreamFile.mm).  KxTSWriteFile replaces the
 * contents of fd with the container around the first length bytes of
 * archive; it answers 0 or an errno value.  KxTSReadFile reads path and
 * answers KX_TS_READ_OK with a new (retained) archive whose container
 * passed every check, KX_TS_READ_UNREADABLE when the file cannot be
 * opened or read, or KX_TS_READ_DAMAGED with a reason in *whyPtr.
 * KX_TS_FILE_HEADER is the size of the container's header.
 */
#define KX_TS_READ_OK		0
#define KX_TS_READ_UNREADABLE	1
#define KX_TS_READ_DAMAGED	2
#define KX_TS_FILE_HEADER	24

int KxTSWriteFile(int fd, NSData *archive, NSUInteger length);
int KxTSReadFile(const char *path, NSData **archivePtr, const char **whyPtr);
unsigned long KxTSChecksum(const unsigned char *bytes, size_t length);

#endif
