/*
 * ProtocolTest.mm --
 *
 *	The protocol registry, the views of protocol records and the classic
 *	protocol interface on Protocol.
 */
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "BqOsmo.h"
#include "BqOsmoSupport.h"
#include "Protocol.h"

#include <string.h>
#include <set>
#include <string>

@protocol PrtBase
- (int) baseValue;
+ (id) baseMaker: (int)seed;
@end

@protocol PrtSub <PrtBase>
- (void) subTake: (id)thing;
@end

@protocol PrtOther
- (double) otherValue;
@end

/* Adopted by a class, but declaring nothing. */
@protocol PrtEmpty
@end

/* As many incorporated protocols and methods as PrtOther. */
@protocol PrtOtherShape
- (char) shapeValue;
@end

/* Declared and named with @protocol(), but adopted by no class: this
 * runtime never makes such an object a Protocol. */
@protocol PrtNeverAdopted
- (void) neverMethod;
@end

@interface PrtAdopter : NSObject <PrtSub, PrtOther>
@end
@implementation PrtAdopter
- (int) baseValue { return 1; }
+ (id) baseMaker: (int)seed { (void) seed; return nil; }
- (void) subTake: (id)thing { (void) thing; }
- (double) otherValue { return 2.0; }
@end

/* Adopts PrtOther a second time. */
@interface PrtAdopter (Again) <PrtOther>
@end
@implementation PrtAdopter (Again)
@end

@interface PrtHeir : PrtAdopter
@end
@implementation PrtHeir
@end

@interface PrtPlain : NSObject
@end
@implementation PrtPlain
@end

@interface PrtShaped : NSObject <PrtEmpty, PrtOtherShape>
@end
@implementation PrtShaped
- (char) shapeValue { return 'x'; }
@end

/* The other module's PrtOther (ProtocolTwinTest.mm). */
extern Protocol *PrtOtherTwin(void);

static std::set<std::string>
NamesOf(List *list)
{
    std::set<std::string> names;
    for (unsigned i = 0; i < [list count]; i++) {
	names.insert(protocol_getName((Protocol *) [list objectAt: i]));
    }
    return names;
}

/*
 * LookUpBeforeAnyCollection --
 *	Runs in a process of its own, where nothing has collected protocols
 *	yet: the registry starts empty, and the lookup of a protocol that
 *	only a class adopts must collect by itself.
 */
static void
LookUpBeforeAnyCollection(void)
{
    int registered = 0;
    BqOsmo_MapProtocols(&registered, [](void *arg, Protocol *) { ++*(int *) arg; return 0; });
    Protocol *found = BqOsmo_LookupProtocol(Nil, "PrtSub");
    int ok = registered == 0 && found != NULL && strcmp(protocol_getName(found), "PrtSub") == 0;
    exit(ok ? 0 : 1);
}

TEST(ProtocolRegistry, LookupBeforeAnyCollectionCollects)
{
    std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(LookUpBeforeAnyCollection(), testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, style);
}

TEST(ProtocolRegistry, LookupMissesAndNonProtocols)
{
    EXPECT_EQ(nullptr, [Protocol lookup: "PrtNoSuchProtocol"]);
    EXPECT_EQ(nullptr, BqOsmo_LookupProtocol(Nil, "PrtNeverAdopted"));
    EXPECT_EQ(nullptr, BqOsmo_LookupProtocol(Nil, NULL));
    EXPECT_FALSE(BqOsmo_IsProtocol((id) @protocol(PrtNeverAdopted)));
    EXPECT_EQ(nullptr, BqOsmo_ProtocolIncorporated(@protocol(PrtNeverAdopted)));
    EXPECT_EQ(0, BqOsmo_AddProtocol(@protocol(PrtNeverAdopted), 1));
}

TEST(ProtocolRegistry, CollectionEntersIncorporatedProtocols)
{
    BqOsmo_DirtyProtocol();
    Protocol *base = BqOsmo_LookupProtocol(Nil, "PrtBase");
    ASSERT_NE(nullptr, base) << "PrtBase is only incorporated by PrtSub";
    EXPECT_TRUE(protocol_isEqual(@protocol(PrtBase), base));
}

