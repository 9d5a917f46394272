/*
 * PerlCTypesTest.mm --
 *
 *	The Perl binding's converters seen from C: structures laid out as
 *	the compiler lays out the same declarations, method result words,
 *	ownership of C strings, object type checks, typed pointers made from
 *	C, and types that cannot be converted, in the test program's
 *	embedded interpreter.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "EmbeddedPerl.h"
#include "VantlePriv.h"
#include "PerlCTypes.h"
#include "PerlPointer.h"
#include "BqOsmo.h"
#include "KxUniqueString.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <string>

typedef struct Inner {
    char c;
    double d;
    short s;
} Inner;

typedef struct Outer {
    int i;
    Inner inner[2];
    char *name;
    long long q;
    unsigned char flag;
    float f;
} Outer;

namespace {

/* Outer's encoding with element names, written by hand: it must place
 * every member where the compiler's own struct has it. */
const char *const namedOuter =
    "{Outer=\"i\"i\"inner\"[2{Inner=\"c\"c\"d\"d\"s\"s}]\"name\"*\"q\"q\"flag\"C\"f\"f}";

class PerlCTypes : public ::testing::Test {
protected:
    PerlInterpreter *my_perl;
    Tcl_DString errors;
    NSAutoreleasePool *pool;
    unsigned char savedTypeCheck, savedAutoConvert;

    void SetUp() override
    {
	my_perl = EmbeddedPerl();
	Tcl_DStringInit(&errors);
	pool = [[NSAutoreleasePool alloc] init];
	savedTypeCheck = BQ_CONTROL(runtime_type_check);
	savedAutoConvert = VantlePriv_PerlAutoConvert;
	ENTER;
	SAVETMPS;
    }

    void TearDown() override
    {
	FREETMPS;
	LEAVE;
	BQ_CONTROL(runtime_type_check) = savedTypeCheck;
	VantlePriv_PerlAutoConvert = savedAutoConvert;
	[pool release];
	Tcl_DStringFree(&errors);
    }

    std::string Errors()
    {
	return Tcl_DStringValue(&errors);
    }

    /* A Perl expression's value; a Perl error fails the test. */
    SV *Perl(const char *code)
    {
	SV *value = sv_mortalcopy(eval_pv(code, FALSE));
	EXPECT_FALSE(SvTRUE(ERRSV)) << code << ": " << SvPV_nolen(ERRSV);
	return value;
    }

    /* A Perl expression's text, evaluated with $v set to value. */
    std::string Text(SV *value, const char *expression)
    {
	sv_setsv(get_sv("main::v", GV_ADD), value);
	return SvPV_nolen(Perl(expression));
    }

    int ToC(SV *value, void *storage, const char *type, unsigned qualifiers = 0)
    {
	return BqOsmo_I2C(NULL, &errors, VantlePriv_CTypeTable, value, storage, 0, type,
		qualifiers);
    }

    int FromC(SV *value, void *storage, const char *type, unsigned qualifiers = 0)
    {
	return BqOsmo_C2I(NULL, &errors, VantlePriv_CTypeTable, value, storage, 0, type,
		qualifiers);
    }

    SV *Handle(id object)
    {
	SV *sv = sv_newmortal();
	EXPECT_TRUE(Vantle_SVSetObject(sv, object, &errors)) << Errors();
	return sv;
    }

    static char *HeapString(const char *text)
    {
	return KxCopyStringBufferFromZone(text, KxDefaultMallocZone());
    }
};

