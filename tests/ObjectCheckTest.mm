/*
 * ObjectCheckTest.mm --
 *
 *	The validity check must answer for any pointer without faulting.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqOsmo.h"
#include "KxAllocHooks.h"
#include "KxObjectCheck.h"

#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

TEST(ObjectCheck, LiveObjectsClassesAndNilAreValid)
{
    NSObject *object = [[NSObject alloc] init];
    EXPECT_EQ(nullptr, BqOsmo_IsIdInvalid(nil));
    EXPECT_EQ(nullptr, BqOsmo_IsIdInvalid(object));
    EXPECT_EQ(nullptr, BqOsmo_IsIdInvalid(@"a constant string"));
    EXPECT_EQ(nullptr, BqOsmo_IsIdInvalid((id) [NSObject class]));
    EXPECT_EQ(nullptr, BqOsmo_IsIdInvalid((id) object_getClass((id) [NSString class])));
    EXPECT_EQ(nullptr, BqOsmo_IsIdInvalid([BqNil sharedInstance]));
    [object release];
}

TEST(ObjectCheck, MisalignedPointers)
{
    NSObject *object = [[NSObject alloc] init];
    EXPECT_STREQ("Illegal id pointer", BqOsmo_IsIdInvalid((id) ((char *) object + 1)));
    EXPECT_STREQ("Illegal id pointer", BqOsmo_IsIdInvalid((id) ((char *) object + 4)));
    EXPECT_STREQ("Illegal id pointer", BqOsmo_IsIdInvalid((id) (uintptr_t) 0x7));
    [object release];
}

TEST(ObjectCheck, UnmappedPointers)
{
    EXPECT_STREQ("Not an object nor a class", BqOsmo_IsIdInvalid((id) (uintptr_t) 0x8));
    EXPECT_STREQ("Not an object nor a class", BqOsmo_IsIdInvalid((id) (uintptr_t) 0x7ffffffffff8ULL));
    EXPECT_STREQ("Not an object nor a class", BqOsmo_IsIdInvalid((id) (uintptr_t) 0xfffffffffffffff8ULL));

    /* A page that was mapped and is gone, and one that cannot be read. */
    size_t page = (size_t) sysconf(_SC_PAGESIZE);
    void *gone = mmap(NULL, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(MAP_FAILED, gone);
    munmap(gone, page);
    EXPECT_STREQ("Not an object nor a class", BqOsmo_IsIdInvalid((id) gone));
    void *locked = mmap(NULL, page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(MAP_FAILED, locked);
    EXPECT_STREQ("Not an object nor a class", BqOsmo_IsIdInvalid((id) locked));
    munmap(locked, page);
}

TEST(ObjectCheck, HeapGarbage)
{
    uintptr_t *garbage = (uintptr_t *) malloc(64);
    memset(garbage, 0xab, 64);
    EXPECT_STREQ("Not an object nor a class", BqOsmo_IsIdInvalid((id) garbage));
    /* A word that points at a real object is still no class. */
    NSObject *object = [[NSObject alloc] init];
    garbage[0] = (uintptr_t) object;
    EXPECT_STREQ("Not an object nor a class", BqOsmo_IsIdInvalid((id) garbage));
    garbage[0] = 0;
    EXPECT_STREQ("Not an object nor a class", BqOsmo_IsIdInvalid((id) garbage));
    [object release];
    free(garbage);
}

TEST(ObjectCheck, FreedObjects)
{
    /* GNUstep marks a freed object's class word; once the allocator reuses
     * the block the word is something else, which is no class either. */
    uintptr_t fake[2] = { KX_FREED_OBJECT_MARK, 0 };
    EXPECT_STREQ("Freed object", BqOsmo_IsIdInvalid((id) fake));

    /* Checked (and so remembered as valid) before it is freed: the
     * answer must change all the same. */
    for (int kind = 0; kind < 3; kind++) {
	id object = kind == 0 ? [[NSObject alloc] init]
	    : kind == 1 ? (id) [[NSString alloc] initWithUTF8String: "freed string"]
	    : (id) [[NSMutableArray alloc] init];
	ASSERT_EQ(nullptr, BqOsmo_IsIdInvalid(object));
	ASSERT_EQ(nullptr, BqOsmo_IsIdInvalid(object));
	[object release];
	const char *message = BqOsmo_IsIdInvalid(object);
	ASSERT_NE(nullptr, message) << kind;
	EXPECT_TRUE(strcmp(message, "Freed object") == 0
		|| strcmp(message, "Not an object nor a class") == 0) << message;
    }
}

@interface ObjectCheckLateClassBase : NSObject
@end
@implementation ObjectCheckLateClassBase
@end

TEST(ObjectCheck, ClassesMadeAfterFirstUseAreKnown)
{
    EXPECT_EQ(nullptr, BqOsmo_IsIdInvalid([[[NSObject alloc] init] autorelease]));
    Class made = objc_allocateClassPair([ObjectCheckLateClassBase class], "ObjectCheckMadeLater", 0);
    ASSERT_NE(Nil, made);
    objc_registerClassPair(made);
    id instance = [[made alloc] init];
    EXPECT_EQ(nullptr, BqOsmo_IsIdInvalid(instance));
    EXPECT_EQ(nullptr, BqOsmo_IsIdInvalid((id) made));
    [instance release];
}

TEST(ObjectCheck, FreshObjectsPassWithoutAskingTheKernel)
{
    KxEnsureAllocationHooks();
    id fresh[3] = { [[NSObject alloc] init], [[NSMutableArray alloc] init],
		    [[NSString alloc] initWithUTF8String: "fresh"] };
    unsigned long before = KxKernelReadCount();
    for (id object : fresh) {
	EXPECT_EQ(nullptr, BqOsmo_IsIdInvalid(object));
    }
    EXPECT_EQ(before, KxKernelReadCount());
    for (id object : fresh) {
	[object release];
	EXPECT_NE(nullptr, BqOsmo_IsIdInvalid(object));
    }
}

TEST(ObjectCheck, ObjectsMadeBeforeThousandsOfOthersPassWithoutAskingTheKernel)
{
    KxEnsureAllocationHooks();
    enum { OLD = 100, NEWER = 4000 };
    id old[OLD];
    for (id &object : old) {
	object = [[NSObject alloc] init];
    }
    id newer[NEWER];
    for (id &object : newer) {
	object = [[NSObject alloc] init];
    }
    unsigned long before = KxKernelReadCount();
    for (id object : old) {
	EXPECT_EQ(nullptr, BqOsmo_IsIdInvalid(object));
    }
    EXPECT_EQ(before, KxKernelReadCount());
    for (id object : newer) {
	[object release];
    }
    for (id object : old) {
	[object release];
    }
}

/* Objects made and freed on other threads while this one checks them:
 * no check may fault, and the cache must stay consistent (run under the
 * sanitizer build, which reports any use of freed memory). */
static void *
ChurnObjects(void *context)
{
    void **shared = (void **) context;
    /* GNUstep and the runtime lock their own tables only for threads
     * they know of. */
    GSRegisterCurrentThread();
    for (int i = 0; i < 20000; i++) {
	@autoreleasepool {
	    id object = [[NSMutableArray alloc] init];
	    __atomic_store_n(shared, (void *) object, __ATOMIC_RELEASE);
	    [object release];
	}
    }
    GSUnregisterCurrentThread();
    return NULL;
}

TEST(ObjectCheck, ObjectsFreedOnOtherThreadsLeaveTheCache)
{
    KxEnsureAllocationHooks();
    /* The runtime initialises a class on its first use, and two threads
     * doing that at the same instant can crash inside it (measured with
     * GNUstep alone): the churned class is used here first. */
    [[[NSMutableArray alloc] init] release];
    void *shared = NULL;
    pthread_t threads[2];
    for (pthread_t &thread : threads) {
	ASSERT_EQ(0, pthread_create(&thread, NULL, ChurnObjects, &shared));
    }
    for (int i = 0; i < 20000; i++) {
	void *seen = __atomic_load_n(&shared, __ATOMIC_ACQUIRE);
	if (seen != NULL) {
	    BqOsmo_IsIdInvalid((id) seen);	/* must not fault, whatever it answers */
	}
    }
    for (pthread_t &thread : threads) {
	pthread_join(thread, NULL);
    }
}
