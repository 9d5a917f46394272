/*
 * StartupTest.mm --
 *
 *	Start-up order, seen by a customisation class that the test host
 *	supplies: it is asked before the zones exist and again after every
 *	area was set up.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqOsmo.h"
#include "CTypes.h"

static int preInitCalls;
static int postInitCalls;
static int zonesExistedAtPreInit = -1;
static int controlsSetAtPostInit = -1;
static int typeFixesAtPostInit = -1;

@interface BqOsmoCustomInitialize : NSObject
@end

@implementation BqOsmoCustomInitialize
+ (void) preInit
{
    preInitCalls++;
    zonesExistedAtPreInit = BqOsmo_GetRuntimeZone() != NULL;
}
+ (void) postInit
{
    postInitCalls++;
    controlsSetAtPostInit = BQ_CONTROL(bad_object_check);
    CTypeTable *table = BqOsmo_NewCTypeTable("StartupTest", NULL, NULL, NULL, NULL, NULL,
	    NULL, NULL, 0);
    BqOsmo_AddCType(table, "#", "Class", NULL, NULL, NULL, NULL);
    CTypeEntry *entry = BqOsmo__CTypeTFind(table, "^{_objc_class}");
    typeFixesAtPostInit = entry != NULL;
}
@end

TEST(Startup, CustomisationClassBracketsTheStartUpOnce)
{
    /* The test host started the layer before any test ran. */
    BqOsmo_Init();
    EXPECT_EQ(1, preInitCalls);
    EXPECT_EQ(1, postInitCalls);
    EXPECT_EQ(0, zonesExistedAtPreInit);
    EXPECT_EQ(1, controlsSetAtPostInit);
    EXPECT_EQ(1, typeFixesAtPostInit) << "type fixes are entered during start-up";
}
