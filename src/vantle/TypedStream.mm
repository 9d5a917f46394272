/*
 * TypedStream.mm --
 *
 *	The package Vantle::TypedStream: the platform's typed streams from
 *	Perl.  A stream reaches Perl as a typed pointer of the type named
 *	"KxTypedStreamPtr", a zone as one of the type named "KxZonePtr".
 *
 *	Only streams this package opened and has not closed are accepted,
 *	and only zones it handed out (or the default zone): a typed pointer
 *	is any address a Perl program cares to make, and the platform would
 *	take a made-up one as a stream.  What this package made carries
 *	magic on the pointer's address element, which every copy of the
 *	reference shares: a stream's magic owns the stream, so when the
 *	last copy goes the stream is closed and freed (a write stream writes
 *	its file first), and a typed pointer without the magic, or whose
 *	magic names another address, is no stream.  Closing a stream nulls
 *	the typed pointer, so every copy of it croaks "NULL stream"
 *	afterwards.  The package keeps no state of its own: everything it
 *	knows lives on the Perl values, so each interpreter has its own,
 *	and a thread's copy of a stream value (made when a Perl thread
 *	starts) owns nothing and is refused.
 *
 *	Every platform call runs under the platform guard.  Typed-stream
 *	errors croak "<sub>: exception <NAME>" followed by the platform's
 *	text in parentheses; any other error caught croaks with its text
 *	(there is no handler beyond Perl to raise it to).  Perl values are
 *	converted before and after the guarded calls, never inside them.
 *
 *	String values (types "*") travel as their length, written with type
 *	"i" (-1 for the null pointer), then the characters and their NUL as
 *	an array of type "C".
 */
#import <Foundation/Foundation.h>

#include "TypedStream.h"
#include "VantlePriv.h"
#include "PerlCTypes.h"
#include "PerlPointer.h"
#include "ErrorText.h"
#include "KxTypedStream.h"
#include "TypeEncoding.h"

#include <string.h>

/* Longest string a stream may hand back, as the platform's limit for one
 * value; a longer length read from a file is damage. */
#define MAX_STRING_LENGTH ((1 << 30) - 1)

static int StreamMagicFree(pTHX_ SV *sv, MAGIC *mg);
static int StreamMagicDup(pTHX_ MAGIC *mg, CLONE_PARAMS *param);

/* Magic on the address element of the typed pointers this package made:
 * a stream's owns the stream (mg_ptr, null once closed); a zone's only
 * vouches for the address (mg_ptr). */
static MGVTBL streamVtable = { NULL, NULL, NULL, NULL, StreamMagicFree, NULL,
			       StreamMagicDup, NULL };
static MGVTBL zoneVtable;

/*
 *----------------------------------------------------------------------
 * StreamMagicFree --
 *	The last copy of a stream value is gone: closes the stream if it
 *	is still open.  A failure to write a write stream's file can only
 *	be warned about here.
 *----------------------------------------------------------------------
 */
static void
CloseProc(void *context)
{
    KxCloseTypedStream((KxTypedStream *) context);
}

static int
StreamMagicFree(pTHX_ SV *sv, MAGIC *mg)
{
    PERL_UNUSED_ARG(sv);
    KxTypedStream *ts = (KxTypedStream *) mg->mg_ptr;
    if (ts == NULL) {
	return 0;
    }
    mg->mg_ptr = NULL;
    BqCPerl_SetInterp(aTHX);	/* objects freed with the stream may call Perl */
    KxErrorInfo caught;
    if (KxGuard(CloseProc, ts, &caught) != 0) {
	Tcl_DString text;
	Tcl_DStringInit(&text);
	VantlePriv_AppendCaughtError(&text, &caught);
	KxErrorInfoClear(&caught);
	SV *message = sv_2mortal(newSVpvf("Vantle::TypedStream: a stream dropped without "
		"KxCloseTypedStream failed to close: %s", Tcl_DStringValue(&text)));
	Tcl_DStringFree(&text);
	warn_sv(message);
    }
    return 0;
}

