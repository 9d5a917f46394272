/*
 * CTypesTest.mm --
 *
 *	C type tables: registration and lookup, type fixes (the standard
 *	ones and this runtime's), names and encodings, conversion dispatch,
 *	the object type check, hooks and the temporary ring.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "CTypes.h"
#include "ObjectTypeCheck.h"
#include "TempRing.h"

#include <objc/runtime.h>
#include <pthread.h>
#include <string.h>
#include <string>

namespace {

/* Converters that record how they were called. */
struct Call {
    int count;
    CTypeEntry *entry;
    std::string type;
    unsigned qualifiers;
    int flag;
    void *ivalue;
    void *cstorage;
};
Call toCCall, fromCCall, defaultCall;

int
RecordToC(void *, Tcl_DString *, void *ivalue, void *cstorage, int flag, CTypeEntry *entry,
	unsigned qualifiers)
{
    toCCall = { toCCall.count + 1, entry, entry->type, qualifiers, flag, ivalue, cstorage };
    return 0;
}

int
RecordFromC(void *, Tcl_DString *errors, void *ivalue, void *cstorage, int flag,
	CTypeEntry *entry, unsigned qualifiers)
{
    fromCCall = { fromCCall.count + 1, entry, entry->type, qualifiers, flag, ivalue, cstorage };
    Tcl_DStringAppend(errors, "from-C refused", -1);
    return 1;
}

int
RecordDefault(void *, Tcl_DString *, CTypeTable *, void *ivalue, void *cstorage, int flag,
	const char *type, CTypeEntry *entry, unsigned qualifiers)
{
    defaultCall = { defaultCall.count + 1, entry, type, qualifiers, flag, ivalue, cstorage };
    return 0;
}

int
UnparseQualifiers(CTypeEntry *entry, unsigned bits, Tcl_DString *result)
{
    BqTcl_DStringPrintf(result, "qualified(%u) %s", bits, entry->name);
    return 0;
}

int
UnparseType(CTypeTable *, const char *type, unsigned bits, Tcl_DString *result)
{
    BqTcl_DStringPrintf(result, "unparsed(%s,%u)", type, bits);
    return 0;
}

int
ParseQualifiers(const char *name, unsigned *bitsPtr, Tcl_DString *result)
{
    if (strncmp(name, "const ", 6) == 0) {
	*bitsPtr |= 0x01;
	name += 6;
    }
    if (strcmp(name, "bad") == 0) {
	Tcl_DStringAppend(result, "bad qualifiers", -1);
	return 1;
    }
    Tcl_DStringAppend(result, name, -1);
    return 0;
}

int
ParseType(CTypeTable *, const char *name, unsigned bits, Tcl_DString *result)
{
    BqTcl_DStringPrintf(result, "parsed(%s,%u)", name, bits);
    return 0;
}

/* A fresh table for each test, named uniquely so hooks find it. */
class CTypesTest : public testing::Test {
protected:
    CTypeTable *table;
    Tcl_DString ds;
    void SetUp() override {
	static int serial;
	char name[64];
	snprintf(name, sizeof name, "CTypesTest%d", ++serial);
	table = BqOsmo_NewCTypeTable(name, (void *) 0x5, UnparseType, ParseType,
		UnparseQualifiers, ParseQualifiers, RecordDefault, RecordDefault, 1);
	Tcl_DStringInit(&ds);
	toCCall = fromCCall = defaultCall = Call();
    }
    void TearDown() override { Tcl_DStringFree(&ds); }
    std::string Text() { return Tcl_DStringValue(&ds); }
};

} // namespace

TEST_F(CTypesTest, FirstRegistrationWins)
{
    BqOsmo_AddCType(table, "C", "uchar", NULL, NULL, NULL, NULL);
    BqOsmo_AddCType(table, "C", "unsigned char", NULL, NULL, NULL, NULL);
    CTypeEntry *first = BqOsmo__CTypeNFind(table, "uchar");
    BqOsmo_AddCType(table, "C", "uchar", RecordToC, NULL, NULL, NULL);
    EXPECT_EQ(first, BqOsmo__CTypeNFind(table, "uchar")) << "neither key new: nothing changes";
    EXPECT_EQ(nullptr, first->toC);
    BqOsmo_AddCType(table, "c", "uchar", NULL, NULL, NULL, NULL);
    EXPECT_STREQ("uchar", BqOsmo__NameForCType(table, "C"));
    EXPECT_STREQ("uchar", BqOsmo__NameForCType(table, "c")) << "a new type may share a name";
    EXPECT_STREQ("C", BqOsmo__CTypeForName(table, "uchar"));
    EXPECT_STREQ("C", BqOsmo__CTypeForName(table, "unsigned char"));
    BqOsmo_AddCType(table, "", "empty", NULL, NULL, NULL, NULL);
    BqOsmo_AddCType(table, "i", NULL, NULL, NULL, NULL, NULL);
    EXPECT_EQ(nullptr, BqOsmo__CTypeNFind(table, "empty"));
    EXPECT_EQ(nullptr, BqOsmo__CTypeTFind(table, "i"));
}

