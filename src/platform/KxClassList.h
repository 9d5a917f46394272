/*
 * KxClassList.h --
 *
 *	Iteration over every class the runtime has.  The state holds a
 *	snapshot of the class list taken by KxInitHashState, so classes
 *	registered during the walk do not disturb it.
 *
 *	    KxHashState state = KxInitHashState();
 *	    Class cls;
 *	    while (KxNextHashState(&state, &cls)) { ... }
 *
 *	A walk that runs to the end frees its snapshot; one left early must
 *	call KxEndHashState.
 */
#ifndef KX_CLASS_LIST_H
#define KX_CLASS_LIST_H

#include <objc/runtime.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KxHashState {
    Class *classes;	/* snapshot, malloc'ed; null once the walk ended */
    int count;
    int next;
} KxHashState;

KxHashState KxInitHashState(void);
int         KxNextHashState(KxHashState *state, Class *classPtr);
void        KxEndHashState(KxHashState *state);

/* The number of classes the runtime has now. */
int         KxClassCount(void);

#ifdef __cplusplus
}
#endif

#endif
