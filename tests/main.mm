/*
 * main.mm --
 *
 *	The test host: starts the runtime layer once, keeps an autorelease
 *	pool for the whole run, then runs every test.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqOsmo.h"

int
main(int argc, char **argv)
{
    NSAutoreleasePool *pool = [[NSAutoreleasePool alloc] init];
    BqOsmo_Init();
    testing::InitGoogleTest(&argc, argv);
    int status = RUN_ALL_TESTS();
    [pool release];
    return status;
}
