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
 *	  NSInvalidArgumentException "refused") from a dictionary of its own;
 *	- VantleTestLabels: NSObject plus class methods whose structure
 *	  arguments and results hold C strings (struct VantleTestLabel {
 *	  char *text; int repeat; } and struct VantleTestNames { char
 *	  *names[2]; struct VantleTestLabel label; }), so that tests and the
 *	  soak test can pass strings inside aggregates by value:
 *	  +lengthOfLabel: (strlen(text) * repeat, -1 for a null text),
 *	  +lengthOfLabel:orRaise: (the same, or an NSInvalidArgumentException
 *	  "asked to"), +labelWithRepeat: (the text "label" and the count
 *	  given) and +describeNames: (an NSString "first,second,text*repeat");
 *	- VantleTestSends: NSObject plus class methods for the message send:
 *	  +negate: (C bool in, C bool out) and +textWithCFormat: (a C format
 *	  and its values, formatted by vsnprintf into an NSString).
 *	Not meant for applications.
 */
#import <Foundation/Foundation.h>

#include "TestSupport.h"
#include "KxMessaging.h"
#include "KxZone.h"

#include <objc/runtime.h>
#include <stdalign.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

struct VantleTestPoint {
    int x;
    double y;
};

struct VantleTestLabel {
    char *text;
    int repeat;
};

struct VantleTestNames {
    char *names[2];
    struct VantleTestLabel label;
};

/* The method type strings below spell out these sizes. */
static_assert(sizeof(struct VantleTestLabel) == 16, "VantleTestLabel is 16 bytes");
static_assert(sizeof(struct VantleTestNames) == 32, "VantleTestNames is 32 bytes");

static Class pairClass, ivarsClass, keyedClass, labelsClass, sendsClass;
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

/*
 * The class methods of VantleTestLabels.
 */
static int
LabelLength(id, SEL, struct VantleTestLabel label)
{
    if (label.text == NULL) {
	return -1;
    }
    return (int) strlen(label.text) * label.repeat;
}

static int
LabelLengthOrRaise(id self, SEL cmd, struct VantleTestLabel label, BOOL raise)
{
    if (raise) {
	[NSException raise: NSInvalidArgumentException format: @"asked to"];
    }
    return LabelLength(self, cmd, label);
}

static struct VantleTestLabel
LabelWithRepeat(id, SEL, int repeat)
{
    static char text[] = "label";
    struct VantleTestLabel label = { text, repeat };
    return label;
}

/* A null string reads as "(null)", so every field shows in the answer. */
static id
DescribeNames(id, SEL, struct VantleTestNames names)
{
    const char *first = names.names[0] ? names.names[0] : "(null)";
    const char *second = names.names[1] ? names.names[1] : "(null)";
    const char *text = names.label.text ? names.label.text : "(null)";
    return [NSString stringWithFormat: @"%s,%s,%s*%d", first, second, text,
	    names.label.repeat];
}

/*
 * The class methods of VantleTestSends.
 */
static bool
SendsNegate(id, SEL, bool value)
{
    return !value;
}

static id
SendsTextWithCFormat(id, SEL, const char *format, ...)
{
    char text[512];
    va_list list;
    va_start(list, format);
    vsnprintf(text, sizeof text, format, list);
    va_end(list);
    return [NSString stringWithUTF8String: text];
}

static Class
MakeSends(void)
{
    Class cls = objc_allocateClassPair([NSObject class], "VantleTestSends", 0);
    Class meta = object_getClass(cls);
    class_addMethod(meta, sel_registerName("negate:"), (IMP) SendsNegate, "B20@0:8B16");
    class_addMethod(meta, sel_registerName("textWithCFormat:"), (IMP) SendsTextWithCFormat,
	    "@24@0:8r*16");
    objc_registerClassPair(cls);
    return cls;
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

static Class
MakeLabels(void)
{
    Class cls = objc_allocateClassPair([NSObject class], "VantleTestLabels", 0);
    Class meta = object_getClass(cls);
    class_addMethod(meta, sel_registerName("lengthOfLabel:"), (IMP) LabelLength,
	    "i32@0:8{VantleTestLabel=*i}16");
    class_addMethod(meta, sel_registerName("lengthOfLabel:orRaise:"), (IMP) LabelLengthOrRaise,
	    "i36@0:8{VantleTestLabel=*i}16C32");
    class_addMethod(meta, sel_registerName("labelWithRepeat:"), (IMP) LabelWithRepeat,
	    "{VantleTestLabel=*i}20@0:8i16");
    class_addMethod(meta, sel_registerName("describeNames:"), (IMP) DescribeNames,
	    "@48@0:8{VantleTestNames=[2*]{VantleTestLabel=*i}}16");
    objc_registerClassPair(cls);
    return cls;
}

/*
 *----------------------------------------------------------------------
 * Vantle::TestSupport::test_classes --
 *	Builds the test classes on the first call; answers handles of
 *	VantleTestPair, VantleTestIvars, VantleTestKeyed, VantleTestLabels
 *	and VantleTestSends.
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
	    labelsClass = MakeLabels();
	    sendsClass = MakeSends();
	})) {
	    SV *message = sv_2mortal(newSVpvf("Vantle::TestSupport::test_classes: %s",
		    Tcl_DStringValue(&errors)));
	    Tcl_DStringFree(&errors);
	    croak_sv(message);
	}
	Tcl_DStringFree(&errors);
    }
    Class classes[] = { pairClass, ivarsClass, keyedClass, labelsClass, sendsClass };
    const int count = (int) (sizeof classes / sizeof classes[0]);
    EXTEND(SP, count);
    for (int i = 0; i < count; i++) {
	SV *handle = sv_newmortal();
	Vantle_SVSetObject(handle, (id) classes[i], NULL);
	ST(i) = handle;
    }
    XSRETURN(count);
}

void
TestSupport_BootClasses(pTHX)
{
    newXS("Vantle::TestSupport::test_classes", XS_Vantle__TestSupport__test_classes, __FILE__);
}
