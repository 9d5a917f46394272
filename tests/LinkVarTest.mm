/*
 * LinkVarTest.mm --
 *
 *	Perl scalars linked to object variables of the host, seen from both
 *	sides: the host changes its variable and Perl reads the new object;
 *	Perl assigns and the host's variable changes, unless the link is
 *	read-only; unlinking cuts the two apart.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqVantleInterp.h"
#include "EmbeddedPerl.h"
#include "PerlLinkVar.h"
#include "VantlePriv.h"

#include <string>

namespace {

class LinkVarTest : public ::testing::Test {
protected:
    PerlInterpreter *my_perl;
    BqVantleInterp *interp;
    NSAutoreleasePool *pool;
    id linked;

    void SetUp() override
    {
	my_perl = EmbeddedPerl();
	pool = [[NSAutoreleasePool alloc] init];
	interp = [BqVantleInterp defaultInterp];
	linked = nil;
	ENTER;
	SAVETMPS;
    }

    void TearDown() override
    {
	Vantle_UnlinkVar("main::linked");
	FREETMPS;
	LEAVE;
	[pool release];
    }

    /* The text of a Perl expression, or "error: $@" when it dies. */
    std::string Perl(const char *text)
    {
	int code = 0;
	BqVantleVar *value = [interp eval: text errorCode: &code listContext: NO];
	std::string result = value == nil ? "(nil)" : [value descr];
	[value free];
	return code ? "error: " + result : result;
    }
};

TEST_F(LinkVarTest, PerlReadsWhatTheHostHolds)
{
    NSObject *first = [[[NSObject alloc] init] autorelease];
    linked = first;
    ASSERT_TRUE([interp linkObjectAt: &linked asVariableName: "main::linked" readOnly: NO]);
    EXPECT_EQ("1", Perl("require Scalar::Util; my ($a, $b) = ($main::linked, $main::linked);"
			" Scalar::Util::refaddr($a) == Scalar::Util::refaddr($b)"));
    EXPECT_EQ("1", Perl("$main::linked->isEqual_($main::linked) ? 1 : 0"));

    NSString *second = @"second";
    linked = second;
    EXPECT_EQ("6", Perl("$main::linked->length"));
    linked = nil;
    EXPECT_EQ("1", Perl("Vantle::nil($main::linked)"));
    EXPECT_FALSE([interp linkObjectAt: NULL asVariableName: "main::other" readOnly: NO]);
}

TEST_F(LinkVarTest, PerlWritesTheHostVariable)
{
    ASSERT_TRUE([interp linkObjectAt: &linked asVariableName: "main::linked" readOnly: NO]);
    NSObject *object = [[[NSObject alloc] init] autorelease];
    [[interp registerObject: object asVariableName: "main::published"] free];
    EXPECT_EQ("", Perl("$main::linked = $main::published; ''"));
    EXPECT_EQ(object, linked);
    Perl("$main::linked = undef");
    EXPECT_EQ(nil, linked);

    unsigned char saved = VantlePriv_PerlAutoConvert;
    VantlePriv_PerlAutoConvert = 1;
    Perl("$main::linked = 'converted'");
    EXPECT_TRUE([linked isKindOfClass: [NSString class]]);
    EXPECT_STREQ("converted", [linked UTF8String]);
    VantlePriv_PerlAutoConvert = 0;
    EXPECT_EQ(0u, Perl("$main::linked = [1]").find("error: Glisk::Linkvar::STORE: "));
    VantlePriv_PerlAutoConvert = saved;

    Vantle_UnlinkVar("main::linked");
    linked = nil;
    Perl("$main::linked = $main::published");
    EXPECT_EQ(nil, linked);
}

TEST_F(LinkVarTest, ReadOnlyLinksRefuseAssignment)
{
    NSObject *object = [[[NSObject alloc] init] autorelease];
    linked = object;
    ASSERT_TRUE([interp linkObjectAt: &linked asVariableName: "main::linked" readOnly: YES]);
    EXPECT_EQ(0u, Perl("$main::linked = undef").find("error: Read-ONLY linked variable at"));
    EXPECT_EQ(object, linked);
    EXPECT_EQ("1", Perl("$main::linked->isEqual_($main::linked) ? 1 : 0"));
}

TEST_F(LinkVarTest, OnlyGenuineLinksAreTrusted)
{
    EXPECT_EQ(0u, Perl("Vantle::LinkVar::FETCH(bless \\(my $x = 64), 'Vantle::LinkVar')")
		      .find("error: variable is is not of type Glisk::LinkVar"));
    EXPECT_EQ(0u, Perl("Vantle::LinkVar::STORE(1, 2)")
		      .find("error: variable is is not of type Glisk::LinkVar"));
    EXPECT_EQ(0u, Perl("Vantle::LinkVar::FETCH()").find("error: Usage: Vantle::LinkVar::FETCH(sv)"));
    EXPECT_EQ(0u, Perl("Vantle::LinkVar::STORE(1)")
		      .find("error: Usage: Vantle::LinkVar::STORE(sv,val)"));
}

} // namespace