TEST_F(CTypesTest, LookupIgnoresQualifiersOffsetsAndQuotedNames)
{
    BqOsmo_AddCType(table, "#", "Class", NULL, NULL, NULL, NULL);
    BqOsmo_AddCType(table, "{pt=\"x\"i\"y\"i}", "point", NULL, NULL, NULL, NULL);
    EXPECT_STREQ("Class", BqOsmo__NameForCType(table, "r^{_objc_class}8"));
    EXPECT_STREQ("point", BqOsmo__NameForCType(table, "{pt=ii}"));
    EXPECT_STREQ("point", BqOsmo__NameForCType(table, "n{pt=\"x\"i\"y\"i}16@0"));
    EXPECT_EQ(nullptr, BqOsmo__CTypeTFind(table, "{pt=ii"));
    EXPECT_EQ(nullptr, BqOsmo__CTypeTFind(table, ""));
    EXPECT_EQ(nullptr, BqOsmo__CTypeTFind(NULL, "#"));
}

TEST_F(CTypesTest, FixesForThisRuntimesOwnTypes)
{
    BqOsmo_AddCType(table, "#", "Class", NULL, NULL, NULL, NULL);
    BqOsmo_AddCType(table, ":", "SEL", NULL, NULL, NULL, NULL);
    BqOsmo_AddCType(table, "^v", "voidPtr", NULL, NULL, NULL, NULL);
    BqOsmo_AddCType(table, "^{?}", "unknownStructPtr", NULL, NULL, NULL, NULL);
    BqOsmo_AddCType(table, "^{?=^?^?^?^?}", "KxZonePtr", NULL, NULL, NULL, NULL);

    /* The root metaclass's instance variables are the fields of a class
     * record, typed with the runtime's internal structures. */
    Class meta = object_getClass([NSObject class]);
    const char *isaType = ivar_getTypeEncoding(class_getInstanceVariable(meta, "isa"));
    const char *ivarsType = ivar_getTypeEncoding(class_getInstanceVariable(meta, "ivars"));
    ASSERT_NE(nullptr, isaType);
    ASSERT_NE(nullptr, ivarsType);
    EXPECT_STREQ("Class", BqOsmo__NameForCType(table, isaType)) << isaType;
    EXPECT_STREQ("voidPtr", BqOsmo__NameForCType(table, ivarsType)) << ivarsType;
    EXPECT_STREQ("SEL", BqOsmo__NameForCType(table, @encode(struct objc_selector *)));
    EXPECT_STREQ("voidPtr", BqOsmo__NameForCType(table, @encode(Ivar)));
    EXPECT_STREQ("unknownStructPtr", BqOsmo__NameForCType(table, "^{?=}"));
    EXPECT_STREQ("KxZonePtr", BqOsmo__NameForCType(table, @encode(NSZone *)));
    EXPECT_EQ(nullptr, BqOsmo__CTypeTFind(table, "^{?=ii}")) << "only listed tags are fixed";

    BqOsmo_AddCTypeFix("^{BqTestOpaque}", "^v");
    EXPECT_STREQ("voidPtr", BqOsmo__NameForCType(table, "^{BqTestOpaque=ic}"));
}

