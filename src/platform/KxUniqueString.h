/*
 * KxUniqueString.h --
 *
 *	Interned strings: one pointer per distinct text, never freed, so
 *	interned strings can be compared by pointer and kept forever.
 */
#ifndef KX_UNIQUE_STRING_H
#define KX_UNIQUE_STRING_H

#ifdef __cplusplus
extern "C" {
#endif

/* Returns the one stored copy of text (null for null). */
const char *KxUniqueString(const char *text);

#ifdef __cplusplus
}
#endif

#endif
