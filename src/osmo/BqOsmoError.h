/*
 * BqOsmoError.h --
 *
 *	The runtime layer's error log: a printf-style function that writes
 *	"%%Osmo Error: " and the message to standard error.
 */
#ifndef BQ_OSMO_ERROR_H
#define BQ_OSMO_ERROR_H

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*BqOsmo_LogErrorFunction)(const char *format, ...);

void                    BqOsmo_ErrorInit(void);
BqOsmo_LogErrorFunction BqOsmo_GetLogErrorFunction(void);
/* Installs another log function (null restores the default); returns
 * the one it replaces.  Hosts that keep their own logs use it. */
BqOsmo_LogErrorFunction BqOsmo_SetLogErrorFunction(BqOsmo_LogErrorFunction fn);
char                   *BqOsmo_GetCrashCatch(void);

#ifdef __cplusplus
}
#endif

#endif
