/*
 * KxUnknownSelector.h --
 *
 *	Routing of messages that no method answers to the root classes'
 *	handlers, as a classic runtime does.
 *
 *	Foundation forwards such a message with -forwardInvocation: when it
 *	can find a signature for it, and NSObject's -forwardInvocation: ends
 *	in -doesNotRecognizeSelector:.  Without a signature (a selector no
 *	method of the process declares, sent through sel_registerName or
 *	performSelector:) Foundation raises its own exception instead, and a
 *	receiver that cannot forward at all (an Object) gets an exception
 *	about -forwardInvocation:.  Once routing is on, both cases reach the
 *	receiver's -doesNotRecognizeSelector: (NSObject and its classes) or
 *	-doesNotRecognize: (Object), whatever those raise.  Messages that
 *	Foundation can forward are left to it.
 */
#ifndef KX_UNKNOWN_SELECTOR_H
#define KX_UNKNOWN_SELECTOR_H

#ifdef __cplusplus
extern "C" {
#endif

/* Turns routing on (once per process; later calls do nothing). */
void KxRouteUnknownSelectors(void);

#ifdef __cplusplus
}
#endif

#endif
