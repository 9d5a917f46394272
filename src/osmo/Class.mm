/*
 * Class.mm --
 *
 *	Conformance of classes to protocols, formal and real, and class
 *	renaming.
 */
#import <Foundation/Foundation.h>

#include "Class.h"
#include "Glisk.h"
#include "Protocol.h"
#include "TypeEncoding.h"
#include "KxPlatform.h"
#include "KxClassRename.h"

#include <string.h>

int
BqOsmo_IsClass(id object)
{
    /* A class object's own class is a metaclass; an instance's is not. */
    return object != nil && BqOsmo_IsIdInvalid(object) == NULL
	    && class_isMetaClass(object_getClass(object));
}

int
BqOsmo_ClassConformsTo(Class cls, Protocol *protocol)
{
    if (!BqOsmo_IsClass((id) cls) || !BqOsmo_IsProtocol((id) protocol)) {
	return 0;
    }
    return KxClassConformsTo(cls, protocol);
}

/*
 * CheckMethods --
 *	Checks that cls has, for each description of methods, an instance
 *	(or class) method of that selector with an equal type encoding.  For
 *	each one missing or different, appends " -" (or " +") and the
 *	selector to errors, first opening the protocol's group with "{" and
 *	its name unless *opened says it is open already.
 *
 * Results:
 *	1 when every method is there, else 0.
 */
static int
CheckMethods(Class cls, Protocol *protocol, const BqOsmoMethodDescriptionList *methods,
	int instance, int *opened, Tcl_DString *errors)
{
    int conforms = 1;
    for (int i = 0; methods != NULL && i < methods->count; i++) {
	const struct objc_method_description *wanted = &methods->list[i];
	Method method = instance ? class_getInstanceMethod(cls, wanted->name)
				 : class_getClassMethod(cls, wanted->name);
	if (method != NULL && BqTypeSpec_EqTypes(wanted->types, method_getTypeEncoding(method))) {
	    continue;
	}
	conforms = 0;
	if (!*opened) {
	    BqTcl_DStringApp(errors, "{", protocol_getName(protocol), (char *) NULL);
	    *opened = 1;
	}
	BqTcl_DStringApp(errors, instance ? " -" : " +", sel_getName(wanted->name), (char *) NULL);
    }
    return conforms;
}

/*
 * ReallyConforms --
 *	Checks the protocol's own methods, as one group of the message, then
 *	each incorporated protocol with its own group.  Every group is
 *	checked, so the message names every missing method.
 */
static int
ReallyConforms(Class cls, Protocol *protocol, Tcl_DString *errors)
{
    int opened = 0;
    int conforms = CheckMethods(cls, protocol, BqOsmo_ProtocolClassMethods(protocol), 0,
	    &opened, errors);
    conforms &= CheckMethods(cls, protocol, BqOsmo_ProtocolInstanceMethods(protocol), 1,
	    &opened, errors);
    if (opened) {
	BqTcl_DStringApp(errors, "}", (char *) NULL);
    }
    const BqOsmoProtocolList *incorporated = BqOsmo_ProtocolIncorporated(protocol);
    for (int i = 0; incorporated != NULL && i < incorporated->count; i++) {
	conforms &= ReallyConforms(cls, incorporated->list[i], errors);
    }
    return conforms;
}

int
BqOsmo_ClassReallyConformsTo(Class cls, Protocol *protocol, Tcl_DString *errors)
{
    if (!BqOsmo_IsClass((id) cls)) {
	BqTcl_DStringApp(errors, "not a class", (char *) NULL);
	return 0;
    }
    if (!BqOsmo_IsProtocol((id) protocol)) {
	BqTcl_DStringApp(errors, "not a protocol", (char *) NULL);
	return 0;
    }
    return ReallyConforms(cls, protocol, errors);
}

static int
IsNameStart(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

static int
IsNamePart(unsigned char c)
{
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '~';
}

/*
 * CheckName --
 *	Checks a new name for a thing of the given kind ("class" ...): it
 *	must be present, start with a letter or "_" and go on with letters,
 *	digits, "_" or "~".
 *
 * Results:
 *	0 when the name is legal; else 1 with the reason appended to errors.
 */
static int
CheckName(const char *kind, const char *name, Tcl_DString *errors)
{
    if (name == NULL || name[0] == '\0') {
	BqTcl_DStringApp(errors, "NULL ", kind, " name", (char *) NULL);
	return 1;
    }
    for (const char *p = name; *p != '\0'; p++) {
	unsigned char c = (unsigned char) *p;
	if (p == name ? !IsNameStart(c) : !IsNamePart(c)) {
	    char bad[2] = { (char) c, '\0' };
	    BqTcl_DStringApp(errors, "illegal character in ", kind, " name '", bad, "'",
		    (char *) NULL);
	    return 1;
	}
    }
    return 0;
}

/*
 * CheckRenamable --
 *	Checks that cls is a live class (not an instance, not a metaclass)
 *	whose name may change.
 *
 * Results:
 *	0 when it is; else 1 with the reason appended to errors.
 */
static int
CheckRenamable(Class cls, Tcl_DString *errors)
{
    const char *problem = BqOsmo_IsIdInvalid((id) cls);
    if (problem != NULL) {
	BqTcl_DStringApp(errors, "cannot rename: ", problem, (char *) NULL);
	return 1;
    }
    /* An instance's class is no metaclass; only a class object (class or
     * metaclass) may be asked class_isMetaClass, since only those carry
     * a whole class record. */
    if (!class_isMetaClass(object_getClass((id) cls))) {
	BqTcl_DStringApp(errors, "cannot rename instance", (char *) NULL);
	return 1;
    }
    if (class_isMetaClass(cls)) {
	BqTcl_DStringApp(errors, "cannot rename metaclass", (char *) NULL);
	return 1;
    }
    return 0;
}

static int
IsRootClass(Class cls)
{
    return cls == objc_lookUpClass("Object") || cls == objc_lookUpClass("NSObject");
}

int
BqOsmo_ClassRename(Class cls, const char *newName, Tcl_DString *errors)
{
    if (cls == Nil) {
	BqTcl_DStringApp(errors, "cannot rename Nil", (char *) NULL);
	return 1;
    }
    if (CheckName("class", newName, errors) != 0 || CheckRenamable(cls, errors) != 0) {
	return 1;
    }
    if (objc_lookUpClass(newName) != Nil) {
	BqTcl_DStringApp(errors, "class ", newName, " already exists", (char *) NULL);
	return 1;
    }
    if (IsRootClass(cls)) {
	BqTcl_DStringApp(errors, "renaming class ", class_getName(cls), " is not a good idea",
		(char *) NULL);
	return 1;
    }
    const char *problem = KxRenameClass(cls, KxUniqueString(newName));
    if (problem != NULL) {
	BqTcl_DStringApp(errors, "cannot rename class ", class_getName(cls), ": ", problem,
		(char *) NULL);
	return 1;
    }
    return 0;
}
