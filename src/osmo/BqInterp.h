/*
 * BqInterp.h --
 *
 *	The abstract interpreter class.  Each language binding subclasses it
 *	and registers its class under the language's name, so the runtime
 *	can find the interpreter class of a language.
 */
#ifndef BQ_INTERP_H
#define BQ_INTERP_H

#import <Foundation/NSObject.h>

@interface BqInterp : NSObject
{
    char _keepAround;
    char _isDead;
}
+ (void) registerLanguageClass: (Class)languageClass;
+ (void) unregisterLanguageClass: (Class)languageClass;
/* The first registered class whose language name is name, or Nil. */
+ (Class) getClassForLanguage: (const char *)name;
/* The language's name; null here, subclasses answer their own. */
+ (const char *) languageNameCString;
- (BOOL) isDead;
- (void) _setIsDead: (BOOL)isDead;
@end

#endif
