/*
 * KxTypedStream.mm --
 *
 *	The typed-stream functions: opening and closing, versions, zones,
 *	and the calls that write and read values and objects.  Each call
 *	checks everything it can (stream, mode, arguments, type encoding,
 *	the objects in the value) before it touches the archiver, so a
 *	refused call leaves the stream as it was.  The archiver is then run
 *	under a guard that catches whatever it raises; the stream's own
 *	state is brought back in order (busy count, the failed mark, memory
 *	of a half-read value) before the mapped error is raised, so no
 *	error leaves this file with the stream half updated.
 *
 *	Write streams remember goodLength, the archive's length after the
 *	last complete top-level value: a call that fails half way may have
 *	left a partial value behind it, and flushing or closing writes only
 *	what precedes it.
 *
 *	A write stream's file is written by the process that opened it
 *	only: a process forked from it has a copy of the stream whose
 *	writes could never reach the file, and whose flush or close would
 *	replace the file with the values of the moment of the fork.  There
 *	the writers refuse, and closing frees the copy without writing.
 *
 *	Read streams read through their decoder (KxTypedStreamDecoder.mm);
 *	each outermost read starts the count of what it allocates afresh.
 */
#include "KxTypedStreamPriv.h"
#include "KxError.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <objc/runtime.h>

/* Runs one piece of work on a stream inside RunGuarded. */
typedef void (*StreamProc)(KxTypedStream *ts, void *context);

typedef struct ValueWork {
    const char *canon;		/* canonical type of the value */
    void *data;			/* the value (written), or scratch (read) */
    KxTSAllocations allocations; /* read: C strings allocated so far */
    int root;			/* write an object as a root object */
    int conditional;		/* write an object conditionally */
} ValueWork;

/* Opening a stream on an archive inside KxGuard. */
typedef struct OpenWork {
    NSData *archive;
    KxTypedStream **streamPtr;
} OpenWork;

static void
OpenArchiveProc(void *context)
{
    OpenWork *work = (OpenWork *) context;
    *work->streamPtr = KxTSOpenArchive(work->archive, KX_TS_FILE_HEADER);
}

/*
 *----------------------------------------------------------------------
 * ArchiverVersion --
 *	The system version of this process's NSArchiver: what write streams
 *	store, and the highest a read stream accepts.
 *----------------------------------------------------------------------
 */
static unsigned archiverVersion;
static pthread_once_t archiverVersionOnce = PTHREAD_ONCE_INIT;

static void
FindArchiverVersion(void)
{
    NSArchiver *archiver = [[NSArchiver alloc] init];
    archiverVersion = [archiver systemVersion];
    [archiver release];
}

static unsigned
ArchiverVersion(void)
{
    pthread_once(&archiverVersionOnce, FindArchiverVersion);
    return archiverVersion;
}

/* Whether this process writes the file of ts (see the file comment). */
static int
WritesFile(KxTypedStream *ts)
{
    return ts->mode == KX_WRITEONLY && ts->pid == getpid();
}

/*
 *----------------------------------------------------------------------
 * RequireStream --
 *	Raises TYPEDSTREAM_CALLER_ERROR unless ts is a stream open in mode
 *	(0 for either; KX_WRITEONLY also asks that this process writes the
 *	file) that has not failed (unless failedOk).
 *----------------------------------------------------------------------
 */
static void
RequireStream(KxTypedStream *ts, int mode, int failedOk, const char *function)
{
    if (ts == NULL) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "%s: null stream", function);
    }
    if (mode != 0 && ts->mode != mode) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "%s: the stream is open for %s", function,
		  ts->mode == KX_READONLY ? "reading" : "writing");
    }
    if (mode == KX_WRITEONLY && !WritesFile(ts)) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR,
		  "%s: the stream was opened by process %ld, which alone writes its file",
		  function, (long) ts->pid);
    }
    if (ts->failed && !failedOk) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR,
		  "%s: the stream failed earlier and takes no more values", function);
    }
}

/*
 *----------------------------------------------------------------------
 * RequireIdle --
 *	Raises TYPEDSTREAM_CALLER_ERROR when another call on the stream is
 *	in progress (a flush or close from inside an object's coding).
 *----------------------------------------------------------------------
 */
