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
    void *code = NULL;
    ffi_closure *ffi = closure != NULL
	? (ffi_closure *) ffi_closure_alloc(sizeof(ffi_closure), &code) : NULL;
    if (ffi == NULL) {
	free(closure);
	BqTcl_DStringApp(errors, "no memory for the code of method ", sel_getName(selector),
		(char *) NULL);
	return NULL;
    }
    closure->types = signature->types;
    closure->plan = plan;
    closure->selector = selector;
    closure->definingClass = definingClass;
    closure->classMethod = classMethod;
    closure->handler = handler;
    closure->clientData = clientData;
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
    case 'C': *(ffi_arg *) result = *(const unsigned char *) value; return;
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
