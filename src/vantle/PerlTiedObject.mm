/*
 * PerlTiedObject.mm --
 *
 *	The tie methods of Vantle::Object: what a handle used as a hash or
 *	an array shows.  Four views, chosen per call:
 *	- array: with perlify_foundation on, an NSArray's elements by index;
 *	- dictionary: with perlify_foundation on, an NSDictionary's entries;
 *	- key-value: with hash_perlify on, the keys of an object that answers
 *	  allHashKeys, through valueForKey: and takeValue:forKey:;
 *	- instance variables: every other object's variables by name.
 *	Elements and values read come back as handles; keys as strings
 *	(indexes for arrays).  The array view answers Perl's whole tied-array
 *	protocol (FETCHSIZE, STORESIZE, EXTEND, PUSH, POP, SHIFT, UNSHIFT,
 *	SPLICE, CLEAR), so push, splice, $#a = n and list assignment work on
 *	an NSMutableArray as on a Perl array; CLEAR and SCALAR serve hashes.
 *	Mutable collections only can change: the others croak "is not
 *	mutable".  Collections hold no nil: undef is stored as BqNil, which
 *	also fills an array grown by STORESIZE, and BqNil reads back as undef.
 *
 *	Order of work in every method: Perl values are converted first (that
 *	may run Perl code), then the Foundation messages are sent under the
 *	platform guard, so a failed conversion leaves the object untouched
 *	and no Perl code runs inside the guard.  A Foundation exception
 *	croaks with its name and reason; any other error caught croaks with
 *	its text rather than passing for success.  Elements removed from an
 *	array are retained and autoreleased before they go, so the handles
 *	answered for them stay good until the pool drains.
 *
 *	Enumerating the keys of a dictionary or of allHashKeys walks a
 *	snapshot of them taken by FIRSTKEY, kept in ext magic on the tie
 *	object (each tied container has its own), so entries may be deleted
 *	or added while Perl walks (as `each` allows), walks of different
 *	containers do not disturb each other, and each step costs one
 *	lookup.  Keys deleted during the walk are skipped.  The snapshot goes
 *	at the end of the walk, at the next FIRSTKEY, or with the tie object.
 */
#import <Foundation/Foundation.h>

#include "PerlIVar.h"
#include "VantlePriv.h"
#include "PerlDefinedClass.h"
#include "ErrorText.h"
#include "Ivar.h"
#include "KxRootObject.h"

#include <string.h>

/* The messages of the key-value view, as objects that offer it answer
 * them. */
@protocol VantleKeyedObject
- (NSArray *) allHashKeys;
- (id) valueForKey: (NSString *)key;
- (void) takeValue: (id)value forKey: (NSString *)key;
@end

typedef id<VantleKeyedObject> KeyedObject;

typedef enum ObjectView {
    ViewArray,
    ViewDictionary,
    ViewKeyValue,
    ViewIvar
} ObjectView;

/*
 * Exception texts --
 *	A caught exception's name and reason, read under a guard of their
 *	own (the exception is foreign code); empty when asking raised.
 */
typedef struct ExceptionText {
    id exception;
    const char *name;
    const char *reason;
} ExceptionText;

static void
ReadExceptionText(void *context)
{
    ExceptionText *text = (ExceptionText *) context;
    NSException *exception = text->exception;
    const char *name = [[exception name] UTF8String];
    const char *reason = [[exception reason] UTF8String];
    text->name = name != NULL ? name : "";
    text->reason = reason != NULL ? reason : "";
}

/*
 *----------------------------------------------------------------------
 * CaughtMessage --
 *	The message for an error caught around a Foundation message: "%s:
 *	NAME: REASON" for a Foundation exception (codes 100000 to 100999,
 *	the exception being the first data word), "%s: TEXT" for anything
 *	else.  A new mortal.
 *----------------------------------------------------------------------
 */
/*
 * NextVisibleIvar --
 *	BqOsmo_FindNextIvar without the variable in which a class defined in
 *	Perl keeps each instance's state: no Perl value lives there.
 */
static Ivar
NextVisibleIvar(id object, const char *name)
{
    Ivar ivar = BqOsmo_FindNextIvar(object, name);
    if (ivar != NULL && strcmp(ivar_getName(ivar), VANTLE_STATE_IVAR) == 0) {
	ivar = BqOsmo_FindNextIvar(object, VANTLE_STATE_IVAR);
    }
    return ivar;
}

static SV *
CaughtMessage(pTHX_ const char *subName, KxErrorInfo *caught)
{
    if (caught->code >= KX_CODE_NSEXCEPTION && caught->code < KX_CODE_NSEXCEPTION + 1000) {
	ExceptionText text = { (id) caught->data1, "", "" };
	KxErrorInfo failure;
	if (KxGuard(ReadExceptionText, &text, &failure) != 0) {
	    KxErrorInfoClear(&failure);
	    text.name = text.reason = "";
	}
	return sv_2mortal(newSVpvf("%s: %s: %s", subName, text.name, text.reason));
    }
    return VantlePriv_CaughtErrorMessage(aTHX_ subName, caught);
}

/*
 *----------------------------------------------------------------------
 * Foundation --
 *	Runs body, Foundation messages only, under the platform guard.
 *	Answers null, or the mortal message for what it raised.
 *----------------------------------------------------------------------
 */
template <typename Body>
static SV *
Foundation(pTHX_ const char *subName, Body body)
{
    KxErrorInfo caught;
    if (KxGuard(VantlePriv_RunGuardedBody<Body>, &body, &caught) == 0) {
	return NULL;
    }
    SV *failure = CaughtMessage(aTHX_ subName, &caught);
    KxErrorInfoClear(&caught);
    return failure;
}

