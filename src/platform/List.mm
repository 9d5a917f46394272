/*
 * List.mm --
 *
 *	A growable array of object pointers that doubles when full.
 */
#import <Foundation/Foundation.h>

#include "List.h"

#include <stdlib.h>
#include <string.h>

@implementation List

- (id) init
{
    return [self initCount: 0];
}

- (id) initCount: (unsigned)capacity
{
    if ((self = [super init]) != nil) {
	_capacity = capacity;
	_elements = capacity > 0 ? (id *) calloc(capacity, sizeof(id)) : NULL;
    }
    return self;
}

- (void) dealloc
{
    free(_elements);
    [super dealloc];
}

- (BOOL) grow
{
    unsigned capacity = _capacity > 0 ? _capacity * 2 : 8;
    id *elements = (id *) realloc(_elements, capacity * sizeof(id));
    if (elements == NULL) {
	return NO;
    }
    _elements = elements;
    _capacity = capacity;
    return YES;
}

- (id) addObject: (id)object
{
    if (object == nil || (_count == _capacity && ![self grow])) {
	return nil;
    }
    _elements[_count++] = object;
    return self;
}

- (id) addObjectIfAbsent: (id)object
{
    if ([self indexOf: object] == NX_NOT_IN_LIST) {
	return [self addObject: object];
    }
    return self;
}

- (id) removeObjectAt: (unsigned)index
{
    if (index >= _count) {
	return nil;
    }
    id object = _elements[index];
    memmove(&_elements[index], &_elements[index + 1], (_count - index - 1) * sizeof(id));
    _count--;
    return object;
}

- (id) removeObject: (id)object
{
    return [self removeObjectAt: [self indexOf: object]];
}

- (id) empty
{
    _count = 0;
    return self;
}

- (unsigned) count
{
    return _count;
}

- (id) objectAt: (unsigned)index
{
    return index < _count ? _elements[index] : nil;
}

- (unsigned) indexOf: (id)object
{
    for (unsigned i = 0; i < _count; i++) {
	if (_elements[i] == object) {
	    return i;
	}
    }
    return NX_NOT_IN_LIST;
}

@end