TEST(ProtocolRegistry, AddKeepsOrReplaces)
{
    Protocol *mine = @protocol(PrtOther);
    Protocol *twin = PrtOtherTwin();
    ASSERT_NE(mine, twin) << "each module has its own copy";
    EXPECT_TRUE(BqOsmo_EquivalentProtocols(mine, twin));

    EXPECT_EQ(1, BqOsmo_AddProtocol(mine, 1));
    EXPECT_EQ(0, BqOsmo_AddProtocol(twin, 0)) << "an entry for another copy is kept";
    EXPECT_EQ(mine, BqOsmo_LookupProtocol(Nil, "PrtOther"));
    EXPECT_EQ(1, BqOsmo_AddProtocol(twin, 1));
    EXPECT_EQ(twin, BqOsmo_LookupProtocol(Nil, "PrtOther"));
    EXPECT_EQ(1, BqOsmo_AddProtocol(twin, 0)) << "the same object keeps its name";

    EXPECT_EQ(0, BqOsmo_AddProtocol(nil, 1));
    EXPECT_EQ(0, BqOsmo_AddProtocol((Protocol *) [PrtPlain class], 1)) << "not a protocol";
}

struct MapCount {
    int calls;
    int stopAt;
    std::set<std::string> names;
};

static int
CountProtocol(void *arg, Protocol *protocol)
{
    MapCount *count = (MapCount *) arg;
    count->calls++;
    count->names.insert(protocol_getName(protocol));
    /* Replacing entries during the walk must not disturb it. */
    BqOsmo_AddProtocol(PrtOtherTwin(), 1);
    return count->calls == count->stopAt;
}

TEST(ProtocolRegistry, MapVisitsEachOnceAndStops)
{
    BqOsmo_CollectProtocols();
    MapCount all = { 0, -1, {} };
    EXPECT_EQ(0, BqOsmo_MapProtocols(&all, CountProtocol));
    EXPECT_EQ((size_t) all.calls, all.names.size()) << "each name once";
    EXPECT_EQ(1u, all.names.count("PrtSub"));
    EXPECT_EQ(1u, all.names.count("PrtBase"));

    MapCount stopped = { 0, 2, {} };
    EXPECT_EQ(1, BqOsmo_MapProtocols(&stopped, CountProtocol));
    EXPECT_EQ(2, stopped.calls);
    EXPECT_EQ(0, BqOsmo_MapProtocols(&stopped, NULL));
}

TEST(ProtocolRegistry, LookupWithClassSearchesSuperclassesAndIncorporated)
{
    Protocol *base = BqOsmo_LookupProtocol([PrtHeir class], "PrtBase");
    ASSERT_NE(nullptr, base);
    EXPECT_STREQ("PrtBase", protocol_getName(base));
    /* The same pointer as the protocol's own name is found too. */
    EXPECT_EQ(base, BqOsmo_LookupProtocol([PrtHeir class], protocol_getName(base)));
    EXPECT_EQ(nullptr, BqOsmo_LookupProtocol([PrtHeir class], "PrtEmpty"));
    EXPECT_EQ(nullptr, BqOsmo_LookupProtocol([PrtPlain class], "PrtBase"));
    EXPECT_EQ(base, [Protocol lookup: "PrtBase" forClass: [PrtAdopter class]]);
    PrtAdopter *instance = [[PrtAdopter alloc] init];
    EXPECT_EQ(nullptr, BqOsmo_LookupProtocol((Class) instance, "PrtBase"))
	<< "an instance is no class to search";
    EXPECT_EQ(0u, [[Protocol getProtocolsForClass: (Class) instance] count]);
    [instance release];
}

TEST(ProtocolRegistry, Equivalence)
{
    EXPECT_TRUE(BqOsmo_EquivalentProtocols(@protocol(PrtSub), @protocol(PrtSub)));
    /* One incorporated, one instance method, no class method each. */
    EXPECT_FALSE(BqOsmo_EquivalentProtocols(@protocol(PrtSub), @protocol(PrtOther)));
    EXPECT_TRUE(BqOsmo_EquivalentProtocols(@protocol(PrtOther), @protocol(PrtOtherShape)));
    EXPECT_FALSE(BqOsmo_EquivalentProtocols(@protocol(PrtOther), @protocol(PrtEmpty)));
    EXPECT_FALSE(BqOsmo_EquivalentProtocols(@protocol(PrtOther), nil));
    EXPECT_FALSE(BqOsmo_EquivalentProtocols(@protocol(PrtNeverAdopted), @protocol(PrtOther)))
	<< "what is not a protocol has no shape to compare";
    EXPECT_TRUE(BqOsmo_EquivalentProtocols(nil, nil));
}

