/*
 * RySessionId.mm --
 *
 *	Random session ids and the check of their form.
 */
#import <Foundation/Foundation.h>

#include "RySessionId.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/random.h>
#include <unistd.h>

enum { IdBytes = RySessionIdLength / 2 };

/* Fills buffer with length bytes from /dev/urandom; answers whether it
 * could. */
static bool
ReadUrandom(unsigned char *buffer, size_t length)
{
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
	return false;
    }
    size_t done = 0;
    while (done < length) {
	ssize_t got = read(fd, buffer + done, length - done);
	if (got < 0 && errno == EINTR) {
	    continue;
	}
	if (got <= 0) {
	    break;
	}
	done += (size_t)got;
    }
    close(fd);
    return done == length;
}

/* Fills buffer with length random bytes from the kernel: getrandom, or
 * /dev/urandom where the kernel lacks that call.  Answers whether it
 * could. */
static bool
KernelRandom(unsigned char *buffer, size_t length)
{
    size_t done = 0;
    while (done < length) {
	ssize_t got = getrandom(buffer + done, length - done, 0);
	if (got < 0) {
	    if (errno == EINTR) {
		continue;
	    }
	    return errno == ENOSYS && ReadUrandom(buffer, length);
	}
	done += (size_t)got;
    }
    return true;
}

unsigned long long
RyRandomBits(void)
{
    unsigned long long bits = 0;
    if (!KernelRandom((unsigned char *)&bits, sizeof bits)) {
	[NSException raise: NSInternalInconsistencyException
		    format: @"no random bytes: %s", strerror(errno)];
    }
    return bits;
}

NSString *
RyNewSessionId(void)
{
    static const char digits[] = "0123456789abcdef";
    unsigned char bytes[IdBytes];
    if (!KernelRandom(bytes, sizeof bytes)) {
	[NSException raise: NSInternalInconsistencyException
		    format: @"no random bytes for a session id: %s",
			    strerror(errno)];
    }
    char text[RySessionIdLength + 1];
    for (size_t i = 0; i < IdBytes; i++) {
	text[2 * i] = digits[bytes[i] >> 4];
	text[2 * i + 1] = digits[bytes[i] & 0xf];
    }
    text[RySessionIdLength] = '\0';
    return [NSString stringWithUTF8String: text];
}

BOOL
RyIsSessionId(id text)
{
    if (![text isKindOfClass: [NSString class]]
	|| [text length] != RySessionIdLength) {
	return NO;
    }
    unichar characters[RySessionIdLength];
    [text getCharacters: characters range: NSMakeRange(0, RySessionIdLength)];
    for (size_t i = 0; i < RySessionIdLength; i++) {
	unichar c = characters[i];
	if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
	    return NO;
	}
    }
    return YES;
}
