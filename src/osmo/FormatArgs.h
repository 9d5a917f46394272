/*
 * FormatArgs.h --
 *
 *	printf-style formats of variadic methods.  A method whose last named
 *	argument is a format (+stringWithFormat:, -appendFormat:,
 *	+raise:format:) reads, after it, one C value per directive of the
 *	format.  The message send passes such values only once the format
 *	has been read here: which C value each directive reads, in order, so
 *	that the method never reads one that was not passed.
 */
#ifndef BQ_FORMAT_ARGS_H
#define BQ_FORMAT_ARGS_H

#include "BqTcl.h"

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Whether a selector name names a method whose last named argument is a
 * format followed by the values it formats: its last part is "format" or
 * ends in "Format".  Setters (setDateFormat:) and calendar formats
 * (descriptionWithCalendarFormat:) name a format as a value, not a list
 * of values, and are not such methods. */
int BqFormat_IsFormatSelector(const char *name);

/* Reads a format of length bytes (NUL bytes included, if any) and stores
 * into codes, in order, the type code of each value its directives read,
 * as the value travels after C's default argument promotions: 'i' int,
 * 'I' unsigned int, 'l' long, 'L' unsigned long, 'q' long long, 'Q'
 * unsigned long long, 'd' double, '*' char *, '@' object.  At most max
 * codes are stored; the answer is the number of values the format reads,
 * which may be more.  objects: whether "%@" is a directive (formats that
 * are NSStrings).  A directive that is unknown, incomplete, positional
 * ("%1$d") or "%n" (which writes through a pointer) makes the answer -1,
 * with a message appended to errors (unless errors is null). */
int BqFormat_Scan(const char *format, size_t length, int objects, char *codes, int max,
		Tcl_DString *errors);

#ifdef __cplusplus
}
#endif

#endif /* BQ_FORMAT_ARGS_H */
