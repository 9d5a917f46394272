/*
 * VantleInterpTest.mm --
 *
 *	The interpreter object seen from a host program: its one object per
 *	interpreter, every evaluation form with values, empty results and
 *	errors, compiling and calling, subs called by name whatever Perl
 *	did to the name, results of their own in either context, $@, the
 *	deallocation of results given up, variables, publishing objects, the
 *	ownership of result values, the Perl stacks after failures, the bound
 *	on calls nested between Perl and Objective-C, and interpreter objects
 *	that make interpreters of their own (and keep their subs apart).
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqVantleInterp.h"
#include "EmbeddedPerl.h"
#include "embed_perl.h"
#include "BqOsmo.h"
#include "KxError.h"
#include "List.h"

#include <objc/runtime.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

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
	    [[BqVantleInterp alloc] initForPerlInterpreter: NULL];
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

/*
 * From Perl a sub's name arrives as an NSString: it is called by that
 * name.  Objects of any other kind are refused with a text, never sent
 * messages they do not understand.
 */
TEST_F(VantleInterpTest, ASubIsCalledByAWrapperOrAName)
{
    [[interp eval: "sub main::named { 'named(' . join(',', @_) . ')' }" errorCode: NULL] free];
    BqVantleAV *args = [interp eval: "(1, 2)" errorCode: NULL];
    int code = -1;
    BqVantleVar *result = nil;
    EXPECT_EQ("", RaisedName([&] {
	result = [interp call: (BqVantleVar *) @"main::named" args: args errorCode: &code
		  listContext: NO];
    }));
    EXPECT_EQ(0, code);
    EXPECT_EQ("named(1,2)", Take(result));
    EXPECT_EQ(0, Take([interp call: (BqVantleVar *) @"main::nowhere" args: nil errorCode: &code
		     listContext: NO]).find("Undefined subroutine &main::nowhere"));
    EXPECT_EQ(1, code);

    NSObject *object = [[[NSObject alloc] init] autorelease];
    result = nil;
    EXPECT_EQ("", RaisedName([&] {
	result = [interp call: (BqVantleVar *) object args: args errorCode: &code listContext: NO];
    }));
    EXPECT_EQ(1, code);
    EXPECT_EQ("BqVantleInterp: a sub is given as a wrapper or as a name, not as an object of"
	      " another kind\n", Take(result));
    result = nil;
    EXPECT_EQ("", RaisedName([&] {
	result = [interp call: (BqVantleVar *) @"main::named"
			 args: (BqVantleVar *) [NSArray arrayWithObject: @"x"] errorCode: &code
		  listContext: NO];
    }));
    EXPECT_EQ("BqVantleInterp: the arguments are no plain array\n", Take(result));
    [args free];
}

/*
 * The interpreter object finds a sub it calls by name again without
 * looking the name up: whatever Perl code did to the name in between,
 * the call reaches the sub that has the name now, or fails as a call by
 * name fails.
 */
