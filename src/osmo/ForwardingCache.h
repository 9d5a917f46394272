/*
 * ForwardingCache.h --
 *
 *	What the message send learned about messages that their receivers
 *	answer through forwarding (no method: the class answers
 *	-methodSignatureForSelector: and -forwardInvocation:), kept per
 *	(class, selector) for the whole process, so that later sends neither
 *	build the signature record again, nor look for a method through every
 *	method list, nor ask -isProxy.
 *
 *	A message is kept with the text of the signature its receiver gave.
 *	Instances of one class may answer differently (proxies of different
 *	objects), so a later send still asks its receiver and uses what was
 *	kept only when the answer says the same.  Only for classes declared
 *	to answer alike for every instance (BqOsmo_SetClassWideSignatures)
 *	is no text kept, and the receiver not asked.
 *
 *	What was kept is forgotten when the runtime's generation moves
 *	(RuntimeChange.h), for one class and its subclasses with
 *	BqOsmo_ForgetForwarding, and by the send itself as soon as the
 *	class has a method for the selector.  The cache holds a fixed number
 *	of slots (a newer pair takes an older one's place), behind a spin
 *	lock: a lookup copies a few words out.
 */
#ifndef BQ_FORWARDING_CACHE_H
#define BQ_FORWARDING_CACHE_H

#include "MethodDesc.h"

#include <objc/runtime.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One forwarded message as the send learned it. */
typedef struct BqForwardedMessage {
    BqMethodSignature *signature;	/* the record the send used */
    const char *answer;		/* the text of the signature the receiver
				 * gave (interned), or null when every
				 * instance of the class answers alike */
    unsigned generation;	/* the runtime's before the send asked */
    char isProxy;		/* what the receiver answered to -isProxy */
    char isFormat;		/* the method takes a format and its values */
} BqForwardedMessage;

/* Copies the message kept for (cls, selector) into *message and answers
 * 1 when it was kept under generation; 0 otherwise. */
int  BqForwarding_Find(Class cls, SEL selector, unsigned generation,
		BqForwardedMessage *message);

/* Keeps *message for (cls, selector), in place of what was kept there. */
void BqForwarding_Remember(Class cls, SEL selector, const BqForwardedMessage *message);

/* Forgets what was kept for (cls, selector). */
void BqForwarding_ForgetPair(Class cls, SEL selector);

/* Whether cls or a superclass was declared to answer alike. */
int  BqForwarding_IsClassWide(Class cls);

/* Forgets every message kept for cls and for its subclasses (for every
 * class when cls is Nil): for code that changed how the class answers
 * -methodSignatureForSelector:, -isProxy or -forwardInvocation:. */
void BqOsmo_ForgetForwarding(Class cls);

/* Declares that every instance of cls and of its subclasses answers
 * -methodSignatureForSelector: the same for a selector that the class
 * answers through forwarding, so that a send asks no receiver of the
 * class once a first one answered.  A declaration that does not hold
 * makes sends use another instance's signature.  What was kept for the
 * class before is forgotten.  Nil is ignored. */
void BqOsmo_SetClassWideSignatures(Class cls);

#ifdef __cplusplus
}
#endif

#endif
