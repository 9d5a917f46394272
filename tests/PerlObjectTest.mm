/*
 * PerlObjectTest.mm --
 *
 *	Perl values and Perl objects as runtime objects, used from the
 *	embedding host: BqPerlVar's count, types, truth and copies; the raw
 *	conversions; BqPerlObject's making, flags and traces; its instance
 *	variables (plain and raw, the objects it keeps alive, tied and
 *	read-only entries); its class variables and their names; and its
 *	method calls: every shape of result in both contexts, missing and
 *	dying methods, values that do not convert, the arguments freed after
 *	the call, and the Perl stacks after a thousand failures.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqPerlObject.h"
#include "BqNil.h"
#include "BqVantleInterp.h"
#include "DravikMagic.h"
#include "DravikRawConvert.h"
#include "EmbeddedPerl.h"
#include "ObjectAssertions.h"
#include "Vantle.h"

#include <objc/runtime.h>

#include <string>

namespace {

/* The packages the tests use, defined again before each test. */
const char *const PACKAGES =
    "require Scalar::Util;\n"
    "package POTest::Base;\n"
    "sub inherited { 'base' }\n"
    "package POTest;\n"
    "our @ISA = ('POTest::Base');\n"
    "sub add_one { $_[1] + 1 }\n"
    "sub none { return }\n"
    "sub several { return (1, undef, 3) }\n"
    "sub two { return ('a', 'b') }\n"
    "sub one_undef { return undef }\n"
    "sub dies { die \"method died\\n\" }\n"
    "sub dies_object { die POTest::Error->new }\n"
    "sub code { return sub { 1 } }\n"
    "sub context { wantarray ? 'list' : 'scalar' }\n"
    "sub invocant { ref($_[0]) || $_[0] }\n"
    "sub describe { shift; join ',', map { !defined $_ ? 'undef' : ref $_ ? ref $_ : $_ } @_ }\n"
    "sub keep_weak { $POTest::weak = \\$_[1]; Scalar::Util::weaken($POTest::weak); 1 }\n"
    "sub get_count { $_[0]{count} }\n"
    "package POTest::Auto;\n"
    "our $AUTOLOAD;\n"
    "sub declared;\n"
    "sub defined_here { 'defined' }\n"
    "sub AUTOLOAD { my $n = $AUTOLOAD; $n =~ s/.*:://; \"auto $n\" }\n"
    "sub DESTROY {}\n"
    "package POTest::Error;\n"
    "use overload '\"\"' => sub { 'error object' }, fallback => 1;\n"
    "sub new { bless {}, shift }\n"
    "package POTest::Tied;\n"
    "sub TIEHASH { bless {}, shift }\n"
    "sub FETCH { die \"tied fetch\\n\" if $_[1] eq 'bad'; \"fetched $_[1]\" }\n"
    "sub STORE { die \"tied store\\n\" }\n"
    "sub EXISTS { 1 }\n"
    "sub FIRSTKEY { 'k1' }\n"
    "sub NEXTKEY { $_[1] eq 'k1' ? 'k2' : undef }\n"
    "package main;\n"
    "1;\n";

/* A one-byte flag of a BqPerlObject, read through the runtime. */
int
Flag(BqPerlObject *object, const char *name)
{
    Ivar ivar = class_getInstanceVariable([BqPerlObject class], name);
    return *((unsigned char *) object + ivar_getOffset(ivar));
}

/* What body prints on standard output. */
template <typename Body>
std::string
Printed(Body body)
{
    fflush(stdout);
    testing::internal::CaptureStdout();
    body();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

class PerlObjectTest : public ::testing::Test {
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
	/* The subs of retaining hashes, without the rest of Dravik, whose
	 * controls would change other tests. */
	if (get_cv("Dravik::Magic::FETCH", 0) == NULL) {
	    DravikPriv_BootMagic(aTHX);
	}
	ENTER;
	SAVETMPS;
	Eval(PACKAGES);
    }

    void TearDown() override
    {
	FREETMPS;
	LEAVE;
	[pool release];
    }

    void Eval(const char *text)
    {
	int code = -1;
	BqVantleVar *result = [interp eval: text errorCode: &code];
	EXPECT_EQ(0, code) << text << ": " << (result != nil ? [result descr] : "");
	[result free];
    }

    /* A new object of package, released with the pool. */
    BqPerlObject *Make(NSString *package)
    {
	return [[[BqPerlObject alloc] initInInterp: interp stashName: package magic: NO]
		   autorelease];
    }

    /* The hash of an object. */
    HV *Hash(BqPerlObject *object)
    {
	return (HV *) SvRV([object sValue]);
    }

    /* The value stored under key in an object's hash, or null. */
    SV *Entry(BqPerlObject *object, const char *key)
    {
	SV **slot = hv_fetch(Hash(object), key, (I32) strlen(key), 0);
	return slot != NULL ? *slot : NULL;
    }

    id Call(BqPerlObject *object, const char *name, NSArray *arguments, BOOL list)
    {
	return [object invokeMethod: name withArgs: arguments classMethod: NO listContext: list];
    }
};

/*
 * BqPerlVar
 */

