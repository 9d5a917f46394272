/*
 * VantleInterpTest.mm --
 *
 *	The interpreter object seen from a host program: its one object per
 *	interpreter, every evaluation form with values, empty results and
 *	errors, compiling and calling, variables, publishing objects, the
 *	ownership of result values, and the Perl stacks after failures.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqVantleInterp.h"
#include "EmbeddedPerl.h"
#include "BqOsmo.h"
#include "KxError.h"

#include <objc/runtime.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

namespace {

class VantleInterpTest : public ::testing::Test {
protected:
    PerlInterpreter *my_perl;
    BqVantleInterp *interp;
    NSAutoreleasePool *pool;

    void SetUp() override
    {
	my_perl = EmbeddedPerl();
	pool = [[NSAutoreleasePool alloc] init];
	interp = [BqVantleInterp defaultInterp];
	ASSERT_NE(nil, interp);
	ENTER;
	SAVETMPS;
    }

    void TearDown() override
    {
	FREETMPS;
	LEAVE;
	[pool release];
    }

    /* The integer of a Perl expression, evaluated in scalar context. */
    int Int(const char *text)
    {
	int code = -1;
	BqVantleSV *value = [interp eval: text errorCode: &code listContext: NO];
	EXPECT_EQ(0, code) << text;
	int result = [value intValue];
	[value free];
	return result;
    }

    /* The description of a wrapper, which is then freed. */
    std::string Take(BqVantleVar *var)
    {
	std::string text = var != nil && [var descr] != NULL ? [var descr] : "(nil)";
	[var free];
	return text;
    }

    /* The elements of an array wrapper as "a,b,c" (undef as ""); frees it. */
    std::string Elements(BqVantleAV *array)
    {
	std::string text;
	for (int i = 0; i < [array count]; i++) {
	    BqVantleVar *element = [array fetchVarAtIndex: i];
	    text += (i > 0 ? "," : "") + std::string(element != nil ? [element descr] : "");
	    [element free];
	}
	[array free];
	return text;
    }
};

TEST_F(VantleInterpTest, TheBootMadeTheObjectOfThisInterpreter)
{
    EXPECT_EQ((void *) my_perl, [interp perlInterpreter]);
    EXPECT_EQ(interp, [BqVantleInterp findObjectForPerlInterpreter: my_perl]);
    EXPECT_EQ(interp, [BqVantleInterp getDefaultInterp]);
    EXPECT_EQ([BqVantleInterp class], [BqInterp getClassForLanguage: "Perl"]);
    /* GCC's runtime keeps one protocol object per module: ask by name. */
    EXPECT_TRUE([interp conformsToProtocol: objc_getProtocol("BqVantleInterpProtocol")]);
    EXPECT_EQ(2, [BqVantleInterp version]);

    BqVantleSV *published = [interp getVar: "$Vantle::interp"];
    EXPECT_EQ(interp, [published idValue]);
    [published free];
    EXPECT_EQ(1, Int("tied(%Vantle::CONTROL) ? 1 : 0"));
    EXPECT_EQ(1, Int("$Vantle::interp->isEqual_($Vantle::interp) ? 1 : 0"));
}

TEST_F(VantleInterpTest, OneObjectPerInterpreter)
{
    id again = [[BqVantleInterp alloc] initForPerlInterpreter: my_perl];
    EXPECT_EQ(interp, again);
    [again release];
    EXPECT_EQ(interp, [BqVantleInterp findObjectForPerlInterpreter: my_perl]);
    EXPECT_EQ(nil, [BqVantleInterp findObjectForPerlInterpreter: (void *) &again]);
}

