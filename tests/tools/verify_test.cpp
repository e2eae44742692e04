// orvanectl verify on a published mirror that is then damaged in the ways a mirror gets damaged.
#include "support/mirror_helpers.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace Orv {
namespace {

using Support::EntryOf;
using Support::ReadFileOrEmpty;
using Support::RunOrvanectl;
using Support::RunResult;
using Support::TempFolder;
using Support::Utf8;
using Support::WriteFileBytes;

// Text that compresses well without being one repeated byte, whose stream has room for a flipped bit.
std::string Numbered(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        text += "line " + std::to_string(i) + ": " + std::to_string(i * 7919 % 10007) + "\n";
    }
    return text;
}

class Verify : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFileBytes(game + L"\\text.txt", text);
        WriteFileBytes(game + L"\\noise.bin", noise);
        WriteFileBytes(game + L"\\other.txt", std::string(5000, 'o'));
        // The loose objects alone: what verify finds in packs is tested with the packs.
        const RunResult published = Support::RunPublish(game, mirror, 5, {L"--no-packs"});
        ASSERT_EQ(published.exitCode, 0U) << published.output;
        const Manifest manifest = Support::ReadManifest(mirror);
        compressed = EntryOf(manifest, L"text.txt");
        stored = EntryOf(manifest, L"noise.bin");
        other = EntryOf(manifest, L"other.txt");
        ASSERT_TRUE(compressed.compressed);
        ASSERT_FALSE(stored.compressed);
    }

    static std::string Name(const FileEntry& entry) {
        return "objects/" + entry.sha256.substr(0, 2) + "/" + entry.sha256 + (entry.compressed ? ".z" : "");
    }
    std::wstring PathOf(const FileEntry& entry) const { return Support::ObjectPath(mirror, entry); }

    static void FlipByte(const std::wstring& path, size_t at) {
        std::string bytes = ReadFileOrEmpty(path);
        ASSERT_LT(at, bytes.size());
        bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
        WriteFileBytes(path, bytes);
    }

    // Writes the object and makes the manifest list its new size.
    void ReplaceObject(const FileEntry& entry, const std::string& bytes) {
        WriteFileBytes(PathOf(entry), bytes);
        std::string manifest = ReadFileOrEmpty(mirror + L"\\manifest.txt");
        const std::string old =
            entry.sha256 + "\t" + std::to_string(entry.size) + "\t" + std::to_string(entry.zsize) + "\t";
        const size_t at = manifest.find(old);
        ASSERT_NE(at, std::string::npos);
        manifest.replace(at, old.size(),
                         entry.sha256 + "\t" + std::to_string(entry.size) + "\t" +
                             std::to_string(bytes.size()) + "\t");
        WriteFileBytes(mirror + L"\\manifest.txt", manifest);
    }

    // Runs verify and expects it to fail naming exactly the one bad object.
    void ExpectOnlyBad(const FileEntry& bad, const std::string& reason) {
        const RunResult run = RunOrvanectl({L"verify", mirror});
        EXPECT_EQ(run.exitCode, 1U) << run.output;
        const size_t line = run.output.find(Name(bad) + ": ");
        ASSERT_NE(line, std::string::npos) << run.output;
        EXPECT_NE(run.output.find(reason, line), std::string::npos) << run.output;
        for (const FileEntry* good : {&compressed, &stored, &other}) {
            if (good->sha256 != bad.sha256) {
                EXPECT_EQ(run.output.find(Name(*good)), std::string::npos) << run.output;
            }
        }
    }

    TempFolder root;
    std::wstring game = root / L"game";
    std::wstring mirror = root / L"mirror";
    std::string text = Numbered(8000);
    std::string noise = Support::RandomBytes(70000, 11);
    FileEntry compressed;
    FileEntry stored;
    FileEntry other;
};

TEST_F(Verify, IntactMirrorPasses) {
    const RunResult run = RunOrvanectl({L"verify", mirror});
    EXPECT_EQ(run.exitCode, 0U) << run.output;
    EXPECT_NE(run.output.find("3 files, 3 objects"), std::string::npos) << run.output;
}

TEST_F(Verify, FlippedByteInACompressedObject) {
    FlipByte(PathOf(compressed), ReadFileOrEmpty(PathOf(compressed)).size() / 2);
    ExpectOnlyBad(compressed, "");
}

TEST_F(Verify, FlippedByteInAStoredObjectChangesItsHash) {
    FlipByte(PathOf(stored), 12345);
    ExpectOnlyBad(stored, "SHA-256");
}

TEST_F(Verify, TruncatedObjectHasTheWrongSize) {
    std::string bytes = ReadFileOrEmpty(PathOf(compressed));
    std::filesystem::resize_file(std::filesystem::path(PathOf(compressed)), bytes.size() - 5);
    ExpectOnlyBad(compressed, "bytes, the manifest says " + std::to_string(compressed.zsize));
}

