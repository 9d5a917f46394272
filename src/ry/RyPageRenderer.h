/*
 * RyPageRenderer.h --
 *
 *	The render context of one component being drawn in a request cycle:
 *	the page's controller, or a sub-component's.  Each action and field
 *	it draws becomes an entry of the rendering's action table (shared by
 *	the page and all its sub-components), and its URLs and field names
 *	are made from the entry's number (the scheme is in RyActionTable.h).
 *	Repetition keys are set on the controller and recorded, so each
 *	entry keeps the item and index it was drawn with.
 */
#ifndef RY_PAGE_RENDERER_H
#define RY_PAGE_RENDERER_H

#import <Foundation/NSObject.h>

#include "RyRenderContext.h"

@class NSDictionary, NSMutableDictionary, NSMutableString, NSString, RyActionTable, RyElement;

/* Where a renderer gets sub-components from: the request cycle. */
@protocol RyComponentSource <NSObject>
/* The controller of the component name for this cycle (kept in the
 * session, made on first use), sent awake if it was not yet in this
 * cycle.  Raises an NSException when there is no such component. */
- (id) awakeControllerForComponentWithName: (NSString *)name;
/* The current tree of the component's template.  Raises an NSException
 * when it has none or it does not parse. */
- (RyElement *) templateForComponentWithName: (NSString *)name;
@end

@interface RyPageRenderer : NSObject <RyRenderContext>
{
    id component;			/* the controller drawn, retained */
    NSString *componentName;
    RyActionTable *table;		/* retained */
    id<RyComponentSource> source;	/* not retained: outlives this */
    unsigned depth;			/* sub-components around this one */
    NSMutableDictionary *bindings;	/* repetition key -> value now */
    NSDictionary *snapshot;		/* a copy of bindings, or nil when
					 * they changed since it was made */
}
/* A renderer of controller, the component name, adding to table; depth
 * is 0 for the page. */
- (id) initWithComponent: (id)controller
		    name: (NSString *)name
		   table: (RyActionTable *)table
		  source: (id<RyComponentSource>)source
		   depth: (unsigned)depth;
/* Appends the component's template, rendered, to out. */
- (void) appendTemplateToString: (NSMutableString *)out;
/* Appends element (not the component's template), rendered, to out. */
- (void) appendElement: (RyElement *)element toString: (NSMutableString *)out;
@end

/* The name of the exceptions about components: a sub-component that
 * does not exist or has no template, components nested too deep. */
extern NSString *const RyComponentError;

/* How deeply sub-components may nest: a component that contains itself,
 * directly or not, raises instead of recursing without end. */
enum { RyMaxComponentDepth = 32 };

#endif /* RY_PAGE_RENDERER_H */
