/*
 * PerlControl.mm --
 *
 *	The control variables seen from Perl: %Vantle::CONTROL, a hash tied
 *	to Vantle::Control, whose keys are the fifteen control names and
 *	whose values are the process-wide one-byte flags behind them (ten in
 *	the runtime's control block, five of the binding).  Every tie object
 *	reaches the same flags.  Also the module's version.
 */
#include "VantlePriv.h"
#include "BqOsmoControl.h"

#include <string.h>

unsigned char VantlePriv_PerlAutoConvert = 1;
unsigned char VantlePriv_PerlSelectorMap = 0;
unsigned char VantlePriv_VantleVerbose = 0;
unsigned char VantlePriv_PerlifyFoundation = 1;
unsigned char VantlePriv_HashPerlify = 0;

typedef struct ControlEntry {
    const char *name;
    unsigned char *flag;	/* null: the control counts as missing */
} ControlEntry;

/* The runtime's controls in the order Perl lists them; their names and
 * bytes come from the runtime's block. */
static const BqOsmoControlIndex runtimeControls[] = {
    BqOsmoControl_message_trace,
    BqOsmoControl_class_redefine_ok,
    BqOsmoControl_protocol_redefine_ok,
    BqOsmoControl_method_description_super_check,
    BqOsmoControl_method_description_check,
    BqOsmoControl_show_loading,
    BqOsmoControl_protocol_check_conformance,
    BqOsmoControl_use_ns_exceptions,
    BqOsmoControl_runtime_type_check,
    BqOsmoControl_bad_object_check,
};
#define RUNTIME_CONTROL_COUNT ((int) (sizeof runtimeControls / sizeof runtimeControls[0]))

/* The control table, in iteration order, ended by a null name.  The
 * runtime's entries are filled by VantlePriv_ControlInterpInit. */
static ControlEntry controlTable[] = {
    { NULL, NULL }, { NULL, NULL }, { NULL, NULL }, { NULL, NULL }, { NULL, NULL },
    { NULL, NULL }, { NULL, NULL }, { NULL, NULL }, { NULL, NULL }, { NULL, NULL },
    { "perl_auto_convert", &VantlePriv_PerlAutoConvert },
    { "perl_selector_map", &VantlePriv_PerlSelectorMap },
    { "vantle_verbose", &VantlePriv_VantleVerbose },
    { "perlify_foundation", &VantlePriv_PerlifyFoundation },
    { "hash_perlify", &VantlePriv_HashPerlify },
    { NULL, NULL }
};
#define CONTROL_COUNT ((int) (sizeof controlTable / sizeof controlTable[0]) - 1)

static HV *controlStash;			/* per interpreter: */
static PerlInterpreter *controlStashOwner;	/* the one it belongs to */

static void
FillRuntimeEntries(void)
{
    unsigned char *block = BqOsmo_GetControlBase();
    for (int i = 0; i < RUNTIME_CONTROL_COUNT; i++) {
	controlTable[i].name = BqOsmo_ControlName(runtimeControls[i]);
	controlTable[i].flag = block + runtimeControls[i];
    }
}

/*
 * FindControl --
 *	The index of the entry named by the given bytes (exact and
 *	case-sensitive; a name with an embedded NUL matches nothing), or -1.
 */
static int
FindControl(const char *name, STRLEN length)
{
    for (int i = 0; i < CONTROL_COUNT; i++) {
	const char *entryName = controlTable[i].name;
	if (entryName != NULL && strlen(entryName) == length
		&& memcmp(entryName, name, length) == 0) {
	    return i;
	}
    }
    return -1;
}

/* The flag named by sv's string value, or null when it is missing. */
static unsigned char *
FlagNamedBy(pTHX_ SV *nameSV)
{
    STRLEN length;
    const char *name = SvPV_const(nameSV, length);
    int index = FindControl(name, length);
    return index >= 0 ? controlTable[index].flag : NULL;
}

/* A new mortal tie object: a reference to an integer 0, blessed. */
static SV *
NewTieObject(pTHX)
{
    if (controlStash == NULL || controlStashOwner != my_perl) {
	controlStash = gv_stashpvs("Vantle::Control", GV_ADD);
	controlStashOwner = my_perl;
    }
    SV *tie = sv_2mortal(newRV_noinc(newSViv(0)));
    sv_bless(tie, controlStash);
    return tie;
}

/*
 *----------------------------------------------------------------------
 * VantlePriv_ControlInterpInit --
 *	Ties %Vantle::CONTROL (created if needed) afresh to a new tie object,
 *	replacing an earlier tie, and fills the runtime's table entries.
 *----------------------------------------------------------------------
 */
