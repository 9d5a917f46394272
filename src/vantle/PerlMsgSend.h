/*
 * PerlMsgSend.h --
 *
 *	Perl method calls become messages.  On this perl the routes are
 *	Perl's own: a lower-case method called on a handle first reaches
 *	Vantle::Object::AUTOLOAD, which installs an XS sub of that name in
 *	Vantle::Object, so every later call of the name goes straight to the
 *	send through Perl's method cache.  Every class of the runtime has a
 *	Perl package of its name, inheriting from Vantle::RuntimeClass, whose
 *	AUTOLOAD does the same for class messages (NSString->string) and for
 *	calls qualified with a class name ($h->NSObject::description), which
 *	send to super starting at that class.  The fetch-method and
 *	class-method hooks decide, as the routes ask them, whether a call is
 *	a message.
 */
#ifndef VANTLE_PERL_MSG_SEND_H
#define VANTLE_PERL_MSG_SEND_H

#include "bqcperl.h"

#include <objc/runtime.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Sends the message the Perl stack (ax, items) describes and leaves its
 * converted result in ST(0); answers 1, the number of values left.  A
 * name that an instance of a class defined in Perl has no method for is
 * answered by the sub of that name in the class's package, if there is
 * one, whose values (in the caller's context) are left instead.  Croaks
 * on failure.  pendingName and
 * pendingClass may be null; named: the name comes from a pending name or
 * from AUTOLOAD (autoloadName); super: a message to super.
 * namedSend, when given, is the installed per-name send that keeps the
 * selectors formed from its name (per number of message arguments) and
 * the class its class package names. */
struct NamedSend;
I32  VantlePriv_msg_send(pTHX_ I32 ax, I32 items, const char *pendingName,
		const char *pendingClass, int named, int super, const char *autoloadName,
		struct NamedSend *namedSend);

/* Sends selector to ST(0), a handle or a class name, with the arguments
 * after it; leaves the result in ST(0) and answers 1, or croaks with
 * entryName. */
I32  VantlePriv_SendToInvocant(pTHX_ I32 ax, I32 items, SEL selector, const char *entryName);

/* Forms a selector name from a Perl method name for n message arguments
 * into dst (strlen(perlName) + n + 2 bytes at least); warns when colons
 * are missing, consults the selector map when it is on.  Answers 1 when it
 * did neither (the same name forms the same selector every time), 0 when
 * it did.  Answers -1, without a warning, when colons are missing but the
 * name as written (left in dst) is one that the receiver (or, with cls,
 * instances of cls) answers and the completed one is not: the call has
 * the wrong number of arguments. */
int  VantlePriv_FormSelectorName(pTHX_ const char *perlName, int n, id receiver, Class cls,
		char *dst);

/* The two method hooks, as installed by the boot sub. */
GV  *VantlePriv_FetchMethodHook(HV *stash, char *name);
GV  *VantlePriv_ClassMethodHook(SV *invocant, SV *methodName);

/* Registers the entry points, the routes and a package per runtime class
 * in the current interpreter. */
void VantlePriv_BootMsgSend(pTHX);

/* The parent of the Perl packages of runtime classes, whose AUTOLOAD
 * routes what a package does not define. */
#define VANTLE_CLASS_ROUTES "Vantle::RuntimeClass"

/* Makes the Perl package of a runtime class inherit from Vantle::RuntimeClass,
 * so class messages to it route to the send; a package that Perl code
 * defined itself (with subs or parents) is left alone. */
void VantlePriv_MakeClassPackage(pTHX_ const char *className);

/* The class a stash stands for when it is the package of a runtime class
 * made by this module, else Nil.  A package that Perl code has made its
 * own since is given up here: it stops inheriting from Vantle::RuntimeClass. */
Class VantlePriv_ClassPackageClass(pTHX_ HV *stash);

/* Calls sub with the arguments of the running XS sub (ax, items), in
 * the context flags give; its answers take the arguments' place, and
 * their number is answered. */
I32  VantlePriv_CallInPlace(pTHX_ CV *sub, I32 ax, I32 items, I32 flags);

/* Whether cv is a message sub installed by a route. */
int  VantlePriv_IsMessageSub(CV *cv);

/* The message sub of perlName in package (installed when missing), as
 * a route installs it: className names the class of a class package, or
 * is null in Vantle::Object. */
CV  *VantlePriv_MessageSub(pTHX_ const char *package, const char *perlName,
		const char *className);

#ifdef __cplusplus
}
#endif

#endif