TEST_F(PerlObjectTest, AVarHoldsExactlyOneCountOfItsValue)
{
    BqPerlVar *fresh = [[BqPerlVar alloc] init];
    EXPECT_EQ(1, [fresh refCount]);
    EXPECT_FALSE([fresh isMortal]);
    SV *value = SvREFCNT_inc([fresh sValue]);
    [fresh release];
    EXPECT_EQ(1U, SvREFCNT(value)) << "dealloc gave its count back";
    SvREFCNT_dec(value);

    SV *shared = newSVpvs("shared");
    BqPerlVar *var = [[BqPerlVar alloc] _initWithSV: shared];
    EXPECT_EQ(2U, SvREFCNT(shared));
    [var refCountInc];
    EXPECT_EQ(3, [var refCount]);
    [var refCountDec];
    EXPECT_EQ(2, [var refCount]);
    [var release];
    EXPECT_EQ(1U, SvREFCNT(shared));

    BqPerlVar *only = [[BqPerlVar alloc] init];
    EXPECT_EQ("NSInternalInconsistencyException", Raised([&] { [only refCountDec]; }).first)
	<< "the wrapper's own count is never given up";
    EXPECT_EQ(1, [only refCount]);
    [only release];

    EXPECT_EQ(nil, [BqPerlVar wrapSV: NULL]);
    EXPECT_EQ(nil, [[BqPerlVar alloc] _initWithSV: NULL]);
    BqPerlVar *wrapped = [BqPerlVar wrapSV: shared];
    EXPECT_EQ(2U, SvREFCNT(shared));
    EXPECT_EQ(shared, [wrapped sValue]);
    SvREFCNT_dec(shared);
}

TEST_F(PerlObjectTest, TypeQueriesTellScalarsGlobsCodeAndContainersApart)
{
    BqPerlVar *glob = [BqPerlVar wrapSV: (SV *) gv_fetchpv("main::po_glob", GV_ADD, SVt_PV)];
    EXPECT_TRUE([glob isGV]);
    EXPECT_TRUE([glob isSV]);
    EXPECT_FALSE([glob isCV]);

    BqPerlVar *code = [BqPerlVar wrapSV: (SV *) get_cv("POTest::several", 0)];
    EXPECT_TRUE([code isCV]);
    EXPECT_FALSE([code isGV]);
    EXPECT_FALSE([code isSV]);

    BqPerlVar *undefined = [[[BqPerlVar alloc] init] autorelease];
    EXPECT_EQ((int) SVt_NULL, [undefined type]);
    EXPECT_FALSE([undefined isSV]);

    BqPerlVar *number = [BqPerlVar wrapSV: sv_2mortal(newSViv(7))];
    EXPECT_TRUE([number isSV]);
    BqPerlVar *array = [BqPerlVar wrapSV: sv_2mortal((SV *) newAV())];
    EXPECT_TRUE([array isAV]);
    EXPECT_FALSE([array isSV]);
    BqPerlVar *hash = [BqPerlVar wrapSV: sv_2mortal((SV *) newHV())];
    EXPECT_TRUE([hash isHV]);
    EXPECT_FALSE([hash isAV]);
}

TEST_F(PerlObjectTest, TruthIsPerls)
{
    auto truth = [&](SV *value) { return [[BqPerlVar wrapSV: sv_2mortal(value)] true]; };
    EXPECT_FALSE(truth(newSVpvs("")));
    EXPECT_FALSE(truth(newSVpvs("0")));
    EXPECT_TRUE(truth(newSVpvs("0.0")));
    EXPECT_TRUE(truth(newSVpvs("00")));
    EXPECT_FALSE(truth(newSViv(0)));
    EXPECT_FALSE(truth(newSVnv(0.0)));
    EXPECT_TRUE(truth(newSVnv(0.5)));
    EXPECT_TRUE(truth(newRV_noinc((SV *) newAV())));
    EXPECT_FALSE(truth(newSV(0)));
    EXPECT_FALSE(truth((SV *) newAV())) << "a container has no truth of its own";

    Eval("package POTest::DyingScalar; sub TIESCALAR { bless {} } sub FETCH { die \"no truth\\n\" }\n"
	 "package main; tie our $po_dying, 'POTest::DyingScalar';");
    BqPerlVar *tied = [BqPerlVar wrapSV: get_sv("main::po_dying", 0)];
    auto raised = Raised([&] { [tied true]; });
    EXPECT_EQ("Perl Error", raised.first);
    EXPECT_EQ("true: no truth\n", raised.second);
}

TEST_F(PerlObjectTest, SetSValueCopiesScalarsOnly)
{
    BqPerlVar *var = [[[BqPerlVar alloc] init] autorelease];
    [var setSValue: sv_2mortal(newSVpvs("copied"))];
    EXPECT_STREQ("copied", SvPV_nolen([var sValue]));
    [var setSValue: NULL];
    EXPECT_STREQ("copied", SvPV_nolen([var sValue]));
    EXPECT_EQ("<BqPerlVar: copied>", std::string([[var description] UTF8String]));

    SvREADONLY_on([var sValue]);
    EXPECT_EQ("NSInvalidArgumentException",
	Raised([&] { [var setSValue: sv_2mortal(newSViv(1))]; }).first);
    SvREADONLY_off([var sValue]);
    BqPerlVar *array = [BqPerlVar wrapSV: sv_2mortal((SV *) newAV())];
    EXPECT_EQ("NSInvalidArgumentException",
	Raised([&] { [array setSValue: sv_2mortal(newSViv(1))]; }).first);
}

/*
 * Raw conversions
 */

TEST_F(PerlObjectTest, RawReadsWrapPerlValuesAndGiveObjectsOfHandles)
{
    char failed = 1;
    SV *text = sv_2mortal(newSVpvs("text"));
    id read = Dravik_ObjectForSV_Raw(text, NULL, &failed);
    EXPECT_EQ(0, failed);
    ASSERT_TRUE([read isKindOfClass: [BqPerlVar class]]);
    EXPECT_EQ(text, [read sValue]) << "the value is shared, not copied";

    EXPECT_EQ(nil, Dravik_ObjectForSV_Raw(sv_newmortal(), NULL, &failed));
    EXPECT_EQ(nil, Dravik_ObjectForSV_Raw(NULL, NULL, &failed));
    NSObject *object = [[[NSObject alloc] init] autorelease];
    SV *handle = sv_newmortal();
    Vantle_SVSetObject(handle, object, NULL);
    EXPECT_EQ(object, Dravik_ObjectForSV_Raw(handle, NULL, &failed));
}

