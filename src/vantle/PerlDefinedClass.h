/*
 * PerlDefinedClass.h --
 *
 *	Runtime classes whose methods are Perl subs (the Perl module
 *	Vantle::Class).  A class is made once per process and never removed;
 *	its methods are libffi closures (MethodClosure.h) that run the sub of
 *	the interpreter that defined the class.  Defining the class again (a
 *	file loaded again) replaces the subs behind its methods.
 *
 *	Records (process-wide, never freed, like the classes):
 *	- VantleDefinedClass: one per class, found by Class in a registry
 *	  under a spin lock.
 *	- VantleMethod: one per method (selector and instance or class side);
 *	  the closure's client data.
 *	Per instance, the topmost class defined in Perl adds one hidden
 *	instance variable that points at a VantleInstanceState, made on
 *	first need: the instance's own handle (so self costs no new handle
 *	per call) and its Perl data hash, both freed by the class's dealloc.
 */
#ifndef PERL_DEFINED_CLASS_H
#define PERL_DEFINED_CLASS_H

#include "VantlePriv.h"
#include "CTypes.h"
#include "MethodClosure.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Croaks with a mortal message (made first, so it may quote errors)
 * after freeing the dynamic string errors. */
#define CROAK_FREEING(errors, ...) \
    do { SV *message_ = sv_2mortal(newSVpvf(__VA_ARGS__)); \
	 Tcl_DStringFree(errors); croak_sv(message_); } while (0)

/* The hidden instance variable's name. */
#define VANTLE_STATE_IVAR "_vantlePerlState"

struct VantleMethod;

typedef struct VantleDefinedClass {
    Class cls;
    char *package;		/* the Perl package of its subs */
    PerlInterpreter *owner;	/* that defined it; null once destroyed */
    ptrdiff_t stateOffset;	/* of the hidden instance variable */
    int ownsState;		/* this class added that variable */
    SV *classHandle;		/* owner's handle of the class, kept and
				 * read-only, as an instance's */
    struct VantleMethod *methods;
    struct VantleMethod *deallocMethod;	/* the Perl dealloc, or null */
} VantleDefinedClass;

typedef struct VantleMethod {
    struct VantleMethod *next;
    VantleDefinedClass *definedClass;
    BqMethodClosure *closure;
    CV *code;			/* the owner's sub, counted; null: none */
    char *subName;		/* "Package::name", or null for an anonymous sub */
    char *codeKey;		/* its key in %Vantle::Class::CODE, which
				 * holds the code where every interpreter
				 * (a thread's clone too) finds it; null
				 * until code is set */
    CV *send;			/* owner's sub that sends the method, made once */
    Class superStart;		/* where its messages to super start: the
				 * superclass (its metaclass for a class
				 * method) */
    /* Conversions of the arguments (from index 2) and of the result in
     * the binding's table, resolved again when its generation moves. */
    unsigned generation;
    BqOsmoCTypeConversion *arguments;
    BqOsmoCTypeConversion result;
    int takesObjects;		/* an argument is or holds an object (set with
				 * the first resolution) */
} VantleMethod;

typedef struct VantleInstanceState {
    PerlInterpreter *owner;
    SV *self;			/* a handle of the instance, read-only (it is
				 * the first argument of the instance's
				 * methods itself) */
    HV *data;			/* its Perl data, or null */
} VantleInstanceState;

/* The record of cls when Perl defined it, else null. */
VantleDefinedClass *VantlePriv_DefinedClass(Class cls);
/* The record of the nearest class defined in Perl among cls and its
 * superclasses, or null. */
VantleDefinedClass *VantlePriv_DefinedAncestor(Class cls);
/* Whether stash is the package of a class defined in Perl that is named
 * as that package (whose class messages it routes). */
Class VantlePriv_DefinedClassOfPackage(pTHX_ HV *stash);

/* The state of an instance of a class defined in Perl; made for the
 * running interpreter when make is set and there is none yet. */
VantleInstanceState *VantlePriv_InstanceState(pTHX_ id object, VantleDefinedClass *record,
		int make);

/* The hash that holds every method's code by key, in each interpreter. */
#define VANTLE_METHOD_CODE "Vantle::Class::CODE"

/* A handle of object that a record keeps: read-only, because the methods
 * get it as their first argument itself, not a copy (PerlInstanceState). */
SV  *VantlePriv_NewKeptHandle(pTHX_ id object);
/* The instance is being deallocated: its state goes (PerlInstanceState). */
void VantlePriv_FreeInstanceState(id object, VantleDefinedClass *record);
/* The interpreter ends: the states it owns give their values to values
 * (which the caller frees), and those left for it are freed. */
void VantlePriv_InstanceStatesEnd(pTHX_ AV *values);
/* Registers Vantle::Object::perl_data. */
void VantlePriv_BootInstanceState(pTHX);

/* The closure handler of every method defined in Perl (PerlMethodCall). */
void VantlePriv_PerlMethodHandler(BqMethodClosure *closure, void *result, void **arguments);
/* Runs a method's Perl sub for the receiver with the C arguments as the
 * closure has them, storing the converted result into result (may be
 * null for a method without one).  Nil when it ran, else the exception
 * to raise (autoreleased) once the caller has nothing left to clean.
 * inDealloc marks the class's dealloc. */
id   VantlePriv_RunPerlMethod(VantleMethod *method, void *result, void **arguments,
		int inDealloc);

/* The interpreter is being destroyed: its classes and instance states let
 * go of its subs and values, and no method runs in it any more. */
void VantlePriv_DefinedClassesEnd(pTHX);
/* The interpreter starts (again, perhaps at the address of one that
 * ended on this thread): methods may run in it. */
void VantlePriv_DefinedClassesStart(pTHX);
/* Whether methods defined in Perl may run in interp, the running
 * interpreter of this thread (null: none). */
int  VantlePriv_MethodsMayRun(PerlInterpreter *interp);
/* Registers Vantle::Class::_define and _add_method, and perl_data. */
void VantlePriv_BootDefinedClass(pTHX);

#ifdef __cplusplus
}
#endif

#endif /* PERL_DEFINED_CLASS_H */
