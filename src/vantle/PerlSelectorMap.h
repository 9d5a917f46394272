/*
 * PerlSelectorMap.h --
 *
 *	The selector map: Perl method names written without underscores, in
 *	the style of a selector with its colons dropped and each following
 *	keyword capitalised ("setObjectForKey"), mapped to every selector of
 *	the runtime that has that form.  The message send asks it, while the
 *	control perl_selector_map is on, for a Perl name with no underscore.
 *
 *	The map is process-wide, shared by all interpreters, and only grows.
 */
#ifndef VANTLE_PERL_SELECTOR_MAP_H
#define VANTLE_PERL_SELECTOR_MAP_H

#include <objc/runtime.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Creates the map (once) and stores the category- and protocol-defined
 * notifications in the binding's type table. */
void Vantle_SelectorMapInit(void);

/* Enters a selector under its Perl name; adding one twice changes nothing. */
void VantlePriv_AddSelector(SEL selector);

/* Enters the selectors of every method of every class and metaclass, and
 * of every method description of every protocol. */
void VantlePriv_CollectSelectors(void);

/* The selector of that Perl name taking nargs arguments (-1: any number),
 * or null.  Several candidates warn "ambiguous selectors ..." once per
 * extra candidate; the one entered first wins. */
SEL  VantlePriv_QuickFindSelector(const char *perlName, int nargs);

/* The quick lookup; failing that, the formed selector when the receiver
 * responds to it; failing that, the quick lookup after a full collection,
 * unless a collection already missed perlName with nargs arguments and
 * the runtime has neither more classes nor a noted change since
 * (RuntimeChange.h).  cls is not consulted. */
SEL  VantlePriv_FindSelector(id receiver, Class cls, const char *formedName,
		const char *perlName, int nargs);

/* The Perl name of a selector name, written into dst (at least as long as
 * name plus one). */
void VantlePriv_PerlNameOfSelector(const char *name, char *dst);

#ifdef __cplusplus
}
#endif

#endif
