/*
 * VantleVarTest.mm --
 *
 *	Value wrappers seen from a host program: the class each Perl type
 *	gets, the one reference count a wrapper holds, array and hash
 *	operations with their descriptions, references, truth, 64-bit
 *	integers, and the errors that reads and writes raise instead of
 *	unwinding, tied and overloaded values included.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqVantleInterp.h"
#include "EmbeddedPerl.h"

#include <stdint.h>
#include <unistd.h>

#include <string>

namespace {

class VantleVarTest : public ::testing::Test {
protected:
    PerlInterpreter *my_perl;
    BqVantleInterp *interp;
    NSAutoreleasePool *pool;

    void SetUp() override
    {
	my_perl = EmbeddedPerl();
	pool = [[NSAutoreleasePool alloc] init];
	interp = [BqVantleInterp defaultInterp];
	ENTER;
	SAVETMPS;
    }

    void TearDown() override
    {
	FREETMPS;
	LEAVE;
	[pool release];
    }

    BqVantleVar *Eval(const char *text)
    {
	int code = -1;
	BqVantleVar *var = [interp eval: text errorCode: &code listContext: NO];
	EXPECT_EQ(0, code) << text;
	return var;
    }

    BqVantleSV *Scalar(const char *text)
    {
	BqVantleSV *var = [[BqVantleSV alloc] init];
	[var setStringValue: text];
	return var;
    }

    /*
     * Runs body in a child process, which exits 0 when body raised "Perl
     * Error" and left the Perl stacks as they were, else 1.  A Perl
     * error that unwinds instead ends the child some other way.
     */
    template <typename Body>
    static void RaisesPerlErrorInChild(PerlInterpreter *my_perl, Body body)
    {
	SV **stack = PL_stack_sp;
	I32 *marks = PL_markstack_ptr;
	I32 scopes = PL_scopestack_ix;
	SSize_t floor = PL_tmps_floor;
	std::string name = RaisedName(body);
	int balanced = stack == PL_stack_sp && marks == PL_markstack_ptr
	    && scopes == PL_scopestack_ix && floor == PL_tmps_floor;
	if (name != "Perl Error" || !balanced) {
	    fprintf(stderr, "raised \"%s\", stacks %s\n", name.c_str(),
		    balanced ? "balanced" : "unbalanced");
	}
	_exit(name == "Perl Error" && balanced ? 0 : 1);
    }
};

TEST_F(VantleVarTest, TheClassFollowsThePerlType)
{
    EXPECT_EQ(nil, [BqVantleVar varWithSV: get_sv("main::never_assigned", GV_ADD)]);
    EXPECT_EQ(nil, [BqVantleVar varWithSV: NULL]);

    BqVantleVar *argv = [BqVantleVar varWithSV: (SV *) get_av("ARGV", GV_ADD)];
    EXPECT_TRUE([argv isMemberOfClass: [BqVantleAV class]]);
    BqVantleVar *env = [BqVantleVar varWithSV: (SV *) get_hv("ENV", GV_ADD)];
    EXPECT_TRUE([env isMemberOfClass: [BqVantleHV class]]);
    BqVantleVar *code = [BqVantleVar varWithSV: (SV *) get_cv("Vantle::EVAL", 0)];
    EXPECT_TRUE([code isMemberOfClass: [BqVantleVar class]]);
    EXPECT_TRUE([code isCV]);
    BqVantleVar *glob = [BqVantleVar varWithSV: (SV *) gv_fetchpv("main::STDOUT", 0, SVt_PVGV)];
    EXPECT_TRUE([glob isMemberOfClass: [BqVantleSV class]]);
    EXPECT_TRUE([glob isGV] && [glob isSV]);
    EXPECT_EQ(0, std::string([code descr]).find("CODE(0x"));
    [argv free];
    [env free];
    [code free];
    [glob free];
}