static void
RequireIdle(KxTypedStream *ts, const char *function)
{
    if (ts->busy > 0) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR,
		  "%s: the stream is in the middle of another call", function);
    }
}

/*
 *----------------------------------------------------------------------
 * ParseType --
 *	Checks a type encoding argument into canon and *layout; raises
 *	TYPEDSTREAM_CALLER_ERROR for a null one and
 *	TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR for one the stream cannot handle.
 *----------------------------------------------------------------------
 */
static void
ParseType(const char *type, char *canon, KxTSLayout *layout, const char *function)
{
    if (type == NULL) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "%s: null type encoding", function);
    }
    const char *why = KxTSParseType(type, canon, layout);
    if (why != NULL) {
	KxTSRaise(TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR, "%s: %s in type encoding \"%.200s\"",
		  function, why, type);
    }
}

/*
 *----------------------------------------------------------------------
 * RunGuarded --
 *	Runs proc with the stream marked busy and catches whatever it
 *	raises.  Answers nil, or the caught exception (autoreleased; a
 *	throw that is no NSException becomes an internal error) after
 *	marking the stream failed.
 *----------------------------------------------------------------------
 */
static NSException *
RunGuarded(KxTypedStream *ts, StreamProc proc, void *context)
{
    NSException *caught = nil;

    ts->busy++;
    @try {
	proc(ts, context);
    } @catch (NSException *e) {
	caught = [e retain];
    } @catch (id thrown) {
	(void) thrown;
	caught = [[KxException exceptionWithCode: TYPEDSTREAM_INTERNAL_ERROR
					   data1: "an object that is no exception was thrown"
					   data2: NULL] retain];
    }
    ts->busy--;
    if (caught != nil) {
	ts->failed = 1;
    }
    return [caught autorelease];
}

/*
 *----------------------------------------------------------------------
 * RaiseCaught --
 *	Raises the error for an exception caught while writing or reading.
 *	Typed-stream errors and the errors of other layers are raised
 *	again unchanged; Foundation's exceptions become a typed-stream
 *	error with their reason.  Does not return.
 *----------------------------------------------------------------------
 */
static void __attribute__((noreturn))
RaiseCaught(NSException *caught, int writing)
{
    if ([caught isKindOfClass: [KxException class]]) {
	@throw caught;
    }
    const char *reason = [[caught reason] UTF8String];
    if (reason == NULL) {
	reason = "";
    }
    if ([[caught name] isEqualToString: NSMallocException]) {
	KxTSRaise(TYPEDSTREAM_INTERNAL_ERROR, "out of memory: %s", reason);
    }
    if (writing) {
	KxTSRaise(TYPEDSTREAM_CLASS_ERROR, "an object could not be archived: %s", reason);
    }
    KxTSRaise(TYPEDSTREAM_FILE_INCONSISTENCY,
	      "the stream is damaged: an object could not be read: %s", reason);
}

/*
 *----------------------------------------------------------------------
 * EndWrite --
 *	After a call that wrote without raising: when it was the outermost
 *	call, moves goodLength to the archive's end, unless the archive has
 *	outgrown what a reader accepts (then the stream fails and
 *	TYPEDSTREAM_INTERNAL_ERROR is raised).
 *----------------------------------------------------------------------
 */
static void
EndWrite(KxTypedStream *ts)
{
    if (ts->busy > 0 || ts->failed) {
	return;
    }
    if ([ts->archive length] > KX_TS_MAX_ARCHIVE) {
	ts->failed = 1;
	KxTSRaise(TYPEDSTREAM_INTERNAL_ERROR, "the stream has grown beyond its limit");
    }
    ts->goodLength = [ts->archive length];
}

/*
 *----------------------------------------------------------------------
 * WriteProc, ReadProc --
 *	The guarded work of a write (type record, then the value or object)
 *	and of a read (type record checked, then the value into scratch).
 *----------------------------------------------------------------------
 */
static void
WriteProc(KxTypedStream *ts, void *context)
{
    ValueWork *work = (ValueWork *) context;
    KxTSWriteTypeRecord(ts->archiver, work->canon);
    if (work->root) {
	[ts->archiver encodeRootObject: *(id *) work->data];
    } else if (work->conditional) {
	[ts->archiver encodeConditionalObject: *(id *) work->data];
    } else {
	KxTSEncodeValue(ts->archiver, work->canon, work->data);
    }
}