TEST_F(PerlObjectTest, RawWritesCopyWrappedValuesAndMakeHandlesOfObjects)
{
    SV *target = sv_newmortal();
    BqPerlVar *var = [BqPerlVar wrapSV: sv_2mortal(newSVpvs("perl"))];
    EXPECT_TRUE(Dravik_SVForObject_Raw(target, var, NULL));
    EXPECT_STREQ("perl", SvPV_nolen(target));
    EXPECT_NE([var sValue], target);

    EXPECT_TRUE(Dravik_SVForObject_Raw(target, @"not converted", NULL));
    EXPECT_TRUE(Vantle_SVIsObject(target));
    EXPECT_TRUE(Equal(@"not converted", Vantle_SVGetObject2(target, NULL, NULL)));

    AV *array = (AV *) sv_2mortal((SV *) newAV());
    EXPECT_TRUE(Dravik_SVForObject_Raw(target, [BqPerlVar wrapSV: (SV *) array], NULL));
    ASSERT_TRUE(SvROK(target)) << "a container becomes a reference to it";
    EXPECT_EQ((SV *) array, SvRV(target));
}

/*
 * Making objects
 */

TEST_F(PerlObjectTest, ANewObjectIsAFreshHashBlessedIntoItsPackage)
{
    BqPerlObject *object = Make(@"POTest::Made");
    SV *reference = [object sValue];
    ASSERT_TRUE(SvROK(reference));
    EXPECT_EQ(SVt_PVHV, SvTYPE(SvRV(reference)));
    EXPECT_TRUE(sv_isa(reference, "POTest::Made"));
    EXPECT_EQ(1U, SvREFCNT(SvRV(reference)));
    EXPECT_EQ(1, [object refCount]);
    EXPECT_STREQ("POTest::Made", [object stashName]);
    EXPECT_EQ("<BqPerlObject: POTest::Made>", std::string([[object description] UTF8String]));
    EXPECT_EQ(interp, [object interp]);
    EXPECT_EQ(0, Flag(object, "magic"));

    auto bad = Raised([&] { [[BqPerlObject alloc] initInInterp: interp stashName: @"" magic: NO]; });
    EXPECT_EQ("NSInvalidArgumentException", bad.first);
    bad = Raised([&] { [[BqPerlObject alloc] initInInterp: interp stashName: nil magic: NO]; });
    EXPECT_EQ("NSInvalidArgumentException", bad.first);
}

TEST_F(PerlObjectTest, WrappingSharesTheReferenceAndNamesWhatIsMissing)
{
    Eval("our $po_blessed = bless { a => 1 }, 'POTest'; our $po_plain = { a => 2 };"
	 "our $po_text = 'text';");
    SV *blessed = get_sv("main::po_blessed", 0);
    U32 before = SvREFCNT(blessed);
    BqPerlObject *object = [[BqPerlObject alloc] initForRVHV: blessed magic: NO];
    EXPECT_EQ(before + 1, SvREFCNT(blessed));
    EXPECT_EQ(blessed, [object sValue]);
    EXPECT_EQ(interp, [object interp]) << "the object of the value's interpreter";
    EXPECT_EQ(1, [[object getIVarValue: "a"] intValue]);
    [object release];
    EXPECT_EQ(before, SvREFCNT(blessed));

    BqPerlObject *plain = [[[BqPerlObject alloc] initForRVHV: get_sv("main::po_plain", 0)
							magic: NO] autorelease];
    EXPECT_STREQ("(NULL stash)???", [plain stashName]);
    EXPECT_EQ(2, [[plain getIVarValue: "a"] intValue]) << "an unblessed hash still has entries";
    BqPerlObject *text = [[[BqPerlObject alloc] initForRVHV: get_sv("main::po_text", 0)
						       magic: NO] autorelease];
    EXPECT_STREQ("(NULL hv)???", [text stashName]);
    EXPECT_EQ(nil, [[BqPerlObject alloc] initForRVHV: NULL magic: NO]);
}

TEST_F(PerlObjectTest, FlagsComeFromTheClassDefaultsAndFromDictionaries)
{
    [BqPerlObject setTraceGet: YES];
    BqPerlObject *traced = Make(@"POTest");
    [BqPerlObject setTraceAll: NO];
    EXPECT_EQ(1, Flag(traced, "traceGet"));
    EXPECT_EQ(0, Flag(traced, "traceSet"));
    EXPECT_EQ(0, Flag(Make(@"POTest"), "traceGet"));

    BqPerlObject *object = Make(@"POTest");
    NSDictionary *all = [NSDictionary dictionaryWithObjectsAndKeys: @"yes", @"traceGet",
	@"Y", @"traceSet", @"1", @"traceInvoke", @"-3", @"rawGet",
	[NSNumber numberWithBool: YES], @"rawSet", [[[NSObject alloc] init] autorelease],
	@"verbose", nil];
    [object setPropertiesFromDictionary: all];
    for (const char *flag : { "traceGet", "traceSet", "traceInvoke", "rawGet", "rawSet",
	    "verbose" }) {
	EXPECT_EQ(1, Flag(object, flag)) << flag;
    }
    [object setPropertiesFromDictionary: nil];
    EXPECT_EQ(1, Flag(object, "verbose")) << "nil changes nothing";
    [object setPropertiesFromDictionary: [NSDictionary dictionary]];
    for (const char *flag : { "traceGet", "traceSet", "traceInvoke", "rawGet", "rawSet",
	    "verbose" }) {
	EXPECT_EQ(0, Flag(object, flag)) << flag << ": a missing key turns it off";
    }

    EXPECT_FALSE([object _getBoolValueFor: @"no"]);
    EXPECT_FALSE([object _getBoolValueFor: @"0"]);
    EXPECT_FALSE([object _getBoolValueFor: @""]);
    EXPECT_FALSE([object _getBoolValueFor: nil]);
    EXPECT_FALSE([object _getBoolValueFor: [BqNil sharedInstance]]);
    EXPECT_FALSE([object _getBoolValueFor: [NSNumber numberWithInt: 0]]);
    EXPECT_TRUE([object _getBoolValueFor: @"yEs"]);
}

