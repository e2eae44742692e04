// orvanectl's command line: what it accepts, and the exit codes of what it does not.
#include "support/mirror_helpers.h"
#include "core/build_settings.h"
#include "orvanectl/command.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

namespace Orv {
namespace {

using Publisher::CommandKind;
using Publisher::ParseCommand;
using Support::RunOrvanectl;
using Support::RunResult;
using Support::TempFolder;

TEST(CommandLine, PublishTakesOptionsInEitherFormAndRepeatedKeeps) {
    const auto parsed = ParseCommand({L"publish", L"C:\\game", L"D:\\mirror", L"--release=12",
                                      L"--CLIENT-VERSION", L"3.0-beta", L"--keep", L"*.ini",
                                      L"--keep=saves/**", L"--launcher", L"out\\Orvane.exe"});
    ASSERT_TRUE(parsed.ok()) << Support::Utf8(parsed.message);
    const auto& request = parsed.value->publish;
    EXPECT_EQ(parsed.value->kind, CommandKind::Publish);
    EXPECT_EQ(request.gameFolder, L"C:\\game");
    EXPECT_EQ(request.mirrorRoot, L"D:\\mirror");
    EXPECT_EQ(request.release, 12);
    EXPECT_EQ(request.clientVersion, L"3.0-beta");
    EXPECT_EQ(request.keep, (std::vector<std::wstring>{L"*.ini", L"saves/**"}));
    EXPECT_EQ(request.launcherFile, L"out\\Orvane.exe");
    EXPECT_TRUE(request.server.empty());
}

TEST(CommandLine, NoPacksIsASwitchWithoutAValue) {
    const std::vector<std::wstring> publish{L"publish",          L"g", L"m", L"--release", L"1",
                                            L"--client-version", L"1"};
    EXPECT_TRUE(ParseCommand(publish).value->publish.packs);
    auto args = publish;
    args.push_back(L"--No-Packs");
    EXPECT_FALSE(ParseCommand(args).value->publish.packs);
    args.back() = L"--no-packs=1";
    EXPECT_EQ(ParseCommand(args).message, L"--no-packs takes no value");
}

TEST(CommandLine, DoubleDashEndsTheOptions) {
    const auto parsed = ParseCommand({L"verify", L"--", L"-mirror"});
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed.value->mirrorRoot, L"-mirror");
}

TEST(CommandLine, ValuesThatWouldBreakAManifestLineAreRefused) {
    EXPECT_FALSE(
        ParseCommand({L"publish", L"g", L"m", L"--release", L"1", L"--client-version", L"1\t2"}).ok());
    // The game reads its version up to the first space.
    const auto spaced =
        ParseCommand({L"publish", L"g", L"m", L"--release", L"1", L"--client-version", L"4.2 beta"});
    EXPECT_EQ(spaced.message,
              L"--client-version cannot hold a space: the game reads its version only up to the first one");
    EXPECT_FALSE(ParseCommand({L"publish", L"g", L"m", L"--release", L"1", L"--client-version", L"1",
                               L"--server", L"a\nb"})
                     .ok());
}

TEST(CommandLine, ReleaseIsAWholeNumberWithinTheManifestsRange) {
    for (const wchar_t* good : {L"0", L"2147483647"}) {
        EXPECT_TRUE(
            ParseCommand({L"publish", L"g", L"m", L"--release", good, L"--client-version", L"1"}).ok());
    }
    for (const wchar_t* bad : {L"", L"-1", L"+1", L"1.5", L"12x", L"2147483648", L"99999999999"}) {
        EXPECT_FALSE(
            ParseCommand({L"publish", L"g", L"m", L"--release", bad, L"--client-version", L"1"}).ok())
            << Support::Utf8(bad);
    }
}

TEST(Program, BadUsageExitsWith2AndTouchesNothing) {
    TempFolder root;
    const std::wstring game = root / L"game";
    const std::wstring mirror = root / L"mirror";
    Support::WriteFileBytes(game + L"\\a.txt", "a");
    const std::vector<std::vector<std::wstring>> cases{
        {},
        {L"frobnicate"},
        {L"publish"},
        {L"publish", game},
        {L"publish", game, mirror, L"--client-version", L"1"},
        {L"publish", game, mirror, L"--release", L"one", L"--client-version", L"1"},
        {L"publish", game, mirror, L"--release", L"1", L"--client-version", L"1", L"--bogus", L"x"},
        {L"publish", game, mirror, L"--release", L"1", L"--client-version", L"1", L"--keep"},
        {L"publish", game, mirror, L"--release", L"1", L"--release", L"2", L"--client-version", L"1"},
        {L"publish", game, mirror, L"extra", L"--release", L"1", L"--client-version", L"1"},
        {L"verify"},
        {L"verify", mirror, L"extra"},
        {L"verify", mirror, L"--release", L"1"},
        {L"verify", mirror, L"--key", L"c2hvcnQ="},
        {L"publish", game, mirror, L"--release", L"1", L"--client-version", L"1", L"--valid-days", L"9"},
        {L"publish", game, mirror, L"--release", L"1", L"--client-version", L"1", L"--sign", L"k",
         L"--valid-days", L"0"},
        {L"keygen"},
        {L"keygen", root / L"a.key", root / L"b.key"},
        {L"sign", mirror},
        {L"publish", game, mirror, L"--release", L"1", L"--json"},
        {L"--version", L"publish"},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& arg : args) {
            shown += Support::Utf8(arg) + " ";
        }
        const RunResult run = RunOrvanectl(args);
        EXPECT_EQ(run.exitCode, 2U) << shown << "\n" << run.output;
        EXPECT_NE(run.output.find("--help"), std::string::npos) << shown << "\n" << run.output;
    }
    EXPECT_FALSE(Support::Exists(mirror));
}

