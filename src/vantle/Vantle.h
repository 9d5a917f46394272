/*
 * Vantle.h --
 *
 *	The Perl binding's public C interface: object handles, conversion
 *	between Perl data and Foundation objects, the control flags and the
 *	version.  Every function acts on the current interpreter (bqcperl.h).
 *
 *	Errors are reported by appending words to a caller-owned dynamic
 *	string (null: no text wanted) and, where there is one, by setting a
 *	one-byte error flag (null allowed).  Nothing here croaks on bad
 *	input; the XS subs build their messages around these words.
 */
#ifndef VANTLE_H
#define VANTLE_H

#include "bqcperl.h"
#include "BqTcl.h"

#ifdef __OBJC__
#include <objc/objc.h>
#else
typedef struct objc_object *id;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Object handles.  A handle is a reference blessed into Vantle::Object
 * whose read-only referent holds the object pointer as an integer: 0 for
 * nil, -1 once the object was deallocated.  All handles of one live
 * object share one referent.  Handles never retain their objects.
 */

/* Makes sv a handle of object (nil allowed).  An object that fails the
 * validity check (with the bad_object_check control on) leaves sv undef,
 * appends the reason (or warns it when errors is null) and answers 0. */
int  Vantle_SVSetObject(SV *sv, id object, Tcl_DString *errors);
/* Makes sv a handle of object only when object already has a referent;
 * answers 0 and leaves sv alone otherwise. */
int  Vantle_SVLookupObject(SV *sv, id object);
/* Marks every handle of object as deallocated and forgets the object.
 * Safe to call while the object is being freed: it is not messaged. */
void Vantle_UnregisterObject(id object);
/* True for a nil handle and for every false non-reference. */
int  Vantle_SVIsNil(SV *sv);
/* True for a handle (live or not) and for every false non-reference. */
int  Vantle_SVIsObject(SV *sv);
/* The object of a handle, nil for a false value, the class of a class
 * name; otherwise nil with "Dealloc'ed object", "Illegal id" or "not an
 * object" appended and the flag set. */
id   Vantle_SVGetObject2(SV *sv, Tcl_DString *errors, char *errorFlag);
/* The same without running sv's get-magic. */
id   Vantle_SVGetObject2NM(SV *sv, Tcl_DString *errors, char *errorFlag);
/* A class (or nil) from a handle or a class name; instances give "not a
 * class", metaclasses "class is metaclass" unless allowed. */
id   Vantle_SVGetClass2(SV *sv, Tcl_DString *errors, char *errorFlag, int metaclassOK);

/*
 * Conversion by value.  Perl strings, numbers, arrays and hashes become
 * NSString, NSNumber, NSMutableArray and NSMutableDictionary (all
 * autoreleased) and back; handles pass through as their objects.  Text
 * crosses as UTF-8.  Nesting deeper than 100 containers (a structure that
 * contains itself) fails.
 */
typedef id  (*Vantle_ObjectForSVHookFunction)(SV *sv, Tcl_DString *errors, char *errorFlag);
typedef int (*Vantle_SVForObjectHookFunction)(SV *sv, id object, Tcl_DString *errors);

/* When set, replaces the default converter of its direction, nested
 * conversions included.  A hook must not let an Objective-C exception
 * escape; it may call the _Default function for values it leaves alone. */
extern Vantle_ObjectForSVHookFunction Vantle_ObjectForSVHook;
extern Vantle_SVForObjectHookFunction Vantle_SVForObjectHook;

id   Vantle_ObjectForSV(SV *sv, Tcl_DString *errors, char *errorFlag);
id   Vantle_ObjectForSV_Default(SV *sv, Tcl_DString *errors, char *errorFlag);
int  Vantle_SVForObject(SV *sv, id object, Tcl_DString *errors);
int  Vantle_SVForObject_Default(SV *sv, id object, Tcl_DString *errors);
id   Vantle_ArrayForAV(AV *av, Tcl_DString *errors, char *errorFlag);
int  Vantle_AVForArray(AV *av, id array, Tcl_DString *errors);
id   Vantle_DictionaryForHV(HV *hv, Tcl_DString *errors, char *errorFlag);
int  Vantle_HVForDictionary(HV *hv, id dictionary, Tcl_DString *errors);

/*
 * Version of the module.
 */
/* The directory %INC says a module file ("Dravik.pm") was loaded from: a
 * copy from the runtime zone the caller owns, or null. */
char       *Vantle_ModuleDirectory(const char *name);
/* The directory of Dravik.pm, cached once known; null until then. */
const char *Vantle_LibraryDirectory(void);

int         Vantle_Version(void);
const char *Vantle_VersionName(void);
const char *Vantle_BuildDate(void);

/* The module's boot sub, called by Perl's loader. */
void boot_Vantle(pTHX_ CV *cv);

#ifdef __cplusplus
}
#endif

#endif /* VANTLE_H */