TEST_F(PerlCTypes, StructuresLandWhereTheCompilerPutsTheirMembers)
{
    ASSERT_EQ((int) sizeof(Outer), BqTypeSpec_SizeOfType(namedOuter));
    ASSERT_EQ((int) sizeof(Outer), BqTypeSpec_SizeOfType(@encode(Outer)));
    SV *value = Perl("+{ i => -7, name => 'outer', q => -9007199254740993, flag => 255,"
	    " f => 1.25, inner => [ { c => 65, d => 2.5, s => -2 },"
	    " { c => -1, d => -0.5, s => 300 } ] }");

    /* Padding keeps its fill: only member bytes may be written. */
    Outer converted, expected;
    memset(&converted, 0xAA, sizeof converted);
    memset(&expected, 0xAA, sizeof expected);
    converted.name = NULL;	/* the string it holds is released */
    ASSERT_EQ(0, ToC(value, &converted, namedOuter, BQ_QUAL_OWNED)) << Errors();
    expected.i = -7;
    expected.inner[0].c = 65;
    expected.inner[0].d = 2.5;
    expected.inner[0].s = -2;
    expected.inner[1].c = -1;
    expected.inner[1].d = -0.5;
    expected.inner[1].s = 300;
    expected.name = converted.name;
    expected.q = -9007199254740993LL;
    expected.flag = 255;
    expected.f = 1.25f;
    EXPECT_EQ(0, memcmp(&expected, &converted, sizeof converted));
    EXPECT_STREQ("outer", converted.name);

    VantlePriv_FreeElementStrings(namedOuter, &converted);
    EXPECT_EQ(NULL, converted.name) << "the copied string is released and cleared";

    SV *back = sv_newmortal();
    expected.name = (char *) "back";
    ASSERT_EQ(0, FromC(back, &expected, namedOuter)) << Errors();
    EXPECT_EQ("-7,65,2.5,-2,-1,-0.5,300,back,-9007199254740993,255,1.25",
	    Text(back, "join ',', $v->{i}, (map { @$_{qw(c d s)} } @{$v->{inner}}),"
		" @$v{qw(name q flag f)}"));
    EXPECT_EQ("\"i\"i\"inner\"[2{Inner=\"c\"c\"d\"d\"s\"s}]\"name\"*\"q\"q\"flag\"C\"f\"f",
	    Text(back, "$v->{__signature}"));
}

TEST_F(PerlCTypes, MembersWithoutNamesAreKeyedByIndex)
{
    Outer original;
    memset(&original, 0, sizeof original);
    original.i = 3;
    original.inner[1].d = 6.5;
    original.name = (char *) "anonymous";
    original.flag = 9;
    SV *value = sv_newmortal();
    ASSERT_EQ(0, FromC(value, &original, @encode(Outer))) << Errors();
    EXPECT_EQ("3,6.5,anonymous,9,i[2{Inner=cds}]*qCf",
	    Text(value, "join ',', @$v{qw(_0)}, $v->{_1}[1]{_1}, @$v{qw(_2 _4 __signature)}"));

    Outer again;
    memset(&again, 0, sizeof again);
    ASSERT_EQ(0, ToC(value, &again, @encode(Outer), BQ_QUAL_OWNED)) << Errors();
    EXPECT_STREQ("anonymous", again.name);
    char *copy = again.name;
    again.name = original.name;
    EXPECT_EQ(0, memcmp(&original, &again, sizeof again)) << "the hash converts back";
    again.name = copy;
    VantlePriv_FreeElementStrings(@encode(Outer), &again);

    /* Indices of more than one digit. */
    unsigned char bytes[12] = { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 };
    ASSERT_EQ(0, FromC(value, bytes, "{?=CCCCCCCCCCCC}")) << Errors();
    EXPECT_EQ("_0=0,_1=1,_10=10,_11=11,_2=2", Text(value,
	    "join ',', map { \"$_=$v->{$_}\" } grep { /^_(?:[012]|1\\d)$/ } sort keys %$v"));
    unsigned char back[12];
    memset(back, 0, sizeof back);
    ASSERT_EQ(0, ToC(value, back, "{?=CCCCCCCCCCCC}")) << Errors();
    EXPECT_EQ(0, memcmp(bytes, back, sizeof back));
}

