/*
 * BqVantleAV.mm --
 *
 *	The wrapper of a Perl array: counting, element access, the stack and
 *	queue operations, and the description "0: a\n1: b\n...\n".
 *
 *	Every method checks first that the value is an array and otherwise
 *	answers its neutral value.  On an array with magic (a tied array),
 *	or with a stored value whose reading runs Perl code (a tied scalar),
 *	the operation runs trapped, since it calls the tie's Perl methods; a
 *	Perl error raises "Perl Error".  Elements that are stored are copies;
 *	elements handed out share the array's value (of a tied array: the
 *	element that fetches and stores through the tie), except pop and
 *	shift, whose wrapper owns the removed element.
 */
#import <Foundation/Foundation.h>

#include "BqVantleVar.h"
#include "BqVantleInterpPriv.h"
#include "VantlePriv.h"
#include "KxThreadStorage.h"

/* The buffer of array descriptions, reused by every description made on
 * the same thread. */
static KxThreadStorage arrayDescriptions = KX_THREAD_DSTRING_STORAGE;

@implementation BqVantleAV

+ (void) load
{
    VantlePriv_AVClass = self;
}

/* The array, or null when the value is none. */
- (AV *) _array
{
    SV *value = [self _value];
    return value != NULL && SvTYPE(value) == SVt_PVAV ? (AV *) value : NULL;
}

/* A new empty array whose one count the wrapper takes over. */
- (id) init
{
    PerlInterpreter *my_perl = VantlePriv_CurrentPerl("init");
    AV *av = newAV();
    self = [self _initWithSV: (SV *) av];
    SvREFCNT_dec((SV *) av);
    return self;
}

- (int) count
{
    AV *av = [self _array];
    if (av == NULL) {
	return -1;
    }
    VANTLE_dWRAPPER("count");
    SSize_t last = -1;
    VantlePriv_OnValue(aTHX_ (SV *) av, "count", [&] { last = av_len(av); });
    return (int) (last + 1);
}

/*
 *----------------------------------------------------------------------
 * fetchVarAtIndex: --
 *	A wrapper sharing the element at index; nil for a negative index
 *	(no counting from the end), an index past the end, or a hole.
 *----------------------------------------------------------------------
 */
- (id) fetchVarAtIndex: (int)index
{
    AV *av = [self _array];
    if (av == NULL || index < 0) {
	return nil;
    }
    VANTLE_dWRAPPER("fetchVarAtIndex:");
    /* The element is held while the trap's temporaries are freed: the
     * element of a tied array is one of them. */
    SV *element = NULL;
    VantlePriv_OnValue(aTHX_ (SV *) av, "fetchVarAtIndex:", [&] {
	if (index <= av_len(av)) {
	    SV **slot = av_fetch(av, index, 0);
	    if (slot != NULL) {
		element = SvREFCNT_inc_simple_NN(*slot);
	    }
	}
    });
    return VantlePriv_WrapOwned(aTHX_ element);
}

/*
 *----------------------------------------------------------------------
 * storeVar:atIndex: --
 *	Stores a copy of var's value at index (negative: from the end, as
 *	Perl counts).  NO for a nil var, or an index before the start.
 *----------------------------------------------------------------------
 */
- (BOOL) storeVar: (BqVantleVar *)var atIndex: (int)index
{
    AV *av = [self _array];
    SV *value = var != nil ? [var sValue] : NULL;
    if (av == NULL || value == NULL) {
	return NO;
    }
    VantlePriv_CheckWritable((SV *) av, "storeVar:atIndex:");
    VANTLE_dWRAPPER("storeVar:atIndex:");
    BOOL stored = NO;
    VantlePriv_OnValue(aTHX_ VantlePriv_TrapSubject((SV *) av, value), "storeVar:atIndex:", [&] {
	SV *copy = newSVsv(value);
	if (av_store(av, index, copy) != NULL) {
	    stored = YES;
	} else {
	    SvREFCNT_dec(copy);
	}
    });
    return stored;
}