TEST_F(VantleInterpTest, ASubCalledByNameIsTheOneThatHasTheNameNow)
{
    int code = -1;
    auto byName = [&](NSString *name) {
	code = -1;
	return Take([interp call: (BqVantleVar *) name args: nil errorCode: &code
		      listContext: NO]);
    };
    [[interp eval: "sub main::kept { 'first' }" errorCode: NULL] free];
    EXPECT_EQ("first", byName(@"main::kept"));
    EXPECT_EQ("first", byName(@"main::kept"));

    [[interp eval: "no warnings; *main::kept = sub { 'assigned' }" errorCode: NULL] free];
    EXPECT_EQ("assigned", byName(@"main::kept")) << "a glob assignment";
    [[interp eval: "no warnings; eval 'sub main::kept { q{redefined} }'" errorCode: NULL] free];
    EXPECT_EQ("redefined", byName(@"main::kept")) << "a redefinition";
    BqVantleSV *name = [[BqVantleSV alloc] init];
    [name setStringValue: "main::kept"];
    EXPECT_EQ("redefined", Take([interp call: name args: nil errorCode: &code listContext: NO]))
	<< "a wrapper of the name";

    [[interp eval: "delete $main::{kept}" errorCode: NULL] free];
    EXPECT_EQ(0, byName(@"main::kept").find("Undefined subroutine &main::kept called"))
	<< "a deleted glob";
    EXPECT_EQ(1, code);
    EXPECT_EQ(0, Take([interp call: name args: nil errorCode: &code listContext: NO])
		     .find("Undefined subroutine &main::kept called"));
    [[interp eval: "sub main::kept { 'new glob' }" errorCode: NULL] free];
    EXPECT_EQ("new glob", byName(@"main::kept"));
    EXPECT_EQ(0, code);
    [[interp eval: "undef &main::kept" errorCode: NULL] free];
    EXPECT_EQ(0, byName(@"main::kept").find("Undefined subroutine &main::kept called"));
    [name free];

    [[interp eval: "sub Kept::Inner::sub { 'inner' }" errorCode: NULL] free];
    EXPECT_EQ("inner", byName(@"Kept::Inner::sub"));
    [[interp eval: "delete $Kept::{'Inner::'}" errorCode: NULL] free];
    EXPECT_EQ(0, byName(@"Kept::Inner::sub").find("Undefined subroutine &Kept::Inner::sub called"))
	<< "a deleted package";

    /* A name without a package is looked up in the package of the code
     * that calls, as Perl looks it up. */
    [[interp eval: "sub Elsewhere::who { 'elsewhere' } sub main::who { 'main' }" errorCode: NULL]
	free];
    const char *fromElsewhere =
	"package Elsewhere;"
	" my $r = $Vantle::interp->call_args_errorCode_listContext_('who', undef, undef, 0);"
	" my $text = $r->stringValue; $r->free; $text";
    for (int round = 0; round < 2; round++) {
	EXPECT_EQ("main", byName(@"who"));
	EXPECT_EQ("elsewhere", Take([interp eval: fromElsewhere errorCode: &code]));
    }
}

/*
 * A result is the value the sub or the text answered in the context
 * asked for, of its own: changing it changes nothing in Perl.
 */
TEST_F(VantleInterpTest, ResultsAreValuesOfTheirOwnInEitherContext)
{
    [[interp eval: "our $shared = 'kept';"
		   " sub main::shared { $shared } sub main::twice { ($shared, $shared) }"
		   " sub main::context { wantarray ? 'list' : 'scalar' }"
		   errorCode: NULL] free];
    int code = -1;
    BqVantleSV *one = [interp call: (BqVantleVar *) @"main::shared" args: nil errorCode: &code
			listContext: NO];
    EXPECT_EQ(1, [one refCount]);
    [one setStringValue: "changed"];
    [one free];
    BqVantleAV *two = [interp call: (BqVantleVar *) @"main::twice" args: nil errorCode: &code
			listContext: YES];
    BqVantleSV *first = [two fetchVarAtIndex: 0];
    [first setStringValue: "changed"];
    [first free];
    EXPECT_EQ("changed,kept", Elements(two));
    BqVantleSV *evaluated = [interp eval: "$shared" errorCode: &code listContext: NO];
    [evaluated setStringValue: "changed"];
    [evaluated free];
    EXPECT_EQ("kept", Take([interp eval: "$shared" errorCode: &code]));

    /* An XS sub may answer an argument itself rather than a copy. */
    BqVantleAV *args = [interp eval: "require List::Util; (sub { 1 }, 'argument')" errorCode: &code];
    BqVantleSV *found = [interp call: (BqVantleVar *) @"List::Util::first" args: args
			  errorCode: &code listContext: NO];
    EXPECT_EQ("argument", std::string([found stringValue]));
    [found setStringValue: "changed"];
    [found free];
    EXPECT_EQ("argument", Take([args fetchVarAtIndex: 1]));
    [args free];

    EXPECT_EQ("list", Take([interp call: (BqVantleVar *) @"main::context" args: nil
			       errorCode: &code listContext: YES]));
    EXPECT_EQ("scalar", Take([interp call: (BqVantleVar *) @"main::context" args: nil
				 errorCode: &code listContext: NO]));
    EXPECT_EQ("list", Take([interp eval: "wantarray ? 'list' : 'scalar'" errorCode: &code
			   listContext: YES]));
    EXPECT_EQ("scalar", Take([interp eval: "wantarray ? 'list' : 'scalar'" errorCode: &code
			     listContext: NO]));
    EXPECT_EQ("3", Take([interp eval: "my @a = (1, 2, 3); @a" errorCode: &code listContext: NO]));
}

