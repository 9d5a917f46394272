/*
 * RyVellumComponentControllerPerlify.h --
 *
 *	Lets Perl code use a handle of the framework's scripted component
 *	controller as a hash: with the binding's hash_perlify control on
 *	(Dravik switches it on), an object answering allHashKeys shows its
 *	keys through valueForKey: and takeValue:forKey:.
 */
#ifndef RY_VELLUM_COMPONENT_CONTROLLER_PERLIFY_H
#define RY_VELLUM_COMPONENT_CONTROLLER_PERLIFY_H

#include "RyVellumComponentController.h"

@class NSArray;

@interface RyVellumComponentController (DravikPerlify)
/* The keys of the controller's variables. */
- (NSArray *) allHashKeys;
@end

#endif /* RY_VELLUM_COMPONENT_CONTROLLER_PERLIFY_H */