- (void) push: (BqVantleVar *)var
{
    AV *av = [self _array];
    SV *value = var != nil ? [var sValue] : NULL;
    if (av == NULL || value == NULL) {
	return;
    }
    VantlePriv_CheckWritable((SV *) av, "push:");
    VANTLE_dWRAPPER("push:");
    VantlePriv_OnValue(aTHX_ VantlePriv_TrapSubject((SV *) av, value), "push:",
	    [&] { av_push(av, newSVsv(value)); });
}

/*
 * _wrapRemoved: --
 *	A wrapper owning an element the array gave up (its count is handed
 *	over); nil for none.
 */
- (id) _wrapRemoved: (SV *)element
{
    BQCPERL_dTHX;
    return VantlePriv_WrapOwned(aTHX_ element);
}

- (id) pop
{
    AV *av = [self _array];
    if (av == NULL) {
	return nil;
    }
    VantlePriv_CheckWritable((SV *) av, "pop");
    VANTLE_dWRAPPER("pop");
    SV *element = NULL;
    VantlePriv_OnValue(aTHX_ (SV *) av, "pop", [&] {
	if (av_len(av) >= 0) {
	    element = av_pop(av);
	}
    });
    return [self _wrapRemoved: element];
}

- (id) shift
{
    AV *av = [self _array];
    if (av == NULL) {
	return nil;
    }
    VantlePriv_CheckWritable((SV *) av, "shift");
    VANTLE_dWRAPPER("shift");
    SV *element = NULL;
    VantlePriv_OnValue(aTHX_ (SV *) av, "shift", [&] {
	if (av_len(av) >= 0) {
	    element = av_shift(av);
	}
    });
    return [self _wrapRemoved: element];
}

- (void) unshift: (int)count
{
    AV *av = [self _array];
    if (av == NULL || count <= 0) {
	return;
    }
    VantlePriv_CheckWritable((SV *) av, "unshift:");
    VANTLE_dWRAPPER("unshift:");
    VantlePriv_OnValue(aTHX_ (SV *) av, "unshift:", [&] { av_unshift(av, count); });
}

- (void) clear
{
    AV *av = [self _array];
    if (av == NULL) {
	return;
    }
    VantlePriv_CheckWritable((SV *) av, "clear");
    VANTLE_dWRAPPER("clear");
    VantlePriv_OnValue(aTHX_ (SV *) av, "clear", [&] { av_clear(av); });
}

/*
 *----------------------------------------------------------------------
 * shortDescr: --
 *	"<i>: <element>\n" for the first limit elements ("-- NULL --" for
 *	a hole), then "...\n" when there are more.  The text lives in one
 *	buffer shared by all array descriptions, until the next one.
 *----------------------------------------------------------------------
 */
- (const char *) shortDescr: (int)limit
{
    AV *av = [self _array];
    if (av == NULL) {
	return NULL;
    }
    Tcl_DString *arrayDescription = KxThreadDStringGet(&arrayDescriptions);
    if (arrayDescription == NULL) {
	return NULL;
    }
    Tcl_DStringSetLength(arrayDescription, 0);
    int count = [self count];
    int shown = limit < count ? limit : count;
    for (int i = 0; i < shown; i++) {
	char number[32];
	snprintf(number, sizeof number, "%d: ", i);
	Tcl_DStringAppend(arrayDescription, number, -1);
	BqVantleVar *element = [self fetchVarAtIndex: i];
	const char *text = element != nil ? [element descr] : "-- NULL --";
	Tcl_DStringAppend(arrayDescription, text != NULL ? text : "", -1);
	[element release];
	Tcl_DStringAppend(arrayDescription, "\n", 1);
    }
    if (count > limit) {
	Tcl_DStringAppend(arrayDescription, "...\n", -1);
    }
    return Tcl_DStringValue(arrayDescription);
}

- (const char *) descr
{
    return [self shortDescr: [self count]];
}

@end