TEST(Program, HelpExitsWith0AndShowsBothCommands) {
    for (const wchar_t* help : {L"--help", L"-h", L"help"}) {
        const RunResult run = RunOrvanectl({help});
        EXPECT_EQ(run.exitCode, 0U) << run.output;
        EXPECT_NE(
            run.output.find("orvanectl publish <game-folder> <mirror-root> --release N [--client-version V]"),
            std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find("orvanectl verify <mirror-root>"), std::string::npos) << run.output;
    }
    EXPECT_EQ(RunOrvanectl({L"publish", L"--help"}).exitCode, 0U);
}

TEST(Program, ACommandsHelpIsItsOwnAndVersionNamesTheProgram) {
    for (const std::vector<std::wstring>& args : std::vector<std::vector<std::wstring>>{
             {L"verify", L"--help"}, {L"help", L"verify"}, {L"verify", L"-h"}}) {
        const RunResult run = RunOrvanectl(args);
        EXPECT_EQ(run.exitCode, 0U) << run.output;
        EXPECT_EQ(run.output.find("usage:\r\n  orvanectl verify <mirror-root>"), 0U) << run.output;
        EXPECT_EQ(run.output.find("orvanectl publish"), std::string::npos) << run.output;
    }
    for (const wchar_t* version : {L"--version", L"-V"}) {
        const RunResult run = RunOrvanectl({version});
        EXPECT_EQ(run.exitCode, 0U);
        EXPECT_EQ(run.output, "orvanectl " + Support::Utf8(BuildSettings::kVersion) + "\r\n");
    }
}

TEST(CommandLine, QuietAndJsonAreReadByEveryCommandThatTakesThem) {
    const auto update = ParseCommand({L"update", L"-q", L"g", L"--JSON"});
    ASSERT_TRUE(update.ok()) << Support::Utf8(update.message);
    EXPECT_TRUE(update.value->common.quiet);
    EXPECT_TRUE(update.value->common.json);
    EXPECT_EQ(update.value->gameFolder, L"g");
    EXPECT_TRUE(ParseCommand({L"keygen", L"k", L"--quiet"}).value->common.quiet);
    EXPECT_EQ(ParseCommand({L"sign", L"m", L"k", L"--json"}).message, L"sign has no --json output");
    const auto publish = ParseCommand({L"publish", L"g", L"m", L"--release", L"3", L"--force"});
    ASSERT_TRUE(publish.ok()) << Support::Utf8(publish.message);
    EXPECT_TRUE(publish.value->publish.force);
    EXPECT_TRUE(publish.value->publish.clientVersion.empty());
}

} // namespace
} // namespace Orv
