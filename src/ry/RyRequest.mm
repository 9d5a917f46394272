/*
 * RyRequest.mm --
 *
 *	One HTTP request: its parts as the carrier gave them, checked and
 *	copied once, then only read.
 */
#import <Foundation/Foundation.h>

#include "RyNames.h"
#include "RyRequest.h"

/* A copy of values with every value a string, or an empty dictionary for
 * nil.  A number value becomes its decimal text, as it would travel in a
 * real request (scripts and tests pass numbers, e.g. 1 for a checkbox).
 * Raises NSInvalidArgumentException naming what (e.g. "form") when a key
 * is no string, a value is neither string nor number, or values is no
 * dictionary. */
static NSDictionary *
CheckedStrings(NSDictionary *values, NSString *what)
{
    if (values == nil) {
	return [NSDictionary dictionary];
    }
    if (![values isKindOfClass: [NSDictionary class]]) {
	[NSException raise: NSInvalidArgumentException
		    format: @"RyRequest: the %@ is no dictionary", what];
    }
    NSMutableDictionary *copy = [NSMutableDictionary dictionaryWithCapacity: [values count]];
    for (id key in values) {
	id value = [values objectForKey: key];
	if ([value isKindOfClass: [NSNumber class]]) {
	    value = [value stringValue];
	}
	if (![key isKindOfClass: [NSString class]] || ![value isKindOfClass: [NSString class]]) {
	    [NSException raise: NSInvalidArgumentException
			format: @"RyRequest: the %@ has a name or value that is no string", what];
	}
	[copy setObject: value forKey: key];
    }
    return copy;
}

@implementation RyRequest

+ (RyRequest *) requestWithMethod: (NSString *)aMethod
			      URI: (NSString *)uri
		       formValues: (NSDictionary *)form
			  cookies: (NSDictionary *)someCookies
{
    return [[[self alloc] initWithMethod: aMethod
				     URI: uri
			      formValues: form
				 cookies: someCookies] autorelease];
}

- (id) initWithMethod: (NSString *)aMethod
		  URI: (NSString *)uri
	   formValues: (NSDictionary *)form
	      cookies: (NSDictionary *)someCookies
{
    if ((self = [super init]) == nil) {
	return nil;
    }
    @try {
	if (![aMethod isKindOfClass: [NSString class]] || ![uri isKindOfClass: [NSString class]]) {
	    [NSException raise: NSInvalidArgumentException
			format: @"RyRequest needs a method and a URI as strings"];
	}
	method = [[aMethod uppercaseString] copy];
	NSRange question = [uri rangeOfString: @"?"];
	NSString *rawPath = uri, *query = nil;
	if (question.location != NSNotFound) {
	    rawPath = [uri substringToIndex: question.location];
	    query = [uri substringFromIndex: NSMaxRange(question)];
	}
	path = [RyPercentDecode(rawPath) copy];
	queryValues = [RyParseURLEncoded(query) copy];
	formValues = [CheckedStrings(form, @"form") retain];
	cookies = [CheckedStrings(someCookies, @"cookies") retain];
    } @catch (NSException *e) {
	[self release];
	@throw;
    }
    return self;
}

- (void) dealloc
{
    [method release];
    [path release];
    [queryValues release];
    [formValues release];
    [cookies release];
    [super dealloc];
}

- (NSString *) method
{
    return method;
}

- (NSString *) path
{
    return path;
}

- (NSDictionary *) queryValues
{
    return queryValues;
}

- (NSDictionary *) formValues
{
    return formValues;
}

- (NSDictionary *) cookies
{
    return cookies;
}

- (NSString *) valueForField: (NSString *)name
{
    NSString *value = [formValues objectForKey: name];
    return value != nil ? value : [queryValues objectForKey: name];
}

- (NSString *) cookieForName: (NSString *)name
{
    return [cookies objectForKey: name];
}

- (NSString *) componentName
{
    if ([path isEqualToString: @"/"]) {
	return @"Main";
    }
    if (![path hasPrefix: @"/"]) {
	return nil;
    }
    NSString *name = [path substringFromIndex: 1];
    return RyIsComponentName(name) ? name : nil;
}

- (NSString *) description
{
    return [NSString stringWithFormat: @"<RyRequest %@ %@>", method, path];
}

@end