TEST_F(VantleInterpTest, AnObjectWithoutInterpreterCannotBeMade)
{
    unsigned char saved = BQ_CONTROL(use_ns_exceptions);
    for (int useNS = 0; useNS <= 1; useNS++) {
	BQ_CONTROL(use_ns_exceptions) = (unsigned char) useNS;
	NSException *caught = nil;
	@try {
	    [[BqVantleInterp alloc] init];
	} @catch (NSException *exception) {
	    caught = exception;
	}
	ASSERT_NE(nil, caught);
	ASSERT_TRUE([caught isKindOfClass: [KxException class]]);
	if (useNS) {
	    EXPECT_STREQ("OSMO_TCLERROR_EXCEPTION", [[caught name] UTF8String]);
	    EXPECT_EQ(100603, [(KxException *) caught code]);
	} else {
	    EXPECT_EQ(136661303, [(KxException *) caught code]);
	    EXPECT_STREQ("cannot create perl interp (WinNT)",
		    (const char *) [(KxException *) caught data1]);
	}
    }
    BQ_CONTROL(use_ns_exceptions) = saved;
    EXPECT_EQ(interp, [BqVantleInterp defaultInterp]);
}

TEST_F(VantleInterpTest, EvaluationAnswersValuesInTheirShapes)
{
    int code = -1;
    BqVantleVar *sum = [interp eval: "1+1" errorCode: &code];
    EXPECT_EQ(0, code);
    ASSERT_TRUE([sum isKindOfClass: [BqVantleSV class]]);
    EXPECT_EQ(2, [(BqVantleSV *) sum intValue]);
    EXPECT_EQ(1, [sum refCount]);
    [sum free];

    BqVantleVar *list = [interp eval: "(1,2,3)" errorCode: &code];
    ASSERT_TRUE([list isKindOfClass: [BqVantleAV class]]);
    EXPECT_EQ("1,2,3", Elements((BqVantleAV *) list));
    EXPECT_EQ(nil, [interp eval: "()" errorCode: &code]);
    EXPECT_EQ(0, code);
    EXPECT_EQ(nil, [interp eval: "undef" errorCode: &code]);
    EXPECT_EQ("3", Take([interp eval: "(1,2,3)[-1]" errorCode: &code listContext: NO]));
    EXPECT_EQ("3", Take([interp eval: "my @a = (4,5,6); @a" errorCode: &code listContext: NO]));
    EXPECT_EQ("42", Take([interp mortalEval: "6 * 7"]));
    EXPECT_EQ("ok", Take([interp eval: "'ok'" errorCode: NULL listContext: YES
			      interactor: interp]));
    EXPECT_EQ(nil, [interp _interactor]);

    EXPECT_EQ(",5,6", Elements([interp eval2: "(5,6)"]));
    EXPECT_EQ(",7", Elements([interp eval2: "7"]));
    BqVantleAV *empty = [interp eval2: "()"];
    EXPECT_EQ(1, [empty count]);
    EXPECT_EQ(nil, [empty fetchVarAtIndex: 0]);
    [empty free];

    /* The text runs in package main, without strictures. */
    EXPECT_EQ(9, Int("$undeclared_here = 9; $main::undeclared_here"));
    EXPECT_EQ("main", Take([interp eval: "__PACKAGE__" errorCode: NULL]));
}

TEST_F(VantleInterpTest, EvaluationReportsPerlErrors)
{
    int code = -1;
    BqVantleVar *error = [interp eval: "die 'x'" errorCode: &code];
    EXPECT_EQ(1, code);
    EXPECT_EQ(0, Take(error).find("x at (eval"));
    EXPECT_EQ(nil, [interp eval: "die 'x'" errorCode: NULL]);
    EXPECT_EQ("x\n", Take([interp eval: "die qq{x\\n}" errorCode: &code listContext: NO]));
    EXPECT_EQ(1, code);
    EXPECT_EQ("x\n", Elements([interp eval2: "die qq{x\\n}"]));
    EXPECT_EQ("BqVantleInterp: no Perl text given\n", Take([interp eval: NULL errorCode: &code]));
    EXPECT_EQ(1, code);
    EXPECT_EQ(0, Take([interp eval: "1 +" errorCode: &code]).find("syntax error"));

    /* A success afterwards clears the code. */
    EXPECT_EQ("1", Take([interp eval: "1" errorCode: &code]));
    EXPECT_EQ(0, code);

    NSException *caught = nil;
    @try {
	[interp mortalEval: "die qq{mortal\\n}"];
    } @catch (NSException *exception) {
	caught = exception;
    }
    ASSERT_NE(nil, caught);
    EXPECT_STREQ("Perl Error", [[caught name] UTF8String]);
    EXPECT_STREQ("mortalEval:: mortal\n", [[caught reason] UTF8String]);
}

