/*
 * DravikMagicTest.mm --
 *
 *	Retaining containers seen from C (DravikMagic.h): what
 *	Dravik_MakeMagic makes of a container Perl code cannot hand over
 *	itself (the blessing moving out, the values already inside
 *	retained), what it refuses, the keys an object reads of its inner
 *	container, and the hash operations with their retains.  The subs of
 *	Dravik::Magic are registered in the embedded interpreter without
 *	the rest of Dravik, whose controls would change other tests.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "DravikMagic.h"
#include "EmbeddedPerl.h"
#include "Vantle.h"

#include <string.h>

namespace {

class DravikMagicTest : public ::testing::Test {
protected:
    PerlInterpreter *my_perl;
    NSAutoreleasePool *pool;
    id object;

    void SetUp() override
    {
	my_perl = EmbeddedPerl();
	static int booted;
	if (!booted) {
	    DravikPriv_BootMagic(aTHX);
	    booted = 1;
	}
	pool = [[NSAutoreleasePool alloc] init];
	object = [[NSObject alloc] init];
	ENTER;
	SAVETMPS;
    }

    void TearDown() override
    {
	FREETMPS;
	LEAVE;
	[pool release];
	[object release];
    }

    /* The value of Perl text, with a count of its own for the caller. */
    SV *Eval(const char *text)
    {
	SV *value = eval_pv(text, TRUE);
	return SvREFCNT_inc_simple_NN(SvROK(value) ? SvRV(value) : value);
    }

    /* A new mortal handle of object. */
    SV *Handle()
    {
	SV *handle = sv_newmortal();
	EXPECT_TRUE(Vantle_SVSetObject(handle, object, NULL));
	return handle;
    }

    /* The object's retain count once the temporaries (among them the tie
     * objects Dravik_MakeMagic makes) and what was autoreleased are let
     * go. */
    NSUInteger Count()
    {
	FREETMPS;
	[pool release];
	pool = [[NSAutoreleasePool alloc] init];
	return [object retainCount];
    }

    /* Makes the retaining container Perl's $Dravik::MagicTest::x refers to. */
    void Publish(SV *outer)
    {
	sv_setsv(get_sv("Dravik::MagicTest::x", GV_ADD), sv_2mortal(newRV_noinc(outer)));
    }
};

TEST_F(DravikMagicTest, MakeMagicHandsTheBlessingToTheOuterHash)
{
    SV *inner = Eval("bless { a => 1 }, 'Dravik::MagicTest::Owner'");
    SV *outer = Dravik_MakeMagic(inner, DRAVIK_MAGIC_HASH);
    ASSERT_NE(nullptr, outer);
    ASSERT_NE(inner, outer);
    EXPECT_EQ(SVt_PVHV, SvTYPE(outer));
    ASSERT_TRUE(SvOBJECT(outer));
    EXPECT_STREQ("Dravik::MagicTest::Owner", HvNAME(SvSTASH(outer)));
    EXPECT_STREQ("Dravik::Magic", HvNAME(SvSTASH(inner)));
    EXPECT_TRUE(Dravik_IsMagic(outer, DRAVIK_MAGIC_HASH));
    EXPECT_FALSE(Dravik_IsMagic(outer, DRAVIK_MAGIC_SCALAR));
    EXPECT_FALSE(Dravik_IsMagic(inner, DRAVIK_MAGIC_HASH));
    SV *tieObject = Dravik_GetMagic(outer, DRAVIK_MAGIC_HASH);
    ASSERT_NE(nullptr, tieObject);
    EXPECT_EQ(inner, SvRV(tieObject));
    EXPECT_EQ(DRAVIK_MAGIC_HASH, Dravik_GetMagicType(tieObject));
    EXPECT_EQ(outer, Dravik_MakeMagic(outer, DRAVIK_MAGIC_HASH)) << "made only once";

    Publish(outer);
    SV *seen = eval_pv("ref($Dravik::MagicTest::x) . ' ' . $Dravik::MagicTest::x->{a}", TRUE);
    EXPECT_STREQ("Dravik::MagicTest::Owner 1", SvPV_nolen(seen));
    eval_pv("undef $Dravik::MagicTest::x", TRUE);
}

TEST_F(DravikMagicTest, MakeMagicRetainsWhatTheContainerHolds)
{
    AV *array = newAV();
    av_push(array, newSVsv(Handle()));
    av_push(array, newSViv(7));
    SV *outer = Dravik_MakeMagic((SV *) array, DRAVIK_MAGIC_ARRAY);
    ASSERT_NE(nullptr, outer);
    EXPECT_EQ(2u, Count());
    EXPECT_EQ(DRAVIK_MAGIC_ARRAY, Dravik_GetMagicType(Dravik_GetMagic(outer, DRAVIK_MAGIC_ARRAY)));
    SvREFCNT_dec(outer);
    EXPECT_EQ(1u, Count()) << "released when the array goes";

    HV *hash = newHV();
    (void) hv_stores(hash, "selfObject", newSVsv(Handle()));
    (void) hv_stores(hash, "other", newSVsv(Handle()));
    outer = Dravik_MakeMagic((SV *) hash, DRAVIK_MAGIC_HASH);
    EXPECT_EQ(2u, Count()) << "selfObject is not retained";
    SvREFCNT_dec(outer);
    EXPECT_EQ(1u, Count());

    SV *scalar = newSVsv(Handle());
    outer = Dravik_MakeMagic(scalar, DRAVIK_MAGIC_SCALAR);
    EXPECT_TRUE(Dravik_IsMagic(outer, DRAVIK_MAGIC_SCALAR));
    EXPECT_EQ(2u, Count());
    Publish(outer);
    SV *same = eval_pv("${$Dravik::MagicTest::x}->self", TRUE);
    EXPECT_EQ(object, Vantle_SVGetObject2(same, NULL, NULL));
    eval_pv("undef $Dravik::MagicTest::x", TRUE);
    EXPECT_EQ(1u, Count());
}

