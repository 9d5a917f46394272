/*
 * PerlLinkVar.h --
 *
 *	Package scalars linked to a C variable that holds an object pointer:
 *	reading the scalar gives a handle of the object the C variable holds
 *	at that moment; assigning to it stores an object pointer into the C
 *	variable, unless the link is read-only.  No retain or release is ever
 *	sent.  The C variable must outlive the link.
 *
 *	Both act on the current interpreter (bqcperl.h) and never die.
 */
#ifndef PERL_LINK_VAR_H
#define PERL_LINK_VAR_H

#include "Vantle.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Links the package scalar name (created if missing) to *address,
 * replacing an earlier link.  Answers 1, or 0 (nothing done) for a null
 * address or name. */
int  Vantle_LinkVar(const char *name, id *address, int readOnly);
/* Removes the link of the package scalar name, when it exists. */
void Vantle_UnlinkVar(const char *name);

#ifdef __cplusplus
}
#endif

#endif
