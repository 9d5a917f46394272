/*
 * KxClassIterator.h --
 *
 *	Iteration over every class the runtime has.  The state holds a
 *	snapshot of the class list taken by KxClassIteratorStart, so classes
 *	registered during the walk do not disturb it.
 *
 *	    KxClassIterator state = KxClassIteratorStart();
 *	    Class cls;
 *	    while (KxClassIteratorNext(&state, &cls)) { ... }
 *
 *	A walk that runs to the end frees its snapshot; one left early must
 *	call KxClassIteratorEnd.
 */
#ifndef KX_CLASS_ITERATOR_H
#define KX_CLASS_ITERATOR_H

#include <objc/runtime.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KxClassIterator {
    Class *classes;	/* snapshot, malloc'ed; null once the walk ended */
    int count;
    int next;
} KxClassIterator;

KxClassIterator KxClassIteratorStart(void);
int             KxClassIteratorNext(KxClassIterator *state, Class *classPtr);
void            KxClassIteratorEnd(KxClassIterator *state);

/* The number of classes the runtime has now. */
int             KxClassCount(void);

#ifdef __cplusplus
}
#endif

#endif