TEST_F(PerlCTypes, ResultWordsAreReadAtTheirTypesWidth)
{
    /* A callee leaves the bytes above a narrow result undefined. */
    struct { const char *type; uint64_t word; const char *value; } cases[] = {
	{ "c", 0x123456789abcde80ULL, "-128" },
	{ "C", 0xffffffffffffffc8ULL, "200" },
	{ "s", 0xffff0000ffff8000ULL, "-32768" },
	{ "S", 0xffff0000ffff8000ULL, "32768" },
	{ "i", 0xdeadbeefffffffffULL, "-1" },
	{ "I", 0xdeadbeefffffffffULL, "4294967295" },
	{ "q", 0xffffffffffffffffULL, "-1" },
	{ "Q", 0xffffffffffffffffULL, "18446744073709551615" },
	{ "l", 0x8000000000000000ULL, "-9223372036854775808" },
	{ "B", 0xff00ULL, "0" },
    };
    for (auto &c : cases) {
	SV *value = sv_newmortal();
	uint64_t word = c.word;
	ASSERT_EQ(0, FromC(value, &word, c.type, BQ_QUAL_RESULT)) << Errors();
	EXPECT_STREQ(c.value, SvPV_nolen(value)) << c.type;
    }
}

TEST_F(PerlCTypes, ResultWordsAreWrittenWhole)
{
    struct { const char *type; const char *value; uint64_t word; } cases[] = {
	{ "c", "300", 44 },
	{ "c", "-1", 0xffffffffffffffffULL },
	{ "C", "-1", 0xff },
	{ "S", "70000", 4464 },
	{ "i", "2147483648", 0xffffffff80000000ULL },
	{ "I", "-1", 0xffffffffULL },
	{ "Q", "18446744073709551615", 0xffffffffffffffffULL },
	{ "B", "7", 1 },
    };
    for (auto &c : cases) {
	uint64_t word = 0x5555555555555555ULL;
	ASSERT_EQ(0, ToC(sv_2mortal(newSVpv(c.value, 0)), &word, c.type, BQ_QUAL_RESULT))
	    << Errors();
	EXPECT_EQ(c.word, word) << c.type << " " << c.value;
    }
}

TEST_F(PerlCTypes, NarrowValuesWriteOnlyTheirBytes)
{
    struct { const char *type; size_t width; } cases[] = {
	{ "c", 1 }, { "S", 2 }, { "i", 4 }, { "f", 4 }, { "d", 8 }, { "q", 8 },
    };
    for (auto &c : cases) {
	unsigned char storage[16];
	memset(storage, 0xAA, sizeof storage);
	ASSERT_EQ(0, ToC(sv_2mortal(newSViv(0)), storage, c.type)) << Errors();
	for (size_t i = 0; i < sizeof storage; i++) {
	    EXPECT_EQ(i < c.width ? 0 : 0xAA, storage[i]) << c.type << " byte " << i;
	}
    }
}

TEST_F(PerlCTypes, OwnedStringsAreCopiedAndReleased)
{
    SV *text = sv_2mortal(newSVpvs("borrowed"));
    char *stored = HeapString("old");
    ASSERT_EQ(0, ToC(text, &stored, "*", BQ_QUAL_OWNED));
    EXPECT_NE(SvPVX(text), stored) << "with ownership the storage gets a copy";
    EXPECT_STREQ("borrowed", stored);
    ASSERT_EQ(0, ToC(&PL_sv_undef, &stored, "*", BQ_QUAL_OWNED));
    EXPECT_EQ(NULL, stored) << "undef releases the copy";

    char *result = HeapString("result");
    SV *value = sv_newmortal();
    ASSERT_EQ(0, FromC(value, &result, "*", BQ_QUAL_RESULT | BQ_QUAL_OWNED));
    EXPECT_STREQ("result", SvPV_nolen(value)) << "an owned result is copied, then freed";

    const char *atom = KxUniqueString("an atom of its own");
    char *atomStorage = (char *) atom;
    ASSERT_EQ(0, FromC(value, &atomStorage, "%", BQ_QUAL_OWNED));
    ASSERT_EQ(0, ToC(sv_2mortal(newSVpvs("another atom")), &atomStorage, "%", BQ_QUAL_OWNED));
    EXPECT_EQ(KxUniqueString("another atom"), atomStorage);
    EXPECT_STREQ("an atom of its own", atom) << "atoms are never freed";

    struct { char *inner; } holder = { HeapString("kept") };
    ASSERT_EQ(0, FromC(value, &holder, "{?=\"s\"*}", BQ_QUAL_OWNED));
    EXPECT_EQ("kept", Text(value, "$v->{s}"));
    EXPECT_STREQ("kept", holder.inner) << "strings of an aggregate from C stay its own";
    VantlePriv_FreeElementStrings("{?=\"s\"*}", &holder);
    EXPECT_EQ(NULL, holder.inner);
}

