/*
 * RyRenderContext.h --
 *
 *	What a template needs from the page that renders it.  The framework
 *	above implements it (for the request being answered); the template
 *	layer only asks.  Every method is called while a page renders, on
 *	the rendering thread.
 */
#ifndef RY_RENDER_CONTEXT_H
#define RY_RENDER_CONTEXT_H

#import <Foundation/NSObject.h>

@class NSMutableString, NSString;

@protocol RyRenderContext <NSObject>
/* The object whose values the template shows: key paths start here. */
- (id) component;
/* The URL that runs the action name, e.g. "/Main?r=8&a=3" (for
 * <ry:link>). */
- (NSString *) actionURLForName: (NSString *)name;
/* The URL that forms post to (the action of <form>). */
- (NSString *) formURL;
/* The name of the form field that edits the value at keyPath (the
 * template's text, e.g. "user.name"), for <ry:textfield>. */
- (NSString *) fieldNameForKey: (NSString *)keyPath;
/* The same for a <ry:checkbox>, whose field is absent from a form posted
 * while it is unchecked. */
- (NSString *) checkboxNameForKey: (NSString *)keyPath;
/* The name of the submit button that runs the action name. */
- (NSString *) fieldNameForAction: (NSString *)name;
/* Appends the page of the sub-component name to out (<ry:component>).
 * Raise an NSException for a name that names no component. */
- (void) appendComponentNamed: (NSString *)name toString: (NSMutableString *)out;
/* <ry:repeat> sets its item (and index) key through these: the context
 * sets value under key on the component (takeValue:forKey:) and
 * remembers it, so what is drawn inside the repetition (actions,
 * fields) can get it back later; forget ends that when the repetition
 * is over.  Exceptions pass to the template's caller. */
- (void) takeRepetitionValue: (id)value forKey: (NSString *)key;
- (void) forgetRepetitionKey: (NSString *)key;
@end

#endif /* RY_RENDER_CONTEXT_H */
