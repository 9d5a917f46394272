/*
 * PerlCTypes.mm --
 *
 *	The binding's C type table and its converters between Perl scalars
 *	and C storage.
 *
 *	Scalar converters are registered per type: integers, floating point,
 *	strings and atoms, selectors, objects, nothing (void) and refusal
 *	(unknown).  Types without a converter of their own (typed pointers,
 *	arrays, structures, objects with class names) go to the default
 *	converters, which take them apart by their encoding and convert each
 *	piece through the table again.  Structures cross as hash references
 *	keyed by element name (or "_<index>" for a member without one) plus
 *	"__signature", arrays as array references, pointers as typed
 *	pointers.
 *
 *	Layout is this machine's, as the encoding walkers compute it: member
 *	offsets come from BqTypeSpec_FirstMember/NextMember and array
 *	strides from the element's size and alignment, both equal to the
 *	compiler's.
 *
 *	Storage is read and written with memcpy: the address may be any slot
 *	the caller has, aligned or not, and the compiler turns each copy into
 *	one load or store.  Integers are copied at their type's width from
 *	or into the low bytes of a 64-bit value, which this little-endian
 *	machine keeps at the lowest addresses.
 */
#import <Foundation/Foundation.h>

#include "PerlCTypes.h"
#include "ObjectTypeCheck.h"
#include "TypeDeclaration.h"
#include "PerlPointer.h"
#include "VantlePriv.h"
#include "BqOsmo.h"
#include "KxUniqueString.h"

#include <objc/runtime.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "integer conversions assume a little-endian machine"
#endif

CTypeTable *VantlePriv_CTypeTable;

/* Qualifier words handed to the pieces of an aggregate: to C, only the
 * bits from BQ_QUAL_OWNED up survive, so a piece owns its string exactly
 * when the aggregate's storage does, and is otherwise lent a copy (a
 * member is never a constant the callee promised to leave alone); from
 * C, only the bits from BQ_QUAL_ELEMENT up survive, and the element mark
 * is set. */
static inline unsigned
ElementQualifiersToC(unsigned qualifiers)
{
    return qualifiers & ~(unsigned) (BQ_QUAL_OWNED - 1);
}

static inline unsigned
ElementQualifiersFromC(unsigned qualifiers)
{
    return (qualifiers & ~(unsigned) (BQ_QUAL_ELEMENT - 1)) | BQ_QUAL_ELEMENT;
}

/* Appends the first type of type, or all of it when none can be read. */
static void
AppendFirstType(Tcl_DString *errors, const char *type)
{
    if (errors == NULL) {
	return;
    }
    const char *end = BqTypeSpec_ScanType(type, NULL, NULL);
    Tcl_DStringAppend(errors, type, end != NULL ? (int) (end - type) : -1);
}

/* Appends length bytes of text; nothing without a dynamic string. */
static void
AppendText(Tcl_DString *errors, const char *text, int length)
{
    if (errors != NULL) {
	Tcl_DStringAppend(errors, text, length);
    }
}

static int
CannotConvert(Tcl_DString *errors, const char *direction, const char *type)
{
    BqTcl_DStringApp(errors, "cannot convert ", direction, " type ", (char *) NULL);
    AppendFirstType(errors, type);
    return 1;
}

/* The scalar a to-C converter reads: undef stands in for a null one. */
static inline SV *
SourceScalar(pTHX_ void *ivalue)
{
    return ivalue != NULL ? (SV *) ivalue : &PL_sv_undef;
}

/* A from-C converter needs a scalar to set; answers 1 without one. */
static inline int
MissingTarget(void *ivalue, Tcl_DString *errors)
{
    if (ivalue != NULL) {
	return 0;
    }
    BqTcl_DStringApp(errors, "internal conversion error", (char *) NULL);
    return 1;
}

/* A hash key length for hv_fetch and hv_store: negative for a name
 * holding bytes beyond ASCII, which are UTF-8 as the compiler writes
 * identifiers. */
static I32
KeyLength(const char *name, int length)
{
    for (int i = 0; i < length; i++) {
	if ((unsigned char) name[i] >= 0x80) {
	    return -(I32) length;
	}
    }
    return (I32) length;
}

/*
 *----------------------------------------------------------------------
 * Integers --
 *	c s i l q are signed, C S I L Q unsigned, B (_Bool) holds 0 or 1.
 *	To C, signed types take Perl's integer value and unsigned ones its
 *	unsigned value (so the whole unsigned range crosses); the value is
 *	cut to the type as C's conversion would.  From C, signed values set
 *	the scalar's integer and unsigned ones its unsigned integer.
 *----------------------------------------------------------------------
 */
static int
IntegerWidth(char code)
{
    switch (code) {
    case 'c': case 'C': case 'B':
	return 1;
    case 's': case 'S':
	return 2;
    case 'i': case 'I':
	return 4;
    case 'l': case 'L': case 'q': case 'Q':
	return 8;
    default:
	return 0;
    }
}

static inline int
IsSignedCode(char code)
{
    return code == 'c' || code == 's' || code == 'i' || code == 'l' || code == 'q';
}

/* value cut to the width of type code and widened again by its sign. */
static uint64_t
CutToType(char code, uint64_t value)
{
    switch (code) {
    case 'c': return (uint64_t) (int64_t) (signed char) value;
    case 'C': return (unsigned char) value;
    case 'B': return value != 0;
    case 's': return (uint64_t) (int64_t) (short) value;
    case 'S': return (unsigned short) value;
    case 'i': return (uint64_t) (int64_t) (int) value;
    case 'I': return (unsigned int) value;
    default: return value;
    }
}

static int
IntegerToC(void *, Tcl_DString *errors, void *ivalue, void *cstorage, int,
	CTypeEntry *entry, unsigned qualifiers)
{
    BQCPERL_dTHX;
    SV *sv = SourceScalar(aTHX_ ivalue);
    char code = entry->type[0];
    int width = IntegerWidth(code);
    if (width == 0) {
	BqTcl_DStringApp(errors, "internal conversion error", (char *) NULL);
	return 1;
    }
    uint64_t value;
    if (code == 'B') {
	value = SvTRUE(sv) ? 1 : 0;
    } else if (IsSignedCode(code)) {
	value = (uint64_t) SvIV(sv);
    } else {
	value = (uint64_t) SvUV(sv);
    }
    value = CutToType(code, value);
    memcpy(cstorage, &value, (qualifiers & BQ_QUAL_RESULT) ? sizeof value : (size_t) width);
    return 0;
}

