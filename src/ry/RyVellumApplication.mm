/*
 * RyVellumApplication.mm --
 *
 *	An application served from a folder of component folders.
 */
#import <Foundation/Foundation.h>

#include "RyApplicationPrivate.h"
#include "RyNames.h"
#include "RyVellumApplication.h"
#include "RyVellumComponentController.h"

/* directory made absolute (against the current directory) and
 * standardized, or nil when it is no string or names no folder. */
static NSString *
ExistingFolder(NSString *directory)
{
    if (![directory isKindOfClass: [NSString class]] || [directory length] == 0) {
	return nil;
    }
    NSFileManager *files = [NSFileManager defaultManager];
    if (![directory isAbsolutePath]) {
	directory = [[files currentDirectoryPath] stringByAppendingPathComponent: directory];
    }
    directory = [directory stringByStandardizingPath];
    BOOL folder = NO;
    if (![files fileExistsAtPath: directory isDirectory: &folder] || !folder) {
	return nil;
    }
    return directory;
}

@implementation RyVellumApplication

- (id) initWithRoot: (NSString *)directory
{
    NSString *folder = ExistingFolder(directory);
    if (folder == nil) {
	[self release];
	[NSException raise: NSInvalidArgumentException
		    format: @"RyVellumApplication: no folder at %@", directory];
    }
    if ((self = [super init]) != nil) {
	root = [folder copy];
	applicationName = [[folder lastPathComponent] copy];
    }
    return self;
}

- (void) dealloc
{
    [root release];
    [super dealloc];
}

- (NSString *) root
{
    return root;
}

- (NSString *) pathForResource: (NSString *)name ofType: (NSString *)type
{
    return RyResourcePath(root, name, type);
}

- (RyBundle *) bundleForComponentWithName: (NSString *)name
{
    if (!RyIsComponentName(name)) {
	return nil;
    }
    NSString *directory = [root stringByAppendingPathComponent: name];
    BOOL folder = NO;
    if (![[NSFileManager defaultManager] fileExistsAtPath: directory isDirectory: &folder]
	|| !folder) {
	return nil;
    }
    return [[[RyBundle alloc] initWithDirectory: directory] autorelease];
}

- (NSString *) templatePathForComponentWithName: (NSString *)name
{
    return [[self bundleForComponentWithName: name] pathForResource: name ofType: @"html"];
}

- (id) controllerForComponentWithName: (NSString *)name
{
    /* The kept template, so its file is looked up once, not again at the
     * first rendering. */
    if ([self templateForComponentWithName: name] == nil) {
	return nil;
    }
    return [[[RyVellumComponentController alloc] init] autorelease];
}

- (NSString *) publicDirectory
{
    return [root stringByAppendingPathComponent: @"public"];
}

@end