/*
 *----------------------------------------------------------------------
 * ChooseView --
 *	The view of object for one call.  access is the key-value message
 *	the call needs besides allHashKeys (null: none).  Answers null, or
 *	a mortal message when asking the object raised.
 *----------------------------------------------------------------------
 */
static SV *
ChooseView(pTHX_ const char *subName, id object, SEL access, ObjectView *viewPtr)
{
    if (VantlePriv_PerlifyFoundation) {
	if (VantlePriv_IsKindOfClass(object, VantlePriv_NSArrayClass)) {
	    *viewPtr = ViewArray;
	    return NULL;
	}
	if (VantlePriv_IsKindOfClass(object, VantlePriv_NSDictionaryClass)) {
	    *viewPtr = ViewDictionary;
	    return NULL;
	}
    }
    *viewPtr = ViewIvar;
    if (!VantlePriv_HashPerlify) {
	return NULL;
    }
    BOOL keyed = NO;
    SV *failure = Foundation(aTHX_ subName, [&] {
	keyed = [object respondsTo: @selector(allHashKeys)]
		&& (access == NULL || [object respondsTo: access]);
    });
    if (failure == NULL && keyed) {
	*viewPtr = ViewKeyValue;
    }
    return failure;
}

/* Whether key names the class pointer: "isa", however key-value coding
 * would spell it. */
static int
IsClassKey(id key)
{
    if (key == nil || !VantlePriv_IsKindOfClass(key, VantlePriv_NSStringClass)) {
	return 0;
    }
    NSString *name = (NSString *) key;
    return [name isEqualToString: @"isa"] || [name isEqualToString: @"_isa"];
}

/* Whether object may be changed in its view: a mutable array or
 * dictionary.  Answers null or the mortal "is not mutable" message. */
static SV *
RequireMutable(pTHX_ const char *subName, id object, ObjectView view)
{
    if (view == ViewArray && !VantlePriv_IsKindOfClass(object, VantlePriv_NSMutableArrayClass)) {
	return sv_2mortal(newSVpvf("%s: NSArray is not mutable", subName));
    }
    if (view == ViewDictionary
	    && !VantlePriv_IsKindOfClass(object, VantlePriv_NSMutableDictionaryClass)) {
	return sv_2mortal(newSVpvf("%s: NSDictionary is not mutable", subName));
    }
    return NULL;
}

/*
 * ConvertKey, ConvertValue --
 *	A key or value given by Perl as an object, failing with "%s:
 *	NSDictionary key: %s" ("%s: key: %s" in the key-value view), or
 *	"%s: NSArray set value: %s", "%s: NSDictionary set value: %s",
 *	"%s: set value: %s".
 */
static SV *
ConvertKey(pTHX_ const char *subName, ObjectView view, SV *sv, Tcl_DString *errors,
	id *keyPtr)
{
    if (VantlePriv_ObjectArgument(aTHX_ sv, errors, keyPtr)) {
	return NULL;
    }
    return sv_2mortal(newSVpvf("%s: %skey: %s", subName,
	    view == ViewDictionary ? "NSDictionary " : "", Tcl_DStringValue(errors)));
}

static SV *
ConvertValue(pTHX_ const char *subName, ObjectView view, SV *sv, Tcl_DString *errors,
	id *valuePtr)
{
    if (VantlePriv_ObjectArgument(aTHX_ sv, errors, valuePtr)) {
	return NULL;
    }
    return sv_2mortal(newSVpvf("%s: %sset value: %s", subName,
	    view == ViewArray ? "NSArray " : view == ViewDictionary ? "NSDictionary " : "",
	    Tcl_DStringValue(errors)));
}

/* Converts an element or dictionary value to store: as ConvertValue,
 * but nil (undef) becomes BqNil, since a collection holds no nil. */
static SV *
ConvertElement(pTHX_ const char *subName, ObjectView view, SV *sv, Tcl_DString *errors,
	id *valuePtr)
{
    SV *failure = ConvertValue(aTHX_ subName, view, sv, errors, valuePtr);
    if (failure == NULL && *valuePtr == nil) {
	*valuePtr = VantlePriv_NilObject;
    }
    return failure;
}

/* Makes result a handle of a value read (undef for BqNil, which stands
 * for an undefined element), failing with "%s: NSArray get value: %s",
 * "%s: NSDictionary get value: %s" or "%s: get value: %s". */
static SV *
SetResultObject(pTHX_ const char *subName, ObjectView view, SV *result, id value,
	Tcl_DString *errors)
{
    if (value != nil && value == VantlePriv_NilObject) {
	sv_setsv(result, &PL_sv_undef);
	return NULL;
    }
    Tcl_DStringSetLength(errors, 0);
    if (Vantle_SVSetObject(result, value, errors)) {
	return NULL;
    }
    return sv_2mortal(newSVpvf("%s: %sget value: %s", subName,
	    view == ViewArray ? "NSArray " : view == ViewDictionary ? "NSDictionary " : "",
	    Tcl_DStringValue(errors)));
}

/*
 *----------------------------------------------------------------------
 * SetKeyText --
 *	Makes result the Perl key of a key object: its description as text.
 *----------------------------------------------------------------------
 */
static SV *
SetKeyText(pTHX_ const char *subName, SV *result, id key)
{
    const char *text = NULL;
    SV *failure = Foundation(aTHX_ subName, [&] { text = [[key description] UTF8String]; });
    if (failure != NULL) {
	return failure;
    }
    if (text == NULL) {
	sv_setsv(result, &PL_sv_undef);
	return NULL;
    }
    STRLEN length = strlen(text);
    sv_setpvn(result, text, length);
    if (!is_utf8_invariant_string((const U8 *) text, length)) {
	SvUTF8_on(result);
    }
    return NULL;
}

/* One call of a tie method: the object and its view, within the
 * conversion scope whose error string is errors.  The arguments are read
 * through Arg, from the stack as it is now: conversions may run Perl code
 * that moves the stack. */
