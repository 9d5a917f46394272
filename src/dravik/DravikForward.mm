/*
 * DravikForward.mm --
 *
 *	Forwarding messages of a Perl-scripted host to its Perl object
 *	(DravikForward.h): the names derived from a selector, whether the
 *	host answers it, the signature of a forwarded message, and the
 *	forwarded call itself.
 */
#import <Foundation/Foundation.h>

#include "DravikForward.h"
#include "BqPerlObjectPriv.h"
#include "PerlSelectorMap.h"

#include <ctype.h>
#include <objc/runtime.h>
#include <stdlib.h>
#include <string.h>

/* What a host of the web layer answers about its instance variables. */
@protocol DravikVarDeclaring
- (BOOL) _isVar: (NSString *)key;
@end

/* Room for the three names of selectors up to this long without the
 * heap. */
#define SMALL_SELECTOR 63

/*
 * SelectorNames --
 *	The names derived from one selector name, in scratch buffers of its
 *	length plus one each: on the C stack for short names, else on the
 *	heap until NamesFree.
 */
typedef struct SelectorNames {
    const char *selector;
    char *underscore;
    char *capitalised;
    const char *key;		/* the accessor key */
    int colons;
    int setter;			/* the capitalised name has the setter form */
    char *heap;
    char space[3 * (SMALL_SELECTOR + 1)];
} SelectorNames;

/*
 *----------------------------------------------------------------------
 * NamesInit --
 *	Derives the underscore name, the capitalised name (the selector
 *	map's Perl name), the form and the accessor key of a selector.
 *	Answers 0 when memory is short.
 *----------------------------------------------------------------------
 */
static int
NamesInit(SelectorNames *names, SEL selector)
{
    const char *name = sel_getName(selector);
    size_t length = strlen(name);
    names->selector = name;
    names->heap = NULL;
    char *buffer = names->space;
    if (length > SMALL_SELECTOR) {
	names->heap = buffer = (char *) malloc(3 * (length + 1));
	if (buffer == NULL) {
	    return 0;
	}
    }
    names->underscore = buffer;
    names->capitalised = buffer + length + 1;
    char *key = buffer + 2 * (length + 1);
    names->colons = 0;
    for (size_t i = 0; i <= length; i++) {
	char c = name[i];
	if (c == ':') {
	    names->colons++;
	    c = '_';
	}
	names->underscore[i] = c;
    }
    VantlePriv_PerlNameOfSelector(name, names->capitalised);
    const char *capitalised = names->capitalised;
    names->setter = strncmp(capitalised, "set", 3) == 0
	&& isupper((unsigned char) capitalised[3]);
    if (names->setter) {
	key[0] = (char) tolower((unsigned char) capitalised[3]);
	strcpy(key + 1, capitalised + 4);
	names->key = key;
    } else {
	names->key = capitalised;
    }
    return 1;
}

static void
NamesFree(SelectorNames *names)
{
    free(names->heap);
    names->heap = NULL;
}

/* The names of selector, or a raised exceptionName when memory is short. */
static void
NamesOrRaise(SelectorNames *names, SEL selector, NSString *exceptionName)
{
    if (!NamesInit(names, selector)) {
	[NSException raise: exceptionName format: @"out of memory for the names of %s",
	    sel_getName(selector)];
    }
}

/* Raises exceptionName with a reason and no user info. */
static void
Raise(NSString *exceptionName, NSString *reason)
{
    [[NSException exceptionWithName: exceptionName reason: reason userInfo: nil] raise];
}

/* Whether the host declares key as an instance variable. */
static BOOL
HostDeclares(id host, const char *key)
{
    if (host == nil || !class_respondsToSelector(object_getClass(host), @selector(_isVar:))) {
	return NO;
    }
    NSString *name = [NSString stringWithUTF8String: key];
    return name != nil && [(id<DravikVarDeclaring>) host _isVar: name];
}

/* The sub of the package's instance method of the underscore name, or
 * else of the capitalised name (then named in *method); null for none. */
