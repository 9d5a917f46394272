/*
 * ProtocolTwinTest.mm --
 *
 *	A second compiled module that declares and adopts PrtOther, so the
 *	process holds two Protocol objects of that name, as it does whenever
 *	several modules adopt one protocol.  ProtocolTest.mm compares them.
 */
#import <Foundation/Foundation.h>

@protocol PrtOther
- (double) otherValue;
@end

@interface PrtTwinAdopter : NSObject <PrtOther>
@end
@implementation PrtTwinAdopter
- (double) otherValue { return 3.0; }
@end

/* This module's own PrtOther. */
Protocol *
PrtOtherTwin(void)
{
    return @protocol(PrtOther);
}
