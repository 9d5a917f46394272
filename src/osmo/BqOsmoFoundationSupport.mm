/*
 * BqOsmoFoundationSupport.mm --
 *
 *	The runtime layer's handling of unrecognised selectors on NSObject,
 *	the root of the library's classes.  It takes the place of
 *	Foundation's own, so every unrecognised message ends in the layer's
 *	log line and exception, for instances and classes alike.  The
 *	method-description queries of this root are the platform's
 *	(KxRootObject).
 */
#import <Foundation/Foundation.h>

#include "BqOsmoSupport.h"

/* Replacing Foundation's handler is the point of this category. */
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wobjc-protocol-method-implementation"

@implementation NSObject (BqOsmoFoundationSupport)

- (void) doesNotRecognizeSelector: (SEL)selector
{
    BqOsmo_DoesNotRecognizeSelector(self, selector);
}

+ (void) doesNotRecognizeSelector: (SEL)selector
{
    BqOsmo_DoesNotRecognizeSelector(self, selector);
}

@end

#pragma clang diagnostic pop