static int
IntegerFromC(void *, Tcl_DString *errors, void *ivalue, void *cstorage, int,
	CTypeEntry *entry, unsigned)
{
    if (MissingTarget(ivalue, errors)) {
	return 1;
    }
    BQCPERL_dTHX;
    SV *sv = (SV *) ivalue;
    char code = entry->type[0];
    int width = IntegerWidth(code);
    if (width == 0) {
	BqTcl_DStringApp(errors, "internal conversion error", (char *) NULL);
	return 1;
    }
    uint64_t raw = 0;
    memcpy(&raw, cstorage, (size_t) width);
    uint64_t value = CutToType(code, raw);
    if (IsSignedCode(code) || value <= (uint64_t) IV_MAX) {
	if (SvTYPE(sv) == SVt_IV && !SvTHINKFIRST(sv) && !SvMAGICAL(sv)) {
	    /* A plain integer scalar (as the message send and method calls
	     * make their values): set in place, as sv_setiv would. */
	    (void) SvIOK_only(sv);
	    SvIV_set(sv, (IV) (int64_t) value);
	} else {
	    sv_setiv(sv, (IV) (int64_t) value);
	}
    } else {
	sv_setuv(sv, (UV) value);
    }
    return 0;
}

/*
 *----------------------------------------------------------------------
 * Floating point --
 *	f and d, through Perl's number value.  NaN and the infinities cross
 *	unchanged.
 *----------------------------------------------------------------------
 */
static int
NotFloating(Tcl_DString *errors, CTypeEntry *entry)
{
    BqTcl_DStringApp(errors, "illegal type ", entry->type, ", f or d expected.", (char *) NULL);
    return 1;
}

static int
FloatingToC(void *, Tcl_DString *errors, void *ivalue, void *cstorage, int,
	CTypeEntry *entry, unsigned)
{
    BQCPERL_dTHX;
    SV *sv = SourceScalar(aTHX_ ivalue);
    switch (entry->type[0]) {
    case 'f': {
	float value = (float) SvNV(sv);
	memcpy(cstorage, &value, sizeof value);
	return 0;
    }
    case 'd': {
	double value = (double) SvNV(sv);
	memcpy(cstorage, &value, sizeof value);
	return 0;
    }
    default:
	return NotFloating(errors, entry);
    }
}

static int
FloatingFromC(void *, Tcl_DString *errors, void *ivalue, void *cstorage, int,
	CTypeEntry *entry, unsigned)
{
    if (MissingTarget(ivalue, errors)) {
	return 1;
    }
    BQCPERL_dTHX;
    SV *sv = (SV *) ivalue;
    switch (entry->type[0]) {
    case 'f': {
	float value;
	memcpy(&value, cstorage, sizeof value);
	sv_setnv(sv, (NV) value);
	return 0;
    }
    case 'd': {
	double value;
	memcpy(&value, cstorage, sizeof value);
	sv_setnv(sv, (NV) value);
	return 0;
    }
    default:
	return NotFloating(errors, entry);
    }
}

/*
 *----------------------------------------------------------------------
 * Addresses and lent bytes --
 *	What a pointer argument (a "char *" included) is handed.  A typed
 *	pointer gives its address; one whose type does not fit the target,
 *	as C would not convert it implicitly, is passed all the same with a
 *	warning, as a C compiler does.  A copy made of a Perl string is a
 *	Perl temporary: it lives until the caller's temporaries are freed
 *	(for a message sent from Perl, when the statement that sent it
 *	ends, after the send), which a Perl error on the way does as well.
 *----------------------------------------------------------------------
 */

/* Whether pointee, the type after a pointer's '^', is char, unsigned
 * char or void, or an array of chars: storage a "char *" may point to. */
static int
PointsToBytes(const char *pointee)
{
    const char *t = BqTypeSpec_SkipTypeQualifiers(pointee);
    if (*t == '[') {
	for (t++; *t >= '0' && *t <= '9'; t++) {
	}
	t = BqTypeSpec_SkipTypeQualifiers(t);
	return *t == 'c' || *t == 'C';
    }
    return *t == 'c' || *t == 'C' || *t == 'v';
}

/* Whether the first types of a and b are the same (BqTypeSpec_EqTypes
 * compares the whole of both). */
static int
SameFirstType(const char *a, const char *b)
{
    const char *aEnd = BqTypeSpec_ScanType(a, NULL, NULL);
    const char *bEnd = BqTypeSpec_ScanType(b, NULL, NULL);
    if (aEnd == NULL || bEnd == NULL) {
	return 0;
    }
    Tcl_DString first, second;
    Tcl_DStringInit(&first);
    Tcl_DStringInit(&second);
    Tcl_DStringAppend(&first, a, (int) (aEnd - a));
    Tcl_DStringAppend(&second, b, (int) (bEnd - b));
    int same = BqTypeSpec_EqTypes(Tcl_DStringValue(&first), Tcl_DStringValue(&second));
    Tcl_DStringFree(&first);
    Tcl_DStringFree(&second);
    return same;
}

/*
 * Whether a pointer of type pointerType fits where target, a pointer
 * type or '*', is wanted: a void pointer either way, equal pointees, a
 * pointer to an array where a pointer to its element type is wanted (the
 * array's first element, as C passes an array), and for a "char *" any
 * pointer to bytes.
 */
static int
PointerFits(const char *pointerType, const char *target)
{
    const char *pointer = BqTypeSpec_SkipTypeQualifiers(pointerType);
    if (*pointer != '^') {
	return 0;
    }
    if (*target == '*') {
	return PointsToBytes(pointer + 1);
    }
    if (BqTypeSpec_CompatiblePtrTypes(pointer, target)) {
	return 1;
    }
    const char *element = BqTypeSpec_SkipTypeQualifiers(pointer + 1);
    if (*element != '[') {
	return 0;
    }
    for (element++; *element >= '0' && *element <= '9'; element++) {
    }
    return SameFirstType(element, target + 1);
}

/* Stores a typed pointer's address for target (its first type ends at
 * targetEnd), warning when the pointer does not fit it. */
static void
StoreAddress(pTHX_ const char *pointerType, void *address, const char *target,
	const char *targetEnd, void *cstorage)
{
    /* The pointer's type is one complete type, so the comparison ends
     * with it and whatever follows the target's first type is ignored. */
    if (address != NULL && !PointerFits(pointerType, target)) {
	warn("assigning pointer type \"%s\" to \"%.*s\"", pointerType,
		(int) (targetEnd - target), target);
    }
    memcpy(cstorage, &address, sizeof address);
}