typedef struct TieCall {
    const char *subName;
    id object;
    ObjectView view;
    Tcl_DString *errors;
    I32 ax;
    I32 items;
    SV *result;		/* a scalar answer */
    AV *results;	/* a list answer (SPLICE in list context) */
    int answer;		/* a true or false answer (EXISTS) */
} TieCall;

/* Argument i of the call; 0 is the tie object. */
static SV *
Arg(pTHX_ TieCall *call, I32 i)
{
    return PL_stack_base[call->ax + i];
}

/*
 *----------------------------------------------------------------------
 * Fetch --
 *	The element, entry or value of key, into the result.
 *----------------------------------------------------------------------
 */
static SV *
Fetch(pTHX_ TieCall *call)
{
    const char *subName = call->subName;
    SV *keySV = Arg(aTHX_ call, 1);
    id object = call->object;
    id value = nil;
    id key = nil;
    SV *failure = NULL;
    switch (call->view) {
    case ViewArray: {
	NSUInteger index = (NSUInteger) SvIV(keySV);
	failure = Foundation(aTHX_ subName, [&] { value = [object objectAtIndex: index]; });
	break;
    }
    case ViewDictionary:
	failure = ConvertKey(aTHX_ subName, call->view, keySV, call->errors, &key);
	if (failure == NULL) {
	    failure = Foundation(aTHX_ subName, [&] { value = [object objectForKey: key]; });
	}
	break;
    case ViewKeyValue:
	failure = ConvertKey(aTHX_ subName, call->view, keySV, call->errors, &key);
	if (failure == NULL) {
	    failure = Foundation(aTHX_ subName, [&] {
		value = [(KeyedObject) object valueForKey: key];
	    });
	}
	break;
    case ViewIvar: {
	const char *name;
	Ivar ivar = VantlePriv_FindNamedIvar(aTHX_ object, keySV, &name);
	if (ivar == NULL) {
	    return sv_2mortal(newSVpvf("%s: no ivar \"%s\"", subName, name));
	}
	return VantlePriv_ReadIvar(aTHX_ object, ivar, call->result, call->errors);
    }
    }
    if (failure != NULL) {
	return failure;
    }
    return SetResultObject(aTHX_ subName, call->view, call->result, value, call->errors);
}

/*
 *----------------------------------------------------------------------
 * Store --
 *	Stores value under key.  In the collection views the result
 *	receives a handle of the value stored; in the instance variable
 *	view it is left alone (the sub answers its first argument).
 *----------------------------------------------------------------------
 */
static SV *
Store(pTHX_ TieCall *call)
{
    const char *subName = call->subName;
    SV *keySV = Arg(aTHX_ call, 1);
    id object = call->object;
    ObjectView view = call->view;
    id key = nil;
    id value = nil;
    SV *failure = RequireMutable(aTHX_ subName, object, view);
    if (failure != NULL) {
	return failure;
    }
    switch (view) {
    case ViewArray: {
	NSUInteger index = (NSUInteger) SvIV(keySV);
	failure = ConvertElement(aTHX_ subName, view, Arg(aTHX_ call, 2), call->errors, &value);
	if (failure == NULL) {
	    failure = Foundation(aTHX_ subName, [&] {
		NSMutableArray *array = object;
		if (index == [array count]) {
		    [array addObject: value];
		} else {
		    [array replaceObjectAtIndex: index withObject: value];
		}
	    });
	}
	break;
    }
    case ViewDictionary:
    case ViewKeyValue:
	failure = ConvertKey(aTHX_ subName, view, keySV, call->errors, &key);
	if (failure == NULL && view == ViewKeyValue && IsClassKey(key)) {
	    /* Key-value coding sets a variable of that name directly, and
	     * every object's first variable is its class pointer. */
	    failure = sv_2mortal(newSVpvf("%s: refusing to modify isa, the object's class",
		    subName));
	}
	if (failure == NULL) {
	    failure = view == ViewDictionary
		? ConvertElement(aTHX_ subName, view, Arg(aTHX_ call, 2), call->errors, &value)
		: ConvertValue(aTHX_ subName, view, Arg(aTHX_ call, 2), call->errors, &value);
	}
	if (failure == NULL) {
	    failure = Foundation(aTHX_ subName, [&] {
		if (view == ViewDictionary) {
		    [(NSMutableDictionary *) object setObject: value forKey: key];
		} else {
		    [(KeyedObject) object takeValue: value forKey: key];
		}
	    });
	}
	break;
    case ViewIvar: {
	const char *name;
	Ivar ivar = VantlePriv_FindNamedIvar(aTHX_ object, keySV, &name);
	if (ivar == NULL) {
	    return sv_2mortal(newSVpvf("%s: no ivar \"%s\"", subName, name));
	}
	return VantlePriv_WriteIvar(aTHX_ object, ivar, Arg(aTHX_ call, 2), call->errors);
    }
    }
    if (failure == NULL) {
	Vantle_SVSetObject(call->result, value, NULL);
    }
    return failure;
}

/*
 *----------------------------------------------------------------------
 * Exists --
 *	Whether key has an element, entry, value or variable.
 *----------------------------------------------------------------------
 */
static SV *
Exists(pTHX_ TieCall *call)
{
    const char *subName = call->subName;
    SV *keySV = Arg(aTHX_ call, 1);
    id object = call->object;
    id key = nil;
    BOOL found = NO;
    SV *failure = NULL;
    switch (call->view) {
    case ViewArray: {
	IV index = SvIV(keySV);
	failure = Foundation(aTHX_ subName, [&] {
	    found = index >= 0 && (NSUInteger) index < [object count];
	});
	break;
    }
    case ViewDictionary:
    case ViewKeyValue:
	failure = ConvertKey(aTHX_ subName, call->view, keySV, call->errors, &key);
	if (failure == NULL) {
	    failure = Foundation(aTHX_ subName, [&] {
		found = call->view == ViewDictionary ? [object objectForKey: key] != nil
		    : [[(KeyedObject) object allHashKeys] containsObject: key];
	    });
	}
	break;
    case ViewIvar: {
	const char *name;
	found = VantlePriv_FindNamedIvar(aTHX_ object, keySV, &name) != NULL;
	break;
    }
    }
    call->answer = found;
    return failure;
}

