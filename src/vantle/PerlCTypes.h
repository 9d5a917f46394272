/*
 * PerlCTypes.h --
 *
 *	The Perl binding's C type table, "Vantle": every C type name Perl
 *	code may use, and the converters between Perl scalars and C storage
 *	that the message send, instance-variable access and typed pointers
 *	go through.
 *
 *	Converting one value:
 *
 *	    BqOsmo_I2C(NULL, &errors, VantlePriv_CTypeTable, sv, address, 0,
 *		       type, qualifiers);     Perl scalar -> C storage
 *	    BqOsmo_C2I(NULL, &errors, VantlePriv_CTypeTable, sv, address, 0,
 *		       type, qualifiers);     C storage -> existing scalar
 *
 *	type may point into a method signature (offsets and further types
 *	after it are ignored).  Both answer 0, or 1 with the message appended
 *	to errors.  Scalars (integers, floating point, objects, selectors,
 *	"const char *" strings without ownership) convert without
 *	allocating.  Without BQ_QUAL_OWNED, a "char *" (which the callee may
 *	write into) gets a copy of the string, and a "const void *" the bytes
 *	of a string with characters; both are Perl temporaries, freed with
 *	the caller's temporaries (a Perl error included), so convert
 *	arguments inside a Perl scope that outlives the call.
 *
 *	Qualifier word bits the converters read (CTypes.h):
 *	- BQ_QUAL_RESULT: the storage is a whole machine word, as a method's
 *	  result slot is.  To C, integers are stored into the whole word,
 *	  cut to their type and extended by its sign as C would; from C,
 *	  integers are read at their type's width from the word's low bytes,
 *	  whatever the upper bytes hold.
 *	- BQ_QUAL_OWNED: C string storage belongs to the receiver.  To C, a
 *	  "char *" gets a private copy from the default malloc zone (freeing
 *	  the string the storage held before, so that storage must hold null
 *	  or such a copy) and refuses a typed pointer; from C, the string is
 *	  freed once copied.  The strings inside arrays and structures follow
 *	  their aggregate: copies of their own in owned storage, Perl
 *	  temporaries otherwise.  Without the bit (a message argument, a
 *	  stream's buffer), a string is lent: a copy that lives until the
 *	  caller's temporaries are freed, or for a "const char *" the
 *	  scalar's own buffer.  Atoms ('%') are never copied or freed.
 *	- BQ_QUAL_ELEMENT: the value is an element of an aggregate converted
 *	  from C.
 *
 *	Converters may run Perl code (get-magic, tie methods, overloaded
 *	operators, warning handlers), which may die: callers must keep
 *	nothing on the C stack that needs cleaning up other than through
 *	Perl's save stack (see VantlePriv_EnterConversion), and must not
 *	call them inside an Objective-C guard.
 *
 *	The header needs no Perl headers, so code that only parses
 *	declarations can use it.
 */
#ifndef VANTLE_PERL_CTYPES_H
#define VANTLE_PERL_CTYPES_H

#include "CTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Structures declared with member names (PerlStructNames): remembers
 * every named, tagged structure in a type string (a method's types); and
 * for an unnamed structure encoding [type, end), the remembered named one
 * with the same tag and members (its end in *endPtr), or null. */
void        VantlePriv_RememberStructures(const char *types);
const char *VantlePriv_RememberedStructure(const char *type, const char *end,
		const char **endPtr);

/* The table; null until VantlePriv_CTypeInit has run. */
extern CTypeTable *VantlePriv_CTypeTable;

/* Creates the table and registers every named type (once; later calls
 * do nothing).  Called by the module's boot. */
void VantlePriv_CTypeInit(void);

/* Frees the C strings held by storage of an aggregate type (the
 * "char *" elements and members of arrays and structures, recursively),
 * copies from the default malloc zone, and clears them.  A string the
 * type is itself is left alone: only the caller knows whether it owns
 * it.  For storage that owns its strings: an aggregate read from a
 * stream, or converted to C with BQ_QUAL_OWNED. */
void VantlePriv_FreeElementStrings(const char *type, void *storage);

#ifdef __cplusplus
}
#endif

#endif /* VANTLE_PERL_CTYPES_H */