/*
 * Instance variables
 */

TEST_F(PerlObjectTest, InstanceVariablesAreHashEntriesConvertedByValueOrRaw)
{
    BqPerlObject *object = Make(@"POTest");
    [object setIVar: "title" toValue: @"Perl"];
    [object setIVar: "count" toValue: [NSNumber numberWithInt: 3]];
    [object setIVar: "list" toValue: [NSArray arrayWithObjects: @"a", @"b", nil]];
    EXPECT_STREQ("Perl", SvPV_nolen(Entry(object, "title"))) << "a Perl string, not a handle";
    EXPECT_TRUE(Equal(@"Perl", [object getIVarValue: "title"]));
    EXPECT_EQ(3, [[object getIVarValue: "count"] intValue]);
    EXPECT_EQ(2U, [(NSArray *) [object getIVarValue: "list"] count]);
    EXPECT_TRUE([object isIVar: "title"]);
    EXPECT_FALSE([object isIVar: "missing"]);
    EXPECT_FALSE([object isIVar: NULL]);
    EXPECT_EQ(nil, [object getIVarValue: "missing"]);
    EXPECT_EQ(nil, [object getIVarValue: NULL]);

    id raw = [object getIVarValue: "title" raw: YES];
    ASSERT_TRUE([raw isKindOfClass: [BqPerlVar class]]) << "raw reads leave Perl strings alone";
    EXPECT_EQ(Entry(object, "title"), [raw sValue]);
    [object setRawGet: YES];
    EXPECT_TRUE([[object getIVarValue: "count"] isKindOfClass: [BqPerlVar class]]);
    [object setRawGet: NO];

    [object setRawSet: YES];
    [object setIVar: "handle" toValue: @"kept as an object"];
    EXPECT_TRUE(Vantle_SVIsObject(Entry(object, "handle")));
    [object setIVar: "copy" toValue: raw];
    EXPECT_STREQ("Perl", SvPV_nolen(Entry(object, "copy")));
    EXPECT_NE(Entry(object, "copy"), Entry(object, "title"));
    [object setIVar: "none" toValue: nil];
    EXPECT_EQ(nil, [object getIVarValue: "none" raw: YES]);
    [object setRawSet: NO];

    NSArray *keys = [[object allIVars] sortedArrayUsingSelector: @selector(compare:)];
    EXPECT_EQ(std::string("copy,count,handle,list,none,title"),
	[[keys componentsJoinedByString: @","] UTF8String]);
    NSMutableDictionary *values = [object allIVarValues];
    EXPECT_EQ(5U, [values count]) << "the nil entry is left out";
    EXPECT_TRUE([[values objectForKey: @"title"] isKindOfClass: [BqPerlVar class]]);
    EXPECT_TRUE(Equal(@"kept as an object", [values objectForKey: @"handle"]));

    [object setPropertiesFromDictionary: [NSDictionary dictionaryWithObject: @"YES"
								     forKey: @"verbose"]];
    NSString *description = [object description];
    EXPECT_TRUE([description hasPrefix: @"<BqPerlObject: POTest: "]) << [description UTF8String];
    EXPECT_NE(NSNotFound, (long) [description rangeOfString: @"kept as an object"].location);
}

TEST_F(PerlObjectTest, TheOwnersKeyIsNeverListedNorKept)
{
    BqPerlObject *object = Make(@"POTest");
    NSObject *owner = [[NSObject alloc] init];
    [object setIVar: "selfObject" toValue: owner raw: YES];
    [object setIVar: "other" toValue: @"x"];
    EXPECT_EQ(1U, [owner retainCount]) << "the owner is not kept alive by its own hash";
    EXPECT_EQ(std::string("other"),
	[[[object allIVars] componentsJoinedByString: @","] UTF8String]);
    EXPECT_TRUE([object isIVar: "selfObject"]);
    [owner release];
}

TEST_F(PerlObjectTest, StoredObjectsStayAliveWhileTheirEntriesHoldThem)
{
    BqPerlObject *object = [[BqPerlObject alloc] initInInterp: interp stashName: @"POTest"
							  magic: NO];
    NSObject *first = [[NSObject alloc] init];
    NSObject *second = [[NSObject alloc] init];
    [object setIVar: "a" toValue: first];
    EXPECT_EQ(2U, [first retainCount]);
    [object setIVar: "b" toValue: first];
    EXPECT_EQ(3U, [first retainCount]);
    [object setIVar: "a" toValue: second];
    EXPECT_EQ(2U, [first retainCount]) << "replacing one entry lets go of one hold only";
    EXPECT_EQ(2U, [second retainCount]);

    [second release];
    [object setIVar: "a" toValue: second];
    EXPECT_EQ(1U, [second retainCount]) << "storing the object an entry holds keeps it alive";
    EXPECT_EQ(second, [object getIVarValue: "a"]);

    [object setIVar: "b" toValue: nil raw: NO retain: NO];
    EXPECT_EQ(2U, [first retainCount]) << "without retain the old object stays kept";
    [object retainSV: Entry(object, "a")];
    EXPECT_EQ(2U, [second retainCount]);
    [object releaseSV: Entry(object, "a")];
    EXPECT_EQ(1U, [second retainCount]);
    [object retainSV: NULL];
    [object retainSV: sv_2mortal(newSVpvs("NSObject"))];

    [second retain];
    [object release];
    EXPECT_EQ(1U, [first retainCount]) << "dealloc lets go of every object kept";
    EXPECT_EQ(1U, [second retainCount]);
    [first release];
    [second release];
}