TEST_F(VantleVarTest, AWrapperHoldsOneCount)
{
    SV *variable = get_sv("main::held", GV_ADD);
    sv_setpv(variable, "held");
    U32 before = SvREFCNT(variable);
    BqVantleVar *first = [BqVantleVar varWithSV: variable];
    BqVantleVar *second = [BqVantleVar varWithSV: variable];
    EXPECT_EQ(before + 2, SvREFCNT(variable));
    [first free];
    [second retain];
    [second free];
    EXPECT_EQ(before + 1, SvREFCNT(variable)) << "a retained wrapper keeps its count";
    [second release];
    EXPECT_EQ(before, SvREFCNT(variable));
    EXPECT_STREQ("held", SvPV_nolen(variable));

    BqVantleSV *own = [[BqVantleSV alloc] init];
    EXPECT_EQ(1, [own refCount]);
    EXPECT_FALSE([own isMortal]);
    [own free];
}

TEST_F(VantleVarTest, ArraysPushPopAndDescribe)
{
    BqVantleAV *array = [[BqVantleAV alloc] init];
    BqVantleSV *three = [[BqVantleSV alloc] init];
    [three setIntValue: 3];
    [array push: three];
    EXPECT_EQ(1, [array count]);
    BqVantleSV *popped = [array pop];
    EXPECT_EQ(3, [popped intValue]);
    EXPECT_EQ(1, [popped refCount]);
    EXPECT_EQ(0, [array count]);
    EXPECT_EQ(nil, [array pop]);
    EXPECT_EQ(nil, [array shift]);
    [popped free];
    [three free];

    for (const char *letter : { "a", "b", "c" }) {
	BqVantleSV *element = Scalar(letter);
	[array push: element];
	[element free];
    }
    EXPECT_STREQ("0: a\n1: b\n...\n", [array shortDescr: 2]);
    EXPECT_STREQ("0: a\n1: b\n2: c\n", [array descr]);
    EXPECT_EQ(nil, [array fetchVarAtIndex: -1]);
    EXPECT_EQ(nil, [array fetchVarAtIndex: 3]);
    BqVantleSV *z = Scalar("z");
    EXPECT_TRUE([array storeVar: z atIndex: -1]);
    EXPECT_FALSE([array storeVar: z atIndex: -10]);
    EXPECT_FALSE([array storeVar: nil atIndex: 0]);
    [array unshift: 1];
    EXPECT_STREQ("0: -- NULL --\n1: a\n2: b\n3: z\n", [array descr]);
    BqVantleSV *first = [array shift];
    EXPECT_EQ(nil, first);
    BqVantleSV *a = [array shift];
    EXPECT_STREQ("a", [a stringValue]);
    [a free];
    [array clear];
    EXPECT_EQ(0, [array count]);

    /* An array wrapper around a scalar answers neutrally. */
    BqVantleAV *wrong = [[BqVantleAV alloc] _initWithSV: [z sValue]];
    EXPECT_EQ(-1, [wrong count]);
    EXPECT_EQ(NULL, [wrong shortDescr: 1]);
    EXPECT_EQ(nil, [wrong pop]);
    EXPECT_FALSE([wrong storeVar: z atIndex: 0]);
    [wrong free];
    [z free];
    [array free];
}

