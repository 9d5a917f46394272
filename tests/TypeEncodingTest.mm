/*
 * TypeEncodingTest.mm --
 *
 *	Type encodings: layout against the compiler and the runtime, the
 *	skipping and validity rules, qualifiers, equality, signature walking,
 *	and malformed encodings of every kind.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "TypeEncoding.h"

#include <objc/runtime.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

/* Exactly-sized heap copy, so that a read past the NUL would be a read
 * past the block (and caught under the address sanitizer). */
struct ExactCopy {
    char *text;
    explicit ExactCopy(const std::string &s) : text((char *) malloc(s.size() + 1)) {
	memcpy(text, s.c_str(), s.size() + 1);
    }
    ~ExactCopy() { free(text); }
};

struct Mixed { char c; double d; short s; };
struct Nested { char a; struct Mixed inner[2]; union { int i; double d; char c[3]; } u; long long q; };
struct WithPointers { char tag; void *p; const char *s; id object; SEL selector; Class cls; };
struct Small { char a; short b; };
union Holder { struct Small small; struct Mixed mixed; char bytes[5]; };
struct InUnion { char c; union Holder holder; float f; };
struct BitFields { char c; unsigned a : 3; unsigned b : 7; short s; };
struct WideBits { long long q : 40; char c : 4; char z; };
struct CharBits { char c; unsigned char b : 2; };
struct Arrays { char name[3]; short grid[2][3]; double values[2]; };
struct LongDouble { char c; long double d; };
struct FunctionPointer { void (*fn)(int); char *text; };

/*
 * Checks the size and alignment of T against sizeof/alignof and against
 * the runtime's objc_sizeof_type/objc_alignof_type of @encode(T).
 */
template <typename T>
void
ExpectLayoutOf(const char *encoding, const char *what)
{
    SCOPED_TRACE(std::string(what) + " " + encoding);
    EXPECT_EQ((int) sizeof(T), BqTypeSpec_SizeOfType(encoding));
    EXPECT_EQ((int) alignof(T), BqTypeSpec_AlignOfType(encoding));
    EXPECT_EQ((int) sizeof(T), BqTypeSpec_AlignedSizeOfType(encoding));
    EXPECT_EQ(objc_sizeof_type(encoding), BqTypeSpec_SizeOfType(encoding));
    EXPECT_EQ(objc_alignof_type(encoding), BqTypeSpec_AlignOfType(encoding));
    EXPECT_TRUE(BqTypeSpec_IsValidCType(encoding));
    EXPECT_EQ(encoding + strlen(encoding), BqTypeSpec_SkipTypeSpec(encoding));
}

#define EXPECT_LAYOUT(T) ExpectLayoutOf<T>(@encode(T), #T)

/* Checks the offsets BqTypeSpec_NextMember computes, in member order. */
void
ExpectOffsets(const char *encoding, std::initializer_list<size_t> offsets)
{
    SCOPED_TRACE(encoding);
    BqTypeMember member;
    int status = BqTypeSpec_FirstMember(encoding, &member);
    for (size_t expected : offsets) {
	ASSERT_EQ(1, status);
	EXPECT_EQ((int) expected, member.offset) << "member " << member.index;
	status = BqTypeSpec_NextMember(&member);
    }
    EXPECT_EQ(0, status) << "more members than expected";
}

std::string
CapturedSkip(const char *type, const char **endPtr)
{
    testing::internal::CaptureStderr();
    *endPtr = BqTypeSpec_SkipTypeSpec(type);
    return testing::internal::GetCapturedStderr();
}

} // namespace

