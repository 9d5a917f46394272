/*
 * RyPageRenderer.mm --
 *
 *	Drawing a component in a request cycle, numbering what it draws.
 */
#import <Foundation/Foundation.h>

#include "RyActionTable.h"
#include "RyElement.h"
#include "RyPageRenderer.h"
#include "RyValue.h"

NSString *const RyComponentError = @"RyComponentError";

@implementation RyPageRenderer

- (id) initWithComponent: (id)controller
		    name: (NSString *)name
		   table: (RyActionTable *)aTable
		  source: (id<RyComponentSource>)aSource
		   depth: (unsigned)aDepth
{
    if ((self = [super init]) != nil) {
	component = [controller retain];
	componentName = [name copy];
	table = [aTable retain];
	source = aSource;
	depth = aDepth;
	bindings = [[NSMutableDictionary alloc] init];
    }
    return self;
}

- (void) dealloc
{
    [component release];
    [componentName release];
    [table release];
    [bindings release];
    [snapshot release];
    [super dealloc];
}

- (void) appendTemplateToString: (NSMutableString *)out
{
    [self appendElement: [source templateForComponentWithName: componentName] toString: out];
}

- (void) appendElement: (RyElement *)element toString: (NSMutableString *)out
{
    [element appendToString: out context: self];
}

- (id) component
{
    return component;
}

/* The bindings in force as an immutable dictionary, made again only
 * after they changed, so the entries drawn between two changes share
 * one. */
- (NSDictionary *) currentBindings
{
    if (snapshot == nil) {
	snapshot = [bindings copy];
    }
    return snapshot;
}

/* Adds an entry of kind for name (an action's name or a key path) with
 * the bindings in force; answers its number. */
- (NSUInteger) addEntry: (RyEntryKind)kind name: (NSString *)name
{
    RyActionEntry *entry = [[RyActionEntry alloc] initWithKind: kind
							target: component
						     component: componentName
							  name: name
						      bindings: [self currentBindings]
							  form: [table currentForm]];
    NSUInteger number = [table addEntry: entry];
    [entry release];
    return number;
}

- (NSString *) actionURLForName: (NSString *)name
{
    NSUInteger number = [self addEntry: RyEntryAction name: name];
    return [NSString stringWithFormat: @"/%@?r=%llu&a=%lu", [table pageName],
	[table serial], (unsigned long)number];
}

- (NSString *) formURL
{
    NSUInteger form = [table addForm];
    return [NSString stringWithFormat: @"/%@?r=%llu&f=%lu", [table pageName], [table serial],
	(unsigned long)form];
}

- (NSString *) fieldNameForKey: (NSString *)keyPath
{
    NSUInteger number = [self addEntry: RyEntryTextField name: keyPath];
    return [NSString stringWithFormat: @"f%lu", (unsigned long)number];
}

- (NSString *) checkboxNameForKey: (NSString *)keyPath
{
    NSUInteger number = [self addEntry: RyEntryCheckbox name: keyPath];
    return [NSString stringWithFormat: @"f%lu", (unsigned long)number];
}

- (NSString *) fieldNameForAction: (NSString *)name
{
    NSUInteger number = [self addEntry: RyEntryAction name: name];
    return [NSString stringWithFormat: @"a%lu", (unsigned long)number];
}

- (void) appendComponentNamed: (NSString *)name toString: (NSMutableString *)out
{
    if (depth + 1 >= RyMaxComponentDepth) {
	[NSException raise: RyComponentError
		    format: @"<ry:component name=\"%@\"> in %@: components nest more than"
			    @" %d deep (does a component contain itself?)",
			    name, componentName, (int)RyMaxComponentDepth];
    }
    id controller = [source awakeControllerForComponentWithName: name];
    RyPageRenderer *renderer = [[[RyPageRenderer alloc] initWithComponent: controller
								     name: name
								    table: table
								   source: source
								    depth: depth + 1] autorelease];
    [renderer appendTemplateToString: out];
}

- (void) takeRepetitionValue: (id)value forKey: (NSString *)key
{
    RyTakeValue(component, value, key);
    if (value != nil) {
	[bindings setObject: value forKey: key];
    } else {
	[bindings removeObjectForKey: key];
    }
    [snapshot release];
    snapshot = nil;
}

- (void) forgetRepetitionKey: (NSString *)key
{
    [bindings removeObjectForKey: key];
    [snapshot release];
    snapshot = nil;
}

@end
