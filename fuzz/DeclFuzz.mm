/*
 * DeclFuzz.mm --
 *
 *	libFuzzer target over the Perl binding's type declarations: the
 *	normaliser, the parser (declaration to encoding) and the unparser
 *	(encoding to declaration), all through the binding's C type table.
 *	Each input is a declaration (the bytes up to the first NUL) and an
 *	encoding (the bytes after it, or the same bytes again); both are
 *	copied into blocks of exactly their size, so a read past a
 *	terminating NUL is a read past a block.
 *
 *	Beside "no crash, no over-read, no hang", the target checks, with
 *	type checks off and on:
 *	- an accepted declaration gives exactly one type that the encoding
 *	  walkers accept;
 *	- the declaration written for that encoding is accepted and gives
 *	  the same encoding again (up to "{?=}" written as "{?}");
 *	- a failure leaves a message, never an empty result.
 *	Any encoding, well-formed or not, may be unparsed.
 *
 *	No Perl interpreter is needed: declarations never reach Perl.  The
 *	library's diagnostics go to a null stream so the fuzzer runs at
 *	speed; a broken property is written to the real standard error and
 *	aborts.
 */
#import <Foundation/Foundation.h>

#include "BqOsmo.h"
#include "TypeDeclaration.h"
#include "PerlCTypes.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static FILE *realStderr;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

/* Reports a broken property with the texts involved and aborts. */
static void
Check(int holds, const char *property, const char *input, const char *detail)
{
    if (holds) {
	return;
    }
    fprintf(realStderr, "property broken: %s\ninput: \"%s\"\ndetail: \"%s\"\n", property,
	    input, detail != NULL ? detail : "");
    fflush(realStderr);
    abort();
}

int
LLVMFuzzerInitialize(int *argc, char ***argv)
{
    (void) argc;
    (void) argv;
    BqOsmo_Init();
    VantlePriv_CTypeInit();
    realStderr = fdopen(dup(2), "w");
    FILE *null = fopen("/dev/null", "w");
    if (realStderr != NULL && null != NULL) {
	stderr = null;
    } else {
	realStderr = stderr;
    }
    return 0;
}

static char *
ExactCopy(const uint8_t *data, size_t size)
{
    char *copy = (char *) malloc(size + 1);
    memcpy(copy, data, size);
    copy[size] = '\0';
    return copy;
}

static int
IsOneType(const char *text)
{
    const char *end = BqTypeSpec_ScanType(text, NULL, NULL);
    return end != NULL && *end == '\0';
}

/* Copies text with every "{?=}" (the empty unnamed structure) written
 * as "{?}", the unknown structure it is registered as. */
static void
Canonical(const char *text, Tcl_DString *out)
{
    for (const char *p = text; *p != '\0'; p++) {
	if (strncmp(p, "{?=}", 4) == 0) {
	    Tcl_DStringAppend(out, "{?}", 3);
	    p += 3;
	} else {
	    Tcl_DStringAppend(out, p, 1);
	}
    }
}

/* The same encoding, up to the type fix that makes "^{?=}" the
 * registered "^{?}" (a declaration written for one gives the other). */
static int
SameType(const char *a, const char *b)
{
    Tcl_DString canonicalA, canonicalB;
    Tcl_DStringInit(&canonicalA);
    Tcl_DStringInit(&canonicalB);
    Canonical(a, &canonicalA);
    Canonical(b, &canonicalB);
    int same = strcmp(Tcl_DStringValue(&canonicalA), Tcl_DStringValue(&canonicalB)) == 0;
    Tcl_DStringFree(&canonicalA);
    Tcl_DStringFree(&canonicalB);
    return same;
}

/* Declaration -> encoding -> declaration -> the same encoding. */
static void
ExerciseDeclaration(const char *declaration)
{
    Tcl_DString encoding, text, again;
    Tcl_DStringInit(&encoding);
    Tcl_DStringInit(&text);
    Tcl_DStringInit(&again);
    if (BqOsmo_EncodeDeclaration(VantlePriv_CTypeTable, declaration, &encoding) != 0) {
	Check(Tcl_DStringLength(&encoding) > 0, "a failure has a message", declaration, NULL);
    } else {
	const char *encoded = Tcl_DStringValue(&encoding);
	Check(IsOneType(encoded), "an encoding is one well-formed type", declaration, encoded);
	int unparsed = BqOsmo_T2N(VantlePriv_CTypeTable, encoded, &text);
	Check(unparsed == 0, "an encoding made here has a declaration", declaration,
		Tcl_DStringValue(&text));
	int parsed = BqOsmo_EncodeDeclaration(VantlePriv_CTypeTable, Tcl_DStringValue(&text), &again);
	Check(parsed == 0, "the declaration written is accepted", declaration,
		Tcl_DStringValue(&again));
	Check(SameType(Tcl_DStringValue(&again), encoded),
		"the declaration written gives the encoding again", declaration,
		Tcl_DStringValue(&again));
    }
    Tcl_DStringFree(&again);
    Tcl_DStringFree(&text);
    Tcl_DStringFree(&encoding);
}

/* Any text as a name straight to the table, without normalising. */
static void
ExerciseRawName(const char *name)
{
    Tcl_DString result;
    Tcl_DStringInit(&result);
    BqOsmo_N2T(VantlePriv_CTypeTable, name, &result);
    Tcl_DStringSetLength(&result, 0);
    BqOsmo_NormalizeDeclaration(name, &result);
    Tcl_DStringSetLength(&result, 0);
    unsigned bits;
    BqOsmo_ParseQualifiers(name, &bits, &result);
    Tcl_DStringFree(&result);
}

/* Any encoding, well-formed or not, to a declaration. */
static void
ExerciseEncoding(const char *encoding)
{
    Tcl_DString text;
    Tcl_DStringInit(&text);
    int code = BqOsmo_T2N(VantlePriv_CTypeTable, encoding, &text);
    Check(code == 0 || Tcl_DStringLength(&text) > 0, "a failure has a message", encoding, NULL);
    Tcl_DStringFree(&text);
}

int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint8_t *nul = (const uint8_t *) memchr(data, 0, size);
    size_t declarationSize = nul != NULL ? (size_t) (nul - data) : size;
    char *declaration = ExactCopy(data, declarationSize);
    char *encoding = nul != NULL ? ExactCopy(nul + 1, size - declarationSize - 1)
	: ExactCopy(data, declarationSize);

    unsigned char saved = BQ_CONTROL(runtime_type_check);
    for (int check = 0; check <= 1; check++) {
	BQ_CONTROL(runtime_type_check) = (unsigned char) check;
	ExerciseDeclaration(declaration);
	ExerciseEncoding(encoding);
    }
    BQ_CONTROL(runtime_type_check) = saved;
    ExerciseRawName(declaration);

    free(declaration);
    free(encoding);
    return 0;
}
