/*
 * SelectorMapTest.mm --
 *
 *	The selector map's names and lookups that need no Perl interpreter
 *	(the ambiguity warning is Perl's and is tested from Perl).
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "EmbeddedPerl.h"
#include "PerlSelectorMap.h"
#include "TypeEncoding.h"

#include <string>

static std::string
PerlName(const char *name)
{
    char buffer[256];
    VantlePriv_PerlNameOfSelector(name, buffer);
    return buffer;
}

TEST(SelectorMap, PerlNames)
{
    EXPECT_EQ("setObjectForKey", PerlName("setObject:forKey:"));
    EXPECT_EQ("objectAtIndex", PerlName("objectAtIndex:"));
    EXPECT_EQ("description", PerlName("description"));
    EXPECT_EQ("aBC", PerlName("a:b:c"));
    EXPECT_EQ("", PerlName(""));
}

@interface SelectorMapOnly : NSObject
- (void) selectorMapOnlyFirst: (int)a second: (int)b;
@end
@implementation SelectorMapOnly
- (void) selectorMapOnlyFirst: (int)a second: (int)b
{
    (void) a;
    (void) b;
}
@end

TEST(SelectorMap, CollectionFindsEveryClassesSelectors)
{
    Vantle_SelectorMapInit();
    SEL wanted = @selector(selectorMapOnlyFirst:second:);
    /* Unknown before a collection; a full lookup collects. */
    SEL found = VantlePriv_FindSelector(nil, Nil, "", "selectorMapOnlyFirstSecond", 2);
    ASSERT_NE(nullptr, found);
    EXPECT_STREQ(sel_getName(wanted), sel_getName(found));
    EXPECT_EQ(found, VantlePriv_QuickFindSelector("selectorMapOnlyFirstSecond", -1));
    EXPECT_EQ(nullptr, VantlePriv_QuickFindSelector("selectorMapOnlyFirstSecond", 1))
	<< "the number of arguments must match";
    EXPECT_NE(nullptr, VantlePriv_QuickFindSelector("setObjectForKey", 2));

    /* Adding again keeps one entry: no ambiguity arises. */
    VantlePriv_AddSelector(wanted);
    VantlePriv_AddSelector(sel_registerName("selectorMapOnlyFirst:second:"));
    EXPECT_EQ(found, VantlePriv_QuickFindSelector("selectorMapOnlyFirstSecond", 2));
}

TEST(SelectorMap, FormedNameAnsweredByTheReceiver)
{
    Vantle_SelectorMapInit();
    SelectorMapOnly *object = [[[SelectorMapOnly alloc] init] autorelease];
    /* The map has no such Perl name, but the receiver answers the formed
     * selector. */
    SEL found = VantlePriv_FindSelector(object, Nil, "selectorMapOnlyFirst:second:",
	    "noSuchPerlNameAtAll", 2);
    ASSERT_NE(nullptr, found);
    EXPECT_STREQ("selectorMapOnlyFirst:second:", sel_getName(found));
    EXPECT_EQ(nullptr, VantlePriv_FindSelector(object, Nil, "notAnswered:", "notAnswered", 1));
}

/* Two selectors of one Perl name and one number of arguments. */
@interface SelectorMapAmbiguousFirst : NSObject
- (void) ambiguousQ: (int)a r: (int)b;
@end
@implementation SelectorMapAmbiguousFirst
- (void) ambiguousQ: (int)a r: (int)b { (void) a; (void) b; }
@end
@interface SelectorMapAmbiguousSecond : NSObject
- (void) ambiguous: (int)a qR: (int)b;
@end
@implementation SelectorMapAmbiguousSecond
- (void) ambiguous: (int)a qR: (int)b { (void) a; (void) b; }
@end

TEST(SelectorMap, AmbiguityWarnsOncePerExtraMatchAndKeepsTheFirst)
{
    PerlInterpreter *my_perl = EmbeddedPerl();
    Vantle_SelectorMapInit();
    VantlePriv_AddSelector(@selector(ambiguousQ:r:));
    VantlePriv_AddSelector(@selector(ambiguous:qR:));
    eval_pv("our @SelectorMapWarnings; $SIG{__WARN__} = sub { push @SelectorMapWarnings, $_[0] };",
	    TRUE);
    SEL found = VantlePriv_QuickFindSelector("ambiguousQR", 2);
    eval_pv("delete $SIG{__WARN__};", TRUE);
    ASSERT_NE(nullptr, found);
    AV *warnings = get_av("SelectorMapWarnings", 0);
    ASSERT_NE(nullptr, warnings);
    ASSERT_EQ(0, av_len(warnings)) << "one warning for the one extra match";
    SV **text = av_fetch(warnings, 0, 0);
    ASSERT_NE(nullptr, text);
    /* The list is newest first and the answer is the match met last, the
     * one entered earliest; the warning names it second. */
    std::string expected = std::string("ambiguous selectors for \"ambiguousQR(2)\": \"")
	+ (strcmp(sel_getName(found), "ambiguousQ:r:") == 0 ? "ambiguous:qR:" : "ambiguousQ:r:")
	+ "\" vs \"" + sel_getName(found) + "\"";
    EXPECT_EQ(expected, std::string(SvPV_nolen(*text)).substr(0, expected.size()));
}
