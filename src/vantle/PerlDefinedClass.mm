/*
 * PerlDefinedClass.mm --
 *
 *	Classes defined in Perl (PerlDefinedClass.h): the registry of their
 *	records, the XS subs the module Vantle::Class calls to define a class
 *	and add its methods, and the dealloc every such class gets.  The
 *	per-instance state is in PerlInstanceState.mm.
 */
#import <Foundation/Foundation.h>

#include "PerlDefinedClass.h"
#include "PerlContext.h"
#include "PerlCTypes.h"
#include "PerlMsgSend.h"
#include "Class.h"
#include "ClassBuilder.h"
#include "KxLock.h"
#include "KxPointerMap.h"
#include "MethodDesc.h"
#include "Protocol.h"
#include "TypeDeclaration.h"

#include <stdlib.h>
#include <string.h>

/* Class -> VantleDefinedClass, and every record in definition order. */
static KxSpinLock registryLock = KX_SPIN_LOCK_INITIALIZER;
static KxPointerMap definedClasses;
static int definedClassesReady;
static VantleDefinedClass **allClasses;
static size_t allClassCount;


/* The interpreter that ended last on this thread: the thread may still
 * name it as its running one (nothing clears that), but it is gone or
 * going, and no method runs in it. */
static __thread PerlInterpreter *endedInterpreter;

/* ---------------------------------------------------------------------
 * The registry
 * ------------------------------------------------------------------ */

VantleDefinedClass *
VantlePriv_DefinedClass(Class cls)
{
    if (cls == Nil || !__atomic_load_n(&definedClassesReady, __ATOMIC_ACQUIRE)) {
	return NULL;
    }
    KxSpinGuard guard(&registryLock);
    return (VantleDefinedClass *) KxPointerMapGet(&definedClasses, cls);
}

VantleDefinedClass *
VantlePriv_DefinedAncestor(Class cls)
{
    for (Class walk = cls; walk != Nil; walk = class_getSuperclass(walk)) {
	VantleDefinedClass *record = VantlePriv_DefinedClass(walk);
	if (record != NULL) {
	    return record;
	}
    }
    return NULL;
}

Class
VantlePriv_DefinedClassOfPackage(pTHX_ HV *stash)
{
    const char *name = stash != NULL ? HvNAME(stash) : NULL;
    Class cls = name != NULL ? objc_lookUpClass(name) : Nil;
    VantleDefinedClass *record = VantlePriv_DefinedClass(cls);
    return record != NULL && strcmp(record->package, name) == 0 ? cls : Nil;
}

static int
RegisterClassRecord(VantleDefinedClass *record)
{
    KxSpinGuard guard(&registryLock);
    if (!definedClassesReady) {
	KxPointerMapInit(&definedClasses);
    }
    VantleDefinedClass **grown = (VantleDefinedClass **) realloc(allClasses,
	    sizeof *grown * (allClassCount + 1));
    if (grown == NULL || KxPointerMapPut(&definedClasses, record->cls, record) != 0) {
	if (grown != NULL) {
	    allClasses = grown;
	}
	return 0;
    }
    allClasses = grown;
    allClasses[allClassCount++] = record;
    __atomic_store_n(&definedClassesReady, 1, __ATOMIC_RELEASE);
    return 1;
}

/* ---------------------------------------------------------------------
 * dealloc
 * ------------------------------------------------------------------ */

/*
 * DeallocHandler --
 *	The dealloc of every class defined in Perl: the class's Perl dealloc
 *	(if it has one), then the instance's state (in the class that holds
 *	it, the last Perl class to run), then the superclass's dealloc.  An
 *	error in the Perl dealloc is reported on standard error: the object
 *	is freed all the same.
 */
