/*
 * ModuleDirectory.mm --
 *
 *	The directory a Perl module was loaded from, as %INC records it, so
 *	host code can find files installed beside the module.
 */
#include "VantlePriv.h"
#include "BqOsmoCore.h"

#include <string.h>
#include <strings.h>

/*
 *----------------------------------------------------------------------
 * Vantle_ModuleDirectory --
 *	For a module file name as %INC keys it ("Dravik.pm"), the directory
 *	its path names: the path must end with the name (compared without
 *	regard to case) right after a '/' or '\'.  Answers a copy from the
 *	runtime zone that the caller owns, or null for every missing piece.
 *----------------------------------------------------------------------
 */
char *
Vantle_ModuleDirectory(const char *name)
{
    if (BqOsmo_GetRuntimeZone() == NULL) {
	BqOsmo_Init();
    }
    if (name == NULL || _bqcperl_interp == NULL) {
	return NULL;
    }
    BQCPERL_dTHX;
    HV *inc = get_hv("main::INC", 0);
    if (inc == NULL) {
	return NULL;
    }
    size_t nameLength = strlen(name);
    SV **entry = hv_fetch(inc, name, (I32) nameLength, 0);
    if (entry == NULL || !SvOK(*entry)) {
	return NULL;
    }
    STRLEN pathLength;
    const char *path = SvPV(*entry, pathLength);
    if (path == NULL || pathLength <= nameLength) {
	return NULL;
    }
    size_t directoryLength = pathLength - nameLength - 1;
    char separator = path[directoryLength];
    if (strcasecmp(path + pathLength - nameLength, name) != 0
	    || (separator != '/' && separator != '\\')) {
	return NULL;
    }
    char *directory = (char *) BqOsmo_RuntimeAlloc(directoryLength + 1);
    memcpy(directory, path, directoryLength);
    directory[directoryLength] = '\0';
    return directory;
}

/*
 * The directory of Dravik.pm, cached after the first answer that is not
 * null.
 */
const char *
Vantle_LibraryDirectory(void)
{
    static char *libraryDirectory;
    if (libraryDirectory == NULL) {
	libraryDirectory = Vantle_ModuleDirectory("Dravik.pm");
    }
    return libraryDirectory;
}
