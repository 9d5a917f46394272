/*
 * ControlTest.mm --
 *
 *	Start-up, zones, control defaults, the error log and the version.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqOsmo.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string>

TEST(Control, StartValuesInOrder)
{
    const unsigned char expected[BqOsmoControl_Count] = { 0, 1, 1, 0, 1, 0, 0, 0, 0, 1 };
    unsigned char *controls = BqOsmo_GetControlBase();
    for (int i = 0; i < BqOsmoControl_Count; i++) {
	EXPECT_EQ(expected[i], controls[i]) << BqOsmo_ControlName(i);
    }
    EXPECT_STREQ("message_trace", BqOsmo_ControlName(0));
    EXPECT_STREQ("bad_object_check", BqOsmo_ControlName(9));
    EXPECT_EQ(BqOsmoControl_use_ns_exceptions, BqOsmo_ControlIndex("use_ns_exceptions"));
    EXPECT_EQ(-1, BqOsmo_ControlIndex("no_such_control"));
    EXPECT_EQ(nullptr, BqOsmo_ControlName(BqOsmoControl_Count));
}

TEST(Control, SecondInitKeepsZonesAndValues)
{
    KxZone *runtimeZone = BqOsmo_GetRuntimeZone();
    KxZone *tmpZone = BqOsmo_GetTmpZone();
    ASSERT_NE(nullptr, runtimeZone);
    ASSERT_NE(runtimeZone, tmpZone);
    BQ_CONTROL(message_trace) = 1;
    BqOsmo_Init();
    BqOsmo_ControlInit();
    EXPECT_EQ(runtimeZone, BqOsmo_GetRuntimeZone());
    EXPECT_EQ(tmpZone, BqOsmo_GetTmpZone());
    EXPECT_EQ(1, BQ_CONTROL(message_trace)) << "a second init must not reset controls";
    BQ_CONTROL(message_trace) = 0;
    EXPECT_STREQ("BqOsmo-Runtime", BqKxZoneName(runtimeZone));
    EXPECT_STREQ("BqOsmo-Temp-Stuff", BqKxZoneName(tmpZone));
}

TEST(Control, FrameworkDirectory)
{
    /* The directory is settled on first use; a given one replaces it. */
    const char *first = BqOsmo_FrameworkDirectory(NULL);
    const char *fromEnvironment = getenv("OSMO_FRAMEWORK");
    EXPECT_STREQ(fromEnvironment != NULL ? fromEnvironment : "/LocalDeveloper/Libraries/Objective",
	    first);
    EXPECT_STREQ("/opt/frameworks", BqOsmo_FrameworkDirectory("/opt/frameworks"));
    EXPECT_STREQ("/opt/frameworks", BqOsmo_FrameworkDirectory(NULL));
}

TEST(Control, Version)
{
    EXPECT_EQ(30100, BqOsmo_Version());
    EXPECT_STREQ("3.1", BqOsmo_VersionName());
    EXPECT_STREQ("Aug  9 1996", BqOsmo_BuildDate());
    ASSERT_NE(nullptr, BqOsmo_GetCrashCatch());
    EXPECT_EQ(0, *BqOsmo_GetCrashCatch());
}

static std::string capturedLog;

static void
CaptureLog(const char *format, ...)
{
    char buffer[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buffer, sizeof buffer, format, ap);
    va_end(ap);
    capturedLog += buffer;
}

TEST(Control, DefaultLogWritesPrefixToStandardError)
{
    testing::internal::CaptureStderr();
    BqOsmo_GetLogErrorFunction()("something %s %d\n", "broke", 7);
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ("%%Osmo Error: something broke 7\n", written);
}

TEST(Control, LogFunctionCanBeReplacedAndRestored)
{
    BqOsmo_LogErrorFunction previous = BqOsmo_SetLogErrorFunction(CaptureLog);
    capturedLog.clear();
    BqOsmo_GetLogErrorFunction()("x=%d", 3);
    EXPECT_EQ("x=3", capturedLog);
    EXPECT_EQ(CaptureLog, BqOsmo_SetLogErrorFunction(NULL));
    EXPECT_EQ(previous, BqOsmo_GetLogErrorFunction());
}