TEST(TypeSpecLayout, ScalarsFollowThisMachine)
{
    EXPECT_LAYOUT(char);
    EXPECT_LAYOUT(unsigned char);
    EXPECT_LAYOUT(short);
    EXPECT_LAYOUT(int);
    EXPECT_LAYOUT(long);
    EXPECT_LAYOUT(unsigned long);
    EXPECT_LAYOUT(long long);
    EXPECT_LAYOUT(float);
    EXPECT_LAYOUT(double);
    EXPECT_LAYOUT(long double);
    EXPECT_LAYOUT(bool);
    EXPECT_LAYOUT(BOOL);
    EXPECT_LAYOUT(NSUInteger);
    EXPECT_LAYOUT(char *);
    EXPECT_LAYOUT(id);
    EXPECT_LAYOUT(Class);
    EXPECT_LAYOUT(SEL);
    EXPECT_LAYOUT(int *);
    EXPECT_LAYOUT(NSZone *);
    EXPECT_EQ(8, BqTypeSpec_SizeOfType("%"));
    EXPECT_EQ(0, BqTypeSpec_SizeOfType("v"));
    EXPECT_EQ(1, BqTypeSpec_AlignOfType("v"));
    EXPECT_EQ(8, BqTypeSpec_SizeOfType("rn^i")) << "qualifiers do not count";
}

TEST(TypeSpecLayout, AggregatesMatchTheCompiler)
{
    EXPECT_LAYOUT(struct Mixed);
    EXPECT_LAYOUT(struct Nested);
    EXPECT_LAYOUT(struct WithPointers);
    EXPECT_LAYOUT(struct Small);
    EXPECT_LAYOUT(union Holder);
    EXPECT_LAYOUT(struct InUnion);
    EXPECT_LAYOUT(struct Arrays);
    EXPECT_LAYOUT(struct LongDouble);
    EXPECT_LAYOUT(struct FunctionPointer);
    EXPECT_LAYOUT(struct Mixed[3]);
    EXPECT_LAYOUT(char[3][5]);
    EXPECT_LAYOUT(NSRange);
    EXPECT_LAYOUT(NSRect);
    EXPECT_LAYOUT(struct BitFields);
    EXPECT_LAYOUT(struct WideBits);
    EXPECT_LAYOUT(struct CharBits);
}

TEST(TypeSpecLayout, MemberOffsetsMatchOffsetof)
{
    ExpectOffsets(@encode(struct Mixed),
	    { offsetof(Mixed, c), offsetof(Mixed, d), offsetof(Mixed, s) });
    ExpectOffsets(@encode(struct Nested),
	    { offsetof(Nested, a), offsetof(Nested, inner), offsetof(Nested, u), offsetof(Nested, q) });
    ExpectOffsets(@encode(struct WithPointers),
	    { offsetof(WithPointers, tag), offsetof(WithPointers, p), offsetof(WithPointers, s),
	      offsetof(WithPointers, object), offsetof(WithPointers, selector),
	      offsetof(WithPointers, cls) });
    ExpectOffsets(@encode(struct InUnion),
	    { offsetof(InUnion, c), offsetof(InUnion, holder), offsetof(InUnion, f) });
    ExpectOffsets(@encode(struct Arrays),
	    { offsetof(Arrays, name), offsetof(Arrays, grid), offsetof(Arrays, values) });
    ExpectOffsets(@encode(struct LongDouble), { offsetof(LongDouble, c), offsetof(LongDouble, d) });
    ExpectOffsets(@encode(union Holder), { 0, 0, 0 });
    /* Bit-fields report their storage unit; the short after them is placed
     * where the compiler put it. */
    ExpectOffsets(@encode(struct BitFields), { offsetof(BitFields, c), 0, 0, offsetof(BitFields, s) });
    ExpectOffsets("{pt=\"x\"i\"y\"d}", { 0, 8 });
}

