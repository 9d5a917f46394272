/*
 * KxTypedStreamError.mm --
 *
 *	The typed-stream error codes: their names, and raising one with a
 *	message.  The error frames copy the message only for the runtime's
 *	own code range, so the message of a typed-stream error must outlive
 *	the raise by itself: it is formatted into one of a few rotating
 *	buffers, which stays valid until that many more errors were raised
 *	on the same thread: each thread has buffers of its own (made at its
 *	first error), so the rotation needs no lock.
 */
#include "KxTypedStreamPriv.h"
#include "KxError.h"
#include "KxThreadStorage.h"

#include <stdarg.h>
#include <stdio.h>

#define MESSAGE_SLOTS	8
#define MESSAGE_SIZE	512

typedef struct MessageRing {
    int next;
    char messages[MESSAGE_SLOTS][MESSAGE_SIZE];
} MessageRing;

static KxThreadStorage messageRings = KX_THREAD_STORAGE_INITIALIZER(sizeof(MessageRing), NULL);

static const char *const errorNames[] = {
    "TYPEDSTREAM_CALLER_ERROR",
    "TYPEDSTREAM_FILE_INCONSISTENCY",
    "TYPEDSTREAM_CLASS_ERROR",
    "TYPEDSTREAM_TYPE_DESCRIPTOR_ERROR",
    "TYPEDSTREAM_WRITE_REFERENCE_ERROR",
    "TYPEDSTREAM_INTERNAL_ERROR",
};

/*
 *----------------------------------------------------------------------
 * TS_getExceptionName --
 *	The name of a typed-stream error code, or null for any other code.
 *----------------------------------------------------------------------
 */
const char *
TS_getExceptionName(int code)
{
    int index = code - TYPEDSTREAM_CALLER_ERROR;
    if (index < 0 || index >= (int) (sizeof errorNames / sizeof errorNames[0])) {
	return NULL;
    }
    return errorNames[index];
}

/*
 *----------------------------------------------------------------------
 * KxTSRaise --
 *	Formats the message into the next rotating buffer (cut to its size)
 *	and raises code with it as data1.  Without memory for the buffers,
 *	the error is raised with the format as its message.  Does not return.
 *----------------------------------------------------------------------
 */
void
KxTSRaise(int code, const char *format, ...)
{
    MessageRing *ring = (MessageRing *) KxThreadStorageGet(&messageRings);
    if (ring == NULL) {
	_KxRaiseError(code, format, NULL);
    }
    char *message = ring->messages[ring->next];
    ring->next = (ring->next + 1) % MESSAGE_SLOTS;

    va_list args;
    va_start(args, format);
    vsnprintf(message, MESSAGE_SIZE, format, args);
    va_end(args);
    _KxRaiseError(code, message, NULL);
}