TEST_F(VantleInterpTest, FilesRunThroughTheSameForms)
{
    char path[] = "/tmp/vantle-interp-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const char *script = "our $from_file = 5;\n(1, $from_file)\n";
    ASSERT_EQ((ssize_t) strlen(script), write(fd, script, strlen(script)));
    close(fd);

    int code = -1;
    EXPECT_EQ("1,5", Elements([interp evalFile: path errorCode: &code]));
    EXPECT_EQ(0, code);
    EXPECT_EQ(",1,5", Elements([interp evalFile2: path]));
    EXPECT_EQ("1,5", Elements([interp mortalEvalFile: path]));
    unlink(path);

    std::string missing = Take([interp evalFile: path errorCode: &code]);
    EXPECT_EQ(1, code);
    EXPECT_EQ("Vantle::SOURCE: cannot read " + std::string(path) + "\n", missing);
    BqVantleAV *failed = [interp evalFile2: path];
    EXPECT_EQ(1, [failed count]);
    [failed free];
    NSException *caught = nil;
    @try {
	[interp mortalEvalFile: path];
    } @catch (NSException *exception) {
	caught = exception;
    }
    EXPECT_NE(nil, caught);
}

TEST_F(VantleInterpTest, CompiledSubsCanBeCalled)
{
    int code = -1;
    BqVantleSV *twice = [interp compile: "$_[0] * 2" errorCode: &code];
    ASSERT_NE(nil, twice);
    EXPECT_EQ(0, code);
    BqVantleVar *body = [twice referenceValue];
    EXPECT_TRUE([body isCV]);
    [body free];

    BqVantleAV *args = [[BqVantleAV alloc] init];
    BqVantleSV *number = [[BqVantleSV alloc] init];
    [number setIntValue: 21];
    [args push: number];
    [number free];
    EXPECT_EQ("42", Take([interp call: twice args: args errorCode: &code listContext: NO]));
    EXPECT_EQ(0, code);

    BqVantleSV *pair = [interp compile: "($_[0], scalar @_)" errorCode: &code];
    EXPECT_EQ("21,1", Elements([interp call: pair args: args errorCode: &code listContext: YES]));
    EXPECT_EQ("1", Take([interp call: pair args: args errorCode: &code listContext: NO]));
    EXPECT_EQ("0", Take([interp call: pair args: nil errorCode: NULL listContext: NO]));
    [pair free];

    /* A sub named by a string; a dying sub; no sub; arguments no array. */
    [[interp eval: "sub main::triple { $_[0] * 3 }" errorCode: NULL] free];
    BqVantleSV *name = [[BqVantleSV alloc] init];
    [name setStringValue: "main::triple"];
    EXPECT_EQ("63", Take([interp call: name args: args errorCode: &code listContext: NO]));
    [name free];
    BqVantleSV *dies = [interp compile: "die qq{no\\n}" errorCode: &code];
    EXPECT_EQ("no\n", Take([interp call: dies args: args errorCode: &code listContext: YES]));
    EXPECT_EQ(1, code);
    EXPECT_EQ(nil, [interp call: dies args: args errorCode: NULL listContext: YES]);
    [dies free];
    EXPECT_EQ("BqVantleInterp: no sub given\n",
	    Take([interp call: nil args: args errorCode: &code listContext: NO]));
    EXPECT_EQ("BqVantleInterp: the arguments are no plain array\n",
	    Take([interp call: twice args: twice errorCode: &code listContext: NO]));
    EXPECT_EQ(1, code);
    [twice free];
    [args free];
}

