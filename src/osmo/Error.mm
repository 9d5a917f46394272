/*
 * Error.mm --
 *
 *	The error-log function of the runtime layer.
 */
#include "BqOsmoError.h"
#include "BqTcl.h"

#include <stdarg.h>
#include <stdio.h>

static int errorsReady;
static char crashCatch;

static void
DefaultLogError(const char *format, ...)
{
    fprintf(stderr, "%%%%Osmo Error: ");
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fflush(stderr);
}

static BqOsmo_LogErrorFunction logError = DefaultLogError;

void
BqOsmo_ErrorInit(void)
{
    if (errorsReady) {
	return;
    }
    errorsReady = 1;
    /* The hash tables and dynamic strings panic through us. */
    Tcl_SetPanicProc(BqTcl_panic);
}

BqOsmo_LogErrorFunction
BqOsmo_GetLogErrorFunction(void)
{
    return logError;
}

BqOsmo_LogErrorFunction
BqOsmo_SetLogErrorFunction(BqOsmo_LogErrorFunction fn)
{
    BqOsmo_LogErrorFunction previous = logError;
    logError = fn != NULL ? fn : DefaultLogError;
    return previous;
}

char *
BqOsmo_GetCrashCatch(void)
{
    return &crashCatch;
}
