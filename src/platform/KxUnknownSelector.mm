/*
 * KxUnknownSelector.mm --
 *
 *	The runtime asks its forwarding hook for an implementation whenever a
 *	message finds no method.  Foundation's hook is kept and asked first;
 *	this file's hook only steps in where Foundation would give up: it then
 *	sends the receiver's unrecognised-selector handler from within the
 *	hook, so the handler's exception leaves through the message send like
 *	Foundation's own would.  No implementation is ever made up, so the
 *	caller's calling convention does not matter.
 */
#import <Foundation/Foundation.h>

#include "KxUnknownSelector.h"

#include <objc/message.h>
#include <objc/runtime.h>

typedef IMP (*KxForwardHook)(id receiver, SEL selector);
typedef void (*KxHandlerImp)(id receiver, SEL handler, SEL selector);

static KxForwardHook foundationHook;
static int routing;

static int
Responds(id receiver, SEL selector)
{
    return class_respondsToSelector(object_getClass(receiver), selector);
}

/*
 * FoundationMessage --
 *	The reason Foundation gives when it finds no signature to forward a
 *	message with.
 */
static NSString *
FoundationMessage(id receiver, SEL selector)
{
    Class cls = object_getClass(receiver);
    return [NSString stringWithFormat: @"%c[%s %s]: unrecognized selector sent to instance %p",
	    class_isMetaClass(cls) ? '+' : '-', class_getName(cls),
	    sel_getName(selector), (void *) receiver];
}

/*
 * IsNoSignatureFailure --
 *	True when e is exactly what Foundation raises for this receiver and
 *	selector when it cannot forward for lack of a signature.  Anything
 *	else (an exception from the receiver's -methodSignatureForSelector:,
 *	say) is not ours to replace.
 */
static int
IsNoSignatureFailure(NSException *e, id receiver, SEL selector)
{
    return [[e name] isEqualToString: NSInvalidArgumentException]
	    && [[e reason] isEqualToString: FoundationMessage(receiver, selector)];
}

/*
 * ReportUnknownSelector --
 *	Sends the receiver's handler: -doesNotRecognizeSelector: when it has
 *	one, else -doesNotRecognize:.  The handlers raise; should one return,
 *	or the receiver have neither, Foundation's exception is raised.
 */
static void __attribute__((noreturn))
ReportUnknownSelector(id receiver, SEL selector)
{
    SEL handler = @selector(doesNotRecognizeSelector:);
    if (!Responds(receiver, handler)) {
	handler = sel_registerName("doesNotRecognize:");
    }
    if (Responds(receiver, handler)) {
	KxHandlerImp imp = (KxHandlerImp) objc_msg_lookup(receiver, handler);
	imp(receiver, handler, selector);
    }
    @throw [NSException exceptionWithName: NSInvalidArgumentException
				   reason: FoundationMessage(receiver, selector)
				 userInfo: nil];
}

/*
 * ForwardOrReport --
 *	The runtime's forwarding hook.  A nil receiver is the runtime asking
 *	whether forwarding exists at all: that question stays Foundation's.
 *	A receiver that cannot forward, or one Foundation finds no signature
 *	for, gets its handler.
 */
static IMP
ForwardOrReport(id receiver, SEL selector)
{
    if (receiver == nil) {
	return foundationHook != NULL ? foundationHook(receiver, selector) : NULL;
    }
    if (foundationHook == NULL || !Responds(receiver, @selector(forwardInvocation:))) {
	ReportUnknownSelector(receiver, selector);
    }
    @try {
	return foundationHook(receiver, selector);
    } @catch (NSException *e) {
	if (!IsNoSignatureFailure(e, receiver, selector)) {
	    @throw;
	}
    }
    ReportUnknownSelector(receiver, selector);
}

void
KxRouteUnknownSelectors(void)
{
    if (routing) {
	return;
    }
    routing = 1;
    foundationHook = __objc_msg_forward2;
    __objc_msg_forward2 = ForwardOrReport;
}
