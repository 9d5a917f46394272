/*
 * ObjectTypeCheck.mm --
 *
 *	Whether an object may stand where a type encoding declares a class,
 *	an object of a class or an object conforming to a protocol: the
 *	check the message send makes when runtime type checks are on.
 */
#import <Foundation/Foundation.h>

#include "ObjectTypeCheck.h"
#include "TypeEncoding.h"
#include "Class.h"
#include "Protocol.h"

#include <string.h>

/*
 * IsKindOfClass --
 *	Whether object is an instance of wanted or of a subclass.  A class
 *	object is an instance of its metaclass, whose chain ends in the root
 *	class; it is reached through the class chain, since this runtime may
 *	leave a metaclass's superclass link unresolved.
 */
static int
IsKindOfClass(id object, Class wanted)
{
    Class cls = object_getClass(object);
    if (class_isMetaClass(cls)) {
	Class root = (Class) object;
	while (class_getSuperclass(root) != Nil) {
	    root = class_getSuperclass(root);
	}
	return root == wanted;
    }
    for (; cls != Nil; cls = class_getSuperclass(cls)) {
	if (cls == wanted) {
	    return 1;
	}
    }
    return 0;
}

/*
 *----------------------------------------------------------------------
 * BqOsmo_CheckObjectType --
 *	Whether object may stand where type is declared.  Nil always may.
 *	'#' wants a class; @"<P>" an object whose class (the class itself
 *	for a class object) conforms to protocol P; @"Name" an instance of
 *	class Name or of a subclass.  Other types declare nothing to check.
 *	On a mismatch appends label, what and the reason, and answers 1.
 *----------------------------------------------------------------------
 */
int
BqOsmo_CheckObjectType(id object, const char *type, const char *label,
	const char *what, Tcl_DString *errors)
{
    if (object == nil || type == NULL) {
	return 0;
    }
    label = label != NULL ? label : "";
    what = what != NULL ? what : "";
    const char *p = BqTypeSpec_SkipTypeQualifiers(type);
    int isClass = class_isMetaClass(object_getClass(object));
    if (*p == '#') {
	if (isClass) {
	    return 0;
	}
	BqTcl_DStringApp(errors, label, what, " is not a class", (char *) NULL);
	return 1;
    }
    if (p[0] != '@' || p[1] != '"') {
	return 0;
    }
    const char *nameStart = p + 2;
    const char *nameEnd = strchr(nameStart, '"');
    if (nameEnd == NULL) {
	nameEnd = nameStart + strlen(nameStart);
    }
    Tcl_DString name;
    Tcl_DStringInit(&name);
    int failed = 0;
    if (*nameStart == '<') {
	const char *close = (const char *) memchr(nameStart, '>', (size_t) (nameEnd - nameStart));
	const char *protoName = Tcl_DStringAppend(&name, nameStart + 1,
		(int) ((close != NULL ? close : nameEnd) - nameStart - 1));
	Protocol *protocol = BqOsmo_LookupProtocol(Nil, protoName);
	Class cls = isClass ? (Class) object : object_getClass(object);
	if (protocol == nil || !BqOsmo_ClassConformsTo(cls, protocol)) {
	    BqTcl_DStringApp(errors, label, what, " does not conform to protocol ",
		    protoName, (char *) NULL);
	    failed = 1;
	}
    } else if (nameEnd > nameStart) {
	const char *className = Tcl_DStringAppend(&name, nameStart, (int) (nameEnd - nameStart));
	Class wanted = objc_lookUpClass(className);
	if (wanted == Nil || !IsKindOfClass(object, wanted)) {
	    BqTcl_DStringApp(errors, label, what, " is not a kind of ", className,
		    (char *) NULL);
	    failed = 1;
	}
    }
    Tcl_DStringFree(&name);
    return failed;
}