/*
 * $@ after an evaluation is what Perl's own eval leaves: the error after
 * a failure (an error object as it was thrown), empty after a success,
 * also for Perl code that evaluates through the interpreter object.
 */
TEST_F(VantleInterpTest, DollarAtIsWhatPerlsEvalLeaves)
{
    int code = -1;
    EXPECT_EQ(0, Take([interp eval: "die 'x'" errorCode: &code]).find("x at (eval "));
    EXPECT_EQ(0, Take([interp getVar: "$@"]).find("x at (eval "));
    EXPECT_EQ("2", Take([interp eval: "1 + 1" errorCode: &code]));
    EXPECT_EQ(0, code);
    EXPECT_EQ("", Take([interp getVar: "$@"]));

    BqVantleSV *thrown = [interp eval: "die { code => 7 }" errorCode: &code];
    EXPECT_EQ(1, code);
    BqVantleHV *object = [thrown referenceValue];
    ASSERT_TRUE([object isKindOfClass: [BqVantleHV class]]);
    EXPECT_EQ("7", Take([object fetchKey: "code"]));
    [object free];
    [thrown free];

    const char *nested =
	"eval { die qq{outer\\n} };"
	" my $r = $Vantle::interp->eval_errorCode_('die qq{inner\\n}', undef);"
	" my $failed = $@; $r->free;"
	" $r = $Vantle::interp->eval_errorCode_('3', undef);"
	" my $succeeded = $@; my $value = $r->intValue; $r->free;"
	" qq{$failed|$succeeded|$value}";
    EXPECT_EQ("inner\n||3", Take([interp eval: nested errorCode: &code]));
    EXPECT_EQ(0, code);
}

/* What a deallocation observer saw. */
static std::vector<id> deallocated;

static void
NoteDeallocation(id object)
{
    deallocated.push_back(object);
}

/*
 * Results are made and given up all the time; whatever the interpreter
 * object does to make that cheap, a result given up is deallocated for
 * everyone who watches objects: observers hear of it, its name is gone,
 * and the next result is a new object with a reference count of one.
 */
TEST_F(VantleInterpTest, AResultGivenUpIsDeallocatedForObservers)
{
    int code = -1;
    deallocated.clear();
    BqOsmo_RegisterUnregister(NoteDeallocation);
    BqVantleSV *first = [interp eval: "41" errorCode: &code];
    std::string name = Glisk_RegisterObject(first);
    [first free];
    BqOsmo_RegisterUnregisterRemove(NoteDeallocation);
    EXPECT_NE(deallocated.end(), std::find(deallocated.begin(), deallocated.end(), first));
    EXPECT_EQ(nil, Glisk_LookupObjectName(name.c_str()));

    BqVantleSV *second = [interp eval: "42" errorCode: &code];
    EXPECT_EQ(nullptr, Glisk_LookupObject(second)) << "a name carried over";
    EXPECT_EQ(42, [second intValue]);
    EXPECT_EQ(1U, [second retainCount]);
    EXPECT_EQ(1, [second refCount]);
    [second retain];
    [second free];
    EXPECT_EQ(42, [second intValue]) << "a result retained elsewhere lives on";
    [second release];
}

/*
 * Perl code that calls the interpreter object that calls Perl again
 * stacks C frames at every level; the nesting ends with an error well
 * before the C stack does, also on a thread whose stack is small.
 */