static void
DeallocHandler(BqMethodClosure *closure, void *result, void **arguments)
{
    (void) result;
    VantleMethod *method = (VantleMethod *) closure->clientData;
    VantleDefinedClass *record = method->definedClass;
    id object = *(id *) arguments[0];
    if (method->codeKey != NULL && VantlePriv_MethodsMayRun(_bqcperl_interp)) {
	id exception = VantlePriv_RunPerlMethod(method, NULL, arguments, 1);
	if (exception != nil) {
	    fprintf(stderr, "Vantle::Class: dealloc of %s: %s\n", class_getName(record->cls),
		    [[exception reason] UTF8String]);
	    fflush(stderr);
	}
    }
    if (record->ownsState) {
	VantlePriv_FreeInstanceState(object, record);
    }
    KxSuper super = { object, method->superStart };
    SEL selector = closure->selector;
    ((void (*)(id, SEL)) KxMsgLookupSuper(&super, selector))(object, selector);
}

/* ---------------------------------------------------------------------
 * Defining a class
 * ------------------------------------------------------------------ */


/* The array that a reference refers to, or null. */
static AV *
ArrayOf(SV *sv)
{
    return sv != NULL && SvROK(sv) && SvTYPE(SvRV(sv)) == SVt_PVAV ? (AV *) SvRV(sv) : NULL;
}

/* The encoding of a declaration into result (emptied first); 0, or 1 with
 * the parser's message in result. */
static int
EncodeDeclaration(const char *declaration, Tcl_DString *result)
{
    Tcl_DStringSetLength(result, 0);
    return BqOsmo_EncodeDeclaration(VantlePriv_CTypeTable, declaration, result);
}

/*
 * CollectIvars --
 *	Reads [name, declaration] pairs into specs, the encodings kept in
 *	one dynamic string (specs point into it once it is complete).
 *	Croaks on a malformed list or declaration.
 */
static int
CollectIvars(pTHX_ const char *className, AV *list, BqIvarSpec *specs, Tcl_DString *encodings,
	int *offsets)
{
    Tcl_DString one;
    Tcl_DStringInit(&one);
    SSize_t count = list != NULL ? av_top_index(list) + 1 : 0;
    for (SSize_t i = 0; i < count; i++) {
	SV **entry = av_fetch(list, i, 0);
	AV *pair = entry != NULL ? ArrayOf(*entry) : NULL;
	SV **name = pair != NULL ? av_fetch(pair, 0, 0) : NULL;
	SV **declaration = pair != NULL ? av_fetch(pair, 1, 0) : NULL;
	if (name == NULL || declaration == NULL) {
	    CROAK_FREEING(&one, "Vantle::Class: instance variable %d of class %s is not "
		    "[name, declaration]", (int) i + 1, className);
	}
	specs[i].name = SvPV_nolen(*name);
	if (EncodeDeclaration(SvPV_nolen(*declaration), &one) != 0) {
	    Tcl_DStringFree(encodings);
	    CROAK_FREEING(&one, "Vantle::Class: instance variable %s of class %s: %s",
		    specs[i].name, className, Tcl_DStringValue(&one));
	}
	offsets[i] = Tcl_DStringLength(encodings);
	Tcl_DStringAppend(encodings, Tcl_DStringValue(&one), Tcl_DStringLength(&one) + 1);
    }
    Tcl_DStringFree(&one);
    for (SSize_t i = 0; i < count; i++) {
	specs[i].type = Tcl_DStringValue(encodings) + offsets[i];
    }
    return (int) count;
}

/* The protocols named in list, or a croak naming the first unknown. */
static int
CollectProtocols(pTHX_ AV *list, Protocol **protocols)
{
    SSize_t count = list != NULL ? av_top_index(list) + 1 : 0;
    for (SSize_t i = 0; i < count; i++) {
	SV **entry = av_fetch(list, i, 0);
	const char *name = entry != NULL ? SvPV_nolen(*entry) : "";
	Protocol *protocol = objc_getProtocol(name);
	if (protocol == NULL) {
	    protocol = BqOsmo_LookupProtocol(Nil, name);
	}
	if (protocol == NULL) {
	    croak("Vantle::Class: no protocol %s", name);
	}
	protocols[i] = protocol;
    }
    return (int) count;
}

/* Whether cls's own instance variables (the hidden one left out) are
 * exactly specs. */
