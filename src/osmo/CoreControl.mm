/*
 * CoreControl.mm --
 *
 *	The control block and its start values.
 */
#include "BqOsmoControl.h"

#include <string.h>

static unsigned char controlBlock[BqOsmoControl_Count];
static int controlsReady;

static const char *const controlNames[BqOsmoControl_Count] = {
    "message_trace",
    "protocol_check_conformance",
    "class_redefine_ok",
    "protocol_redefine_ok",
    "method_description_super_check",
    "method_description_check",
    "show_loading",
    "use_ns_exceptions",
    "runtime_type_check",
    "bad_object_check",
};

static const unsigned char startValues[BqOsmoControl_Count] = {
    0, 1, 1, 0, 1, 0, 0, 0, 0, 1
};

void
BqOsmo_ControlInit(void)
{
    if (controlsReady) {
	return;
    }
    controlsReady = 1;
    memcpy(controlBlock, startValues, sizeof controlBlock);
}

unsigned char *
BqOsmo_GetControlBase(void)
{
    return controlBlock;
}

const char *
BqOsmo_ControlName(int index)
{
    return index >= 0 && index < BqOsmoControl_Count ? controlNames[index] : NULL;
}

int
BqOsmo_ControlIndex(const char *name)
{
    if (name == NULL) {
	return -1;
    }
    for (int i = 0; i < BqOsmoControl_Count; i++) {
	if (strcmp(controlNames[i], name) == 0) {
	    return i;
	}
    }
    return -1;
}
