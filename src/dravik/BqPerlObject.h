/*
 * BqPerlObject.h --
 *
 *	A Perl object as an object of the runtime: a BqPerlVar whose value is
 *	a reference to a hash blessed into a package.  The hash's entries
 *	are the object's instance variables, the package's variables its
 *	class variables, the package's subs its methods.  The web layer
 *	gives every Perl-scripted component and application one; all their
 *	state is read and written, and all their Perl code called, through
 *	the operations here.
 *
 *	Names: instance variable names are hash keys (C strings, no sigil).
 *	Class variable names are C strings that may start with a sigil: '$'
 *	scalar, '@' array, '%' hash, '&' code; without one the kind is the
 *	caller's (a scalar by default).  They never name a package.  The key
 *	"selfObject" holds the handle of the host object that owns the hash
 *	and is never listed as an instance variable.
 *
 *	Conversions: values read and written are converted by value
 *	(Vantle_ObjectForSV, Vantle_SVForObject), or raw
 *	(DravikRawConvert.h) while rawGet or rawSet is on.
 *
 *	Retaining: objects stored with setIVar:toValue: are kept alive by
 *	the BqPerlObject, since handles do not retain their objects: in the
 *	retained-object list of a plain hash, by the hash itself for a
 *	retaining hash (magic, DravikMagic.h).
 *
 *	Traces: with traceSet, traceGet or traceInvoke on, every write, read
 *	or method call prints a line on standard output.  New objects start
 *	from the class-wide defaults.
 *
 *	Errors: a Perl error never unwinds through the caller; it becomes an
 *	NSException named "Perl Error" once the Perl call frame is closed.
 *	A value that cannot be converted raises "Perl Error" too.  Bad class
 *	variable names raise "Vantle/RYF Error" before anything is touched.
 *	Reads of an object that is no hash reference give nil, writes to it
 *	are ignored.  Every operation acts on the interpreter of the value.
 */
#ifndef BQ_PERL_OBJECT_H
#define BQ_PERL_OBJECT_H

#include "BqPerlVar.h"

@class NSArray, NSDictionary, NSMutableArray, NSMutableDictionary, NSString;

/* Kinds of class variables, the index of their sigil in "$@%&". */
enum {
    DRAVIK_CVAR_SCALAR = 0,
    DRAVIK_CVAR_ARRAY = 1,
    DRAVIK_CVAR_HASH = 2,
    DRAVIK_CVAR_CODE = 3
};

@interface BqPerlObject : BqPerlVar
{
    id interp;			/* the BqVantleInterp, not retained */
    NSMutableArray *rr;		/* objects kept alive for the hash, or nil */
    unsigned char traceSet;
    unsigned char traceGet;
    unsigned char traceInvoke;
    unsigned char rawGet;
    unsigned char rawSet;
    unsigned char magic;	/* the hash is a retaining hash */
    unsigned char verbose;	/* description lists the values */
}

/*
 * Set-up and properties.
 */
+ (void) setTraceSet: (BOOL)flag;
+ (void) setTraceGet: (BOOL)flag;
+ (void) setTraceInvoke: (BOOL)flag;
+ (void) setTraceAll: (BOOL)flag;
- (void) setTraceSet: (BOOL)flag;
- (void) setTraceGet: (BOOL)flag;
- (void) setTraceInvoke: (BOOL)flag;
- (void) setTraceAll: (BOOL)flag;
- (void) setRawGet: (BOOL)flag;
- (void) setRawSet: (BOOL)flag;

/* A new empty hash blessed into package (made when missing), in the
 * interpreter of interpObject (nil: the current one); a retaining hash
 * when magic is YES.  Raises NSInvalidArgumentException for a missing
 * or empty package name. */
- (id) initInInterp: (id)interpObject stashName: (NSString *)package magic: (BOOL)magic;
/* Wraps reference, shared with the caller (one count added); turns a
 * hash it refers to into a retaining hash when magic is YES. */
- (id) initForRVHV: (SV *)reference magic: (BOOL)magic;
/* The trace flags from the class-wide defaults, and the retaining hash. */
- (id) _initMagicEtAl: (BOOL)magic;
/* Sets traceGet, traceSet, traceInvoke, rawGet, rawSet and verbose from
 * the entries of those names (missing: NO); nil changes nothing. */
- (void) setPropertiesFromDictionary: (NSDictionary *)properties;
/* NSNumber: its boolValue; NSString: YES for "yes" or "y" in any case
 * or a nonzero atoi; nil and the shared nil: NO; anything else YES. */
- (BOOL) _getBoolValueFor: (id)value;
/* The BqVantleInterp of the value's interpreter. */
- (id) interp;
/* The package name; "(NULL hv)???" without a referent, "(NULL
 * stash)???" when it is not blessed.  Owned by Perl. */
