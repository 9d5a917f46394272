/*
 * PlatformTest.mm --
 *
 *	The platform layer: interned strings, zones, error frames, dynamic
 *	strings, List, class iteration, the shared nil, the interpreter class
 *	registry and the console alert.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqOsmo.h"

#include <stdio.h>
#include <string.h>
#include <string>
#include <unistd.h>

TEST(Platform, UniqueStrings)
{
    char text[] = "interned text";
    const char *first = KxUniqueString(text);
    text[0] = 'X';
    EXPECT_STREQ("interned text", first) << "the table keeps its own copy";
    EXPECT_EQ(first, KxUniqueString("interned text"));
    EXPECT_NE(first, KxUniqueString("other text"));
    EXPECT_EQ(nullptr, KxUniqueString(NULL));
}

TEST(Platform, ZonesAndStringCopies)
{
    KxZone *zone = BqOsmo_GetRuntimeZone();
    char *copy = KxCopyStringBufferFromZone("copied", zone);
    EXPECT_STREQ("copied", copy);
    KxZoneFree(zone, copy);
    EXPECT_EQ(nullptr, KxCopyStringBufferFromZone(NULL, zone));
    EXPECT_EQ(nullptr, KxZoneName(KxDefaultMallocZone()));
}

static void
RaiseOwnError(void *context)
{
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%s", (const char *) context);
    _KxRaiseError(136661300, buffer, (void *) 0x5);
}

static void
RaiseFoundationException(void *context)
{
    (void) context;
    [NSException raise: @"SomeName" format: @"some %s", "reason"];
}

static void
RaiseCoded(void *context)
{
    (void) context;
    KxRaiseCodedException(100600, "OSMO_DOESNOTRECOGNIZE_EXCEPTION", "coded reason");
}

static void
ThrowNonException(void *context)
{
    (void) context;
    @throw (id) @"a thrown string";
}

static void
ReturnNormally(void *context)
{
    *(int *) context = 42;
}

struct Destructed {
    int *counter;
    ~Destructed() { (*counter)++; }
};

static void
RaiseThroughScope(void *context)
{
    Destructed guard = { (int *) context };
    _KxRaiseError(7, NULL, NULL);
}

TEST(Platform, GuardTurnsThrowsIntoCodes)
{
    KxErrorInfo error;
    int value = 0;
    EXPECT_EQ(0, KxGuard(ReturnNormally, &value, &error));
    EXPECT_EQ(42, value);
    EXPECT_EQ(0, error.code);

    /* The message text outlives the raiser's buffer. */
    EXPECT_EQ(136661300, KxGuard(RaiseOwnError, (void *) "own message", &error));
    EXPECT_STREQ("own message", (const char *) error.data1);
    EXPECT_EQ((void *) 0x5, error.data2);
    KxErrorInfoClear(&error);
    EXPECT_EQ(0, error.code);

    EXPECT_EQ(KX_CODE_NSEXCEPTION, KxGuard(RaiseFoundationException, NULL, &error));
    NSException *e = (NSException *) error.data1;
    EXPECT_STREQ("SomeName", [[e name] UTF8String]);
    EXPECT_STREQ("some reason", [[e reason] UTF8String]);
    KxErrorInfoClear(&error);

    EXPECT_EQ(100600, KxGuard(RaiseCoded, NULL, &error));
    e = (NSException *) error.data1;
    ASSERT_TRUE([e isKindOfClass: [NSException class]]);
    EXPECT_STREQ("OSMO_DOESNOTRECOGNIZE_EXCEPTION", [[e name] UTF8String]);
    EXPECT_STREQ("coded reason", [[e reason] UTF8String]);
    KxErrorInfoClear(&error);

    EXPECT_EQ(KX_CODE_FOREIGN_OBJECT, KxGuard(ThrowNonException, NULL, &error));
    EXPECT_STREQ("a thrown string", (const char *) error.data1);
    KxErrorInfoClear(&error);

    int destructed = 0;
    EXPECT_EQ(7, KxGuard(RaiseThroughScope, &destructed, &error));
    EXPECT_EQ(1, destructed) << "C++ scopes unwind on the way out";
    KxErrorInfoClear(&error);
}

