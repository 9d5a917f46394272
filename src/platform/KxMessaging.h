/*
 * KxMessaging.h --
 *
 *	Finding the implementation a message reaches.  The runtime's own
 *	lookups answer a forwarding function when the receiver has no method
 *	for the selector, so a found implementation can always be called.
 */
#ifndef KX_MESSAGING_H
#define KX_MESSAGING_H

#include <objc/runtime.h>
#include <objc/message.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The receiver of a message to super and the class where the search for
 * the implementation starts. */
typedef struct objc_super KxSuper;

IMP KxMsgLookup(id receiver, SEL selector);
IMP KxMsgLookupSuper(KxSuper *super, SEL selector);

#ifdef __cplusplus
}
#endif

#endif
