/*
 * TestSupportClasses.mm --
 *
 *	Classes for the module's own tests of instance-variable access and
 *	of the key-value view, built at run time on the first call of
 *	Vantle::TestSupport::test_classes (so they exist only in processes
 *	that ask for them):
 *	- VantleTestPair: NSObject plus `a` (int) and `b` (id);
 *	- VantleTestIvars: NSObject plus one variable of every kind the
 *	  converters handle, in this order: ch (char), uch (unsigned char),
 *	  sh (short), ush (unsigned short), in (int), uin (unsigned int), lo
 *	  (long), ulo (unsigned long), qu (long long), uqu (unsigned long
 *	  long), fl (float), db (double), str (char *), obj (id), cls
 *	  (Class), sel (SEL), ptr (int *), pt (struct VantleTestPoint { int
 *	  x; double y; }), arr (int[3]);
 *	- VantleTestKeyed: NSObject plus `count` (int) and `_store` (id),
 *	  answering allHashKeys (its keys, sorted), valueForKey: and
 *	  takeValue:forKey: (nil removes the key; the key "bad" raises an
 *	  NSInvalidArgumentException "refused") from a dictionary of its own.
 *	Not meant for applications.
 */
#import <Foundation/Foundation.h>

#include "VantlePriv.h"
#include "KxMessaging.h"
#include "KxZone.h"

#include <objc/runtime.h>
#include <stdalign.h>

struct VantleTestPoint {
    int x;
    double y;
};

static Class pairClass, ivarsClass, keyedClass;
static Ivar storeIvar;

/* log2 of an alignment, as class_addIvar wants it. */
static uint8_t
Log2(size_t alignment)
{
    uint8_t shift = 0;
    while (((size_t) 1 << shift) < alignment) {
	shift++;
    }
    return shift;
}

#define ADD_IVAR(cls, name, ctype) \
    class_addIvar(cls, name, sizeof(ctype), Log2(alignof(ctype)), @encode(ctype))

/*
 * The methods of VantleTestKeyed.
 */
static NSMutableDictionary *
Store(id self)
{
    NSMutableDictionary *store = object_getIvar(self, storeIvar);
    if (store == nil) {
	store = [[NSMutableDictionary alloc] init];
	object_setIvar(self, storeIvar, store);
    }
    return store;
}

static id
KeyedAllHashKeys(id self, SEL)
{
    return [[Store(self) allKeys] sortedArrayUsingSelector: @selector(compare:)];
}

static id
KeyedValueForKey(id self, SEL, id key)
{
    return [Store(self) objectForKey: key];
}

static void
KeyedTakeValueForKey(id self, SEL, id value, id key)
{
    if ([key isEqual: @"bad"]) {
	[NSException raise: NSInvalidArgumentException format: @"refused"];
    }
    if (value == nil) {
	[Store(self) removeObjectForKey: key];
    } else {
	[Store(self) setObject: value forKey: key];
    }
}

static void
KeyedDealloc(id self, SEL cmd)
{
    [(id) object_getIvar(self, storeIvar) release];
    KxSuper super = { self, class_getSuperclass(keyedClass) };
    IMP imp = KxMsgLookupSuper(&super, cmd);
    ((void (*)(id, SEL)) imp)(self, cmd);
}

static Class
MakePair(void)
{
    Class cls = objc_allocateClassPair([NSObject class], "VantleTestPair", 0);
    ADD_IVAR(cls, "a", int);
    ADD_IVAR(cls, "b", id);
    objc_registerClassPair(cls);
    return cls;
}

static Class
MakeIvars(void)
{
    Class cls = objc_allocateClassPair([NSObject class], "VantleTestIvars", 0);
    ADD_IVAR(cls, "ch", char);
    ADD_IVAR(cls, "uch", unsigned char);
    ADD_IVAR(cls, "sh", short);
    ADD_IVAR(cls, "ush", unsigned short);
    ADD_IVAR(cls, "in", int);
    ADD_IVAR(cls, "uin", unsigned int);
    ADD_IVAR(cls, "lo", long);
    ADD_IVAR(cls, "ulo", unsigned long);
    ADD_IVAR(cls, "qu", long long);
    ADD_IVAR(cls, "uqu", unsigned long long);
    ADD_IVAR(cls, "fl", float);
    ADD_IVAR(cls, "db", double);
    ADD_IVAR(cls, "str", char *);
    ADD_IVAR(cls, "obj", id);
    ADD_IVAR(cls, "cls", Class);
    ADD_IVAR(cls, "sel", SEL);
    ADD_IVAR(cls, "ptr", int *);
    ADD_IVAR(cls, "pt", struct VantleTestPoint);
    class_addIvar(cls, "arr", sizeof(int[3]), Log2(alignof(int)), "[3i]");
    objc_registerClassPair(cls);
    return cls;
}

static Class
MakeKeyed(void)
{
    Class cls = objc_allocateClassPair([NSObject class], "VantleTestKeyed", 0);
    ADD_IVAR(cls, "count", int);
    ADD_IVAR(cls, "_store", id);
    class_addMethod(cls, sel_registerName("allHashKeys"), (IMP) KeyedAllHashKeys,
	    "@16@0:8");
    class_addMethod(cls, @selector(valueForKey:), (IMP) KeyedValueForKey, "@24@0:8@16");
    class_addMethod(cls, sel_registerName("takeValue:forKey:"), (IMP) KeyedTakeValueForKey,
	    "v32@0:8@16@24");
    class_addMethod(cls, @selector(dealloc), (IMP) KeyedDealloc, "v16@0:8");
    objc_registerClassPair(cls);
    storeIvar = class_getInstanceVariable(cls, "_store");
    return cls;
}

/*
 *----------------------------------------------------------------------
 * Vantle::TestSupport::test_classes --
 *	Builds the test classes on the first call; answers handles of
 *	VantleTestPair, VantleTestIvars and VantleTestKeyed.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__TestSupport__test_classes)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 0) {
	croak("Usage: Vantle::TestSupport::test_classes()");
    }
    if (pairClass == Nil) {
	Tcl_DString errors;
	Tcl_DStringInit(&errors);
	if (!VantlePriv_Guard(&errors, [] {
	    pairClass = MakePair();
	    ivarsClass = MakeIvars();
	    keyedClass = MakeKeyed();
	})) {
	    SV *message = sv_2mortal(newSVpvf("Vantle::TestSupport::test_classes: %s",
		    Tcl_DStringValue(&errors)));
	    Tcl_DStringFree(&errors);
	    croak_sv(message);
	}
	Tcl_DStringFree(&errors);
    }
    Class classes[] = { pairClass, ivarsClass, keyedClass };
    EXTEND(SP, 3);
    for (int i = 0; i < 3; i++) {
	SV *handle = sv_newmortal();
	Vantle_SVSetObject(handle, (id) classes[i], NULL);
	ST(i) = handle;
    }
    XSRETURN(3);
}

void
VantlePriv_BootTestSupportClasses(pTHX)
{
    newXS("Vantle::TestSupport::test_classes", XS_Vantle__TestSupport__test_classes, "Vantle");
}
