// Packs: what orvanectl publish writes beside the loose objects, what a later publish keeps, and what
// verify finds wrong with them. Run as processes on real folders; the mirror is read back independently.
#include "support/mirror_helpers.h"
#include "support/test_folder.h"
#include "update/patch/chunk_list.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

namespace Orv {
namespace {

using Support::EntryOf;
using Support::FilesBelow;
using Support::PackPath;
using Support::ReadFileOrEmpty;
using Support::ReadPackIndexOf;
using Support::RunOrvanectl;
using Support::RunPublish;
using Support::RunResult;
using Support::TempFolder;
using Support::WriteFileBytes;

std::string LooseObject(const std::wstring& mirror, const std::string& name) {
    const std::wstring wide(name.begin(), name.end());
    return ReadFileOrEmpty(mirror + L"\\objects\\" + wide.substr(0, 2) + L"\\" + wide);
}

// What a fresh install fetches from packs, in its order: the small file objects in row order (not the
// launcher's, none empty), then the chunks of every file published in chunks.
std::vector<std::string> FreshInstallOrder(const std::wstring& mirror, const Manifest& manifest) {
    std::vector<std::string> names;
    std::set<std::string> seen;
    for (const FileEntry& entry : manifest.files) {
        const std::string name = PackObjectName(entry);
        if (entry.kind != 's' && entry.zsize > 0 && entry.zsize <= kPackObjectMax &&
            seen.insert(name).second) {
            names.push_back(name);
        }
    }
    for (const ChunkedFile& row : manifest.chunkedFiles) {
        const auto file = std::find_if(manifest.files.begin(), manifest.files.end(),
                                       [&](const FileEntry& entry) { return entry.sha256 == row.sha256; });
        const auto list = ParseChunkList(LooseObject(mirror, row.listSha256 + ".l"), file->size);
        EXPECT_TRUE(list.has_value());
        for (const ChunkListEntry& chunk : list.value_or(std::vector<ChunkListEntry>{})) {
            if (seen.insert(chunk.sha256 + ".c").second) {
                names.push_back(chunk.sha256 + ".c");
            }
        }
    }
    return names;
}

// One publish of a release with more than 16 MiB of small objects, a launcher, an empty file, and a
// file too large for a pack that is published in chunks.
class PackedRelease : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root = std::make_unique<TempFolder>(L"orvpack");
        mirror = *root / L"mirror";
        const std::wstring game = *root / L"game";
        for (int i = 0; i < 30; ++i) {
            WriteFileBytes(game + L"\\text\\" + std::to_wstring(i) + L".txt",
                           std::string(2000 + i, static_cast<char>('a' + i % 20)));
        }
        WriteFileBytes(game + L"\\copy.txt", std::string(2000, 'a'));
        for (int i = 0; i < 17; ++i) { // exactly kPackObjectMax each: packed
            WriteFileBytes(game + L"\\noise\\" + std::to_wstring(i) + L".bin",
                           Support::RandomBytes(kPackObjectMax, 100 + i));
        }
        WriteFileBytes(game + L"\\Orvane.exe", "MZ the launcher");
        WriteFileBytes(game + L"\\empty.txt", "");
        WriteFileBytes(game + L"\\archive.pak", Support::RandomBytes(5 * 1024 * 1024, 9));
        published = RunPublish(game, mirror, 1);
    }
    static void TearDownTestSuite() { root.reset(); }
    void SetUp() override { ASSERT_EQ(published.exitCode, 0U) << published.output; }

    static inline std::unique_ptr<TempFolder> root;
    static inline std::wstring mirror;
    static inline RunResult published;
};

TEST_F(PackedRelease, PacksHoldTheLooseObjectsBackToBackInTheOrderAFreshInstallNeedsThem) {
    const Manifest manifest = Support::ReadManifest(mirror);
    const PackIndex index = ReadPackIndexOf(mirror);
    std::vector<std::string> names;
    std::vector<uint64_t> filled(index.packs.size(), 0);
    std::vector<std::string> packs;
    for (const PackFile& pack : index.packs) {
        packs.push_back(ReadFileOrEmpty(PackPath(mirror, pack.sha256, L".pack")));
        EXPECT_EQ(packs.back().size(), pack.size);
        EXPECT_LE(pack.size, kPackMax);
        EXPECT_EQ(Support::Sha256Hex(packs.back()), pack.sha256);
    }
    std::map<std::pair<uint32_t, uint64_t>, std::pair<std::string, uint64_t>> byPlace; // name and length
    for (const auto& [name, spot] : index.objects) {
        byPlace[{spot.pack, spot.offset}] = {name, spot.length};
    }
    for (const auto& [place, object] : byPlace) {
        const auto& [pack, offset] = place;
        names.push_back(object.first);
        EXPECT_EQ(offset, filled[pack]) << object.first; // back to back
        filled[pack] += object.second;
        EXPECT_TRUE(packs[pack].substr(offset, object.second) == LooseObject(mirror, object.first))
            << object.first;
    }
    for (size_t pack = 0; pack < index.packs.size(); ++pack) {
        EXPECT_EQ(filled[pack], index.packs[pack].size);
    }
    EXPECT_EQ(names, FreshInstallOrder(mirror, manifest));
    EXPECT_GE(index.packs.size(), 2U);
    EXPECT_FALSE(index.objects.contains(PackObjectName(EntryOf(manifest, L"Orvane.exe"))));
    EXPECT_FALSE(index.objects.contains(PackObjectName(EntryOf(manifest, L"archive.pak"))));
    EXPECT_TRUE(index.objects.contains(PackObjectName(EntryOf(manifest, L"noise\\16.bin"))));
    EXPECT_NE(published.output.find(std::to_string(names.size()) + " objects in " +
                                    std::to_string(index.packs.size()) + " packs"),
              std::string::npos)
        << published.output;
}

