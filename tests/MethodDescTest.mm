/*
 * MethodDescTest.mm --
 *
 *	Selector names, building and completing signatures, the signature
 *	cache and its records, signatures from NSMethodSignature objects, and
 *	instance variable lookup.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "Ivar.h"
#include "MethodDesc.h"

#include <objc/runtime.h>
#include <string>

@interface BqMethodDescTestBase : NSObject
{
@public
    int a;
    double b;
}
@end
@implementation BqMethodDescTestBase
@end

@interface BqMethodDescTestChild : BqMethodDescTestBase
{
@public
    char *c;
}
@end
@implementation BqMethodDescTestChild
@end

/* A signature that answers its types itself: an int result and one
 * double argument, or an exception for the third argument's type when
 * asked to raise. */
@interface BqMethodDescTestSignature : NSMethodSignature
{
@public
    BOOL raises;
}
@end
@implementation BqMethodDescTestSignature
- (NSUInteger) numberOfArguments
{
    return 3;
}
- (const char *) methodReturnType
{
    return "i";
}
- (const char *) getArgumentTypeAtIndex: (NSUInteger)index
{
    static const char *types[] = { "@", ":", "d" };
    if (raises && index == 2) {
	[NSException raise: NSInvalidArgumentException format: @"no type here"];
    }
    return index < 3 ? types[index] : NULL;
}
@end

namespace {

std::string
Build(std::initializer_list<const char *> types, int *codePtr = NULL)
{
    const char *list[16];
    int count = 0;
    for (const char *t : types) {
	list[count++] = t;
    }
    Tcl_DString result;
    Tcl_DStringInit(&result);
    int code = BqOsmo_GetMethodDescription(NULL, count, list, &result);
    std::string text = Tcl_DStringValue(&result);
    Tcl_DStringFree(&result);
    if (codePtr != NULL) {
	*codePtr = code;
    }
    return text;
}

} // namespace

TEST(MethodDescNames, ArgcForMName)
{
    EXPECT_EQ(0, BqOsmo_ArgcForMName("description"));
    EXPECT_EQ(2, BqOsmo_ArgcForMName("setObject:forKey:"));
    EXPECT_EQ(-1, BqOsmo_ArgcForMName("setObject:forKey"));
    EXPECT_EQ(-1, BqOsmo_ArgcForMName("set-x:"));
    EXPECT_EQ(0, BqOsmo_ArgcForMName("@"));
    EXPECT_EQ(0, BqOsmo_ArgcForMName(""));
    EXPECT_EQ(1, BqOsmo_ArgcForMName("x2:"));
    EXPECT_EQ(-1, BqOsmo_ArgcForMName("2x:"));
    EXPECT_EQ(2, BqOsmo_ArgcForMName("::"));
    EXPECT_EQ(-1, BqOsmo_ArgcForMName("caf\xc3\xa9"));
    EXPECT_EQ(-1, BqOsmo_ArgcForMName(NULL));
}

TEST(MethodDescBuild, OffsetsAdvanceByWords)
{
    int code;
    EXPECT_EQ("c17@0:8c16", Build({ "c", "@", ":", "c" }, &code));
    EXPECT_EQ(0, code);
    EXPECT_EQ("i24@0:8d16", Build({ "i", "@", ":", "d" }));
    EXPECT_EQ("@32@0:8{_NSRange=QQ}16", Build({ "@", "@", ":", "{_NSRange=QQ}" }));
    EXPECT_EQ("v36@0:8r^v16{?=iii}24", Build({ "v", "@", ":", "r^v", "{?=iii}" }));
    EXPECT_EQ("Vv0", Build({ "Vv" })) << "no arguments: frame size 0";
}

TEST(MethodDescBuild, RejectsBadTypes)
{
    int code;
    EXPECT_EQ("arg type cannot be void", Build({ "v", "@", ":", "v" }, &code));
    EXPECT_EQ(1, code);
    EXPECT_EQ("arg type cannot be oneway", Build({ "v", "@", ":", "V" }, &code));
    EXPECT_EQ(1, code);
    EXPECT_EQ("illegal type for arg 2", Build({ "v", "@", "?" }, &code));
    EXPECT_EQ("illegal type for arg 1", Build({ "v", "[3i" }, &code));
    EXPECT_EQ("illegal type for arg 1", Build({ "v", "i8" }, &code)) << "one whole type only";
    EXPECT_EQ("illegal type for arg 1", Build({ "v", NULL }, &code));
    EXPECT_EQ("illegal type for arg 3", Build({ "v", "@", ":", "b5" }, &code))
	    << "a bit-field's digits would run into its offset";
    EXPECT_EQ("illegal return type", Build({ "b0I3", "@", ":" }, &code));
    EXPECT_EQ("illegal type for arg 1", Build({ "v", "^b8c4" }, &code));
    EXPECT_EQ("illegal type for arg 1", Build({ "v", "r^^b" }, &code));
    EXPECT_EQ("illegal return type", Build({ "?", "@" }, &code));
    EXPECT_EQ(1, code);
    EXPECT_EQ("illegal return type", Build({}, &code));
    EXPECT_EQ("signature too large", Build({ "v", "[900000000c]", "[900000000c]", "[900000000c]" }));
}