/*
 *----------------------------------------------------------------------
 * Delete --
 *	Removes an array element or a dictionary entry and answers it
 *	(undef when the dictionary had no such key).  An array closes the
 *	gap, as removeObjectAtIndex: does.  Other views have nothing that
 *	can be deleted.
 *----------------------------------------------------------------------
 */
static SV *
Delete(pTHX_ TieCall *call)
{
    const char *subName = call->subName;
    SV *keySV = Arg(aTHX_ call, 1);
    id object = call->object;
    ObjectView view = call->view;
    if (view != ViewArray && view != ViewDictionary) {
	return sv_2mortal(newSVpvf("%s: cannot delete ivar", subName));
    }
    SV *failure = RequireMutable(aTHX_ subName, object, view);
    if (failure != NULL) {
	return failure;
    }
    id value = nil;
    if (view == ViewArray) {
	NSUInteger index = (NSUInteger) SvIV(keySV);
	failure = Foundation(aTHX_ subName, [&] {
	    value = [[[object objectAtIndex: index] retain] autorelease];
	    [(NSMutableArray *) object removeObjectAtIndex: index];
	});
    } else {
	id key = nil;
	failure = ConvertKey(aTHX_ subName, view, keySV, call->errors, &key);
	if (failure == NULL) {
	    failure = Foundation(aTHX_ subName, [&] {
		value = [[[object objectForKey: key] retain] autorelease];
		[(NSMutableDictionary *) object removeObjectForKey: key];
	    });
	}
    }
    if (failure != NULL || value == nil) {
	return failure;
    }
    return SetResultObject(aTHX_ subName, view, call->result, value, call->errors);
}

/*
 *----------------------------------------------------------------------
 * Clear --
 *	Empties a mutable array or dictionary (@$a = (), %$d = ()).
 *----------------------------------------------------------------------
 */
static SV *
Clear(pTHX_ TieCall *call)
{
    id object = call->object;
    if (call->view != ViewArray && call->view != ViewDictionary) {
	return sv_2mortal(newSVpvf("%s: cannot delete ivar", call->subName));
    }
    SV *failure = RequireMutable(aTHX_ call->subName, object, call->view);
    if (failure != NULL) {
	return failure;
    }
    return Foundation(aTHX_ call->subName, [&] { [object removeAllObjects]; });
}

/*
 *----------------------------------------------------------------------
 * Scalar --
 *	A hash view in scalar context (scalar(%$h), if (%$h)): the number
 *	of its keys, as a Perl hash answers.
 *----------------------------------------------------------------------
 */
static SV *
Scalar(pTHX_ TieCall *call)
{
    id object = call->object;
    NSUInteger count = 0;
    SV *failure = NULL;
    switch (call->view) {
    case ViewArray:
    case ViewDictionary:
	failure = Foundation(aTHX_ call->subName, [&] { count = [object count]; });
	break;
    case ViewKeyValue:
	failure = Foundation(aTHX_ call->subName, [&] {
	    count = [[(KeyedObject) object allHashKeys] count];
	});
	break;
    case ViewIvar:
	for (Ivar ivar = NextVisibleIvar(object, NULL); ivar != NULL; ) {
	    const char *name = ivar_getName(ivar);
	    count++;
	    /* Past a superclass's variable hidden by a subclass's of the
	     * same name, the walk by name would go round again. */
	    if (BqOsmo_FindIvar(object, name) != ivar) {
		break;
	    }
	    ivar = NextVisibleIvar(object, name);
	}
	break;
    }
    if (failure == NULL) {
	sv_setuv(call->result, (UV) count);
    }
    return failure;
}

/*
 * Key walks --
 *	The state of one enumeration of a dictionary's keys or of
 *	allHashKeys, in ext magic on the tie object: the collection, the
 *	keys when FIRSTKEY began the walk (both retained) and the index of
 *	the next key to answer.  The functions that touch the objects run
 *	inside a guard.
 */
typedef struct KeyWalk {
    id collection;
    NSArray *keys;
    NSUInteger next;
} KeyWalk;

/* Lets go of the walk's objects. */
static void
EndWalk(KeyWalk *walk)
{
    NSArray *keys = walk->keys;
    id collection = walk->collection;
    walk->keys = nil;
    walk->collection = nil;
    walk->next = 0;
    [keys release];
    [collection release];
}

static int
FreeKeyWalk(pTHX_ SV *sv, MAGIC *mg)
{
    PERL_UNUSED_CONTEXT;
    PERL_UNUSED_ARG(sv);
    KeyWalk *walk = (KeyWalk *) mg->mg_ptr;
    mg->mg_ptr = NULL;
    if (walk != NULL) {
	/* Nothing can be reported while Perl frees a value. */
	auto body = [&] { EndWalk(walk); };
	KxErrorInfo caught;
	if (KxGuard(VantlePriv_RunGuardedBody<decltype(body)>, &body, &caught) != 0) {
	    KxErrorInfoClear(&caught);
	}
	Safefree(walk);
    }
    return 0;
}

#ifdef USE_ITHREADS
/* svt_dup: a clone of the tie object begins with no walk of its own
 * (NEXTKEY finds its place again by the key it is given). */
