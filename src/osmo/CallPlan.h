/*
 * CallPlan.h --
 *
 *	What the message send needs to call any implementation with a given
 *	signature through libffi: the prepared call interface, the libffi
 *	description of every argument and of the result, and where each
 *	argument lives in the argument frame.
 *
 *	A plan is made once per completed signature and hung on the
 *	signature record (its callInfo), so a repeated send of the same
 *	signature prepares nothing; so is the reason a signature cannot be
 *	called.  Plans live as long as the process.
 *
 *	Frame layout: the completed signature's offsets.  They advance by each
 *	argument's size rounded up to the 8-byte word, so every argument sits
 *	at a naturally aligned address of its own; the frame's stacked block
 *	is frameSize bytes rounded up to the word.
 */
#ifndef BQ_CALL_PLAN_H
#define BQ_CALL_PLAN_H

#include <ffi.h>

#include "BqTcl.h"
#include "CTypes.h"
#include "MethodDesc.h"
#include "TypeEncoding.h"

#ifdef __cplusplus
extern "C" {
#endif

#define BQ_DIRECT_MAX_ARGS 6

typedef struct BqCallPlan {
    ffi_cif cif;
    int numberOfArguments;	/* receiver and selector included */
    int frameSize;		/* stacked block, rounded up to the word */
    const char *returnType;	/* into the completed signature */
    char returnCode;		/* the result's type code, qualifiers skipped */
    int returnSize;		/* the result's C size */
    const char **argTypes;	/* per argument, into the completed signature */
    int *argOffsets;		/* per argument, bytes into the stacked block */
    ffi_type **ffiArgTypes;
    /* Direct calls: when every argument is an integer, a pointer or an
     * object, there are at most BQ_DIRECT_MAX_ARGS of them, and the
     * result is void, such a word, a float or a double, the send calls
     * the implementation through a plain function pointer with the
     * arguments widened to words, exactly the call the compiler makes,
     * instead of through libffi, which classifies every argument again
     * on every call.  directArgc is -1 when the plan does not qualify. */
    int directArgc;
    int hasAggregateArgs;	/* an argument is an array, structure or union */
    char directCodes[BQ_DIRECT_MAX_ARGS];	/* each argument's type code */
    char directResult;		/* 'w' word or void, 'f' float, 'd' double */
    /* The conversions of every argument and of the result, resolved in
     * the type table of the last send (the message send fills them and
     * resolves again when the table or its generation changes). */
    BqOsmoCTypeConversion *argConversions;
    BqOsmoCTypeConversion returnConversion;
    ffi_type *returnFfi;	/* the result's libffi description */
    /* Why the signature cannot be called, or null.  A failed plan is
     * kept like any other, so the reason is found, not built, again. */
    const char *failure;
} BqCallPlan;



/* Whether a type (qualifiers allowed) is passed by value as an array, a
 * structure or a union. */
static inline int
BqCallPlan_IsAggregateType(const char *type)
{
    char code = *BqTypeSpec_SkipTypeQualifiers(type);
    return code == '[' || code == '{' || code == '(';
}

/* The plan for a completed signature, made on first use; null with a
 * message appended to errors when a type has no libffi description (the
 * same message on every later request). */
BqCallPlan *BqCallPlan_ForSignature(BqMethodSignature *signature, Tcl_DString *errors);

/* Prepares into cif a call of the plan's signature (the named arguments)
 * followed by count values of a variadic method, each of a type code of
 * FormatArgs.h ('i', 'I', 'l', 'L', 'q', 'Q', 'd', '*', '@'); types
 * receives the libffi description of every argument and must have room
 * for numberOfArguments + count of them.  Calls of the same signature and
 * codes prepare nothing again.  Answers 0, or 1 with a message. */
int BqCallPlan_PrepareVariadic(BqCallPlan *plan, const char *codes, int count, ffi_cif *cif,
		ffi_type **types, Tcl_DString *errors);

/* Calls implementation with the frame's arguments (at the plan's offsets
 * of stacked) and stores the result, as libffi would, into returnValue. */
void BqCallPlan_Call(BqCallPlan *plan, IMP implementation, char *stacked,
		void **arguments, void *returnValue);

/* The libffi description of one type (qualifiers allowed); aggregates are
 * described so that libffi passes them in the registers or memory the
 * C compiler would use.  Null with a message when the type cannot be
 * passed by value. */
ffi_type *BqCallPlan_TypeFor(const char *type, Tcl_DString *errors);

#ifdef __cplusplus
}
#endif

#endif