/* A NUL-terminated copy of bytes that lives until the caller's
 * temporaries are freed. */
static char *
TemporaryBytes(pTHX_ const char *bytes, STRLEN length)
{
    return SvPVX(sv_2mortal(newSVpvn(bytes, length)));
}

/*
 * The bytes of sv (its get-magic has run) for a callee: a copy when the
 * callee may write into them, else the scalar's own buffer, unless
 * reading the scalar again (get-magic, overloading) could replace that
 * buffer before the callee is done.
 */
static char *
LentBytes(pTHX_ SV *sv, int writable)
{
    STRLEN length;
    const char *text = SvPV_nomg_const(sv, length);
    if (writable || SvGMAGICAL(sv) || SvROK(sv)) {
	return TemporaryBytes(aTHX_ text, length);
    }
    return (char *) text;
}

/*
 *----------------------------------------------------------------------
 * Strings and atoms --
 *	A "char *" receives the bytes as Perl holds them (a string with
 *	characters beyond Latin-1 as its UTF-8 encoding).  Storage that owns
 *	its string (BQ_QUAL_OWNED) gets a copy from the default malloc zone
 *	that replaces (and frees) the string it held.  Other storage (a
 *	message argument, a value on its way into a stream) is lent the
 *	bytes: a "const char *" the scalar's own buffer, which the callee
 *	promised to leave alone; a "char *" a copy, so that a callee writing
 *	into it changes no Perl scalar; and a typed pointer its address, for
 *	a callee that fills a buffer.  An atom ('%') is the unique copy of
 *	the text; unique copies live forever, so atoms are never freed.
 *	Undef is the null pointer both ways.
 *----------------------------------------------------------------------
 */
static char *
CopyBytes(const char *bytes, STRLEN length, Tcl_DString *errors)
{
    char *copy = NULL;
    if (!VantlePriv_Guard(errors, [&] {
	copy = (char *) KxZoneMalloc(KxDefaultMallocZone(), length + 1);
    })) {
	return NULL;
    }
    memcpy(copy, bytes, length);
    copy[length] = '\0';
    return copy;
}

static void
FreeString(char *string)
{
    if (string != NULL) {
	KxZoneFree(KxDefaultMallocZone(), string);
    }
}

static int
StringToC(void *, Tcl_DString *errors, void *ivalue, void *cstorage, int,
	CTypeEntry *entry, unsigned qualifiers)
{
    BQCPERL_dTHX;
    SV *sv = SourceScalar(aTHX_ ivalue);
    char code = entry->type[0];
    int owned = code == '*' && (qualifiers & BQ_QUAL_OWNED);
    SvGETMAGIC(sv);
    const char *pointerType;
    void *address;
    if (code == '*' && SvROK(sv)
	    && VantlePriv_SVGetPointer(sv, &pointerType, &address, NULL) == 0) {
	if (owned) {
	    /* The storage would free the pointer's storage as its own. */
	    BqTcl_DStringApp(errors, "a typed pointer cannot be stored as a C string"
		    " that the storage owns", (char *) NULL);
	    return 1;
	}
	StoreAddress(aTHX_ pointerType, address, "*", entry->type + 1, cstorage);
	return 0;
    }
    char *stored = NULL;
    if (SvOK(sv)) {
	if (code == '%') {
	    stored = (char *) KxUniqueString(SvPV_nomg_nolen(sv));
	} else if (owned) {
	    STRLEN length;
	    const char *text = SvPV_nomg_const(sv, length);
	    stored = CopyBytes(text, length, errors);
	    if (stored == NULL) {
		return 1;
	    }
	} else {
	    stored = LentBytes(aTHX_ sv, !(qualifiers & BQ_QUAL_CONST));
	}
    }
    if (owned) {
	char *previous;
	memcpy(&previous, cstorage, sizeof previous);
	FreeString(previous);
    }
    memcpy(cstorage, &stored, sizeof stored);
    return 0;
}

static int
StringFromC(void *, Tcl_DString *errors, void *ivalue, void *cstorage, int,
	CTypeEntry *entry, unsigned qualifiers)
{
    if (MissingTarget(ivalue, errors)) {
	return 1;
    }
    BQCPERL_dTHX;
    SV *sv = (SV *) ivalue;
    char *text;
    memcpy(&text, cstorage, sizeof text);
    if (text == NULL) {
	sv_setsv(sv, &PL_sv_undef);
    } else {
	sv_setpv(sv, text);
	/* Bytes, not characters: a flag the scalar had must not stay. */
	SvUTF8_off(sv);
    }
    if (entry->type[0] == '*' && (qualifiers & BQ_QUAL_OWNED)) {
	FreeString(text);
    }
    return 0;
}

/*
 *----------------------------------------------------------------------
 * Selectors --
 *	By name.  Undef and the empty string are the null selector; a name
 *	the runtime does not know yet is registered.
 *----------------------------------------------------------------------
 */
static int
SelectorToC(void *, Tcl_DString *, void *ivalue, void *cstorage, int, CTypeEntry *,
	unsigned)
{
    BQCPERL_dTHX;
    SV *sv = SourceScalar(aTHX_ ivalue);
    SvGETMAGIC(sv);
    SEL selector = NULL;
    if (SvOK(sv)) {
	const char *name = SvPV_nomg_nolen(sv);
	if (*name != '\0') {
	    selector = BqTypeSpec_Str2SEL(name);
	}
    }
    memcpy(cstorage, &selector, sizeof selector);
    return 0;
}

static int
SelectorFromC(void *, Tcl_DString *errors, void *ivalue, void *cstorage, int,
	CTypeEntry *, unsigned)
{
    if (MissingTarget(ivalue, errors)) {
	return 1;
    }
    BQCPERL_dTHX;
    SV *sv = (SV *) ivalue;
    SEL selector;
    memcpy(&selector, cstorage, sizeof selector);
    const char *name = selector != NULL ? sel_getName(selector) : NULL;
    if (name == NULL) {
	sv_setsv(sv, &PL_sv_undef);
    } else {
	sv_setpv(sv, name);
	SvUTF8_off(sv);
    }
    return 0;
}

/*
 *----------------------------------------------------------------------
 * Objects --
 *	To C from a handle, nil, a class name or (with perl_auto_convert,
 *	except for classes) Perl data made into Foundation objects; from C
 *	into a handle.  With
 *	runtime_type_check on, an object declared with a class or protocol
 *	('#', @"Name", @"<P>") is checked against it.
 *----------------------------------------------------------------------
 */