static const char recursion[] =
    "our ($depth, $error) = (0, '');"
    " sub again {"
    "   $depth++;"
    "   my $result = $Vantle::interp->eval2_('again()');"
    "   my $first = $result->fetchVarAtIndex_(0);"
    "   if ($first) { $error = $first->descr; $first->free }"
    "   $result->free;"
    " }"
    " again(); \"$depth $error\"";

static void *
RecurseOnThread(void *outcome)
{
    NSAutoreleasePool *pool = [[NSAutoreleasePool alloc] init];
    BqVantleSV *result = [[BqVantleInterp defaultInterp] eval: recursion errorCode: NULL];
    *(std::string *) outcome = result != nil ? [result stringValue] : "(nil)";
    [result free];
    [pool release];
    return NULL;
}

/*
 * Runs the recursion (on a new thread of stackSize bytes, or on this
 * thread for 0) and exits 0 when it went deeper than minimum and ended
 * with the error.  The outcome goes to stderr.
 */
static void
Recurse(size_t stackSize, int minimum)
{
    std::string outcome;
    if (stackSize == 0) {
	RecurseOnThread(&outcome);
    } else {
	pthread_attr_t attributes;
	pthread_attr_init(&attributes);
	pthread_attr_setstacksize(&attributes, stackSize);
	pthread_t thread;
	if (pthread_create(&thread, &attributes, RecurseOnThread, &outcome) != 0) {
	    _exit(2);
	}
	pthread_join(thread, NULL);
    }
    int depth = atoi(outcome.c_str());
    /* Whichever crossing finds the limit reached reports it: the eval,
     * or a trapped read of a wrapper inside it. */
    int bounded = outcome.find("calls between Perl and Objective-C nesting too deep\n")
	!= std::string::npos;
    fprintf(stderr, "%s", outcome.c_str());
    _exit(depth > minimum && bounded ? 0 : 1);
}

