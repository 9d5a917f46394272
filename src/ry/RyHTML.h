/*
 * RyHTML.h --
 *
 *	Escaping text for HTML: the one function that every value and
 *	attribute passes through on its way into a page.
 */
#ifndef RY_HTML_H
#define RY_HTML_H

@class NSString, NSMutableString;

/* Appends text to out with & < > " ' replaced by their character
 * references, so the result is safe both as element content and inside
 * a double- or single-quoted attribute value.  A nil text appends
 * nothing. */
void RyAppendEscaped(NSMutableString *out, NSString *text);

#endif /* RY_HTML_H */