TEST_F(VantleInterpTest, CompileErrorsAreCodedOrWarned)
{
    int code = -1;
    EXPECT_EQ(nil, [interp compile: "1 +" errorCode: &code]);
    EXPECT_EQ(1, code);

    [[interp eval: "$SIG{__WARN__} = sub { $main::warned = shift }" errorCode: NULL] free];
    EXPECT_EQ(nil, [interp compile: "1 +" errorCode: NULL]);
    std::string warned = Take([interp getVar: "main::warned"]);
    EXPECT_EQ(0, warned.find("ERROR COMPILING: syntax error")) << warned;
    std::string tail = "\nreturn sub { 1 + };\n";
    ASSERT_GT(warned.size(), tail.size());
    EXPECT_EQ(tail, warned.substr(warned.size() - tail.size()));

    /* A handler that dies does not unwind the host. */
    [[interp eval: "$SIG{__WARN__} = sub { die qq{handler\\n} }" errorCode: NULL] free];
    EXPECT_EQ(nil, [interp compile: "1 +" errorCode: NULL]);
    [[interp eval: "delete $SIG{__WARN__}" errorCode: NULL] free];
    EXPECT_EQ(2, Int("1+1"));
}

TEST_F(VantleInterpTest, VariablesOfEachSigil)
{
    BqVantleVar *inc = [interp getVar: "@INC"];
    EXPECT_TRUE([inc isKindOfClass: [BqVantleAV class]]);
    EXPECT_GT([(BqVantleAV *) inc count], 0);
    [inc free];
    BqVantleVar *env = [interp getVar: "%ENV"];
    EXPECT_TRUE([env isKindOfClass: [BqVantleHV class]]);
    [env free];
    EXPECT_EQ(nil, [interp getVar: "$never_set"]);
    EXPECT_EQ(nil, [interp getVar: NULL]);
    EXPECT_EQ(nil, [interp getVar: "$"]);

    [interp setSVar: "$x" toValue: "abc"];
    EXPECT_EQ("abc", Take([interp getVar: "x"]));
    [interp setSVar: "x" toValue: NULL];
    BqVantleSV *cleared = [interp getVar: "$x"];
    EXPECT_FALSE(SvOK([cleared sValue]));
    [cleared free];

    BqVantleAV *list = [interp eval: "(7, 8)" errorCode: NULL];
    [interp setVar: "@copied" to: list];
    EXPECT_EQ(2, Int("scalar @copied"));
    BqVantleSV *hashRef = [interp eval: "{ k => 'v' }" errorCode: NULL];
    [interp setVar: "%copied" to: hashRef];
    EXPECT_EQ("v", Take([interp eval: "$copied{k}" errorCode: NULL]));
    [interp setVar: "$scalar" to: hashRef];
    EXPECT_EQ("v", Take([interp eval: "$scalar->{k}" errorCode: NULL]));

    NSException *caught = nil;
    @try {
	[interp setVar: "$scalar" to: list];
    } @catch (NSException *exception) {
	caught = exception;
    }
    EXPECT_STREQ("NSInvalidArgumentException", [[caught name] UTF8String]);
    caught = nil;
    [[interp eval: "Internals::SvREADONLY($main::fixed, 1)" errorCode: NULL] free];
    @try {
	[interp setSVar: "fixed" toValue: "no"];
    } @catch (NSException *exception) {
	caught = exception;
    }
    EXPECT_STREQ("NSInvalidArgumentException", [[caught name] UTF8String]);
    [list free];
    [hashRef free];
}

TEST_F(VantleInterpTest, ObjectsArePublished)
{
    NSString *greeting = @"hello";
    BqVantleSV *published = [interp registerObject: greeting asVariableName: "main::greeting"];
    EXPECT_EQ(greeting, [published idValue]);
    [published free];
    EXPECT_EQ(5, Int("$main::greeting->length"));

    NSObject *object = [[[NSObject alloc] init] autorelease];
    EXPECT_EQ(nil, [BqVantleInterp lookupObject: object]);
    BqVantleSV *handle = [BqVantleInterp registerObject: object];
    EXPECT_EQ(object, [handle idValue]);
    EXPECT_EQ(1, [handle refCount]);
    BqVantleSV *found = [BqVantleInterp lookupObject: object];
    EXPECT_EQ(object, [found idValue]);
    [found free];
    [handle free];
}

