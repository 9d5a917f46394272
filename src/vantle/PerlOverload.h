/*
 * PerlOverload.h --
 *
 *	The subs that give object handles their behaviour under Perl's
 *	operator overloading: Vantle::Object::Id_2_String, Id_2_Number,
 *	Id_2_Boolean, Id_Incr, Id_Decr (conversions) and Id_Is_Same,
 *	Id_Is_Not_Same, Id_Is_Equal, Id_Is_Not_Equal (comparisons).  The
 *	module's Perl source binds operators to them.
 */
#ifndef VANTLE_PERL_OVERLOAD_H
#define VANTLE_PERL_OVERLOAD_H

#include "Vantle.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Registers the nine subs in the current interpreter; a later call in
 * an interpreter that has them already does nothing. */
void Vantle_OverloadInit(void);

#ifdef __cplusplus
}
#endif

#endif /* VANTLE_PERL_OVERLOAD_H */
