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
 *	(indexes for arrays).  FETCHSIZE gives an array's count, so a handle
 *	can also be used as a whole Perl array.
 *
 *	Order of work in every method: Perl values are converted first (that
 *	may run Perl code), then the Foundation messages are sent under the
 *	platform guard, so a failed conversion leaves the object untouched
 *	and no Perl code runs inside the guard.  A Foundation exception
 *	croaks with its name and reason; any other error caught croaks with
 *	its text rather than passing for success.
 *
 *	Enumerating a dictionary works on a snapshot of its keys taken by
 *	FIRSTKEY, so entries may be deleted or added while Perl walks it (as
 *	`each` allows) without disturbing the walk.  The snapshot and the
 *	dictionary are retained until the next enumeration of a dictionary
 *	replaces them.
 */
#import <Foundation/Foundation.h>

#include "PerlIVar.h"
#include "VantlePriv.h"
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

/* The keys of the dictionary being enumerated, and the position of the
 * key last answered. */
static NSDictionary *enumDictionary;
static NSArray *enumKeys;
static NSUInteger enumIndex;

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

/* Makes result a handle of a value read, failing with "%s: NSArray get
 * value: %s", "%s: NSDictionary get value: %s" or "%s: get value: %s". */
static SV *
SetResultObject(pTHX_ const char *subName, ObjectView view, SV *result, id value,
	Tcl_DString *errors)
{
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

/* The object whose tie method runs, within the conversion scope. */
typedef struct TieCall {
    const char *subName;
    id object;
    ObjectView view;
    Tcl_DString *errors;
} TieCall;

/*
 *----------------------------------------------------------------------
 * Fetch --
 *	The element, entry or value of key, into result.
 *----------------------------------------------------------------------
 */
static SV *
Fetch(pTHX_ TieCall *call, SV *keySV, SV *result)
{
    const char *subName = call->subName;
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
	return VantlePriv_ReadIvar(aTHX_ object, ivar, result, call->errors);
    }
    }
    if (failure != NULL) {
	return failure;
    }
    return SetResultObject(aTHX_ subName, call->view, result, value, call->errors);
}

/*
 *----------------------------------------------------------------------
 * Store --
 *	Stores value under key.  In the collection views result receives a
 *	handle of the value stored; in the instance variable view it is
 *	left alone (the sub answers its first argument).
 *----------------------------------------------------------------------
 */
static SV *
Store(pTHX_ TieCall *call, SV *keySV, SV *valueSV, SV *result)
{
    const char *subName = call->subName;
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
	failure = ConvertValue(aTHX_ subName, view, valueSV, call->errors, &value);
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
	if (failure == NULL) {
	    failure = ConvertValue(aTHX_ subName, view, valueSV, call->errors, &value);
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
	return VantlePriv_WriteIvar(aTHX_ object, ivar, valueSV, call->errors);
    }
    }
    if (failure == NULL) {
	Vantle_SVSetObject(result, value, NULL);
    }
    return failure;
}

/*
 *----------------------------------------------------------------------
 * Exists --
 *	Whether key has an element, entry, value or variable, in *answerPtr.
 *----------------------------------------------------------------------
 */
static SV *
Exists(pTHX_ TieCall *call, SV *keySV, int *answerPtr)
{
    const char *subName = call->subName;
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
    *answerPtr = found;
    return failure;
}

/*
 * Remember --
 *	Makes dictionary and a snapshot of its keys the enumeration state
 *	(both retained; the former state is released).  Runs in a guard.
 */
static void
Remember(NSDictionary *dictionary)
{
    NSArray *keys = [[dictionary allKeys] retain];
    [dictionary retain];
    [enumKeys release];
    [enumDictionary release];
    enumKeys = keys;
    enumDictionary = dictionary;
    enumIndex = 0;
}

/* Whether candidate is the key Perl gave back, as an object or as the
 * text a non-string key was given to Perl as. */
static BOOL
KeyMatches(id candidate, id key)
{
    return [candidate isEqual: key]
	|| ([key isKindOfClass: [NSString class]] && [[candidate description] isEqual: key]);
}

/*
 *----------------------------------------------------------------------
 * FirstKey --
 *	The first key of object's view into result (undef when it has none):
 *	index 0 of a non-empty array, a dictionary's first key, element 0 of
 *	allHashKeys, the first instance variable's name.
 *----------------------------------------------------------------------
 */
