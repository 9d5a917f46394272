/*
 * MethodClosure.h --
 *
 *	Method implementations made at run time: per method, machine code
 *	that the runtime calls like any compiled method, and which hands the
 *	call, with the addresses of its arguments, to a handler that a
 *	scripting-language binding supplies.  The code is one of a fixed set
 *	of compiled entries for methods whose arguments and result travel in
 *	general registers, else a libffi closure.  The call
 *	description comes from the message send's plan for the method's
 *	completed signature (CallPlan.h), so a closure and a send of the same
 *	signature share one prepared libffi interface.
 *
 *	Closures live as long as the process: the runtime cannot take a
 *	method away again, so its code must stay callable.  The binding may
 *	change a closure's client data at any time on the thread that owns
 *	it (to run new code for the same method).
 */
#ifndef BQ_METHOD_CLOSURE_H
#define BQ_METHOD_CLOSURE_H

#include "BqTcl.h"
#include "CallPlan.h"
#include "MethodDesc.h"

#include <objc/runtime.h>

#ifdef __cplusplus
extern "C" {
#endif

struct BqMethodClosure;

/*
 * The binding's side of a call: result points at storage for the
 * method's result as libffi wants it (a whole ffi_arg for integers
 * narrower than a word, see BqMethodClosure_StoreResult); arguments[i]
 * points at argument i (0 the receiver, 1 the selector).  A handler may
 * raise an Objective-C exception: it unwinds to the method's caller.
 */
typedef void (*BqMethodClosureHandler)(struct BqMethodClosure *closure, void *result,
	void **arguments);

typedef struct BqMethodClosure {
    IMP implementation;		/* what the runtime calls */
    const char *types;		/* the completed signature */
    BqCallPlan *plan;		/* its call description */
    SEL selector;
    Class definingClass;	/* the class (not metaclass) it belongs to */
    int classMethod;
    BqMethodClosureHandler handler;
    void *clientData;		/* the binding's */
    void *ffiClosure;		/* libffi's writable side, or null for a
				 * method on a direct entry */
} BqMethodClosure;

/*
 * A new closure for a method of definingClass with the given types (with
 * or without offsets), calling handler with clientData.  Null with a
 * message appended to errors when the types cannot be completed or
 * described to libffi, or no executable memory is left.
 */
BqMethodClosure *BqMethodClosure_New(Class definingClass, SEL selector, int classMethod,
		const char *types, BqMethodClosureHandler handler, void *clientData,
		Tcl_DString *errors);

/*
 * Stores a result converted into value (the C value of the method's
 * result type, code the type's code) where libffi takes it from a
 * closure: integers narrower than a word are widened, as the C calling
 * convention returns them; other values are copied as they are.
 */
void BqMethodClosure_StoreResult(const BqMethodClosure *closure, const void *value,
		void *result);

#ifdef __cplusplus
}
#endif

#endif /* BQ_METHOD_CLOSURE_H */
