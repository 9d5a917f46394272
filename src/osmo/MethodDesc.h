/*
 * MethodDesc.h --
 *
 *	Method signatures: building a complete signature (return type, frame
 *	size, then each argument type with its frame offset) from a list of
 *	types, completing type strings that come without offsets or with
 *	another compiler's offsets, and checking selector names.
 *
 *	A complete signature here places each argument at an offset that is
 *	a multiple of the 8-byte word: offsets start at 0 and advance by each
 *	argument's size rounded up to a word; the frame size is the last
 *	offset plus that argument's own size.  "v@:i" completes to
 *	"v20@0:8i16".
 *
 *	Completed signatures are kept in a process-wide cache, one record per
 *	distinct signature, never freed.  The message send asks for the
 *	record of a method's type string on every send, so a cache hit costs
 *	one string hash lookup and nothing else: no allocation, no walk.
 */
#ifndef BQ_METHOD_DESC_H
#define BQ_METHOD_DESC_H

#include "BqTcl.h"
#include "CTypes.h"
#include "TypeEncoding.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * BqMethodSignature --
 *	The cache's record of one completed signature.  It is made once per
 *	distinct signature, lives in the runtime zone for the whole process
 *	and never moves, so callers may keep pointers to it and to its types.
 *
 *	callInfo belongs to the message send, not to this module: it is null
 *	when the record is made, and the message send stores there, once, what
 *	it prepared for calling methods of this signature (its libffi call
 *	interface and argument layout), so that later sends reuse it without
 *	allocating.  Whatever it stores must live as long as the process.
 *	Nothing else reads or writes it.
 */
typedef struct BqMethodSignature {
    const char *types;		/* the completed signature, NUL-terminated */
    int numberOfArguments;	/* receiver and selector included */
    int frameSize;		/* bytes of the argument frame */
    void *callInfo;		/* the message send's; see above */
} BqMethodSignature;

/* The number of arguments a selector name takes, or -1 when malformed. */
int  BqOsmo_ArgcForMName(const char *name);

/* Builds a complete signature from types[0] (the return type) and
 * types[1..argc-1] (receiver and selector included) into result; 0, or 1
 * with a message in result.  table may be null. */
int  BqOsmo_GetMethodDescription(CTypeTable *table, int argc,
		const char *const *types, Tcl_DString *result);

/* Completes a type string (with or without offsets) into result, without
 * the cache; 0, or 1 with a message in result. */
int  BqMethod_CompleteTypes(const char *types, Tcl_DString *result);

/* The completed signature of a type string with or without offsets, as
 * cached (it lives for the process); null when it cannot be completed,
 * the reason then printed on standard error. */
const char *BqMethod_SignatureForString(const char *types);

/* The cached record of a type string with or without offsets, for the
 * message send; null when it cannot be completed, the reason then
 * appended to errors (unless errors is null). */
BqMethodSignature *BqMethod_SignatureRecordForString(const char *types, Tcl_DString *errors);

#ifdef __OBJC__
@class NSMethodSignature;
/* The cached record for the types of a method signature object; null with
 * a message appended to errors when they cannot be completed. */
BqMethodSignature *BqMethod_SignatureRecordForSignature(NSMethodSignature *signature,
		Tcl_DString *errors);
/* The whole type string a method signature object of GNUstep's own holds
 * (owned by the object); null for nil, for no method signature, and for a
 * signature class that reports its types itself.  Cheap: no allocation,
 * no walk of method lists. */
const char *BqMethod_SignatureText(NSMethodSignature *signature);
/* Appends the completed types of a method signature object to result;
 * 0, or 1 with a message in result. */
int  BqMethod_SignatureForSignature(NSMethodSignature *signature, Tcl_DString *result);
#endif

#ifdef __cplusplus
}
#endif

#endif /* BQ_METHOD_DESC_H */