/*
 * StreamMagicDup --
 *	A new thread's copy of a stream value owns no stream: the stream
 *	stays with the interpreter that opened it.
 */
static int
StreamMagicDup(pTHX_ MAGIC *mg, CLONE_PARAMS *param)
{
    PERL_UNUSED_ARG(param);
    mg->mg_ptr = NULL;
    return 0;
}

/*
 * Mark, FindMark --
 *	Put magic of vtable naming address on a typed pointer this package
 *	made; find it on a typed pointer (null when it has none).
 */
static void
Mark(pTHX_ SV *pointer, MGVTBL *vtable, void *address)
{
    MAGIC *mg = sv_magicext(VantlePriv_SVPointerAddressSV(pointer), NULL, PERL_MAGIC_ext,
	    vtable, (const char *) address, 0);
    mg->mg_flags |= MGf_DUP;
}

static MAGIC *
FindMark(pTHX_ SV *pointer, MGVTBL *vtable)
{
    SV *addressSV = VantlePriv_SVPointerAddressSV(pointer);
    return addressSV != NULL && SvMAGICAL(addressSV)
	? mg_findext(addressSV, PERL_MAGIC_ext, vtable) : NULL;
}

/* The type encoding of a C type name in the binding's table, or the
 * fallback when the table has no such name. */
static const char *
NamedType(const char *name, const char *fallback)
{
    const char *type = VantlePriv_CTypeTable != NULL
	? BqOsmo__CTypeForName(VantlePriv_CTypeTable, name) : NULL;
    return type != NULL ? type : fallback;
}

static const char *
StreamType(void)
{
    return NamedType("KxTypedStreamPtr", "^v");
}

static const char *
ZoneType(void)
{
    return NamedType("KxZonePtr", "^v");
}

/*
 *----------------------------------------------------------------------
 * CaughtFailure --
 *	The mortal message for an error caught around a platform call.
 *----------------------------------------------------------------------
 */
static SV *
CaughtFailure(pTHX_ const char *subName, KxErrorInfo *caught)
{
    const char *name = TS_getExceptionName(caught->code);
    if (name != NULL) {
	const char *text = (const char *) caught->data1;
	return sv_2mortal(text != NULL && *text != '\0'
	    ? newSVpvf("%s: exception %s (%s)", subName, name, text)
	    : newSVpvf("%s: exception %s", subName, name));
    }
    return VantlePriv_CaughtErrorMessage(aTHX_ subName, caught);
}

/*
 *----------------------------------------------------------------------
 * Platform --
 *	Runs body, platform calls only, under the guard.  Answers null, or
 *	the mortal message; *codePtr (when given) receives the caught code.
 *----------------------------------------------------------------------
 */
template <typename Body>
static SV *
Platform(pTHX_ const char *subName, int *codePtr, Body body)
{
    KxErrorInfo caught;
    int code = KxGuard(VantlePriv_RunGuardedBody<Body>, &body, &caught);
    if (codePtr != NULL) {
	*codePtr = code;
    }
    if (code == 0) {
	return NULL;
    }
    SV *failure = CaughtFailure(aTHX_ subName, &caught);
    KxErrorInfoClear(&caught);
    return failure;
}

/*
 *----------------------------------------------------------------------
 * StreamArgument --
 *	The open stream a Perl value stands for.  Answers null, or the
 *	mortal message: "%s: invalid typed stream: %s" for no typed
 *	pointer, "%s: illegal typed stream" for one of another type or
 *	that is no open stream of this package, "NULL stream" for a null
 *	one.  The value is kept alive until the caller's temporaries are
 *	freed, so Perl code run during the call cannot close it by dropping
 *	the last reference; *markPtr (when given) receives its magic.
 *----------------------------------------------------------------------
 */