TEST_F(PerlObjectTest, ReadOnlyEntriesRefusePerlAssignments)
{
    BqPerlObject *object = Make(@"POTest");
    [object setIVar: "fixed" toValue: @"v"];
    [object _makeIVar: "fixed" readOnly: YES];
    EXPECT_TRUE(SvREADONLY(Entry(object, "fixed")));
    sv_setsv(get_sv("main::po_object", GV_ADD), [object sValue]);
    int code = 0;
    [[interp eval: "$po_object->{fixed} = 'changed'" errorCode: &code] free];
    EXPECT_EQ(1, code);
    EXPECT_TRUE(Equal(@"v", [object getIVarValue: "fixed"]));
    [object _makeIVar: "fixed" readOnly: NO];
    EXPECT_FALSE(SvREADONLY(Entry(object, "fixed")));
    [object _makeIVar: "missing" readOnly: YES];

    hv_store(Hash(object), "shared", 6, &PL_sv_yes, 0);
    [object _makeIVar: "shared" readOnly: NO];
    EXPECT_TRUE(SvREADONLY(&PL_sv_yes)) << "Perl's shared constants stay read-only";
    sv_setsv(get_sv("main::po_object", 0), &PL_sv_undef);
}

TEST_F(PerlObjectTest, ObjectsThatAreNoHashReferencesReadNilAndIgnoreWrites)
{
    Eval("our $po_array = bless [], 'POTest';");
    BqPerlObject *array = [[[BqPerlObject alloc] initForRVHV: get_sv("main::po_array", 0)
							magic: NO] autorelease];
    [array setIVar: "x" toValue: @"y"];
    EXPECT_EQ(nil, [array getIVarValue: "x"]);
    EXPECT_FALSE([array isIVar: "x"]);
    EXPECT_EQ(nil, [array allIVars]);
    EXPECT_EQ(0U, [[array allIVarValues] count]);
    EXPECT_STREQ("POTest", [array stashName]);
}

TEST_F(PerlObjectTest, ValuesThatDoNotConvertRaise)
{
    Eval("our $po_code = sub { 1 };");
    BqPerlObject *object = Make(@"POTest");
    hv_store(Hash(object), "code", 4, newSVsv(get_sv("main::po_code", GV_ADD)), 0);
    auto raised = Raised([&] { [object getIVarValue: "code"]; });
    EXPECT_EQ("Perl Error", raised.first);
    EXPECT_EQ(0U, raised.second.find("getIVarValue:raw: code: ")) << raised.second;
    EXPECT_TRUE([[object getIVarValue: "code" raw: YES] isKindOfClass: [BqPerlVar class]]);
}

TEST_F(PerlObjectTest, TiedHashesAreUsedTrapped)
{
    Eval("our $po_tied = do { tie my %h, 'POTest::Tied'; bless \\%h, 'POTest' };");
    BqPerlObject *object = [[[BqPerlObject alloc] initForRVHV: get_sv("main::po_tied", 0)
							 magic: NO] autorelease];
    SSize_t stack = PL_stack_sp - PL_stack_base;
    I32 scopes = PL_scopestack_ix;
    EXPECT_TRUE(Equal(@"fetched good", [object getIVarValue: "good"]));
    auto raised = Raised([&] { [object getIVarValue: "bad"]; });
    EXPECT_EQ("Perl Error", raised.first);
    EXPECT_EQ("getIVarValue:raw: bad: tied fetch\n", raised.second);
    raised = Raised([&] { [object setIVar: "k" toValue: @"v"]; });
    EXPECT_EQ("setIVar:toValue:raw:retain: k: tied store\n", raised.second);
    EXPECT_TRUE([object isIVar: "anything"]);
    EXPECT_EQ(std::string("k1,k2"), [[[object allIVars] componentsJoinedByString: @","]
				    UTF8String]);
    EXPECT_EQ(stack, PL_stack_sp - PL_stack_base);
    EXPECT_EQ(scopes, PL_scopestack_ix);
}

/*
 * Retaining hashes
 */

TEST_F(PerlObjectTest, AMagicObjectKeepsItsObjectsInARetainingHash)
{
    BqPerlObject *object = [[BqPerlObject alloc] initInInterp: interp stashName: @"POTest"
							  magic: YES];
    EXPECT_EQ(1, Flag(object, "magic"));
    SV *reference = [object sValue];
    EXPECT_TRUE(Dravik_IsMagic(SvRV(reference), DRAVIK_MAGIC_HASH));
    EXPECT_TRUE(sv_isa(reference, "POTest")) << "the outer hash took the blessing";
    EXPECT_STREQ("POTest", [object stashName]);

    NSObject *kept = [[NSObject alloc] init];
    NSAutoreleasePool *inner = [[NSAutoreleasePool alloc] init];
    [object setIVar: "thing" toValue: kept];
    [object setIVar: "title" toValue: @"text"];
    [object setIVar: "count" toValue: [NSNumber numberWithInt: 2]];
    [object setIVar: "selfObject" toValue: kept raw: YES];
    [inner release];
    EXPECT_EQ(2U, [kept retainCount]) << "retained by the hash, not by the owner's key";
    EXPECT_EQ(kept, [object getIVarValue: "thing"]);
    EXPECT_TRUE(Equal(@"text", [object getIVarValue: "title"]));
    EXPECT_TRUE([object isIVar: "thing"]);
    EXPECT_FALSE([object isIVar: "missing"]);
    NSArray *keys = [[object allIVars] sortedArrayUsingSelector: @selector(compare:)];
    EXPECT_EQ(std::string("count,thing,title"), [[keys componentsJoinedByString: @","] UTF8String]);
    EXPECT_EQ(2, [Call(object, "get_count", nil, NO) intValue]) << "Perl code reads through the tie";

    [object _makeIVar: "title" readOnly: YES];
    SV *tie = Dravik_GetMagic(SvRV(reference), DRAVIK_MAGIC_HASH);
    EXPECT_TRUE(SvREADONLY(*Dravik_Magic_fetch(tie, "title", 5, 0))) << "in the inner hash";
    [object _makeIVar: "title" readOnly: NO];
    EXPECT_FALSE(SvREADONLY(*Dravik_Magic_fetch(tie, "title", 5, 0)));

    inner = [[NSAutoreleasePool alloc] init];
    [object setIVar: "thing" toValue: nil];
    [inner release];
    EXPECT_EQ(1U, [kept retainCount]) << "let go when replaced";
    inner = [[NSAutoreleasePool alloc] init];
    [object setIVar: "thing" toValue: kept];
    [object release];
    [inner release];
    EXPECT_EQ(1U, [kept retainCount]) << "let go when the object goes";
    [kept release];
}