void
VantlePriv_ControlInterpInit(void)
{
    BQCPERL_dTHX;
    FillRuntimeEntries();
    HV *control = get_hv("Vantle::CONTROL", GV_ADDMULTI);
    SV *tie = NewTieObject(aTHX);
    sv_unmagic((SV *) control, PERL_MAGIC_tied);
    sv_magic((SV *) control, tie, PERL_MAGIC_tied, NULL, 0);
}

XS_INTERNAL(XS_Vantle__Control__TIEHASH)
{
    dXSARGS;
    PERL_UNUSED_VAR(items);
    BqCPerl_SetInterp(aTHX);
    EXTEND(SP, 1);
    ST(0) = NewTieObject(aTHX);
    XSRETURN(1);
}

/* Vantle::Control::FETCH(x, ctrl): the flag, sign-extended. */
XS_INTERNAL(XS_Vantle__Control__FETCH)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 2) {
	croak("Usage: Vantle::Control::FETCH(x,ctrl)");
    }
    unsigned char *flag = FlagNamedBy(aTHX_ ST(1));
    if (flag == NULL) {
	croak("control variable %" SVf " does not exist", SVfARG(ST(1)));
    }
    ST(0) = sv_2mortal(newSViv((signed char) *flag));
    XSRETURN(1);
}

/* Vantle::Control::STORE(x, ctrl, val): the flag becomes the low byte of
 * the value's integer. */
XS_INTERNAL(XS_Vantle__Control__STORE)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 3) {
	croak("Usage: Vantle::Control::STORE(x,ctrl,val)");
    }
    unsigned char *flag = FlagNamedBy(aTHX_ ST(1));
    if (flag == NULL) {
	croak("control variable %" SVf " does not exist", SVfARG(ST(1)));
    }
    *flag = (unsigned char) (SvIV(ST(2)) & 0xff);
    XSRETURN_EMPTY;
}

XS_INTERNAL(XS_Vantle__Control__EXISTS)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 2) {
	croak("Usage: Vantle::Control::EXISTS(x,ctrl)");
    }
    ST(0) = sv_2mortal(newSViv(FlagNamedBy(aTHX_ ST(1)) != NULL));
    XSRETURN(1);
}

XS_INTERNAL(XS_Vantle__Control__DELETE)
{
    dXSARGS;
    PERL_UNUSED_VAR(items);
    BqCPerl_SetInterp(aTHX);
    croak("Vantle::Control::DELETE: cannot delete control variable");
}

XS_INTERNAL(XS_Vantle__Control__FIRSTKEY)
{
    dXSARGS;
    PERL_UNUSED_VAR(items);
    BqCPerl_SetInterp(aTHX);
    EXTEND(SP, 1);
    ST(0) = sv_2mortal(newSVpv(controlTable[0].name, 0));
    XSRETURN(1);
}

/* Vantle::Control::NEXTKEY(x, last): the name after last, or undef after
 * the last entry and for a name that is not in the table. */
XS_INTERNAL(XS_Vantle__Control__NEXTKEY)
{
    dXSARGS;
    BqCPerl_SetInterp(aTHX);
    if (items != 2) {
	croak("Usage: Vantle::Control::NEXTKEY(x,ctrl)");
    }
    STRLEN length;
    const char *last = SvPV_const(ST(1), length);
    int index = FindControl(last, length);
    SV *result = sv_newmortal();
    if (index >= 0 && index + 1 < CONTROL_COUNT) {
	sv_setpv(result, controlTable[index + 1].name);
    }
    ST(0) = result;
    XSRETURN(1);
}

void
VantlePriv_BootControl(pTHX)
{
    newXS("Vantle::Control::FETCH", XS_Vantle__Control__FETCH, "Vantle");
    newXS("Vantle::Control::STORE", XS_Vantle__Control__STORE, "Vantle");
    newXS("Vantle::Control::DELETE", XS_Vantle__Control__DELETE, "Vantle");
    newXS("Vantle::Control::EXISTS", XS_Vantle__Control__EXISTS, "Vantle");
    newXS("Vantle::Control::FIRSTKEY", XS_Vantle__Control__FIRSTKEY, "Vantle");
    newXS("Vantle::Control::NEXTKEY", XS_Vantle__Control__NEXTKEY, "Vantle");
    newXS("Vantle::Control::TIEHASH", XS_Vantle__Control__TIEHASH, "Vantle");
}

int
Vantle_Version(void)
{
    return 30100;
}

const char *
Vantle_VersionName(void)
{
    return "3.1";
}

const char *
Vantle_BuildDate(void)
{
    return "Aug  9 1996";
}