static int
CloneKeyWalk(pTHX_ MAGIC *mg, CLONE_PARAMS *param)
{
    PERL_UNUSED_CONTEXT;
    PERL_UNUSED_ARG(param);
    KeyWalk *walk;
    Newxz(walk, 1, KeyWalk);
    mg->mg_ptr = (char *) walk;
    return 0;
}
#else
#define CloneKeyWalk NULL
#endif

static const MGVTBL keyWalkVtbl = {
    NULL, NULL, NULL, NULL, FreeKeyWalk, NULL, CloneKeyWalk, NULL
};

/*
 * WalkOf --
 *	The key walk kept on the tie object sv, made when it has none.  A
 *	read-only value cannot carry one: its walk goes with the statement,
 *	and NEXTKEY then finds its place again by the key it is given.
 */
static KeyWalk *
WalkOf(pTHX_ SV *sv)
{
    if (SvREADONLY(sv)) {
	sv = sv_newmortal();
    }
    MAGIC *mg = SvTYPE(sv) >= SVt_PVMG ? mg_findext(sv, PERL_MAGIC_ext, &keyWalkVtbl) : NULL;
    if (mg != NULL && mg->mg_ptr != NULL) {
	return (KeyWalk *) mg->mg_ptr;
    }
    KeyWalk *walk;
    Newxz(walk, 1, KeyWalk);
    mg = sv_magicext(sv, NULL, PERL_MAGIC_ext, &keyWalkVtbl, (const char *) walk, 0);
    mg->mg_flags |= MGf_DUP;
    return walk;
}

/* Begins a walk over the keys object has now. */
static void
StartWalk(KeyWalk *walk, id object, ObjectView view)
{
    NSArray *keys = view == ViewDictionary ? [object allKeys]
	: [(KeyedObject) object allHashKeys];
    [keys retain];
    [object retain];
    EndWalk(walk);
    walk->keys = keys;
    walk->collection = object;
}

/* The walk's next key that the collection still holds; nil, ending the
 * walk, when none is left. */
static id
NextWalkKey(KeyWalk *walk, ObjectView view)
{
    NSUInteger count = [walk->keys count];
    while (walk->next < count) {
	id key = [walk->keys objectAtIndex: walk->next++];
	if (view != ViewDictionary || [walk->collection objectForKey: key] != nil) {
	    return key;
	}
    }
    EndWalk(walk);
    return nil;
}

/* Whether candidate is the key Perl gave back, text: the key itself or
 * the text a key that is no string was given to Perl as. */
static BOOL
KeyMatches(id candidate, NSString *text)
{
    return text != nil && ([candidate isEqual: text] || [[candidate description] isEqual: text]);
}

/*
 * ResumeWalk --
 *	Places the walk just after last, the text of the key Perl answered
 *	last (it is not converted back to an object, so any key works).  That
 *	is where a walk of this object already stands unless Perl code called
 *	NEXTKEY itself; then the keys are taken afresh and last looked for
 *	(past the end when it is gone).
 */
static void
ResumeWalk(KeyWalk *walk, id object, ObjectView view, NSString *last)
{
    if (walk->collection == object && walk->next > 0
	    && walk->next <= [walk->keys count]
	    && KeyMatches([walk->keys objectAtIndex: walk->next - 1], last)) {
	return;
    }
    StartWalk(walk, object, view);
    NSUInteger count = [walk->keys count];
    while (walk->next < count && !KeyMatches([walk->keys objectAtIndex: walk->next], last)) {
	walk->next++;
    }
    if (walk->next < count) {
	walk->next++;
    }
}

/*
 *----------------------------------------------------------------------
 * KeyAfter --
 *	The key after lastSV in the object's view into the result, the
 *	first key when lastSV is null (FIRSTKEY); undef at the end.  The
 *	keys are an array's indexes, a dictionary's keys or allHashKeys
 *	through the walk of the tie object, the instance variables' names.
 *----------------------------------------------------------------------
 */
static SV *
KeyAfter(pTHX_ TieCall *call, SV *lastSV)
{
    const char *subName = call->subName;
    id object = call->object;
    ObjectView view = call->view;
    id key = nil;
    SV *failure = NULL;
    switch (view) {
    case ViewArray: {
	IV next = lastSV != NULL ? SvIV(lastSV) + 1 : 0;
	NSUInteger count = 0;
	failure = Foundation(aTHX_ subName, [&] { count = [object count]; });
	if (failure == NULL && next >= 0 && (NSUInteger) next < count) {
	    sv_setiv(call->result, next);
	}
	return failure;
    }
    case ViewDictionary:
    case ViewKeyValue: {
	KeyWalk *walk = WalkOf(aTHX_ Arg(aTHX_ call, 0));
	const char *text = NULL;
	STRLEN length = 0;
	if (lastSV != NULL) {
	    SV *copy = sv_mortalcopy(lastSV);
	    text = SvPVutf8(copy, length);
	}
	failure = Foundation(aTHX_ subName, [&] {
	    if (text == NULL) {
		StartWalk(walk, object, view);
	    } else {
		/* The cached class: a class named in code is looked up by
		 * name at every use in this runtime. */
		ResumeWalk(walk, object, view, [[[(id) VantlePriv_NSStringClass alloc]
			initWithBytes: text length: length encoding: NSUTF8StringEncoding]
			autorelease]);
	    }
	    key = NextWalkKey(walk, view);
	});
	break;
    }
    case ViewIvar: {
	const char *name = NULL;
	if (lastSV != NULL) {
	    STRLEN length;
	    name = SvPV_const(lastSV, length);
	    if (strlen(name) != length) {
		return NULL;
	    }
	}
	Ivar ivar = NextVisibleIvar(object, name);
	if (ivar != NULL) {
	    sv_setpv(call->result, ivar_getName(ivar));
	}
	return NULL;
    }
    }
    if (failure != NULL || key == nil) {
	return failure;
    }
    return SetKeyText(aTHX_ subName, call->result, key);
}