static void
ReadProc(KxTypedStream *ts, void *context)
{
    ValueWork *work = (ValueWork *) context;
    KxTSCheckTypeRecord(ts, work->canon);
    KxTSDecodeValue(ts, work->canon, work->data, &work->allocations);
}

/*
 *----------------------------------------------------------------------
 * WriteWork --
 *	Writes one top-level value of a checked type whose leaves were
 *	checked; raises what the archiver raised.
 *----------------------------------------------------------------------
 */
static void
WriteWork(KxTypedStream *ts, ValueWork *work)
{
    NSException *caught = RunGuarded(ts, WriteProc, work);
    if (caught != nil) {
	RaiseCaught(caught, 1);
    }
    EndWrite(ts);
}

/*
 *----------------------------------------------------------------------
 * WriteValue --
 *	The body of KxWriteType and KxWriteArray.
 *----------------------------------------------------------------------
 */
static void
WriteValue(KxTypedStream *ts, const char *type, const void *data, const char *function)
{
    char canon[KX_TS_MAX_TYPE_LENGTH + 1];
    KxTSLayout layout;

    RequireStream(ts, KX_WRITEONLY, 0, function);
    ParseType(type, canon, &layout, function);
    if (data == NULL && layout.size > 0) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "%s: null data", function);
    }
    KxTSCheckValue(canon, data);
    ValueWork work = { canon, (void *) data, { NULL, 0, 0 }, 0, 0 };
    WriteWork(ts, &work);
}

/*
 *----------------------------------------------------------------------
 * WriteObject --
 *	The body of the three object writers.
 *----------------------------------------------------------------------
 */
static void
WriteObject(KxTypedStream *ts, id object, int root, int conditional,
	    const char *function)
{
    RequireStream(ts, KX_WRITEONLY, 0, function);
    if (root && [ts->archiver rootDepth] > 0) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR,
		  "%s: a root object of this stream is being written already", function);
    }
    if (conditional && [ts->archiver rootDepth] == 0) {
	KxTSRaise(TYPEDSTREAM_WRITE_REFERENCE_ERROR,
		  "%s: object references are written only inside a root object", function);
    }
    KxTSCheckValue("@", &object);
    ValueWork work = { "@", &object, { NULL, 0, 0 }, root, conditional };
    WriteWork(ts, &work);
}

/*
 *----------------------------------------------------------------------
 * ReadValue --
 *	The body of the readers: reads a value of type into data, which is
 *	filled only on success.  A stream at its end raises
 *	TYPEDSTREAM_FILE_INCONSISTENCY and stays usable.
 *----------------------------------------------------------------------
 */
static void
ReadValue(KxTypedStream *ts, const char *type, void *data, const char *function)
{
    char canon[KX_TS_MAX_TYPE_LENGTH + 1];
    KxTSLayout layout;

    RequireStream(ts, KX_READONLY, 0, function);
    ParseType(type, canon, &layout, function);
    if (data == NULL && layout.size > 0) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "%s: null data", function);
    }
    if ([ts->decoder isAtEnd]) {
	KxTSRaise(TYPEDSTREAM_FILE_INCONSISTENCY, "%s: the stream has no more values",
		  function);
    }
    if (ts->busy == 0) {
	[ts->decoder beginRead];
    }
    void *scratch = calloc(1, layout.size > 0 ? layout.size : 1);
    if (scratch == NULL) {
	KxTSRaise(TYPEDSTREAM_INTERNAL_ERROR, "%s: out of memory", function);
    }
    ValueWork work = { canon, scratch, { NULL, 0, 0 }, 0, 0 };
    NSException *caught = RunGuarded(ts, ReadProc, &work);
    if (caught != nil) {
	KxTSFreeAllocations(&work.allocations, 1);
	free(scratch);
	RaiseCaught(caught, 0);
    }
    if (layout.size > 0) {
	memcpy(data, scratch, layout.size);
    }
    KxTSFreeAllocations(&work.allocations, 0);
    free(scratch);
}

