/*
 * BqAlert.mm --
 *
 *	The console alert.
 */
#include "BqAlert.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>

static void
PrintChoice(int key, const char *label, const char *separator)
{
    if (key == '\n') {
	printf("%s:%s%s", "<Enter>", label, separator);
    } else {
	printf("%c:%s%s", key, label, separator);
    }
}

static int
KeyMatches(int key, int typed)
{
    if (key == '*') {
	return 1;
    }
    if (key == '\n' && typed == '\r') {
	return 1;
    }
    return tolower((unsigned char) key) == tolower((unsigned char) typed);
}

int
BqTTYAlert(const char *title, const char *format,
	   int key1, const char *label1,
	   int key2, const char *label2,
	   int key3, const char *label3, ...)
{
    printf("\n");
    if (title != NULL) {
	printf("##%s: ", title);
    }
    if (format != NULL) {
	va_list ap;
	va_start(ap, label3);
	vprintf(format, ap);
	va_end(ap);
    }
    for (;;) {
	printf("  [");
	if (label3 != NULL) {
	    PrintChoice(key3, label3, ", ");
	}
	if (label2 != NULL) {
	    PrintChoice(key2, label2, ", ");
	}
	PrintChoice(key1, label1 != NULL ? label1 : "", "");
	printf("]: ");
	fflush(stdout);

	char buffer[2];
	if (fgets(buffer, sizeof buffer, stdin) == NULL) {
	    /* No more input can ever answer: take the first choice
	     * instead of asking forever. */
	    printf("\n");
	    fflush(stdout);
	    return 1;
	}
	int typed = (unsigned char) buffer[0];
	/* Swallow the rest of the line, so the next question starts fresh. */
	if (typed != '\n') {
	    int c;
	    while ((c = getchar()) != EOF && c != '\n') {
	    }
	}
	fflush(stdout);
	printf("\n");

	if (label3 != NULL && KeyMatches(key3, typed)) {
	    return -1;
	}
	if (label2 != NULL && KeyMatches(key2, typed)) {
	    return 0;
	}
	if (KeyMatches(key1, typed)) {
	    return 1;
	}
    }
}