TEST(MethodDescCache, CompletesAndCaches)
{
    BqMethodSignature *record = BqMethod_SignatureRecordForString("v@:i", NULL);
    ASSERT_NE(nullptr, record);
    EXPECT_STREQ("v20@0:8i16", record->types);
    EXPECT_EQ(3, record->numberOfArguments);
    EXPECT_EQ(20, record->frameSize);
    EXPECT_EQ(nullptr, record->callInfo);
    EXPECT_EQ(record, BqMethod_SignatureRecordForString("v@:i", NULL)) << "the same record again";
    EXPECT_EQ(record, BqMethod_SignatureRecordForString("v20@0:8i16", NULL)) << "the completed text is a key";
    EXPECT_EQ(record, BqMethod_SignatureRecordForString("v12@0:4i8", NULL)) << "other offsets, same record";

    record->callInfo = (void *) 0x1234;
    EXPECT_EQ((void *) 0x1234, BqMethod_SignatureRecordForString("v@:i", NULL)->callInfo)
	    << "what the message send stores stays with the record";
    record->callInfo = NULL;

    EXPECT_STREQ("@36@0:8^rv16Q24I32",
	    BqMethod_SignatureRecordForString("@36@0:8^rv16Q24I32", NULL)->types);
    EXPECT_STREQ("{_NSRange=QQ}24@0:8@16",
	    BqMethod_SignatureRecordForString("{_NSRange=QQ}@:@", NULL)->types);
}

TEST(MethodDescCache, SignatureStringsForCallersInC)
{
    const char *signature = BqMethod_SignatureForString("v@:i");
    ASSERT_NE(nullptr, signature);
    EXPECT_STREQ("v20@0:8i16", signature);
    EXPECT_EQ(signature, BqMethod_SignatureForString("v12@0:4i8"))
	    << "one string per signature, whatever the offsets asked with";
    EXPECT_EQ(signature, BqMethod_SignatureRecordForString("v@:i", NULL)->types)
	    << "the string is the record's";
    char printed[64];
    snprintf(printed, sizeof printed, "%s", BqMethod_SignatureForString("c@:c"));
    EXPECT_STREQ("c17@0:8c16", printed);
    testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, BqMethod_SignatureForString("v@:v"));
    EXPECT_EQ("cannot get signature for \"v@:v\": arg type cannot be void\n",
	    testing::internal::GetCapturedStderr());
}

TEST(MethodDescCache, FailuresAreReportedNotCached)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, BqMethod_SignatureForString("v@:v"));
    EXPECT_EQ(nullptr, BqMethod_SignatureForString("v@:v"));
    EXPECT_EQ(nullptr, BqMethod_SignatureForString("v@:{a=i"));
    EXPECT_EQ(nullptr, BqMethod_SignatureForString(""));
    EXPECT_EQ(nullptr, BqMethod_SignatureForString(NULL));
    std::string messages = testing::internal::GetCapturedStderr();
    std::string failure = "cannot get signature for \"v@:v\": arg type cannot be void\n";
    EXPECT_EQ(0u, messages.find(failure + failure)) << messages;
    EXPECT_NE(std::string::npos,
	    messages.find("cannot get signature for \"v@:{a=i\": illegal type for arg 3\n"));

    /* The records' lookup tells its caller instead. */
    Tcl_DString result;
    Tcl_DStringInit(&result);
    testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, BqMethod_SignatureRecordForString("v@:v", &result));
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_STREQ("arg type cannot be void", Tcl_DStringValue(&result));
    Tcl_DStringSetLength(&result, 0);
    EXPECT_EQ(nullptr, BqMethod_SignatureRecordForString(NULL, &result));
    EXPECT_STREQ("no types", Tcl_DStringValue(&result));

    Tcl_DStringSetLength(&result, 0);
    EXPECT_EQ(1, BqMethod_CompleteTypes("v@:r", &result));
    EXPECT_STREQ("illegal type for arg 3", Tcl_DStringValue(&result));
    Tcl_DStringFree(&result);
}

