/*
 * LeakCheckBeforeExitCleanup.c --
 *
 *	Part of the library in a -DBQ_SANITIZE=ON build only.
 *
 *	At exit GNUstep-base runs its classes' clean-up methods, which set
 *	the variables holding class-lifetime objects (the placeholder of
 *	NSArray, the shared NSUserDefaults, ...) to nil without freeing
 *	every object.  The sanitizer's leak check, which runs last, would
 *	report those objects.  So the check runs from an exit handler of
 *	our own, registered after GNUstep's: exit handlers run in reverse
 *	order of registration, so it runs before GNUstep's clean-up and
 *	after everything the program freed itself (perl_destruct runs
 *	before exit).  Once it has run, the sanitizer's own check at the end
 *	does nothing.
 */
#include <objc/runtime.h>
#include <objc/message.h>
#include <sanitizer/lsan_interface.h>
#include <stdlib.h>

static void
CheckLeaks(void)
{
    __lsan_do_leak_check();
}

/*
 * RegisterLeakCheck --
 *	Runs as the library loads, after GNUstep-base has loaded.  GNUstep
 *	registers its exit handler while NSObject initialises, so NSObject
 *	is made to initialise first: the runtime initialises a class on the
 *	first method lookup for it.  (This is C: the library's own
 *	Objective-C selectors are not registered yet at this point.)
 */
__attribute__((constructor)) static void
RegisterLeakCheck(void)
{
    Class root = objc_getClass("NSObject");
    if (root != Nil) {
	SEL selector = sel_registerName("class");
	objc_msg_lookup((id) root, selector)((id) root, selector);
    }
    atexit(CheckLeaks);
}