static SV *
StreamArgument(pTHX_ SV *sv, const char *subName, KxTypedStream **streamPtr,
	MAGIC **markPtr = NULL)
{
    const char *type;
    void *address;
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    SvGETMAGIC(sv);
    if (VantlePriv_SVGetPointer(sv, &type, &address, &errors) != 0) {
	SV *failure = sv_2mortal(newSVpvf("%s: invalid typed stream: %s", subName,
		Tcl_DStringValue(&errors)));
	Tcl_DStringFree(&errors);
	return failure;
    }
    Tcl_DStringFree(&errors);
    if (!BqTypeSpec_CompatiblePtrTypes(StreamType(), type)) {
	return sv_2mortal(newSVpvf("%s: illegal typed stream", subName));
    }
    if (address == NULL) {
	return sv_2mortal(newSVpvs("NULL stream"));
    }
    MAGIC *mg = FindMark(aTHX_ sv, &streamVtable);
    if (mg == NULL || mg->mg_ptr != address) {
	return sv_2mortal(newSVpvf("%s: illegal typed stream", subName));
    }
    sv_2mortal(SvREFCNT_inc_simple_NN(SvRV(sv)));
    *streamPtr = (KxTypedStream *) address;
    if (markPtr != NULL) {
	*markPtr = mg;
    }
    return NULL;
}

/* The body of every sub: croaks with failure, if any. */
#define CROAK_IF(failure)		\
    STMT_START {			\
	SV *failure_ = (failure);	\
	if (failure_ != NULL) {		\
	    croak_sv(failure_);		\
	}				\
    } STMT_END

/*
 *----------------------------------------------------------------------
 * EnterStreamSub --
 *	The start of every sub whose first argument is a stream: makes the
 *	interpreter current, croaks "Usage: <sub><usage>" unless there are
 *	wanted arguments, and answers the stream of the first, or croaks
 *	as StreamArgument says (*markPtr as there).
 *----------------------------------------------------------------------
 */
static KxTypedStream *
EnterStreamSub(pTHX_ I32 ax, I32 items, I32 wanted, const char *subName, const char *usage,
	MAGIC **markPtr = NULL)
{
    BqCPerl_SetInterp(aTHX);
    if (items != wanted) {
	croak("Usage: %s%s", subName, usage);
    }
    KxTypedStream *ts = NULL;
    CROAK_IF(StreamArgument(aTHX_ ST(0), subName, &ts, markPtr));
    return ts;
}

/*
 *----------------------------------------------------------------------
 * KxOpenTypedStreamForFile(filename, mode) --
 *	A new stream on the file, for reading ("r", "KX_READONLY") or
 *	writing ("w", "KX_WRITEONLY").
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__TypedStream__KxOpenTypedStreamForFile)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    const char *subName = "Vantle::TypedStream::KxOpenTypedStreamForFile";
    if (items != 2) {
	croak("Usage: %s(filename,mode)", subName);
    }
    const char *mode = SvPV_nolen(ST(1));
    int platformMode;
    if (strcmp(mode, "r") == 0 || strcmp(mode, "KX_READONLY") == 0) {
	platformMode = KX_READONLY;
    } else if (strcmp(mode, "w") == 0 || strcmp(mode, "KX_WRITEONLY") == 0) {
	platformMode = KX_WRITEONLY;
    } else {
	croak("illegal mode");
    }
    const char *doing = platformMode == KX_READONLY ? "reading" : "writing";
    STRLEN length;
    const char *fileName = SvPV_const(ST(0), length);
    if (strlen(fileName) != length) {
	croak("cannot open file %s for %s", fileName, doing);
    }
    KxTypedStream *ts = NULL;
    CROAK_IF(Platform(aTHX_ subName, NULL, [&] {
	ts = KxOpenTypedStreamForFile(fileName, platformMode);
    }));
    if (ts == NULL) {
	croak("cannot open file %s for %s", fileName, doing);
    }
    SV *result = sv_newmortal();
    VantlePriv_SVNewPointer(result, StreamType(), ts);
    Mark(aTHX_ result, &streamVtable, ts);
    ST(0) = result;
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * KxCloseTypedStream(ts) --
 *	Closes the stream (a write stream writes its file) and nulls the
 *	typed pointer.  The platform frees the stream even when the final
 *	write fails; only a refused call (TYPEDSTREAM_CALLER_ERROR) leaves
 *	it open, and then the pointer is kept.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__TypedStream__KxCloseTypedStream)
{
    dXSARGS;
    const char *subName = "Vantle::TypedStream::KxCloseTypedStream";
    MAGIC *streamMark = NULL;
    KxTypedStream *ts = EnterStreamSub(aTHX_ ax, items, 1, subName, "(ts)", &streamMark);
    int code = 0;
    SV *failure = Platform(aTHX_ subName, &code, [&] { KxCloseTypedStream(ts); });
    if (code != TYPEDSTREAM_CALLER_ERROR) {
	streamMark->mg_ptr = NULL;
	VantlePriv_SVSetPointerValue(ST(0), NULL);
    }
    CROAK_IF(failure);
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__TypedStream__KxFlushTypedStream)
{
    dXSARGS;
    const char *subName = "Vantle::TypedStream::KxFlushTypedStream";
    KxTypedStream *ts = EnterStreamSub(aTHX_ ax, items, 1, subName, "(ts)");
    CROAK_IF(Platform(aTHX_ subName, NULL, [&] { KxFlushTypedStream(ts); }));
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * TS_ReturnInt --
 *	The whole body of a sub (ts) that answers an integer about the
 *	stream: called by the XS sub in place of its own argument handling.
 *----------------------------------------------------------------------
 */