/*
 * The array protocol --
 *	Perl's whole-array operations on an array view.  Each needs the
 *	array view, and all but FETCHSIZE and EXTEND a mutable array.
 */
static SV *
RequireArray(pTHX_ TieCall *call, int changes)
{
    if (call->view != ViewArray) {
	return sv_2mortal(newSVpvf("%s: not an array", call->subName));
    }
    return changes ? RequireMutable(aTHX_ call->subName, call->object, ViewArray) : NULL;
}

/* The size of the array, for @$a in scalar context, $#$a and loops. */
static SV *
FetchSize(pTHX_ TieCall *call)
{
    id object = call->object;
    NSUInteger count = 0;
    SV *failure = Foundation(aTHX_ call->subName, [&] { count = [object count]; });
    if (failure == NULL) {
	sv_setuv(call->result, (UV) count);
    }
    return failure;
}

/* Makes the array count elements long ($#$a = count - 1): cuts it
 * short, or fills it up with BqNil, which reads as undef. */
static SV *
StoreSize(pTHX_ TieCall *call)
{
    IV wanted = SvIV(Arg(aTHX_ call, 1));
    NSUInteger size = wanted > 0 ? (NSUInteger) wanted : 0;
    NSMutableArray *array = call->object;
    return Foundation(aTHX_ call->subName, [&] {
	NSUInteger count = [array count];
	if (size < count) {
	    [array removeObjectsInRange: NSMakeRange(size, count - size)];
	}
	for (; count < size; count++) {
	    [array addObject: VantlePriv_NilObject];
	}
    });
}

/*
 * ConvertElements --
 *	The elements for the arguments from first on, converted as stored
 *	elements are, in a buffer that goes with the conversion scope.
 */
static SV *
ConvertElements(pTHX_ TieCall *call, I32 first, id **elementsPtr, NSUInteger *countPtr)
{
    NSUInteger count = call->items > first ? (NSUInteger) (call->items - first) : 0;
    id *elements = NULL;
    if (count > 0) {
	Newx(elements, count, id);
	SAVEFREEPV(elements);
    }
    for (NSUInteger i = 0; i < count; i++) {
	SV *failure = ConvertElement(aTHX_ call->subName, ViewArray,
		Arg(aTHX_ call, first + (I32) i), call->errors, &elements[i]);
	if (failure != NULL) {
	    return failure;
	}
    }
    *elementsPtr = elements;
    *countPtr = count;
    return NULL;
}

/* Inserts the arguments as elements at the end (PUSH) or at the front
 * (UNSHIFT), in their order. */
static SV *
Insert(pTHX_ TieCall *call, int atEnd)
{
    id *elements = NULL;
    NSUInteger count = 0;
    SV *failure = ConvertElements(aTHX_ call, 1, &elements, &count);
    if (failure != NULL) {
	return failure;
    }
    NSMutableArray *array = call->object;
    return Foundation(aTHX_ call->subName, [&] {
	NSUInteger at = atEnd ? [array count] : 0;
	for (NSUInteger i = 0; i < count; i++) {
	    [array insertObject: elements[i] atIndex: at + i];
	}
    });
}

/* Removes and answers the last (POP) or first (SHIFT) element; undef
 * for an empty array. */
static SV *
Remove(pTHX_ TieCall *call, int last)
{
    NSMutableArray *array = call->object;
    id value = nil;
    SV *failure = Foundation(aTHX_ call->subName, [&] {
	NSUInteger count = [array count];
	if (count > 0) {
	    NSUInteger index = last ? count - 1 : 0;
	    value = [[[array objectAtIndex: index] retain] autorelease];
	    [array removeObjectAtIndex: index];
	}
    });
    if (failure != NULL || value == nil) {
	return failure;
    }
    return SetResultObject(aTHX_ call->subName, ViewArray, call->result, value, call->errors);
}

/*
 * SpliceRange --
 *	The range that splice(@a, OFFSET, LENGTH) removes from an array of
 *	count elements, with Perl's rules: OFFSET and LENGTH default to 0
 *	and the rest of the array; a negative OFFSET counts from the end; a
 *	negative LENGTH leaves that many elements at the end; an OFFSET past
 *	the end is the end, with Perl's warning.  Answers null or the
 *	message for an OFFSET before the start.
 */
static SV *
SpliceRange(pTHX_ TieCall *call, NSUInteger count, NSRange *rangePtr)
{
    IV size = (IV) count;
    IV offset = call->items > 1 ? SvIV(Arg(aTHX_ call, 1)) : 0;
    if (offset < 0) {
	offset += size;
	if (offset < 0) {
	    return sv_2mortal(newSVpvf("%s: Modification of non-creatable array value "
		    "attempted, subscript %" IVdf, call->subName, offset - size));
	}
    }
    if (offset > size) {
	Perl_ck_warner(aTHX_ packWARN(WARN_MISC), "splice() offset past end of array");
	offset = size;
    }
    IV length = call->items > 2 ? SvIV(Arg(aTHX_ call, 2)) : size - offset;
    if (length < 0) {
	length = length + size - offset > 0 ? length + size - offset : 0;
    }
    if (length > size - offset) {
	length = size - offset;
    }
    *rangePtr = NSMakeRange((NSUInteger) offset, (NSUInteger) length);
    return NULL;
}

/*
 *----------------------------------------------------------------------
 * Splice --
 *	splice(@$a, OFFSET, LENGTH, LIST): replaces the range with the
 *	elements of LIST and answers the elements removed, in list context
 *	all of them, in scalar context the last one (undef for none).
 *----------------------------------------------------------------------
 */