- (char *) stashName;
/* "<Class: package>", with the instance variables when verbose. */
- (NSString *) description;
@end

/*
 * Instance variables (BqPerlObjectIVars.mm).
 */
@interface BqPerlObject (InstanceVariables)
- (BOOL) isIVar: (const char *)name;
/* The keys but "selfObject", in the hash's order (its iterator is
 * reset); nil when the value is no hash reference. */
- (NSArray *) allIVars;
/* Key -> raw value of every instance variable that is not nil (values
 * that do not convert are left out too). */
- (NSMutableDictionary *) allIVarValues;
/* The converted value of an entry; nil for none.  A value that does not
 * convert raises "Perl Error". */
- (id) getIVarValue: (const char *)name;
- (id) getIVarValue: (const char *)name raw: (BOOL)raw;
- (void) setIVar: (const char *)name toValue: (id)value;
- (void) setIVar: (const char *)name toValue: (id)value raw: (BOOL)raw;
/* Stores a new scalar set from value.  With retain, the object of the
 * new value is kept alive and the one of the value replaced is let go
 * (a retaining hash does both itself; in a plain hash the key
 * "selfObject" keeps nothing).  Without retain, a plain hash keeps
 * holding the replaced value's object.  A value that does not convert
 * raises "Perl Error" and changes nothing. */
- (void) setIVar: (const char *)name toValue: (id)value raw: (BOOL)raw retain: (BOOL)retain;
/* Sets or clears the read-only flag of an entry's value (in the inner
 * hash of a retaining hash); entries of a hash Perl code tied, and
 * Perl's shared constants, are left alone. */
- (void) _makeIVar: (const char *)name readOnly: (BOOL)readOnly;
/* Keeps the object of a handle value alive once more in the retained-
 * object list, or lets go of one such hold (that very object, not one
 * equal to it).  Values that are no live handles change nothing. */
- (void) retainSV: (SV *)value;
- (void) releaseSV: (SV *)value;
@end

/*
 * Class variables (BqPerlObjectCVars.mm).
 */
@interface BqPerlObject (ClassVariables)
/* "<sigil><package>::<name>" (the sigil of the kind, which a leading
 * sigil sets and *kind gives otherwise, written back); NULL for a NULL
 * name or an object with no package.  Raises "Vantle/RYF Error" for a
 * name holding a colon or empty after its sigil.  Autoreleased. */
- (char *) _fullCVarName: (const char *)name type: (int *)kind;
- (BOOL) isCVar: (const char *)name;
/* "<sigil><name>" of every defined scalar, array and hash of the
 * package (subs, stubs and nested packages are no class variables);
 * nil when the value is no blessed reference. */
- (NSMutableArray *) allCVars;
/* The converted value of an existing variable (raw applies to scalars
 * only); nil when it is missing, for code and for an object with no
 * package.  A value that does not convert raises "Perl Error". */
- (id) getCVarValue: (const char *)name;
- (id) getCVarValue: (const char *)name raw: (BOOL)raw;
/* Sets the variable, made when missing: a scalar from the value, an
 * array or hash from an array or dictionary (by value).  Code: nothing.
 * A Perl error (tie, read-only) or a value that does not convert raises
 * "Perl Error". */
- (void) setCVar: (const char *)name toValue: (id)value;
- (void) setCVar: (const char *)name toValue: (id)value raw: (BOOL)raw;
@end

/*
 * Methods (BqPerlObjectInvoke.mm).
 */
@interface BqPerlObject (Methods)
/* Whether the package of the hash (or a parent) has the method, or an
 * AUTOLOAD; the instance form runs the value's get-magic first. */
- (BOOL) isInstanceMethod: (const char *)name;
- (BOOL) isClassMethod: (const char *)name;
/* Calls the method with the package (classMethod) or the object as its
 * invocant and the converted arguments.  Scalar context: the converted
 * value (nil for undef or no value).  List context: nil for no value,
 * else an NSMutableArray of the values in order, the shared BqNil
 * standing for each nil.  The arguments convert by value, or raw with
 * rawSet; the values answered by value, or raw with rawGet.  The
 * argument scalars are freed once the call returns.  A missing method
 * sets $@ to why and raises "Perl Error" with it; so do a Perl error in
 * the method (its $@), a value that does not convert, and several
 * values in scalar context; the Perl stacks are then as they were.
 * Arguments other than an array raise NSInvalidArgumentException. */
- (id) invokeMethod: (const char *)name withArgs: (NSArray *)arguments
	classMethod: (BOOL)classMethod listContext: (BOOL)listContext;
@end

#endif /* BQ_PERL_OBJECT_H */