TEST_F(PackedRelease, VerifyPassesAndCountsThePacks) {
    const RunResult run = RunOrvanectl({L"verify", mirror});
    EXPECT_EQ(run.exitCode, 0U) << run.output;
    EXPECT_NE(run.output.find(" packs, all good"), std::string::npos) << run.output;
}

// A mirror with one release of three small files in one pack, whose pack files are made old.
class PackMirror : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFileBytes(game + L"\\a.txt", std::string(3000, 'a'));
        WriteFileBytes(game + L"\\b.bin", Support::RandomBytes(3000, 1));
        WriteFileBytes(game + L"\\c.bin", Support::RandomBytes(4000, 2));
        const RunResult first = RunPublish(game, mirror, 1);
        ASSERT_EQ(first.exitCode, 0U) << first.output;
        before = ReadPackIndexOf(mirror);
        ASSERT_EQ(before.packs.size(), 1U);
        pack = PackPath(mirror, before.packs[0].sha256, L".pack");
        packFiles = FilesBelow(mirror + L"\\packs");
        for (const std::wstring& file : packFiles) {
            Support::MakeOld(mirror + L"\\packs\\" + file);
        }
    }

    static std::string NameOf(const std::string& sha256, const char* suffix) {
        return "packs/" + sha256.substr(0, 2) + "/" + sha256 + suffix;
    }

    // Runs verify and expects it to fail on the packs alone, in a line that names `name` and says `reason`.
    void ExpectPackProblem(const std::string& name, const std::string& reason) const {
        const RunResult run = RunOrvanectl({L"verify", mirror});
        EXPECT_EQ(run.exitCode, 1U) << run.output;
        const size_t line = run.output.find(name + ": ");
        ASSERT_NE(line, std::string::npos) << run.output;
        EXPECT_NE(run.output.find(reason, line), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("objects/"), std::string::npos) << run.output;
    }

    TempFolder root;
    std::wstring game = root / L"game";
    std::wstring mirror = root / L"mirror";
    PackIndex before;
    std::vector<std::wstring> packFiles;
    std::wstring pack; // the one pack
};

TEST_F(PackMirror, ASecondPublishPacksOnlyTheNewContentAndLeavesEveryPackAsItWas) {
    WriteFileBytes(game + L"\\b.bin", Support::RandomBytes(3000, 3));
    WriteFileBytes(game + L"\\d.txt", std::string(500, 'd'));
    const RunResult second = RunPublish(game, mirror, 2);
    ASSERT_EQ(second.exitCode, 0U) << second.output;
    EXPECT_NE(second.output.find("1 packs written"), std::string::npos) << second.output;
    for (const std::wstring& file : packFiles) {
        EXPECT_TRUE(Support::IsOld(mirror + L"\\packs\\" + file)) << Support::Utf8(file);
    }

    const Manifest manifest = Support::ReadManifest(mirror);
    const PackIndex after = ReadPackIndexOf(mirror);
    ASSERT_EQ(after.objects.size(), manifest.files.size()); // the old b.bin is left out
    uint64_t newBytes = 0;
    for (const FileEntry& entry : manifest.files) {
        const auto placed = after.objects.find(PackObjectName(entry));
        ASSERT_NE(placed, after.objects.end()) << Support::Utf8(entry.path);
        const PackSpot& spot = placed->second;
        const auto old = before.objects.find(PackObjectName(entry));
        if (entry.path == L"a.txt" || entry.path == L"c.bin") {
            ASSERT_NE(old, before.objects.end());
            EXPECT_EQ(after.packs[spot.pack].sha256, before.packs[0].sha256);
            EXPECT_EQ(spot.offset, old->second.offset);
        } else {
            EXPECT_EQ(spot.pack, after.packs.size() - 1) << Support::Utf8(entry.path);
            newBytes += spot.length;
        }
    }
    EXPECT_EQ(after.packs.back().size, newBytes); // the new pack holds the new content only
    EXPECT_EQ(RunOrvanectl({L"verify", mirror}).exitCode, 0U);
}

