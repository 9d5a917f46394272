/*
 * RuntimeChangeTest.mm --
 *
 *	The generation of runtime changes: it stays put while nothing
 *	changes, and moves for a change noted, for a module the runtime
 *	loads (a category attached late), and when another loader has
 *	replaced the runtime's load hook, whose place it then takes back.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "RuntimeChange.h"

#include <dlfcn.h>
#include <objc/runtime.h>

TEST(RuntimeChange, MovesForEveryChange)
{
    unsigned start = BqOsmo_RuntimeGeneration();
    EXPECT_EQ(start, BqOsmo_RuntimeGeneration()) << "nothing changed";

    BqOsmo_NoteRuntimeChange();
    unsigned noted = BqOsmo_RuntimeGeneration();
    EXPECT_NE(start, noted);
    EXPECT_EQ(noted, BqOsmo_RuntimeGeneration());

    /* A module whose category the runtime attaches as it loads. */
    SEL late = sel_registerName("bqLateCategoryAnswer");
    ASSERT_FALSE(class_respondsToSelector([NSObject class], late)) << "loaded already";
    void *module = dlopen(LATE_CATEGORY_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, module) << dlerror();
    ASSERT_TRUE(class_respondsToSelector([NSObject class], late));
    unsigned loaded = BqOsmo_RuntimeGeneration();
    EXPECT_NE(noted, loaded) << "the load was counted";
    EXPECT_EQ(loaded, BqOsmo_RuntimeGeneration());
    /* The module stays: the runtime keeps pointers into it. */
}

TEST(RuntimeChange, TakesTheLoadHookBack)
{
    unsigned start = BqOsmo_RuntimeGeneration();
    void (*ours)(Class, struct objc_category *) = _objc_load_callback;
    ASSERT_NE(nullptr, ours);

    /* GNUstep's bundle loader puts a hook of its own in place while it
     * loads, and clears the hook afterwards. */
    _objc_load_callback = NULL;
    unsigned afterLoader = BqOsmo_RuntimeGeneration();
    EXPECT_NE(start, afterLoader);
    EXPECT_EQ(ours, _objc_load_callback);
    EXPECT_EQ(afterLoader, BqOsmo_RuntimeGeneration()) << "watched again";
}
