/*
 * RyTemplate.h --
 *
 *	A template file and its parsed tree.  The file is parsed when the
 *	tree is first asked for and again only after the file changed: its
 *	modification time (to the nanosecond), size, inode or device
 *	differ from those of the last parse.  A file that failed to parse
 *	keeps failing with the same error, without being parsed again,
 *	until it changes.
 *
 *	Threads: one RyTemplate may serve several threads; a lock makes the
 *	check and the re-parse one step.  Trees are immutable, so a thread
 *	may keep rendering a tree that a newer parse has replaced.
 */
#ifndef RY_TEMPLATE_H
#define RY_TEMPLATE_H

#import <Foundation/NSObject.h>

#include <sys/types.h>
#include <time.h>

@class NSException, NSLock, NSString, RyElement;

@interface RyTemplate : NSObject
{
    NSString *path;
    NSString *name;		/* what errors call the file: the path */
    NSLock *lock;		/* guards everything below */
    bool known;			/* a stat of the file was recorded */
    struct timespec mtime;	/* ... its modification time */
    off_t size;
    ino_t inode;
    dev_t device;
    RyElement *root;		/* the tree of that version, or nil */
    NSException *failure;	/* or why it has none */
}
/* The template in the file at path; nothing is read yet. */
- (id) initWithPath: (NSString *)path;
- (NSString *) path;
/* The current tree of the file (the root is a RyElementList node).
 * Raises RyTemplateError when the file cannot be read, is not UTF-8 or
 * does not parse (see RyTemplateParser.h). */
- (RyElement *) root;
@end

#endif /* RY_TEMPLATE_H */
