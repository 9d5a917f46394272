/*
 * KxTypedStreamFile.mm --
 *
 *	The file around an archive: a fixed header with a magic, a format
 *	version, the archive's length and its CRC-32, then the archive (the
 *	layout is in KxTypedStream.h).  Reading checks all of it; the
 *	archive inside is the decoder's to check.  The checksum catches
 *	accidental damage early, with a clear message; it is no defence
 *	against a file made on purpose, whose checksum anyone can
 *	recompute.  Writing replaces the whole file each time, from an open
 *	descriptor.
 *
 *	A file for reading must be a regular file: it is opened without
 *	blocking, so a FIFO or device cannot stall the process, and then
 *	refused.
 */
#include "KxTypedStreamPriv.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define HEADER_SIZE	KX_TS_FILE_HEADER
#define FORMAT_VERSION	1

static const unsigned char magic[8] = { 'K', 'x', 'T', 'S', 't', 'r', 'm', 0x1a };

/*
 *----------------------------------------------------------------------
 * KxTSChecksum --
 *	CRC-32 (reflected polynomial 0xedb88320, as zlib and PNG use) of
 *	length bytes.  The table is built once, on first use.
 *----------------------------------------------------------------------
 */
static uint32_t crcTable[256];
static pthread_once_t crcTableOnce = PTHREAD_ONCE_INIT;

static void
MakeCrcTable(void)
{
    for (uint32_t n = 0; n < 256; n++) {
	uint32_t c = n;
	for (int k = 0; k < 8; k++) {
	    c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
	}
	crcTable[n] = c;
    }
}

unsigned long
KxTSChecksum(const unsigned char *bytes, size_t length)
{
    pthread_once(&crcTableOnce, MakeCrcTable);
    uint32_t crc = 0xffffffffu;
    for (size_t i = 0; i < length; i++) {
	crc = crcTable[(crc ^ bytes[i]) & 0xff] ^ (crc >> 8);
    }
    return crc ^ 0xffffffffu;
}

/*
 *----------------------------------------------------------------------
 * PutLittle, GetLittle --
 *	Store and load an n-byte little-endian unsigned integer.
 *----------------------------------------------------------------------
 */
static void
PutLittle(unsigned char *p, uint64_t value, int n)
{
    for (int i = 0; i < n; i++) {
	p[i] = (unsigned char) (value >> (8 * i));
    }
}

static uint64_t
GetLittle(const unsigned char *p, int n)
{
    uint64_t value = 0;
    for (int i = n - 1; i >= 0; i--) {
	value = (value << 8) | p[i];
    }
    return value;
}

/*
 *----------------------------------------------------------------------
 * WriteAt --
 *	Writes all length bytes at offset, through short writes and
 *	interruptions.  Answers 0 or an errno value.
 *----------------------------------------------------------------------
 */
static int
WriteAt(int fd, const unsigned char *bytes, size_t length, off_t offset)
{
    while (length > 0) {
	ssize_t written = pwrite(fd, bytes, length, offset);
	if (written < 0) {
	    if (errno == EINTR) {
		continue;
	    }
	    return errno;
	}
	if (written == 0) {
	    return EIO;
	}
	bytes += written;
	length -= (size_t) written;
	offset += written;
    }
    return 0;
}

/*
 *----------------------------------------------------------------------
 * KxTSWriteFile --
 *	Replaces the contents of fd with the header and the first length
 *	bytes of archive.  Answers 0 or an errno value.
 *----------------------------------------------------------------------
 */
int
KxTSWriteFile(int fd, NSData *archive, NSUInteger length)
{
    const unsigned char *bytes = (const unsigned char *) [archive bytes];
    unsigned char header[HEADER_SIZE];

    memcpy(header, magic, sizeof magic);
    PutLittle(header + 8, FORMAT_VERSION, 4);
    PutLittle(header + 12, length, 8);
    PutLittle(header + 20, KxTSChecksum(bytes, length), 4);

    int status = WriteAt(fd, header, HEADER_SIZE, 0);
    if (status == 0) {
	status = WriteAt(fd, bytes, length, HEADER_SIZE);
    }
    while (status == 0 && ftruncate(fd, (off_t) (HEADER_SIZE + length)) != 0) {
	if (errno != EINTR) {
	    status = errno;
	}
    }
    return status;
}