void
TS_ReturnInt(pTHX_ CV *cv, const char *subName, int (*function)(KxTypedStream *))
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    KxTypedStream *ts = EnterStreamSub(aTHX_ ax, items, 1, subName, "(ts)");
    int value = 0;
    CROAK_IF(Platform(aTHX_ subName, NULL, [&] { value = function(ts); }));
    ST(0) = sv_2mortal(newSViv(value));
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__TypedStream__KxEndOfTypedStream)
{
    TS_ReturnInt(aTHX_ cv, "Vantle::TypedStream::KxEndOfTypedStream", KxEndOfTypedStream);
}

XS_INTERNAL(XS_Vantle__TypedStream__KxSystemVersion)
{
    TS_ReturnInt(aTHX_ cv, "Vantle::TypedStream::KxSystemVersion", KxSystemVersion);
}

XS_INTERNAL(XS_Vantle__TypedStream__KxTypedStreamClassVersion)
{
    dXSARGS;
    const char *subName = "Vantle::TypedStream::KxTypedStreamClassVersion";
    KxTypedStream *ts = EnterStreamSub(aTHX_ ax, items, 2, subName, "(ts,classname)");
    const char *className = SvPV_nolen(ST(1));
    int value = 0;
    CROAK_IF(Platform(aTHX_ subName, NULL, [&] {
	value = KxTypedStreamClassVersion(ts, className);
    }));
    ST(0) = sv_2mortal(newSViv(value));
    XSRETURN(1);
}

/* Whether a type encoding is a C string (after its qualifiers). */
static int
IsStringType(const char *type)
{
    return *BqTypeSpec_SkipTypeQualifiers(type) == '*';
}

/*
 * NewValueBuffer --
 *	Zeroed storage for one value of type, freed with the caller's
 *	temporaries (so a croak cannot leak it); big enough for a pointer
 *	whatever the type, so a type the platform will refuse still gets
 *	that far.
 */
static void *
NewValueBuffer(pTHX_ const char *type)
{
    int size = BqTypeSpec_SizeOfType(type);
    size_t bytes = (size > 0 ? (size_t) size : 0) + 67;
    char *buffer;
    Newxz(buffer, bytes, char);
    SAVEFREEPV(buffer);
    return buffer;
}

