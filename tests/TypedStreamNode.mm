/*
 * TypedStreamNode.mm --
 *
 *	TypedStreamTestNode (see TypedStreamNode.h): the strong reference
 *	is written with encodeObject:, the weak one with
 *	encodeConditionalObject:, then the number.
 */
#include "TypedStreamNode.h"

int typedStreamTestNodeDeallocs;

@implementation TypedStreamTestNode
+ (void) initialize
{
    [self setVersion: 3];
}
- (void) encodeWithCoder: (NSCoder *)coder
{
    [coder encodeObject: strong];
    [coder encodeConditionalObject: weak];
    [coder encodeValueOfObjCType: "i" at: &number];
}
- (id) initWithCoder: (NSCoder *)coder
{
    strong = [[coder decodeObject] retain];
    weak = [coder decodeObject];
    [coder decodeValueOfObjCType: "i" at: &number];
    return self;
}
- (void) dealloc
{
    typedStreamTestNodeDeallocs++;
    [strong release];
    [super dealloc];
}
@end