static inline int
NamesClass(const char *type)
{
    return type[0] == '#' || (type[0] == '@' && type[1] == '"' && type[2] != '"'
	&& type[2] != '\0');
}

/*
 * ObjectTypeMismatch --
 *	Checks object against the class or protocol type declares: 0 when
 *	it fits, else 1 with label, the object's name and the reason in
 *	errors.  The name is registered only for the message: a check that
 *	passes, as nearly all do, leaves the name registry alone.
 */
static int
ObjectTypeMismatch(id object, const char *type, const char *label, Tcl_DString *errors)
{
    if (BqOsmo_CheckObjectType(object, type, label, "", NULL) == 0) {
	return 0;
    }
    return BqOsmo_CheckObjectType(object, type, label, Glisk_RegisterObject(object), errors);
}

static int
StoreObject(pTHX_ SV *sv, const char *type, void *cstorage, Tcl_DString *errors)
{
    /* Converting Perl data by value makes Foundation objects, never a
     * class: a class is taken from a handle or a class name. */
    char failed = 0;
    id object;
    /* A handle, the common argument, needs none of the conversions below
     * unless a converter hook wants to see every value. */
    if (SvGMAGICAL(sv) || Vantle_ObjectForSVHook != NULL
	    || !VantlePriv_LiveHandleObject(aTHX_ sv, &object, NULL)) {
	object = VantlePriv_PerlAutoConvert && type[0] != '#'
	    ? Vantle_ObjectForSV(sv, errors, &failed) : Vantle_SVGetObject2(sv, errors, &failed);
    }
    if (failed) {
	BqTcl_DStringApp(errors, " (while converting to id)", (char *) NULL);
	return 1;
    }
    if (object != nil && BQ_CONTROL(runtime_type_check) && NamesClass(type)
	    && ObjectTypeMismatch(object, type, "itypecheck: ", errors)) {
	return 1;
    }
    memcpy(cstorage, &object, sizeof object);
    return 0;
}

static int
LoadObject(pTHX_ SV *sv, const char *type, void *cstorage, Tcl_DString *errors)
{
    id object;
    memcpy(&object, cstorage, sizeof object);
    /* A pointer that is no object is left to the handle maker to refuse:
     * the check below would have to look inside it. */
    if (object != nil && BQ_CONTROL(runtime_type_check) && NamesClass(type)
	    && BqOsmo_IsIdInvalid(object) == NULL
	    && ObjectTypeMismatch(object, type, "ctypecheck: ", errors)) {
	return 1;
    }
    return Vantle_SVSetObject(sv, object, errors) ? 0 : 1;
}

static int
ObjectToC(void *, Tcl_DString *errors, void *ivalue, void *cstorage, int,
	CTypeEntry *entry, unsigned)
{
    BQCPERL_dTHX;
    return StoreObject(aTHX_ SourceScalar(aTHX_ ivalue), entry->type, cstorage, errors);
}

static int
ObjectFromC(void *, Tcl_DString *errors, void *ivalue, void *cstorage, int,
	CTypeEntry *entry, unsigned)
{
    if (MissingTarget(ivalue, errors)) {
	return 1;
    }
    BQCPERL_dTHX;
    return LoadObject(aTHX_ (SV *) ivalue, entry->type, cstorage, errors);
}

/*
 * Nothing (void, oneway): nothing is stored, the scalar is left as it
 * is.  Unknown ('?'): refused both ways.
 */
static int
NothingConverter(void *, Tcl_DString *, void *, void *, int, CTypeEntry *, unsigned)
{
    return 0;
}

static int
RefuseToC(void *, Tcl_DString *errors, void *, void *, int, CTypeEntry *entry, unsigned)
{
    BqTcl_DStringApp(errors, "cannot convert to type ", entry->type, (char *) NULL);
    return 1;
}

static int
RefuseFromC(void *, Tcl_DString *errors, void *, void *, int, CTypeEntry *entry, unsigned)
{
    BqTcl_DStringApp(errors, "cannot convert from type ", entry->type, (char *) NULL);
    return 1;
}

/*
 *----------------------------------------------------------------------
 * Typed pointers --
 *	To C from a typed pointer, or null from any false value.  A pointer
 *	to constant bytes ("const void *", "const unsigned char *") that is
 *	not stored for good (no BQ_QUAL_OWNED: an argument) also takes a
 *	Perl byte string: its bytes, lent as a "const char *" is.  From C,
 *	the scalar becomes a typed pointer of the type.
 *----------------------------------------------------------------------
 */

/* Whether target, a pointer type, points to constant bytes.  The
 * compilers mark the constant pointee inside the pointer (^rv) or in
 * front of it (r^v, whose 'r' is among the qualifiers). */
static int
TakesBytes(const char *target, unsigned qualifiers)
{
    const char *pointee = target + 1;
    if (!(qualifiers & BQ_QUAL_CONST)
	    && !(BqTypeSpec_GetTypeQualifiers(pointee) & BQ_QUAL_CONST)) {
	return 0;
    }
    char code = *BqTypeSpec_SkipTypeQualifiers(pointee);
    return code == 'v' || code == 'c' || code == 'C';
}

/* Stores the bytes of a string (its get-magic has run).  A string of
 * characters is made bytes again, which fails for characters beyond
 * Latin-1: bytes are wanted, so their UTF-8 encoding would be a guess. */
static int
BytesToC(pTHX_ SV *sv, void *cstorage, Tcl_DString *errors)
{
    char *bytes;
    if (SvUTF8(sv)) {
	STRLEN length;
	const char *text = SvPV_nomg_const(sv, length);
	SV *copy = sv_2mortal(newSVpvn_flags(text, length, SVf_UTF8));
	if (!sv_utf8_downgrade(copy, TRUE)) {
	    BqTcl_DStringApp(errors, "Wide character in byte string", (char *) NULL);
	    return 1;
	}
	bytes = SvPVX(copy);
    } else {
	bytes = LentBytes(aTHX_ sv, 0);
    }
    memcpy(cstorage, &bytes, sizeof bytes);
    return 0;
}

static int
PointerToC(pTHX_ SV *sv, const char *target, const char *targetEnd, void *cstorage,
	unsigned qualifiers, Tcl_DString *errors)
{
    SvGETMAGIC(sv);
    if (SvOK(sv) && !SvROK(sv) && !(qualifiers & BQ_QUAL_OWNED)
	    && TakesBytes(target, qualifiers)) {
	return BytesToC(aTHX_ sv, cstorage, errors);
    }
    const char *pointerType = "^v";
    void *address = NULL;
    if ((SvROK(sv) || SvTRUE_nomg(sv))
	    && VantlePriv_SVGetPointer(sv, &pointerType, &address, errors)) {
	return 1;
    }
    StoreAddress(aTHX_ pointerType, address, target, targetEnd, cstorage);
    return 0;
}