TEST(Platform, DynamicStrings)
{
    Tcl_DString ds;
    BqTcl_DStringInit(&ds);
    BqTcl_DStringApp(&ds, "a", "bc", "", "d", (char *) NULL);
    EXPECT_STREQ("abcd", Tcl_DStringValue(&ds));
    BqTcl_DStringApp(NULL, "ignored", (char *) NULL);
    std::string big(1000, 'x');
    BqTcl_DStringPrintf(&ds, "<%s|%d>", big.c_str(), 12);
    EXPECT_EQ("abcd<" + big + "|12>", std::string(Tcl_DStringValue(&ds)));
    BqTcl_DStringSetLength(&ds, 2);
    EXPECT_STREQ("ab", Tcl_DStringValue(&ds));
    BqTcl_DStringAppend(&ds, "xyz", 2);
    EXPECT_STREQ("abxy", Tcl_DStringValue(&ds));
    BqTcl_DStringFree(&ds);
    EXPECT_STREQ("", Tcl_DStringValue(&ds));
}

TEST(Platform, ListKeepsOrderAndIdentity)
{
    List *list = [[List alloc] init];
    id a = @"a", b = @"b";
    for (int i = 0; i < 20; i++) {
	[list addObject: (i % 2) ? a : b];
    }
    EXPECT_EQ(20u, [list count]);
    EXPECT_EQ(b, [list objectAt: 0]);
    EXPECT_EQ(nil, [list objectAt: 20]);
    [list empty];
    [list addObjectIfAbsent: a];
    [list addObjectIfAbsent: a];
    [list addObjectIfAbsent: b];
    EXPECT_EQ(2u, [list count]);
    EXPECT_EQ(1u, [list indexOf: b]);
    EXPECT_EQ(a, [list removeObject: a]);
    EXPECT_EQ(nil, [list removeObject: a]);
    EXPECT_EQ(b, [list objectAt: 0]);
    EXPECT_EQ(NX_NOT_IN_LIST, [list indexOf: a]);
    [list free];
}

TEST(Platform, ClassIterationSeesEveryClass)
{
    KxClassIterator state = KxClassIteratorStart();
    int count = 0, sawNSObject = 0, sawList = 0;
    Class cls;
    while (KxClassIteratorNext(&state, &cls)) {
	count++;
	sawNSObject |= cls == [NSObject class];
	sawList |= cls == [List class];
    }
    EXPECT_EQ(KxClassCount(), count);
    EXPECT_TRUE(sawNSObject && sawList);
    EXPECT_FALSE(KxClassIteratorNext(&state, &cls)) << "an ended walk stays ended";

    state = KxClassIteratorStart();
    ASSERT_TRUE(KxClassIteratorNext(&state, &cls));
    KxClassIteratorEnd(&state);
    EXPECT_FALSE(KxClassIteratorNext(&state, &cls));
}

@protocol PlatformTestProtocol
- (void) answer;
@end

@interface PlatformTestRoot : Object <PlatformTestProtocol>
- (void) answer;
@end

@interface PlatformTestAdopter : NSObject <PlatformTestProtocol>
@end
@implementation PlatformTestAdopter
- (void) answer
{
}
@end
@implementation PlatformTestRoot
- (void) answer
{
}
@end

TEST(Platform, RootObjectMessagesOnBothRoots)
{
    NSMutableArray *array = [[NSMutableArray alloc] init];
    EXPECT_TRUE([array respondsTo: @selector(addObject:)]);
    EXPECT_FALSE([array respondsTo: @selector(noSuchSelector)]);
    EXPECT_TRUE([array isKindOf: [NSArray class]]);
    EXPECT_FALSE([array isMemberOf: [NSArray class]]);
    EXPECT_TRUE([NSMutableArray instancesRespondTo: @selector(addObject:)]);
    struct objc_method_description *description = [array descriptionForMethod: @selector(count)];
    ASSERT_NE(nullptr, description);
    EXPECT_EQ(sel_getName(@selector(count)), sel_getName(description->name));
    EXPECT_EQ(nullptr, [array descriptionForMethod: @selector(noSuchSelector)]);
    EXPECT_NE(nullptr, [NSArray descriptionForInstanceMethod: @selector(count)]);
    EXPECT_NE(nullptr, [NSArray descriptionForMethod: @selector(array)]);
    PlatformTestAdopter *adopter = [[PlatformTestAdopter alloc] init];
    EXPECT_TRUE([adopter conformsTo: @protocol(PlatformTestProtocol)]);
    EXPECT_FALSE([array conformsTo: @protocol(PlatformTestProtocol)]);
    [adopter release];
    EXPECT_EQ(nil, [array free]);

    /* Object's +class is its -class, which answers the metaclass: name
     * the classes through the runtime instead. */
    Class rootClass = objc_getClass("PlatformTestRoot");
    id bare = class_createInstance(rootClass, 0);
    EXPECT_TRUE([bare respondsTo: @selector(answer)]);
    EXPECT_FALSE([bare respondsTo: @selector(count)]);
    EXPECT_TRUE([bare isKindOf: objc_getClass("Object")]);
    EXPECT_TRUE([bare isMemberOf: rootClass]);
    EXPECT_TRUE([(id) rootClass instancesRespondTo: @selector(answer)]);
    EXPECT_TRUE([bare conformsTo: @protocol(PlatformTestProtocol)]);
    EXPECT_NE(nullptr, [bare descriptionForMethod: @selector(answer)]);
    object_dispose(bare);
}