static int
SameIvars(Class cls, const BqIvarSpec *specs, int count)
{
    unsigned int own = 0;
    Ivar *ivars = class_copyIvarList(cls, &own);
    int seen = 0, same = 1;
    for (unsigned int i = 0; same && i < own; i++) {
	if (strcmp(ivar_getName(ivars[i]), VANTLE_STATE_IVAR) == 0) {
	    continue;
	}
	same = seen < count && strcmp(ivar_getName(ivars[i]), specs[seen].name) == 0
	    && strcmp(ivar_getTypeEncoding(ivars[i]), specs[seen].type) == 0;
	seen++;
    }
    free(ivars);
    return same && seen == count;
}

/* Makes the package named as the class route the class's messages. */
static void
RouteClassPackage(pTHX_ const char *package)
{
    SV *isaName = sv_2mortal(newSVpvf("%s::ISA", package));
    AV *isa = get_av(SvPVX(isaName), GV_ADD);
    for (SSize_t i = 0; i <= av_top_index(isa); i++) {
	SV **entry = av_fetch(isa, i, 0);
	if (entry != NULL && strEQ(SvPV_nolen(*entry), VANTLE_CLASS_ROUTES)) {
	    return;
	}
    }
    av_push(isa, newSVpvs(VANTLE_CLASS_ROUTES));
}

static VantleMethod *
NewMethod(VantleDefinedClass *record)
{
    VantleMethod *method = (VantleMethod *) calloc(1, sizeof *method);
    if (method != NULL) {
	method->definedClass = record;
    }
    return method;
}

/*
 * NewClassRecord --
 *	The record of a class just built, with its dealloc installed; null
 *	when memory or libffi fail (the class then stays without Perl
 *	methods, which the caller reports).
 */
static VantleDefinedClass *
NewClassRecord(pTHX_ Class cls, const char *package, int ownsState, Tcl_DString *errors)
{
    VantleDefinedClass *record = (VantleDefinedClass *) calloc(1, sizeof *record);
    VantleMethod *dealloc = record != NULL ? NewMethod(record) : NULL;
    if (dealloc == NULL || (record->package = strdup(package)) == NULL) {
	free(dealloc);
	free(record);
	BqTcl_DStringApp(errors, "out of memory", (char *) NULL);
	return NULL;
    }
    record->cls = cls;
    record->owner = aTHX;
    record->ownsState = ownsState;
    Ivar state = class_getInstanceVariable(cls, VANTLE_STATE_IVAR);
    record->stateOffset = state != NULL ? ivar_getOffset(state) : 0;
    SEL selector = sel_registerName("dealloc");
    dealloc->closure = BqMethodClosure_New(cls, selector, 0, "v@:", DeallocHandler, dealloc,
	    errors);
    if (dealloc->closure == NULL || !RegisterClassRecord(record)) {
	free(record->package);
	free(dealloc);
	free(record);
	if (Tcl_DStringLength(errors) == 0) {
	    BqTcl_DStringApp(errors, "out of memory", (char *) NULL);
	}
	return NULL;
    }
    record->deallocMethod = dealloc;
    dealloc->superStart = class_getSuperclass(cls);
    record->classHandle = VantlePriv_NewKeptHandle(aTHX_ (id) cls);
    BqOsmo_SetMethodImplementation(cls, selector, dealloc->closure->types,
	    dealloc->closure->implementation, 0);
    return record;
}

/*
 * RedefineClass --
 *	A class defined again: what a running program cannot change must be
 *	as before (croaks otherwise); new protocols are adopted.
 */
static void
RedefineClass(pTHX_ VantleDefinedClass *record, Class superclass, const BqIvarSpec *specs,
	int ivarCount, Protocol **protocols, int protocolCount, Tcl_DString *encodings)
{
    Class cls = record->cls;
    const char *name = class_getName(cls);
    if (record->owner != NULL && record->owner != aTHX) {
	CROAK_FREEING(encodings, "Vantle::Class: class %s belongs to another Perl interpreter",
		name);
    }
    if (class_getSuperclass(cls) != superclass) {
	CROAK_FREEING(encodings, "Vantle::Class: class %s has superclass %s; a defined class "
		"keeps its superclass", name, class_getName(class_getSuperclass(cls)));
    }
    if (!SameIvars(cls, specs, ivarCount)) {
	CROAK_FREEING(encodings, "Vantle::Class: class %s has other instance variables; a "
		"defined class keeps its instance variables", name);
    }
    for (int i = 0; i < protocolCount; i++) {
	BqOsmo_AdoptProtocol(cls, protocols[i]);
    }
    if (record->owner == NULL) {
	record->owner = aTHX;
	record->classHandle = VantlePriv_NewKeptHandle(aTHX_ (id) cls);
    }
}

