/*
 * SelectorMapTest.mm --
 *
 *	The selector map's names and lookups that need no Perl interpreter
 *	(the ambiguity warning is Perl's and is tested from Perl).
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "PerlSelectorMap.h"
#include "TypeSpec.h"

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
