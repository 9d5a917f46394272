/*
 * CTypeHooks.mm --
 *
 *	The hooks a binding keeps in its C type table, set and read by the
 *	table's name: the message-send hook, and the class-, category- and
 *	protocol-define hooks (stored for the binding, never called here).
 */
#import <Foundation/Foundation.h>

#include "CTypes.h"
#include "CTypesPriv.h"
#include "BqOsmoCore.h"

#include <stddef.h>
#include <string.h>

/* The newest table with that name (same pointer, or equal text). */
static CTypeTable *
TableNamed(const char *name)
{
    for (CTypeTable *table = BqOsmo__CTypeTables; table != NULL; table = table->link) {
	if (table->name == name
		|| (table->name != NULL && name != NULL && strcmp(table->name, name) == 0)) {
	    return table;
	}
    }
    return NULL;
}

BqOsmo_MsgSendHook
BqOsmo_SetMsgSendHook(const char *tableName, BqOsmo_MsgSendHook hook)
{
    CTypeTable *table = TableNamed(tableName);
    if (table == NULL) {
	return NULL;
    }
    BqOsmo_MsgSendHook previous = table->msgSendHook;
    table->msgSendHook = hook;
    return previous;
}

BqOsmo_MsgSendHook
BqOsmo_GetMsgSendHook(const char *tableName)
{
    CTypeTable *table = TableNamed(tableName);
    return table != NULL ? table->msgSendHook : NULL;
}

/* Stores hook into the slot at offset slotOffset of the named table. */
static BqOsmo_DefineHook
SwapDefineHook(const char *tableName, size_t slotOffset, BqOsmo_DefineHook hook)
{
    CTypeTable *table = TableNamed(tableName);
    if (table == NULL) {
	return NULL;
    }
    BqOsmo_DefineHook *slot = (BqOsmo_DefineHook *) ((char *) table + slotOffset);
    BqOsmo_DefineHook previous = *slot;
    *slot = hook;
    return previous;
}

static BqOsmo_DefineHook
ReadDefineHook(const char *tableName, size_t slotOffset)
{
    CTypeTable *table = TableNamed(tableName);
    return table != NULL ? *(BqOsmo_DefineHook *) ((char *) table + slotOffset) : NULL;
}

BqOsmo_DefineHook
BqOsmo_SetClassDefineHook(const char *tableName, BqOsmo_DefineHook hook)
{
    return SwapDefineHook(tableName, offsetof(CTypeTable, classDefineHook), hook);
}

BqOsmo_DefineHook
BqOsmo_GetClassDefineHook(const char *tableName)
{
    return ReadDefineHook(tableName, offsetof(CTypeTable, classDefineHook));
}

BqOsmo_DefineHook
BqOsmo_SetCategoryDefineHook(const char *tableName, BqOsmo_DefineHook hook)
{
    return SwapDefineHook(tableName, offsetof(CTypeTable, categoryDefineHook), hook);
}

BqOsmo_DefineHook
BqOsmo_GetCategoryDefineHook(const char *tableName)
{
    return ReadDefineHook(tableName, offsetof(CTypeTable, categoryDefineHook));
}

BqOsmo_DefineHook
BqOsmo_SetProtocolDefineHook(const char *tableName, BqOsmo_DefineHook hook)
{
    return SwapDefineHook(tableName, offsetof(CTypeTable, protocolDefineHook), hook);
}

BqOsmo_DefineHook
BqOsmo_GetProtocolDefineHook(const char *tableName)
{
    return ReadDefineHook(tableName, offsetof(CTypeTable, protocolDefineHook));
}
