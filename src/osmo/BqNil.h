/*
 * BqNil.h --
 *
 *	The shared nil object: one instance that stands for nil where nil
 *	cannot go, inside collections and argument arrays.  It is never
 *	freed, prints as "<nil>" and is equal to nil.
 */
#ifndef BQ_NIL_H
#define BQ_NIL_H

#import <Foundation/NSObject.h>

@interface BqNil : NSObject
+ (id) sharedInstance;
@end

#endif