TEST_F(VantleVarTest, HashesStoreFetchIterateAndDescribe)
{
    BqVantleHV *hash = [[BqVantleHV alloc] init];
    BqVantleSV *one = Scalar("1");
    EXPECT_TRUE([hash storeVar: one key: "k"]);
    EXPECT_FALSE([hash storeVar: one key: NULL]);
    EXPECT_FALSE([hash storeVar: nil key: "k"]);
    [one free];
    EXPECT_STREQ("k: 1\n", [hash descr]);
    BqVantleSV *fetched = [hash fetchKey: "k"];
    EXPECT_EQ(1, [fetched intValue]);
    [fetched free];
    EXPECT_EQ(nil, [hash fetchKey: "missing"]);
    EXPECT_EQ(nil, [hash fetchKey: NULL]);

    [hash iterInit];
    EXPECT_EQ(NULL, [hash iterKey]);
    ASSERT_TRUE([hash iterNext]);
    EXPECT_STREQ("k", [hash iterKey]);
    BqVantleSV *value = [hash iterValue];
    EXPECT_STREQ("1", [value stringValue]);
    [value free];
    EXPECT_FALSE([hash iterNext]);
    EXPECT_EQ(nil, [hash iterValue]);

    BqVantleSV *two = Scalar("2");
    [hash storeVar: two key: "j"];
    [two free];
    std::string limited = [hash shortDescr: 1];
    EXPECT_EQ(limited.size() - 4, limited.rfind("...\n")) << limited;
    [hash clear];
    EXPECT_STREQ("", [hash descr]);
    [hash free];
}

TEST_F(VantleVarTest, ReferencesTruthAndHandles)
{
    BqVantleSV *scalar = Scalar("a string first");
    BqVantleAV *array = [[BqVantleAV alloc] init];
    [scalar setReferenceValue: array];
    EXPECT_EQ(2, [array refCount]);
    BqVantleVar *referent = [scalar referenceValue];
    EXPECT_TRUE([referent isKindOfClass: [BqVantleAV class]]);
    EXPECT_EQ([array sValue], [referent sValue]);
    [referent free];
    [scalar free];
    FREETMPS;
    EXPECT_EQ(1, [array refCount]);
    [array free];

    for (const char *falsehood : { "0", "" }) {
	BqVantleSV *value = Scalar(falsehood);
	EXPECT_FALSE([value true]) << falsehood;
	[value free];
    }
    for (const char *truth : { "00", "0.0", "a" }) {
	BqVantleSV *value = Scalar(truth);
	EXPECT_TRUE([value true]) << truth;
	[value free];
    }
    BqVantleSV *number = [[BqVantleSV alloc] init];
    [number setIntValue: 0];
    EXPECT_FALSE([number true]);
    [number setDoubleValue: 0.0];
    EXPECT_FALSE([number true]);
    [number setDoubleValue: 2.5];
    EXPECT_TRUE([number true]);
    EXPECT_DOUBLE_EQ(2.5, [number doubleValue]);
    EXPECT_FLOAT_EQ(2.5f, [number floatValue]);
    EXPECT_EQ(nil, [number referenceValue]);
    EXPECT_EQ(nil, [number idValue]);

    NSObject *object = [[[NSObject alloc] init] autorelease];
    [number setIdValue: object];
    EXPECT_EQ(object, [number idValue]);
    EXPECT_TRUE([number true]);
    [number setIdValue: nil];
    EXPECT_EQ(nil, [number idValue]);
    [number free];
}

TEST_F(VantleVarTest, ReadOnlyValuesAndPerlErrorsRaise)
{
    BqVantleSV *constant = (BqVantleSV *) Eval("\\1");
    BqVantleSV *one = [constant referenceValue];
    ASSERT_NE(nil, one);
    EXPECT_EQ("NSInvalidArgumentException", RaisedName([&] { [one setIntValue: 2]; }));
    EXPECT_EQ("NSInvalidArgumentException", RaisedName([&] { [one setStringValue: "2"]; }));
    EXPECT_EQ(1, [one intValue]);
    [one free];
    [constant free];

    [[interp eval: "package Dies; sub TIESCALAR { bless {} } sub FETCH { die qq{fetch\\n} }"
		  " package main; tie $main::tied, 'Dies'" errorCode: NULL] free];
    BqVantleSV *tied = [interp getVar: "$main::tied"];
    I32 *marks = PL_markstack_ptr;
    I32 scopes = PL_scopestack_ix;
    EXPECT_EQ("Perl Error", RaisedName([&] { [tied stringValue]; }));
    EXPECT_EQ("Perl Error", RaisedName([&] { [tied intValue]; }));
    EXPECT_EQ("Perl Error", RaisedName([&] { [tied true]; }));
    EXPECT_EQ(marks, PL_markstack_ptr);
    EXPECT_EQ(scopes, PL_scopestack_ix);
    [tied free];

    [[interp eval: "package Loud; use overload '\"\"' => sub { 'loud' };"
		  " package main; $main::loud = bless {}, 'Loud'" errorCode: NULL] free];
    BqVantleSV *loud = [interp getVar: "main::loud"];
    EXPECT_STREQ("loud", [loud descr]);
    [loud free];
}