TEST_F(PerlCTypes, StringsAreLentToCalleesAsTheyMayUseThem)
{
    SV *text = sv_2mortal(newSVpvs("lent"));
    char *stored = NULL;
    ASSERT_EQ(0, ToC(text, &stored, "r*16@0:8")) << Errors();
    EXPECT_EQ(SvPVX(text), stored) << "a const char * is lent the scalar's own buffer";
    ASSERT_EQ(0, ToC(text, &stored, "*16@0:8")) << Errors();
    EXPECT_NE(SvPVX(text), stored) << "a char * gets a copy to write into";
    EXPECT_STREQ("lent", stored);

    /* Reading a tied scalar again stores into the same scalar: a
     * second argument made of it would replace the first one's buffer. */
    SV *tied = Perl("require Tie::Scalar; tie my $t, 'Tie::StdScalar'; $t = 'tied'; \\$t");
    ASSERT_EQ(0, ToC(SvRV(tied), &stored, "r*")) << Errors();
    EXPECT_STREQ("tied", stored);
    EXPECT_NE(SvPVX(SvRV(tied)), stored) << "magic gets a copy";

    char buffer[8] = "buffer";
    SV *pointer = sv_newmortal();
    VantlePriv_SVNewPointer(pointer, "^[8c]", buffer);
    ASSERT_EQ(0, ToC(pointer, &stored, "*")) << Errors();
    EXPECT_EQ(buffer, stored) << "a typed pointer lends its address";
    stored = NULL;
    EXPECT_EQ(1, ToC(pointer, &stored, "*", BQ_QUAL_OWNED));
    EXPECT_EQ("a typed pointer cannot be stored as a C string that the storage owns", Errors());
    EXPECT_EQ(NULL, stored) << "storage that would free it as its own keeps what it had";
}

TEST_F(PerlCTypes, ConstantBytePointersTakeByteStrings)
{
    SV *bytes = sv_2mortal(newSVpvn("a\0b", 3));
    const char *types[] = { "^rv", "r^v", "^rC", "r^c" };
    for (const char *type : types) {
	const char *stored = NULL;
	ASSERT_EQ(0, ToC(bytes, &stored, type)) << type << ": " << Errors();
	EXPECT_EQ(0, memcmp("a\0b", stored, 4)) << type;
    }
    const char *stored = NULL;
    EXPECT_EQ(1, ToC(bytes, &stored, "^v")) << "a pointer that may be written through";
    EXPECT_EQ(1, ToC(bytes, &stored, "^ri")) << "a pointer to other than bytes";
    EXPECT_EQ(1, ToC(bytes, &stored, "^rv", BQ_QUAL_OWNED)) << "storage that outlives the call";
    EXPECT_EQ("not a valid pointernot a valid pointernot a valid pointer", Errors());
    Tcl_DStringSetLength(&errors, 0);

    SV *latin = Perl("my $s = \"\\x{e9}t\\x{e9}\"; utf8::upgrade($s); $s");
    ASSERT_EQ(0, ToC(latin, &stored, "^rv")) << Errors();
    EXPECT_EQ(0, memcmp("\xe9t\xe9", stored, 4)) << "characters below 256 are bytes";
    EXPECT_TRUE(SvUTF8(latin)) << "the scalar keeps its characters";
    EXPECT_EQ(1, ToC(Perl("\"\\x{100}\""), &stored, "^rv"));
    EXPECT_EQ("Wide character in byte string", Errors());
}

