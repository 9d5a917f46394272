/*
 * BqPerlObjectPriv.h --
 *
 *	What the files of BqPerlObject share: the shared nil placeholder,
 *	the hash behind an object, making the object's interpreter current,
 *	and the text of an object for trace lines.
 */
#ifndef BQ_PERL_OBJECT_PRIV_H
#define BQ_PERL_OBJECT_PRIV_H

#include "BqPerlObject.h"
#include "BqVantleInterpPriv.h"
#include "DravikMagic.h"
#include "DravikPerlError.h"
#include "DravikRawConvert.h"
#include "DravikValues.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The shared BqNil, which stands for nil in arrays; set in +initialize. */
id   DravikPriv_NilPlaceholder(void);

/* The hash value refers to, or null when value is null, no reference or
 * refers to something else. */
HV  *DravikPriv_ReferencedHash(SV *value);

/* The package of the hash value refers to, or null (no hash reference,
 * not blessed). */
HV  *DravikPriv_ObjectStash(SV *value);

/* The description of object as a C string for a trace line ("nil" for
 * nil); an exception raised by description is caught and named
 * instead.  Valid until the current autorelease pool goes. */
const char *DravikPriv_TraceText(id object);

#ifdef __cplusplus
}
#endif

/*
 * Method calls for the forwarding functions, which find a method once
 * and call it with the arguments of an invocation.
 */
@interface BqPerlObject (Calls)
/* The sub of an instance method (isInstanceMethod:), or null. */
- (CV *) _instanceMethod: (const char *)name;
/* invokeMethod:withArgs:classMethod:listContext: of an instance method in
 * scalar context, for its sub found by _instanceMethod:, with count
 * arguments from a C array. */
- (id) _callMethod: (const char *)name code: (CV *)code arguments: (id *)arguments
	count: (NSUInteger)count;
@end

/* Names up to this long are made on the C stack. */
#define DRAVIK_SMALL_NAME 64

/* Room for a name of length characters: small (DRAVIK_SMALL_NAME bytes)
 * when it fits, else an autoreleased buffer, gone with the pool even
 * when a call raises. */
static inline char *
DravikPriv_NameRoom(char *small, size_t length)
{
    if (length < DRAVIK_SMALL_NAME) {
	return small;
    }
    return (char *) [[NSMutableData dataWithLength: length + 1] mutableBytes];
}

/*
 * Key-value coding (BqPerlObjectKeyValue.mm): valueForKey: answers the
 * getter sub named as the key, else the hash entry (nil when missing);
 * takeValue:forKey: and setValue:forKey: call "set<Key>", else store
 * into the entry.  The getter and setter calls serve the hosts too.
 */
@interface BqPerlObject (KeyValue)
- (BOOL) _callGetter: (const char *)name value: (id *)value;
- (BOOL) _callSetter: (const char *)name value: (id)value;
- (id) valueForKey: (NSString *)key;
- (void) takeValue: (id)value forKey: (NSString *)key;
- (void) setValue: (id)value forKey: (NSString *)key;
@end

/* Makes the interpreter of the receiver's value current for the rest of
 * the method (raising, naming doing, when it was destroyed). */
#define DRAVIK_dOBJECT(doing) VANTLE_dCURRENT(_perl, doing)

#endif /* BQ_PERL_OBJECT_PRIV_H */