/*
 *----------------------------------------------------------------------
 * Vantle::Class::_define --
 *	(name, superclass, package, [[ivar, declaration], ...], [protocol,
 *	...]): makes the class, or checks a class defined before under that
 *	name, and answers its handle.  The package's subs are its methods.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__Class___define)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    if (items != 5) {
	croak("Usage: Vantle::Class::_define(name, superclass, package, ivars, protocols)");
    }
    const char *name = SvPV_nolen(ST(0));
    const char *superName = SvPV_nolen(ST(1));
    const char *package = SvPV_nolen(ST(2));
    AV *ivarList = ArrayOf(ST(3));
    AV *protocolList = ArrayOf(ST(4));
    if ((SvOK(ST(3)) && ivarList == NULL) || (SvOK(ST(4)) && protocolList == NULL)) {
	croak("Vantle::Class: ivars and protocols are array references");
    }
    Class superclass = objc_lookUpClass(superName);
    if (superclass == Nil) {
	croak("Vantle::Class: no superclass %s for class %s", superName, name);
    }

    SSize_t ivarCount = ivarList != NULL ? av_top_index(ivarList) + 1 : 0;
    SSize_t protocolCount = protocolList != NULL ? av_top_index(protocolList) + 1 : 0;
    BqIvarSpec *specs = (BqIvarSpec *) SvPVX(sv_2mortal(newSV(sizeof(BqIvarSpec)
	    * (size_t) (ivarCount + 1))));
    int *offsets = (int *) SvPVX(sv_2mortal(newSV(sizeof(int) * (size_t) (ivarCount + 1))));
    Protocol **protocols = (Protocol **) SvPVX(sv_2mortal(newSV(sizeof(Protocol *)
	    * (size_t) (protocolCount + 1))));
    CollectProtocols(aTHX_ protocolList, protocols);
    Tcl_DString encodings;
    Tcl_DStringInit(&encodings);
    CollectIvars(aTHX_ name, ivarList, specs, &encodings, offsets);

    Class existing = objc_lookUpClass(name);
    VantleDefinedClass *record = VantlePriv_DefinedClass(existing);
    if (existing != Nil && record == NULL) {
	CROAK_FREEING(&encodings, "Vantle::Class: a class named %s already exists", name);
    }
    if (record != NULL) {
	RedefineClass(aTHX_ record, superclass, specs, (int) ivarCount, protocols,
		(int) protocolCount, &encodings);
    } else {
	/* The topmost class defined in Perl holds each instance's state. */
	int ownsState = VantlePriv_DefinedAncestor(superclass) == NULL;
	if (ownsState) {
	    specs[ivarCount].name = VANTLE_STATE_IVAR;
	    specs[ivarCount].type = "^v";
	}
	Tcl_DString errors;
	Tcl_DStringInit(&errors);
	Class cls = BqOsmo_BuildClass(name, superclass, (int) ivarCount + ownsState, specs,
		(int) protocolCount, protocols, &errors);
	Tcl_DStringFree(&encodings);
	record = cls != Nil ? NewClassRecord(aTHX_ cls, package, ownsState, &errors) : NULL;
	if (record == NULL) {
	    CROAK_FREEING(&errors, "Vantle::Class: %s", Tcl_DStringValue(&errors));
	}
	Tcl_DStringFree(&errors);
    }
    Tcl_DStringFree(&encodings);
    if (strcmp(package, name) == 0) {
	RouteClassPackage(aTHX_ package);
    }
    SV *result = sv_newmortal();
    Vantle_SVSetObject(result, (id) record->cls, NULL);
    ST(0) = result;
    XSRETURN(1);
}

/* ---------------------------------------------------------------------
 * Adding a method
 * ------------------------------------------------------------------ */