TEST_F(PerlObjectTest, WrappingARetainingHashTurnsMagicOn)
{
    BqPerlObject *made = Make(@"POTest");
    EXPECT_EQ(0, Flag(made, "magic"));
    BqPerlObject *magical = [[[BqPerlObject alloc] initInInterp: interp stashName: @"POTest"
							  magic: YES] autorelease];
    BqPerlObject *wrapped = [[[BqPerlObject alloc] initForRVHV: [magical sValue] magic: NO]
				autorelease];
    EXPECT_EQ(1, Flag(wrapped, "magic"));
    BqPerlObject *again = [[[BqPerlObject alloc] initForRVHV: [magical sValue] magic: YES]
			      autorelease];
    EXPECT_EQ(1, Flag(again, "magic"));
    EXPECT_EQ(SvRV([magical sValue]), SvRV([again sValue])) << "made only once";

    Eval("our $po_fixed = bless {}, 'POTest'; Internals::SvREADONLY(%$po_fixed, 1);");
    BqPerlObject *fixed = [[[BqPerlObject alloc] initForRVHV: get_sv("main::po_fixed", 0)
							magic: YES] autorelease];
    EXPECT_EQ(0, Flag(fixed, "magic")) << "a hash that cannot be put behind one stays plain";
}

/*
 * Class variables
 */

TEST_F(PerlObjectTest, ClassVariableNamesTakeTheirKindFromTheSigil)
{
    BqPerlObject *object = Make(@"Counter");
    int kind = DRAVIK_CVAR_HASH;
    EXPECT_STREQ("%Counter::hits", [object _fullCVarName: "hits" type: &kind]);
    EXPECT_EQ(DRAVIK_CVAR_HASH, kind) << "no sigil keeps the caller's kind";
    EXPECT_STREQ("@Counter::hits", [object _fullCVarName: "@hits" type: &kind]);
    EXPECT_EQ(DRAVIK_CVAR_ARRAY, kind);
    EXPECT_STREQ("&Counter::hits", [object _fullCVarName: "&hits" type: &kind]);
    EXPECT_EQ(DRAVIK_CVAR_CODE, kind);
    EXPECT_STREQ("$Counter::hits", [object _fullCVarName: "hits" type: NULL]);
    EXPECT_EQ(NULL, [object _fullCVarName: NULL type: &kind]);

    auto raised = Raised([&] { [object getCVarValue: "$Other::hits"]; });
    EXPECT_EQ("Vantle/RYF Error", raised.first);
    EXPECT_EQ("must not use package name in cvar name", raised.second);
    raised = Raised([&] { [object setCVar: "a:b" toValue: @"x"]; });
    EXPECT_EQ("must not use package name in cvar name", raised.second);
    raised = Raised([&] { [object isCVar: "@"]; });
    EXPECT_EQ("Vantle/RYF Error", raised.first);
    EXPECT_EQ("illegal cvar name", raised.second);
    EXPECT_EQ((SV *) NULL, get_sv("Other::hits", 0)) << "nothing was touched";
}

TEST_F(PerlObjectTest, ClassVariablesArePackageVariables)
{
    Eval("package POTest::Vars; our $hits = 4; our @list = (1, 2); our %map = (k => 'v');"
	 "our $empty; our @none; sub method {} package POTest::Vars::Inner; our $x = 1;");
    BqPerlObject *object = Make(@"POTest::Vars");
    EXPECT_EQ(4, [[object getCVarValue: "hits"] intValue]);
    EXPECT_EQ(4, [[object getCVarValue: "$hits"] intValue]);
    EXPECT_EQ(2U, [(NSArray *) [object getCVarValue: "@list"] count]);
    EXPECT_TRUE(Equal(@"v", [[object getCVarValue: "%map"] objectForKey: @"k"]));
    EXPECT_EQ(nil, [object getCVarValue: "&method"]);
    EXPECT_EQ(nil, [object getCVarValue: "missing"]);
    EXPECT_EQ((SV *) NULL, get_sv("POTest::Vars::missing", 0)) << "reading makes nothing";
    EXPECT_TRUE([[object getCVarValue: "hits" raw: YES] isKindOfClass: [BqPerlVar class]]);
    EXPECT_FALSE([[object getCVarValue: "@list" raw: YES] isKindOfClass: [BqPerlVar class]])
	<< "arrays always convert by value";

    EXPECT_TRUE([object isCVar: "hits"]);
    EXPECT_TRUE([object isCVar: "@list"]);
    EXPECT_FALSE([object isCVar: "@hits"]);
    EXPECT_FALSE([object isCVar: "&method"]);

    NSArray *names = [[object allCVars] sortedArrayUsingSelector: @selector(compare:)];
    EXPECT_EQ(std::string("$hits,%map,@list"), [[names componentsJoinedByString: @","] UTF8String])
	<< "undefined variables, subs and the nested package are no class variables";

    [object setCVar: "made" toValue: @"new"];
    EXPECT_STREQ("new", SvPV_nolen(get_sv("POTest::Vars::made", 0)));
    [object setCVar: "@list" toValue: [NSArray arrayWithObject: @"only"]];
    EXPECT_EQ(0, (int) av_len(get_av("POTest::Vars::list", 0)));
    [object setCVar: "%map" toValue: [NSDictionary dictionaryWithObject: @"w" forKey: @"j"]];
    EXPECT_TRUE(hv_exists(get_hv("POTest::Vars::map", 0), "j", 1));
    [object setCVar: "&method" toValue: @"ignored"];
    [object setRawSet: YES];
    [object setCVar: "handle" toValue: @"object"];
    EXPECT_TRUE(Vantle_SVIsObject(get_sv("POTest::Vars::handle", 0)));
    [object setCVar: "@list" toValue: [NSArray arrayWithObject: @"by value"]];
    EXPECT_STREQ("by value", SvPV_nolen(*av_fetch(get_av("POTest::Vars::list", 0), 0, 0)));

    Eval("package POTest::Vars; *fixed = \\'constant';");
    auto raised = Raised([&] { [object setCVar: "fixed" toValue: @"changed"]; });
    EXPECT_EQ("Perl Error", raised.first);
    EXPECT_EQ(0U, raised.second.find("setCVar:toValue:raw: $POTest::Vars::fixed: Modification "
	    "of a read-only value")) << raised.second;
    raised = Raised([&] { [object setCVar: "@list" toValue: @"no array"]; });
    EXPECT_EQ("setCVar:toValue:raw: @POTest::Vars::list: not an NSArray instance", raised.second);
}