TEST_F(DravikMagicTest, MakeMagicRefusesWhatCannotBeInside)
{
    EXPECT_EQ(nullptr, Dravik_MakeMagic(NULL, DRAVIK_MAGIC_HASH));
    SV *hash = sv_2mortal(Eval("+{}"));
    EXPECT_EQ(nullptr, Dravik_MakeMagic(hash, DRAVIK_MAGIC_ARRAY)) << "another kind";
    EXPECT_EQ(nullptr, Dravik_MakeMagic(hash, 7)) << "no kind";
    SV *constant = sv_2mortal(newSVpvs("fixed"));
    SvREADONLY_on(constant);
    EXPECT_EQ(nullptr, Dravik_MakeMagic(constant, DRAVIK_MAGIC_SCALAR)) << "read-only";
    SV *outer = sv_2mortal(Dravik_MakeMagic(SvREFCNT_inc_simple_NN(hash), DRAVIK_MAGIC_HASH));
    EXPECT_EQ(nullptr, Dravik_MakeMagic(hash, DRAVIK_MAGIC_HASH)) << "already an inner hash";
    EXPECT_FALSE(Dravik_IsMagic(NULL, DRAVIK_MAGIC_HASH));
    EXPECT_EQ(nullptr, Dravik_GetMagic(sv_2mortal(newSViv(1)), DRAVIK_MAGIC_SCALAR));
    EXPECT_NE(nullptr, outer);
}

TEST_F(DravikMagicTest, KeysOfEachKind)
{
    SV *outer = sv_2mortal(Dravik_MakeMagic(
	Eval("+{ plain => 1, \"caf\\x{e9}\" => 2, \"\\x{43a}\\x{43b}\" => 3, selfObject => 4 }"),
	DRAVIK_MAGIC_HASH));
    NSArray *keys = Dravik_Magic_keys(Dravik_GetMagic(outer, DRAVIK_MAGIC_HASH));
    NSArray *expected = @[ @"plain", @"caf\u00e9", @"\u043a\u043b" ];
    EXPECT_TRUE([[keys sortedArrayUsingSelector: @selector(compare:)]
		    isEqualToArray: [expected sortedArrayUsingSelector: @selector(compare:)]])
	<< [[keys description] UTF8String];

    outer = sv_2mortal(Dravik_MakeMagic(Eval("[5, undef, 6]"), DRAVIK_MAGIC_ARRAY));
    keys = Dravik_Magic_keys(Dravik_GetMagic(outer, DRAVIK_MAGIC_ARRAY));
    EXPECT_TRUE([keys isEqualToArray: (@[ @0, @1, @2 ])]);

    outer = sv_2mortal(Dravik_MakeMagic(newSViv(3), DRAVIK_MAGIC_SCALAR));
    EXPECT_EQ(0u, [Dravik_Magic_keys(Dravik_GetMagic(outer, DRAVIK_MAGIC_SCALAR)) count]);
    EXPECT_EQ(nil, Dravik_Magic_keys(NULL));
}

TEST_F(DravikMagicTest, HashOperationsRetainAndRelease)
{
    SV *outer = Dravik_MakeMagic(Eval("+{}"), DRAVIK_MAGIC_HASH);
    SV *tieObject = Dravik_GetMagic(outer, DRAVIK_MAGIC_HASH);
    Dravik_Magic_store(tieObject, "a", 1, newSVsv(Handle()), YES);
    Dravik_Magic_store(tieObject, "selfObject", 10, newSVsv(Handle()), YES);
    EXPECT_EQ(2u, Count()) << "selfObject is never retained";
    Dravik_Magic_store(tieObject, "a", 1, newSVsv(Handle()), YES);
    EXPECT_EQ(2u, Count()) << "storing the same object again";
    Dravik_Magic_store(tieObject, "a", 1, newSViv(1), YES);
    EXPECT_EQ(1u, Count()) << "the replaced object is released";

    EXPECT_TRUE(Dravik_Magic_exists(tieObject, "a", 1));
    EXPECT_EQ(nullptr, Dravik_Magic_fetch(tieObject, "b", 1, 0));
    EXPECT_FALSE(Dravik_Magic_exists(tieObject, "b", 1)) << "a fetch makes nothing";
    SV **self = Dravik_Magic_fetch(tieObject, "selfObject", 10, 0);
    ASSERT_NE(nullptr, self);
    EXPECT_EQ(object, Vantle_SVGetObject2(*self, NULL, NULL));
    EXPECT_EQ(nullptr, Dravik_Magic_fetch(NULL, "a", 1, 0));
    EXPECT_FALSE(Dravik_Magic_exists(NULL, "a", 1));
    SvREFCNT_dec(outer);
    EXPECT_EQ(1u, Count()) << "selfObject is not released when the hash goes";
}

} // namespace