/* The method record of (selector, side) in a class's list, or null. */
static VantleMethod *
FindMethod(VantleDefinedClass *record, SEL selector, int classMethod)
{
    if (!classMethod && sel_isEqual(selector, record->deallocMethod->closure->selector)) {
	return record->deallocMethod;
    }
    for (VantleMethod *method = record->methods; method != NULL; method = method->next) {
	if (method->closure->classMethod == classMethod
		&& sel_isEqual(method->closure->selector, selector)) {
	    return method;
	}
    }
    return NULL;
}

/*
 * DeclaredTypes --
 *	The method types of declared C types (result, then one per
 *	argument) into result; 0, or 1 with a message in result.
 */
static int
DeclaredTypes(pTHX_ AV *declarations, int argc, Tcl_DString *result)
{
    SSize_t count = av_top_index(declarations) + 1;
    if (count != argc - 1) {
	Tcl_DStringFree(result);
	BqTcl_DStringApp(result, "the selector takes ", form("%d", argc - 2),
		" arguments, the declaration gives ", form("%d", (int) count - 1), (char *) NULL);
	return 1;
    }
    /* Each encoding is kept whole in one string; types point into it. */
    Tcl_DString encodings, one;
    Tcl_DStringInit(&encodings);
    Tcl_DStringInit(&one);
    int *offsets = (int *) SvPVX(sv_2mortal(newSV(sizeof(int) * (size_t) (argc + 1))));
    const char **types = (const char **) SvPVX(sv_2mortal(newSV(sizeof(char *)
	    * (size_t) (argc + 1))));
    for (SSize_t i = 0; i < count; i++) {
	SV **entry = av_fetch(declarations, i, 0);
	if (EncodeDeclaration(entry != NULL ? SvPV_nolen(*entry) : "", &one) != 0) {
	    Tcl_DStringFree(result);
	    BqTcl_DStringApp(result, i == 0 ? "result" : form("argument %d", (int) i), ": ",
		    Tcl_DStringValue(&one), (char *) NULL);
	    Tcl_DStringFree(&one);
	    Tcl_DStringFree(&encodings);
	    return 1;
	}
	/* Slots: result, receiver, selector, then the arguments. */
	int slot = i == 0 ? 0 : (int) i + 2;
	offsets[slot] = Tcl_DStringLength(&encodings);
	Tcl_DStringAppend(&encodings, Tcl_DStringValue(&one), Tcl_DStringLength(&one) + 1);
    }
    Tcl_DStringFree(&one);
    for (int i = 0; i < argc + 1; i++) {
	types[i] = i == 1 ? "@" : i == 2 ? ":" : Tcl_DStringValue(&encodings) + offsets[i];
    }
    Tcl_DStringFree(result);
    int code = BqOsmo_GetMethodDescription(VantlePriv_CTypeTable, argc + 1, types, result);
    Tcl_DStringFree(&encodings);
    return code;
}

/* Objects only: "@@:" and one "@" per argument. */
static void
ObjectTypes(int argc, Tcl_DString *result)
{
    Tcl_DStringAppend(result, "@@:", 3);
    for (int i = 2; i < argc; i++) {
	Tcl_DStringAppend(result, "@", 1);
    }
}

/*
 * The sub that stands for a method in its package: Perl calls it for
 * Class->name and $handle->Class::name, and it sends the method's
 * selector to the invocant, so the method runs as a message (with its
 * conversions, and with super reaching the superclass) however Perl code
 * calls it.
 */
XS_INTERNAL(XS_Vantle__Class__MethodSend)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    VantleMethod *method = (VantleMethod *) CvXSUBANY(cv).any_ptr;
    const char *name = method->subName != NULL ? method->subName : "Vantle::Class method";
    XSRETURN(VantlePriv_SendToInvocant(aTHX_ ax, items, method->closure->selector, name));
}

/* The method's sending sub (made on first use), as a new mortal
 * reference. */
static SV *
MethodSendSub(pTHX_ VantleMethod *method)
{
    if (method->send == NULL) {
	method->send = newXS(NULL, XS_Vantle__Class__MethodSend, __FILE__);
	CvXSUBANY(method->send).any_ptr = method;
    }
    return sv_2mortal(newRV_inc((SV *) method->send));
}

/* Puts code behind a method record (counted), and its name for other
 * interpreters. */
