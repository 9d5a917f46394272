/*
 * BqOsmo.h --
 *
 *	The runtime layer: everything host code and the language bindings
 *	call.  It knows no scripting language.
 */
#ifndef BQ_OSMO_H
#define BQ_OSMO_H

#include "KxPlatform.h"
#include "BqOsmoCore.h"
#include "BqOsmoControl.h"
#include "BqOsmoError.h"
#include "BqAlert.h"
#include "Glisk.h"

#ifdef __OBJC__
#include "BqNil.h"
#include "BqInterp.h"
#endif

#endif
