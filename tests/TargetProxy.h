/*
 * TargetProxy.h --
 *
 *	A proxy that forwards every message to its target, for the tests of
 *	sends that reach their receiver through forwarding.
 */
#ifndef BQ_TEST_TARGET_PROXY_H
#define BQ_TEST_TARGET_PROXY_H

#import <Foundation/Foundation.h>

@interface TargetProxy : NSProxy
{
    id _target;
}
/* The target is not retained. */
- (id) initWithTarget: (id)target;
@end

#endif /* BQ_TEST_TARGET_PROXY_H */