TEST_F(VantleInterpTest, DoFormsTakeOverTheirStrings)
{
    int code = -1;
    EXPECT_EQ("3", Take([interp do_eval: strdup("1+2") errorCode: &code]));
    EXPECT_EQ(",4", Elements([interp do_eval2: strdup("4")]));
    [interp do_setSVar: strdup("$remote") toValue: strdup("set")];
    EXPECT_EQ("set", Take([interp do_getVar: strdup("remote")]));
    BqVantleSV *sub = [interp do_compile: strdup("'compiled'") errorCode: &code];
    EXPECT_EQ("compiled", Take([interp call: sub args: nil errorCode: &code listContext: NO]));
    [sub free];
}

/*
 * Values made for results are owned by their wrapper alone: freeing the
 * wrapper makes the value a temporary, which the scope's next FREETMPS
 * reclaims; a wrapper of a variable adds and gives back one count.
 */
TEST_F(VantleInterpTest, ResultValuesLiveAsLongAsTheirWrappers)
{
    [[interp eval: "package Counted; sub DESTROY { $main::destroyed++ }" errorCode: NULL] free];
    [interp setSVar: "destroyed" toValue: "0"];
    ENTER;
    SAVETMPS;
    BqVantleSV *object = [interp eval: "bless {}, 'Counted'" errorCode: NULL];
    EXPECT_EQ(0, Int("$main::destroyed"));
    BqVantleVar *referent = [object referenceValue];
    EXPECT_EQ(2, [referent refCount]);
    [referent free];
    [object free];
    EXPECT_EQ(0, Int("$main::destroyed"));
    FREETMPS;
    LEAVE;
    EXPECT_EQ(1, Int("$main::destroyed"));

    SV *variable = get_sv("main::counted_var", GV_ADD);
    sv_setiv(variable, 1);
    U32 before = SvREFCNT(variable);
    BqVantleVar *wrapper = [interp getVar: "counted_var"];
    EXPECT_EQ(before + 1, SvREFCNT(variable));
    [wrapper free];
    EXPECT_EQ(before, SvREFCNT(variable));
}

/*
 * A thousand failures of every kind leave the stacks, the scopes and the
 * count of live values as they were, and the next evaluation works.
 */
TEST_F(VantleInterpTest, FailuresLeaveThePerlStacksBalanced)
{
    BqVantleSV *dies = [interp compile: "die 'sub'" errorCode: NULL];
    SSize_t stack = PL_stack_sp - PL_stack_base;
    I32 *marks = PL_markstack_ptr;
    I32 scopes = PL_scopestack_ix, saves = PL_savestack_ix;
    SSize_t temps = PL_tmps_ix;
    I32 values = PL_sv_count;
    for (int i = 0; i < 1000; i++) {
	int code = 0;
	ENTER;
	SAVETMPS;
	[[interp eval: "die 'x'" errorCode: &code] free];
	[[interp eval: "die 'x'" errorCode: &code listContext: NO] free];
	[[interp eval2: "die 'x'"] free];
	[interp compile: "1 +" errorCode: &code];
	[[interp call: dies args: nil errorCode: &code listContext: YES] free];
	@try {
	    [interp mortalEval: "die 'x'"];
	} @catch (NSException *) {
	}
	FREETMPS;
	LEAVE;
	ASSERT_EQ(1, code);
    }
    EXPECT_EQ(stack, PL_stack_sp - PL_stack_base);
    EXPECT_EQ(marks, PL_markstack_ptr);
    EXPECT_EQ(scopes, PL_scopestack_ix);
    EXPECT_EQ(saves, PL_savestack_ix);
    EXPECT_EQ(temps, PL_tmps_ix);
    EXPECT_LT(PL_sv_count - values, 100) << "values leaked by failed evaluations";
    EXPECT_EQ(2, Int("1+1"));
    [dies free];
}

} // namespace