TEST_F(VantleVarTest, IntegersKeepTheirSixtyFourBits)
{
    BqVantleSV *big = (BqVantleSV *) Eval("2**40 + 1");
    EXPECT_EQ(1099511627777LL, [big longLongValue]);
    EXPECT_EQ(1099511627777ULL, [big unsignedLongLongValue]);
    [big free];

    BqVantleSV *value = [[BqVantleSV alloc] init];
    [value setLongLongValue: INT64_MIN];
    EXPECT_STREQ("-9223372036854775808", [value stringValue]);
    EXPECT_EQ(INT64_MIN, [value longLongValue]);
    [value setUnsignedLongLongValue: UINT64_MAX];
    EXPECT_STREQ("18446744073709551615", [value stringValue]);
    EXPECT_EQ(UINT64_MAX, [value unsignedLongLongValue]);
    /* Beyond the integers a double holds exactly. */
    [value setStringValue: "9007199254740993"];
    EXPECT_EQ(9007199254740993LL, [value longLongValue]);
    [value setLongLongValue: -5];
    EXPECT_EQ(-5, [value intValue]);
    [value free];

    [[interp eval: "package Big; sub TIESCALAR { bless {} } sub FETCH { 4611686018427387907 }"
		  " package main; tie $main::big, 'Big'" errorCode: NULL] free];
    BqVantleSV *tied = [interp getVar: "$main::big"];
    EXPECT_EQ(4611686018427387907LL, [tied longLongValue]);
    [tied free];
}

/*
 * Every read or write through a wrapper that runs Perl code of a tie or
 * an overloaded operator runs trapped: its die comes out as "Perl
 * Error", with the Perl stacks as they were, never as a Perl error
 * unwinding through the caller.
 */