TEST_F(Verify, TruncatedStreamIsCaughtEvenWhenTheManifestListsTheShorterSize) {
    const std::string bytes = ReadFileOrEmpty(PathOf(compressed));
    ReplaceObject(compressed, bytes.substr(0, bytes.size() - 5));
    ExpectOnlyBad(compressed, "ends inside its zlib stream");
}

TEST_F(Verify, DeletedObjectIsMissing) {
    ASSERT_TRUE(::DeleteFileW(PathOf(stored).c_str()));
    ExpectOnlyBad(stored, "missing");
}

TEST_F(Verify, StreamOfOtherContentOfTheSameLengthIsCaughtByTheHash) {
    std::string changed = text;
    changed[100] = 'x';
    ReplaceObject(compressed, Support::Deflate(changed));
    ExpectOnlyBad(compressed, "SHA-256");
}

TEST_F(Verify, StreamOfLongerContentIsCaught) {
    ReplaceObject(compressed, Support::Deflate(text + "more"));
    ExpectOnlyBad(compressed, "more than");
}

TEST_F(Verify, BytesAfterTheEndOfTheStreamAreAccepted) {
    ReplaceObject(compressed, ReadFileOrEmpty(PathOf(compressed)) + "trailing bytes");
    const RunResult run = RunOrvanectl({L"verify", mirror});
    EXPECT_EQ(run.exitCode, 0U) << run.output;
}

TEST_F(Verify, EveryBadObjectGetsItsOwnLine) {
    ASSERT_TRUE(::DeleteFileW(PathOf(stored).c_str()));
    FlipByte(PathOf(other), 0);
    const RunResult run = RunOrvanectl({L"verify", mirror});
    EXPECT_EQ(run.exitCode, 1U) << run.output;
    EXPECT_NE(run.output.find(Name(stored) + ": missing"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(Name(other) + ": "), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(Name(compressed)), std::string::npos) << run.output;
}

TEST_F(Verify, ManifestTheLauncherCannotParseFailsWithTheParsersMessage) {
    std::string manifest = ReadFileOrEmpty(mirror + L"\\manifest.txt");
    manifest.replace(manifest.find("format\t1"), 8, "format\t2");
    WriteFileBytes(mirror + L"\\manifest.txt", manifest);
    const RunResult run = RunOrvanectl({L"verify", mirror});
    EXPECT_EQ(run.exitCode, 1U) << run.output;
    const auto parsed = ParseManifest(manifest);
    ASSERT_FALSE(parsed.ok());
    EXPECT_NE(run.output.find(Utf8(parsed.message)), std::string::npos) << run.output;
}

TEST_F(Verify, MissingManifestFails) {
    ASSERT_TRUE(::DeleteFileW((mirror + L"\\manifest.txt").c_str()));
    const RunResult run = RunOrvanectl({L"verify", mirror});
    EXPECT_EQ(run.exitCode, 1U) << run.output;
    EXPECT_NE(run.output.find("manifest.txt"), std::string::npos) << run.output;
}

TEST(VerifyChunks, ChunkObjectsAndListsAreCheckedAndMustRebuildTheFile) {
    TempFolder root;
    const std::wstring game = root / L"game";
    const std::wstring mirror = root / L"mirror";
    WriteFileBytes(game + L"\\archive.pak", Support::RandomBytes(5 * 1024 * 1024, 17));
    ASSERT_EQ(Support::RunPublish(game, mirror, 1).exitCode, 0U);
    const RunResult intact = RunOrvanectl({L"verify", mirror});
    EXPECT_EQ(intact.exitCode, 0U) << intact.output;
    EXPECT_NE(intact.output.find("1 files in "), std::string::npos) << intact.output;

    std::vector<std::filesystem::path> chunks;
    std::filesystem::path list;
    for (const auto& item : std::filesystem::recursive_directory_iterator(mirror)) {
        if (item.path().extension() == L".c") {
            chunks.push_back(item.path());
        } else if (item.path().extension() == L".l") {
            list = item.path();
        }
    }
    ASSERT_GT(chunks.size(), 4U);
    std::string chunk = ReadFileOrEmpty(chunks[2].wstring());
    chunk[chunk.size() / 2] ^= 0x01;
    WriteFileBytes(chunks[2].wstring(), chunk);
    const RunResult flipped = RunOrvanectl({L"verify", mirror});
    EXPECT_EQ(flipped.exitCode, 1U);
    EXPECT_NE(flipped.output.find(Utf8(chunks[2].filename().wstring()) + ": "), std::string::npos)
        << flipped.output;

    std::filesystem::remove(list);
    const RunResult noList = RunOrvanectl({L"verify", mirror});
    EXPECT_EQ(noList.exitCode, 1U);
    EXPECT_NE(noList.output.find(Utf8(list.filename().wstring()) + ": "), std::string::npos) << noList.output;
}

} // namespace
} // namespace Orv
