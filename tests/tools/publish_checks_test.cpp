// What publish checks before it writes: the client version the release's own version file holds, the
// mirror root, and every name of the game folder.
#include "support/mirror_env.h"
#include "support/mirror_helpers.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

namespace Orv {
namespace {

using Support::ReadFileOrEmpty;
using Support::RunOrvanectl;
using Support::RunResult;
using Support::TempFolder;
using Support::Utf8;
using Support::WriteFileBytes;

RunResult PublishAs(const std::wstring& game, const std::wstring& mirror, std::vector<std::wstring> extra) {
    std::vector<std::wstring> args{L"publish", game, mirror, L"--release", L"1"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunOrvanectl(args);
}

TEST(ClientVersion, AVersionFileThatDisagreesIsRefusedAndAgreeingOneIsUpToDateOnTheSecondUpdate) {
    ASSERT_FALSE(Support::MirrorRoot().empty());
    TempFolder source;
    TempFolder game;
    WriteFileBytes(source / L"VersionInfo.ver", "Region EU\r\nClientVersion 3.2.1\r\n");
    WriteFileBytes(source / L"Engine.exe", Support::RandomBytes(30000, 3));
    const std::wstring mirror = Support::MirrorRoot() + L"\\cli_version";

    const RunResult refused = PublishAs(source.Path(), mirror, {L"--client-version", L"3.2.2"});
    EXPECT_EQ(refused.exitCode, 1U);
    EXPECT_NE(refused.output.find("says ClientVersion \"3.2.1\", but --client-version is \"3.2.2\""),
              std::string::npos)
        << refused.output;
    EXPECT_FALSE(Support::Exists(mirror));

    const RunResult taken = PublishAs(source.Path(), mirror, {});
    ASSERT_EQ(taken.exitCode, 0U) << taken.output;
    EXPECT_EQ(Support::ReadManifest(mirror).clientVersion, L"3.2.1");
    WriteFileBytes(game / L".orvane\\mirrors.txt", Utf8(Support::HttpBase()) + "cli_version/\n");
    const RunResult first = RunOrvanectl({L"update", game.Path()});
    ASSERT_EQ(first.exitCode, 0U) << first.output;
    const uint64_t fetched = Support::NginxObjectBytes("cli_version");
    const RunResult second = RunOrvanectl({L"update", game.Path()});
    EXPECT_EQ(second.exitCode, 0U) << second.output;
    EXPECT_NE(second.output.find("The game is up to date. Have fun!"), std::string::npos) << second.output;
    EXPECT_EQ(Support::NginxObjectBytes("cli_version"), fetched);
    EXPECT_EQ(ReadFileOrEmpty(game / L"VersionInfo.ver"), ReadFileOrEmpty(source / L"VersionInfo.ver"));
}

TEST(ClientVersion, WithoutTheOptionAndWithoutAVersionFileNothingIsWritten) {
    TempFolder root;
    WriteFileBytes(root / L"game\\a.txt", "a");
    const RunResult run = PublishAs(root / L"game", root / L"mirror", {});
    EXPECT_EQ(run.exitCode, 1U);
    EXPECT_NE(run.output.find("publish needs --client-version"), std::string::npos) << run.output;
    EXPECT_FALSE(Support::Exists(root / L"mirror"));
}

TEST(MirrorRoot, AFileOrAFolderThatCannotBeMadeIsFoundBeforeAnyGameFileIsRead) {
    TempFolder root;
    WriteFileBytes(root / L"game\\a.txt", "a");
    WriteFileBytes(root / L"taken", "a file");
    const RunResult file = PublishAs(root / L"game", root / L"taken", {L"--client-version", L"1"});
    EXPECT_EQ(file.exitCode, 1U);
    EXPECT_NE(file.output.find("publish failed: The mirror root \"" + Utf8(root / L"taken") +
                               "\" is a file, not a folder"),
              std::string::npos)
        << file.output;
    EXPECT_EQ(file.output.find("hashed"), std::string::npos) << file.output;
    const RunResult below = PublishAs(root / L"game", root / L"taken\\mirror", {L"--client-version", L"1"});
    EXPECT_EQ(below.exitCode, 1U);
    EXPECT_NE(below.output.find("cannot be made: \"" + Utf8(root / L"taken") + "\" is a file"),
              std::string::npos)
        << below.output;
    // A read-only file system refuses even the root user that tests run as.
    const std::wstring readOnly = Support::ReadOnlyDisk();
    if (!readOnly.empty()) {
        const RunResult denied =
            PublishAs(root / L"game", readOnly + L"\\mirror", {L"--client-version", L"1"});
        EXPECT_EQ(denied.exitCode, 1U);
        EXPECT_NE(denied.output.find("cannot be written to: "), std::string::npos) << denied.output;
        EXPECT_EQ(denied.output.find("hashed"), std::string::npos) << denied.output;
    }
}

TEST(ReleaseNames, EveryNameThatCannotBePublishedIsListedInOneRun) {
    TempFolder root;
    WriteFileBytes(root / L"game\\good.txt", "fine");
    WriteFileBytes(root / L"game\\notes..txt", "x");
    WriteFileBytes(root / L"game\\data\\v..2.dat", "x");
    WriteFileBytes(root / L"game\\old..x\\map.dat", "x");
    const RunResult run = PublishAs(root / L"game", root / L"mirror", {L"--client-version", L"1"});
    EXPECT_EQ(run.exitCode, 1U);
    for (const wchar_t* name : {L"notes..txt", L"data\\v..2.dat", L"old..x\\map.dat"}) {
        EXPECT_NE(run.output.find("\"" + Utf8(root / L"game\\" + name) + "\" cannot be published: "),
                  std::string::npos)
            << Utf8(name) << "\n"
            << run.output;
    }
    EXPECT_NE(run.output.find("publish failed: 3 names of the game folder cannot be published as named"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("good.txt"), std::string::npos) << run.output;
    EXPECT_FALSE(Support::Exists(root / L"mirror"));
}

TEST(Notes, TheKeyNamesTheFileOfTheReleaseAndABadFileIsRefused) {
    TempFolder root;
    WriteFileBytes(root / L"game\\News\\Patch.txt", "\xEF\xBB\xBFYeni harita\r\n");
    WriteFileBytes(root / L"game\\long.txt", std::string(65537, 'a'));
    WriteFileBytes(root / L"game\\latin1.txt", "d\xFCzeltmeler\n");
    const std::pair<const wchar_t*, const char*> refused[]{
        {L"long.txt", "(longer than 64 KiB)"},
        {L"latin1.txt", "(not UTF-8 text)"},
        {L"gone.txt", "names no file of the release"},
    };
    for (const auto& [file, why] : refused) {
        const RunResult run =
            PublishAs(root / L"game", root / L"mirror", {L"--client-version", L"1", L"--notes", file});
        EXPECT_EQ(run.exitCode, 1U);
        EXPECT_NE(run.output.find(why), std::string::npos) << run.output;
        EXPECT_FALSE(Support::Exists(root / L"mirror"));
    }
    const RunResult run = PublishAs(root / L"game", root / L"mirror",
                                    {L"--client-version", L"1", L"--notes", L"news\\patch.TXT"});
    ASSERT_EQ(run.exitCode, 0U) << run.output;
    EXPECT_EQ(Support::ReadManifest(root / L"mirror").notes, L"News/Patch.txt");
}

} // namespace
} // namespace Orv