TEST(TypeSpecLayout, MemberWalkGivesNamesAndTypes)
{
    BqTypeMember member;
    ASSERT_EQ(1, BqTypeSpec_FirstMember("r{pt=\"x\"i\"label\"@\"NSString\"}", &member));
    EXPECT_EQ(std::string("x"), std::string(member.name, member.nameLength));
    EXPECT_EQ(std::string("i"), std::string(member.type, member.typeEnd - member.type));
    ASSERT_EQ(1, BqTypeSpec_NextMember(&member));
    EXPECT_EQ(std::string("label"), std::string(member.name, member.nameLength));
    EXPECT_EQ(std::string("@\"NSString\""), std::string(member.type, member.typeEnd - member.type));
    EXPECT_EQ(8, member.offset);
    EXPECT_EQ(0, BqTypeSpec_NextMember(&member));
    EXPECT_EQ(0, BqTypeSpec_FirstMember("{tag}", &member)) << "an opaque structure has no members";
    EXPECT_EQ(-1, BqTypeSpec_FirstMember("i", &member));
    EXPECT_EQ(-1, BqTypeSpec_FirstMember("{a=i\"x", &member) == 1 ? BqTypeSpec_NextMember(&member) : -1);
}

TEST(TypeSpecLayout, SpecialShapes)
{
    EXPECT_EQ(8, BqTypeSpec_SizeOfType("{?=ci}"));
    EXPECT_EQ(8, BqTypeSpec_SizeOfType("{?=ic}")) << "sizeof includes the tail padding";
    EXPECT_EQ(24, BqTypeSpec_SizeOfType("[3{?=ic}]"));
    EXPECT_EQ(1, BqTypeSpec_AlignOfType("{?=cc}"));
    EXPECT_EQ(0, BqTypeSpec_SizeOfType("{tag}")) << "opaque structure";
    EXPECT_EQ(1, BqTypeSpec_AlignOfType("{?}"));
    EXPECT_EQ(0, BqTypeSpec_SizeOfType("(?=)"));
    EXPECT_EQ(1, BqTypeSpec_AlignOfType("(?=)")) << "never 0: sizes are divided by it";
    EXPECT_EQ(4, BqTypeSpec_SizeOfType("b5")) << "the bare bit-field form is an unsigned int";
    EXPECT_EQ(24, BqTypeSpec_SizeOfType("(_u=ic[3d])")) << "'_' union names";
    EXPECT_EQ(4, BqTypeSpec_SizeOfType("(?=ic)"));
    EXPECT_EQ(8, BqTypeSpec_WordSizeOfType("c"));
    EXPECT_EQ(24, BqTypeSpec_WordSizeOfType("[17c]"));
}

TEST(TypeSpecSkip, StopsAfterOneType)
{
    const char *t1 = "@\"NSString\"i";
    EXPECT_EQ(t1 + 11, BqTypeSpec_SkipTypeSpec(t1));
    const char *t2 = "{Point=\"x\"i\"y\"i}c";
    EXPECT_EQ(t2 + 16, BqTypeSpec_SkipTypeSpec(t2));
    const char *t3 = "(?=id[3c])q";
    EXPECT_EQ(t3 + 10, BqTypeSpec_SkipTypeSpec(t3));
    const char *t4 = "^^{_NSZone=^?Q}i";
    EXPECT_EQ(t4 + 15, BqTypeSpec_SkipTypeSpec(t4));
    const char *t5 = "{B=cb8I3b11I7s}i";
    EXPECT_EQ(t5 + 15, BqTypeSpec_SkipTypeSpec(t5));
    const char *t6 = "rn^i8";
    EXPECT_EQ(t6 + 4, BqTypeSpec_SkipTypeSpec(t6));
    EXPECT_STREQ("v", BqTypeSpec_SkipTypeQualifiers("Vv"));
    EXPECT_STREQ("V12", BqTypeSpec_SkipTypeQualifiers("V12"));
    EXPECT_STREQ("", BqTypeSpec_SkipTypeSpec("rn")) << "only qualifiers: the end, silently";
    EXPECT_STREQ("i", BqTypeSpec_SkipArgument("@-8i"));
    EXPECT_STREQ("x", BqTypeSpec_SkipOffset("x")) << "no offset: nothing passed";
    EXPECT_STREQ("\"rest", BqTypeSpec_SkipStructElementName("\"x\"\"rest"));
}

