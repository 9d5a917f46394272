/*
 * MsgSend.h --
 *
 *	The generic message send: one Objective-C message (or one function
 *	call through a method description) on behalf of a scripting language
 *	whose arguments are interpreter values.  It finds the method's
 *	signature, checks the argument count, converts each argument through
 *	the binding's C type table, calls the implementation through libffi
 *	under an exception guard and converts the result back.  It never
 *	raises: every failure is a message in the caller's dynamic string.
 */
#ifndef BQ_MSG_SEND_H
#define BQ_MSG_SEND_H

#include "CTypes.h"
#include "KxMessaging.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Send kinds. */
#define BQ_SEND_MESSAGE  0	/* receiver is the object (instance or class) */
#define BQ_SEND_SUPER    1	/* receiver is a KxSuper record */
#define BQ_SEND_FUNCTION 2	/* method (with its implementation) is called */
/* Added to BQ_SEND_MESSAGE or BQ_SEND_SUPER by a caller that knows the
 * receiver passed the validity check and is alive (an object handle whose
 * object was checked when it was made and is unregistered as it is
 * freed): the send does not check it again.  Hooks see the plain kind. */
#define BQ_SEND_RECEIVER_CHECKED 0x100

/* A runtime error with this code ends a send that reports success. */
#define BQ_ERROR_SILENT           136661308

/* Called after all arguments are converted, with the frame header (four
 * words: the stacked-argument block, the result buffer or null, 0, 0)
 * and the frame size; a non-zero answer ends the send with that value. */
typedef int (*BqOsmo_MessageHook2)(void *interp, Tcl_DString *errors, CTypeTable *table,
	int kind, void *receiver, SEL selector, BqOsmoMethodDescription *method,
	int argc, void **argv, void **frameHeader, int frameSize);

/* argv[0] stands for the receiver and argv[1] for the selector, so argc
 * counts both.  result is handed to the from-C converter as the place
 * for the result's interpreter value.  Answers 0, or 1 with a message
 * appended to errors, or the non-zero answer of a hook.
 *
 * A method whose last named argument is a printf-style format
 * (FormatArgs.h) takes, after it, the values the format's directives
 * read (at most 1024 of them), each converted to the C type its
 * directive names.  A send that succeeds may leave a warning in errors:
 * "Redundant argument in <selector>" when more values were given than
 * the format reads (those are not passed).  The caller shows it or
 * drops it. */
int BqOsmo_MsgSend(void *interp, Tcl_DString *errors, CTypeTable *table, int kind,
	void *receiver, SEL selector, BqOsmoMethodDescription *method,
	int argc, void **argv, void *result);

/* Appends how the argument count of a message (or function) named name
 * misses: "addObject: takes 1 argument, 2 given", with "at least" before
 * the count a variadic method takes. */
void BqOsmo_AppendArgumentCount(Tcl_DString *errors, const char *name, int takes, int given,
		int atLeast);

void                BqOsmo_SetMessageHook2(BqOsmo_MessageHook2 hook);
BqOsmo_MessageHook2 BqOsmo_GetMessageHook2(void);

/* The exception that ended this thread's last send that failed on one,
 * retained for the caller, or nil; taking it clears it.  A binding that
 * turns the failure into an error of its own language takes it, so code
 * of that language can later hand the very exception on. */
id   BqOsmo_TakeSendException(void);

/* The process-wide slots that receive float and double results. */
float  *BqOsmo_FloatResultSlot(void);
double *BqOsmo_DoubleResultSlot(void);

#ifdef __cplusplus
}
#endif

#endif
