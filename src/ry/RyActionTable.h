/*
 * RyActionTable.h --
 *
 *	What one rendering of a page drew that a later request may use:
 *	its actions (links and submit buttons) and its form fields, each an
 *	entry numbered in drawing order.  A request names entries only by
 *	these numbers, so it can run no action and set no key that the page
 *	did not draw.
 *
 *	Numbers and names (RyPageRenderer makes them, the request cycle
 *	reads them):
 *	    serial	every rendering of a page in a session gets the next
 *			number of the session's counter, which starts at a
 *			random number (RyPageState.h); the session keeps the
 *			table of its last rendering only
 *	    /Main?r=<serial>&a=<n>	a link running action entry n
 *	    /Main?r=<serial>&f=<k>	where the page's k-th form posts
 *	    a<n>	the name of the submit button of action entry n
 *	    f<n>	the name of the text field or checkbox of entry n
 *	A request whose r is not the serial of the session's table (stale,
 *	forged, malformed, another page's, another session's) uses no entry.
 *	A post sets only the fields of the form its f names: a checkbox
 *	missing from the post then means unchecked, not "in another form".
 *
 *	Each entry keeps its target (the page's or a sub-component's
 *	controller), the action's name or the field's key path, and the
 *	repetition bindings in force when it was drawn (item and index keys
 *	of the enclosing <ry:repeat>s), which are set again before it is
 *	used.
 */
#ifndef RY_ACTION_TABLE_H
#define RY_ACTION_TABLE_H

#import <Foundation/NSObject.h>

@class NSArray, NSDictionary, NSMutableArray, NSString;

typedef enum RyEntryKind {
    RyEntryAction,		/* <ry:link> or <ry:submit> */
    RyEntryTextField,		/* <ry:textfield> */
    RyEntryCheckbox		/* <ry:checkbox> */
} RyEntryKind;

@interface RyActionEntry : NSObject
{
    RyEntryKind kind;
    id target;			/* retained */
    NSString *componentName;	/* the target's component */
    NSString *name;		/* the action's name or the key path's text */
    NSArray *keys;		/* a field's key path, split at dots */
    NSDictionary *bindings;	/* repetition key -> value */
    NSUInteger form;		/* a field's form, by number */
}
/* An entry; form is the number of the form a field is in (ignored for
 * actions). */
- (id) initWithKind: (RyEntryKind)kind
	     target: (id)target
	  component: (NSString *)componentName
	       name: (NSString *)name
	   bindings: (NSDictionary *)bindings
	       form: (NSUInteger)form;
- (RyEntryKind) kind;
- (id) target;
- (NSString *) componentName;
- (NSString *) name;
- (NSArray *) keys;
- (NSDictionary *) bindings;
- (NSUInteger) form;
/* Sets each binding on the target again (RyTakeValue). */
- (void) restoreBindings;
@end

@interface RyActionTable : NSObject
{
    unsigned long long serial;
    NSString *pageName;
    NSMutableArray *entries;	/* RyActionEntry, by number */
    NSUInteger forms;		/* how many forms were drawn */
}
- (id) initWithSerial: (unsigned long long)serial pageName: (NSString *)pageName;
- (unsigned long long) serial;
- (NSString *) pageName;
/* Adds entry; answers its number. */
- (NSUInteger) addEntry: (RyActionEntry *)entry;
/* Counts a new form drawn; answers its number.  Fields drawn after it
 * are in it (HTML forms do not nest). */
- (NSUInteger) addForm;
/* The number of the form drawn last (0 before the first). */
- (NSUInteger) currentForm;
- (NSUInteger) count;
- (RyActionEntry *) entryAtIndex: (NSUInteger)number;
/* Whether query, the text of a request's "r", is this table's serial for
 * the page pageName.  Any other text (nil, signs, spaces, overflow)
 * answers NO. */
- (BOOL) isCurrentForSerial: (NSString *)query pageName: (NSString *)pageName;
/* The action entry whose number is text ("3"), or nil when text is no
 * such number or that entry is a field. */
- (RyActionEntry *) actionForNumber: (NSString *)text;
@end

/* The number written as text: decimal digits only, at most 18 of them (so
 * it cannot overflow).  Answers NO, leaving *number alone, for anything
 * else, nil included. */
BOOL RyParseEntryNumber(NSString *text, unsigned long long *number);

#endif /* RY_ACTION_TABLE_H */
