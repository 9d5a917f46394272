/*
 * PerlOverload.h --
 *
 *	The subs that give object handles their behaviour under Perl's
 *	operator overloading: Vantle::Object::Id_2_String, Id_2_Number,
 *	Id_2_Boolean, Id_Incr, Id_Decr (conversions); Id_Is_Same,
 *	Id_Is_Not_Same, Id_Num_Lt, Id_Num_Le, Id_Num_Gt, Id_Num_Ge and
 *	Id_Num_Cmp (numeric comparisons: ==, !=, <, <=, >, >=, <=>);
 *	Id_Is_Equal, Id_Is_Not_Equal, Id_Str_Lt, Id_Str_Le, Id_Str_Gt,
 *	Id_Str_Ge and Id_Str_Cmp (string comparisons: eq, ne, lt, le, gt,
 *	ge, cmp); Id_Add and Id_Subtract (+ and -, from which Perl makes ++
 *	and --).  The module's Perl source binds operators to them.
 */
#ifndef VANTLE_PERL_OVERLOAD_H
#define VANTLE_PERL_OVERLOAD_H

#include "Vantle.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Registers the subs in the current interpreter; a later call in an
 * interpreter that has them already does nothing. */
void Vantle_OverloadInit(void);

#ifdef __cplusplus
}
#endif

#endif /* VANTLE_PERL_OVERLOAD_H */