TEST_F(PackMirror, APackTheMirrorLostIsNotReusedButWrittenAgain) {
    ASSERT_TRUE(::DeleteFileW(pack.c_str()));
    const RunResult second = RunPublish(game, mirror, 2);
    ASSERT_EQ(second.exitCode, 0U) << second.output;
    EXPECT_NE(second.output.find("are not reused"), std::string::npos) << second.output;
    EXPECT_TRUE(Support::Exists(pack)); // the same content makes the same pack
    EXPECT_EQ(RunOrvanectl({L"verify", mirror}).exitCode, 0U);
}

TEST_F(PackMirror, ADamagedPackOfTheNameANewPackWouldHaveFailsThePublishNamingIt) {
    std::filesystem::resize_file(std::filesystem::path(pack), before.packs[0].size - 1);
    const std::string manifest = ReadFileOrEmpty(mirror + L"\\manifest.txt");
    const RunResult second = RunPublish(game, mirror, 2);
    EXPECT_EQ(second.exitCode, 1U) << second.output;
    EXPECT_NE(second.output.find(NameOf(before.packs[0].sha256, ".pack, which is damaged")),
              std::string::npos)
        << second.output;
    EXPECT_EQ(ReadFileOrEmpty(mirror + L"\\manifest.txt"), manifest);
}

TEST_F(PackMirror, VerifyFindsAnAlteredByteInItsObject) {
    const std::string object = PackObjectName(EntryOf(Support::ReadManifest(mirror), L"b.bin"));
    const auto placed = before.objects.find(object);
    ASSERT_NE(placed, before.objects.end());
    std::string bytes = ReadFileOrEmpty(pack);
    bytes[placed->second.offset + 100] ^= 0x01;
    WriteFileBytes(pack, bytes);
    ExpectPackProblem(NameOf(before.packs[0].sha256, ".pack"), object + " at ");
}

TEST_F(PackMirror, VerifyFindsATruncatedPack) {
    std::filesystem::resize_file(std::filesystem::path(pack), before.packs[0].size - 10);
    ExpectPackProblem(NameOf(before.packs[0].sha256, ".pack"),
                      "the index says " + std::to_string(before.packs[0].size));
}

TEST_F(PackMirror, VerifyFindsAMissingPack) {
    ASSERT_TRUE(::DeleteFileW(pack.c_str()));
    ExpectPackProblem(NameOf(before.packs[0].sha256, ".pack"), "missing");
}

TEST_F(PackMirror, VerifyFindsAnIndexThatIsNotTheTextTheRowNames) {
    // Text of the same length with one digit of the pack's hash changed, and the row's object size made
    // to match, so that only the SHA-256 tells.
    const PackIndexRow row = *Support::ReadManifest(mirror).packIndex;
    const std::wstring index = PackPath(mirror, row.sha256, L".index");
    std::string text = Support::Inflate(ReadFileOrEmpty(index));
    const size_t digit = text.find(before.packs[0].sha256);
    text[digit] = text[digit] == '0' ? '1' : '0';
    const std::string object = Support::Deflate(text);
    WriteFileBytes(index, object);
    std::string manifest = ReadFileOrEmpty(mirror + L"\\manifest.txt");
    const std::string zsize = "\t" + std::to_string(row.zsize) + "\n";
    ASSERT_TRUE(manifest.ends_with(zsize));
    manifest.replace(manifest.size() - zsize.size(), zsize.size(),
                     "\t" + std::to_string(object.size()) + "\n");
    WriteFileBytes(mirror + L"\\manifest.txt", manifest);
    ExpectPackProblem(NameOf(row.sha256, ".index"), "SHA-256");
}

TEST(PackOptions, NoPacksAndAReleaseWithNothingToPackLeaveTheMirrorAsBeforePacks) {
    TempFolder root;
    WriteFileBytes(root / L"small\\a.txt", "small");
    WriteFileBytes(root / L"large\\a.bin", Support::RandomBytes(kPackObjectMax + 1, 4));
    const std::vector<std::pair<std::wstring, std::vector<std::wstring>>> cases{
        {root / L"small", {L"--no-packs"}}, {root / L"large", {}}};
    for (const auto& [game, extra] : cases) {
        const std::wstring mirror = game + L"-mirror";
        const RunResult run = RunPublish(game, mirror, 1, extra);
        ASSERT_EQ(run.exitCode, 0U) << run.output;
        EXPECT_FALSE(Support::Exists(mirror + L"\\packs"));
        EXPECT_FALSE(Support::ReadManifest(mirror).packIndex.has_value());
        EXPECT_EQ(ReadFileOrEmpty(mirror + L"\\manifest.txt").find("\np\t"), std::string::npos);
        EXPECT_EQ(run.output.find("packs"), std::string::npos) << run.output;
    }
}

} // namespace
} // namespace Orv