/*
 * Methods
 */

TEST_F(PerlObjectTest, MethodsAreFoundThroughInheritanceAndAutoload)
{
    BqPerlObject *object = Make(@"POTest");
    EXPECT_TRUE([object isInstanceMethod: "add_one"]);
    EXPECT_TRUE([object isInstanceMethod: "inherited"]);
    EXPECT_TRUE([object isClassMethod: "inherited"]);
    EXPECT_FALSE([object isInstanceMethod: "missing"]);
    EXPECT_FALSE([object isInstanceMethod: NULL]);
    EXPECT_TRUE(Equal(@"base", Call(object, "inherited", nil, NO)));
    BqPerlObject *autoloading = Make(@"POTest::Auto");
    EXPECT_TRUE([autoloading isInstanceMethod: "anything"]);
    EXPECT_TRUE(Equal(@"auto anything", Call(autoloading, "anything", nil, NO)));
    EXPECT_TRUE(Equal(@"auto declared", Call(autoloading, "declared", nil, NO)))
	<< "a stub is answered by AUTOLOAD";
    EXPECT_TRUE(Equal(@"defined", Call(autoloading, "defined_here", nil, NO)));
    EXPECT_TRUE(Equal(@"base", Call(object, "POTest::Base::inherited", nil, NO)))
	<< "a name with its package";
    EXPECT_FALSE([object isInstanceMethod: "POTest::Base::missing"]);
}

TEST_F(PerlObjectTest, EveryShapeOfResultInBothContexts)
{
    BqPerlObject *object = Make(@"POTest");
    NSArray *seven = [NSArray arrayWithObject: [NSNumber numberWithInt: 7]];
    EXPECT_EQ(8, [Call(object, "add_one", seven, NO) intValue]);
    NSArray *one = Call(object, "add_one", seven, YES);
    ASSERT_TRUE([one isKindOfClass: [NSMutableArray class]]);
    ASSERT_EQ(1U, [one count]);
    EXPECT_EQ(8, [[one objectAtIndex: 0] intValue]);

    EXPECT_EQ(nil, Call(object, "none", nil, NO));
    EXPECT_EQ(nil, Call(object, "none", nil, YES));

    NSArray *several = Call(object, "several", nil, YES);
    ASSERT_EQ(3U, [several count]);
    EXPECT_EQ(1, [[several objectAtIndex: 0] intValue]);
    EXPECT_EQ([BqNil sharedInstance], [several objectAtIndex: 1]);
    EXPECT_EQ(3, [[several objectAtIndex: 2] intValue]);
    EXPECT_EQ(std::string("a,b"),
	[[Call(object, "two", nil, YES) componentsJoinedByString: @","] UTF8String]);

    EXPECT_EQ(nil, Call(object, "one_undef", nil, NO));
    NSArray *undefined = Call(object, "one_undef", nil, YES);
    ASSERT_EQ(1U, [undefined count]);
    EXPECT_EQ([BqNil sharedInstance], [undefined objectAtIndex: 0]);

    /* Scalar context is Perl's: the sub sees it, and a list it returns
     * gives what Perl gives for it there. */
    EXPECT_TRUE(Equal(@"scalar", Call(object, "context", nil, NO)));
    EXPECT_TRUE(Equal(@"list", [Call(object, "context", nil, YES) objectAtIndex: 0]));
    EXPECT_EQ(3, [Call(object, "several", nil, NO) intValue]);

    EXPECT_TRUE(Equal(@"POTest", [object invokeMethod: "invocant" withArgs: nil classMethod: YES
				  listContext: NO]));
    EXPECT_TRUE(Equal(@"POTest", Call(object, "invocant", nil, NO)));
    NSArray *mixed = [NSArray arrayWithObjects: @"s", [BqNil sharedInstance],
	[NSArray array], [[[NSObject alloc] init] autorelease], nil];
    EXPECT_TRUE(Equal(@"s,undef,ARRAY,Vantle::Object", Call(object, "describe", mixed, NO)));
    [object setRawSet: YES];
    EXPECT_TRUE(Equal(@"Vantle::Object,Vantle::Object", Call(object, "describe",
	    [NSArray arrayWithObjects: @"s", [NSArray array], nil], NO)));
    [object setRawSet: NO];
    [object setRawGet: YES];
    EXPECT_TRUE([Call(object, "add_one", seven, NO) isKindOfClass: [BqPerlVar class]]);
}