static SV *
Splice(pTHX_ TieCall *call, U8 gimme)
{
    NSMutableArray *array = call->object;
    NSUInteger count = 0;
    SV *failure = Foundation(aTHX_ call->subName, [&] { count = [array count]; });
    NSRange range = NSMakeRange(0, 0);
    if (failure == NULL) {
	failure = SpliceRange(aTHX_ call, count, &range);
    }
    id *elements = NULL;
    NSUInteger added = 0;
    if (failure == NULL) {
	failure = ConvertElements(aTHX_ call, 3, &elements, &added);
    }
    id *removed = NULL;
    if (failure == NULL && range.length > 0) {
	Newx(removed, range.length, id);
	SAVEFREEPV(removed);
    }
    if (failure == NULL) {
	failure = Foundation(aTHX_ call->subName, [&] {
	    for (NSUInteger i = 0; i < range.length; i++) {
		removed[i] = [[[array objectAtIndex: range.location + i] retain] autorelease];
	    }
	    [array removeObjectsInRange: range];
	    for (NSUInteger i = 0; i < added; i++) {
		[array insertObject: elements[i] atIndex: range.location + i];
	    }
	});
    }
    if (failure != NULL || range.length == 0) {
	return failure;
    }
    if (gimme != G_LIST) {
	return SetResultObject(aTHX_ call->subName, ViewArray, call->result,
		removed[range.length - 1], call->errors);
    }
    call->results = (AV *) sv_2mortal((SV *) newAV());
    for (NSUInteger i = 0; i < range.length && failure == NULL; i++) {
	SV *element = newSV(0);
	av_push(call->results, element);
	failure = SetResultObject(aTHX_ call->subName, ViewArray, element, removed[i],
		call->errors);
    }
    return failure;
}

typedef enum TieMethod {
    MethodFetch,
    MethodStore,
    MethodDelete,
    MethodExists,
    MethodFirstKey,
    MethodNextKey,
    MethodClear,
    MethodScalar,
    MethodFetchSize,
    MethodStoreSize,
    MethodExtend,
    MethodPush,
    MethodPop,
    MethodShift,
    MethodUnshift,
    MethodSplice
} TieMethod;

/* What a tie method leaves on the stack. */
typedef enum TieAnswer {
    AnswerNothing,
    AnswerScalar,	/* the result */
    AnswerTruth,	/* Perl's true or false */
    AnswerStored,	/* the result when defined, else the first argument */
    AnswerList		/* the results in list context, else the result */
} TieAnswer;

typedef struct TieMethodEntry {
    const char *name;
    TieMethod method;
    I32 minItems;
    I32 maxItems;	/* -1: any number */
    const char *usage;	/* a format for the name */
    TieAnswer answer;
} TieMethodEntry;

static const TieMethodEntry tieMethods[] = {
    { "Vantle::Object::FETCH", MethodFetch, 2, 2, "Usage: %s(obj,ivar)", AnswerScalar },
    { "Vantle::Object::STORE", MethodStore, 3, 3, "Usage: %s(obj,ivar,val)", AnswerStored },
    { "Vantle::Object::DELETE", MethodDelete, 2, 2, "%s(x,elem)", AnswerScalar },
    { "Vantle::Object::EXISTS", MethodExists, 2, 2, "Usage: %s(obj,ivar)", AnswerTruth },
    { "Vantle::Object::FIRSTKEY", MethodFirstKey, 1, 1, "Usage: %s(obj)", AnswerScalar },
    { "Vantle::Object::NEXTKEY", MethodNextKey, 2, 2, "Usage: %s(obj,ivar)", AnswerScalar },
    { "Vantle::Object::CLEAR", MethodClear, 1, 1, "Usage: %s(obj)", AnswerNothing },
    { "Vantle::Object::SCALAR", MethodScalar, 1, 1, "Usage: %s(obj)", AnswerScalar },
    { "Vantle::Object::FETCHSIZE", MethodFetchSize, 1, 1, "Usage: %s(obj)", AnswerScalar },
    { "Vantle::Object::STORESIZE", MethodStoreSize, 2, 2, "Usage: %s(obj,count)",
	AnswerNothing },
    { "Vantle::Object::EXTEND", MethodExtend, 2, 2, "Usage: %s(obj,count)", AnswerNothing },
    { "Vantle::Object::PUSH", MethodPush, 1, -1, "Usage: %s(obj,...)", AnswerNothing },
    { "Vantle::Object::POP", MethodPop, 1, 1, "Usage: %s(obj)", AnswerScalar },
    { "Vantle::Object::SHIFT", MethodShift, 1, 1, "Usage: %s(obj)", AnswerScalar },
    { "Vantle::Object::UNSHIFT", MethodUnshift, 1, -1, "Usage: %s(obj,...)", AnswerNothing },
    { "Vantle::Object::SPLICE", MethodSplice, 1, -1, "Usage: %s(obj,offset,length,...)",
	AnswerList },
};

/* The array protocol's methods: which need the array view, and which
 * change the array. */
static int
ArrayMethod(TieMethod method, int *changesPtr)
{
    *changesPtr = method != MethodFetchSize && method != MethodExtend;
    return method >= MethodFetchSize;
}

/* Runs the method on the object in its view. */
static SV *
Dispatch(pTHX_ TieMethod method, TieCall *call, U8 gimme)
{
    int changes;
    if (ArrayMethod(method, &changes)) {
	SV *failure = RequireArray(aTHX_ call, changes);
	if (failure != NULL) {
	    return failure;
	}
    }
    switch (method) {
    case MethodFetch:
	return Fetch(aTHX_ call);
    case MethodStore:
	return Store(aTHX_ call);
    case MethodDelete:
	return Delete(aTHX_ call);
    case MethodExists:
	return Exists(aTHX_ call);
    case MethodFirstKey:
	return KeyAfter(aTHX_ call, NULL);
    case MethodNextKey:
	return KeyAfter(aTHX_ call, Arg(aTHX_ call, 1));
    case MethodClear:
	return Clear(aTHX_ call);
    case MethodScalar:
	return Scalar(aTHX_ call);
    case MethodFetchSize:
	return FetchSize(aTHX_ call);
    case MethodStoreSize:
	return StoreSize(aTHX_ call);
    case MethodExtend:
	return NULL;
    case MethodPush:
    case MethodUnshift:
	return Insert(aTHX_ call, method == MethodPush);
    case MethodPop:
    case MethodShift:
	return Remove(aTHX_ call, method == MethodPop);
    case MethodSplice:
	return Splice(aTHX_ call, gimme);
    }
    return NULL;
}

