/*
 * RyRequest.h --
 *
 *	One HTTP request as the framework sees it: the method, the path, the
 *	query's and the form's values, and the cookies.  Whatever carries
 *	requests (a PSGI adapter, a test, a script) parses the wire format
 *	and makes one of these; the request cycle only reads it.
 *
 *	Values are strings.  A name given twice keeps its last value.
 */
#ifndef RY_REQUEST_H
#define RY_REQUEST_H

#import <Foundation/NSObject.h>

@class NSDictionary, NSString;

@interface RyRequest : NSObject
{
    NSString *method;		/* "GET", "POST", "HEAD", ... (upper case) */
    NSString *path;		/* the URI's path, percent-decoded: "/Main" */
    NSDictionary *queryValues;	/* the URI's query: name -> NSString */
    NSDictionary *formValues;	/* the body's fields: name -> NSString */
    NSDictionary *cookies;	/* name -> NSString */
}

/* An autoreleased request.  uri is the request target as sent
 * ("/Main?r=2&a=1"): its path is percent-decoded, its query parsed with
 * RyParseURLEncoded.  form and cookies may be nil (none); their keys
 * must be strings and their values strings or numbers (a number stands
 * for its decimal text, as it would travel), else
 * NSInvalidArgumentException.  A method is upper-cased. */
+ (RyRequest *) requestWithMethod: (NSString *)method
			      URI: (NSString *)uri
		       formValues: (NSDictionary *)form
			  cookies: (NSDictionary *)cookies;
- (id) initWithMethod: (NSString *)method
		  URI: (NSString *)uri
	   formValues: (NSDictionary *)form
	      cookies: (NSDictionary *)cookies;

- (NSString *) method;
- (NSString *) path;
- (NSDictionary *) queryValues;
- (NSDictionary *) formValues;
- (NSDictionary *) cookies;

/* The form's value for name, else the query's, else nil. */
- (NSString *) valueForField: (NSString *)name;
- (NSString *) cookieForName: (NSString *)name;

/* The component the path names: "/" is "Main", "/About" is "About".
 * nil when the path is anything else: more segments, an empty or
 * dotted segment, characters other than letters, digits and "_", or
 * a leading digit.  So a request can never name a file outside the
 * application's folder. */
- (NSString *) componentName;
@end

/* The pairs of an application/x-www-form-urlencoded text ("a=1&b=x+y"):
 * "+" is a space, %XX escapes are decoded as UTF-8 bytes.  A pair
 * without "=" has the empty value; a malformed escape is kept as
 * written; bytes that are not UTF-8 after decoding give the pair's text
 * undecoded.  Never raises for any text; nil gives an empty dictionary. */
NSDictionary *RyParseURLEncoded(NSString *text);

/* The text percent-decoded (%XX as UTF-8 bytes, "+" kept as is), or the
 * text unchanged when an escape is malformed or the bytes are not UTF-8. */
NSString *RyPercentDecode(NSString *text);

#endif /* RY_REQUEST_H */