TEST_F(VantleVarTest, TiedAndOverloadedValuesRaiseInsteadOfUnwinding)
{
    [[interp eval:
	"package DiesFetching;"
	" sub TIESCALAR { bless {}, shift } sub TIEARRAY { bless {}, shift }"
	" sub TIEHASH { bless {}, shift }"
	" sub FETCH { die qq{fetch\\n} } sub STORE { die qq{store\\n} }"
	" sub FETCHSIZE { 1 } sub STORESIZE {} sub EXISTS { 1 }"
	" sub FIRSTKEY { 'k' } sub NEXTKEY { undef }"
	" package DiesKeying; our @ISA = 'DiesFetching';"
	" sub FIRSTKEY { bless [], 'DiesPrinting' }"
	" package DiesPrinting; use overload '\"\"' => sub { die qq{print\\n} };"
	" package main;"
	" tie $main::dies, 'DiesFetching'; tie @main::dies, 'DiesFetching';"
	" tie %main::dies, 'DiesFetching'; tie %main::dieskey, 'DiesKeying';"
	" @main::holds = (1); tie $main::holds[0], 'DiesFetching';"
	" %main::holds = (k => 1); tie $main::holds{k}, 'DiesFetching';"
	" $main::printer = bless sub {}, 'DiesPrinting'; 1" errorCode: NULL] free];
    BqVantleSV *dies = [interp getVar: "$main::dies"];
    BqVantleAV *tiedArray = [interp getVar: "@main::dies"];
    BqVantleHV *tiedHash = [interp getVar: "%main::dies"];
    BqVantleHV *tiedKeys = [interp getVar: "%main::dieskey"];
    BqVantleAV *holdsArray = [interp getVar: "@main::holds"];
    BqVantleHV *holdsHash = [interp getVar: "%main::holds"];
    BqVantleAV *plainArray = [[BqVantleAV alloc] init];
    BqVantleHV *plainHash = [[BqVantleHV alloc] init];
    BqVantleSV *plain = [[BqVantleSV alloc] init];
    BqVantleSV *printerRef = [interp getVar: "$main::printer"];
    BqVantleVar *printer = [printerRef referenceValue];
    ASSERT_TRUE(dies && tiedArray && tiedHash && tiedKeys && holdsArray && holdsHash && printer);

    /* The elements of tied containers fetch when they are read. */
    EXPECT_EXIT(RaisesPerlErrorInChild(my_perl, [&] {
	    [[tiedArray fetchVarAtIndex: 0] stringValue]; }), testing::ExitedWithCode(0), "")
	<< "element of a tied array";
    EXPECT_EXIT(RaisesPerlErrorInChild(my_perl, [&] { [tiedArray descr]; }),
	    testing::ExitedWithCode(0), "") << "description of a tied array";
    EXPECT_EXIT(RaisesPerlErrorInChild(my_perl, [&] {
	    [[tiedHash fetchKey: "k"] intValue]; }), testing::ExitedWithCode(0), "")
	<< "value of a tied hash";
    EXPECT_EXIT(RaisesPerlErrorInChild(my_perl, [&] { [tiedHash descr]; }),
	    testing::ExitedWithCode(0), "") << "description of a tied hash";
    EXPECT_EXIT(RaisesPerlErrorInChild(my_perl, [&] {
	    [tiedKeys iterInit]; [tiedKeys iterNext]; [tiedKeys iterKey]; }),
	    testing::ExitedWithCode(0), "") << "key of a tied hash that is an object";

    /* Storing a tied value reads it. */
    EXPECT_EXIT(RaisesPerlErrorInChild(my_perl, [&] { [plainArray storeVar: dies atIndex: 0]; }),
	    testing::ExitedWithCode(0), "") << "storeVar:atIndex: of a tied value";
    EXPECT_EXIT(RaisesPerlErrorInChild(my_perl, [&] { [plainArray push: dies]; }),
	    testing::ExitedWithCode(0), "") << "push: of a tied value";
    EXPECT_EXIT(RaisesPerlErrorInChild(my_perl, [&] { [plainHash storeVar: dies key: "k"]; }),
	    testing::ExitedWithCode(0), "") << "storeVar:key: of a tied value";
    EXPECT_EXIT(RaisesPerlErrorInChild(my_perl, [&] { [plain setSValue: [dies sValue]]; }),
	    testing::ExitedWithCode(0), "") << "setSValue: of a tied value";

    /* Copying containers into variables reads their tied elements. */
    EXPECT_EXIT(RaisesPerlErrorInChild(my_perl, [&] { [interp setVar: "@copy" to: holdsArray]; }),
	    testing::ExitedWithCode(0), "") << "setVar:to: of an array with a tied element";
    EXPECT_EXIT(RaisesPerlErrorInChild(my_perl, [&] { [interp setVar: "%copy" to: holdsHash]; }),
	    testing::ExitedWithCode(0), "") << "setVar:to: of a hash with a tied value";

    /* A value that is no scalar stringifies through its overloading. */
    EXPECT_EXIT(RaisesPerlErrorInChild(my_perl, [&] { [printer descr]; }),
	    testing::ExitedWithCode(0), "") << "description of overloaded code";

    BqVantleVar *made[] = { dies, tiedArray, tiedHash, tiedKeys, holdsArray, holdsHash,
			    plainArray, plainHash, plain, printerRef, printer };
    for (BqVantleVar *var : made) {
	[var free];
    }
}

} // namespace