static CV *
FindPerlMethod(BqPerlObject *perlObject, SelectorNames *names, const char **method)
{
    CV *code = [perlObject _instanceMethod: names->underscore];
    *method = names->underscore;
    if (code == NULL && names->colons > 0) {
	code = [perlObject _instanceMethod: names->capitalised];
	*method = names->capitalised;
    }
    return code;
}

BOOL
Dravik_RespondsToSelector(id host, BqPerlObject *perlObject, SEL selector)
{
    if (perlObject == nil || selector == NULL) {
	return NO;
    }
    SelectorNames names;
    if (!NamesInit(&names, selector)) {
	return NO;
    }
    BOOL answer = NO;
    @try {
	const char *method;
	if (FindPerlMethod(perlObject, &names, &method) != NULL) {
	    answer = YES;
	} else if (names.setter ? names.colons == 1 : names.colons == 0) {
	    answer = HostDeclares(host, names.key);
	}
    } @finally {
	NamesFree(&names);
    }
    return answer;
}

/*
 * The object-only signatures by number of arguments after the receiver
 * and the selector, each made on first use and kept for the process:
 * signatures never change, and every thread may use them.
 */
#define KEPT_SIGNATURES 16
static void *keptSignatures[KEPT_SIGNATURES];

/* A new signature "@@:" plus one "@" per argument, retained; nil when
 * memory is short. */
static NSMethodSignature *
NewObjectSignature(int arguments)
{
    char small[KEPT_SIGNATURES + 4];
    char *types = arguments + 4 <= (int) sizeof small ? small
	: (char *) malloc((size_t) arguments + 4);
    if (types == NULL) {
	return nil;
    }
    memcpy(types, "@@:", 3);
    memset(types + 3, '@', (size_t) arguments);
    types[3 + arguments] = '\0';
    NSMethodSignature *signature = nil;
    @try {
	signature = [[NSMethodSignature signatureWithObjCTypes: types] retain];
    } @finally {
	if (types != small) {
	    free(types);
	}
    }
    return signature;
}

/*
 * ObjectSignature --
 *	The object-only signature of that many arguments: a kept one (the
 *	first thread to make it keeps it), else a new autoreleased one.
 */
