/*
 * BqOsmoControl.h --
 *
 *	The runtime's control block: ten byte flags that switch checks and
 *	traces on and off, process-wide.  The Perl control hash exposes each
 *	byte under its name.
 */
#ifndef BQ_OSMO_CONTROL_H
#define BQ_OSMO_CONTROL_H

#ifdef __cplusplus
extern "C" {
#endif

typedef enum BqOsmoControlIndex {
    BqOsmoControl_message_trace = 0,
    BqOsmoControl_protocol_check_conformance,
    BqOsmoControl_class_redefine_ok,
    BqOsmoControl_protocol_redefine_ok,
    BqOsmoControl_method_description_super_check,
    BqOsmoControl_method_description_check,
    BqOsmoControl_show_loading,
    BqOsmoControl_use_ns_exceptions,
    BqOsmoControl_runtime_type_check,
    BqOsmoControl_bad_object_check,
    BqOsmoControl_Count
} BqOsmoControlIndex;

/* Sets the start values (once). */
void           BqOsmo_ControlInit(void);
unsigned char *BqOsmo_GetControlBase(void);

/* The name of control i ("message_trace" ...), or null out of range. */
const char    *BqOsmo_ControlName(int index);
/* The index of the control with that name, or -1. */
int            BqOsmo_ControlIndex(const char *name);

#ifdef __cplusplus
}
#endif

/* Reads one control: BQ_CONTROL(bad_object_check). */
#define BQ_CONTROL(name) (BqOsmo_GetControlBase()[BqOsmoControl_##name])

#endif