TEST(MethodDescCache, FromMethodSignatureObjects)
{
    Tcl_DString result;
    Tcl_DStringInit(&result);
    NSMethodSignature *signature =
	    [NSString instanceMethodSignatureForSelector: @selector(rangeOfString:options:range:)];
    ASSERT_NE(nil, signature);
    EXPECT_EQ(0, BqMethod_SignatureForSignature(signature, &result));
    EXPECT_STREQ("{_NSRange=QQ}48@0:8@16Q24{_NSRange=QQ}32", Tcl_DStringValue(&result));

    BqMethodSignature *record = BqMethod_SignatureRecordForSignature(signature, NULL);
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(record, BqMethod_SignatureRecordForString(Tcl_DStringValue(&result), NULL));
    EXPECT_EQ(5, record->numberOfArguments);

    /* Element names in a structure argument: GNUstep's per-argument
     * accessors read past their buffer for these (the sanitizer build
     * catches it), so its own signatures are read as one type string. */
    signature = [NSMethodSignature signatureWithObjCTypes: "c@:{?=\"x\"i\"y\"d}"];
    Tcl_DStringSetLength(&result, 0);
    EXPECT_EQ(0, BqMethod_SignatureForSignature(signature, &result));
    EXPECT_STREQ("c32@0:8{?=\"x\"i\"y\"d}16", Tcl_DStringValue(&result));

    /* A subclass that answers its types itself is read type by type, and
     * an exception from it is an error. */
    BqMethodDescTestSignature *own = [[BqMethodDescTestSignature alloc] init];
    Tcl_DStringSetLength(&result, 0);
    EXPECT_EQ(0, BqMethod_SignatureForSignature(own, &result));
    EXPECT_STREQ("i24@0:8d16", Tcl_DStringValue(&result));
    own->raises = YES;
    Tcl_DStringSetLength(&result, 0);
    EXPECT_EQ(1, BqMethod_SignatureForSignature(own, &result));
    EXPECT_STREQ("cannot read method signature: no type here", Tcl_DStringValue(&result));
    [own release];

    Tcl_DStringSetLength(&result, 0);
    EXPECT_EQ(1, BqMethod_SignatureForSignature((NSMethodSignature *) @"not one", &result));
    EXPECT_STREQ("not a method signature", Tcl_DStringValue(&result));
    Tcl_DStringSetLength(&result, 0);
    EXPECT_EQ(1, BqMethod_SignatureForSignature(nil, &result));
    Tcl_DStringFree(&result);
}

TEST(MethodDescIvars, FindByNameAndWalk)
{
    BqMethodDescTestChild *child = [[BqMethodDescTestChild alloc] init];
    Ivar c = BqOsmo_FindIvar(child, "c");
    Ivar a = BqOsmo_FindIvar(child, "a");
    ASSERT_NE(nullptr, c);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ((ptrdiff_t) ((char *) &child->c - (char *) child), ivar_getOffset(c));
    EXPECT_EQ((ptrdiff_t) ((char *) &child->a - (char *) child), ivar_getOffset(a));
    EXPECT_STREQ("d", ivar_getTypeEncoding(BqOsmo_FindIvar(child, "b")));
    EXPECT_EQ(nullptr, BqOsmo_FindIvar(child, "nosuch"));
    EXPECT_EQ(nullptr, BqOsmo_FindIvar(nil, "a"));
    EXPECT_EQ(nullptr, BqOsmo_FindIvar(child, NULL));

    std::string order;
    for (Ivar ivar = BqOsmo_FindNextIvar(child, NULL); ivar != NULL;
	    ivar = BqOsmo_FindNextIvar(child, ivar_getName(ivar))) {
	order += ivar_getName(ivar);
	order += " ";
    }
    EXPECT_EQ("c a b isa ", order);
    EXPECT_EQ(nullptr, BqOsmo_FindNextIvar(child, "nosuch"));

    /* A class object shows the fields of a class, from the root
     * metaclass, and nothing beyond it. */
    Ivar super = BqOsmo_FindIvar([BqMethodDescTestChild class], "super_class");
    ASSERT_NE(nullptr, super);
    int count = 0;
    for (Ivar ivar = BqOsmo_FindNextIvar([NSString class], NULL); ivar != NULL;
	    ivar = BqOsmo_FindNextIvar([NSString class], ivar_getName(ivar))) {
	count++;
    }
    unsigned rootCount = 0;
    free(class_copyIvarList(object_getClass([NSObject class]), &rootCount));
    EXPECT_EQ((int) rootCount, count);
    [child release];
}