static void
SetMethodCode(pTHX_ VantleMethod *method, CV *code, SV *subName)
{
    BqMethodClosure *closure = method->closure;
    if (method->codeKey == NULL) {
	SV *key = sv_2mortal(newSVpvf("%c[%s %s]", closure->classMethod ? '+' : '-',
		class_getName(closure->definingClass), sel_getName(closure->selector)));
	method->codeKey = strdup(SvPVX(key));
    }
    if (method->codeKey != NULL) {
	(void) hv_store(get_hv(VANTLE_METHOD_CODE, GV_ADD | GV_ADDMULTI), method->codeKey,
		(I32) strlen(method->codeKey), newRV_inc((SV *) code), 0);
    }
    SvREFCNT_inc_simple_void_NN(code);
    CV *old = method->code;
    method->code = code;
    free(method->subName);
    method->subName = SvOK(subName) ? strdup(SvPV_nolen(subName)) : NULL;
    SvREFCNT_dec(old);
}

/*
 *----------------------------------------------------------------------
 * Vantle::Class::_add_method --
 *	(class, selector, [result, argument, ...] or undef, code, class
 *	method?, sub name or undef): makes code the implementation of the
 *	selector in a class defined in Perl.  Without declarations the
 *	method takes the types of the method it overrides or of the
 *	protocol that declares it, else objects only.  A method defined
 *	before keeps its types and gets the new code.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__Class___add_method)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    if (items != 6) {
	croak("Usage: Vantle::Class::_add_method(class, selector, types, code, classmethod, "
		"subname)");
    }
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    char failed = 0;
    Class cls = (Class) Vantle_SVGetClass2(ST(0), &errors, &failed, 0);
    if (failed || cls == Nil) {
	CROAK_FREEING(&errors, "Vantle::Class: %s", failed ? Tcl_DStringValue(&errors)
		: "no class");
    }
    VantleDefinedClass *record = VantlePriv_DefinedClass(cls);
    if (record == NULL) {
	CROAK_FREEING(&errors, "Vantle::Class: %s is not a class defined in Perl",
		class_getName(cls));
    }
    if (record->owner != aTHX) {
	CROAK_FREEING(&errors, "Vantle::Class: class %s belongs to another Perl interpreter",
		class_getName(cls));
    }
    const char *selectorName = SvPV_nolen(ST(1));
    int colons = BqOsmo_ArgcForMName(selectorName);
    int argc = colons + 2;	/* the receiver and the selector too */
    if (colons < 0 || *selectorName == '\0') {
	CROAK_FREEING(&errors, "Vantle::Class: \"%s\" is no selector name", selectorName);
    }
    SV *codeRef = ST(3);
    if (!SvROK(codeRef) || SvTYPE(SvRV(codeRef)) != SVt_PVCV) {
	CROAK_FREEING(&errors, "Vantle::Class: method %s of class %s needs a code reference",
		selectorName, class_getName(cls));
    }
    int classMethod = SvTRUE(ST(4));
    SEL selector = BqTypeSpec_Str2SEL(selectorName);
    char side = classMethod ? '+' : '-';

    AV *declarations = ArrayOf(ST(2));
    if (declarations != NULL) {
	if (DeclaredTypes(aTHX_ declarations, argc, &errors) != 0) {
	    CROAK_FREEING(&errors, "Vantle::Class: %c[%s %s]: %s", side, class_getName(cls),
		    selectorName, Tcl_DStringValue(&errors));
	}
    } else {
	const char *inherited = BqOsmo_InheritedMethodTypes(cls, selector, classMethod);
	if (inherited != NULL) {
	    Tcl_DStringAppend(&errors, inherited, -1);
	} else {
	    ObjectTypes(argc, &errors);
	}
    }
    /* errors now holds the types. */
    const char *completed = BqMethod_SignatureForString(Tcl_DStringValue(&errors));
    if (completed == NULL || BqMethod_SignatureRecordForString(completed, NULL) == NULL
	    || BqMethod_SignatureRecordForString(completed, NULL)->numberOfArguments != argc) {
	CROAK_FREEING(&errors, "Vantle::Class: %c[%s %s]: types \"%s\" do not fit the selector",
		side, class_getName(cls), selectorName, Tcl_DStringValue(&errors));
    }

    VantleMethod *method = FindMethod(record, selector, classMethod);
    if (method != NULL) {
	if (strcmp(method->closure->types, completed) != 0) {
	    CROAK_FREEING(&errors, "Vantle::Class: %c[%s %s] has types %s; a defined method "
		    "keeps its types", side, class_getName(cls), selectorName,
		    method->closure->types);
	}
	Tcl_DStringFree(&errors);
	SetMethodCode(aTHX_ method, (CV *) SvRV(codeRef), ST(5));
	ST(0) = MethodSendSub(aTHX_ method);
	XSRETURN(1);
    }
    Tcl_DStringSetLength(&errors, 0);
    method = NewMethod(record);
    BqMethodClosure *closure = method != NULL ? BqMethodClosure_New(cls, selector, classMethod,
	    completed, VantlePriv_PerlMethodHandler, method, &errors) : NULL;
    if (closure == NULL) {
	free(method);
	CROAK_FREEING(&errors, "Vantle::Class: %c[%s %s]: %s", side, class_getName(cls),
		selectorName, method != NULL ? Tcl_DStringValue(&errors) : "out of memory");
    }
    Tcl_DStringFree(&errors);
    method->closure = closure;
    method->superStart = class_getSuperclass(classMethod ? object_getClass((id) cls) : cls);
    /* Sends from Perl see the runtime's types, without member names. */
    VantlePriv_RememberStructures(closure->types);
    SetMethodCode(aTHX_ method, (CV *) SvRV(codeRef), ST(5));
    {
	KxSpinGuard guard(&registryLock);
	method->next = record->methods;
	record->methods = method;
    }
    BqOsmo_SetMethodImplementation(cls, selector, closure->types, closure->implementation,
	    classMethod);
    ST(0) = MethodSendSub(aTHX_ method);
    XSRETURN(1);
}

