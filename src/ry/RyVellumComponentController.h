/*
 * RyVellumComponentController.h --
 *
 *	The controller of a component that has a template and no script: it
 *	keeps every value the template or a form sets in a dictionary, and
 *	answers key-value access from it (an unknown key reads as nil, a nil
 *	value removes the key).
 */
#ifndef RY_VELLUM_COMPONENT_CONTROLLER_H
#define RY_VELLUM_COMPONENT_CONTROLLER_H

#include "RyComponentController.h"

@class NSMutableDictionary;

@interface RyVellumComponentController : RyComponentController
{
    NSMutableDictionary *variables;	/* key -> value */
}

- (NSMutableDictionary *) variables;
- (id) valueForKey: (NSString *)key;
- (void) takeValue: (id)value forKey: (NSString *)key;
- (void) setValue: (id)value forKey: (NSString *)key;
@end

#endif /* RY_VELLUM_COMPONENT_CONTROLLER_H */
