/*
 * KxPlatform.h --
 *
 *	Everything the platform layer supplies on top of the real runtime
 *	and Foundation.  Layers above include this, never the GNU runtime's
 *	internals.
 */
#ifndef KX_PLATFORM_H
#define KX_PLATFORM_H

#include "BqTcl.h"
#include "KxArgs.h"
#include "KxClassIterator.h"
#include "KxObjectCheck.h"
#include "KxUniqueString.h"
#include "KxZone.h"
#include "KxAllocHooks.h"
#include "KxMessaging.h"
#include "KxTypedStream.h"

#ifdef __OBJC__
#include "KxError.h"
#include "KxRootObject.h"
#include "List.h"
#endif

#endif
