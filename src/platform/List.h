/*
 * List.h --
 *
 *	The classic ordered collection of object pointers.  A List does not
 *	retain its elements: it holds classes, protocols and other objects
 *	whose lifetime others own.
 */
#ifndef KX_LIST_H
#define KX_LIST_H

#import <Foundation/NSObject.h>

@interface List : NSObject
{
    id *_elements;
    unsigned _count;
    unsigned _capacity;
}
- (id) initCount: (unsigned)capacity;
- (id) addObject: (id)object;
/* Adds the object unless it is already in the list (same pointer). */
- (id) addObjectIfAbsent: (id)object;
/* Removes the first occurrence; answers the object, or nil if absent. */
- (id) removeObject: (id)object;
- (id) removeObjectAt: (unsigned)index;
- (id) empty;
- (unsigned) count;
/* The element at index, or nil past the end. */
- (id) objectAt: (unsigned)index;
/* The index of the first occurrence, or NX_NOT_IN_LIST. */
- (unsigned) indexOf: (id)object;
@end

#define NX_NOT_IN_LIST 0xffffffffU

#endif
