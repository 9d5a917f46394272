/*
 * RuntimeChange.h --
 *
 *	The generation of the runtime's classes: one process-wide count of
 *	the changes that caches of what classes answer must see.  A cache
 *	reads the generation before it asks the runtime, keeps what it
 *	learned under that generation, and uses it only while the generation
 *	is still the same.
 *
 *	The runtime (GCC's libobjc) announces none of its changes but one, so
 *	the generation moves for:
 *	- modules the runtime loads: a shared object with classes or
 *	  categories, loaded by Perl's DynaLoader or by the host.  The runtime
 *	  calls its load hook (_objc_load_callback) for every class and
 *	  category it loads, and the first read of the generation puts a hook
 *	  in place that counts a change (and calls the hook it found, if
 *	  any).  GNUstep's bundle loader (NSBundle) replaces the hook while it
 *	  loads and clears it afterwards: every read finds such a hook other
 *	  than ours, counts a change for it and, once it is cleared, puts
 *	  ours back.  A loader that sets a hook of its own and restores ours
 *	  between two reads hides its load.
 *	- BqOsmo_NoteRuntimeChange: code that changes classes through the
 *	  runtime's functions (class_addMethod, class_replaceMethod,
 *	  method_setImplementation, method_exchangeImplementations,
 *	  class_addProtocol, objc_registerClassPair) calls it after the
 *	  change.
 *
 *	What the caches check for themselves, because no note may come:
 *	- the message send's forwarded messages (ForwardingCache.h) ask the
 *	  dispatch table whether the class has a method for the selector now,
 *	  which every method added to the class or a superclass, by whatever
 *	  means, enters at once;
 *	- whatever walks every class (the selector map) compares the class
 *	  count (KxClassCount), which objc_registerClassPair moves.
 *	So a change goes unseen only when code outside the library adds a
 *	method to a class that was registered before, does not note it, and
 *	the cache relies on the generation alone (the selector map's
 *	remembered misses).
 *
 *	Registered classes are never freed on this runtime
 *	(objc_disposeClassPair frees only classes under construction), so a
 *	Class pointer stays one class for the life of the process and may key
 *	a cache.
 */
#ifndef BQ_RUNTIME_CHANGE_H
#define BQ_RUNTIME_CHANGE_H

#ifdef __cplusplus
extern "C" {
#endif

/* The current generation: any thread may read it at any time. */
unsigned BqOsmo_RuntimeGeneration(void);

/* Starts a new generation: every cache filled before it is out of date. */
void BqOsmo_NoteRuntimeChange(void);

#ifdef __cplusplus
}
#endif

#endif