TEST(ProtocolViews, RecordsInClassicShape)
{
    Protocol *sub = @protocol(PrtSub);
    const BqOsmoProtocolList *incorporated = [sub _protocol_list];
    ASSERT_NE(nullptr, incorporated);
    EXPECT_EQ(nullptr, incorporated->next);
    ASSERT_EQ(1, incorporated->count);
    EXPECT_STREQ("PrtBase", protocol_getName(incorporated->list[0]));
    EXPECT_EQ(incorporated, [sub _protocol_list]) << "views are made once";

    const BqOsmoMethodDescriptionList *instance = [sub _instance_methods];
    ASSERT_NE(nullptr, instance);
    ASSERT_EQ(1, instance->count);
    EXPECT_STREQ("subTake:", sel_getName(instance->list[0].name));
    EXPECT_EQ('v', instance->list[0].types[0]);
    EXPECT_EQ(nullptr, [sub _class_methods]);

    const BqOsmoMethodDescriptionList *classMethods = [@protocol(PrtBase) _class_methods];
    ASSERT_NE(nullptr, classMethods);
    ASSERT_EQ(1, classMethods->count);
    EXPECT_STREQ("baseMaker:", sel_getName(classMethods->list[0].name));

    EXPECT_EQ(nullptr, [@protocol(PrtEmpty) _protocol_list]);
    EXPECT_EQ(nullptr, [@protocol(PrtEmpty) _instance_methods]);
    EXPECT_EQ(nullptr, BqOsmo_ProtocolIncorporated((Protocol *) [PrtPlain class]))
	<< "no views for what is not a protocol";
}

TEST(ProtocolCategory, ProtocolsOfAClassEachOnce)
{
    List *own = [Protocol getProtocolsForClass: [PrtAdopter class]];
    EXPECT_EQ(2u, [own count]) << "PrtOther is adopted twice but listed once";
    EXPECT_EQ((std::set<std::string> { "PrtSub", "PrtOther" }), NamesOf(own));
    EXPECT_EQ(0u, [[Protocol getProtocolsForClass: [PrtHeir class]] count])
	<< "only the class's own protocols";
    EXPECT_EQ(0u, [[Protocol getProtocolsForClass: Nil] count]);

    EXPECT_EQ((std::set<std::string> { "PrtBase" }), NamesOf([@protocol(PrtSub) getSubprotocols]));
    EXPECT_EQ(0u, [[@protocol(PrtBase) getSubprotocols] count]);
}

TEST(ProtocolCategory, ClassicInterface)
{
    Protocol *sub = @protocol(PrtSub);
    EXPECT_STREQ("PrtSub", [sub name]);
    EXPECT_TRUE([sub conformsTo: @protocol(PrtBase)]);
    EXPECT_TRUE([sub conformsTo: sub]);
    EXPECT_FALSE([@protocol(PrtBase) conformsTo: sub]);
    EXPECT_FALSE([sub conformsTo: nil]);

    struct objc_method_description *own = [sub descriptionForInstanceMethod: @selector(subTake:)];
    ASSERT_NE(nullptr, own);
    EXPECT_TRUE(sel_isEqual(@selector(subTake:), own->name));
    struct objc_method_description *inherited =
	    [sub descriptionForInstanceMethod: @selector(baseValue)];
    ASSERT_NE(nullptr, inherited) << "incorporated protocols are searched";
    EXPECT_EQ('i', inherited->types[0]);
    EXPECT_EQ(inherited, [sub descriptionForInstanceMethod: @selector(baseValue)]);
    EXPECT_EQ(nullptr, [sub descriptionForInstanceMethod: @selector(baseMaker:)])
	<< "a class method is no instance method";
    ASSERT_NE(nullptr, [sub descriptionForClassMethod: @selector(baseMaker:)]);
    EXPECT_EQ(nullptr, [sub descriptionForInstanceMethod: NULL]);
}
