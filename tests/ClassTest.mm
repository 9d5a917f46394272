/*
 * ClassTest.mm --
 *
 *	Formal and real conformance of classes to protocols, and class
 *	renaming: its refusals and what a renamed class still does.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqOsmo.h"
#include "Class.h"

#include <string>

@protocol ClsBase
+ (id) clsMake: (int)seed;
- (int) clsCount;
@end

@protocol ClsSub <ClsBase>
- (void) clsTake: (id)thing;
@end

@protocol ClsValue
- (int) clsValue;
@end

@interface ClsComplete : NSObject <ClsSub>
@end
@implementation ClsComplete
+ (id) clsMake: (int)seed { (void) seed; return nil; }
- (int) clsCount { return 0; }
- (void) clsTake: (id)thing { (void) thing; }
@end

/* Implements ClsSub through its superclass. */
@interface ClsHeir : ClsComplete
@end
@implementation ClsHeir
@end

/* Declares no protocol; has clsValue, with another return type. */
@interface ClsDoubleValue : NSObject
- (double) clsValue;
@end
@implementation ClsDoubleValue
- (double) clsValue { return 1.5; }
@end

@interface ClsIntValue : NSObject <ClsValue>
@end
@implementation ClsIntValue
- (int) clsValue { return 3; }
@end

/* Has only part of ClsSub, and clsCount with another type. */
@interface ClsPartial : NSObject
- (void) clsTake: (id)thing;
- (char) clsCount;
@end
@implementation ClsPartial
- (void) clsTake: (id)thing { (void) thing; }
- (char) clsCount { return 0; }
@end

@interface ClsRenamable : NSObject
- (int) answer;
+ (int) classAnswer;
@end
@implementation ClsRenamable
- (int) answer { return 42; }
+ (int) classAnswer { return 7; }
@end

static std::string
Rename(Class cls, const char *name, int *result)
{
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    *result = BqOsmo_ClassRename(cls, name, &errors);
    std::string message = Tcl_DStringValue(&errors);
    Tcl_DStringFree(&errors);
    return message;
}

static std::string
ReallyConforms(Class cls, Protocol *protocol, int *result)
{
    Tcl_DString errors;
    Tcl_DStringInit(&errors);
    *result = BqOsmo_ClassReallyConformsTo(cls, protocol, &errors);
    std::string message = Tcl_DStringValue(&errors);
    Tcl_DStringFree(&errors);
    return message;
}

TEST(ClassConformance, FormalThroughIncorporationAndSuperclasses)
{
    EXPECT_TRUE(BqOsmo_ClassConformsTo([ClsComplete class], @protocol(ClsSub)));
    EXPECT_TRUE(BqOsmo_ClassConformsTo([ClsComplete class], @protocol(ClsBase)));
    EXPECT_TRUE(BqOsmo_ClassConformsTo([ClsHeir class], @protocol(ClsBase)));
    EXPECT_TRUE(BqOsmo_ClassConformsTo([ClsIntValue class], @protocol(ClsValue)));
    EXPECT_FALSE(BqOsmo_ClassConformsTo([ClsDoubleValue class], @protocol(ClsValue)))
	<< "having the methods is not adopting the protocol";
    EXPECT_FALSE(BqOsmo_ClassConformsTo([ClsComplete class], nil));
    EXPECT_FALSE(BqOsmo_ClassConformsTo(Nil, @protocol(ClsSub)));
    ClsComplete *instance = [[ClsComplete alloc] init];
    EXPECT_FALSE(BqOsmo_ClassConformsTo((Class) instance, @protocol(ClsSub)))
	<< "an instance has no protocol lists to read";
    [instance release];
}

TEST(ClassConformance, RealConformanceComparesTypes)
{
    int result;
    EXPECT_EQ("", ReallyConforms([ClsIntValue class], @protocol(ClsValue), &result));
    EXPECT_EQ(1, result);
    EXPECT_EQ("", ReallyConforms([ClsHeir class], @protocol(ClsSub), &result))
	<< "inherited methods count, class methods included";
    EXPECT_EQ(1, result);

    EXPECT_EQ("{ClsValue -clsValue}", ReallyConforms([ClsDoubleValue class], @protocol(ClsValue),
	    &result)) << "a different return type is no implementation";
    EXPECT_EQ(0, result);
    EXPECT_EQ(0, BqOsmo_ClassReallyConformsTo([ClsDoubleValue class], @protocol(ClsValue), NULL));
}

TEST(ClassConformance, IncorporatedProtocolsHaveTheirOwnGroups)
{
    int result;
    EXPECT_EQ("{ClsBase +clsMake: -clsCount}",
	    ReallyConforms([ClsPartial class], @protocol(ClsSub), &result))
	<< "ClsSub's own method is there; ClsBase lacks one and differs in one";
    EXPECT_EQ(0, result);
    EXPECT_EQ("{ClsSub -clsTake:}{ClsBase +clsMake: -clsCount}",
	    ReallyConforms([ClsDoubleValue class], @protocol(ClsSub), &result));
    EXPECT_EQ(0, result);
}