static NSMethodSignature *
ObjectSignature(int arguments)
{
    if (arguments >= KEPT_SIGNATURES) {
	return [NewObjectSignature(arguments) autorelease];
    }
    void **slot = &keptSignatures[arguments];
    void *kept = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
    if (kept != NULL) {
	return (NSMethodSignature *) kept;
    }
    NSMethodSignature *made = NewObjectSignature(arguments);
    if (made != nil && !__atomic_compare_exchange_n(slot, &kept, (void *) made, false,
	    __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
	[made release];
	return (NSMethodSignature *) kept;
    }
    return made;
}

NSMethodSignature *
Dravik_MethodSignatureForSelector(id host, BqPerlObject *perlObject, SEL selector,
	NSString *exceptionName)
{
    if (selector == NULL || ![host respondsToSelector: selector]) {
	Raise(exceptionName, [NSString stringWithFormat:
	    @"%@ (%s) instances do not respond to %s", [host class],
	    perlObject != nil ? [perlObject stashName] : "no Perl object",
	    selector != NULL ? sel_getName(selector) : "(null)"]);
    }
    int colons = 0;
    for (const char *p = sel_getName(selector); *p != '\0'; p++) {
	colons += *p == ':';
    }
    NSMethodSignature *signature = ObjectSignature(colons);
    if (signature == nil) {
	Raise(exceptionName, [NSString stringWithFormat:
	    @"out of memory for the signature of %s", sel_getName(selector)]);
    }
    return signature;
}

/* A type without its qualifiers (const, in, out, bycopy, oneway ...). */
static const char *
SkipQualifiers(const char *type)
{
    while (type != NULL && *type != '\0' && strchr("rnNoORV", *type) != NULL) {
	type++;
    }
    return type != NULL ? type : "";
}

/* Arguments kept on the C stack; more go into an autoreleased buffer. */
#define SMALL_ARGUMENTS 8

/*
 *----------------------------------------------------------------------
 * ForwardArguments --
 *	The invocation's arguments after the receiver and the selector, in
 *	arguments (count - 2 of them), each nil replaced by the shared
 *	BqNil; raises exceptionName for one that is no object.
 *----------------------------------------------------------------------
 */
static void
ForwardArguments(NSInvocation *invocation, NSMethodSignature *signature, NSUInteger count,
	id *arguments, NSString *exceptionName)
{
    for (NSUInteger i = 2; i < count; i++) {
	if (*SkipQualifiers([signature getArgumentTypeAtIndex: i]) != '@') {
	    Raise(exceptionName, @"non-id argument in forward");
	}
    }
    for (NSUInteger i = 2; i < count; i++) {
	id argument = nil;
	[invocation getArgument: &argument atIndex: (NSInteger) i];
	arguments[i - 2] = argument != nil ? argument : DravikPriv_NilPlaceholder();
    }
}

/*
 *----------------------------------------------------------------------
 * Answer --
 *	The result of a forwarded message: the Perl method's, or the
 *	accessor's (a setter writes nil for the shared BqNil and answers
 *	nil).
 *----------------------------------------------------------------------
 */
static id
Answer(BqPerlObject *perlObject, SelectorNames *names, id *arguments, NSUInteger count,
	NSString *exceptionName)
{
    const char *method;
    CV *code = FindPerlMethod(perlObject, names, &method);
    if (code != NULL) {
	return [perlObject _callMethod: method code: code arguments: arguments
				 count: count - 2];
    }
    if (names->setter) {
	if (count != 3) {
	    Raise(exceptionName, [NSString stringWithFormat:
		@"set method \"%s\" called with %d arguments", names->capitalised,
		(int) count - 2]);
	}
	id value = arguments[0];
	if (VantlePriv_IsKindOfClass(value, object_getClass(DravikPriv_NilPlaceholder()))) {
	    value = nil;
	}
	[perlObject setIVar: names->key toValue: value];
	return nil;
    }
    if (count != 2) {
	Raise(exceptionName, [NSString stringWithFormat:
	    @"get method \"%s\" called with %d arguments", names->capitalised, (int) count - 2]);
    }
    return [perlObject getIVarValue: names->capitalised];
}

/* The selector last entered into the selector map from here: entering
 * it again would change nothing, so a message forwarded over and over
 * skips the map's lock. */
static SEL lastMapped;

/* Enters selector into the selector map under its Perl name. */
static void
MapSelector(SEL selector)
{
    if (__atomic_load_n(&lastMapped, __ATOMIC_RELAXED) == selector) {
	return;
    }
    VantlePriv_AddSelector(selector);
    __atomic_store_n(&lastMapped, selector, __ATOMIC_RELAXED);
}

void
Dravik_ForwardInvocation(id host, BqPerlObject *perlObject, NSInvocation *invocation,
	NSString *exceptionName)
{
    (void) host;
    SEL selector = [invocation selector];
    NSMethodSignature *signature = [invocation methodSignature];
    if (signature == nil) {
	Raise(exceptionName, @"no method signature in forward");
    }
    char returnType = *SkipQualifiers([signature methodReturnType]);
    if (returnType != '@' && returnType != 'v') {
	Raise(exceptionName, @"non-id return in forward");
    }
    NSUInteger count = [signature numberOfArguments];
    id small[SMALL_ARGUMENTS];
    id *arguments = count - 2 <= SMALL_ARGUMENTS ? small
	: (id *) [[NSMutableData dataWithLength: sizeof(id) * (count - 2)] mutableBytes];
    ForwardArguments(invocation, signature, count, arguments, exceptionName);
    [invocation setTarget: perlObject];

    SelectorNames names;
    NamesOrRaise(&names, selector, exceptionName);
    id result = nil;
    @try {
	result = Answer(perlObject, &names, arguments, count, exceptionName);
    } @finally {
	NamesFree(&names);
    }
    MapSelector(selector);
    /* A void message has no room for a result. */
    if (returnType == '@') {
	[invocation setReturnValue: &result];
    }
}