/*
 *----------------------------------------------------------------------
 * KxWriteType(ts, type, val) --
 *	Converts val by type and writes it.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__TypedStream__KxWriteType)
{
    dXSARGS;
    const char *subName = "Vantle::TypedStream::KxWriteType";
    KxTypedStream *ts = EnterStreamSub(aTHX_ ax, items, 3, subName, "(ts,type,val)");
    SV *typeSV = sv_2mortal(newSVsv(ST(1)));
    const char *type = SvPV_nolen(typeSV);
    SV *failure = NULL;
    Tcl_DString errors;
    ENTER;
    VantlePriv_EnterConversion(aTHX_ &errors);
    void *buffer = NewValueBuffer(aTHX_ type);
    if (BqOsmo_I2C(NULL, &errors, VantlePriv_CTypeTable, ST(2), buffer, 0, type, 0) != 0) {
	failure = sv_2mortal(newSVpvf("%s: %s", subName, Tcl_DStringValue(&errors)));
    } else if (IsStringType(type)) {
	const char *string = *(const char **) buffer;
	int length = string != NULL ? (int) strlen(string) : -1;
	failure = Platform(aTHX_ subName, NULL, [&] {
	    KxWriteType(ts, "i", &length);
	    if (string != NULL) {
		KxWriteArray(ts, "C", length + 1, string);
	    }
	});
    } else {
	failure = Platform(aTHX_ subName, NULL, [&] { KxWriteType(ts, type, buffer); });
    }
    /* The strings of the buffer are Perl temporaries: they go with the
     * conversion's scope, whatever happened. */
    LEAVE;
    CROAK_IF(failure);
    XSRETURN_EMPTY;
}

/*
 * ReadString --
 *	Reads a string value: its length, then its characters into storage
 *	freed with the caller's temporaries.  *stringPtr is null for the
 *	null string.  The length comes from the file: the storage is made
 *	only when it is within the stream's allocation limit, as the
 *	platform's own reads are.
 */
static SV *
ReadString(pTHX_ const char *subName, KxTypedStream *ts, char **stringPtr)
{
    int length = 0;
    SV *failure = Platform(aTHX_ subName, NULL, [&] { KxReadType(ts, "i", &length); });
    *stringPtr = NULL;
    if (failure != NULL || length < 0) {
	return failure;
    }
    if (length > MAX_STRING_LENGTH) {
	return sv_2mortal(newSVpvf("%s: exception %s (string length %d out of range)",
		subName, TS_getExceptionName(TYPEDSTREAM_FILE_INCONSISTENCY), length));
    }
    size_t limit = 0;
    failure = Platform(aTHX_ subName, NULL, [&] { limit = KxGetTypedStreamAllocationLimit(ts); });
    if (failure == NULL && (size_t) length >= limit) {
	failure = sv_2mortal(newSVpvf("%s: exception %s (out of memory: the read would allocate "
		"more than its limit of %lu bytes)", subName,
		TS_getExceptionName(TYPEDSTREAM_INTERNAL_ERROR), (unsigned long) limit));
    }
    if (failure != NULL) {
	return failure;
    }
    char *string;
    Newx(string, (size_t) length + 1, char);
    SAVEFREEPV(string);
    failure = Platform(aTHX_ subName, NULL, [&] { KxReadArray(ts, "C", length + 1, string); });
    if (failure == NULL) {
	string[length] = '\0';
	*stringPtr = string;
    }
    return failure;
}

