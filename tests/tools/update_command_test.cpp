// orvanectl update: the same engine as the launcher, without a window.
#include "support/mirror_env.h"
#include "support/mirror_helpers.h"
#include "support/object_fixture.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

namespace Orv {
namespace {

using Support::ReadFileOrEmpty;
using Support::RunOrvanectl;
using Support::WriteFileBytes;

class UpdateCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(Support::MirrorRoot().empty()); }
    void Publish(const std::wstring& name) {
        WriteFileBytes(source / L"Engine.exe", Support::SampleBytes(70000, 5));
        WriteFileBytes(source / L"data\\a.dat", Support::SampleBytes(90000, 6, true));
        const auto published = Support::RunPublish(source.Path(), Support::MirrorRoot() + L"\\" + name, 1);
        ASSERT_EQ(published.exitCode, 0U) << published.output;
    }
    Support::TempFolder source;
    Support::TempFolder game;
};

TEST_F(UpdateCommand, BringsAFolderUpToDateAndRepairsIt) {
    Publish(L"cli_update");
    WriteFileBytes(game / L".orvane\\mirrors.txt", Support::Utf8(Support::HttpBase()) + "cli_update/\n");
    const auto first = RunOrvanectl({L"update", game.Path()});
    EXPECT_EQ(first.exitCode, 0U) << first.output;
    // A short phase may pass between two polls; the run's start and end are always printed.
    EXPECT_NE(first.output.find("phase: "), std::string::npos) << first.output;
    EXPECT_NE(first.output.find("phase: done"), std::string::npos) << first.output;
    EXPECT_NE(first.output.find("Update complete. Have fun!"), std::string::npos);
    EXPECT_EQ(ReadFileOrEmpty(game / L"data\\a.dat"), ReadFileOrEmpty(source / L"data\\a.dat"));

    const auto repair = RunOrvanectl({L"update", game.Path(), L"--repair"});
    EXPECT_EQ(repair.exitCode, 0U) << repair.output;
    EXPECT_NE(repair.output.find("The game is up to date. Have fun!"), std::string::npos) << repair.output;
    const std::string log = ReadFileOrEmpty(game / L".orvane\\launcher.log");
    EXPECT_NE(log.find(" Verifying all files (repair)...\r\n"), std::string::npos);
}

TEST_F(UpdateCommand, UnreachableMirrorExitsWithOneAndTheReason) {
    WriteFileBytes(game / L".orvane\\mirrors.txt", "http://127.0.0.1:9/\n");
    const auto result = RunOrvanectl({L"update", game.Path()});
    EXPECT_EQ(result.exitCode, 1U);
    EXPECT_NE(result.output.find("Cannot reach the update server."), std::string::npos) << result.output;
}

TEST_F(UpdateCommand, MissingFolderAndBadUsage) {
    EXPECT_EQ(RunOrvanectl({L"update", game / L"missing"}).exitCode, 1U);
    EXPECT_EQ(RunOrvanectl({L"update"}).exitCode, 2U);
    EXPECT_EQ(RunOrvanectl({L"update", game.Path(), L"--bogus"}).exitCode, 2U);
    EXPECT_EQ(RunOrvanectl({L"update", game.Path(), L"other"}).exitCode, 2U);
}

} // namespace
} // namespace Orv
