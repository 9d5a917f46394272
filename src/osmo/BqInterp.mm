/*
 * BqInterp.mm --
 *
 *	The registry of language classes is a List made once, when the class
 *	is first used, and changed and read under a lock of its own.
 */
#import <Foundation/Foundation.h>

#include "BqInterp.h"
#include "List.h"
#include "KxLock.h"

#include <string.h>

KX_MUTEX_DEFINE(languageClassesLock);
static List *languageClasses;

@implementation BqInterp

+ (void) initialize
{
    if (self == [BqInterp class] && languageClasses == nil) {
	languageClasses = [[List alloc] init];
	[self setVersion: 1];
    }
}

+ (void) registerLanguageClass: (Class)languageClass
{
    KxLockGuard guard(&languageClassesLock);
    [languageClasses addObjectIfAbsent: (id) languageClass];
}

+ (void) unregisterLanguageClass: (Class)languageClass
{
    KxLockGuard guard(&languageClassesLock);
    [languageClasses removeObject: (id) languageClass];
}

+ (Class) getClassForLanguage: (const char *)name
{
    if (name == NULL) {
	return Nil;
    }
    KxLockGuard guard(&languageClassesLock);
    unsigned count = [languageClasses count];
    for (unsigned i = 0; i < count; i++) {
	Class candidate = (Class) [languageClasses objectAt: i];
	const char *language = [(id) candidate languageNameCString];
	if (language == name || (language != NULL && strcmp(language, name) == 0)) {
	    return candidate;
	}
    }
    return Nil;
}

+ (const char *) languageNameCString
{
    return NULL;
}

- (BOOL) isDead
{
    return _isDead ? YES : NO;
}

- (void) _setIsDead: (BOOL)isDead
{
    _isDead = isDead ? 1 : 0;
}

@end