/*
 *----------------------------------------------------------------------
 * KxReadType(ts, type) --
 *	Reads a value of type and answers it converted to Perl.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__TypedStream__KxReadType)
{
    dXSARGS;
    const char *subName = "Vantle::TypedStream::KxReadType";
    KxTypedStream *ts = EnterStreamSub(aTHX_ ax, items, 2, subName, "(ts,type)");
    SV *typeSV = sv_2mortal(newSVsv(ST(1)));
    const char *type = SvPV_nolen(typeSV);
    SV *result = sv_newmortal();
    SV *failure = NULL;
    Tcl_DString errors;
    ENTER;
    VantlePriv_EnterConversion(aTHX_ &errors);
    void *buffer = NewValueBuffer(aTHX_ type);
    if (IsStringType(type)) {
	failure = ReadString(aTHX_ subName, ts, (char **) buffer);
    } else {
	failure = Platform(aTHX_ subName, NULL, [&] { KxReadType(ts, type, buffer); });
    }
    if (failure == NULL
	    && BqOsmo_C2I(NULL, &errors, VantlePriv_CTypeTable, result, buffer, 0, type, 0)
		!= 0) {
	failure = sv_2mortal(newSVpvf("%s: %s", subName, Tcl_DStringValue(&errors)));
    }
    if (!IsStringType(type)) {
	VantlePriv_FreeElementStrings(type, buffer);
    }
    LEAVE;
    CROAK_IF(failure);
    ST(0) = result;
    XSRETURN(1);
}

typedef enum ObjectWrite {
    WritePlain,
    WriteRoot,
    WriteReference
} ObjectWrite;

/*
 *----------------------------------------------------------------------
 * WriteObject --
 *	The body of the three object writers.
 *----------------------------------------------------------------------
 */
static void
WriteObject(pTHX_ I32 ax, I32 items, const char *subName, ObjectWrite how)
{
    KxTypedStream *ts = EnterStreamSub(aTHX_ ax, items, 2, subName, "(ts,obj)");
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    char failed = 0;
    id object = Vantle_SVGetObject2(ST(1), &errors, &failed);
    if (failed) {
	SV *failure = sv_2mortal(newSVpvf("%s: %s", subName, Tcl_DStringValue(&errors)));
	Tcl_DStringFree(&errors);
	croak_sv(failure);
    }
    Tcl_DStringFree(&errors);
    CROAK_IF(Platform(aTHX_ subName, NULL, [&] {
	switch (how) {
	case WritePlain:
	    KxWriteObject(ts, object);
	    break;
	case WriteRoot:
	    KxWriteRootObject(ts, object);
	    break;
	case WriteReference:
	    KxWriteObjectReference(ts, object);
	    break;
	}
    }));
}

XS_INTERNAL(XS_Vantle__TypedStream__KxWriteObject)
{
    dXSARGS;
    WriteObject(aTHX_ ax, items, "Vantle::TypedStream::KxWriteObject", WritePlain);
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__TypedStream__KxWriteRootObject)
{
    dXSARGS;
    WriteObject(aTHX_ ax, items, "Vantle::TypedStream::KxWriteRootObject", WriteRoot);
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__TypedStream__KxWriteObjectReference)
{
    dXSARGS;
    WriteObject(aTHX_ ax, items, "Vantle::TypedStream::KxWriteObjectReference",
	    WriteReference);
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__TypedStream__KxReadObject)
{
    dXSARGS;
    const char *subName = "Vantle::TypedStream::KxReadObject";
    KxTypedStream *ts = EnterStreamSub(aTHX_ ax, items, 1, subName, "(ts)");
    id object = nil;
    CROAK_IF(Platform(aTHX_ subName, NULL, [&] { object = KxReadObject(ts); }));
    SV *result = sv_newmortal();
    Vantle_SVSetObject(result, object, NULL);
    ST(0) = result;
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * KxSetTypedStreamZone(ts, z), KxGetTypedStreamZone(ts) --
 *	The zone reading allocates from.  Only the default zone, null and
 *	values KxGetTypedStreamZone answered (or copies of them) are
 *	accepted.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__TypedStream__KxSetTypedStreamZone)
{
    dXSARGS;
    const char *subName = "Vantle::TypedStream::KxSetTypedStreamZone";
    KxTypedStream *ts = EnterStreamSub(aTHX_ ax, items, 2, subName, "(ts,z)");
    const char *type;
    void *address;
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    SvGETMAGIC(ST(1));
    if (VantlePriv_SVGetPointer(ST(1), &type, &address, &errors) != 0) {
	SV *failure = sv_2mortal(newSVpvf("%s: %s", subName, Tcl_DStringValue(&errors)));
	Tcl_DStringFree(&errors);
	croak_sv(failure);
    }
    Tcl_DStringFree(&errors);
    KxZone *zone = (KxZone *) address;
    MAGIC *zoneMark = zone != NULL && zone != KxDefaultMallocZone()
	? FindMark(aTHX_ ST(1), &zoneVtable) : NULL;
    if (!BqTypeSpec_CompatiblePtrTypes(ZoneType(), type)
	    || (zone != NULL && zone != KxDefaultMallocZone()
		&& (zoneMark == NULL || zoneMark->mg_ptr != (char *) zone))) {
	croak("%s: illegal zone", subName);
    }
    CROAK_IF(Platform(aTHX_ subName, NULL, [&] { KxSetTypedStreamZone(ts, zone); }));
    XSRETURN_EMPTY;
}

