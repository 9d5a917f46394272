/*
 * RyNames.h --
 *
 *	The names a request or an application may use to reach files: the
 *	names of components and of the resources in their folders.  Every
 *	name that becomes part of a path passes one of these checks first.
 */
#ifndef RY_NAMES_H
#define RY_NAMES_H

#import <Foundation/NSObject.h>

@class NSString;

/* Whether name (any object, or nil) is a component name: a non-empty
 * string of ASCII letters, digits and "_" that does not start with a
 * digit. */
BOOL RyIsComponentName(id name);

/* Whether name (any object, or nil) may be one part of a resource's file
 * name: a non-empty string without "/" or NUL that does not start with
 * ".". */
BOOL RyIsResourceName(id name);

/* directory/name.type (directory/name for a nil or empty type) when that
 * is an existing file that is no folder and both name and type pass
 * RyIsResourceName; else nil (RyBundle.mm). */
NSString *RyResourcePath(NSString *directory, NSString *name, NSString *type);

#endif /* RY_NAMES_H */
