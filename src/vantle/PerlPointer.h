/*
 * PerlPointer.h --
 *
 *	Typed pointers: C pointers that are neither objects nor strings,
 *	seen from Perl as references blessed into Vantle::Ptr.  The referent
 *	is a read-only array of exactly two read-only elements: the type
 *	encoding ("^i", cut after its first complete type) and the address
 *	as an integer (0 for a null pointer).  A false Perl value reads as a
 *	null pointer of type "^v".
 *
 *	Freeing a typed pointer never frees what it points to; storage made
 *	by Vantle::Ptr::malloc belongs to the Perl program, which releases
 *	it with Vantle::Ptr::free.
 *
 *	All functions act on the current interpreter and report errors by
 *	appending words to a caller-owned dynamic string.
 */
#ifndef VANTLE_PERL_POINTER_H
#define VANTLE_PERL_POINTER_H

#include "Vantle.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Makes sv a new typed pointer of type (null: "^v") and address. */
void VantlePriv_SVNewPointer(SV *sv, const char *type, void *address);

/* Reads a typed pointer (no get-magic is run): its type, which stays
 * valid as long as the pointer does, and its address.  A false
 * non-reference is "^v" and null.  Anything else appends "not a valid
 * pointer" and answers 1. */
int  VantlePriv_SVGetPointer(SV *sv, const char **typePtr, void **addressPtr,
		Tcl_DString *errors);

/* Points a typed pointer (and every copy of its reference) at address;
 * 1, changing nothing, when sv is no typed pointer. */
int  VantlePriv_SVSetPointerValue(SV *sv, void *address);

/* The element holding a typed pointer's address, shared by every copy of
 * the reference and freed with the last of them (a place for magic that
 * follows the pointer's life); null when sv is no typed pointer. */
SV  *VantlePriv_SVPointerAddressSV(SV *sv);

/* Converts value to C into the storage a typed pointer points to (C
 * strings are stored as private copies). */
int  VantlePriv_SVPointerStoreSV(SV *pointer, SV *value, Tcl_DString *errors);

/* Sets result from the storage a typed pointer points to; undef for a
 * null pointer. */
int  VantlePriv_SVPointerGetSV(SV *pointer, SV *result, Tcl_DString *errors);

#ifdef __cplusplus
}
#endif

#endif /* VANTLE_PERL_POINTER_H */
