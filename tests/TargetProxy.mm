/*
 * TargetProxy.mm --
 *
 *	The forwarding proxy of the tests (TargetProxy.h).
 */
#include "TargetProxy.h"

@implementation TargetProxy
- (id) initWithTarget: (id)target
{
    _target = target;
    return self;
}

- (NSMethodSignature *) methodSignatureForSelector: (SEL)selector
{
    return [_target methodSignatureForSelector: selector];
}

- (void) forwardInvocation: (NSInvocation *)invocation
{
    [invocation invokeWithTarget: _target];
}
@end
