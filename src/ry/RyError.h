/*
 * RyError.h --
 *
 *	The one error of the template layer: an NSException named
 *	"RyTemplateError" whose reason starts with the template's name and
 *	line ("Main.html:12: <ry:if> is not closed").
 */
#ifndef RY_ERROR_H
#define RY_ERROR_H

#import <Foundation/NSException.h>

@class NSString;

/* The name of every exception the template layer raises. */
extern NSString *const RyTemplateError;

/* The reason text "<file>:<line>: <message>" (line 0 leaves it out:
 * "<file>: <message>"). */
NSString *RyErrorText(NSString *file, unsigned line, NSString *message);

/* Raises RyTemplateError with the reason RyErrorText(file, line, message). */
void RyRaiseTemplateError(NSString *file, unsigned line, NSString *message)
    __attribute__((noreturn));

#endif /* RY_ERROR_H */
