/*
 * RyTemplateParser.h --
 *
 *	Template text to a tree of RyElements, in one pass over the text.
 *	Only ry: elements are parsed; all other markup, HTML comments
 *	included, is kept as text, unchanged.
 */
#ifndef RY_TEMPLATE_PARSER_H
#define RY_TEMPLATE_PARSER_H

@class NSString, RyElement;

/* How deep ry: elements may nest inside each other. */
#define RY_TEMPLATE_MAX_DEPTH 200

/* The tree of source (autoreleased): a RyElementList node whose children
 * are the template's top level.  name is what error texts call the
 * template.  Raises RyTemplateError ("<name>:<line>: ...") for an
 * unknown ry: element, an element that is not closed or closed by the
 * wrong end tag, a missing, unknown, repeated or malformed attribute,
 * a form field outside <ry:form>, a form inside a form, and nesting
 * deeper than RY_TEMPLATE_MAX_DEPTH. */
RyElement *RyParseTemplate(NSString *source, NSString *name);

#endif /* RY_TEMPLATE_PARSER_H */
