/*
 * BqVantleInterpRemote.mm --
 *
 *	The do_ forms of the interpreter object's operations, for callers
 *	that hand their C strings over (remote callers, whose strings the
 *	distributed-object machinery allocated): each performs the operation
 *	of the same name and then frees every C string it was given with
 *	free(3).  Null strings are allowed.
 */
#import <Foundation/Foundation.h>

#include "BqVantleInterpPriv.h"

#include <stdlib.h>

@implementation BqVantleInterp (Remote)

- (id) do_evalFile2: (const char *)fileName
{
    id result = [self evalFile2: fileName];
    free((void *) fileName);
    return result;
}

- (id) do_evalFile: (const char *)fileName errorCode: (int *)errorCode
{
    id result = [self evalFile: fileName errorCode: errorCode];
    free((void *) fileName);
    return result;
}

- (id) do_mortalEvalFile: (const char *)fileName
{
    id result = nil;
    @try {
	result = [self mortalEvalFile: fileName];
    } @finally {
	free((void *) fileName);
    }
    return result;
}

- (id) do_compile: (const char *)text errorCode: (int *)errorCode
{
    id result = [self compile: text errorCode: errorCode];
    free((void *) text);
    return result;
}

- (id) do_eval2: (const char *)text
{
    id result = [self eval2: text];
    free((void *) text);
    return result;
}

- (id) do_eval: (const char *)text errorCode: (int *)errorCode
{
    id result = [self eval: text errorCode: errorCode];
    free((void *) text);
    return result;
}

- (id) do_mortalEval: (const char *)text
{
    id result = nil;
    @try {
	result = [self mortalEval: text];
    } @finally {
	free((void *) text);
    }
    return result;
}

- (id) do_eval: (const char *)text errorCode: (int *)errorCode
   listContext: (BOOL)listContext interactor: (id)interactor
{
    id result = [self eval: text errorCode: errorCode listContext: listContext
		interactor: interactor];
    free((void *) text);
    return result;
}

- (id) do_eval: (const char *)text errorCode: (int *)errorCode listContext: (BOOL)listContext
{
    id result = [self eval: text errorCode: errorCode listContext: listContext];
    free((void *) text);
    return result;
}

- (id) do_getVar: (const char *)name
{
    id result = [self getVar: name];
    free((void *) name);
    return result;
}

- (void) do_setSVar: (const char *)name toValue: (const char *)value
{
    @try {
	[self setSVar: name toValue: value];
    } @finally {
	free((void *) name);
	free((void *) value);
    }
}

- (void) do_setVar: (const char *)name to: (BqVantleVar *)value
{
    @try {
	[self setVar: name to: value];
    } @finally {
	free((void *) name);
    }
}

- (id) do_registerObject: (id)object asVariableName: (const char *)name
{
    id result = [self registerObject: object asVariableName: name];
    free((void *) name);
    return result;
}

@end