static SV *
FirstKey(pTHX_ TieCall *call, SV *result)
{
    const char *subName = call->subName;
    id object = call->object;
    id key = nil;
    NSUInteger count = 0;
    SV *failure = NULL;
    switch (call->view) {
    case ViewArray:
	failure = Foundation(aTHX_ subName, [&] { count = [object count]; });
	if (failure == NULL && count > 0) {
	    sv_setiv(result, 0);
	}
	return failure;
    case ViewDictionary:
	failure = Foundation(aTHX_ subName, [&] {
	    Remember(object);
	    key = [enumKeys count] > 0 ? [enumKeys objectAtIndex: 0] : nil;
	});
	break;
    case ViewKeyValue:
	failure = Foundation(aTHX_ subName, [&] {
	    NSArray *keys = [(KeyedObject) object allHashKeys];
	    key = [keys count] > 0 ? [keys objectAtIndex: 0] : nil;
	});
	break;
    case ViewIvar: {
	Ivar ivar = BqOsmo_FindNextIvar(object, NULL);
	if (ivar != NULL) {
	    sv_setpv(result, ivar_getName(ivar));
	}
	return NULL;
    }
    }
    if (failure != NULL || key == nil) {
	return failure;
    }
    return SetKeyText(aTHX_ subName, result, key);
}

/*
 * NextDictionaryKey --
 *	The key after last in the enumeration of dictionary, or nil at the
 *	end.  Enumeration goes on from the remembered position when last is
 *	the key answered there; otherwise (another dictionary, or Perl gave
 *	another key) the position of last is looked for in the snapshot,
 *	taken afresh for another dictionary.  Runs in a guard.
 */
static id
NextDictionaryKey(NSDictionary *dictionary, id last)
{
    if (dictionary != enumDictionary) {
	Remember(dictionary);
    }
    NSUInteger count = [enumKeys count];
    if (enumIndex >= count || !KeyMatches([enumKeys objectAtIndex: enumIndex], last)) {
	NSUInteger i = 0;
	while (i < count && !KeyMatches([enumKeys objectAtIndex: i], last)) {
	    i++;
	}
	enumIndex = i;
    }
    if (enumIndex + 1 >= count) {
	enumIndex = count;
	return nil;
    }
    return [enumKeys objectAtIndex: ++enumIndex];
}

/*
 *----------------------------------------------------------------------
 * NextKey --
 *	The key after lastSV in object's view into result, undef at the end.
 *----------------------------------------------------------------------
 */
static SV *
NextKey(pTHX_ TieCall *call, SV *lastSV, SV *result)
{
    const char *subName = call->subName;
    id object = call->object;
    id last = nil;
    id key = nil;
    SV *failure = NULL;
    switch (call->view) {
    case ViewArray: {
	IV next = SvIV(lastSV) + 1;
	NSUInteger count = 0;
	failure = Foundation(aTHX_ subName, [&] { count = [object count]; });
	if (failure == NULL && next >= 0 && (NSUInteger) next < count) {
	    sv_setiv(result, next);
	}
	return failure;
    }
    case ViewDictionary:
	failure = ConvertKey(aTHX_ subName, call->view, lastSV, call->errors, &last);
	if (failure == NULL) {
	    failure = Foundation(aTHX_ subName, [&] { key = NextDictionaryKey(object, last); });
	}
	break;
    case ViewKeyValue:
	failure = ConvertKey(aTHX_ subName, call->view, lastSV, call->errors, &last);
	if (failure == NULL) {
	    failure = Foundation(aTHX_ subName, [&] {
		NSArray *keys = [(KeyedObject) object allHashKeys];
		NSUInteger index = [keys indexOfObject: last];
		if (index != NSNotFound && index + 1 < [keys count]) {
		    key = [keys objectAtIndex: index + 1];
		}
	    });
	}
	break;
    case ViewIvar: {
	STRLEN length;
	const char *name = SvPV_const(lastSV, length);
	Ivar ivar = strlen(name) == length ? BqOsmo_FindNextIvar(object, name) : NULL;
	if (ivar != NULL) {
	    sv_setpv(result, ivar_getName(ivar));
	}
	return NULL;
    }
    }
    if (failure != NULL || key == nil) {
	return failure;
    }
    return SetKeyText(aTHX_ subName, result, key);
}

