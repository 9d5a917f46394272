/*
 * PointerMapTest.mm --
 *
 *	The open-addressing pointer map against std::unordered_map, through
 *	long random runs of puts and removals: removal shifts entries back,
 *	and a wrong shift loses keys only after particular interleavings.
 */
#include <gtest/gtest.h>

#include "KxPointerMap.h"

#include <random>
#include <unordered_map>
#include <vector>

namespace {

/* Keys that look like object pointers: aligned, close together. */
const void *
Key(unsigned n)
{
    return reinterpret_cast<const void *>(static_cast<uintptr_t>(0x7f0000001000ULL + 16ULL * n));
}

void *
Value(unsigned n)
{
    return reinterpret_cast<void *>(static_cast<uintptr_t>(n * 8 + 8));
}

void
ExpectSame(const KxPointerMap &map, const std::unordered_map<const void *, void *> &model,
	unsigned keySpace)
{
    ASSERT_EQ(model.size(), map.count);
    for (unsigned n = 0; n < keySpace; n++) {
	auto found = model.find(Key(n));
	EXPECT_EQ(found != model.end() ? found->second : nullptr, KxPointerMapGet(&map, Key(n)))
	    << "key " << n;
    }
}

} // namespace

TEST(PointerMap, AgreesWithAModelThroughRandomPutsAndRemovals)
{
    KxPointerMap map;
    KxPointerMapInit(&map);
    std::unordered_map<const void *, void *> model;
    std::mt19937 random(12345);
    const unsigned keySpace = 3000;
    for (int round = 0; round < 200000; round++) {
	unsigned n = random() % keySpace;
	if (random() % 3 == 0) {
	    auto found = model.find(Key(n));
	    void *expected = found != model.end() ? found->second : nullptr;
	    ASSERT_EQ(expected, KxPointerMapRemove(&map, Key(n))) << "round " << round;
	    model.erase(Key(n));
	} else {
	    void *value = Value(n + static_cast<unsigned>(round));
	    ASSERT_EQ(0, KxPointerMapPut(&map, Key(n), value));
	    model[Key(n)] = value;
	}
	if (round % 20000 == 0) {
	    ExpectSame(map, model, keySpace);
	}
    }
    ExpectSame(map, model, keySpace);
    KxPointerMapFree(&map);
    EXPECT_EQ(nullptr, KxPointerMapGet(&map, Key(1)));
}

TEST(PointerMap, NullKeysAndValuesAreRefused)
{
    KxPointerMap map;
    KxPointerMapInit(&map);
    EXPECT_EQ(nullptr, KxPointerMapGet(&map, Key(1)));
    EXPECT_EQ(nullptr, KxPointerMapRemove(&map, Key(1)));
    EXPECT_EQ(-1, KxPointerMapPut(&map, nullptr, Value(1)));
    EXPECT_EQ(-1, KxPointerMapPut(&map, Key(1), nullptr));
    EXPECT_EQ(0u, map.count);
    EXPECT_EQ(0, KxPointerMapPut(&map, Key(1), Value(1)));
    EXPECT_EQ(0, KxPointerMapPut(&map, Key(1), Value(2)));
    EXPECT_EQ(1u, map.count);
    EXPECT_EQ(Value(2), KxPointerMapGet(&map, Key(1)));
    KxPointerMapFree(&map);
}
