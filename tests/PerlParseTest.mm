/*
 * PerlParseTest.mm --
 *
 *	Type declarations and encodings through the Perl binding's table:
 *	normalisation, every declaration form, the messages of malformed
 *	declarations, the text written for encodings, and that text parsing
 *	back to the same encoding.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "TypeDeclaration.h"
#include "PerlCTypes.h"
#include "BqOsmo.h"

#include <string>

namespace {

struct Outcome {
    int code;
    std::string text;
};

class PerlParse : public ::testing::Test {
protected:
    unsigned char savedTypeCheck;

    void SetUp() override
    {
	VantlePriv_CTypeInit();
	savedTypeCheck = BQ_CONTROL(runtime_type_check);
	BQ_CONTROL(runtime_type_check) = 0;
    }

    void TearDown() override
    {
	BQ_CONTROL(runtime_type_check) = savedTypeCheck;
    }

    static Outcome Encode(const std::string &declaration)
    {
	Tcl_DString result;
	Tcl_DStringInit(&result);
	int code = BqOsmo_EncodeDeclaration(VantlePriv_CTypeTable, declaration.c_str(), &result);
	Outcome outcome = { code, Tcl_DStringValue(&result) };
	Tcl_DStringFree(&result);
	return outcome;
    }

    static Outcome Unparse(const std::string &type)
    {
	Tcl_DString result;
	Tcl_DStringInit(&result);
	int code = BqOsmo_T2N(VantlePriv_CTypeTable, type.c_str(), &result);
	Outcome outcome = { code, Tcl_DStringValue(&result) };
	Tcl_DStringFree(&result);
	return outcome;
    }

    static Outcome Normalize(const char *text)
    {
	Tcl_DString result;
	Tcl_DStringInit(&result);
	int code = BqOsmo_NormalizeDeclaration(text, &result);
	Outcome outcome = { code, Tcl_DStringValue(&result) };
	Tcl_DStringFree(&result);
	return outcome;
    }

    static void ExpectEncoding(const std::string &declaration, const std::string &encoding)
    {
	Outcome outcome = Encode(declaration);
	EXPECT_EQ(0, outcome.code) << declaration << ": " << outcome.text;
	EXPECT_EQ(encoding, outcome.text) << declaration;
    }

    static void ExpectError(const std::string &declaration, const std::string &message)
    {
	Outcome outcome = Encode(declaration);
	EXPECT_EQ(1, outcome.code) << declaration << " gave " << outcome.text;
	EXPECT_EQ(message, outcome.text) << declaration;
    }

    static void ExpectText(const std::string &type, const std::string &text)
    {
	Outcome outcome = Unparse(type);
	EXPECT_EQ(0, outcome.code) << type << ": " << outcome.text;
	EXPECT_EQ(text, outcome.text) << type;
    }

    /* The declaration of the encoding parses back to the encoding. */
    static void ExpectRoundTrip(const std::string &declaration)
    {
	Outcome encoded = Encode(declaration);
	ASSERT_EQ(0, encoded.code) << declaration << ": " << encoded.text;
	Outcome text = Unparse(encoded.text);
	ASSERT_EQ(0, text.code) << encoded.text << ": " << text.text;
	Outcome again = Encode(text.text);
	EXPECT_EQ(0, again.code) << text.text << ": " << again.text;
	EXPECT_EQ(encoded.text, again.text) << declaration << " -> " << text.text;
    }
};

TEST_F(PerlParse, NormalisingSeparatesTokensByOneBlank)
{
    EXPECT_EQ("unsigned int", Normalize("  unsigned \t\n int ").text);
    EXPECT_EQ("char * *", Normalize("char**").text);
    EXPECT_EQ("id < NSCopying >", Normalize("id<NSCopying>").text);
    EXPECT_EQ("int [ 4 ]", Normalize("int[4]").text);
    EXPECT_EQ("struct pt { int x ; int y ; }",
	    Normalize("struct pt{int x;/* the x */int y; // the y\n}# done").text);
    EXPECT_EQ("a_b@1 x", Normalize("a_b@1/**/x").text);
    EXPECT_EQ("", Normalize("# nothing but a comment").text);

    EXPECT_EQ(1, Normalize("struct { int x;").code) << "an unclosed brace";
    EXPECT_EQ(1, Normalize("int }").code) << "a brace that closes nothing";
    EXPECT_EQ(1, Normalize("int /* unclosed").code) << "an unclosed comment";
    EXPECT_EQ(0, Normalize("struct { struct { int x; } a; }").code);
}