/*
 *----------------------------------------------------------------------
 * ReadFully --
 *	Reads up to length bytes, through short reads and interruptions,
 *	stopping early only at the end of the file.  Answers 0 or an errno
 *	value; *gotPtr receives the number of bytes read.
 *----------------------------------------------------------------------
 */
static int
ReadFully(int fd, unsigned char *bytes, size_t length, size_t *gotPtr)
{
    size_t got = 0;
    while (got < length) {
	ssize_t n = read(fd, bytes + got, length - got);
	if (n < 0) {
	    if (errno == EINTR) {
		continue;
	    }
	    *gotPtr = got;
	    return errno;
	}
	if (n == 0) {
	    break;
	}
	got += (size_t) n;
    }
    *gotPtr = got;
    return 0;
}

/*
 *----------------------------------------------------------------------
 * CheckHeader --
 *	Checks the file header against the file's size; stores the
 *	archive's length.  Answers null or the reason.
 *----------------------------------------------------------------------
 */
static const char *
CheckHeader(const unsigned char *header, size_t got, off_t fileSize,
	    size_t *lengthPtr)
{
    if (got < HEADER_SIZE) {
	return got >= sizeof magic && memcmp(header, magic, sizeof magic) == 0
	    ? "the file is truncated" : "the file is no typed stream";
    }
    if (memcmp(header, magic, sizeof magic) != 0) {
	return "the file is no typed stream";
    }
    if (fileSize < HEADER_SIZE) {
	return "the file changed while it was read";
    }
    if (GetLittle(header + 8, 4) != FORMAT_VERSION) {
	return "the file has an unknown typed-stream format version";
    }
    uint64_t length = GetLittle(header + 12, 8);
    if (length > KX_TS_MAX_ARCHIVE) {
	return "the file declares an impossible length";
    }
    if (length > (uint64_t) (fileSize - HEADER_SIZE)) {
	return "the file is truncated";
    }
    if (length < (uint64_t) (fileSize - HEADER_SIZE)) {
	return "the file has bytes after its end";
    }
    *lengthPtr = (size_t) length;
    return NULL;
}

/*
 *----------------------------------------------------------------------
 * ReadArchive --
 *	Reads and checks the rest of an open file.  Answers a status of
 *	KxTSReadFile; on KX_TS_READ_OK *archivePtr receives a new archive.
 *----------------------------------------------------------------------
 */
static int
ReadArchive(int fd, off_t fileSize, NSData **archivePtr, const char **whyPtr)
{
    unsigned char header[HEADER_SIZE];
    size_t got, length = 0;

    if (ReadFully(fd, header, HEADER_SIZE, &got) != 0) {
	return KX_TS_READ_UNREADABLE;
    }
    *whyPtr = CheckHeader(header, got, fileSize, &length);
    if (*whyPtr != NULL) {
	return KX_TS_READ_DAMAGED;
    }
    unsigned char *bytes = (unsigned char *) malloc(length > 0 ? length : 1);
    if (bytes == NULL) {
	return KX_TS_READ_UNREADABLE;
    }
    if (ReadFully(fd, bytes, length, &got) != 0) {
	free(bytes);
	return KX_TS_READ_UNREADABLE;
    }
    if (got < length) {
	*whyPtr = "the file is truncated";
    } else if (KxTSChecksum(bytes, length) != GetLittle(header + 20, 4)) {
	*whyPtr = "the file is damaged (checksum mismatch)";
    }
    if (*whyPtr != NULL) {
	free(bytes);
	return KX_TS_READ_DAMAGED;
    }
    *archivePtr = [[NSData alloc] initWithBytesNoCopy: bytes length: length
					 freeWhenDone: YES];
    return KX_TS_READ_OK;
}

/*
 *----------------------------------------------------------------------
 * KxTSReadFile --
 *	Opens path and reads its archive; see KxTypedStreamPriv.h for the
 *	answers.
 *----------------------------------------------------------------------
 */
int
KxTSReadFile(const char *path, NSData **archivePtr, const char **whyPtr)
{
    struct stat st;
    int fd;

    *archivePtr = nil;
    *whyPtr = NULL;
    do {
	fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
	return KX_TS_READ_UNREADABLE;
    }
    int status = KX_TS_READ_UNREADABLE;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
	status = ReadArchive(fd, st.st_size, archivePtr, whyPtr);
    }
    close(fd);
    return status;
}
