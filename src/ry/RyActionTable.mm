/*
 * RyActionTable.mm --
 *
 *	The actions and fields one rendering drew, by number.
 */
#import <Foundation/Foundation.h>

#include "RyActionTable.h"
#include "RyValue.h"

BOOL
RyParseEntryNumber(NSString *text, unsigned long long *number)
{
    if (![text isKindOfClass: [NSString class]]) {
	return NO;
    }
    NSUInteger length = [text length];
    if (length == 0 || length > 18) {
	return NO;
    }
    unsigned long long value = 0;
    for (NSUInteger i = 0; i < length; i++) {
	unichar c = [text characterAtIndex: i];
	if (c < '0' || c > '9') {
	    return NO;
	}
	value = value * 10 + (c - '0');
    }
    *number = value;
    return YES;
}

@implementation RyActionEntry

- (id) initWithKind: (RyEntryKind)aKind
	     target: (id)aTarget
	  component: (NSString *)aComponentName
	       name: (NSString *)aName
	   bindings: (NSDictionary *)someBindings
	       form: (NSUInteger)aForm
{
    if ((self = [super init]) != nil) {
	kind = aKind;
	target = [aTarget retain];
	componentName = [aComponentName copy];
	name = [aName copy];
	keys = aKind == RyEntryAction ? nil : [[aName componentsSeparatedByString: @"."] retain];
	bindings = [someBindings copy];
	form = aForm;
    }
    return self;
}

- (void) dealloc
{
    [target release];
    [componentName release];
    [name release];
    [keys release];
    [bindings release];
    [super dealloc];
}

- (RyEntryKind) kind
{
    return kind;
}

- (id) target
{
    return target;
}

- (NSString *) componentName
{
    return componentName;
}

- (NSString *) name
{
    return name;
}

- (NSArray *) keys
{
    return keys;
}

- (NSDictionary *) bindings
{
    return bindings;
}

- (NSUInteger) form
{
    return form;
}

- (void) restoreBindings
{
    for (NSString *key in bindings) {
	RyTakeValue(target, [bindings objectForKey: key], key);
    }
}

@end

@implementation RyActionTable

- (id) initWithSerial: (unsigned long long)aSerial pageName: (NSString *)aPageName
{
    if ((self = [super init]) != nil) {
	serial = aSerial;
	pageName = [aPageName copy];
	entries = [[NSMutableArray alloc] init];
    }
    return self;
}

- (void) dealloc
{
    [pageName release];
    [entries release];
    [super dealloc];
}

- (unsigned long long) serial
{
    return serial;
}

- (NSString *) pageName
{
    return pageName;
}

- (NSUInteger) addEntry: (RyActionEntry *)entry
{
    [entries addObject: entry];
    return [entries count] - 1;
}

- (NSUInteger) addForm
{
    return ++forms;
}

- (NSUInteger) currentForm
{
    return forms;
}

- (NSUInteger) count
{
    return [entries count];
}

- (RyActionEntry *) entryAtIndex: (NSUInteger)number
{
    return [entries objectAtIndex: number];
}

- (BOOL) isCurrentForSerial: (NSString *)query pageName: (NSString *)aPageName
{
    unsigned long long number = 0;
    return RyParseEntryNumber(query, &number) && number == serial
	&& [pageName isEqualToString: aPageName];
}

- (RyActionEntry *) actionForNumber: (NSString *)text
{
    unsigned long long number = 0;
    if (!RyParseEntryNumber(text, &number) || number >= [entries count]) {
	return nil;
    }
    RyActionEntry *entry = [entries objectAtIndex: (NSUInteger)number];
    return [entry kind] == RyEntryAction ? entry : nil;
}

@end