/*
 *----------------------------------------------------------------------
 * Delete --
 *	Removes an array element or a dictionary entry; other views have
 *	nothing that can be deleted.
 *----------------------------------------------------------------------
 */
static SV *
Delete(pTHX_ TieCall *call, SV *keySV)
{
    const char *subName = call->subName;
    id object = call->object;
    ObjectView view = call->view;
    if (view != ViewArray && view != ViewDictionary) {
	return sv_2mortal(newSVpvf("%s: cannot delete ivar", subName));
    }
    SV *failure = RequireMutable(aTHX_ subName, object, view);
    if (failure != NULL) {
	return failure;
    }
    if (view == ViewArray) {
	NSUInteger index = (NSUInteger) SvIV(keySV);
	return Foundation(aTHX_ subName, [&] {
	    [(NSMutableArray *) object removeObjectAtIndex: index];
	});
    }
    id key = nil;
    failure = ConvertKey(aTHX_ subName, view, keySV, call->errors, &key);
    if (failure == NULL) {
	failure = Foundation(aTHX_ subName, [&] {
	    [(NSMutableDictionary *) object removeObjectForKey: key];
	});
    }
    return failure;
}

/*
 *----------------------------------------------------------------------
 * FetchSize --
 *	The number of elements of an array, into result, so that a handle
 *	used as a whole Perl array (@$h, scalar(@$h)) lists its elements.
 *	Other views have no size.
 *----------------------------------------------------------------------
 */
static SV *
FetchSize(pTHX_ TieCall *call, SV *result)
{
    id object = call->object;
    if (call->view != ViewArray) {
	return sv_2mortal(newSVpvf("%s: not an array", call->subName));
    }
    NSUInteger count = 0;
    SV *failure = Foundation(aTHX_ call->subName, [&] { count = [object count]; });
    if (failure == NULL) {
	sv_setiv(result, (IV) count);
    }
    return failure;
}

typedef enum TieMethod {
    MethodFetch,
    MethodStore,
    MethodExists,
    MethodFirstKey,
    MethodNextKey,
    MethodDelete,
    MethodFetchSize
} TieMethod;

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
RunTieMethod(pTHX_ TieMethod method, const char *subName, I32 ax, SV *result,
	int *answerPtr)
{
    Tcl_DString errors;
    TieCall call = { subName, nil, ViewIvar, &errors };
    SV *failure = NULL;
    ENTER;
    VantlePriv_EnterConversion(aTHX_ &errors);
    if (method == MethodDelete) {
	if (!VantlePriv_ObjectArgument(aTHX_ ST(0), &errors, &call.object)) {
	    failure = sv_2mortal(newSVpvf("%s: %s", subName, Tcl_DStringValue(&errors)));
	}
    } else {
	failure = VantlePriv_ReceiverArgument(aTHX_ ST(0), subName, &errors, &call.object);
    }
    if (failure == NULL) {
	SEL access = method == MethodFetch ? @selector(valueForKey:)
	    : method == MethodStore ? @selector(takeValue:forKey:) : (SEL) NULL;
	failure = ChooseView(aTHX_ subName, call.object, access, &call.view);
    }
    if (failure == NULL) {
	switch (method) {
	case MethodFetch:
	    failure = Fetch(aTHX_ &call, ST(1), result);
	    break;
	case MethodStore:
	    failure = Store(aTHX_ &call, ST(1), ST(2), result);
	    break;
	case MethodExists:
	    failure = Exists(aTHX_ &call, ST(1), answerPtr);
	    break;
	case MethodFirstKey:
	    failure = FirstKey(aTHX_ &call, result);
	    break;
	case MethodNextKey:
	    failure = NextKey(aTHX_ &call, ST(1), result);
	    break;
	case MethodDelete:
	    failure = Delete(aTHX_ &call, ST(1));
	    break;
	case MethodFetchSize:
	    failure = FetchSize(aTHX_ &call, result);
	    break;
	}
    }
    LEAVE;
    return failure;
}

