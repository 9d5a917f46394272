/*
 * ByteValues.h --
 *
 *	The interpreter values of the runtime layer's tests: a C value's
 *	bytes, passed through a C type table whose converters copy them, so a
 *	test sends messages and reads results without any Perl.
 */
#ifndef BQ_TEST_BYTE_VALUES_H
#define BQ_TEST_BYTE_VALUES_H

#include "BqOsmo.h"

#include <string.h>

/* An interpreter value of a test table. */
typedef struct Value {
    int refuse;			/* the to-C converter fails */
    unsigned qualifiers;	/* what the from-C converter was given */
    unsigned char bytes[256];
} Value;

static inline int
BytesToC(void *, Tcl_DString *errors, CTypeTable *, void *ivalue, void *cstorage,
	int, const char *type, CTypeEntry *, unsigned)
{
    Value *value = (Value *) ivalue;
    if (value == NULL || value->refuse) {
	BqTcl_DStringApp(errors, "refused value", (char *) NULL);
	return 1;
    }
    memcpy(cstorage, value->bytes, (size_t) BqTypeSpec_SizeOfType(type));
    return 0;
}

static inline int
BytesFromC(void *, Tcl_DString *, CTypeTable *, void *ivalue, void *cstorage,
	int, const char *type, CTypeEntry *, unsigned qualifiers)
{
    Value *value = (Value *) ivalue;
    value->qualifiers = qualifiers;
    int size = BqTypeSpec_SizeOfType(type);
    if (size > 0) {
	memcpy(value->bytes, cstorage, (size_t) size);
    }
    return 0;
}

/* The value holding x. */
template <typename T>
static inline Value
V(T x)
{
    Value value;
    memset(&value, 0, sizeof value);
    memcpy(value.bytes, &x, sizeof x);
    return value;
}

/* The T that value holds. */
template <typename T>
static inline T
As(const Value &value)
{
    T x;
    memcpy(&x, value.bytes, sizeof x);
    return x;
}

#endif /* BQ_TEST_BYTE_VALUES_H */
