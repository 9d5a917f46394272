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
#include "Parse.h"
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
 * bits from BQ_QUAL_OWNED up survive and strings are always copied (the
 * aggregate's storage owns them); from C, only the bits from
 * BQ_QUAL_ELEMENT up survive, and the element mark is set. */
static inline unsigned
ElementQualifiersToC(unsigned qualifiers)
{
    return (qualifiers & ~(unsigned) (BQ_QUAL_OWNED - 1)) | BQ_QUAL_OWNED;
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
    if (IsSignedCode(code)) {
	sv_setiv(sv, (IV) (int64_t) value);
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
 * Strings and atoms --
 *	A "char *" receives the bytes as Perl holds them: the scalar's own
 *	buffer, or with BQ_QUAL_OWNED a copy from the default malloc zone
 *	that replaces (and frees) the string the storage held.  An atom
 *	('%') is the unique copy of the text; unique copies live forever,
 *	so atoms are never freed.  Undef is the null pointer both ways.
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
    char *stored = NULL;
    if (SvOK(sv)) {
	STRLEN length;
	const char *text = SvPV_nomg_const(sv, length);
	if (code == '%') {
	    stored = (char *) KxUniqueString(text);
	} else if (owned) {
	    stored = CopyBytes(text, length, errors);
	    if (stored == NULL) {
		return 1;
	    }
	} else {
	    stored = (char *) text;
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

static int
StoreObject(pTHX_ SV *sv, const char *type, void *cstorage, Tcl_DString *errors)
{
    /* Converting Perl data by value makes Foundation objects, never a
     * class: a class is taken from a handle or a class name. */
    char failed = 0;
    id object = VantlePriv_PerlAutoConvert && type[0] != '#'
	? Vantle_ObjectForSV(sv, errors, &failed) : Vantle_SVGetObject2(sv, errors, &failed);
    if (failed) {
	BqTcl_DStringApp(errors, " (while converting to id)", (char *) NULL);
	return 1;
    }
    if (object != nil && BQ_CONTROL(runtime_type_check) && NamesClass(type)
	    && BqOsmo_CheckObjectType(object, type, "itypecheck: ",
		Glisk_RegisterObject(object), errors)) {
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
	    && BqOsmo_CheckObjectType(object, type, "ctypecheck: ",
		Glisk_RegisterObject(object), errors)) {
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
 *	whose type does not fit the target is stored all the same, with a
 *	warning.  From C, the scalar becomes a typed pointer of the type.
 *----------------------------------------------------------------------
 */
static int
PointerToC(pTHX_ SV *sv, const char *target, const char *targetEnd, void *cstorage,
	Tcl_DString *errors)
{
    SvGETMAGIC(sv);
    const char *pointerType = "^v";
    void *address = NULL;
    if ((SvROK(sv) || SvTRUE_nomg(sv))
	    && VantlePriv_SVGetPointer(sv, &pointerType, &address, errors)) {
	return 1;
    }
    /* The pointer's type is one complete type, so the comparison ends
     * with it and whatever follows the target's first type is ignored. */
    if (address != NULL && !BqTypeSpec_CompatiblePtrTypes(pointerType, target)) {
	warn("assigning pointer type \"%s\" to \"%.*s\"", pointerType,
		(int) (targetEnd - target), target);
    }
    memcpy(cstorage, &address, sizeof address);
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
 *	A hash reference with one entry per member, keyed by the member's
 *	element name or by "_<index>", and "__signature": the member
 *	encodings between '=' and the closing brace.  To C, "__signature"
 *	lends its element names to members the type leaves unnamed; a
 *	member the hash lacks is warned about and left as it is.
 *----------------------------------------------------------------------
 */

/* Starts a walk over the members of the hash's "__signature", or
 * answers -1 when it has none.  The text walked is a mortal copy. */
static int
FirstSignatureMember(pTHX_ HV *hv, BqTypeMember *member)
{
    SV **slot = hv_fetchs(hv, "__signature", 0);
    if (slot == NULL) {
	return -1;
    }
    SvGETMAGIC(*slot);
    if (!SvOK(*slot)) {
	return -1;
    }
    SV *wrapped = sv_2mortal(newSVpvs("{?="));
    sv_catsv_nomg(wrapped, *slot);
    sv_catpvs(wrapped, "}");
    return BqTypeSpec_FirstMember(SvPV_nolen(wrapped), member);
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
    BqTypeMember signature;
    int signatureStatus = FirstSignatureMember(aTHX_ hv, &signature);
    unsigned memberQualifiers = ElementQualifiersToC(qualifiers);
    BqTypeMember member;
    for (int status = BqTypeSpec_FirstMember(type, &member); status == 1;
	    status = BqTypeSpec_NextMember(&member)) {
	const char *name = member.name;
	int nameLength = member.nameLength;
	if (nameLength == 0 && signatureStatus == 1 && signature.nameLength > 0) {
	    name = signature.name;
	    nameLength = signature.nameLength;
	}
	char indexKey[32];
	int indexLength = snprintf(indexKey, sizeof indexKey, "_%d", member.index);
	SV **slot = NULL;
	if (nameLength > 0) {
	    slot = hv_fetch(hv, name, KeyLength(name, nameLength), 0);
	}
	if (slot == NULL) {
	    slot = hv_fetch(hv, indexKey, indexLength, 0);
	}
	if (slot == NULL) {
	    if (nameLength > 0) {
		warn("no element \"%.*s\" in hash", nameLength, name);
	    } else {
		warn("no element \"%s\" in hash", indexKey);
	    }
	} else if (BqOsmo_I2C(NULL, errors, table, *slot, (char *) cstorage + member.offset,
		flag, member.type, memberQualifiers)) {
	    return 1;
	}
	if (signatureStatus == 1) {
	    signatureStatus = BqTypeSpec_NextMember(&signature);
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
    BqTypeMember member;
    for (int status = BqTypeSpec_FirstMember(type, &member); status == 1;
	    status = BqTypeSpec_NextMember(&member)) {
	char indexKey[32];
	const char *key = member.name;
	I32 keyLength = KeyLength(member.name, member.nameLength);
	if (member.nameLength == 0) {
	    keyLength = snprintf(indexKey, sizeof indexKey, "_%d", member.index);
	    key = indexKey;
	}
	SV *value = newSV(0);
	(void) hv_store(hv, key, keyLength, value, 0);
	if (BqOsmo_C2I(NULL, errors, table, value, (char *) cstorage + member.offset, flag,
		member.type, memberQualifiers)) {
	    if (errors != NULL) {
		Tcl_DStringAppend(errors, " (while converting element \"", -1);
		Tcl_DStringAppend(errors, key, keyLength < 0 ? -keyLength : keyLength);
		Tcl_DStringAppend(errors, "\")", 2);
	    }
	    return 1;
	}
    }
    sv_setrv_inc(sv, (SV *) hv);
    return 0;
}

/*
 *----------------------------------------------------------------------
 * AggregateToC --
 *	Converts an array or a structure.  Storage converted into without
 *	BQ_QUAL_OWNED (a message argument, a stream's buffer) is released
 *	by the caller once it is done with it, which a Perl error escaping
 *	from the conversion (a tied element's FETCH that dies) would skip:
 *	so the strings copied until then are freed again, from a scope of
 *	the conversion's own, when it ends by a Perl error.  A conversion
 *	that returns, having succeeded or failed, leaves them to its
 *	caller.  Storage that owns its strings (an instance variable, a
 *	pointer's target) keeps what was stored, as it does for a failure.
 *----------------------------------------------------------------------
 */
typedef struct UnfinishedAggregate {
    const char *type;
    void *storage;
    int finished;
} UnfinishedAggregate;

static void
FreeUnfinishedAggregate(pTHX_ void *data)
{
    PERL_UNUSED_CONTEXT;
    UnfinishedAggregate *aggregate = (UnfinishedAggregate *) data;
    if (!aggregate->finished) {
	VantlePriv_FreeElementStrings(aggregate->type, aggregate->storage);
    }
}

static int
AggregateToC(pTHX_ CTypeTable *table, SV *sv, const char *type, const char *end,
	void *cstorage, int flag, unsigned qualifiers, Tcl_DString *errors)
{
    int (*convert)(pTHX_ CTypeTable *, SV *, const char *, void *, int, unsigned,
	    Tcl_DString *) = type[0] == '[' ? ArrayToC : StructToC;
    if ((qualifiers & BQ_QUAL_OWNED) || memchr(type, '*', (size_t) (end - type)) == NULL) {
	return convert(aTHX_ table, sv, type, cstorage, flag, qualifiers, errors);
    }
    /* The record lives in this frame: Perl unwinds its save stack before
     * it leaves the frames of the code that died. */
    UnfinishedAggregate aggregate = { type, cstorage, 0 };
    ENTER;
    SAVEDESTRUCTOR_X(FreeUnfinishedAggregate, &aggregate);
    int failed = convert(aTHX_ table, sv, type, cstorage, flag, qualifiers, errors);
    aggregate.finished = 1;
    LEAVE;
    return failed;
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
	return PointerToC(aTHX_ sv, type, end, cstorage, errors);
    case '[': case '{':
	return AggregateToC(aTHX_ table, sv, type, end, cstorage, flag, qualifiers, errors);
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
    case '{':
	return StructFromC(aTHX_ table, sv, type, end, cstorage, flag, qualifiers, errors);
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

/* The message send's release procedure: an aggregate argument converted
 * to C holds copies of its strings. */
static void
ReleaseArgument(CTypeTable *, const char *type, void *storage)
{
    VantlePriv_FreeElementStrings(type, storage);
}

void
VantlePriv_CTypeInit(void)
{
    if (VantlePriv_CTypeTable != NULL) {
	return;
    }
    CTypeTable *table = BqOsmo_NewCTypeTable("Vantle", NULL,
	    VantlePriv_UnParseType, VantlePriv_ParseType,
	    VantlePriv_UnParseQualifiers, VantlePriv_ParseQualifiers,
	    DefaultToC, DefaultFromC, 1);
    for (size_t i = 0; i < sizeof registrations / sizeof registrations[0]; i++) {
	const Registration *r = &registrations[i];
	BqOsmo_AddCType(table, r->type, r->name, r->toC, NULL, r->fromC, NULL);
    }
    table->releaseArgument = ReleaseArgument;
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