/*
 *----------------------------------------------------------------------
 * ArrayType --
 *	Forms "[<count><elementType>]" into buffer (KX_TS_MAX_TYPE_LENGTH
 *	+ 1 bytes), raising for a null element type, a negative count or a
 *	result too long.
 *----------------------------------------------------------------------
 */
static void
ArrayType(char *buffer, const char *elementType, int count, const char *function)
{
    if (elementType == NULL) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "%s: null element type", function);
    }
    if (count < 0) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "%s: negative element count %d", function,
		  count);
    }
    int n = snprintf(buffer, KX_TS_MAX_TYPE_LENGTH + 1, "[%d%s]", count, elementType);
    if (n < 0 || n > KX_TS_MAX_TYPE_LENGTH) {
	KxTSRaise(TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR, "%s: element type too long",
		  function);
    }
}

/*
 *----------------------------------------------------------------------
 * OpenForWriting --
 *	Creates (or truncates) path and writes an empty stream into it.
 *	Answers null when that fails.
 *----------------------------------------------------------------------
 */
static KxTypedStream *
OpenForWriting(const char *path)
{
    struct stat st;
    int fd;

    do {
	fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
	return NULL;
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
	close(fd);
	return NULL;
    }
    KxTypedStream *ts = (KxTypedStream *) calloc(1, sizeof *ts);
    if (ts == NULL) {
	close(fd);
	return NULL;
    }
    ts->mode = KX_WRITEONLY;
    ts->fd = fd;
    ts->pid = getpid();
    ts->zone = KxDefaultMallocZone();
    ts->archive = [[NSMutableData alloc] init];
    ts->archiver = [[KxTSArchiver alloc] initForWritingWithMutableData: ts->archive];
    ts->goodLength = [ts->archive length];
    if (KxTSWriteFile(fd, ts->archive, ts->goodLength) != 0) {
	[ts->archiver release];
	[ts->archive release];
	close(fd);
	free(ts);
	return NULL;
    }
    return ts;
}

/*
 *----------------------------------------------------------------------
 * KxTSOpenArchive --
 *	A read stream on an archive: see KxTypedStreamPriv.h.  The stream
 *	takes over the caller's reference to the archive, also when it
 *	raises.
 *----------------------------------------------------------------------
 */
KxTypedStream *
KxTSOpenArchive(NSData *archive, NSUInteger base)
{
    KxTSDecoder *decoder = nil;
    @try {
	decoder = [[KxTSDecoder alloc] initWithArchive: archive baseOffset: base
					  newestVersion: ArchiverVersion()];
    } @finally {
	[archive release];
    }
    KxTypedStream *ts = (KxTypedStream *) calloc(1, sizeof *ts);
    if (ts == NULL) {
	[decoder release];
	KxTSRaise(TYPEDSTREAM_INTERNAL_ERROR, "out of memory");
    }
    ts->mode = KX_READONLY;
    ts->fd = -1;
    ts->zone = KxDefaultMallocZone();
    ts->decoder = decoder;
    return ts;
}

/*
 *----------------------------------------------------------------------
 * OpenForReading --
 *	Reads and checks path.  Answers null when it cannot be read;
 *	raises TYPEDSTREAM_FILE_INCONSISTENCY when it is no intact stream.
 *----------------------------------------------------------------------
 */
static KxTypedStream *
OpenForReading(const char *path)
{
    NSData *input;
    const char *why;

    switch (KxTSReadFile(path, &input, &why)) {
    case KX_TS_READ_UNREADABLE:
	return NULL;
    case KX_TS_READ_DAMAGED:
	KxTSRaise(TYPEDSTREAM_FILE_INCONSISTENCY, "%.300s: %s", path, why);
    default:
	break;
    }
    KxErrorInfo caught;
    KxTypedStream *ts = NULL;
    OpenWork work = { input, &ts };
    int code = KxGuard(OpenArchiveProc, &work, &caught);
    if (code != 0) {
	char message[400];
	snprintf(message, sizeof message, "%s", caught.data1 != NULL
		 && TS_getExceptionName(code) != NULL ? (const char *) caught.data1 : "");
	KxErrorInfoClear(&caught);
	KxTSRaise(code, "%.300s: %s", path, message);
    }
    return ts;
}

