/*
 * RyError.mm --
 *
 *	The template layer's error texts and the exception that carries them.
 */
#import <Foundation/Foundation.h>

#include "RyError.h"

NSString *const RyTemplateError = @"RyTemplateError";

NSString *
RyErrorText(NSString *file, unsigned line, NSString *message)
{
    if (line == 0) {
	return [NSString stringWithFormat: @"%@: %@", file, message];
    }
    return [NSString stringWithFormat: @"%@:%u: %@", file, line, message];
}

void
RyRaiseTemplateError(NSString *file, unsigned line, NSString *message)
{
    [[NSException exceptionWithName: RyTemplateError
			      reason: RyErrorText(file, line, message)
			    userInfo: nil] raise];
    __builtin_unreachable();
}