TEST_F(CTypesTest, Validity)
{
    BqOsmo_AddCType(table, "[2?]", "twoUnknowns", NULL, NULL, NULL, NULL);
    EXPECT_TRUE(BqOsmo_IsValidCType(table, "r[2?]")) << "the table knows it";
    EXPECT_FALSE(BqOsmo_IsValidCType(NULL, "[2?]"));
    BqOsmo_AddCType(table, "?", "undef", NULL, NULL, NULL, NULL);
    EXPECT_FALSE(BqOsmo_IsValidCType(table, "?")) << "never, even when registered";
    BqOsmo_AddCType(table, "j", "complex", NULL, NULL, NULL, NULL);
    EXPECT_FALSE(BqOsmo_IsValidCType(table, "j")) << "no entry is found for a code nobody reads";
    EXPECT_TRUE(BqOsmo_IsValidArgType(table, "{?=id}"));
    EXPECT_FALSE(BqOsmo_IsValidReturnType(table, "?"));
    EXPECT_FALSE(BqOsmo_IsValidIVarType(table, ""));
}

TEST_F(CTypesTest, TypeToName)
{
    BqOsmo_AddCType(table, "*", "STR", NULL, NULL, NULL, NULL);
    EXPECT_EQ(0, BqOsmo_T2N(table, "*", &ds));
    EXPECT_EQ("STR", Text());
    Tcl_DStringSetLength(&ds, 0);
    EXPECT_EQ(0, BqOsmo_T2N(table, "r*", &ds));
    EXPECT_EQ("qualified(1) STR", Text()) << "qualifiers go through their operation";
    Tcl_DStringSetLength(&ds, 0);
    EXPECT_EQ(0, BqOsmo_T2N(table, "n^d", &ds));
    EXPECT_EQ("unparsed(n^d,2)", Text());

    CTypeTable *bare = BqOsmo_NewCTypeTable("CTypesTestBare", NULL, NULL, NULL, NULL, NULL,
	    NULL, NULL, 0);
    BqOsmo_AddCType(bare, "*", "STR", NULL, NULL, NULL, NULL);
    Tcl_DStringSetLength(&ds, 0);
    EXPECT_EQ(1, BqOsmo_T2N(bare, "r*", &ds));
    EXPECT_EQ("cannot convert ctype name", Text());
}

TEST_F(CTypesTest, NameToType)
{
    BqOsmo_AddCType(table, "i", "int", NULL, NULL, NULL, NULL);
    EXPECT_EQ(0, BqOsmo_N2T(table, "  int \t", &ds));
    EXPECT_EQ("i", Text());
    Tcl_DStringSetLength(&ds, 0);
    EXPECT_EQ(0, BqOsmo_N2T(table, "const int", &ds));
    EXPECT_EQ("ri", Text());
    Tcl_DStringSetLength(&ds, 0);
    EXPECT_EQ(0, BqOsmo_N2T(table, "const unknown", &ds));
    EXPECT_EQ("parsed(unknown,1)", Text());
    Tcl_DStringSetLength(&ds, 0);
    EXPECT_EQ(1, BqOsmo_N2T(table, "bad", &ds));
    EXPECT_EQ("bad qualifiers", Text());

    CTypeTable *bare = BqOsmo_NewCTypeTable("CTypesTestBare2", NULL, NULL, NULL, NULL, NULL,
	    NULL, NULL, 0);
    Tcl_DStringSetLength(&ds, 0);
    EXPECT_EQ(1, BqOsmo_N2T(bare, "int", &ds));
    EXPECT_EQ("cannot convert itype name", Text());
}

TEST_F(CTypesTest, ListingEscapesAndHasNoLengthLimit)
{
    std::string big = "{big=";
    for (int i = 0; i < 600; i++) {
	big += "\"m\"[2i]";
    }
    big += "}";
    BqOsmo_AddCType(table, big.c_str(), "big", NULL, NULL, NULL, NULL);
    BqOsmo_AddCType(table, "C", "unsigned char", NULL, NULL, NULL, NULL);
    BqOsmo_GetCTypes(table, &ds);
    std::string listing = Text();
    EXPECT_NE(std::string::npos, listing.find("{{unsigned char} C}"));
    std::string escaped = "\\{big=";
    for (int i = 0; i < 600; i++) {
	escaped += "\\\"m\\\"\\[2i\\]";
    }
    escaped += "\\}";
    EXPECT_NE(std::string::npos, listing.find("{big " + escaped + "}"));
    EXPECT_GT(listing.size(), 1000u);
}

