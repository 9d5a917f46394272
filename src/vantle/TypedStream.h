/*
 * TypedStream.h --
 *
 *	The package Vantle::TypedStream: the platform's typed streams from
 *	Perl (see TypedStream.mm).  Loading the Perl module Vantle::TypedStream
 *	runs boot_Vantle__TypedStream, which registers the package's subs.
 */
#ifndef VANTLE_TYPED_STREAM_H
#define VANTLE_TYPED_STREAM_H

#include "bqcperl.h"
#include "KxTypedStream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Registers the subs of Vantle::TypedStream (the fourteen platform
 * calls and the two read options) in the current interpreter, under the
 * file name "TypedStream". */
void VantlePriv_TypedStream_Init(void);

/* The whole body of an XS sub (ts) answering the integer function gives
 * for the stream; the sub calls it in place of its own stack handling. */
void TS_ReturnInt(pTHX_ CV *cv, const char *subName, int (*function)(KxTypedStream *));

/* The boot sub of Vantle::TypedStream. */
void boot_Vantle__TypedStream(pTHX_ CV *cv);

#ifdef __cplusplus
}
#endif

#endif /* VANTLE_TYPED_STREAM_H */