XS_INTERNAL(XS_Vantle__TypedStream__KxGetTypedStreamZone)
{
    dXSARGS;
    const char *subName = "Vantle::TypedStream::KxGetTypedStreamZone";
    KxTypedStream *ts = EnterStreamSub(aTHX_ ax, items, 1, subName, "(ts)");
    KxZone *zone = NULL;
    CROAK_IF(Platform(aTHX_ subName, NULL, [&] { zone = KxGetTypedStreamZone(ts); }));
    SV *result = sv_newmortal();
    VantlePriv_SVNewPointer(result, ZoneType(), zone);
    Mark(aTHX_ result, &zoneVtable, zone);
    ST(0) = result;
    XSRETURN(1);
}

/*
 *----------------------------------------------------------------------
 * KxSetTypedStreamAllowedClasses(ts, classes) --
 *	Limits the classes a read stream makes objects of to the names in
 *	the array reference classes; undef lifts the limit.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__TypedStream__KxSetTypedStreamAllowedClasses)
{
    dXSARGS;
    const char *subName = "Vantle::TypedStream::KxSetTypedStreamAllowedClasses";
    KxTypedStream *ts = EnterStreamSub(aTHX_ ax, items, 2, subName, "(ts,classes)");
    SV *classes = ST(1);
    SvGETMAGIC(classes);
    const char **names = NULL;
    int count = 0;
    if (SvOK(classes)) {
	if (!SvROK(classes) || SvTYPE(SvRV(classes)) != SVt_PVAV) {
	    croak("%s: the classes are not an array reference or undef", subName);
	}
	AV *av = (AV *) SvRV(classes);
	SSize_t n = av_top_index(av) + 1;
	if (n > INT_MAX) {
	    croak("%s: too many classes", subName);
	}
	Newxz(names, n > 0 ? n : 1, const char *);
	SAVEFREEPV(names);
	for (SSize_t i = 0; i < n; i++) {
	    SV **element = av_fetch(av, i, 0);
	    STRLEN length;
	    const char *name = element != NULL ? SvPV_const(*element, length) : NULL;
	    if (name == NULL || length == 0 || strlen(name) != length) {
		croak("%s: class name %ld is empty or holds a NUL byte", subName, (long) i);
	    }
	    names[i] = name;
	}
	count = (int) n;
    }
    CROAK_IF(Platform(aTHX_ subName, NULL, [&] {
	KxSetTypedStreamAllowedClasses(ts, names, count);
    }));
    XSRETURN_EMPTY;
}

/*
 *----------------------------------------------------------------------
 * KxSetTypedStreamAllocationLimit(ts, bytes) --
 *	Sets how much one read of a read stream may allocate; 0 restores
 *	the default, a number beyond the largest size sets the largest.
 *----------------------------------------------------------------------
 */
