/*
 * BqAlert.h --
 *
 *	A question asked on the console, answered by one key.
 */
#ifndef BQ_ALERT_H
#define BQ_ALERT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Prints the title and the formatted message, then the choices, and reads
 * one key: 1 for key1, 0 for key2, -1 for key3.  A key '*' matches any
 * character; a newline key also matches a carriage return.  Labels 2 and
 * 3 may be null.  At end of input the answer is 1. */
int BqTTYAlert(const char *title, const char *format,
	       int key1, const char *label1,
	       int key2, const char *label2,
	       int key3, const char *label3, ...);

#ifdef __cplusplus
}
#endif

#endif
