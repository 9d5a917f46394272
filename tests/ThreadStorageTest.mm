/*
 * ThreadStorageTest.mm --
 *
 *	Per-thread heap blocks: each thread gets its own zeroed block, and
 *	the block is cleaned up and freed when its thread exits.  And the
 *	typed-stream error messages that live in such blocks: a message
 *	raised on one thread is not overwritten by errors on another.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "KxThreadStorage.h"
#include "KxError.h"
#include "KxTypedStreamPriv.h"

#include <atomic>
#include <thread>

namespace {

struct Counter {
    int value;
    char text[64];
};

std::atomic<int> cleanedUp{0};

void
CountCleanup(void *block)
{
    EXPECT_EQ(static_cast<Counter *>(block)->value, 7);
    cleanedUp++;
}

KxThreadStorage counters = KX_THREAD_STORAGE_INITIALIZER(sizeof(Counter), CountCleanup);

TEST(ThreadStorage, EachThreadHasItsOwnZeroedBlockCleanedUpAtExit)
{
    Counter *mine = static_cast<Counter *>(KxThreadStorageGet(&counters));
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(mine->value, 0);
    mine->value = 1;
    EXPECT_EQ(KxThreadStorageGet(&counters), mine);

    int before = cleanedUp;
    Counter *theirs = nullptr;
    int theirValue = -1;
    std::thread other([&] {
	theirs = static_cast<Counter *>(KxThreadStorageGet(&counters));
	theirValue = theirs->value;
	theirs->value = 7;
    });
    other.join();
    EXPECT_NE(theirs, mine);
    EXPECT_EQ(theirValue, 0);
    EXPECT_EQ(cleanedUp, before + 1);
    EXPECT_EQ(mine->value, 1);
    mine->value = 7;	/* for this thread's own cleanup */
}

void
RaiseWithText(void *text)
{
    KxTSRaise(TYPEDSTREAM_CALLER_ERROR, "%s", static_cast<const char *>(text));
}

/* The message of a typed-stream error raised with text: the caught
 * data1, which points into the raising thread's message buffers. */
const char *
RaisedMessage(const char *text, KxErrorInfo *error)
{
    if (KxGuard(RaiseWithText, const_cast<char *>(text), error) != TYPEDSTREAM_CALLER_ERROR) {
	return "(not raised)";
    }
    return static_cast<const char *>(error->data1);
}

TEST(ThreadStorage, TypedStreamMessagesAreKeptPerThread)
{
    KxErrorInfo error = {};
    const char *kept = RaisedMessage("first", &error);
    std::thread other([] {
	/* The raised exceptions are autoreleased: GNUstep needs to know
	 * the thread for its pools. */
	GSRegisterCurrentThread();
	@autoreleasepool {
	    for (int i = 0; i < 20; i++) {
		KxErrorInfo theirs = {};
		EXPECT_STREQ(RaisedMessage("elsewhere", &theirs), "elsewhere");
		KxErrorInfoClear(&theirs);
	    }
	}
	GSUnregisterCurrentThread();
    });
    other.join();
    EXPECT_STREQ(kept, "first");
    KxErrorInfoClear(&error);
}

}  // namespace

namespace {

KxThreadStorage texts = KX_THREAD_DSTRING_STORAGE;

TEST(ThreadStorage, TextBuffersAreReusedPerThread)
{
    Tcl_DString *mine = KxThreadDStringGet(&texts);
    ASSERT_NE(mine, nullptr);
    Tcl_DStringAppend(mine, "kept", -1);
    EXPECT_EQ(KxThreadDStringGet(&texts), mine);
    std::thread other([&] {
	Tcl_DString *theirs = KxThreadDStringGet(&texts);
	EXPECT_NE(theirs, mine);
	EXPECT_EQ(Tcl_DStringLength(theirs), 0);
	Tcl_DStringAppend(theirs, "a long text that leaves the static space of the buffer"
		" behind, so that the thread's exit has storage to free", -1);
    });
    other.join();
    EXPECT_STREQ(Tcl_DStringValue(mine), "kept");
}

}  // namespace
