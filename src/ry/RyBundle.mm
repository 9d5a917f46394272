/*
 * RyBundle.mm --
 *
 *	The files of one component's folder, reached only by checked names.
 */
#import <Foundation/Foundation.h>

#include "RyNames.h"
#include "RyVellumApplication.h"

NSString *
RyResourcePath(NSString *directory, NSString *name, NSString *type)
{
    BOOL typed = type != nil && [(id) type length] != 0;
    if (!RyIsResourceName(name) || (typed && !RyIsResourceName(type))) {
	return nil;
    }
    NSString *file = typed ? [name stringByAppendingPathExtension: type] : name;
    NSString *path = [directory stringByAppendingPathComponent: file];
    BOOL folder = NO;
    if (![[NSFileManager defaultManager] fileExistsAtPath: path isDirectory: &folder] || folder) {
	return nil;
    }
    return path;
}

@implementation RyBundle

- (id) initWithDirectory: (NSString *)aDirectory
{
    if ((self = [super init]) != nil) {
	directory = [aDirectory copy];
    }
    return self;
}

- (void) dealloc
{
    [directory release];
    [super dealloc];
}

- (NSString *) directory
{
    return directory;
}

- (NSString *) pathForResource: (NSString *)name ofType: (NSString *)type
{
    return RyResourcePath(directory, name, type);
}

@end