/*
 *----------------------------------------------------------------------
 * RunTieMethod --
 *	The common body of the tie methods: converts the object (nil is
 *	refused, except by DELETE), chooses its view and runs the method,
 *	all inside one conversion scope.  Answers null, or a mortal message
 *	to croak with once the scope is left.
 *----------------------------------------------------------------------
 */
static SV *
RunTieMethod(pTHX_ const TieMethodEntry *entry, TieCall *call, U8 gimme)
{
    Tcl_DString errors;
    call->errors = &errors;
    SV *failure = NULL;
    ENTER;
    VantlePriv_EnterConversion(aTHX_ &errors);
    SV *receiver = Arg(aTHX_ call, 0);
    if (entry->method == MethodDelete) {
	if (!VantlePriv_ObjectArgument(aTHX_ receiver, &errors, &call->object)) {
	    failure = sv_2mortal(newSVpvf("%s: %s", entry->name, Tcl_DStringValue(&errors)));
	}
    } else {
	failure = VantlePriv_ReceiverArgument(aTHX_ receiver, entry->name, &errors,
		&call->object);
    }
    if (failure == NULL) {
	SEL access = entry->method == MethodFetch ? @selector(valueForKey:)
	    : entry->method == MethodStore ? @selector(takeValue:forKey:) : (SEL) NULL;
	failure = ChooseView(aTHX_ entry->name, call->object, access, &call->view);
    }
    if (failure == NULL) {
	failure = Dispatch(aTHX_ entry->method, call, gimme);
    }
    LEAVE;
    call->errors = NULL;
    return failure;
}

/*
 *----------------------------------------------------------------------
 * Vantle::Object::FETCH, STORE, DELETE, EXISTS, FIRSTKEY, NEXTKEY, CLEAR,
 * SCALAR, FETCHSIZE, STORESIZE, EXTEND, PUSH, POP, SHIFT, UNSHIFT,
 * SPLICE --
 *	The tie methods of a handle's hash and array: one XSUB, told by its
 *	index in tieMethods which method it is.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__Object__tie_method)
{
    dXSARGS;
    dXSI32;
    BqCPerl_SetInterp(aTHX);
    const TieMethodEntry *entry = &tieMethods[ix];
    if (items < entry->minItems || (entry->maxItems >= 0 && items > entry->maxItems)) {
	croak(entry->usage, entry->name);
    }
    if (entry->method == MethodDelete && !VantlePriv_PerlifyFoundation) {
	croak("%s: cannot delete ivar", entry->name);
    }
    U8 gimme = GIMME_V;
    TieCall call = { entry->name, nil, ViewIvar, NULL, ax, items, sv_newmortal(), NULL, 0 };
    SV *failure = RunTieMethod(aTHX_ entry, &call, gimme);
    if (failure != NULL) {
	croak_sv(failure);
    }
    switch (entry->answer) {
    case AnswerNothing:
	XSRETURN_EMPTY;
    case AnswerTruth:
	ST(0) = call.answer ? &PL_sv_yes : &PL_sv_no;
	XSRETURN(1);
    case AnswerStored:
	if (SvOK(call.result)) {
	    ST(0) = call.result;
	}
	XSRETURN(1);
    case AnswerList:
	if (gimme == G_LIST) {
	    SSize_t count = call.results != NULL ? av_count(call.results) : 0;
	    SP = PL_stack_base + ax - 1;
	    EXTEND(SP, count);
	    for (SSize_t i = 0; i < count; i++) {
		ST(i) = AvARRAY(call.results)[i];
	    }
	    XSRETURN(count);
	}
	break;
    case AnswerScalar:
	break;
    }
    ST(0) = call.result;
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * Vantle::Object::TIEHASH, Vantle::Object::TIEARRAY --
 *	(pack,obj): tie %h or @a, 'Vantle::Object', $handle.  The tie object
 *	is a new handle of the same object, so the tie keeps its own key
 *	walk and does not follow later assignments to the variable that was
 *	given; anything else is answered as it is.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__Object__TIE)
{
    dXSARGS;
    dXSI32;
    BqCPerl_SetInterp(aTHX);
    if (items != 2) {
	croak("Usage: Vantle::Object::%s(pack,obj)", ix ? "TIEARRAY" : "TIEHASH");
    }
    SV *referent = VantlePriv_HandleReferent(aTHX_ ST(1));
    ST(0) = referent != NULL ? sv_2mortal(newRV_inc(referent)) : ST(1);
    XSRETURN(1);
}

void
VantlePriv_BootObjectTie(pTHX)
{
    for (size_t i = 0; i < sizeof tieMethods / sizeof tieMethods[0]; i++) {
	CV *cv = newXS(tieMethods[i].name, XS_Vantle__Object__tie_method, "Vantle");
	XSANY.any_i32 = (I32) i;
    }
    CV *cv = newXS("Vantle::Object::TIEHASH", XS_Vantle__Object__TIE, "Vantle");
    XSANY.any_i32 = 0;
    cv = newXS("Vantle::Object::TIEARRAY", XS_Vantle__Object__TIE, "Vantle");
    XSANY.any_i32 = 1;
}