/*
 *----------------------------------------------------------------------
 * KxOpenTypedStreamForFile --
 *	See KxTypedStream.h.
 *----------------------------------------------------------------------
 */
KxTypedStream *
KxOpenTypedStreamForFile(const char *path, int mode)
{
    if (path == NULL) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "KxOpenTypedStreamForFile: null path");
    }
    switch (mode) {
    case KX_READONLY:
	return OpenForReading(path);
    case KX_WRITEONLY:
	return OpenForWriting(path);
    default:
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "KxOpenTypedStreamForFile: unknown mode %d",
		  mode);
    }
}

/*
 *----------------------------------------------------------------------
 * KxCloseTypedStream --
 *	Writes the file of a write stream (unless this process is a fork
 *	of the one that opened it), frees the stream, and only then raises
 *	when the write failed.
 *----------------------------------------------------------------------
 */
void
KxCloseTypedStream(KxTypedStream *ts)
{
    RequireStream(ts, 0, 1, "KxCloseTypedStream");
    RequireIdle(ts, "KxCloseTypedStream");

    int status = 0;
    if (ts->mode == KX_WRITEONLY) {
	status = WritesFile(ts) ? KxTSWriteFile(ts->fd, ts->archive, ts->goodLength) : 0;
	if (close(ts->fd) != 0 && status == 0 && errno != EINTR) {
	    status = errno;
	}
	[ts->archiver release];
	[ts->archive release];
    } else {
	[ts->decoder release];
    }
    free(ts);
    if (status != 0) {
	KxTSRaise(TYPEDSTREAM_INTERNAL_ERROR, "KxCloseTypedStream: cannot write the file: %s",
		  strerror(status));
    }
}

/*
 *----------------------------------------------------------------------
 * KxFlushTypedStream --
 *	Writes the complete values of a write stream to its file.
 *----------------------------------------------------------------------
 */
void
KxFlushTypedStream(KxTypedStream *ts)
{
    RequireStream(ts, KX_WRITEONLY, 1, "KxFlushTypedStream");
    RequireIdle(ts, "KxFlushTypedStream");
    int status = KxTSWriteFile(ts->fd, ts->archive, ts->goodLength);
    if (status != 0) {
	KxTSRaise(TYPEDSTREAM_INTERNAL_ERROR, "KxFlushTypedStream: cannot write the file: %s",
		  strerror(status));
    }
}

/*
 *----------------------------------------------------------------------
 * KxEndOfTypedStream, KxSystemVersion, KxTypedStreamClassVersion --
 *	See KxTypedStream.h.
 *----------------------------------------------------------------------
 */
int
KxEndOfTypedStream(KxTypedStream *ts)
{
    RequireStream(ts, KX_READONLY, 0, "KxEndOfTypedStream");
    return [ts->decoder isAtEnd] ? 1 : 0;
}

int
KxSystemVersion(KxTypedStream *ts)
{
    RequireStream(ts, 0, 1, "KxSystemVersion");
    unsigned version = ts->mode == KX_READONLY
	? [ts->decoder systemVersion] : [ts->archiver systemVersion];
    return version > INT_MAX ? INT_MAX : (int) version;
}

int
KxTypedStreamClassVersion(KxTypedStream *ts, const char *className)
{
    RequireStream(ts, 0, 1, "KxTypedStreamClassVersion");
    if (className == NULL) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "KxTypedStreamClassVersion: null class name");
    }
    if (ts->mode == KX_WRITEONLY) {
	Class cls = objc_lookUpClass(className);
	if (cls == Nil) {
	    KxTSRaise(TYPEDSTREAM_CLASS_ERROR, "KxTypedStreamClassVersion: no class named %.200s",
		      className);
	}
	return (int) class_getVersion(cls);
    }
    return [ts->decoder versionOfClassNamed: className];
}

/*
 *----------------------------------------------------------------------
 * Values and objects --
 *	See KxTypedStream.h.
 *----------------------------------------------------------------------
 */
void
KxWriteType(KxTypedStream *ts, const char *type, const void *data)
{
    WriteValue(ts, type, data, "KxWriteType");
}