TEST_F(CTypesTest, ConversionDispatch)
{
    BqOsmo_AddCType(table, "i", "int", RecordToC, NULL, RecordFromC, NULL);
    BqOsmo_AddCType(table, "^v", "voidPtr", NULL, NULL, NULL, NULL);
    int storage = 0;
    void *ivalue = (void *) 0x77;

    EXPECT_EQ(0, BqOsmo_I2C(NULL, &ds, table, ivalue, &storage, 3, "ri8", 0x100));
    EXPECT_EQ(1, toCCall.count);
    EXPECT_EQ(0x101u, toCCall.qualifiers) << "bits from the encoding join the word";
    EXPECT_EQ(3, toCCall.flag);
    EXPECT_EQ(ivalue, toCCall.ivalue);
    EXPECT_EQ((void *) &storage, toCCall.cstorage);

    EXPECT_EQ(1, BqOsmo_C2I(NULL, &ds, table, ivalue, &storage, 0, "i", 0));
    EXPECT_EQ("from-C refused", Text());

    EXPECT_EQ(0, BqOsmo_I2C(NULL, &ds, table, ivalue, &storage, 0, "^{_objc_ivar_list=}", 0));
    EXPECT_EQ(1, defaultCall.count);
    EXPECT_EQ("^v", defaultCall.type) << "an entry without converters lends its own type";
    EXPECT_NE(nullptr, defaultCall.entry);

    EXPECT_EQ(0, BqOsmo_C2I(NULL, &ds, table, ivalue, &storage, 0, "o{?=dd}", 0));
    EXPECT_EQ("{?=dd}", defaultCall.type);
    EXPECT_EQ(nullptr, defaultCall.entry);
    EXPECT_EQ(0x04u, defaultCall.qualifiers);

    CTypeTable *bare = BqOsmo_NewCTypeTable("CTypesTestBare3", NULL, NULL, NULL, NULL, NULL,
	    NULL, NULL, 0);
    Tcl_DStringSetLength(&ds, 0);
    EXPECT_EQ(1, BqOsmo_I2C(NULL, &ds, bare, ivalue, &storage, 0, "r^i", 0));
    EXPECT_EQ("cannot convert to type \"r^i\" (no conversion function)", Text());
    Tcl_DStringSetLength(&ds, 0);
    EXPECT_EQ(1, BqOsmo_C2I(NULL, &ds, bare, ivalue, &storage, 0, "d", 0));
    EXPECT_EQ("cannot convert from type \"d\" (no conversion function)", Text());
    Tcl_DStringSetLength(&ds, 0);
    EXPECT_EQ(1, BqOsmo_I2C(NULL, &ds, NULL, ivalue, &storage, 0, "i", 0));
    EXPECT_EQ("cannot convert to type (no C type table)", Text());
}

TEST_F(CTypesTest, ObjectTypeCheck)
{
    id string = @"text";
    id array = [NSArray array];
    id cls = [NSString class];
    EXPECT_EQ(0, BqOsmo_CheckObjectType(nil, "#", "L: ", "x", &ds));
    EXPECT_EQ(0, BqOsmo_CheckObjectType(cls, "#", "L: ", "x", &ds));
    EXPECT_EQ(0, BqOsmo_CheckObjectType(string, "@\"NSString\"", "L: ", "x", &ds));
    EXPECT_EQ(0, BqOsmo_CheckObjectType(string, "@\"NSObject\"", "L: ", "x", &ds));
    EXPECT_EQ(0, BqOsmo_CheckObjectType(string, "@\"<NSCopying>\"", "L: ", "x", &ds));
    EXPECT_EQ(0, BqOsmo_CheckObjectType(string, "@", "L: ", "x", &ds));
    EXPECT_EQ(0, BqOsmo_CheckObjectType(cls, "@\"NSObject\"", "L: ", "x", &ds))
	    << "a class object is a kind of its root class";
    EXPECT_EQ("", Text());
    EXPECT_EQ(1, BqOsmo_CheckObjectType(cls, "@\"NSString\"", "L: ", "NSString", &ds));
    EXPECT_EQ("L: NSString is not a kind of NSString", Text());
    Tcl_DStringSetLength(&ds, 0);

    EXPECT_EQ(1, BqOsmo_CheckObjectType(string, "#", "L: ", "str", &ds));
    EXPECT_EQ("L: str is not a class", Text());
    Tcl_DStringSetLength(&ds, 0);
    EXPECT_EQ(1, BqOsmo_CheckObjectType(array, "r@\"NSString\"", NULL, "arr", &ds));
    EXPECT_EQ("arr is not a kind of NSString", Text());
    Tcl_DStringSetLength(&ds, 0);
    EXPECT_EQ(1, BqOsmo_CheckObjectType(array, "@\"BqNoSuchClass\"", "L: ", "arr", &ds));
    EXPECT_EQ("L: arr is not a kind of BqNoSuchClass", Text());
    Tcl_DStringSetLength(&ds, 0);
    EXPECT_EQ(1, BqOsmo_CheckObjectType(string, "@\"<BqNoSuchProtocol>\"", "L: ", "s", &ds));
    EXPECT_EQ("L: s does not conform to protocol BqNoSuchProtocol", Text());
    Tcl_DStringSetLength(&ds, 0);
    EXPECT_EQ(0, BqOsmo_CheckObjectType(string, "@\"<NSCoding", "", "s", &ds))
	    << "an unclosed name is read to the end, never past it";
}

