/*
 * TypedStreamNode.h --
 *
 *	TypedStreamTestNode, the archivable class that the typed-stream
 *	tests and the typed-stream fuzz target share: a node with a strong
 *	and a conditional (weak) reference and a number, so that graphs of
 *	nodes have shared and cyclic references and references that are
 *	written only when something else writes their object.  Its class
 *	version is 3.
 */
#ifndef TYPED_STREAM_NODE_H
#define TYPED_STREAM_NODE_H

#import <Foundation/Foundation.h>

@interface TypedStreamTestNode : NSObject <NSCoding>
{
@public
    id strong;
    id weak;		/* not retained */
    int number;
}
@end

/* How many nodes were deallocated so far. */
extern int typedStreamTestNodeDeallocs;

#endif