TEST(ClassConformance, RealConformanceRefusesBadArguments)
{
    int result;
    EXPECT_EQ("not a class", ReallyConforms(Nil, @protocol(ClsSub), &result));
    EXPECT_EQ(0, result);
    ClsIntValue *instance = [[ClsIntValue alloc] init];
    EXPECT_EQ("not a class", ReallyConforms((Class) instance, @protocol(ClsValue), &result));
    [instance release];
    EXPECT_EQ("not a protocol", ReallyConforms([ClsIntValue class], nil, &result));
    EXPECT_EQ(0, result);
}

TEST(ClassRename, RefusalsAndTheirMessages)
{
    int result;
    EXPECT_EQ("cannot rename Nil", Rename(Nil, "Anything", &result));
    EXPECT_EQ(1, result);
    EXPECT_EQ("NULL class name", Rename([ClsRenamable class], NULL, &result));
    EXPECT_EQ("NULL class name", Rename([ClsRenamable class], "", &result));
    EXPECT_EQ("illegal character in class name '9'", Rename([ClsRenamable class], "9Lives", &result));
    EXPECT_EQ(1, result);
    EXPECT_EQ("illegal character in class name '-'", Rename([ClsRenamable class], "Cls-Name", &result));
    EXPECT_EQ("illegal character in class name '~'", Rename([ClsRenamable class], "~Cls", &result));

    ClsRenamable *instance = [[ClsRenamable alloc] init];
    EXPECT_EQ("cannot rename instance", Rename((Class) instance, "ClsFromInstance", &result));
    [instance release];
    Class meta = object_getClass((id) [ClsRenamable class]);
    EXPECT_EQ("cannot rename metaclass", Rename(meta, "ClsFromMeta", &result));
    EXPECT_EQ("cannot rename: Illegal id pointer", Rename((Class) 0x1001, "ClsOdd", &result));

    EXPECT_EQ("class NSString already exists", Rename([ClsRenamable class], "NSString", &result));
    EXPECT_EQ("renaming class NSObject is not a good idea",
	    Rename([NSObject class], "NSThing", &result));
    EXPECT_EQ(1, result);
    EXPECT_EQ("renaming class Object is not a good idea",
	    Rename(objc_lookUpClass("Object"), "OldObject", &result));

    EXPECT_STREQ("ClsRenamable", class_getName([ClsRenamable class])) << "refusals change nothing";
    EXPECT_EQ(Nil, objc_lookUpClass("ClsFromMeta"));
}

TEST(ClassRename, RenamedClassAnswersAndWorksUnderTheNewName)
{
    Class cls = [ClsRenamable class];
    int classesBefore = KxClassCount();
    int result;
    EXPECT_EQ("", Rename(cls, "ClsRenamed_2~b", &result));
    ASSERT_EQ(0, result);

    EXPECT_STREQ("ClsRenamed_2~b", class_getName(cls));
    EXPECT_STREQ("ClsRenamed_2~b", class_getName(object_getClass((id) cls)));
    EXPECT_EQ(cls, objc_lookUpClass("ClsRenamed_2~b"));
    EXPECT_EQ(cls, NSClassFromString(@"ClsRenamed_2~b"));
    EXPECT_EQ(cls, Glisk_LookupObjectName("ClsRenamed_2~b"));
    EXPECT_EQ(cls, objc_lookUpClass("ClsRenamable")) << "the runtime cannot forget a name";
    EXPECT_EQ(classesBefore + 1, KxClassCount()) << "listed once per name";

    id object = [[objc_lookUpClass("ClsRenamed_2~b") alloc] init];
    EXPECT_EQ(42, [object answer]);
    EXPECT_EQ(7, [objc_lookUpClass("ClsRenamed_2~b") classAnswer]);
    EXPECT_STREQ("ClsRenamed_2~b", [NSStringFromClass([object class]) UTF8String]);
    std::string name = Glisk_RegisterObject(object);
    EXPECT_EQ(0u, name.find("@ClsRenamed_2~b@"));
    [object release];

    EXPECT_EQ("class ClsRenamable already exists", Rename(cls, "ClsRenamable", &result))
	<< "old names stay taken";
    EXPECT_EQ("", Rename(cls, "ClsRenamedAgain", &result));
    EXPECT_EQ(0, result);
    EXPECT_STREQ("ClsRenamedAgain", class_getName(cls));
    EXPECT_EQ(cls, objc_lookUpClass("ClsRenamedAgain"));
}

TEST(ClassRename, ClassesUnderConstructionAreRefused)
{
    Class pending = objc_allocateClassPair([NSObject class], "ClsPending", 0);
    ASSERT_NE(Nil, pending);
    int result;
    EXPECT_EQ("cannot rename: Not an object nor a class", Rename(pending, "ClsPendingRenamed", &result));
    EXPECT_EQ(1, result);
    EXPECT_EQ(Nil, objc_lookUpClass("ClsPendingRenamed"));
    objc_disposeClassPair(pending);
}