TEST(TypeSpecSkip, Validity)
{
    EXPECT_TRUE(BqTypeSpec_IsValidCType("^?"));
    EXPECT_TRUE(BqTypeSpec_IsValidCType("{?=i^?}"));
    EXPECT_TRUE(BqTypeSpec_IsValidCType("{?}"));
    EXPECT_TRUE(BqTypeSpec_IsValidCType("{tag=}"));
    EXPECT_TRUE(BqTypeSpec_IsValidCType("(?=?i)")) << "unions are not looked into";
    EXPECT_TRUE(BqTypeSpec_IsValidCType("r^{?=\"a\"[2*]}"));
    EXPECT_FALSE(BqTypeSpec_IsValidCType("?"));
    EXPECT_FALSE(BqTypeSpec_IsValidCType(""));
    EXPECT_FALSE(BqTypeSpec_IsValidCType("rn"));
    EXPECT_FALSE(BqTypeSpec_IsValidCType("[2?]"));
    EXPECT_FALSE(BqTypeSpec_IsValidCType("{?=i?}"));
    EXPECT_FALSE(BqTypeSpec_IsValidCType("^{?=i?}"));
    EXPECT_FALSE(BqTypeSpec_IsValidCType("j"));
    EXPECT_FALSE(BqTypeSpec_IsValidCType(NULL));
}

TEST(TypeSpecQualifiers, ReadFixAndWrite)
{
    EXPECT_EQ(0x01 | 0x02, BqTypeSpec_GetTypeQualifiers("rn^i"));
    EXPECT_EQ(0, BqTypeSpec_GetTypeQualifiers("Vr^i")) << "V stops the reading";
    char a[] = "onri";
    EXPECT_STREQ("i", BqTypeSpec_FixTypeQualifiers(a));
    char b[] = "Oon^i";
    EXPECT_STREQ("NO^i", BqTypeSpec_FixTypeQualifiers(b));
    char c[] = "RVr*";
    EXPECT_STREQ("rR*", BqTypeSpec_FixTypeQualifiers(c));
    char d[] = "^i";
    EXPECT_EQ(d, BqTypeSpec_FixTypeQualifiers(d));
    char e[] = "Orn";
    EXPECT_STREQ("O", BqTypeSpec_FixTypeQualifiers(e)) << "qualifiers without a type";

    Tcl_DString ds;
    Tcl_DStringInit(&ds);
    BqTypeSpec_Qualifiers(&ds, 0x1f);
    EXPECT_STREQ("ORrN", Tcl_DStringValue(&ds));
    Tcl_DStringSetLength(&ds, 0);
    BqTypeSpec_Qualifiers(&ds, 0x04);
    EXPECT_STREQ("o", Tcl_DStringValue(&ds));
    Tcl_DStringFree(&ds);
}