TEST_F(CTypesTest, HooksByTableName)
{
    const char *name = table->name;
    std::string copy(name);
    BqOsmo_MsgSendHook hook = (BqOsmo_MsgSendHook) 0x10;
    EXPECT_EQ(nullptr, BqOsmo_SetMsgSendHook(copy.c_str(), hook));
    EXPECT_EQ(hook, BqOsmo_GetMsgSendHook(name));
    EXPECT_EQ(hook, BqOsmo_SetMsgSendHook(name, NULL));
    EXPECT_EQ(nullptr, BqOsmo_SetClassDefineHook(name, (void *) 0x20));
    EXPECT_EQ(nullptr, BqOsmo_SetCategoryDefineHook(name, (void *) 0x30));
    EXPECT_EQ(nullptr, BqOsmo_SetProtocolDefineHook(name, (void *) 0x40));
    EXPECT_EQ((void *) 0x20, BqOsmo_GetClassDefineHook(name));
    EXPECT_EQ((void *) 0x30, BqOsmo_GetCategoryDefineHook(name));
    EXPECT_EQ((void *) 0x40, BqOsmo_GetProtocolDefineHook(name));
    EXPECT_EQ((void *) 0x20, table->classDefineHook);
    EXPECT_EQ(nullptr, table->classDefineHook2);
    EXPECT_EQ(nullptr, BqOsmo_SetMsgSendHook("CTypesTestNoSuchTable", hook));
    EXPECT_EQ(nullptr, BqOsmo_GetProtocolDefineHook("CTypesTestNoSuchTable"));
}

TEST(CTypesRing, SixtyFourBlocksStayIntact)
{
    char *blocks[64];
    for (int i = 0; i < 64; i++) {
	blocks[i] = (char *) Bqgc_malloc(10);
	ASSERT_NE(nullptr, blocks[i]);
	for (int j = 0; j < 10 + 128; j++) {
	    ASSERT_EQ(0, blocks[i][j]) << "zeroed";
	}
	memset(blocks[i], 'a' + i % 26, 10 + 128);
    }
    for (int i = 0; i < 64; i++) {
	for (int j = 0; j < 138; j++) {
	    ASSERT_EQ('a' + i % 26, blocks[i][j]) << "block " << i;
	}
    }
    /* The ring may have started anywhere: the 65th call reuses the slot of
     * the first of these 64. */
    char *again = (char *) Bqgc_malloc(4000);
    for (int i = 1; i < 64; i++) {
	EXPECT_EQ('a' + i % 26, blocks[i][0]) << "only the reused slot changes";
    }
    for (int j = 0; j < 4128; j++) {
	ASSERT_EQ(0, again[j]);
    }
    EXPECT_EQ(nullptr, Bqgc_malloc((size_t) -1));
}

static void *
FillRingOnThread(void *context)
{
    (void) context;
    for (int i = 0; i < 200; i++) {
	char *block = (char *) Bqgc_malloc(64);
	if (block != NULL) {
	    memset(block, 'z', 64 + 128);
	}
    }
    return NULL;
}

TEST(CTypesRing, EachThreadHasItsOwnRing)
{
    char *mine = (char *) Bqgc_malloc(16);
    ASSERT_NE(nullptr, mine);
    memset(mine, 'm', 16 + 128);
    pthread_t thread;
    ASSERT_EQ(0, pthread_create(&thread, NULL, FillRingOnThread, NULL));
    pthread_join(thread, NULL);
    for (int j = 0; j < 16 + 128; j++) {
	ASSERT_EQ('m', mine[j]) << "another thread's blocks never reuse this one";
    }
}
