// Content-defined chunks: the boundaries the format fixes, and the chunk lists that describe them.
#include "support/test_folder.h"
#include "update/patch/chunk_list.h"
#include "update/patch/chunker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <set>
#include <string>
#include <vector>

namespace Orv {
namespace {

// The test vectors' data: SplitMix64 from the seed, each output as 8 little-endian bytes.
std::string Sample(size_t length, uint64_t seed) {
    std::string bytes;
    while (bytes.size() < length) {
        seed += 0x9E3779B97F4A7C15ULL;
        uint64_t z = seed;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        for (int i = 0; i < 8; ++i) {
            bytes.push_back(static_cast<char>(z >> (8 * i)));
        }
    }
    bytes.resize(length);
    return bytes;
}

std::vector<size_t> Boundaries(const std::string& data) {
    std::vector<size_t> ends;
    for (size_t position = 0; position < data.size();) {
        position += ChunkLength(reinterpret_cast<const unsigned char*>(data.data()) + position,
                                data.size() - position);
        ends.push_back(position);
    }
    return ends;
}

TEST(Chunker, FindsTheBoundariesOfTheTestVectors) {
    EXPECT_EQ(GearTable()[0], 0xe8a22bdd1a2795d7ULL);
    EXPECT_EQ(GearTable()[1], 0x025162d1574f4973ULL);
    EXPECT_EQ(GearTable()[255], 0x4a84d6b964a7ef50ULL);

    const std::string data = Sample(4 * 1024 * 1024 + 12345, 1);
    const std::vector<size_t> expected{238658, 195339, 71709,  170749, 358199, 154351, 150805,
                                       142220, 100005, 275069, 268327, 271251, 267763, 355894,
                                       269029, 294414, 321463, 183482, 117922};
    std::vector<size_t> lengths;
    size_t previous = 0;
    for (const size_t end : Boundaries(data)) {
        lengths.push_back(end - previous);
        previous = end;
    }
    EXPECT_EQ(lengths, expected);

    // Reading the file in pieces finds the same chunks.
    Support::TempFolder folder;
    Support::WriteFileBytes(folder / L"data.bin", data);
    std::vector<size_t> cut;
    ASSERT_TRUE(CutFile(folder / L"data.bin", {}, [&](uint64_t offset, std::span<const unsigned char> bytes) {
                    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                              data.substr(offset, bytes.size()));
                    cut.push_back(bytes.size());
                    return true;
                }).ok());
    EXPECT_EQ(cut, expected);
}

// The rule as the release format writes it down, kept apart from the launcher's code on purpose.
std::vector<size_t> ReferenceLengths(const std::string& data) {
    std::vector<uint64_t> gear;
    uint64_t state = 0x4F7276616E65;
    for (int i = 0; i < 256; ++i) {
        state += 0x9E3779B97F4A7C15ULL;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        gear.push_back(z ^ (z >> 31));
    }
    std::vector<size_t> lengths;
    for (size_t s = 0; s < data.size();) {
        const size_t n = data.size() - s;
        size_t length = n;
        if (n > 65536) {
            const size_t end = std::min<size_t>(n, 1 << 20);
            const size_t normal = std::min<size_t>(end, 1 << 18);
            length = end;
            uint64_t h = 0;
            for (size_t i = 65536; i < end; ++i) {
                h = (h << 1) + gear[static_cast<unsigned char>(data[s + i])];
                if ((h >> (i < normal ? 46 : 49)) == 0) {
                    length = i + 1;
                    break;
                }
            }
        }
        lengths.push_back(length);
        s += length;
    }
    return lengths;
}

TEST(Chunker, ReadingInPiecesOfAnySizeCutsAsTheDocumentedRule) {
    Support::TempFolder folder;
    // Data that often runs to the largest chunk (long runs of one byte), mixed with data that does not.
    std::string data = Sample(21 << 20, 5);
    for (size_t at = 3 << 20; at + (3 << 20) < data.size(); at += 5 << 20) {
        std::fill(data.begin() + static_cast<std::ptrdiff_t>(at),
                  data.begin() + static_cast<std::ptrdiff_t>(at + (3 << 20)), '\x5A');
    }
    for (const size_t size :
         {size_t{20} << 20, size_t{21} << 20, (size_t{4} << 20) - 1, size_t{4} << 20, size_t{65537}}) {
        const std::string file = data.substr(0, size);
        Support::WriteFileBytes(folder / L"data.bin", file);
        const std::vector<size_t> expected = ReferenceLengths(file);
        for (const size_t piece :
             {(size_t{1} << 20) + 1, (size_t{1} << 20) + 12345, size_t{3} << 20, size_t{8} << 20}) {
            std::vector<size_t> cut;
            ASSERT_TRUE(CutFile(
                            folder / L"data.bin", {},
                            [&](uint64_t offset, std::span<const unsigned char> bytes) {
                                EXPECT_EQ(offset, std::accumulate(cut.begin(), cut.end(), uint64_t{0}));
                                cut.push_back(bytes.size());
                                return true;
                            },
                            piece)
                            .ok());
            EXPECT_EQ(cut, expected) << "file " << size << ", reads of " << piece;
        }
    }
}

TEST(Chunker, AnInsertionMovesOnlyTheBoundariesNearIt) {
    const std::string data = Sample(8 * 1024 * 1024, 1);
    const std::vector<size_t> original = Boundaries(data);
    size_t lost = 0;
    uint64_t seed = 2;
    for (const size_t at : {1500000, 2000000, 3333333, 4500000, 5000001, 6000000}) {
        const std::vector<size_t> changed =
            Boundaries(data.substr(0, at) + Sample(1000, seed++) + data.substr(at));
        std::set<size_t> kept;
        for (const size_t end : changed) {
            if (end <= at) {
                EXPECT_TRUE(std::binary_search(original.begin(), original.end(), end)) << at;
            } else if (end > at + 1000) {
                kept.insert(end - 1000);
            }
        }
        for (const size_t end : original) {
            if (end > at && !kept.contains(end)) {
                ++lost;
                EXPECT_LT(end, at + 2 * 1024 * 1024) << "a boundary far after the insertion at " << at;
            }
        }
    }
    EXPECT_LE(lost, 8U);
}

TEST(ChunkList, ReadsOnlyListsThatDescribeTheFile) {
    const std::string a(64, 'a');
    const std::string b(64, 'b');
    const std::string good = a + "\t65536\t65600\n" + b + "\t100\t120\n";
    const auto chunks = ParseChunkList(good, 65636);
    ASSERT_TRUE(chunks);
    EXPECT_EQ(chunks->size(), 2U);
    EXPECT_EQ((*chunks)[1].sha256, b);
    EXPECT_EQ(ChunkListText(*chunks), good);

    for (const std::string& bad : {
             std::string(),                                // no chunk
             good.substr(0, good.size() - 1),              // no final line feed
             a + "\t65536\t65600\n" + b + "\t101\t120\n",  // sizes do not add up
             a + "\t65536\t65600\n" + b + "\t100\n",       // a field missing
             a + "\t65536\t65600\n" + b + "\t0100\t120\n", // not the plain number
             a + "\t65536\t65600\n" + b + "\t100\t0\n",    // an empty object
             std::string(64, 'A') + "\t65636\t100\n",      // upper-case hash
         }) {
        EXPECT_FALSE(ParseChunkList(bad, 65636)) << bad;
    }
    // Each limit alone: the sizes add up, so only the limit refuses.
    EXPECT_TRUE(ParseChunkList(a + "\t1048576\t2097152\n", 1048576));
    EXPECT_FALSE(ParseChunkList(a + "\t1048577\t100\n", 1048577));     // larger than the largest chunk
    EXPECT_FALSE(ParseChunkList(a + "\t1048576\t2097153\n", 1048576)); // an object beyond 2 MiB
    // Many tiny chunks: more than the file holds at the smallest chunk size.
    std::string tiny;
    for (int i = 0; i < 4; ++i) {
        tiny += a + "\t25000\t25010\n";
    }
    EXPECT_FALSE(ParseChunkList(tiny, 100000));
    EXPECT_TRUE(ParseChunkList(a + "\t50000\t50010\n" + b + "\t50000\t50010\n", 100000));
}

} // namespace
} // namespace Orv