XS_INTERNAL(XS_Vantle__TypedStream__KxSetTypedStreamAllocationLimit)
{
    dXSARGS;
    const char *subName = "Vantle::TypedStream::KxSetTypedStreamAllocationLimit";
    KxTypedStream *ts = EnterStreamSub(aTHX_ ax, items, 2, subName, "(ts,bytes)");
    SV *bytes = ST(1);
    SvGETMAGIC(bytes);
    /* A number from 2^64 up (UV_MAX rounds to it) cannot be converted to
     * an integer: it stands for the largest limit. */
    NV number = SvNV_nomg(bytes);
    int huge = number >= (NV) UV_MAX;
    if (!looks_like_number(bytes) || !(number >= 0)
	    || (!huge && number != (NV) (UV) number)) {
	croak("%s: the limit is not a whole number of bytes", subName);
    }
    size_t limit = huge ? SIZE_MAX : (size_t) SvUV_nomg(bytes);
    CROAK_IF(Platform(aTHX_ subName, NULL, [&] { KxSetTypedStreamAllocationLimit(ts, limit); }));
    XSRETURN_EMPTY;
}

typedef struct StreamSub {
    const char *name;
    XSUBADDR_t fn;
} StreamSub;

static const StreamSub streamSubs[] = {
    { "Vantle::TypedStream::KxWriteType", XS_Vantle__TypedStream__KxWriteType },
    { "Vantle::TypedStream::KxWriteRootObject", XS_Vantle__TypedStream__KxWriteRootObject },
    { "Vantle::TypedStream::KxWriteObjectReference",
	XS_Vantle__TypedStream__KxWriteObjectReference },
    { "Vantle::TypedStream::KxWriteObject", XS_Vantle__TypedStream__KxWriteObject },
    { "Vantle::TypedStream::KxReadType", XS_Vantle__TypedStream__KxReadType },
    { "Vantle::TypedStream::KxReadObject", XS_Vantle__TypedStream__KxReadObject },
    { "Vantle::TypedStream::KxTypedStreamClassVersion",
	XS_Vantle__TypedStream__KxTypedStreamClassVersion },
    { "Vantle::TypedStream::KxOpenTypedStreamForFile",
	XS_Vantle__TypedStream__KxOpenTypedStreamForFile },
    { "Vantle::TypedStream::KxCloseTypedStream", XS_Vantle__TypedStream__KxCloseTypedStream },
    { "Vantle::TypedStream::KxFlushTypedStream", XS_Vantle__TypedStream__KxFlushTypedStream },
    { "Vantle::TypedStream::KxSetTypedStreamZone",
	XS_Vantle__TypedStream__KxSetTypedStreamZone },
    { "Vantle::TypedStream::KxGetTypedStreamZone",
	XS_Vantle__TypedStream__KxGetTypedStreamZone },
    { "Vantle::TypedStream::KxEndOfTypedStream", XS_Vantle__TypedStream__KxEndOfTypedStream },
    { "Vantle::TypedStream::KxSystemVersion", XS_Vantle__TypedStream__KxSystemVersion },
    { "Vantle::TypedStream::KxSetTypedStreamAllowedClasses",
	XS_Vantle__TypedStream__KxSetTypedStreamAllowedClasses },
    { "Vantle::TypedStream::KxSetTypedStreamAllocationLimit",
	XS_Vantle__TypedStream__KxSetTypedStreamAllocationLimit },
};

/*
 *----------------------------------------------------------------------
 * VantlePriv_TypedStream_Init --
 *	Registers the subs of Vantle::TypedStream in the current
 *	interpreter.
 *----------------------------------------------------------------------
 */
void
VantlePriv_TypedStream_Init(void)
{
    BQCPERL_dTHX;
    for (size_t i = 0; i < sizeof streamSubs / sizeof streamSubs[0]; i++) {
	newXS(streamSubs[i].name, streamSubs[i].fn, "TypedStream");
    }
}

/*
 *----------------------------------------------------------------------
 * boot_Vantle__TypedStream --
 *	Boot sub of Vantle::TypedStream (the module Vantle must be loaded
 *	first: the stream and zone types come from its C type table).
 *----------------------------------------------------------------------
 */
XS_EXTERNAL(boot_Vantle__TypedStream)
{
    dXSARGS;
    PERL_UNUSED_VAR(cv);
    PERL_UNUSED_VAR(items);
    BqCPerl_SetInterp(aTHX);
    VantlePriv_TypedStream_Init();
    ST(0) = &PL_sv_yes;
    XSRETURN(1);
}
