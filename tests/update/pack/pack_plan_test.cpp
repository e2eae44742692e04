// The pack index a launcher takes, and the ranges it plans from it.
#include "core/text.h"
#include "update/pack/pack_index.h"
#include "update/pack/pack_plan.h"

#include <gtest/gtest.h>

#include <string>

namespace Orv {
namespace {

std::string Hash(char c) {
    return std::string(64, c);
}

// Pack "a" of 1000 bytes holding objects 1 to 4; pack "b" of 50 bytes.
std::string GoodIndex() {
    return "format\t1\npack\t" + Hash('a') + "\t1000\n" + Hash('1') + ".z\t0\t100\n" + Hash('2') +
           "\t100\t50\n" + Hash('3') + ".c\t400\t100\n" + Hash('4') + ".z\t900\t100\npack\t" + Hash('b') +
           "\t50\n" + Hash('5') + "\t0\t50\n";
}

TEST(PackIndexParse, ReadsWhatTheWriterWrites) {
    const auto index = ParsePackIndex(GoodIndex());
    ASSERT_TRUE(index) << WideToUtf8(index.message);
    ASSERT_EQ(index.value->packs.size(), 2U);
    const PackSpot spot = index.value->objects.at(Hash('3') + ".c");
    EXPECT_EQ(spot.pack, 0U);
    EXPECT_EQ(spot.offset, 400U);
    EXPECT_EQ(spot.length, 100U);
    std::vector<PackEntry> entries;
    for (const auto& [name, where] : index.value->objects) {
        entries.push_back({name, where});
    }
    EXPECT_EQ(PackIndexText(index.value->packs, entries), GoodIndex());
}

TEST(PackIndexParse, AnIndexThatCouldMisplaceAnObjectIsRefusedWhole) {
    const std::string pack = "pack\t" + Hash('a') + "\t1000\n";
    const std::string cases[] = {
        "",
        "pack\t" + Hash('a') + "\t1000\n",                                        // no format line
        "format\t2\n" + pack,                                                     // another format
        "format\t1\n" + Hash('1') + "\t0\t10\n" + pack,                           // object before any pack
        "format\t1\n" + pack + Hash('1') + "\t995\t10\n",                         // outside its pack
        "format\t1\n" + pack + Hash('1') + "\t0\t10\n" + Hash('2') + "\t9\t5\n",  // overlap
        "format\t1\n" + pack + Hash('1') + "\t0\t10\n" + Hash('1') + "\t20\t5\n", // listed twice
        "format\t1\n" + pack + pack,                                              // pack listed twice
        "format\t1\n" + pack + Hash('1') + "\t0\t0\n",                            // empty object
        "format\t1\n" + pack + Hash('1') + ".x\t0\t10\n",                         // not an object name
        "format\t1\n" + pack + Hash('1') + "\t00\t10\n",                          // leading zero
        "format\t1\npack\t" + Hash('a') + "\t67108865\n",                         // pack beyond 64 MiB
    };
    for (const std::string& text : cases) {
        EXPECT_FALSE(ParsePackIndex(text)) << text;
    }
}

class PackPlanning : public ::testing::Test {
protected:
    void SetUp() override { index = *ParsePackIndex(GoodIndex()).value; }
    PackWant Want(char c, const char* suffix, uint64_t length, size_t id) const {
        return {Hash(c) + suffix, length, id};
    }
    PackIndex index;
};

TEST_F(PackPlanning, NearbyObjectsShareOneRangeAndLoneOnesComeLoose) {
    // 1 and 2 touch, 3 is 250 bytes after 2, 4 is 400 after 3; 5 stands alone in pack b.
    const PackPlan plan = PlanPackPieces(
        index, {Want('1', ".z", 100, 0), Want('2', "", 50, 1), Want('3', ".c", 100, 2), Want('5', "", 50, 3)},
        12);
    ASSERT_EQ(plan.pieces.size(), 1U);
    EXPECT_EQ(plan.pieces[0].first, 0U);
    EXPECT_EQ(plan.pieces[0].last, 499U);
    EXPECT_EQ(plan.pieces[0].items.size(), 3U);
    EXPECT_EQ(plan.loose, std::vector<size_t>{3});
}

TEST_F(PackPlanning, ObjectsThatThePackDoesNotHoldAsListedComeLoose) {
    const PackPlan plan = PlanPackPieces(
        index, {Want('1', "", 100, 0), Want('2', "", 51, 1), Want('9', "", 10, 2), Want('4', ".z", 100, 3)},
        12);
    EXPECT_TRUE(plan.pieces.empty());
    EXPECT_EQ(plan.loose, (std::vector<size_t>{0, 1, 2, 3}));
}

TEST_F(PackPlanning, ManyObjectsAreCutIntoPiecesForTheWorkersAtObjectBoundaries) {
    PackIndex big;
    big.packs.push_back({Hash('a'), 16 * 1024 * 1024});
    std::vector<PackWant> wants;
    for (size_t i = 0; i < 4000; ++i) {
        const std::string name = std::string(60, 'c') + std::to_string(1000 + i);
        big.objects[name] = {0, i * 4000, 3000}; // gaps of 1000 bytes
        wants.push_back({name, 3000, i});
    }
    const PackPlan plan = PlanPackPieces(big, wants, 12);
    EXPECT_TRUE(plan.loose.empty());
    ASSERT_GE(plan.pieces.size(), 24U);
    size_t items = 0;
    for (const PackPiece& piece : plan.pieces) {
        EXPECT_EQ(piece.first, piece.items.front().spot.offset);
        EXPECT_EQ(piece.last + 1, piece.items.back().spot.offset + 3000);
        EXPECT_LE(piece.Length(), kPieceMax);
        items += piece.items.size();
    }
    EXPECT_EQ(items, 4000U);
}

TEST(PackIndexCost, TheIndexIsFetchedOnlyWhenTheRequestsItSavesCostMore) {
    EXPECT_FALSE(IndexPays(100, 1));
    EXPECT_TRUE(IndexPays(100, 2));
    EXPECT_FALSE(IndexPays(1024 * 1024, 10));
    EXPECT_TRUE(IndexPays(1024 * 1024, 200));
}

} // namespace
} // namespace Orv