/*
 *----------------------------------------------------------------------
 * Arrays --
 *	"[n t]" as a reference to a Perl array of n elements, element i at
 *	i times t's size rounded up to its alignment.  The element type is
 *	looked up once per array.
 *----------------------------------------------------------------------
 */
typedef struct ArrayType {
    int count;
    const char *elementType;
    size_t stride;
} ArrayType;

/* Reads a well-formed array type (the walkers have accepted it). */
static void
ReadArrayType(const char *type, ArrayType *array)
{
    const char *p = type + 1;
    long long count = 0;
    while (*p >= '0' && *p <= '9') {
	count = count * 10 + (*p++ - '0');
    }
    BqTypeLayout element;
    BqTypeSpec_ScanType(p, &element, NULL);
    array->count = (int) count;
    array->elementType = p;
    array->stride = (size_t) ((element.size + element.align - 1) / element.align * element.align);
}

static int
ArrayToC(pTHX_ CTypeTable *table, SV *sv, const char *type, void *cstorage, int flag,
	unsigned qualifiers, Tcl_DString *errors)
{
    ArrayType array;
    ReadArrayType(type, &array);
    SvGETMAGIC(sv);
    if (!SvROK(sv) || SvTYPE(SvRV(sv)) != SVt_PVAV) {
	BqTcl_DStringApp(errors, "perl type is not an array reference", (char *) NULL);
	return 1;
    }
    AV *av = (AV *) SvRV(sv);
    SSize_t length = av_count(av);
    if (length != array.count) {
	warn("bad array size %ld (expected %d)", (long) length, array.count);
    }
    SSize_t n = length < array.count ? length : array.count;
    unsigned elementQualifiers = ElementQualifiersToC(qualifiers);
    BqOsmoCTypeConversion element;
    BqOsmo_ResolveCType(table, array.elementType, &element);
    for (SSize_t i = 0; i < n; i++) {
	/* Holes of a sparse array are not created, and their elements are
	 * left as they are. */
	SV **slot = av_fetch(av, i, 0);
	if (slot != NULL && BqOsmo_ConvertResolved(1, NULL, errors, &element, *slot,
		(char *) cstorage + (size_t) i * array.stride, flag, elementQualifiers)) {
	    return 1;
	}
    }
    return 0;
}

static int
ArrayFromC(pTHX_ CTypeTable *table, SV *sv, const char *type, void *cstorage, int flag,
	unsigned qualifiers, Tcl_DString *errors)
{
    ArrayType array;
    ReadArrayType(type, &array);
    /* Mortal until it is handed over: a failure, or a Perl error inside
     * a conversion, frees it with its elements. */
    AV *av = (AV *) sv_2mortal((SV *) newAV());
    unsigned elementQualifiers = ElementQualifiersFromC(qualifiers);
    BqOsmoCTypeConversion conversion;
    BqOsmo_ResolveCType(table, array.elementType, &conversion);
    for (int i = 0; i < array.count; i++) {
	SV *element = newSV(0);
	av_store(av, i, element);
	if (BqOsmo_ConvertResolved(0, NULL, errors, &conversion, element,
		(char *) cstorage + (size_t) i * array.stride, flag, elementQualifiers)) {
	    return 1;
	}
    }
    sv_setrv_inc(sv, (SV *) av);
    return 0;
}

/*
 *----------------------------------------------------------------------
 * Structures --
 *	A hash reference with one entry per member, and "__signature": the
 *	member encodings between '=' and the closing brace.  A member is
 *	keyed by its name: the element name its encoding gives it, else (to
 *	C) the one at its place in the hash's own "__signature", else the
 *	name Foundation's headers give it, for the structures whose method
 *	encodings carry no names; a member without a name is keyed
 *	"_<index>".  To C, a named member may also be given as "_<index>",
 *	but not both ways; every member must be given and no other key may
 *	be, which is checked before anything is stored.
 *----------------------------------------------------------------------
 */

/*
 * Foundation's structures that cross with names although the method
 * encodings of this runtime leave their members unnamed ({_NSRange=QQ}):
 * the names their headers, and the runtime's own instance variable
 * encodings, give them.
 */
typedef struct KnownStructure {
    const char *tag;
    const char *names[2];
} KnownStructure;

static const KnownStructure knownStructures[] = {
    { "_NSRange", { "location", "length" } },
    { "_NSPoint", { "x", "y" } },
    { "_NSSize", { "width", "height" } },
    { "_NSRect", { "origin", "size" } },
};

/* The structure's tag (not NUL-terminated) and its length, 0 for none
 * or the anonymous tag '?'. */
static size_t
StructTag(const char *type, const char **tagPtr)
{
    const char *tag = BqTypeSpec_SkipTypeQualifiers(type) + 1;
    size_t length = strcspn(tag, "=}");
    *tagPtr = tag;
    return length == 1 && *tag == '?' ? 0 : length;
}

/* The known structure of that tag with as many members, or null. */
static const KnownStructure *
KnownStructureOf(const char *type)
{
    const char *tag;
    size_t length = StructTag(type, &tag);
    for (const KnownStructure &known : knownStructures) {
	if (strlen(known.tag) != length || memcmp(known.tag, tag, length) != 0) {
	    continue;
	}
	BqTypeMember member;
	int count = 0;
	for (int status = BqTypeSpec_FirstMember(type, &member); status == 1;
		status = BqTypeSpec_NextMember(&member)) {
	    count++;
	}
	return count == 2 ? &known : NULL;
    }
    return NULL;
}

/* Appends "struct <tag>", or "struct " and the encoding when it has no
 * tag. */
static void
AppendStructName(Tcl_DString *errors, const char *type)
{
    const char *tag;
    size_t length = StructTag(type, &tag);
    BqTcl_DStringApp(errors, "struct ", (char *) NULL);
    if (length > 0) {
	AppendText(errors, tag, (int) length);
    } else {
	AppendFirstType(errors, type);
    }
}

/* The entry of key in hv, or null.  A tied hash answers a value for any
 * key it is asked to fetch, so it is asked whether the key exists. */
static SV **
FetchKey(pTHX_ HV *hv, const char *key, int length)
{
    I32 keyLength = KeyLength(key, length);
    if (SvRMAGICAL(hv) && !hv_exists(hv, key, keyLength)) {
	return NULL;
    }
    return hv_fetch(hv, key, keyLength, 0);
}

