/*
 * RyURLEncoding.mm --
 *
 *	Decoding the percent escapes of URIs and of form bodies
 *	(application/x-www-form-urlencoded).  Decoding works on the text's
 *	UTF-8 bytes, so an escaped multi-byte character comes out whole, and
 *	gives up (answering the text as written) when the decoded bytes are
 *	not UTF-8.
 */
#import <Foundation/Foundation.h>

#include "RyRequest.h"

#include <string.h>

#include <string>

/* The value of the hex digit c, or -1. */
static int
HexValue(char c)
{
    if (c >= '0' && c <= '9') {
	return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
	return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
	return c - 'A' + 10;
    }
    return -1;
}

/* The byte the escape at bytes[i] ("%XX") stands for, or -1 when there
 * is no well-formed escape there (length is the length of bytes). */
static int
EscapedByte(const char *bytes, size_t length, size_t i)
{
    if (length - i < 3) {
	return -1;
    }
    int high = HexValue(bytes[i + 1]);
    int low = HexValue(bytes[i + 2]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

/* text with its %XX escapes decoded (and "+" made a space when plus is
 * YES), or nil when the result is not UTF-8 or, with strict YES, when an
 * escape is malformed.  Without strict a malformed escape is kept as
 * written. */
static NSString *
Decode(NSString *text, BOOL plus, BOOL strict)
{
    const char *bytes = [text UTF8String];
    size_t length = strlen(bytes);
    if (memchr(bytes, '%', length) == NULL && (!plus || memchr(bytes, '+', length) == NULL)) {
	return text;
    }
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; i++) {
	char c = bytes[i];
	int escaped = c == '%' ? EscapedByte(bytes, length, i) : -1;
	if (escaped >= 0) {
	    out.push_back((char)escaped);
	    i += 2;
	} else if (c == '%' && strict) {
	    return nil;
	} else {
	    out.push_back(c == '+' && plus ? ' ' : c);
	}
    }
    return [[[NSString alloc] initWithBytes: out.data()
				     length: out.size()
				   encoding: NSUTF8StringEncoding] autorelease];
}

NSString *
RyPercentDecode(NSString *text)
{
    if (text == nil) {
	return nil;
    }
    NSString *decoded = Decode(text, NO, YES);
    return decoded != nil ? decoded : text;
}

/* One name or value of a form text: decoded, or as written when its
 * decoded bytes are not UTF-8. */
static NSString *
DecodeFormPart(NSString *part)
{
    NSString *decoded = Decode(part, YES, NO);
    return decoded != nil ? decoded : part;
}

NSDictionary *
RyParseURLEncoded(NSString *text)
{
    NSMutableDictionary *pairs = [NSMutableDictionary dictionary];
    if (text == nil) {
	return pairs;
    }
    for (NSString *pair in [text componentsSeparatedByString: @"&"]) {
	if ([pair length] == 0) {
	    continue;
	}
	NSRange equals = [pair rangeOfString: @"="];
	NSString *name = pair, *value = @"";
	if (equals.location != NSNotFound) {
	    name = [pair substringToIndex: equals.location];
	    value = [pair substringFromIndex: NSMaxRange(equals)];
	}
	[pairs setObject: DecodeFormPart(value) forKey: DecodeFormPart(name)];
    }
    return pairs;
}