TEST_F(PerlCTypes, FoundationStructuresHaveTheirMemberNames)
{
    struct { const char *type; const char *keys; } cases[] = {
	{ "{_NSRange=QQ}", "__signature,length,location" },
	{ "{_NSRect={_NSPoint=dd}{_NSSize=dd}}", "__signature,origin,size" },
	{ "{_NSRange=\"start\"Q\"count\"Q}", "__signature,count,start" },
	{ "{_NSRange=QQQ}", "_0,_1,_2,__signature" },
	{ "{NSRange=QQ}", "_0,_1,__signature" },
    };
    uint64_t words[4] = { 1, 2, 3, 4 };
    for (auto &c : cases) {
	SV *value = sv_newmortal();
	ASSERT_EQ(0, FromC(value, words, c.type)) << c.type << ": " << Errors();
	EXPECT_EQ(c.keys, Text(value, "join ',', sort keys %$v")) << c.type;
	uint64_t back[4] = { 0, 0, 0, 0 };
	ASSERT_EQ(0, ToC(value, back, c.type)) << c.type << ": " << Errors();
	EXPECT_EQ(0, memcmp(words, back, (size_t) BqTypeSpec_SizeOfType(c.type))) << c.type;
    }
    SV *value = sv_newmortal();
    ASSERT_EQ(0, FromC(value, words, "{_NSRect={_NSPoint=dd}{_NSSize=dd}}")) << Errors();
    EXPECT_EQ("__signature,x,y", Text(value, "join ',', sort keys %{$v->{origin}}"));
}

/* Strings inside an aggregate that is only lent its values (a message
 * argument) are Perl temporaries, gone with the caller's; storage that
 * owns its strings gets copies it frees with VantlePriv_FreeElementStrings. */
TEST_F(PerlCTypes, AggregateStringsAreTemporariesOrOwnedCopies)
{
    const char *type = "[2{?=\"a\"*\"b\"[2r*]\"n\"i}]";
    struct Element { char *a; const char *b[2]; int n; } elements[2];
    memset(elements, 0, sizeof elements);
    SV *value = Perl("[ { a => 'one', b => ['x', undef], n => 1 },"
	    " { a => undef, b => ['y', 'z'], n => 2 } ]");

    ENTER;
    SAVETMPS;
    ASSERT_EQ(0, ToC(value, elements, type)) << Errors();
    EXPECT_STREQ("one", elements[0].a);
    EXPECT_STREQ("z", elements[1].b[1]);
    EXPECT_EQ(2, elements[1].n);
    SV *one = *hv_fetchs((HV *) SvRV(*av_fetch((AV *) SvRV(value), 0, 0)), "a", 0);
    EXPECT_NE(SvPVX(one), elements[0].a) << "a copy, never the scalar's own buffer";
    FREETMPS;
    LEAVE;

    memset(elements, 0, sizeof elements);
    ASSERT_EQ(0, ToC(value, elements, type, BQ_QUAL_OWNED)) << Errors();
    EXPECT_STREQ("one", elements[0].a);
    EXPECT_STREQ("z", elements[1].b[1]);

    char *lent = (char *) "not ours";
    VantlePriv_FreeElementStrings("*", &lent);
    EXPECT_STREQ("not ours", lent) << "a string that is the type itself is left alone";
    VantlePriv_FreeElementStrings(type, elements);
    for (auto &element : elements) {
	EXPECT_EQ(NULL, element.a);
	EXPECT_EQ(NULL, element.b[0]);
	EXPECT_EQ(NULL, element.b[1]);
    }
    EXPECT_EQ(2, elements[1].n);
}