TEST(TypeSpecQualifiers, Direction)
{
    EXPECT_EQ(0x06, BqTypeSpec_GetArgInOutType("^i"));
    EXPECT_EQ(0x02, BqTypeSpec_GetArgInOutType("n^i"));
    EXPECT_EQ(0x04, BqTypeSpec_GetArgInOutType("o^i"));
    EXPECT_EQ(0x02, BqTypeSpec_GetArgInOutType("i"));
    EXPECT_EQ(0, BqTypeSpec_GetArgInOutType("v"));
    EXPECT_EQ(0x0a, BqTypeSpec_GetArgInOutType("O@"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(0x07, BqTypeSpec_GetArgInOutType("ro^i"));
    EXPECT_EQ("WARNING: type is \"const out\"\n", testing::internal::GetCapturedStderr());
}

TEST(TypeSpecCompare, Equality)
{
    EXPECT_TRUE(BqTypeSpec_EqTypes("@\"NSString\"", "@"));
    EXPECT_FALSE(BqTypeSpec_EqTypes("@\"NSString\"", "@\"NSArray\""));
    EXPECT_FALSE(BqTypeSpec_EqTypes("@\"NSString\"", "@\"NSStringX\""));
    EXPECT_TRUE(BqTypeSpec_EqTypes("ri8", "i"));
    EXPECT_TRUE(BqTypeSpec_EqTypes("{?=ii}", "{_pt=ii}"));
    EXPECT_FALSE(BqTypeSpec_EqTypes("{_pt=ii}", "{_NSRange=QQ}"));
    EXPECT_TRUE(BqTypeSpec_EqTypes("{pt=\"x\"i\"y\"i}", "{pt=ii}"));
    EXPECT_TRUE(BqTypeSpec_EqTypes("v24@0:8i16", "v@:i"));
    EXPECT_FALSE(BqTypeSpec_EqTypes("v@:i", "v@:d"));
    EXPECT_FALSE(BqTypeSpec_EqTypes("[3i]", "[4i]")) << "array counts count";
    EXPECT_FALSE(BqTypeSpec_EqTypes("{a=b0I3}", "{a=b0I5}"));
    EXPECT_TRUE(BqTypeSpec_EqTypes("(?=id)", "(u=id)"));
    EXPECT_FALSE(BqTypeSpec_EqTypes(NULL, "i"));
    EXPECT_FALSE(BqTypeSpec_EqTypes("i", NULL));

    EXPECT_TRUE(BqTypeSpec_CompatiblePtrTypes("^v", "^{foo=i}"));
    EXPECT_TRUE(BqTypeSpec_CompatiblePtrTypes("^{foo=i}", "^rv"));
    EXPECT_TRUE(BqTypeSpec_CompatiblePtrTypes("^i", "^ri"));
    EXPECT_FALSE(BqTypeSpec_CompatiblePtrTypes("^i", "^d"));
    EXPECT_FALSE(BqTypeSpec_CompatiblePtrTypes("i", "^i"));
    EXPECT_FALSE(BqTypeSpec_CompatiblePtrTypes("^i", NULL));
}

TEST(TypeSpecCompare, StripQuotes)
{
    char buffer[32];
    EXPECT_EQ(1, BqTypeSpec_StripCTypeQuote("{p=\"x\"i}", buffer));
    EXPECT_STREQ("{p=i}", buffer);
    EXPECT_EQ(0, BqTypeSpec_StripCTypeQuote("{p=i}", buffer));
    EXPECT_STREQ("{p=i}", buffer);
    EXPECT_EQ(1, BqTypeSpec_StripCTypeQuote("@\"unclosed", buffer));
    EXPECT_STREQ("@", buffer);
}

TEST(TypeSpecSignature, WalkACompleteSignature)
{
    BqOsmoMethodDescription method = { NULL, "v20@0:8i16", NULL };
    EXPECT_EQ(3, BqMethod_GetNumberOfArguments(&method));
    EXPECT_EQ(20, BqMethod_GetSizeOfArguments(&method));

    char stacked[32];
    void *frame[4] = { stacked, NULL, NULL, NULL };
    const char *cursor = NULL;
    EXPECT_EQ((void *) stacked, BqMethod_GetFirstArgument(&method, frame, &cursor));
    EXPECT_STREQ("@0:8i16", cursor);
    EXPECT_EQ((void *) (stacked + 8), BqMethod_GetNextArgument(frame, &cursor));
    EXPECT_EQ((void *) (stacked + 16), BqMethod_GetNextArgument(frame, &cursor));
    EXPECT_STREQ("i16", cursor);
    EXPECT_EQ(nullptr, BqMethod_GetNextArgument(frame, &cursor));
    EXPECT_STREQ("i16", cursor) << "the end leaves the cursor alone";

    BqOsmoMethodDescription registers = { NULL, "i16@+8:+16", NULL };
    EXPECT_EQ((void *) ((char *) frame + 8), BqMethod_GetFirstArgument(&registers, frame, &cursor));

    BqOsmoMethodDescription empty = { NULL, "", NULL };
    EXPECT_EQ(0, BqMethod_GetNumberOfArguments(&empty));
    EXPECT_EQ(nullptr, BqMethod_GetFirstArgument(&empty, frame, &cursor));
}

TEST(TypeSpecSignature, RealGNUstepMethods)
{
    struct { Class cls; SEL selector; } methods[] = {
	{ [NSString class], @selector(substringWithRange:) },
	{ [NSString class], @selector(rangeOfString:) },
	{ [NSString class], @selector(getCharacters:range:) },
	{ [NSString class], @selector(initWithBytes:length:encoding:) },
	{ [NSString class], @selector(isEqualToString:) },
	{ [NSString class], @selector(compare:options:range:locale:) },
	{ [NSString class], @selector(characterAtIndex:) },
	{ [NSArray class], @selector(getObjects:range:) },
	{ [NSObject class], @selector(performSelector:withObject:) },
	{ [NSObject class], @selector(zone) },
    };
    for (auto &m : methods) {
	Method method = class_getInstanceMethod(m.cls, m.selector);
	ASSERT_NE(nullptr, method) << sel_getName(m.selector);
	const char *types = method_getTypeEncoding(method);
	SCOPED_TRACE(types);
	NSMethodSignature *signature = [NSMethodSignature signatureWithObjCTypes: types];
	BqOsmoMethodDescription description = { m.selector, types, NULL };
	int count = BqMethod_GetNumberOfArguments(&description);
	EXPECT_EQ((int) [signature numberOfArguments], count);
	EXPECT_TRUE(BqTypeSpec_EqTypes(types, [signature methodReturnType]));

	char stacked[8];
	void *frame[4] = { stacked, NULL, NULL, NULL };
	const char *cursor;
	int index = 0;
	for (void *address = BqMethod_GetFirstArgument(&description, frame, &cursor);
		address != NULL; address = BqMethod_GetNextArgument(frame, &cursor), index++) {
	    EXPECT_TRUE(BqTypeSpec_EqTypes(cursor, [signature getArgumentTypeAtIndex: index]))
		    << "argument " << index;
	    EXPECT_TRUE(BqTypeSpec_IsValidCType(cursor)) << "argument " << index;
	    EXPECT_GE((char *) address, stacked);
	}
	EXPECT_EQ(count, index);
    }
}

TEST(TypeSpecMalformed, EachKindIsReportedAndStopsTheWalk)
{
    struct { const char *type; const char *message; } cases[] = {
	{ "[3i", "Osmo: (skip) illegal type: missing ']' in \"[3i\"\n" },
	{ "[3i}x", "Osmo: (skip) illegal type: missing ']' in \"[3i}x\"\n" },
	{ "[3", "Osmo: (skip) illegal type: type cut short in \"[3\"\n" },
	{ "{a=ii", "Osmo: (skip) illegal type: unclosed '{' in \"{a=ii\"\n" },
	{ "{abc", "Osmo: (skip) illegal type: unclosed '{' in \"{abc\"\n" },
	{ "(?=ii", "Osmo: (skip) illegal type: unclosed '(' in \"(?=ii\"\n" },
	{ "(_abc", "Osmo: (skip) illegal type: unclosed '(' in \"(_abc\"\n" },
	{ "@\"NSStr", "Osmo: (skip) illegal type: unclosed quote in \"@\"NSStr\"\n" },
	{ "{a=\"x", "Osmo: (skip) illegal type: unclosed quote in \"{a=\"x\"\n" },
	{ "{a=\"x\"}", "Osmo: (skip) illegal type: element name without a type in \"{a=\"x\"}\"\n" },
	{ "^", "Osmo: (skip) illegal type: type cut short in \"^\"\n" },
	{ "!i", "Osmo: (skip) illegal type: !\n" },
	{ "{a=i!}", "Osmo: (skip) illegal type: !\n" },
	{ "\x01", "Osmo: (skip) illegal type: \\x01\n" },
	{ "[99999999999i]", "Osmo: (skip) illegal type: array too large in \"[99999999999i]\"\n" },
	{ "[65536[65536i]]", "Osmo: (skip) illegal type: array too large in \"[65536[65536i]]\"\n" },
    };
    for (auto &c : cases) {
	SCOPED_TRACE(c.type);
	ExactCopy copy(c.type);
	const char *end;
	EXPECT_EQ(c.message, CapturedSkip(copy.text, &end));
	EXPECT_EQ(copy.text + strlen(copy.text), end) << "the walk stops at the end";
	EXPECT_FALSE(BqTypeSpec_IsValidCType(copy.text));
	EXPECT_EQ(8, BqTypeSpec_AlignOfType(copy.text));
	testing::internal::CaptureStderr();
	EXPECT_EQ(8, BqTypeSpec_SizeOfType(copy.text));
	EXPECT_EQ(0u, testing::internal::GetCapturedStderr().find("Osmo: (size) illegal type: "));
    }
}

TEST(TypeSpecMalformed, DeepNestingIsRefused)
{
    std::string deep;
    for (int i = 0; i < 5000; i++) {
	deep += "[1";
    }
    deep += "i";
    for (int i = 0; i < 5000; i++) {
	deep += "]";
    }
    ExactCopy copy(deep);
    const char *end;
    std::string message = CapturedSkip(copy.text, &end);
    EXPECT_EQ(0u, message.find("Osmo: (skip) illegal type: types nested too deeply in \"[1[1"));
    EXPECT_EQ(copy.text + deep.size(), end);
    EXPECT_FALSE(BqTypeSpec_IsValidCType(copy.text));

    std::string pointers(50, '^');
    pointers += "i";
    EXPECT_TRUE(BqTypeSpec_IsValidCType(pointers.c_str())) << "moderate nesting is fine";
}

TEST(TypeSpecMalformed, EveryCutOfRealEncodingsIsSafe)
{
    const char *encodings[] = {
	@encode(struct Nested), @encode(struct InUnion), @encode(struct BitFields),
	"{pt=\"x\"i\"label\"@\"NSString\"}", "v24@0:8^r{?=[2(_u=ic)]}16",
	"{_NSRect={_NSPoint=dd}{_NSSize=dd}}32@0:8",
    };
    for (const char *encoding : encodings) {
	std::string full(encoding);
	for (size_t cut = 0; cut <= full.size(); cut++) {
	    ExactCopy copy(full.substr(0, cut));
	    size_t length = strlen(copy.text);
	    testing::internal::CaptureStderr();
	    const char *p = copy.text;
	    int steps = 0;
	    while (*p != '\0') {
		const char *next = BqTypeSpec_SkipArgument(p);
		ASSERT_GT(next, p) << "no progress at cut " << cut;
		ASSERT_LE(next, copy.text + length);
		p = next;
		steps++;
	    }
	    BqTypeSpec_SizeOfType(copy.text);
	    BqTypeSpec_EqTypes(copy.text, encoding);
	    BqTypeSpec_EqTypes(encoding, copy.text);
	    testing::internal::GetCapturedStderr();
	    EXPECT_LE(steps, (int) length);
	}
    }
}

TEST(TypeSpecSelectors, Str2SEL)
{
    EXPECT_TRUE(sel_isEqual(@selector(description), BqTypeSpec_Str2SEL("description")));
    char name[] = "bqTypeEncodingTestSelectorNobodyHas:";
    SEL made = BqTypeSpec_Str2SEL(name);
    ASSERT_NE(nullptr, made);
    name[0] = 'X';
    EXPECT_STREQ("bqTypeEncodingTestSelectorNobodyHas:", sel_getName(made))
	    << "registered under a copy that outlives the caller's buffer";
    EXPECT_EQ(nullptr, BqTypeSpec_Str2SEL(NULL));
}
