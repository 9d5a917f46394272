/*
 * KxMessaging.mm --
 *
 *	Implementation lookup on GCC's runtime.
 */
#include "KxMessaging.h"

IMP
KxMsgLookup(id receiver, SEL selector)
{
    return objc_msg_lookup(receiver, selector);
}

IMP
KxMsgLookupSuper(KxSuper *super, SEL selector)
{
    return objc_msg_lookup_super(super, selector);
}
