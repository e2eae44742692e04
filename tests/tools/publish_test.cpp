// orvanectl publish, run as a process on real folders, with the mirror read back independently.
#include "support/mirror_helpers.h"
#include "core/handles.h"
#include "core/text.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <memory>
#include <regex>
#include <set>

namespace Orv {
namespace {

using Support::EntryOf;
using Support::Exists;
using Support::FilesBelow;
using Support::ReadFileOrEmpty;
using Support::RunPublish;
using Support::RunResult;
using Support::TempFolder;
using Support::Utf8;
using Support::WriteFileBytes;

std::string Repetitive(size_t lines) {
    std::string text;
    for (size_t i = 0; i < lines; ++i) {
        text += "line " + std::to_string(i % 97) + " of the game's log, the same words again and again\n";
    }
    return text;
}

// One publish of a game folder holding the cases that matter, shared by the tests below.
class RoundTrip : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root = std::make_unique<TempFolder>(L"orvpub");
        game = *root / L"oyun klasörü";
        mirror = *root / L"yayın ağı";
        files = {
            {L"data\\a.bin", "the same content in two places"},
            {L"copy\\a kopya.bin", "the same content in two places"},
            {L"empty.txt", ""},
            {L"Türkçe klasör\\ğüşiöç İı ÖÇ.txt", "şarkı söyleyen ığdır"},
            {L"settings.ini", "[video]\nwidth=1024\n"},
            {L"config\\user.ini", "[sound]\nvolume=5\n"},
            {L"big.log", Repetitive(60000)}, // several read chunks, compresses well
            {L"noise.bin", Support::RandomBytes(300000, 7)},
            {L"Orvane.exe", "MZ the launcher the game folder holds"},
            {L"tools\\Orvane.exe", "MZ a program that only shares the name"},
            {L"sub\\.orvane\\not the data folder.txt", "published"},
        };
        for (int i = 0; i < 40; ++i) {
            files[L"many\\file" + std::to_wstring(i) + L".dat"] = "file number " + std::to_string(i % 30);
        }
        for (const auto& [path, bytes] : files) {
            WriteFileBytes(game + L"\\" + path, bytes);
        }
        WriteFileBytes(game + L"\\.orvane\\launcher.log", "the launcher's own data");
        WriteFileBytes(*root / L"build\\Orvane-new.exe", "MZ the launcher to publish");
        result = RunPublish(game, mirror, 41,
                            {L"--keep", L"**/*.INI", L"--launcher", L"build\\Orvane-new.exe", L"--server",
                             L"Anadolu 1", L"--launch", L"Updater.exe"},
                            root->Path());
    }
    static void TearDownTestSuite() { root.reset(); }
    void SetUp() override { ASSERT_EQ(result.exitCode, 0U) << result.output; }

    static inline std::unique_ptr<TempFolder> root;
    static inline std::wstring game;
    static inline std::wstring mirror;
    static inline std::map<std::wstring, std::string> files; // relative path: content
    static inline RunResult result;
};

TEST_F(RoundTrip, VerifyPassesOnTheNewMirror) {
    const RunResult verify = Support::RunOrvanectl({L"verify", mirror});
    EXPECT_EQ(verify.exitCode, 0U) << verify.output;
    EXPECT_NE(verify.output.find("all good"), std::string::npos) << verify.output;
}