void
KxReadType(KxTypedStream *ts, const char *type, void *data)
{
    ReadValue(ts, type, data, "KxReadType");
}

void
KxWriteArray(KxTypedStream *ts, const char *elementType, int count, const void *data)
{
    char type[KX_TS_MAX_TYPE_LENGTH + 1];
    RequireStream(ts, KX_WRITEONLY, 0, "KxWriteArray");
    ArrayType(type, elementType, count, "KxWriteArray");
    WriteValue(ts, type, data, "KxWriteArray");
}

void
KxReadArray(KxTypedStream *ts, const char *elementType, int count, void *data)
{
    char type[KX_TS_MAX_TYPE_LENGTH + 1];
    RequireStream(ts, KX_READONLY, 0, "KxReadArray");
    ArrayType(type, elementType, count, "KxReadArray");
    ReadValue(ts, type, data, "KxReadArray");
}

void
KxWriteObject(KxTypedStream *ts, id object)
{
    WriteObject(ts, object, 0, 0, "KxWriteObject");
}

void
KxWriteRootObject(KxTypedStream *ts, id object)
{
    WriteObject(ts, object, 1, 0, "KxWriteRootObject");
}

void
KxWriteObjectReference(KxTypedStream *ts, id object)
{
    WriteObject(ts, object, 0, 1, "KxWriteObjectReference");
}

id
KxReadObject(KxTypedStream *ts)
{
    id object = nil;
    ReadValue(ts, "@", &object, "KxReadObject");
    return object;
}

/*
 *----------------------------------------------------------------------
 * KxSetTypedStreamZone, KxGetTypedStreamZone --
 *	See KxTypedStream.h.  The decoder allocates objects from the zone
 *	itself; C strings are allocated from ts->zone as they are read.
 *----------------------------------------------------------------------
 */
void
KxSetTypedStreamZone(KxTypedStream *ts, KxZone *zone)
{
    RequireStream(ts, 0, 1, "KxSetTypedStreamZone");
    ts->zone = zone != NULL ? zone : KxDefaultMallocZone();
    if (ts->mode == KX_READONLY) {
	[ts->decoder setObjectZone: ts->zone];
    }
}

KxZone *
KxGetTypedStreamZone(KxTypedStream *ts)
{
    RequireStream(ts, 0, 1, "KxGetTypedStreamZone");
    return ts->zone;
}

/*
 *----------------------------------------------------------------------
 * KxSetTypedStreamAllowedClasses, KxSetTypedStreamAllocationLimit,
 * KxGetTypedStreamAllocationLimit --
 *	See KxTypedStream.h.
 *----------------------------------------------------------------------
 */
void
KxSetTypedStreamAllowedClasses(KxTypedStream *ts, const char *const *classNames, int count)
{
    RequireStream(ts, KX_READONLY, 1, "KxSetTypedStreamAllowedClasses");
    RequireIdle(ts, "KxSetTypedStreamAllowedClasses");
    if (count < 0 || (count > 0 && classNames == NULL)) {
	KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "KxSetTypedStreamAllowedClasses: %d class names",
		  count);
    }
    for (int i = 0; i < count; i++) {
	if (classNames[i] == NULL) {
	    KxTSRaise(TYPEDSTREAM_CALLER_ERROR,
		      "KxSetTypedStreamAllowedClasses: null class name");
	}
    }
    if (![ts->decoder setAllowedClassNames: classNames count: count]) {
	KxTSRaise(TYPEDSTREAM_INTERNAL_ERROR, "KxSetTypedStreamAllowedClasses: out of memory");
    }
}

void
KxSetTypedStreamAllocationLimit(KxTypedStream *ts, size_t limit)
{
    RequireStream(ts, KX_READONLY, 1, "KxSetTypedStreamAllocationLimit");
    RequireIdle(ts, "KxSetTypedStreamAllocationLimit");
    [ts->decoder setAllocationLimit: limit];
}

size_t
KxGetTypedStreamAllocationLimit(KxTypedStream *ts)
{
    RequireStream(ts, KX_READONLY, 1, "KxGetTypedStreamAllocationLimit");
    return [ts->decoder allocationLimit];
}
