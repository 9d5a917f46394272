/*
 * RyTemplate.mm --
 *
 *	A template file, parsed again only when it changed.
 */
#import <Foundation/Foundation.h>

#include "RyElement.h"
#include "RyError.h"
#include "RyTemplate.h"
#include "RyTemplateParser.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

/* An autoreleased RyTemplateError for the file name with message. */
static NSException *
FileError(NSString *name, NSString *message)
{
    return [NSException exceptionWithName: RyTemplateError
				   reason: RyErrorText(name, 0, message)
				 userInfo: nil];
}

/* The text of the file at path as UTF-8, or nil with *error set. */
static NSString *
ReadText(NSString *path, NSString *name, NSException **error)
{
    NSData *data = [NSData dataWithContentsOfFile: path];
    if (data == nil) {
	*error = FileError(name, @"cannot read the file");
	return nil;
    }
    NSString *text = [[[NSString alloc] initWithData: data
					    encoding: NSUTF8StringEncoding] autorelease];
    if (text == nil) {
	*error = FileError(name, @"the file is not UTF-8 text");
    }
    return text;
}

/* The tree of the file at path, or nil with *error set to why not. */
static RyElement *
ParseFile(NSString *path, NSString *name, NSException **error)
{
    NSString *text = ReadText(path, name, error);
    if (text == nil) {
	return nil;
    }
    RyElement *tree = nil;
    @try {
	tree = RyParseTemplate(text, name);
    } @catch (NSException *e) {
	*error = e;
    }
    return tree;
}

@implementation RyTemplate

- (id) initWithPath: (NSString *)aPath
{
    if ((self = [super init]) != nil) {
	path = [aPath copy];
	name = [aPath copy];
	lock = [[NSLock alloc] init];
    }
    return self;
}

- (void) dealloc
{
    [path release];
    [name release];
    [lock release];
    [root release];
    [failure release];
    [super dealloc];
}

- (NSString *) path
{
    return path;
}

/* Whether info differs from the recorded stat (always, before the
 * first); records info. */
- (BOOL) _noteStat: (const struct stat *)info
{
    BOOL changed = !known
	|| info->st_mtim.tv_sec != mtime.tv_sec || info->st_mtim.tv_nsec != mtime.tv_nsec
	|| info->st_size != size || info->st_ino != inode || info->st_dev != device;
    known = true;
    mtime = info->st_mtim;
    size = info->st_size;
    inode = info->st_ino;
    device = info->st_dev;
    return changed;
}

/* Brings root and failure up to date with the file.  Called with the
 * lock held; raises nothing. */
- (void) _refresh
{
    struct stat info;
    if (stat([path fileSystemRepresentation], &info) != 0) {
	int code = errno;
	known = false;
	[root release];
	root = nil;
	[failure release];
	failure = [FileError(name, [NSString stringWithFormat: @"cannot read the file: %s",
	    strerror(code)]) retain];
	return;
    }
    if (![self _noteStat: &info]) {
	return;
    }
    NSException *error = nil;
    RyElement *tree = ParseFile(path, name, &error);
    [root release];
    root = [tree retain];
    [failure release];
    failure = [error retain];
}

- (RyElement *) root
{
    [lock lock];
    [self _refresh];
    RyElement *tree = [[root retain] autorelease];
    NSException *error = [[failure retain] autorelease];
    [lock unlock];
    if (tree == nil) {
	[error raise];
    }
    return tree;
}

@end
