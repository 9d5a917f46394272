/*
 * NamesTest.mm --
 *
 *	The object name registry: name forms, round trips, lookup errors,
 *	forgetting on deallocation, and the observers.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqOsmo.h"

#include <stdint.h>
#include <stdio.h>
#include <string>

@interface NamesTestObject : NSObject
@end
@implementation NamesTestObject
@end

static std::string
Lookup(const char *name, id *objectPtr, char *notFound)
{
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    *notFound = 7;
    *objectPtr = Glisk_LookupObjectName3(name, &errors, notFound);
    std::string message = Tcl_DStringValue(&errors);
    Tcl_DStringFree(&errors);
    return message;
}

static std::string
ExpectedName(id object)
{
    char buffer[256];
    snprintf(buffer, sizeof buffer, "@%s@%08lx", object_getClassName(object),
	    (unsigned long) (uintptr_t) object);
    return buffer;
}

TEST(Names, InstanceNameFormAndRoundTrip)
{
    NamesTestObject *object = [[NamesTestObject alloc] init];
    const char *name = Glisk_RegisterObject(object);
    EXPECT_EQ(ExpectedName(object), name);
    EXPECT_EQ(name, Glisk_RegisterObject(object)) << "same stored name on re-registration";
    EXPECT_EQ(name, Glisk_LookupObject(object));
    EXPECT_EQ(object, Glisk_LookupObjectName(name));
    std::string copy = name;
    Glisk_UnregisterObject(object);
    EXPECT_EQ(nullptr, Glisk_LookupObject(object));
    EXPECT_EQ(nil, Glisk_LookupObjectName(copy.c_str()));
    [object release];
}

TEST(Names, ClassesAndMetaclassesNeedNoRegistration)
{
    EXPECT_STREQ("nil", Glisk_RegisterObject(nil));
    EXPECT_STREQ("nil", Glisk_LookupObject(nil));
    EXPECT_STREQ("NSObject", Glisk_LookupObject((id) [NSObject class]));
    id meta = (id) object_getClass((id) [NSObject class]);
    const char *metaName = Glisk_RegisterObject(meta);
    EXPECT_STREQ("#NSObject", metaName);
    EXPECT_EQ(metaName, Glisk_LookupObject(meta)) << "metaclass names are unique strings";

    id object;
    char notFound;
    EXPECT_EQ("", Lookup("#NSObject", &object, &notFound));
    EXPECT_EQ(meta, object);
    EXPECT_EQ(0, notFound);
    EXPECT_EQ("", Lookup("NSString", &object, &notFound));
    EXPECT_EQ((id) [NSString class], object);
}

TEST(Names, NilSpellingsGiveNilSilently)
{
    for (const char *name : { "nil", "NIL", "Nil", "0x0", "" }) {
	id object = (id) 1;
	char notFound;
	EXPECT_EQ("", Lookup(name, &object, &notFound)) << name;
	EXPECT_EQ(nil, object) << name;
	EXPECT_EQ(0, notFound) << name;
    }
    EXPECT_EQ(nil, Glisk_LookupObjectName3(NULL, NULL, NULL));
}

TEST(Names, LookupErrorsHaveExactTexts)
{
    id object;
    char notFound;
    EXPECT_EQ("Object @Foo@00000000 does not exist (not registered).",
	    Lookup("@Foo@00000000", &object, &notFound));
    EXPECT_EQ(nil, object);
    EXPECT_EQ(1, notFound);

    EXPECT_EQ("\"NoSuchClass\" is not a valid object (class NoSuchClass does not exist)",
	    Lookup("NoSuchClass", &object, &notFound));
    EXPECT_EQ(1, notFound);
    EXPECT_EQ("\"NoSuchClass\" is not a valid object (class NoSuchClass does not exist)",
	    Lookup("#NoSuchClass", &object, &notFound));

    /* Neither errors nor the flag are required. */
    EXPECT_EQ(nil, Glisk_LookupObjectName("@Foo@00000000"));
}

/* GNUstep's own strings, data and collections free themselves without
 * reaching -[NSObject dealloc]; their names must go all the same. */
