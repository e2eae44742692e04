// A second publish into a mirror that already holds the earlier release's objects.
#include "support/mirror_helpers.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace Orv {
namespace {

using Support::EntryOf;
using Support::FilesBelow;
using Support::ReadFileOrEmpty;
using Support::RunPublish;
using Support::RunResult;
using Support::TempFolder;
using Support::WriteFileBytes;

class Incremental : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFileBytes(game + L"\\text.txt", std::string(100000, 'a'));
        WriteFileBytes(game + L"\\noise.bin", Support::RandomBytes(50000, 3));
        WriteFileBytes(game + L"\\lang\\en.ini", "hello");
        const RunResult first = RunPublish(game, mirror, 1);
        ASSERT_EQ(first.exitCode, 0U) << first.output;
        for (const std::wstring& file : FilesBelow(mirror)) {
            Support::MakeOld(mirror + L"\\" + file);
        }
    }

    // The files below the objects folder that a publish has written since SetUp.
    std::vector<std::wstring> NewObjects() const {
        std::vector<std::wstring> written;
        for (const std::wstring& file : FilesBelow(mirror)) {
            if (file.starts_with(L"objects/") && !Support::IsOld(mirror + L"\\" + file)) {
                written.push_back(file);
            }
        }
        return written;
    }

    TempFolder root;
    std::wstring game = root / L"game";
    std::wstring mirror = root / L"mirror";
};

TEST_F(Incremental, ChangingOneFileWritesExactlyOneNewObjectAndTheManifestFollows) {
    const Manifest before = Support::ReadManifest(mirror);
    WriteFileBytes(game + L"\\lang\\en.ini", "hello, changed");
    const RunResult second = RunPublish(game, mirror, 2);
    ASSERT_EQ(second.exitCode, 0U) << second.output;

    const Manifest after = Support::ReadManifest(mirror);
    const FileEntry& changed = EntryOf(after, L"lang\\en.ini");
    EXPECT_EQ(changed.sha256, Support::Sha256Hex("hello, changed"));
    std::wstring object = Support::ObjectPath(mirror, changed).substr(mirror.size() + 1);
    std::replace(object.begin(), object.end(), L'\\', L'/');
    EXPECT_EQ(NewObjects(), std::vector<std::wstring>{object});
    EXPECT_EQ(after.release, 2);
    EXPECT_EQ(after.clientVersion, L"7.1.2");
    for (const wchar_t* same : {L"text.txt", L"noise.bin"}) {
        const FileEntry& a = EntryOf(before, same);
        const FileEntry& b = EntryOf(after, same);
        EXPECT_EQ(a.sha256, b.sha256);
        EXPECT_EQ(a.zsize, b.zsize);
        EXPECT_EQ(a.compressed, b.compressed);
    }
    EXPECT_EQ(Support::RunOrvanectl({L"verify", mirror}).exitCode, 0U);
}

TEST_F(Incremental, UnchangedFolderWritesNoObject) {
    const RunResult again = RunPublish(game, mirror, 2);
    ASSERT_EQ(again.exitCode, 0U) << again.output;
    EXPECT_TRUE(NewObjects().empty());
    EXPECT_NE(again.output.find("0 written"), std::string::npos) << again.output;
}

TEST_F(Incremental, ObjectStoredInTheOtherFormIsReusedWithItsOwnSize) {
    // The mirror holds the text file's content uncompressed instead of compressed.
    const FileEntry text = EntryOf(Support::ReadManifest(mirror), L"text.txt");
    ASSERT_TRUE(text.compressed);
    ASSERT_TRUE(::DeleteFileW(Support::ObjectPath(mirror, text).c_str()));
    FileEntry stored = text;
    stored.compressed = false;
    WriteFileBytes(Support::ObjectPath(mirror, stored), std::string(100000, 'a'));
    Support::MakeOld(Support::ObjectPath(mirror, stored));

    const RunResult second = RunPublish(game, mirror, 2);
    ASSERT_EQ(second.exitCode, 0U) << second.output;
    const FileEntry& after = EntryOf(Support::ReadManifest(mirror), L"text.txt");
    EXPECT_FALSE(after.compressed);
    EXPECT_EQ(after.zsize, 100000U);
    EXPECT_TRUE(NewObjects().empty());
    EXPECT_EQ(Support::RunOrvanectl({L"verify", mirror}).exitCode, 0U);
}

TEST_F(Incremental, AnOlderReleaseOrOtherContentUnderTheSameNumberIsRefused) {
    const RunResult fifth = RunPublish(game, mirror, 5);
    ASSERT_EQ(fifth.exitCode, 0U) << fifth.output;
    const std::string manifest = ReadFileOrEmpty(mirror + L"\\manifest.txt");
    const auto before = FilesBelow(mirror);
    WriteFileBytes(game + L"\\text.txt", std::string(100000, 'b'));
    const RunResult older = RunPublish(game, mirror, 4);
    EXPECT_EQ(older.exitCode, 1U);
    EXPECT_NE(older.output.find("serves release 5: release 4 is older"), std::string::npos) << older.output;
    EXPECT_EQ(ReadFileOrEmpty(mirror + L"\\manifest.txt"), manifest);
    EXPECT_EQ(FilesBelow(mirror), before);
    // Players who hold release 5 would never take other content under that number.
    const RunResult again = RunPublish(game, mirror, 5);
    EXPECT_EQ(again.exitCode, 1U);
    EXPECT_NE(again.output.find("serves release 5 with other content (1 file differs: \"text.txt\")"),
              std::string::npos)
        << again.output;
    EXPECT_NE(again.output.find("publish it as release 6 or higher, or give --force to replace release 5"),
              std::string::npos)
        << again.output;
    EXPECT_EQ(ReadFileOrEmpty(mirror + L"\\manifest.txt"), manifest);
    const RunResult forced = RunPublish(game, mirror, 5, {L"--force"});
    EXPECT_EQ(forced.exitCode, 0U) << forced.output;
    const RunResult same = RunPublish(game, mirror, 5);
    EXPECT_EQ(same.exitCode, 0U) << same.output;
}

} // namespace
} // namespace Orv