TEST_F(PerlCTypes, DeclaredClassesAndProtocolsAreChecked)
{
    id array = [NSMutableArray array];
    id object = [[[NSObject alloc] init] autorelease];
    SV *arrayHandle = Handle(array);
    SV *objectHandle = Handle(object);
    SV *classHandle = Handle([NSObject class]);
    id stored = nil;

    BQ_CONTROL(runtime_type_check) = 0;
    EXPECT_EQ(0, ToC(arrayHandle, &stored, "@\"NSString\""));
    EXPECT_EQ(array, stored) << "unchecked, any object fits";

    BQ_CONTROL(runtime_type_check) = 1;
    std::string arrayName = Glisk_RegisterObject(array);
    std::string objectName = Glisk_RegisterObject(object);
    EXPECT_EQ(1, ToC(arrayHandle, &stored, "@\"NSString\""));
    EXPECT_EQ("itypecheck: " + arrayName + " is not a kind of NSString", Errors());
    Tcl_DStringSetLength(&errors, 0);
    EXPECT_EQ(0, ToC(arrayHandle, &stored, "@\"NSArray\"16@0:8")) << Errors();
    EXPECT_EQ(1, ToC(objectHandle, &stored, "#"));
    EXPECT_EQ("itypecheck: " + objectName + " is not a class", Errors());
    Tcl_DStringSetLength(&errors, 0);
    EXPECT_EQ(0, ToC(classHandle, &stored, "#")) << Errors();
    EXPECT_EQ(1, ToC(objectHandle, &stored, "@\"<NSCopying>\""));
    EXPECT_EQ("itypecheck: " + objectName + " does not conform to protocol NSCopying", Errors());
    Tcl_DStringSetLength(&errors, 0);

    SV *result = sv_newmortal();
    EXPECT_EQ(1, FromC(result, &array, "@\"NSString\""));
    EXPECT_EQ("ctypecheck: " + arrayName + " is not a kind of NSString", Errors());
    Tcl_DStringSetLength(&errors, 0);
    id nothing = nil;
    EXPECT_EQ(0, ToC(&PL_sv_undef, &stored, "@\"NSString\"")) << "nil always fits";
    EXPECT_EQ(0, FromC(result, &nothing, "@\"NSString\"")) << Errors();
    EXPECT_TRUE(Vantle_SVIsNil(result));
}

TEST_F(PerlCTypes, ClassesAreNeverMadeFromPerlData)
{
    VantlePriv_PerlAutoConvert = 1;
    id stored = nil;
    ASSERT_EQ(0, ToC(sv_2mortal(newSVpvs("NSObject")), &stored, "#")) << Errors();
    EXPECT_EQ((id) [NSObject class], stored);
    ASSERT_EQ(0, ToC(sv_2mortal(newSVpvs("NSObject")), &stored, "@")) << Errors();
    EXPECT_TRUE([stored isKindOfClass: [NSString class]]) << "an id gets Perl data by value";
    EXPECT_EQ(1, ToC(Perl("[1]"), &stored, "#"));
    EXPECT_EQ("not an object (while converting to id)", Errors());
}

