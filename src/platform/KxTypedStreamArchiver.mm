/*
 * KxTypedStreamArchiver.mm --
 *
 *	The archiver of write streams.  NSArchiver remembers the objects it
 *	has written by address, without retaining them, for as long as the
 *	archive grows; a typed stream writes many values over time, so an
 *	object freed between two of them would leave its address to a new
 *	object that the archiver would then write as a mere reference to
 *	the first.  This subclass retains every object it encodes until the
 *	archiver itself goes.
 *
 *	It also refuses what the reader would refuse, since a stream must
 *	never hold a value that cannot be read: classes where an object is
 *	expected, and objects whose class does not declare NSCoding
 *	(NSObject's do-nothing encodeWithCoder: would write an object
 *	that reads back uninitialised).
 *
 *	A conditional reference outside a root object is refused with
 *	TYPEDSTREAM_WRITE_REFERENCE_ERROR: only a root object's two passes
 *	can tell whether the object is written in full elsewhere.
 */
#include "KxTypedStreamPriv.h"

#include <objc/runtime.h>

@implementation KxTSArchiver

- (id) initForWritingWithMutableData: (NSMutableData *)data
{
    self = [super initForWritingWithMutableData: data];
    if (self != nil) {
	_kept = [[NSMutableArray alloc] init];
    }
    return self;
}

- (void) dealloc
{
    [_kept release];
    [super dealloc];
}

/*
 * _keep: --
 *	Retains object for the archiver's life; raises for a class and for
 *	an object that cannot be read back.
 */
- (void) _keep: (id)object
{
    if (object == nil) {
	return;
    }
    if (class_isMetaClass(object_getClass(object))) {
	[NSException raise: NSInvalidArgumentException
		    format: @"class %s inside an object graph: classes cannot be archived as objects",
		    class_getName((Class) object)];
    }
    if (!KxTSClassIsArchivable(object_getClass(object))) {
	[NSException raise: NSInvalidArgumentException
		    format: @"objects of class %s cannot be archived",
		    class_getName(object_getClass(object))];
    }
    [_kept addObject: object];
}

- (void) encodeObject: (id)object
{
    [self _keep: object];
    [super encodeObject: object];
}

- (void) encodeConditionalObject: (id)object
{
    if (_rootDepth == 0) {
	KxTSRaise(TYPEDSTREAM_WRITE_REFERENCE_ERROR,
		  "an object refers to another conditionally outside a root object");
    }
    [self _keep: object];
    [super encodeConditionalObject: object];
}

- (void) encodeRootObject: (id)object
{
    _rootDepth++;
    @try {
	[super encodeRootObject: object];
    } @catch (id thrown) {
	_rootDepth--;
	@throw;
    }
    _rootDepth--;
}

- (int) rootDepth
{
    return _rootDepth;
}

@end
