/*
 * LateCategory.mm --
 *
 *	A module that RuntimeChangeTest.mm loads while it runs: a category
 *	of NSObject, which the runtime's loader attaches when the module is
 *	loaded, as it attaches those of any shared object loaded late.
 */
#import <Foundation/Foundation.h>

@interface NSObject (BqLateCategory)
- (int) bqLateCategoryAnswer;
@end

@implementation NSObject (BqLateCategory)
- (int) bqLateCategoryAnswer
{
    return 42;
}
@end