TEST_F(PerlParse, DeclarationsGiveEncodings)
{
    ExpectEncoding("unsigned  int", "I");
    ExpectEncoding("int *", "^i");
    ExpectEncoding("char * *", "^*");
    ExpectEncoding("NSString *", "@");
    ExpectEncoding("NSString * *", "^@");
    ExpectEncoding("int [4]", "[4i]");
    ExpectEncoding("int [007]", "[7i]");
    ExpectEncoding("int []", "^i");
    ExpectEncoding("int [2] [3]", "[3[2i]]");
    ExpectEncoding("int * [2]", "[2^i]");
    ExpectEncoding("int [2] *", "^[2i]");
    ExpectEncoding("(int)", "i");
    ExpectEncoding("((char)) *", "^c");
    ExpectEncoding("id <NSCopying>", "@");
    ExpectEncoding("struct pt { int x; int y; }", "{pt=\"x\"i\"y\"i}");
    ExpectEncoding("struct { int _; }", "{?=i}");
    ExpectEncoding("struct pt", "{pt}");
    ExpectEncoding("struct _NSRange { unsigned long location; unsigned long length; }",
	    "{_NSRange=\"location\"L\"length\"L}");
    ExpectEncoding("struct a { int x; }", "{a=\"x\"i}");
    ExpectEncoding("struct pt { }", "{pt=}");
    ExpectEncoding("struct line { struct pt { int x; } from; char * [2] names; int last }",
	    "{line=\"from\"{pt=\"x\"i}\"names\"[2*]\"last\"i}");
    ExpectEncoding("struct { id <NSCopying> thing; (int) n; }", "{?=\"thing\"@\"\"\"n\"i}");
    ExpectEncoding("struct { id a; int b; }", "{?=\"a\"@\"\"\"b\"i}");
    ExpectEncoding("struct { id * a; int _; id b; }", "{?=\"a\"^@i\"b\"@}");
    ExpectEncoding("KxZone *", "^{?=^?^?^?^?}");
    ExpectEncoding("BOOL", @encode(BOOL));
    ExpectEncoding("bool", "B");
}

TEST_F(PerlParse, QualifierKeywordsBecomeQualifierCharacters)
{
    ExpectEncoding("const char *", "r*");
    ExpectEncoding("const int *", "r^i");
    ExpectEncoding("inout int *", "N^i");
    ExpectEncoding("in out int *", "N^i");
    ExpectEncoding("out  NSString * *", "o^@");
    ExpectEncoding("bycopy id", "O@");
    ExpectEncoding("byref const in int *", "Rrn^i");
    ExpectEncoding("( const int ) *", "^ri");
    ExpectEncoding("const const int", "ri");
    ExpectEncoding("const (in (const int))", "rni");
    ExpectEncoding("bycopy id <NSCopying>", "O@");
    ExpectEncoding("const struct pt { int x; }", "r{pt=\"x\"i}");
}

TEST_F(PerlParse, TypeChecksNameClassesAndProtocols)
{
    BQ_CONTROL(runtime_type_check) = 1;
    ExpectEncoding("NSString *", "@\"NSString\"");
    ExpectEncoding("id <NSCopying>", "@\"<NSCopying>\"");
    ExpectEncoding("NSArray * [2]", "[2@\"NSArray\"]");
    ExpectEncoding("struct { NSString * name; }", "{?=\"name\"@\"NSString\"}");
}

TEST_F(PerlParse, MalformedDeclarationsAreErrors)
{
    ExpectError("", "NULL itype");
    ExpectError("   ", "NULL itype");
    ExpectError("int [x]", "error parsing array size");
    ExpectError("int [-1]", "illegal array");
    ExpectError("int [99999999999]", "error parsing array size");
    ExpectError("int 4 ]", "illegal array");
    ExpectError("[ 4 ]", "NULL itype (array)");
    ExpectError("nosuchtype", "illegal itype \"nosuchtype\"");
    ExpectError("nosuchtype *", "illegal itype \"nosuchtype\" (pointer)");
    ExpectError("nosuchtype [2]", "illegal itype \"nosuchtype\" (array)");
    ExpectError("(int) x", "error parsing group");
    ExpectError("(int", "error parsing group");
    ExpectError("()", "NULL itype");
    ExpectError("id <NoSuchProtocolAnywhere>", "illegal itype \"id < NoSuchProtocolAnywhere >\"");
    ExpectError("struct 1 { int x; }", "illegal structure");
    ExpectError("struct pt int x;", "illegal structure");
    ExpectError("struct pt { int x; } x", "error parsing structure");
    ExpectError("struct pt { int x;; }", "error parsing structure");
    ExpectError("struct pt { ; }", "error parsing structure");
    ExpectError("struct pt { int *; }", "error parsing structure");
    ExpectError("struct pt { nosuchtype x; }",
	    "illegal itype \"nosuchtype\" while parsing struct \"pt\"");
    ExpectError("struct { x; }", "NULL itype while parsing struct \"?\"");
    ExpectError("struct pt { int x;", "error parsing type \"struct pt { int x;\"");
    ExpectError("int /* x", "error parsing type \"int /* x\"");
    ExpectError("oneway [2]", "illegal itype \"oneway [ 2 ]\"");
    ExpectError("int [100000] [100000]", "illegal itype \"int [ 100000 ] [ 100000 ]\"");
    ExpectError("\xff\xfe", "illegal itype \"\xff \xfe\"");
}

