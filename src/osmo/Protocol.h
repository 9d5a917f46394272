/*
 * Protocol.h --
 *
 *	The runtime layer's protocol registry, and read-only views of the
 *	runtime's protocol records.
 *
 *	The registry maps a protocol name to one Protocol object.  It is
 *	filled by collecting the protocols the classes of the runtime adopt
 *	(with everything those incorporate) and by explicit additions, so a
 *	protocol can be found by name for "<Proto>" types, "id <Proto>"
 *	declarations and conformance checks.  Several Protocol objects may
 *	carry the same name (each compiled module may have its own copy); the
 *	registry keeps the first one unless asked to replace it.
 *
 *	The views present what the runtime's accessor functions give for a
 *	protocol in the classic record shapes: a protocol list is a chain of
 *	blocks (link to the following block, count, protocols), a method
 *	description list is a count followed by (selector, type encoding)
 *	pairs.  Protocols never change once loaded, so each view is built on
 *	first use, kept in the runtime zone for the rest of the process, and
 *	may be held on to forever.
 */
#ifndef BQ_OSMO_PROTOCOL_H
#define BQ_OSMO_PROTOCOL_H

#include <objc/runtime.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A protocol's incorporated protocols.  Views built here are one block
 * (next is null). */
typedef struct BqOsmoProtocolList {
    struct BqOsmoProtocolList *next;
    int count;
    Protocol *list[];
} BqOsmoProtocolList;

/* A protocol's instance or class method descriptions; each name is a
 * registered selector, each types a full encoding with frame offsets. */
typedef struct BqOsmoMethodDescriptionList {
    int count;
    struct objc_method_description list[];
} BqOsmoMethodDescriptionList;

/* Called for each registered protocol; a non-zero answer stops the walk. */
typedef int (*BqOsmo_ProtocolFunction)(void *arg, Protocol *protocol);

/* Creates the registry (once) and turns on the root classes' handling of
 * unrecognised selectors. */
void BqOsmo_ProtocolInit(void);

/* Enters protocol under its name.  An entry for another protocol of that
 * name is replaced only when replace is true.  Answers 1 when the name
 * maps to protocol afterwards, else 0 (also for nil or a non-protocol). */
int  BqOsmo_AddProtocol(Protocol *protocol, int replace);

/* Calls fn(arg, protocol) for every registered protocol, in hash order;
 * answers 1 as soon as a call answers non-zero, else 0.  fn may add
 * protocols: the walk covers those registered when it began. */
int  BqOsmo_MapProtocols(void *arg, BqOsmo_ProtocolFunction fn);

/* Marks the registry as possibly incomplete. */
void BqOsmo_DirtyProtocol(void);

/* Enters (never replacing) every protocol that a class of the runtime
 * adopts, and recursively every protocol those incorporate; then marks
 * the registry complete. */
void BqOsmo_CollectProtocols(void);

/*
 * BqOsmo_LookupProtocol --
 *	With a class: the protocol of that name (same pointer or equal text)
 *	found in the protocol lists of the class and then of each
 *	superclass, each list searched with the protocols it incorporates.
 *	Without one: the registered protocol of that name; when there is
 *	none and the registry may be incomplete (marked so, or the runtime
 *	has gained classes since the last collection), all protocols are
 *	collected and the name is looked up again.
 *
 * Results:
 *	The protocol, or null.
 */
Protocol *BqOsmo_LookupProtocol(Class cls, const char *name);

/* True when a and b are the same object, or have the same numbers of
 * incorporated protocols, instance methods and class methods. */
int  BqOsmo_EquivalentProtocols(Protocol *a, Protocol *b);

/* True when object is a Protocol object of the runtime. */
int  BqOsmo_IsProtocol(id object);

/* The views; null when the protocol has none (or is no protocol). */
const BqOsmoProtocolList          *BqOsmo_ProtocolIncorporated(Protocol *protocol);
const BqOsmoMethodDescriptionList *BqOsmo_ProtocolInstanceMethods(Protocol *protocol);
const BqOsmoMethodDescriptionList *BqOsmo_ProtocolClassMethods(Protocol *protocol);

/* The description of selector in the protocol's instance (or class)
 * methods, searching incorporated protocols after its own; null when
 * there is none.  The description lives as long as the process. */
struct objc_method_description *BqOsmo_ProtocolMethodDescription(Protocol *protocol,
	SEL selector, int instance);

#ifdef __cplusplus
}
#endif

#endif