TEST_F(RoundTrip, ManifestCarriesTheReleaseKeys) {
    const Manifest manifest = Support::ReadManifest(mirror);
    EXPECT_EQ(manifest.release, 41);
    EXPECT_EQ(manifest.clientVersion, L"7.1.41");
    EXPECT_EQ(manifest.server, L"Anadolu 1");
    EXPECT_EQ(manifest.launch, L"Updater.exe");
    EXPECT_EQ(manifest.launcher, L"1.0.0");
    EXPECT_TRUE(std::regex_match(Utf8(manifest.created), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
        << Utf8(manifest.created);
    EXPECT_EQ(manifest.text.find('\r'), std::string::npos);
}

TEST_F(RoundTrip, EveryFileIsListedExceptTheDataFolderAndTheLauncherIsReplaced) {
    const Manifest manifest = Support::ReadManifest(mirror);
    std::set<std::wstring> listed;
    for (const FileEntry& entry : manifest.files) {
        EXPECT_TRUE(listed.insert(entry.path).second) << Utf8(entry.path);
    }
    std::set<std::wstring> expected;
    for (const auto& [path, bytes] : files) {
        expected.insert(path);
    }
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(EntryOf(manifest, L"Orvane.exe").sha256, Support::Sha256Hex("MZ the launcher to publish"));
}

TEST_F(RoundTrip, EveryObjectHoldsItsFile) {
    const Manifest manifest = Support::ReadManifest(mirror);
    for (const FileEntry& entry : manifest.files) {
        SCOPED_TRACE(Utf8(entry.path));
        const std::string source =
            entry.path == L"Orvane.exe" ? "MZ the launcher to publish" : files.at(entry.path);
        const std::string object = ReadFileOrEmpty(Support::ObjectPath(mirror, entry));
        EXPECT_EQ(entry.size, source.size());
        EXPECT_EQ(entry.sha256, Support::Sha256Hex(source));
        EXPECT_EQ(entry.zsize, object.size());
        EXPECT_EQ(entry.compressed ? Support::Inflate(object) : object, source);
    }
}

TEST_F(RoundTrip, CompressibleFileIsStoredCompressedAndRandomBytesAsTheyAre) {
    const Manifest manifest = Support::ReadManifest(mirror);
    const FileEntry& log = EntryOf(manifest, L"big.log");
    EXPECT_TRUE(log.compressed);
    EXPECT_LT(log.zsize * 10, log.size);
    const FileEntry& noise = EntryOf(manifest, L"noise.bin");
    EXPECT_FALSE(noise.compressed);
    EXPECT_EQ(noise.zsize, noise.size);
    const FileEntry& empty = EntryOf(manifest, L"empty.txt");
    EXPECT_FALSE(empty.compressed);
    EXPECT_EQ(empty.zsize, 0U);
}

TEST_F(RoundTrip, DuplicatesShareOneObjectAndTheMirrorHoldsNothingElse) {
    const Manifest manifest = Support::ReadManifest(mirror);
    EXPECT_EQ(EntryOf(manifest, L"data\\a.bin").sha256, EntryOf(manifest, L"copy\\a kopya.bin").sha256);
    std::set<std::wstring> objects;
    for (const FileEntry& entry : manifest.files) {
        objects.insert(Support::ObjectPath(mirror, entry).substr(mirror.size() + 1));
    }
    const size_t contents = objects.size();
    // Besides the objects, the packs and the index that the manifest names.
    const std::string index = manifest.packIndex ? manifest.packIndex->sha256 : "";
    objects.insert(Support::PackPath(mirror, index, L".index").substr(mirror.size() + 1));
    for (const PackFile& pack : Support::ReadPackIndexOf(mirror).packs) {
        objects.insert(Support::PackPath(mirror, pack.sha256, L".pack").substr(mirror.size() + 1));
    }
    std::vector<std::wstring> expected{L"manifest.txt"};
    for (std::wstring object : objects) {
        std::replace(object.begin(), object.end(), L'\\', L'/');
        expected.push_back(object);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesBelow(mirror), expected); // one object per content, no temporary files left
    EXPECT_LT(contents, manifest.files.size() - 10);
}

TEST_F(RoundTrip, KindsMarkTheLauncherAndTheKeptFiles) {
    const Manifest manifest = Support::ReadManifest(mirror);
    for (const FileEntry& entry : manifest.files) {
        char expected = '-';
        if (entry.path == L"Orvane.exe") {
            expected = 's';
        } else if (entry.path.ends_with(L".ini")) {
            expected = 'k';
        }
        EXPECT_EQ(entry.kind, expected) << Utf8(entry.path);
    }
}

TEST_F(RoundTrip, RowsAreInTheOrderOfTheirUtf8PathBytes) {
    const std::string text = ReadFileOrEmpty(mirror + L"\\manifest.txt");
    std::vector<std::string> paths;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "the last line has no line end";
        const std::string line = text.substr(start, end - start);
        if (line.starts_with("f\t")) {
            paths.push_back(line.substr(line.rfind('\t') + 1));
        }
        start = end + 1;
    }
    ASSERT_EQ(paths.size(), files.size());
    EXPECT_TRUE(std::is_sorted(paths.begin(), paths.end()));
    EXPECT_NE(std::find(paths.begin(), paths.end(), Utf8(L"Türkçe klasör/ğüşiöç İı ÖÇ.txt")), paths.end());
}

TEST_F(RoundTrip, OutputNamesTheMirrorInUtf8AndSumsUp) {
    EXPECT_NE(result.output.find(Utf8(mirror)), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("published release 41"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find(std::to_string(files.size()) + " files"), std::string::npos)
        << result.output;
}

TEST(Publish, WithoutLauncherOptionTheTopLevelOrvaneExeIsTheLauncher) {
    TempFolder root;
    WriteFileBytes(root / L"game\\orvane.EXE", "MZ 1");
    WriteFileBytes(root / L"game\\bin\\Orvane.exe", "MZ 2");
    const RunResult run = RunPublish(root / L"game", root / L"mirror", 1, {L"--keep", L"saves/**"});
    ASSERT_EQ(run.exitCode, 0U) << run.output;
    EXPECT_NE(run.output.find("--keep \"saves/**\" matches no file"), std::string::npos) << run.output;
    const Manifest manifest = Support::ReadManifest(root / L"mirror");
    EXPECT_EQ(EntryOf(manifest, L"orvane.EXE").kind, 's');
    EXPECT_EQ(EntryOf(manifest, L"bin\\Orvane.exe").kind, '-');
    EXPECT_TRUE(manifest.server.empty());
    EXPECT_TRUE(manifest.launch.empty());
}

TEST(Publish, MirrorInsideTheGameFolderIsNotPublished) {
    TempFolder game;
    WriteFileBytes(game / L"Engine.exe", "MZ engine");
    for (int release = 1; release <= 2; ++release) {
        const RunResult run = RunPublish(game.Path(), game / L"out\\mirror", release);
        ASSERT_EQ(run.exitCode, 0U) << run.output;
    }
    const Manifest manifest = Support::ReadManifest(game / L"out\\mirror");
    ASSERT_EQ(manifest.files.size(), 1U);
    EXPECT_EQ(manifest.files[0].path, L"Engine.exe");
}

TEST(Publish, PathTheLauncherWouldRefuseEndsThePublish) {
    TempFolder root;
    WriteFileBytes(root / L"game\\notes..txt", "x");
    const RunResult run = RunPublish(root / L"game", root / L"mirror", 1);
    EXPECT_EQ(run.exitCode, 1U);
    EXPECT_NE(run.output.find("notes..txt"), std::string::npos) << run.output;
    EXPECT_FALSE(Exists(root / L"mirror\\manifest.txt"));
}

TEST(Publish, AReleasePathOfMoreThan200CharactersIsPublishedWithAWarning) {
    TempFolder root;
    const std::wstring deep = std::wstring(100, L'd') + L"\\" + std::wstring(104, L'f') + L".txt";
    WriteFileBytes(root / (L"game\\" + deep), "far down");
    const RunResult run = RunPublish(root / L"game", root / L"mirror", 1);
    EXPECT_EQ(run.exitCode, 0U) << run.output;
    EXPECT_NE(
        run.output.find("warning: \"" + std::string(100, 'd') + "/" + std::string(104, 'f') +
                        ".txt\" is 209 characters long; in a game folder of more than 49 characters the "
                        "game itself may not open it"),
        std::string::npos)
        << run.output;
}

TEST(Publish, MissingGameFolderEmptyGameFolderOrMissingLauncherFails) {
    TempFolder root;
    RunResult run = RunPublish(root / L"nothing here", root / L"mirror", 1);
    EXPECT_EQ(run.exitCode, 1U) << run.output;
    EXPECT_NE(run.output.find("nothing here"), std::string::npos) << run.output;
    Support::MakeDirectories(root / L"empty game\\.orvane");
    run = RunPublish(root / L"empty game", root / L"mirror", 1);
    EXPECT_EQ(run.exitCode, 1U) << run.output;
    WriteFileBytes(root / L"game\\a.txt", "a");
    run = RunPublish(root / L"game", root / L"mirror", 1, {L"--launcher", root / L"no launcher.exe"});
    EXPECT_EQ(run.exitCode, 1U) << run.output;
    EXPECT_NE(run.output.find("no launcher.exe"), std::string::npos) << run.output;
    EXPECT_FALSE(Exists(root / L"mirror\\manifest.txt"));
}

// A file held open by another program without sharing it for reading.
FileHandle HoldWithoutSharing(const std::wstring& path) {
    return FileHandle(
        ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST(Publish, UnreadableFileEndsThePublishNamingItAndTheReasonWithoutAManifest) {
    TempFolder root;
    const std::wstring game = root / L"game";
    WriteFileBytes(game + L"\\a.txt", "fine");
    WriteFileBytes(game + L"\\sub\\kilitli dosya.dat", "held by another program");
    const FileHandle held = HoldWithoutSharing(game + L"\\sub\\kilitli dosya.dat");
    ASSERT_TRUE(held.Valid());
    const RunResult run = RunPublish(game, root / L"mirror", 1);
    EXPECT_EQ(run.exitCode, 1U) << run.output;
    EXPECT_NE(run.output.find(Utf8(game + L"\\sub\\kilitli dosya.dat")), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(Utf8(ErrorText(ERROR_SHARING_VIOLATION))), std::string::npos) << run.output;
    EXPECT_FALSE(Exists(root / L"mirror\\manifest.txt"));
}

TEST(Publish, UnreadableFileLeavesThePreviousManifestAsItWas) {
    TempFolder root;
    const std::wstring game = root / L"game";
    WriteFileBytes(game + L"\\a.txt", "fine");
    ASSERT_EQ(RunPublish(game, root / L"mirror", 1).exitCode, 0U);
    const std::string before = ReadFileOrEmpty(root / L"mirror\\manifest.txt");
    WriteFileBytes(game + L"\\b.txt", "new, and held");
    const FileHandle held = HoldWithoutSharing(game + L"\\b.txt");
    ASSERT_TRUE(held.Valid());
    const RunResult run = RunPublish(game, root / L"mirror", 2);
    EXPECT_EQ(run.exitCode, 1U) << run.output;
    EXPECT_EQ(ReadFileOrEmpty(root / L"mirror\\manifest.txt"), before);
}

} // namespace
} // namespace Orv