TEST_F(VantleInterpTest, NestedCallsEndBeforeTheStackDoes)
{
    EXPECT_EXIT(Recurse(0, 1000), testing::ExitedWithCode(0), "")
	<< "recursion on the main thread";
    EXPECT_EXIT(Recurse(512 * 1024, 20), testing::ExitedWithCode(0), "")
	<< "recursion on a thread with a 512 KB stack";
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

/*
 * Interpreters of the object's own.  Each case runs in a new process that
 * has made no Perl interpreter (the test program started again for that
 * one test), as a host program without Perl; it reports what failed on
 * stderr and exits 0 when nothing did.  Anything else on stderr (a
 * warning of Perl's) fails the case too.
 */
class Checks {
public:
    int failures = 0;
    void Expect(bool condition, const char *what)
    {
	if (!condition) {
	    fprintf(stderr, "failed: %s\n", what);
	    failures++;
	}
    }
    /* The text of a scalar wrapper, which is then freed. */
    std::string Text(BqVantleVar *var)
    {
	std::string text = var != nil && [var isSV] ? [(BqVantleSV *) var stringValue] : "(nil)";
	[var free];
	return text;
    }
};

template <typename Case>
static void
RunInFreshProcess(Case body)
{
    Checks checks;
    @autoreleasepool {
	body(checks);
    }
    _exit(checks.failures == 0 ? 0 : 1);
}

#define EXPECT_IN_FRESH_PROCESS(body) \
    do { \
	GTEST_FLAG_SET(death_test_style, "threadsafe"); \
	EXPECT_EXIT(RunInFreshProcess(body), testing::ExitedWithCode(0), "^$"); \
    } while (0)

static void
MakeUseAndDestroy(Checks &c)
{
    c.Expect(BqCPerl_GetInterp() == NULL, "no interpreter before");
    BqVantleInterp *perl = [[BqVantleInterp alloc] init];
    void *token = [perl perlInterpreter];
    c.Expect(perl != nil && token != NULL, "an interpreter is made");
    c.Expect([BqVantleInterp defaultInterp] == perl, "the first is the default");
    c.Expect(BqCPerl_GetInterp() == token, "it is current");

    int code = -1;
    c.Expect(c.Text([perl eval: "2 ** 10" errorCode: &code]) == "1024" && code == 0, "eval");
    BqVantleSV *published = [perl getVar: "$Vantle::interp"];
    c.Expect([published idValue] == perl, "$Vantle::interp is the object");
    [published free];
    c.Expect(c.Text([perl eval: "$INC{'Vantle.pm'} =~ m{/blib/lib/Vantle.pm$} ? 'blib' : ''"
			 errorCode: NULL]) == "blib", "the module comes from this build");
    c.Expect(c.Text([perl eval: "require List::Util; List::Util::sum(1, 2, 3)" errorCode: NULL])
	     == "6", "extension modules load");
    c.Expect(c.Text([perl eval: "NSString->stringWithString_('handle')->length" errorCode: NULL])
	     == "6", "messages from Perl");

    BqVantleSV *twice = [perl compile: "$_[0] * 2" errorCode: &code];
    BqVantleAV *args = [[BqVantleAV alloc] init];
    BqVantleSV *number = [[BqVantleSV alloc] init];
    [number setIntValue: 21];
    [args push: number];
    [number free];
    c.Expect(c.Text([perl call: twice args: args errorCode: &code listContext: NO]) == "42",
	     "call");
    [args free];
    [twice free];
    [perl setSVar: "who" toValue: "host"];
    c.Expect(c.Text([perl getVar: "$who"]) == "host", "variables");

    /* The values of given-up wrappers are freed before the next call. */
    [[perl eval: "package Counted; sub DESTROY { $main::destroyed++ }"
		 " package main; $main::destroyed = 0; bless {}, 'Counted'" errorCode: NULL] free];
    c.Expect(c.Text([perl eval: "$main::destroyed" errorCode: NULL]) == "1",
	     "top-level temporaries are freed");

    NSMutableArray *journal = [NSMutableArray array];
    [[perl registerObject: journal asVariableName: "main::journal"] free];
    [[perl eval: "END { $main::journal->addObject_('end') } 1" errorCode: NULL] free];
    BqVantleSV *kept = [perl eval: "'kept'" errorCode: NULL];
    [perl release];
    c.Expect([journal count] == 1, "END blocks ran when the interpreter was destroyed");
    c.Expect([BqVantleInterp findObjectForPerlInterpreter: token] == nil
	     && [BqVantleInterp defaultInterp] == nil, "the object is forgotten");
    c.Expect(BqCPerl_GetInterp() == NULL, "no interpreter is current");
    c.Expect(RaisedName([&] { [kept stringValue]; }) == "NSInternalInconsistencyException",
	     "a wrapper that outlived its interpreter raises");
    [kept free];
    c.Expect(RaisedName([&] { [[[BqVantleSV alloc] init] free]; })
	     == "NSInternalInconsistencyException", "no wrapper without an interpreter");
}

TEST(OwnInterpreterTest, MakesUsesAndDestroysItsInterpreter)
{
    EXPECT_IN_FRESH_PROCESS(MakeUseAndDestroy);
}

static void
UseTwoInTurn(Checks &c)
{
    BqVantleInterp *first = [[BqVantleInterp alloc] init];
    BqVantleInterp *second = [[BqVantleInterp alloc] init];
    c.Expect([first perlInterpreter] != [second perlInterpreter], "two interpreters");
    c.Expect([BqVantleInterp defaultInterp] == first, "the first is the default");
    [first setSVar: "who" toValue: "first"];
    [second setSVar: "who" toValue: "second"];
    BqVantleSV *firstSub = [first compile: "\"$who: @_\"" errorCode: NULL];
    BqVantleSV *secondSub = [second compile: "\"$who: @_\"" errorCode: NULL];
    for (int round = 0; round < 3; round++) {
	c.Expect(c.Text([first eval: "$who" errorCode: NULL]) == "first", "first's variable");
	c.Expect(c.Text([second eval: "$who" errorCode: NULL]) == "second", "second's variable");
	c.Expect(c.Text([first call: firstSub args: nil errorCode: NULL listContext: NO])
		 == "first: ", "first's sub");
	c.Expect(c.Text([second call: secondSub args: nil errorCode: NULL listContext: NO])
		 == "second: ", "second's sub");
    }

    /* A wrapper acts on its own interpreter whichever is current; new
     * ones belong to the interpreter the host used last. */
    BqVantleSV *firstText = [first eval: "'a' x 3" errorCode: NULL];
    [[second eval: "1" errorCode: NULL] free];
    c.Expect(strcmp([firstText stringValue], "aaa") == 0, "first's wrapper after second ran");
    [firstText free];
    [[second eval: "1" errorCode: NULL] free];
    BqVantleAV *secondArgs = [[BqVantleAV alloc] init];
    int code = -1;
    c.Expect(c.Text([first call: firstSub args: secondArgs errorCode: &code listContext: NO])
	     == "BqVantleInterp: the arguments belong to another Perl interpreter\n" && code == 1,
	     "arguments of the other interpreter are refused");
    c.Expect(c.Text([first call: secondSub args: nil errorCode: &code listContext: NO])
	     == "BqVantleInterp: the sub belongs to another Perl interpreter\n",
	     "a sub of the other interpreter is refused");
    c.Expect(RaisedName([&] { [first setVar: "$x" to: secondArgs]; })
	     == "NSInvalidArgumentException", "a value of the other interpreter is refused");
    [secondArgs free];
    [firstSub free];
    [secondSub free];

    [second release];
    c.Expect(c.Text([first eval: "$who" errorCode: NULL]) == "first", "first outlives second");
    [first release];
    List *list = [BqVantleInterp interpList];
    c.Expect(list == nil || [list count] == 0, "both are gone");
}

TEST(OwnInterpreterTest, TwoInterpretersWorkInTurn)
{
    EXPECT_IN_FRESH_PROCESS(UseTwoInTurn);
}

/* The text of what name answers in perl, called by name and evaluated. */
static std::string
CallSame(Checks &c, BqVantleInterp *perl)
{
    std::string called = c.Text([perl call: (BqVantleVar *) @"main::same" args: nil
				errorCode: NULL listContext: NO]);
    std::string evaluated = c.Text([perl eval: "same()" errorCode: NULL]);
    return called == evaluated ? called : called + " but " + evaluated;
}

static void
KeepSubsApart(Checks &c)
{
    BqVantleInterp *first = [[BqVantleInterp alloc] init];
    BqVantleInterp *second = [[BqVantleInterp alloc] init];
    [[first eval: "sub same { 'first' }" errorCode: NULL] free];
    [[second eval: "sub same { 'second' }" errorCode: NULL] free];
    for (int round = 0; round < 3; round++) {
	c.Expect(CallSame(c, first) == "first", "first's sub");
	c.Expect(CallSame(c, second) == "second", "second's sub");
    }
    [first release];
    BqVantleInterp *third = [[BqVantleInterp alloc] init];
    [[third eval: "sub same { 'third' }" errorCode: NULL] free];
    for (int round = 0; round < 3; round++) {
	c.Expect(CallSame(c, third) == "third", "an interpreter made later has its own sub");
	c.Expect(CallSame(c, second) == "second", "second's sub after first went");
    }
    [third release];
    [second release];
}

TEST(OwnInterpreterTest, InterpretersKeepTheirSubsApart)
{
    EXPECT_IN_FRESH_PROCESS(KeepSubsApart);
}

static void
ShareObjects(Checks &c)
{
    NSString *text = @"shared text";
    BqVantleInterp *first = [[BqVantleInterp alloc] init];
    BqVantleInterp *second = [[BqVantleInterp alloc] init];
    for (int round = 0; round < 3; round++) {
	for (BqVantleInterp *perl : { first, second }) {
	    [[perl registerObject: text asVariableName: "main::text"] free];
	    c.Expect(c.Text([perl eval: "$main::text->length" errorCode: NULL]) == "11",
		     "a handle in each interpreter");
	}
    }
    c.Expect(c.Text([first eval: "my $other = BqVantleInterp->alloc->init;"
				 " my $r = $other->eval_errorCode_('6 * 7', undef);"
				 " my $v = $r->intValue; $r->free; $other->release; $v"
			  errorCode: NULL]) == "42", "Perl code makes and uses an interpreter");
    [first release];
    c.Expect(c.Text([second eval: "$main::text->length" errorCode: NULL]) == "11",
	     "handles outlive another interpreter");
    [second release];
}

/*
 * A host that embeds Perl itself and destroys its interpreter: the
 * object the module made for it goes too, so an interpreter made later
 * (perhaps at the same address) never meets it.
 */
static void
EmbedAndDestroy(Checks &c)
{
    PerlInterpreter *host = EmbedPerl_Start("bq_tests", environ);
    BqVantleInterp *object = [BqVantleInterp findObjectForPerlInterpreter: host];
    c.Expect(host != NULL && object != nil && [BqVantleInterp defaultInterp] == object,
	     "the module made the object of the host's interpreter");
    perl_destruct(host);
    perl_free(host);
    c.Expect([BqVantleInterp findObjectForPerlInterpreter: host] == nil
	     && [BqVantleInterp defaultInterp] == nil, "it went with the interpreter");
    BqVantleInterp *own = [[BqVantleInterp alloc] init];
    c.Expect(BqCPerl_GetInterp() == [own perlInterpreter], "a later interpreter is current");
    c.Expect(c.Text([own eval: "6 * 7" errorCode: NULL]) == "42", "and works");
    BqVantleSV *published = [own getVar: "$Vantle::interp"];
    c.Expect([published idValue] == own, "and is published with its own object");
    [published free];
    [own release];
}

TEST(OwnInterpreterTest, TheObjectOfADestroyedInterpreterGoesWithIt)
{
    EXPECT_IN_FRESH_PROCESS(EmbedAndDestroy);
}

/*
 * Threads of a host that each make their first interpreter at the same
 * moment: Perl's start-up of the process and the module's boot happen
 * once, whichever thread comes first.  (A race: one run in a few dozen
 * failed when they did not.)
 */
enum { MAKING_THREADS = 8 };
static pthread_barrier_t makingTogether;

static void *
MakeOneTogether(void *number)
{
    long value = -1;
    @autoreleasepool {
	pthread_barrier_wait(&makingTogether);
	BqVantleInterp *perl = [[BqVantleInterp alloc] init];
	char text[96];
	snprintf(text, sizeof text, "my $pool = Vantle::autorelease_pool(); %ld * 7",
		(long) (intptr_t) number);
	BqVantleSV *result = [perl eval: text errorCode: NULL];
	value = [result isSV] ? [result intValue] : -1;
	[result free];
	[perl release];
    }
    return (void *) (intptr_t) value;
}

static void
MakeOnThreadsAtOnce(Checks &c)
{
    pthread_barrier_init(&makingTogether, NULL, MAKING_THREADS);
    pthread_t threads[MAKING_THREADS];
    for (long i = 0; i < MAKING_THREADS; i++) {
	pthread_create(&threads[i], NULL, MakeOneTogether, (void *) (intptr_t) (i + 1));
    }
    for (long i = 0; i < MAKING_THREADS; i++) {
	void *value = NULL;
	pthread_join(threads[i], &value);
	c.Expect((intptr_t) value == (i + 1) * 7, "each thread evaluates in its interpreter");
    }
    pthread_barrier_destroy(&makingTogether);
}

TEST(OwnInterpreterTest, ThreadsMakeTheirFirstInterpretersAtOnce)
{
    for (int run = 0; run < 4; run++) {
	EXPECT_IN_FRESH_PROCESS(MakeOnThreadsAtOnce);
    }
}

/* Each interpreter has a handle registry of its own: an object published
 * in two interpreters has a referent in each, and each lives and dies with
 * its own interpreter. */
TEST(OwnInterpreterTest, TwoInterpretersHaveHandlesOfTheirOwn)
{
    EXPECT_IN_FRESH_PROCESS(ShareObjects);
}

} // namespace