/* ---------------------------------------------------------------------
 * The end of an interpreter, and boot
 * ------------------------------------------------------------------ */

int
VantlePriv_MethodsMayRun(PerlInterpreter *interp)
{
    return interp != NULL && interp != endedInterpreter;
}

void
VantlePriv_DefinedClassesStart(pTHX)
{
    if (endedInterpreter == aTHX) {
	endedInterpreter = NULL;
    }
}

void
VantlePriv_DefinedClassesEnd(pTHX)
{
    endedInterpreter = aTHX;
    /* Classes: the subs and handles of this interpreter go; a later call
     * looks the sub up by name in its own interpreter. */
    SV *release = sv_2mortal(newSV(0));
    AV *values = newAV();
    sv_setrv_noinc(release, (SV *) values);
    {
	KxSpinGuard guard(&registryLock);
	for (size_t i = 0; i < allClassCount; i++) {
	    VantleDefinedClass *record = allClasses[i];
	    if (record->owner != aTHX) {
		continue;
	    }
	    record->owner = NULL;
	    if (record->classHandle != NULL) {
		av_push(values, record->classHandle);
		record->classHandle = NULL;
	    }
	    for (VantleMethod *method = record->methods; method != NULL;
		    method = method->next) {
		if (method->code != NULL) {
		    av_push(values, (SV *) method->code);
		    method->code = NULL;
		}
		if (method->send != NULL) {
		    av_push(values, (SV *) method->send);
		    method->send = NULL;
		}
	    }
	    VantleMethod *dealloc = record->deallocMethod;
	    if (dealloc->code != NULL) {
		av_push(values, (SV *) dealloc->code);
		dealloc->code = NULL;
	    }
	}
    }
    /* Instance states: their values are this interpreter's. */
    VantlePriv_InstanceStatesEnd(aTHX_ values);
    /* The array holds one count of each value: freeing it lets go. */
}

void
VantlePriv_BootDefinedClass(pTHX)
{
    newXS("Vantle::Class::_define", XS_Vantle__Class___define, "Vantle");
    newXS("Vantle::Class::_add_method", XS_Vantle__Class___add_method, "Vantle");
    VantlePriv_BootInstanceState(aTHX);
}