/*
 * Where the members of one structure conversion find the names they are
 * keyed by besides their own: Foundation's headers, and the hash's
 * "__signature".  Made once per conversion, so that every walk over the
 * members names them alike.
 */
typedef struct MemberNames {
    const KnownStructure *known;
    const char *lent;		/* "{?=<__signature>}", a mortal copy, or null */
    int hasSignatureKey;	/* the hash has a "__signature" entry */
} MemberNames;

/* The names for type; hv, when given, lends those of its "__signature". */
static void
PrepareMemberNames(pTHX_ const char *type, HV *hv, MemberNames *names)
{
    names->known = KnownStructureOf(type);
    names->lent = NULL;
    SV **slot = hv != NULL ? FetchKey(aTHX_ hv, "__signature", sizeof "__signature" - 1) : NULL;
    names->hasSignatureKey = slot != NULL;
    if (slot == NULL) {
	return;
    }
    SvGETMAGIC(*slot);
    if (SvOK(*slot)) {
	SV *wrapped = sv_2mortal(newSVpvs("{?="));
	sv_catsv_nomg(wrapped, *slot);
	sv_catpvs(wrapped, "}");
	names->lent = SvPV_nolen(wrapped);
    }
}

/*
 * A walk over a structure's members with the keys they have in a hash:
 * the member's name (null when it has none) and "_<index>".
 */
typedef struct MemberKey {
    BqTypeMember member;
    const char *name;		/* not NUL-terminated */
    int nameLength;
    char index[16];
    int indexLength;
    BqTypeMember lent;		/* the same member in "__signature" */
    int lentStatus;		/* 1 while "__signature" has it */
    const KnownStructure *known;
} MemberKey;

/* Writes "_<index>" (a member's index, not negative) into key. */
static void
FormatIndexKey(MemberKey *key)
{
    char digits[12];
    int count = 0;
    unsigned value = (unsigned) key->member.index;
    do {
	digits[count++] = (char) ('0' + value % 10);
	value /= 10;
    } while (value != 0);
    key->index[0] = '_';
    for (int i = 0; i < count; i++) {
	key->index[i + 1] = digits[count - 1 - i];
    }
    key->index[count + 1] = '\0';
    key->indexLength = count + 1;
}

static int
NameMember(int status, MemberKey *key)
{
    if (status != 1) {
	return status;
    }
    key->name = key->member.name;
    key->nameLength = key->member.nameLength;
    if (key->nameLength == 0 && key->lentStatus == 1 && key->lent.nameLength > 0) {
	key->name = key->lent.name;
	key->nameLength = key->lent.nameLength;
    }
    if (key->nameLength == 0 && key->known != NULL && key->member.index < 2) {
	key->name = key->known->names[key->member.index];
	key->nameLength = (int) strlen(key->name);
    }
    if (key->nameLength == 0) {
	key->name = NULL;
    }
    FormatIndexKey(key);
    return 1;
}

/* Starts the walk over type's members, named by names.  Answers as
 * BqTypeSpec_FirstMember. */
static int
FirstMemberKey(const char *type, const MemberNames *names, MemberKey *key)
{
    key->lentStatus = names->lent != NULL ? BqTypeSpec_FirstMember(names->lent, &key->lent) : -1;
    key->known = names->known;
    return NameMember(BqTypeSpec_FirstMember(type, &key->member), key);
}

static int
NextMemberKey(MemberKey *key)
{
    if (key->lentStatus == 1) {
	key->lentStatus = BqTypeSpec_NextMember(&key->lent);
    }
    return NameMember(BqTypeSpec_NextMember(&key->member), key);
}

/* The member's entry, by name or else by index, or null. */
static SV **
FetchMember(pTHX_ HV *hv, const MemberKey *key)
{
    SV **slot = key->name != NULL ? FetchKey(aTHX_ hv, key->name, key->nameLength) : NULL;
    return slot != NULL ? slot : FetchKey(aTHX_ hv, key->index, key->indexLength);
}

/* Appends " (while converting member \"<key>\" of struct <tag>)". */
static void
AppendMemberContext(Tcl_DString *errors, const char *type, const MemberKey *key)
{
    BqTcl_DStringApp(errors, " (while converting member \"", (char *) NULL);
    AppendText(errors, key->name != NULL ? key->name : key->index,
	    key->name != NULL ? key->nameLength : key->indexLength);
    BqTcl_DStringApp(errors, "\" of ", (char *) NULL);
    AppendStructName(errors, type);
    BqTcl_DStringApp(errors, ")", (char *) NULL);
}

/* Whether a hash key names one of type's members or is "__signature". */
static int
IsMemberKey(const char *type, const MemberNames *names, const char *text, STRLEN length)
{
    if (length == sizeof "__signature" - 1 && memcmp(text, "__signature", length) == 0) {
	return 1;
    }
    MemberKey key;
    for (int status = FirstMemberKey(type, names, &key); status == 1;
	    status = NextMemberKey(&key)) {
	if ((key.name != NULL && (STRLEN) key.nameLength == length
		&& memcmp(key.name, text, length) == 0)
		|| ((STRLEN) key.indexLength == length && memcmp(key.index, text, length) == 0)) {
	    return 1;
	}
    }
    return 0;
}

/*
 * Checks a hash for a structure before anything is stored: each member
 * is given once, by name or by index, and nothing else is.  A plain
 * hash holding exactly as many keys as were matched holds no others;
 * a tied one is walked.
 */