static id
MakeObject(int kind)
{
    switch (kind) {
    case 0: return [[NamesTestObject alloc] init];
    case 1: return [[NSString alloc] initWithUTF8String: "a string that is freed"];
    case 2: return [[NSMutableString alloc] initWithUTF8String: "mutable"];
    case 3: return [[NSData alloc] initWithBytes: "abc" length: 3];
    case 4: return [[NSArray alloc] initWithObjects: @"x", nil];
    case 5: return [[NSMutableDictionary alloc] init];
    default: return [[NSNumber alloc] initWithDouble: 123456.5];
    }
}

TEST(Names, ForgottenWhenDeallocated)
{
    for (int kind = 0; kind <= 6; kind++) {
	std::string name;
	@autoreleasepool {
	    id object = MakeObject(kind);
	    name = Glisk_RegisterObject(object);
	    ASSERT_EQ(object, Glisk_LookupObjectName(name.c_str())) << name;
	    [object release];
	}
	char notFound;
	id found;
	Lookup(name.c_str(), &found, &notFound);
	EXPECT_EQ(nil, found) << name << " still resolves after dealloc";
	EXPECT_EQ(1, notFound) << name;
    }
}

TEST(Names, UnregisterByNameAndObjectList)
{
    NamesTestObject *a = [[NamesTestObject alloc] init];
    NamesTestObject *b = [[NamesTestObject alloc] init];
    std::string nameA = Glisk_RegisterObject(a);
    std::string nameB = Glisk_RegisterObject(b);

    Tcl_DString list;
    Tcl_DStringInit(&list);
    Glisk_GetObjectList(&list);
    std::string all = std::string(" ") + Tcl_DStringValue(&list) + " ";
    Tcl_DStringFree(&list);
    EXPECT_NE(std::string::npos, all.find(" " + nameA + " "));
    EXPECT_NE(std::string::npos, all.find(" " + nameB + " "));
    EXPECT_EQ(std::string::npos, all.find("  ")) << "names are separated by one blank";

    Glisk_UnregisterObjectName("NamesTestObject");	/* not an instance name: ignored */
    Glisk_UnregisterObjectName(nameA.c_str());
    EXPECT_EQ(nil, Glisk_LookupObjectName(nameA.c_str()));
    EXPECT_EQ(nullptr, Glisk_LookupObject(a));
    EXPECT_EQ(b, Glisk_LookupObjectName(nameB.c_str()));
    [a release];
    [b release];
}

TEST(Names, InvalidPointerIsNotRegistered)
{
    std::string logged;
    testing::internal::CaptureStderr();
    EXPECT_STREQ("nil", Glisk_RegisterObject((id) (uintptr_t) 0x1001));
    logged = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, logged.find("%%Osmo Error: Cannot register 0x1001: Illegal id pointer!"))
	<< logged;
}

static int allocationsSeen;
static int deallocationsSeen;
static id lastDeallocated;

static void
CountAllocation(id object)
{
    (void) object;
    allocationsSeen++;
}

static void
CountDeallocation(id object)
{
    deallocationsSeen++;
    lastDeallocated = object;
}

TEST(Names, ObserversAddedTwiceRunOnceAndCanBeRemoved)
{
    BqOsmo_RegisterRegister(CountAllocation);
    BqOsmo_RegisterRegister(CountAllocation);
    BqOsmo_RegisterUnregister(CountDeallocation);
    BqOsmo_RegisterUnregister(CountDeallocation);
    allocationsSeen = deallocationsSeen = 0;

    NamesTestObject *object = [[NamesTestObject alloc] init];
    EXPECT_EQ(1, allocationsSeen);
    [object release];
    EXPECT_EQ(1, deallocationsSeen);
    EXPECT_EQ(object, lastDeallocated);

    BqOsmo_RegisterRegisterRemove(CountAllocation);
    BqOsmo_RegisterUnregisterRemove(CountDeallocation);
    [[[NamesTestObject alloc] init] release];
    EXPECT_EQ(1, allocationsSeen);
    EXPECT_EQ(1, deallocationsSeen);
}

TEST(Names, RegisterAllNamesEveryNewObject)
{
    GliskPriv_SymtabRegisterAll(1);
    NamesTestObject *object = [[NamesTestObject alloc] init];
    GliskPriv_SymtabRegisterAll(0);
    const char *name = Glisk_LookupObject(object);
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(ExpectedName(object), name);
    NamesTestObject *later = [[NamesTestObject alloc] init];
    EXPECT_EQ(nullptr, Glisk_LookupObject(later));
    [object release];
    [later release];
}
