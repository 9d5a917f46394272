/*
 * osmo_tour.mm --
 *
 *	A short tour of the runtime layer: start it, look at its controls,
 *	give objects names and find them again, and watch a name disappear
 *	when its object is freed.
 */
#import <Foundation/Foundation.h>

#include "BqOsmo.h"

#include <stdio.h>

static void
ShowControls(void)
{
    printf("Control variables:\n");
    for (int i = 0; i < BqOsmoControl_Count; i++) {
	printf("  %-32s %d\n", BqOsmo_ControlName(i), BqOsmo_GetControlBase()[i]);
    }
}

static void
ShowLookup(const char *name)
{
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    char notFound;
    id object = Glisk_LookupObjectName3(name, &errors, &notFound);
    if (notFound) {
	printf("  %-28s -> not found: %s\n", name, Tcl_DStringValue(&errors));
    } else {
	printf("  %-28s -> %s\n", name, Glisk_LookupObject(object));
    }
    Tcl_DStringFree(&errors);
}

int
main(void)
{
    @autoreleasepool {
	BqOsmo_Init();
	printf("Runtime layer %s (%d), zones \"%s\" and \"%s\"\n",
		BqOsmo_VersionName(), BqOsmo_Version(),
		BqKxZoneName(BqOsmo_GetRuntimeZone()), BqKxZoneName(BqOsmo_GetTmpZone()));
	ShowControls();

	NSMutableArray *array = [[NSMutableArray alloc] init];
	NSString *string = [[NSString alloc] initWithUTF8String: "hello from the runtime"];
	const char *arrayName = Glisk_RegisterObject(array);
	const char *stringName = Glisk_RegisterObject(string);
	printf("\nObject names:\n  %s\n  %s\n", arrayName, stringName);
	printf("  a class is named by itself: %s; its metaclass: %s\n",
		Glisk_RegisterObject((id) [NSString class]),
		Glisk_LookupObject((id) object_getClass((id) [NSString class])));

	printf("\nLooking names up:\n");
	char stringNameCopy[128];
	snprintf(stringNameCopy, sizeof stringNameCopy, "%s", stringName);
	ShowLookup(stringNameCopy);
	ShowLookup("#NSObject");
	ShowLookup("NIL");
	ShowLookup("NoSuchClass");

	[array addObject: [BqNil sharedInstance]];
	printf("\nThe shared nil inside an array: %s\n", [[array description] UTF8String]);

	Tcl_DString all;
	Tcl_DStringInit(&all);
	Glisk_GetObjectList(&all);
	printf("Registered names: %s\n", Tcl_DStringValue(&all));
	Tcl_DStringFree(&all);

	id stale = string;
	[string release];
	printf("\nAfter the string is freed:\n");
	ShowLookup(stringNameCopy);
	/* The check reads the stale pointer without dereferencing it. */
	printf("  its old pointer checks as: %s\n", BqOsmo_IsIdInvalid(stale));
	printf("  an unmapped pointer checks as: %s\n", BqOsmo_IsIdInvalid((id) (uintptr_t) 0x10));
	[array release];
    }
    return 0;
}