static int
CheckMemberKeys(pTHX_ const char *type, HV *hv, const MemberNames *names, Tcl_DString *errors)
{
    MemberKey key;
    IV matched = names->hasSignatureKey;
    for (int status = FirstMemberKey(type, names, &key); status == 1;
	    status = NextMemberKey(&key)) {
	SV **byName = key.name != NULL ? FetchKey(aTHX_ hv, key.name, key.nameLength) : NULL;
	SV **byIndex = FetchKey(aTHX_ hv, key.index, key.indexLength);
	if (byName != NULL && byIndex != NULL) {
	    BqTcl_DStringApp(errors, "member \"", (char *) NULL);
	    AppendText(errors, key.name, key.nameLength);
	    BqTcl_DStringApp(errors, "\" of ", (char *) NULL);
	    AppendStructName(errors, type);
	    BqTcl_DStringApp(errors, " given twice, also as \"", key.index, "\"", (char *) NULL);
	    return 1;
	}
	if (byName == NULL && byIndex == NULL) {
	    BqTcl_DStringApp(errors, "missing member \"", (char *) NULL);
	    if (key.name != NULL) {
		AppendText(errors, key.name, key.nameLength);
		BqTcl_DStringApp(errors, "\" (or \"", (char *) NULL);
	    }
	    BqTcl_DStringApp(errors, key.index, key.name != NULL ? "\")" : "\"", " of ",
		    (char *) NULL);
	    AppendStructName(errors, type);
	    return 1;
	}
	matched++;
    }
    if (!SvRMAGICAL(hv) && (IV) HvUSEDKEYS(hv) == matched) {
	return 0;
    }
    hv_iterinit(hv);
    for (HE *entry = hv_iternext(hv); entry != NULL; entry = hv_iternext(hv)) {
	SV *name = hv_iterkeysv(entry);
	STRLEN length;
	const char *text = SvPV_const(name, length);
	if (!IsMemberKey(type, names, text, length)) {
	    BqTcl_DStringApp(errors, "unknown member \"", (char *) NULL);
	    AppendText(errors, text, (int) length);
	    BqTcl_DStringApp(errors, "\" of ", (char *) NULL);
	    AppendStructName(errors, type);
	    return 1;
	}
    }
    return 0;
}

static int
StructToC(pTHX_ CTypeTable *table, SV *sv, const char *type, void *cstorage, int flag,
	unsigned qualifiers, Tcl_DString *errors)
{
    SvGETMAGIC(sv);
    if (!SvROK(sv) || SvTYPE(SvRV(sv)) != SVt_PVHV) {
	BqTcl_DStringApp(errors, "perl type is not a hash reference", (char *) NULL);
	return 1;
    }
    HV *hv = (HV *) SvRV(sv);
    MemberNames names;
    PrepareMemberNames(aTHX_ type, hv, &names);
    if (CheckMemberKeys(aTHX_ type, hv, &names, errors)) {
	return 1;
    }
    unsigned memberQualifiers = ElementQualifiersToC(qualifiers);
    MemberKey key;
    for (int status = FirstMemberKey(type, &names, &key); status == 1;
	    status = NextMemberKey(&key)) {
	/* Perl code run for an earlier member may have taken this one. */
	SV **slot = FetchMember(aTHX_ hv, &key);
	if (slot == NULL) {
	    BqTcl_DStringApp(errors, "member removed from the hash", (char *) NULL);
	    AppendMemberContext(errors, type, &key);
	    return 1;
	}
	if (BqOsmo_I2C(NULL, errors, table, *slot, (char *) cstorage + key.member.offset,
		flag, key.member.type, memberQualifiers)) {
	    AppendMemberContext(errors, type, &key);
	    return 1;
	}
    }
    return 0;
}

static int
StructFromC(pTHX_ CTypeTable *table, SV *sv, const char *type, const char *typeEnd,
	void *cstorage, int flag, unsigned qualifiers, Tcl_DString *errors)
{
    HV *hv = (HV *) sv_2mortal((SV *) newHV());
    const char *members = type + 1;
    while (*members != '=' && *members != '}') {
	members++;
    }
    if (*members == '=') {
	members++;
    }
    /* typeEnd is just after the closing brace. */
    (void) hv_stores(hv, "__signature", newSVpvn(members, (STRLEN) (typeEnd - 1 - members)));
    unsigned memberQualifiers = ElementQualifiersFromC(qualifiers);
    MemberNames names;
    PrepareMemberNames(aTHX_ type, NULL, &names);
    MemberKey key;
    for (int status = FirstMemberKey(type, &names, &key); status == 1;
	    status = NextMemberKey(&key)) {
	const char *text = key.name != NULL ? key.name : key.index;
	int length = key.name != NULL ? key.nameLength : key.indexLength;
	SV *value = newSV(0);
	(void) hv_store(hv, text, KeyLength(text, length), value, 0);
	if (BqOsmo_C2I(NULL, errors, table, value, (char *) cstorage + key.member.offset, flag,
		key.member.type, memberQualifiers)) {
	    BqTcl_DStringApp(errors, " (while converting element \"", (char *) NULL);
	    AppendText(errors, text, length);
	    BqTcl_DStringApp(errors, "\")", (char *) NULL);
	    return 1;
	}
    }
    sv_setrv_inc(sv, (SV *) hv);
    return 0;
}

/*
 *----------------------------------------------------------------------
 * AggregateToC --
 *	Converts an array or a structure.  The strings of storage that is
 *	only lent its values (no BQ_QUAL_OWNED: a message argument, a
 *	stream's buffer) are Perl temporaries, like those of a "char *"
 *	argument: they live until the caller's statement is done, and a
 *	Perl error anywhere in the send (a later argument's FETCH that dies)
 *	frees them with every other temporary.  Storage that owns its
 *	strings (an instance variable, a pointer's target) gets copies it
 *	frees itself, and keeps what was stored when a conversion fails.
 *----------------------------------------------------------------------
 */
static int
AggregateToC(pTHX_ CTypeTable *table, SV *sv, const char *type, void *cstorage, int flag,
	unsigned qualifiers, Tcl_DString *errors)
{
    return type[0] == '['
	? ArrayToC(aTHX_ table, sv, type, cstorage, flag, qualifiers, errors)
	: StructToC(aTHX_ table, sv, type, cstorage, flag, qualifiers, errors);
}

/*
 *----------------------------------------------------------------------
 * DefaultToC, DefaultFromC --
 *	The table's converters for types without one of their own, by the
 *	first character: '@' an object with its class name checked, '^' a
 *	typed pointer, '[' an array, '{' a structure.  A malformed type,
 *	and any other kind, cannot be converted.
 *----------------------------------------------------------------------
 */
static int
DefaultToC(void *, Tcl_DString *errors, CTypeTable *table, void *ivalue, void *cstorage,
	int flag, const char *type, CTypeEntry *, unsigned qualifiers)
{
    BQCPERL_dTHX;
    SV *sv = SourceScalar(aTHX_ ivalue);
    if (type == NULL || *type == '\0') {
	type = "^v";
    }
    const char *end = BqTypeSpec_ScanType(type, NULL, NULL);
    if (end == NULL) {
	return CannotConvert(errors, "to", type);
    }
    switch (type[0]) {
    case '@':
	return StoreObject(aTHX_ sv, type, cstorage, errors);
    case '^':
	return PointerToC(aTHX_ sv, type, end, cstorage, qualifiers, errors);
    case '{': {
	const char *named = VantlePriv_RememberedStructure(type, end, &end);
	return StructToC(aTHX_ table, sv, named != NULL ? named : type, cstorage, flag,
		qualifiers, errors);
    }
    case '[':
	return AggregateToC(aTHX_ table, sv, type, cstorage, flag, qualifiers, errors);
    default:
	return CannotConvert(errors, "to", type);
    }
}