TEST_F(PerlParse, NestingIsBounded)
{
    std::string pointers = "int";
    for (int i = 0; i < BQ_DECLARATION_MAX_DEPTH; i++) {
	pointers += " *";
    }
    Outcome deepest = Encode(pointers);
    EXPECT_EQ(0, deepest.code) << "pointers as deep as encodings may be";
    EXPECT_EQ(std::string(BQ_DECLARATION_MAX_DEPTH, '^') + "i", deepest.text);
    EXPECT_EQ(1, Encode(pointers + " *").code) << "one more is refused";

    std::string groups = std::string(20000, '(') + "int" + std::string(20000, ')');
    EXPECT_EQ(1, Encode(groups).code);
    std::string structures;
    for (int i = 0; i < 5000; i++) {
	structures += "struct { ";
    }
    structures += "int x;";
    for (int i = 0; i < 5000; i++) {
	structures += " } _;";
    }
    EXPECT_EQ(1, Encode(structures).code);
}

TEST_F(PerlParse, EncodingsGiveDeclarations)
{
    ExpectText("i", "int");
    ExpectText("C", "uchar");
    ExpectText("*", "STR");
    ExpectText("rC", "const uchar");
    ExpectText("N^i", "inout int *");
    ExpectText("r^i", "const int *");
    ExpectText("^r*", "(const STR) *");
    ExpectText("^c", "(char) *");
    ExpectText("r^^c", "const (char) * *");
    ExpectText("[3ri]", "(const int) [3]");
    ExpectText("[3[2i]]", "int [2] [3]");
    ExpectText("^[2^i]", "int * [2] *");
    ExpectText("@\"NSString\"", "NSString *");
    ExpectText("@\"<NSCopying>\"", "id <NSCopying>");
    ExpectText("@\"\"", "id");
    ExpectText("O@", "bycopy id");
    ExpectText("{pt}", "struct pt");
    ExpectText("{pt=\"x\"i\"y\"i}", "struct pt {\n  int x;\n  int y;\n}");
    ExpectText("{?=ic}", "struct {\n  int _;\n  char _;\n}");
    ExpectText("{?=}", "struct {\n}");
    ExpectText("{a=\"x\"i}", "struct a {\n  int x;\n}");
    ExpectText("{line=\"from\"{pt=\"x\"i}\"names\"[2*]}",
	    "struct line {\n  struct pt {\n    int x;\n  } from;\n  STR [2] names;\n}");
    ExpectText("{?=^?^?^?^?}", "KxZone");
    ExpectText("^{?=}", "unknownStructPtr");
    ExpectText("^{_NSZone}", "KxZonePtr");
    ExpectText("i12@0:8", "int");
    ExpectText("^{pt=ii}16@0:8", "struct pt {\n  int _;\n  int _;\n} *");
}

TEST_F(PerlParse, EncodingsWithoutDeclarationsAreErrors)
{
    std::pair<const char *, const char *> cases[] = {
	{ "(?=ic)", "illegal ctype \"(?=ic)\"" },
	{ "b3", "illegal ctype \"b3\"" },
	{ "[3i", "illegal ctype \"[3i\"" },
	{ "{pt=i", "illegal ctype \"{pt=i\"" },
	{ "^", "illegal ctype \"^\"" },
	{ "^(?=ic)", "illegal ctype \"(?=ic)\" (pointer)" },
	{ "[2(?=ic)]", "illegal ctype \"(?=ic)\" (array)" },
	{ "{?=\"a\"b0I3}", "illegal ctype \"b0I3\" (while unparsing struct)" },
	{ "{?=i{?=b3}}", "illegal ctype \"b3\" (while unparsing struct) (while unparsing struct)" },
    };
    for (auto &c : cases) {
	Outcome outcome = Unparse(c.first);
	EXPECT_EQ(1, outcome.code) << c.first << " gave " << outcome.text;
	EXPECT_EQ(c.second, outcome.text) << c.first;
    }
    Outcome after = Unparse("{?=\"a\"i}");
    EXPECT_EQ("struct {\n  int a;\n}", after.text) << "a failure leaves no indentation behind";
}

TEST_F(PerlParse, DeclarationsSurviveTheirOwnText)
{
    const char *declarations[] = {
	"int", "const char *", "unsigned long long", "int * * *", "int [4]", "int [2] [3] *",
	"NSString *", "NSString * [2]", "id <NSCopying>", "out id <NSCopying> *",
	"struct pt { int x; double y; }", "struct { int _; char c; }", "struct pt",
	"struct empty { }", "struct { }", "const struct pt { const char * name; } *",
	"struct a { struct b { struct c { int x; } c; } b; struct b [2] more; }",
	"( const int ) [3]", "( in int * ) [2] *", "bycopy byref out int *", "SEL [2]",
	"Class *", "struct _NSRange { unsigned long location; unsigned long length; } *",
	"KxZonePtr", "unknownStructPtr [3]", "undef *", "oneway *", "void [0]", "atom", "bool",
	"struct { id a; NSString * b; id * c; int d; }",
    };
    for (int check = 0; check <= 1; check++) {
	BQ_CONTROL(runtime_type_check) = (unsigned char) check;
	for (const char *declaration : declarations) {
	    ExpectRoundTrip(declaration);
	}
    }
}

}  // namespace
