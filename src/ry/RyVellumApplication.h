/*
 * RyVellumApplication.h --
 *
 *	An application that is a folder:
 *
 *	    todo/Application.pl		optional application script
 *	    todo/Main/Main.html		a component: its folder (bundle)
 *	    todo/Main/Main.pl		... optional script(s)
 *	    todo/public/style.css	optional static files
 *
 *	A component is a sub-folder holding a template named after it.
 *	Without a script its controller is a RyVellumComponentController;
 *	subclasses decide by the scripts they find.
 */
#ifndef RY_VELLUM_APPLICATION_H
#define RY_VELLUM_APPLICATION_H

#include "RyApplication.h"

@class NSString;

/* The resources of one component: the files of its folder. */
@interface RyBundle : NSObject
{
    NSString *directory;
}
- (id) initWithDirectory: (NSString *)directory;
- (NSString *) directory;
/* directory/name.type when that file exists, else nil.  A name or type
 * containing "/" or NUL, or starting with ".", gives nil. */
- (NSString *) pathForResource: (NSString *)name ofType: (NSString *)type;
@end

@interface RyVellumApplication : RyApplication
{
    NSString *root;		/* the application's folder, absolute */
}

/* An application served from the folder directory, named after its last
 * path component.  A directory that does not exist raises
 * NSInvalidArgumentException. */
- (id) initWithRoot: (NSString *)directory;
- (NSString *) root;

/* root/name.type when that file exists, else nil (names checked as by
 * RyBundle). */
- (NSString *) pathForResource: (NSString *)name ofType: (NSString *)type;
/* The bundle of the component name (root/name), or nil when name is not
 * a component name (letters, digits, "_", not starting with a digit) or
 * there is no such folder. */
- (RyBundle *) bundleForComponentWithName: (NSString *)name;
/* The bundle's name.html, or nil. */
- (NSString *) templatePathForComponentWithName: (NSString *)name;
/* A RyVellumComponentController when the component has a template, else
 * nil. */
- (id) controllerForComponentWithName: (NSString *)name;
/* root/public, where static files live (the carrier serves them). */
- (NSString *) publicDirectory;
@end

#endif /* RY_VELLUM_APPLICATION_H */