static int
DefaultFromC(void *, Tcl_DString *errors, CTypeTable *table, void *ivalue, void *cstorage,
	int flag, const char *type, CTypeEntry *, unsigned qualifiers)
{
    if (MissingTarget(ivalue, errors)) {
	return 1;
    }
    BQCPERL_dTHX;
    SV *sv = (SV *) ivalue;
    if (type == NULL || *type == '\0') {
	type = "^v";
    }
    const char *end = BqTypeSpec_ScanType(type, NULL, NULL);
    if (end == NULL) {
	return CannotConvert(errors, "from", type);
    }
    switch (type[0]) {
    case '@':
	return LoadObject(aTHX_ sv, type, cstorage, errors);
    case '^': {
	void *address;
	memcpy(&address, cstorage, sizeof address);
	VantlePriv_SVNewPointer(sv, type, address);
	return 0;
    }
    case '[':
	return ArrayFromC(aTHX_ table, sv, type, cstorage, flag, qualifiers, errors);
    case '{': {
	const char *named = VantlePriv_RememberedStructure(type, end, &end);
	return StructFromC(aTHX_ table, sv, named != NULL ? named : type, end, cstorage, flag,
		qualifiers, errors);
    }
    default:
	return CannotConvert(errors, "from", type);
    }
}

/*
 * The named types, in registration order: the first registration of an
 * encoding fixes its name, the first of a name its encoding.  Entries
 * without converters use the table's defaults.
 */
typedef struct Registration {
    const char *type;
    const char *name;
    BqOsmo_EntryConverter toC;
    BqOsmo_EntryConverter fromC;
} Registration;

#define INTEGER IntegerToC, IntegerFromC
#define FLOATING FloatingToC, FloatingFromC
#define STRING StringToC, StringFromC
#define DEFAULT NULL, NULL

static const Registration registrations[] = {
    { "@", "id", ObjectToC, ObjectFromC },
    { "#", "Class", ObjectToC, ObjectFromC },
    { ":", "SEL", SelectorToC, SelectorFromC },
    { "c", "char", INTEGER },
    { "C", "uchar", INTEGER },
    { "C", "unsigned char", INTEGER },
    { "s", "short", INTEGER },
    { "s", "short int", INTEGER },
    { "S", "ushort", INTEGER },
    { "S", "unsigned short", INTEGER },
    { "S", "unsigned short int", INTEGER },
    { "i", "int", INTEGER },
    { "I", "uint", INTEGER },
    { "I", "unsigned", INTEGER },
    { "I", "unsigned int", INTEGER },
    { "l", "long", INTEGER },
    { "l", "long int", INTEGER },
    { "L", "ulong", INTEGER },
    { "L", "unsigned long", INTEGER },
    { "L", "unsigned long int", INTEGER },
    { "q", "quad", INTEGER },
    { "q", "long long", INTEGER },
    { "q", "long long int", INTEGER },
    { "Q", "uquad", INTEGER },
    { "Q", "unsigned long long", INTEGER },
    { "Q", "unsigned long long int", INTEGER },
    { "f", "float", FLOATING },
    { "d", "double", FLOATING },
    { "*", "STR", STRING },
    { "*", "char *", STRING },
    { "%", "atom", STRING },
    { "v", "void", NothingConverter, NothingConverter },
    { "V", "oneway", NothingConverter, NothingConverter },
    { "?", "undef", RefuseToC, RefuseFromC },
    /* BOOL is whatever this compiler encodes it as. */
    { @encode(BOOL), "BOOL", INTEGER },
    { "^v", "voidPtr", DEFAULT },
    { "v", "KxTypedStream", DEFAULT },
    { "^v", "KxTypedStreamPtr", DEFAULT },
    { "^?", "unknownPtr", DEFAULT },
    { "^{?}", "unknownStructPtr", DEFAULT },
    { "^{?=^?^?^?^?}", "KxZonePtr", DEFAULT },
    { "{?=^?^?^?^?}", "KxZone", DEFAULT },
    /* C99's bool, which this compiler encodes as its own code. */
    { "B", "_Bool", INTEGER },
    { "B", "bool", INTEGER },
};

void
VantlePriv_CTypeInit(void)
{
    if (VantlePriv_CTypeTable != NULL) {
	return;
    }
    CTypeTable *table = BqOsmo_NewCTypeTable("Vantle", NULL,
	    BqOsmo_UnParseType, BqOsmo_ParseType,
	    BqOsmo_UnParseQualifiers, BqOsmo_ParseQualifiers,
	    DefaultToC, DefaultFromC, 1);
    for (size_t i = 0; i < sizeof registrations / sizeof registrations[0]; i++) {
	const Registration *r = &registrations[i];
	BqOsmo_AddCType(table, r->type, r->name, r->toC, NULL, r->fromC, NULL);
    }
    VantlePriv_CTypeTable = table;
}

/* Frees the string at storage when type is "char *", else the strings
 * inside it. */
static void
FreeStringsOf(const char *type, char *storage)
{
    const char *t = BqTypeSpec_SkipTypeQualifiers(type);
    if (*t == '*') {
	char *string;
	memcpy(&string, storage, sizeof string);
	FreeString(string);
	string = NULL;
	memcpy(storage, &string, sizeof string);
    } else {
	VantlePriv_FreeElementStrings(t, storage);
    }
}

void
VantlePriv_FreeElementStrings(const char *type, void *storage)
{
    if (type == NULL || storage == NULL) {
	return;
    }
    const char *t = BqTypeSpec_SkipTypeQualifiers(type);
    const char *end = BqTypeSpec_ScanType(t, NULL, NULL);
    if (end == NULL || (*t != '[' && *t != '{')
	    || memchr(t, '*', (size_t) (end - t)) == NULL) {
	return;
    }
    if (*t == '[') {
	ArrayType array;
	ReadArrayType(t, &array);
	for (int i = 0; i < array.count; i++) {
	    FreeStringsOf(array.elementType, (char *) storage + (size_t) i * array.stride);
	}
	return;
    }
    BqTypeMember member;
    for (int status = BqTypeSpec_FirstMember(t, &member); status == 1;
	    status = BqTypeSpec_NextMember(&member)) {
	FreeStringsOf(member.type, (char *) storage + member.offset);
    }
}
