/*
 * MethodClosure.mm --
 *
 *	libffi closures as method implementations (MethodClosure.h).
 */
#import <Foundation/Foundation.h>

#include "MethodClosure.h"

#include <ffi.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <utility>

/*
 * Direct entries.  A method whose arguments all travel in general
 * registers (integers, pointers, objects; at most BQ_DIRECT_MAX_ARGS with
 * the receiver and selector) and whose result is such a word or nothing
 * needs no libffi closure, which classifies every argument again on every
 * call: it gets one of a fixed set of compiled entries, each of which
 * knows its slot and so its closure.  An entry takes all six argument
 * registers as words (those the caller did not set hold what they hold;
 * nothing reads them but as the method's types say) and hands the
 * handler their addresses, which on this little-endian machine are the
 * addresses of the narrower values too.  Once the entries are all taken,
 * methods get libffi closures.
 */
enum { DIRECT_ENTRIES = 1024 };

static BqMethodClosure *directClosures[DIRECT_ENTRIES];
static int directEntriesTaken;

static uintptr_t
RunDirect(BqMethodClosure *closure, uintptr_t a0, uintptr_t a1, uintptr_t a2, uintptr_t a3,
	uintptr_t a4, uintptr_t a5)
{
    void *arguments[BQ_DIRECT_MAX_ARGS] = { &a0, &a1, &a2, &a3, &a4, &a5 };
    ffi_arg result = 0;
    closure->handler(closure, &result, arguments);
    return (uintptr_t) result;
}

/* The runtime calls an entry through whatever type the method's selector
 * has for the caller, as it calls every method: the entry carries no
 * function-type check for the undefined-behaviour sanitizer to compare
 * against. */
#if defined(__clang__)
#define BQ_CALLED_AS_ANY_METHOD __attribute__((no_sanitize("function")))
#else
#define BQ_CALLED_AS_ANY_METHOD
#endif

template <int K>
BQ_CALLED_AS_ANY_METHOD static uintptr_t
DirectEntry(uintptr_t a0, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t a4, uintptr_t a5)
{
    return RunDirect(directClosures[K], a0, a1, a2, a3, a4, a5);
}

typedef uintptr_t (*DirectEntryFunction)(uintptr_t, uintptr_t, uintptr_t, uintptr_t,
	uintptr_t, uintptr_t);

/* The entries, one per slot, in slot order. */
template <int... K>
static const DirectEntryFunction *
DirectEntriesFor(std::integer_sequence<int, K...>)
{
    static const DirectEntryFunction entries[] = { DirectEntry<K>... };
    return entries;
}

/* Whether calls of the plan's signature can use a direct entry. */
static int
TakesDirectEntry(const BqCallPlan *plan)
{
    return plan->directArgc >= 0 && plan->directResult == 'w';
}

/* A free direct entry for closure, or null when all are taken. */
static IMP
TakeDirectEntry(BqMethodClosure *closure)
{
    int slot = __atomic_fetch_add(&directEntriesTaken, 1, __ATOMIC_RELAXED);
    if (slot >= DIRECT_ENTRIES) {
	return NULL;
    }
    __atomic_store_n(&directClosures[slot], closure, __ATOMIC_RELEASE);
    return (IMP) DirectEntriesFor(std::make_integer_sequence<int, DIRECT_ENTRIES>())[slot];
}

/* What libffi calls: the closure's handler with the same arguments. */
static void
Dispatch(ffi_cif *cif, void *result, void **arguments, void *data)
{
    (void) cif;
    BqMethodClosure *closure = (BqMethodClosure *) data;
    closure->handler(closure, result, arguments);
}

BqMethodClosure *
BqMethodClosure_New(Class definingClass, SEL selector, int classMethod, const char *types,
	BqMethodClosureHandler handler, void *clientData, Tcl_DString *errors)
{
    BqMethodSignature *signature = BqMethod_SignatureRecordForString(types, errors);
    BqCallPlan *plan = signature != NULL ? BqCallPlan_ForSignature(signature, errors) : NULL;
    if (plan == NULL) {
	return NULL;
    }
    BqMethodClosure *closure = (BqMethodClosure *) calloc(1, sizeof *closure);
    if (closure == NULL) {
	BqTcl_DStringApp(errors, "no memory for method ", sel_getName(selector), (char *) NULL);
	return NULL;
    }
    closure->types = signature->types;
    closure->plan = plan;
    closure->selector = selector;
    closure->definingClass = definingClass;
    closure->classMethod = classMethod;
    closure->handler = handler;
    closure->clientData = clientData;
    if (TakesDirectEntry(plan)) {
	closure->implementation = TakeDirectEntry(closure);
	if (closure->implementation != NULL) {
	    return closure;
	}
    }
    void *code = NULL;
    ffi_closure *ffi = (ffi_closure *) ffi_closure_alloc(sizeof(ffi_closure), &code);
    if (ffi == NULL) {
	free(closure);
	BqTcl_DStringApp(errors, "no memory for the code of method ", sel_getName(selector),
		(char *) NULL);
	return NULL;
    }
    closure->ffiClosure = ffi;
    if (ffi_prep_closure_loc(ffi, &plan->cif, Dispatch, closure, code) != FFI_OK) {
	ffi_closure_free(ffi);
	free(closure);
	BqTcl_DStringApp(errors, "libffi cannot make the code of method ", sel_getName(selector),
		(char *) NULL);
	return NULL;
    }
    closure->implementation = (IMP) code;
    return closure;
}

void
BqMethodClosure_StoreResult(const BqMethodClosure *closure, const void *value, void *result)
{
    const BqCallPlan *plan = closure->plan;
    switch (plan->returnCode) {
    case 'c': *(ffi_sarg *) result = *(const signed char *) value; return;
    case 'C':
    case 'B': *(ffi_arg *) result = *(const unsigned char *) value; return;
    case 's': *(ffi_sarg *) result = *(const short *) value; return;
    case 'S': *(ffi_arg *) result = *(const unsigned short *) value; return;
    case 'i': *(ffi_sarg *) result = *(const int *) value; return;
    case 'I': *(ffi_arg *) result = *(const unsigned int *) value; return;
    case 'v': return;
    default:
	if (plan->returnSize > 0) {
	    memcpy(result, value, (size_t) plan->returnSize);
	}
	return;
    }
}
