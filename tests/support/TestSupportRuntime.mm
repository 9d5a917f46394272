/*
 * TestSupportRuntime.mm --
 *
 *	Changes to the runtime's classes made while a test runs, for the
 *	tests of what caches of the runtime notice:
 *	- Vantle::TestSupport::add_class(name, selector) registers a
 *	  subclass of NSObject with an instance method of that selector, as
 *	  any code may, telling nobody;
 *	- Vantle::TestSupport::add_method(class, selector) adds an instance
 *	  method to a registered class and notes the change
 *	  (BqOsmo_NoteRuntimeChange), as RuntimeChange.h asks of code that
 *	  changes classes.
 *	The methods answer their selector's name as a string and take
 *	objects, one per colon (two at most).  Not meant for applications.
 */
#import <Foundation/Foundation.h>

#include "TestSupport.h"
#include "RuntimeChange.h"

#include <objc/runtime.h>
#include <string.h>

static id
NameOfSelector(id, SEL selector)
{
    return [NSString stringWithUTF8String: sel_getName(selector)];
}

static id
NameOfSelector1(id self, SEL selector, id)
{
    return NameOfSelector(self, selector);
}

static id
NameOfSelector2(id self, SEL selector, id, id)
{
    return NameOfSelector(self, selector);
}

/*
 * MethodFor --
 *	The implementation and the types of a method named selectorName;
 *	answers 0, or 1 for a name with more than two colons.
 */
static int
MethodFor(const char *selectorName, IMP *implementation, const char **types)
{
    int colons = 0;
    for (const char *p = selectorName; *p != '\0'; p++) {
	colons += *p == ':';
    }
    switch (colons) {
    case 0:
	*implementation = (IMP) NameOfSelector;
	*types = "@16@0:8";
	return 0;
    case 1:
	*implementation = (IMP) NameOfSelector1;
	*types = "@24@0:8@16";
	return 0;
    case 2:
	*implementation = (IMP) NameOfSelector2;
	*types = "@32@0:8@16@24";
	return 0;
    default:
	return 1;
    }
}

/* Vantle::TestSupport::add_class(name, selector): croaks when a class of
 * that name exists or the selector takes more than two arguments. */
XS_INTERNAL(XS_Vantle__TestSupport__add_class)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    if (items != 2) {
	croak("Usage: Vantle::TestSupport::add_class(name, selector)");
    }
    const char *name = SvPV_nolen(ST(0));
    const char *selectorName = SvPV_nolen(ST(1));
    IMP implementation;
    const char *types;
    if (MethodFor(selectorName, &implementation, &types) != 0) {
	croak("Vantle::TestSupport::add_class: %s takes too many arguments", selectorName);
    }
    Class cls = objc_allocateClassPair([NSObject class], name, 0);
    if (cls == Nil) {
	croak("Vantle::TestSupport::add_class: cannot make class %s", name);
    }
    class_addMethod(cls, sel_registerName(selectorName), implementation, types);
    objc_registerClassPair(cls);
    XSRETURN_EMPTY;
}

/* Vantle::TestSupport::add_method(class, selector): croaks for a class
 * that does not exist, a selector that takes more than two arguments,
 * and a method the class has already. */
XS_INTERNAL(XS_Vantle__TestSupport__add_method)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    BqCPerl_SetInterp(aTHX);
    if (items != 2) {
	croak("Usage: Vantle::TestSupport::add_method(class, selector)");
    }
    const char *name = SvPV_nolen(ST(0));
    const char *selectorName = SvPV_nolen(ST(1));
    Class cls = objc_lookUpClass(name);
    if (cls == Nil) {
	croak("Vantle::TestSupport::add_method: no class %s", name);
    }
    IMP implementation;
    const char *types;
    if (MethodFor(selectorName, &implementation, &types) != 0) {
	croak("Vantle::TestSupport::add_method: %s takes too many arguments", selectorName);
    }
    if (!class_addMethod(cls, sel_registerName(selectorName), implementation, types)) {
	croak("Vantle::TestSupport::add_method: %s has %s already", name, selectorName);
    }
    BqOsmo_NoteRuntimeChange();
    XSRETURN_EMPTY;
}

void
TestSupport_BootRuntime(pTHX)
{
    newXS("Vantle::TestSupport::add_class", XS_Vantle__TestSupport__add_class, __FILE__);
    newXS("Vantle::TestSupport::add_method", XS_Vantle__TestSupport__add_method, __FILE__);
}