/*
 *----------------------------------------------------------------------
 * Vantle::Object::FETCH, STORE, EXISTS, FIRSTKEY, NEXTKEY, DELETE,
 * TIEHASH --
 *	The tie methods of a handle's hash (and array).
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__Object__FETCH)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    const char *name = "Vantle::Object::FETCH";
    if (items != 2) {
	croak("Usage: %s(obj,ivar)", name);
    }
    SV *result = sv_newmortal();
    SV *failure = RunTieMethod(aTHX_ MethodFetch, name, ax, result, NULL);
    if (failure != NULL) {
	croak_sv(failure);
    }
    ST(0) = result;
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__Object__STORE)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    const char *name = "Vantle::Object::STORE";
    if (items != 3) {
	croak("Usage: %s(obj,ivar,val)", name);
    }
    SV *result = sv_newmortal();
    SV *failure = RunTieMethod(aTHX_ MethodStore, name, ax, result, NULL);
    if (failure != NULL) {
	croak_sv(failure);
    }
    if (SvOK(result)) {
	ST(0) = result;
    }
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__Object__EXISTS)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    const char *name = "Vantle::Object::EXISTS";
    if (items != 2) {
	croak("Usage: %s(obj,ivar)", name);
    }
    int answer = 0;
    SV *failure = RunTieMethod(aTHX_ MethodExists, name, ax, NULL, &answer);
    if (failure != NULL) {
	croak_sv(failure);
    }
    ST(0) = answer ? &PL_sv_yes : &PL_sv_no;
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__Object__FIRSTKEY)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    const char *name = "Vantle::Object::FIRSTKEY";
    if (items != 1) {
	croak("Usage: %s(obj)", name);
    }
    SV *result = sv_newmortal();
    SV *failure = RunTieMethod(aTHX_ MethodFirstKey, name, ax, result, NULL);
    if (failure != NULL) {
	croak_sv(failure);
    }
    ST(0) = result;
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__Object__NEXTKEY)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    const char *name = "Vantle::Object::NEXTKEY";
    if (items != 2) {
	croak("Usage: %s(obj,ivar)", name);
    }
    SV *result = sv_newmortal();
    SV *failure = RunTieMethod(aTHX_ MethodNextKey, name, ax, result, NULL);
    if (failure != NULL) {
	croak_sv(failure);
    }
    ST(0) = result;
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__Object__DELETE)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    const char *name = "Vantle::Object::DELETE";
    if (items != 2) {
	croak("%s(x,elem)", name);
    }
    if (!VantlePriv_PerlifyFoundation) {
	croak("%s: cannot delete ivar", name);
    }
    SV *failure = RunTieMethod(aTHX_ MethodDelete, name, ax, NULL, NULL);
    if (failure != NULL) {
	croak_sv(failure);
    }
    XSRETURN_EMPTY;
}

XS_INTERNAL(XS_Vantle__Object__FETCHSIZE)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    const char *name = "Vantle::Object::FETCHSIZE";
    if (items != 1) {
	croak("Usage: %s(obj)", name);
    }
    SV *result = sv_newmortal();
    SV *failure = RunTieMethod(aTHX_ MethodFetchSize, name, ax, result, NULL);
    if (failure != NULL) {
	croak_sv(failure);
    }
    ST(0) = result;
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__Object__TIEHASH)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 2) {
	croak("Usage: Vantle::Object::TIEHASH(pack,obj)");
    }
    ST(0) = ST(1);
    XSRETURN(1);
}

void
VantlePriv_BootObjectTie(pTHX)
{
    newXS("Vantle::Object::FETCH", XS_Vantle__Object__FETCH, "Vantle");
    newXS("Vantle::Object::STORE", XS_Vantle__Object__STORE, "Vantle");
    newXS("Vantle::Object::DELETE", XS_Vantle__Object__DELETE, "Vantle");
    newXS("Vantle::Object::EXISTS", XS_Vantle__Object__EXISTS, "Vantle");
    newXS("Vantle::Object::FIRSTKEY", XS_Vantle__Object__FIRSTKEY, "Vantle");
    newXS("Vantle::Object::NEXTKEY", XS_Vantle__Object__NEXTKEY, "Vantle");
    newXS("Vantle::Object::FETCHSIZE", XS_Vantle__Object__FETCHSIZE, "Vantle");
    newXS("Vantle::Object::TIEHASH", XS_Vantle__Object__TIEHASH, "Vantle");
}
