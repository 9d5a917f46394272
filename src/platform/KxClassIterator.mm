/*
 * KxClassIterator.mm --
 *
 *	Class-list iteration on objc_getClassList.
 */
#include "KxClassIterator.h"

#include <stdlib.h>

int
KxClassCount(void)
{
    return objc_getClassList(NULL, 0);
}

KxClassIterator
KxClassIteratorStart(void)
{
    KxClassIterator state = { NULL, 0, 0 };
    int count = objc_getClassList(NULL, 0);
    if (count <= 0) {
	return state;
    }
    state.classes = (Class *) malloc(sizeof(Class) * (size_t) count);
    if (state.classes == NULL) {
	return state;
    }
    /* The list can only grow between the two calls; take what fits. */
    state.count = objc_getClassList(state.classes, count);
    if (state.count > count) {
	state.count = count;
    }
    return state;
}

int
KxClassIteratorNext(KxClassIterator *state, Class *classPtr)
{
    if (state->classes == NULL) {
	return 0;
    }
    if (state->next >= state->count) {
	KxClassIteratorEnd(state);
	return 0;
    }
    *classPtr = state->classes[state->next++];
    return 1;
}

void
KxClassIteratorEnd(KxClassIterator *state)
{
    free(state->classes);
    state->classes = NULL;
    state->count = 0;
    state->next = 0;
}
