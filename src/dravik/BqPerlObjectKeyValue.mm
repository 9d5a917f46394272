/*
 * BqPerlObjectKeyValue.mm --
 *
 *	Key-value coding of a Perl object, the way Perl code reads one: a
 *	key is answered by the sub named as the key (a getter) or, without
 *	one, by the hash entry of that name; a missing entry is nil, as a
 *	missing hash element is undef.  Writes go to the sub "set<Key>"
 *	or into the entry.  So templates and Foundation code read blessed
 *	hashes (a list of Perl objects shown by <ry:repeat>) as they read
 *	dictionaries.
 */
#import <Foundation/Foundation.h>

#include "BqPerlObjectPriv.h"

#include <ctype.h>
#include <string.h>

@implementation BqPerlObject (KeyValue)

/*
 *----------------------------------------------------------------------
 * _callGetter:value: --
 *	When the package has an instance method named name, calls it (no
 *	arguments, scalar context), stores its result in *value and answers
 *	YES; otherwise answers NO and leaves *value alone.
 *----------------------------------------------------------------------
 */
- (BOOL) _callGetter: (const char *)name value: (id *)value
{
    CV *getter = name != NULL ? [self _instanceMethod: name] : NULL;
    if (getter == NULL) {
	return NO;
    }
    *value = [self _callMethod: name code: getter arguments: NULL count: 0];
    return YES;
}

/*
 *----------------------------------------------------------------------
 * _callSetter:value: --
 *	When the package has the instance method "set" plus name with its
 *	first letter upper-cased (setTitle for "title"), calls it with value
 *	(no argument for nil; its result is dropped) and answers YES;
 *	otherwise answers NO.  name is not empty.
 *----------------------------------------------------------------------
 */
- (BOOL) _callSetter: (const char *)name value: (id)value
{
    size_t length = strlen(name);
    char small[DRAVIK_SMALL_NAME];
    char *setter = DravikPriv_NameRoom(small, length + 3);
    memcpy(setter, "set", 3);
    setter[3] = (char) toupper((unsigned char) name[0]);
    memcpy(setter + 4, name + 1, length);	/* the rest and its NUL */
    CV *code = [self _instanceMethod: setter];
    if (code == NULL) {
	return NO;
    }
    id arguments[1] = { value };
    [self _callMethod: setter code: code arguments: arguments count: value != nil];
    return YES;
}

- (id) valueForKey: (NSString *)key
{
    const char *name = [key UTF8String];
    id value = nil;
    if (name == NULL || [self _callGetter: name value: &value]) {
	return value;
    }
    return [self getIVarValue: name];
}

- (void) takeValue: (id)value forKey: (NSString *)key
{
    const char *name = [key UTF8String];
    if (name == NULL || *name == '\0' || [self _callSetter: name value: value]) {
	return;
    }
    [self setIVar: name toValue: value];
}

- (void) setValue: (id)value forKey: (NSString *)key
{
    [self takeValue: value forKey: key];
}

@end