TEST(Platform, SharedNil)
{
    BqNil *shared = [BqNil sharedInstance];
    EXPECT_EQ(shared, [[BqNil alloc] init]);
    EXPECT_EQ(shared, [BqNil new]);
    EXPECT_EQ(shared, [shared copy]);
    EXPECT_STREQ("<nil>", [[shared description] UTF8String]);
    EXPECT_TRUE([shared isEqual: nil]);
    EXPECT_TRUE([shared isEqual: shared]);
    EXPECT_FALSE([shared isEqual: @"nil"]);

    /* Collections retain and release it freely; it survives them all. */
    for (int i = 0; i < 3; i++) {
	NSMutableArray *array = [[NSMutableArray alloc] initWithObjects: shared, shared, nil];
	NSDictionary *dictionary = [[NSDictionary alloc] initWithObjectsAndKeys: shared, @"k", nil];
	EXPECT_EQ(shared, [dictionary objectForKey: @"k"]);
	EXPECT_TRUE([array containsObject: shared]);
	[array release];
	[dictionary release];
	[shared release];
    }
    EXPECT_EQ(nullptr, BqOsmo_IsIdInvalid(shared));
    EXPECT_STREQ("<nil>", [[shared description] UTF8String]);
}

@interface PlatformTestLanguage : BqInterp
@end
@implementation PlatformTestLanguage
+ (const char *) languageNameCString
{
    return "testlang";
}
@end

TEST(Platform, InterpreterLanguageRegistry)
{
    EXPECT_EQ(1, [BqInterp version]);
    EXPECT_EQ(nullptr, [BqInterp languageNameCString]);
    EXPECT_EQ(Nil, [BqInterp getClassForLanguage: "testlang"]);
    [BqInterp registerLanguageClass: [PlatformTestLanguage class]];
    [BqInterp registerLanguageClass: [PlatformTestLanguage class]];
    EXPECT_EQ([PlatformTestLanguage class], [BqInterp getClassForLanguage: "testlang"]);
    EXPECT_EQ(Nil, [BqInterp getClassForLanguage: "perl"]);
    [BqInterp unregisterLanguageClass: [PlatformTestLanguage class]];
    EXPECT_EQ(Nil, [BqInterp getClassForLanguage: "testlang"]) << "registered once, removed once";

    PlatformTestLanguage *interp = [[PlatformTestLanguage alloc] init];
    EXPECT_FALSE([interp isDead]);
    [interp _setIsDead: YES];
    EXPECT_TRUE([interp isDead]);
    [interp release];
}

/* Runs the alert with the given text on standard input and returns its
 * answer; what it printed goes to *output. */
static int
AlertWithInput(const char *input, std::string *output, int key1, int key2, int key3)
{
    FILE *in = tmpfile();
    fputs(input, in);
    rewind(in);
    int savedStdin = dup(0);
    dup2(fileno(in), 0);
    clearerr(stdin);
    testing::internal::CaptureStdout();
    int answer = BqTTYAlert("Title", "Proceed with %s?", key1, "Yes", key2, "No", key3, "Cancel",
	    "care");
    *output = testing::internal::GetCapturedStdout();
    dup2(savedStdin, 0);
    close(savedStdin);
    clearerr(stdin);
    fclose(in);
    return answer;
}

TEST(Platform, ConsoleAlert)
{
    std::string output;
    EXPECT_EQ(1, AlertWithInput("\n", &output, '\n', 'N', 'C'));
    EXPECT_EQ("\n##Title: Proceed with care?  [C:Cancel, N:No, <Enter>:Yes]: \n", output);
    EXPECT_EQ(0, AlertWithInput("n\n", &output, 'Y', 'N', 'C'));
    EXPECT_EQ(-1, AlertWithInput("c\n", &output, 'Y', 'N', 'C'));
    /* An unknown key asks again, without the title. */
    EXPECT_EQ(1, AlertWithInput("q\ny\n", &output, 'Y', 'N', 'C'));
    EXPECT_EQ(1u, output.rfind("##Title"));
    EXPECT_NE(std::string::npos, output.find("]: \n  [C:Cancel"));
    /* End of input ends the question instead of asking forever. */
    EXPECT_EQ(1, AlertWithInput("", &output, 'Y', 'N', 'C'));
}