TEST_F(PerlCTypes, PointersFromCAreTypedPointers)
{
    int target = 5;
    int *address = &target;
    SV *pointer = sv_newmortal();
    ASSERT_EQ(0, FromC(pointer, &address, "^{pt=ii}16@0:8")) << Errors();
    const char *type = NULL;
    void *read = NULL;
    ASSERT_EQ(0, VantlePriv_SVGetPointer(pointer, &type, &read, &errors));
    EXPECT_STREQ("^{pt=ii}", type) << "the type is cut after its first type";
    EXPECT_EQ((void *) address, read);

    int *stored = NULL;
    ASSERT_EQ(0, ToC(pointer, &stored, "^{pt=ii}")) << Errors();
    EXPECT_EQ(address, stored);
    const char *falseValues[] = { "", "0" };
    for (const char *text : falseValues) {
	stored = address;
	ASSERT_EQ(0, ToC(sv_2mortal(newSVpv(text, 0)), &stored, "^i"));
	EXPECT_EQ(NULL, stored) << "\"" << text << "\" is a null pointer";
    }
    stored = address;
    ASSERT_EQ(0, ToC(sv_2mortal(newSVnv(0.0)), &stored, "^i"));
    EXPECT_EQ(NULL, stored);
    EXPECT_EQ(1, ToC(sv_2mortal(newSViv(1)), &stored, "^i"));
    EXPECT_EQ("not a valid pointer", Errors());

    EXPECT_EQ(0, VantlePriv_SVSetPointerValue(pointer, &target));
    EXPECT_EQ(1, VantlePriv_SVSetPointerValue(sv_2mortal(newSViv(1)), &target));
    SV *fetched = sv_newmortal();
    SV *intPointer = sv_newmortal();
    VantlePriv_SVNewPointer(intPointer, "^i", &target);
    ASSERT_EQ(0, VantlePriv_SVPointerGetSV(intPointer, fetched, &errors));
    EXPECT_EQ(5, SvIV(fetched));
    ASSERT_EQ(0, VantlePriv_SVPointerStoreSV(intPointer, sv_2mortal(newSViv(-9)), &errors));
    EXPECT_EQ(-9, target);
}

TEST_F(PerlCTypes, UnconvertibleTypesFailWithTheirType)
{
    char storage[64] = { 0 };
    SV *value = Perl("+{ a => 1 }");
    struct { const char *type; const char *toC; const char *fromC; } cases[] = {
	{ "[3i", "cannot convert to type [3i", "cannot convert from type [3i" },
	{ "{?=i", "cannot convert to type {?=i", "cannot convert from type {?=i" },
	{ "(?=ic)8@0:8", "cannot convert to type (?=ic)", "cannot convert from type (?=ic)" },
	{ "b0I3", "cannot convert to type b0I3", "cannot convert from type b0I3" },
	{ "{?=\"a\"b0I3}",
	  "cannot convert to type b0I3 (while converting member \"a\" of struct {?=\"a\"b0I3})",
	  "cannot convert from type b0I3 (while converting element \"a\")" },
	{ "?", "cannot convert to type ?", "cannot convert from type ?" },
	{ "D", "cannot convert to type D", "cannot convert from type D" },
    };
    for (auto &c : cases) {
	EXPECT_EQ(1, ToC(value, storage, c.type)) << c.type;
	EXPECT_EQ(c.toC, Errors());
	Tcl_DStringSetLength(&errors, 0);
	EXPECT_EQ(1, FromC(sv_newmortal(), storage, c.type)) << c.type;
	EXPECT_EQ(c.fromC, Errors());
	Tcl_DStringSetLength(&errors, 0);
    }
    EXPECT_EQ(1, FromC(NULL, storage, "i")) << "a conversion from C needs a scalar to set";
    EXPECT_EQ("internal conversion error", Errors());
    Tcl_DStringSetLength(&errors, 0);
    memset(storage, 0x55, sizeof storage);
    EXPECT_EQ(0, ToC(NULL, storage, "i")) << "a missing scalar reads as undef";
    EXPECT_EQ(0, storage[0]);
}

TEST_F(PerlCTypes, ArgumentTypesInsideSignatures)
{
    int pair[2] = { 0, 0 };
    ASSERT_EQ(0, ToC(Perl("[4, 5]"), pair, "[2i]16@0:8")) << Errors();
    EXPECT_EQ(5, pair[1]);
    struct { int x; int y; } point = { 0, 0 };
    ASSERT_EQ(0, ToC(Perl("+{ _0 => 1, _1 => 2 }"), &point, "{?=ii}8:16")) << Errors();
    EXPECT_EQ(2, point.y);
    SV *back = sv_newmortal();
    ASSERT_EQ(0, FromC(back, &point, "{?=ii}8:16")) << Errors();
    EXPECT_EQ("ii", Text(back, "$v->{__signature}")) << "the signature ends with the structure";
}

}  // namespace