TEST_F(PerlObjectTest, MissingAndDyingMethodsRaisePerlErrors)
{
    BqPerlObject *object = Make(@"POTest");
    auto raised = Raised([&] { Call(object, "missing", nil, NO); });
    EXPECT_EQ("Perl Error", raised.first);
    EXPECT_EQ("No instance method \"missing\" in package POTest", raised.second);
    EXPECT_STREQ("No instance method \"missing\" in package POTest", SvPV_nolen(ERRSV));
    raised = Raised([&] {
	[object invokeMethod: "missing" withArgs: nil classMethod: YES listContext: YES];
    });
    EXPECT_EQ("No class method \"missing\" in package POTest", raised.second);

    raised = Raised([&] { Call(object, "dies", nil, NO); });
    EXPECT_EQ("Perl Error", raised.first);
    EXPECT_EQ("method died\n", raised.second);
    raised = Raised([&] { Call(object, "dies", nil, YES); });
    EXPECT_EQ("method died\n", raised.second);
    raised = Raised([&] { Call(object, "dies_object", nil, NO); });
    EXPECT_EQ("error object", raised.second);
    raised = Raised([&] { Call(object, "code", nil, NO); });
    EXPECT_EQ(0U, raised.second.find("perl method code: cannot convert what it returned: "))
	<< raised.second;

    Eval("our $po_unblessed = {}; our $po_array_object = bless [], 'POTest';");
    BqPerlObject *unblessed = [[[BqPerlObject alloc]
	initForRVHV: get_sv("main::po_unblessed", 0) magic: NO] autorelease];
    EXPECT_EQ("Perl object is not blessed", Raised([&] { Call(unblessed, "x", nil, NO); }).second);
    BqPerlObject *array = [[[BqPerlObject alloc]
	initForRVHV: get_sv("main::po_array_object", 0) magic: NO] autorelease];
    EXPECT_EQ("Bad perl object (not a hash ref)", Raised([&] { Call(array, "x", nil, NO); }).second);
    EXPECT_EQ("NSInvalidArgumentException",
	Raised([&] { Call(object, "describe", (NSArray *) @"no array", NO); }).first);
}

TEST_F(PerlObjectTest, ArgumentScalarsAreFreedOnceTheCallReturns)
{
    BqPerlObject *object = Make(@"POTest");
    ENTER;
    SAVETMPS;
    EXPECT_EQ(1, [Call(object, "keep_weak", [NSArray arrayWithObject: @"argument"], NO)
	    intValue]);
    EXPECT_FALSE(SvOK(get_sv("POTest::weak", 0))) << "the argument went with the call's frame";
    FREETMPS;
    LEAVE;
}

/*
 * A thousand calls that fail every way leave the Perl stacks, the scopes
 * and the temporaries where they were, and the next call works.
 */
TEST_F(PerlObjectTest, AThousandFailedCallsLeaveThePerlStacksBalanced)
{
    BqPerlObject *object = Make(@"POTest");
    NSArray *argument = [NSArray arrayWithObject: @"x"];
    SSize_t stack = PL_stack_sp - PL_stack_base;
    I32 *marks = PL_markstack_ptr;
    I32 scopes = PL_scopestack_ix, saves = PL_savestack_ix;
    SSize_t temps = PL_tmps_ix, floor = PL_tmps_floor;
    for (int i = 0; i < 1000; i++) {
	NSAutoreleasePool *inner = [[NSAutoreleasePool alloc] init];
	Raised([&] { Call(object, "dies", argument, NO); });
	Raised([&] { Call(object, "dies", argument, YES); });
	Raised([&] { Call(object, "dies_object", argument, NO); });
	Raised([&] { Call(object, "missing", argument, NO); });
	Raised([&] {
	    [object invokeMethod: "missing" withArgs: argument classMethod: YES listContext: NO];
	});
	Raised([&] { Call(object, "code", argument, YES); });
	[inner release];
    }
    EXPECT_EQ(stack, PL_stack_sp - PL_stack_base);
    EXPECT_EQ(marks, PL_markstack_ptr);
    EXPECT_EQ(scopes, PL_scopestack_ix);
    EXPECT_EQ(saves, PL_savestack_ix);
    EXPECT_EQ(temps, PL_tmps_ix);
    EXPECT_EQ(floor, PL_tmps_floor);
    EXPECT_EQ(42, [Call(object, "add_one", [NSArray arrayWithObject:
	    [NSNumber numberWithInt: 41]], NO) intValue]);
}

TEST_F(PerlObjectTest, TracesPrintEveryReadWriteAndCall)
{
    BqPerlObject *object = Make(@"POTest");
    [object setTraceAll: YES];
    std::string printed = Printed([&] {
	[object setIVar: "count" toValue: [NSNumber numberWithInt: 2]];
	[object getIVarValue: "count"];
	[object getIVarValue: "count" raw: YES];
	Call(object, "get_count", [NSArray arrayWithObject: @"a"], NO);
	Call(object, "several", nil, YES);
	Call(object, "none", nil, NO);
	Raised([&] { Call(object, "dies", nil, NO); });
	Raised([&] { Call(object, "missing", nil, NO); });
    });
    const char *const expected =
	"POTest->{count} <<== 2\n"
	"POTest->{count} ==>> 2\n"
	"POTest->{count} **>> <BqPerlVar: 2>\n"
	"POTest Entering -get_count\n"
	"\targ 0: a\n"
	"POTest -get_count returning: 2\n"
	"POTest Entering -several\n"
	"POTest -several returning 3 values:\n"
	"\t0: 3\n"
	"\t1: <nil>\n"
	"\t2: 1\n"
	"POTest Entering -none\n"
	"POTest -none returning: nil\n"
	"POTest Entering -dies\n"
	"POTest -dies ERROR: method died\n\n"
	"POTest Entering -missing\n"
	"POTest -missing ERROR: No instance method \"missing\" in package POTest\n";
    EXPECT_EQ(expected, printed);
}

} // namespace

