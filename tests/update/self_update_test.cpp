// A real program replacing itself while it runs, restarted with "--updated" (orvprobe.exe).
#include "core/text.h"
#include "support/object_fixture.h"
#include "support/mirror_env.h"
#include "support/process.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::Exists;
using Support::ReadFileOrEmpty;

class SelfUpdating : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Support::MirrorRoot().empty());
        original = ReadFileOrEmpty(Support::BinaryFolder() + L"\\orvprobe.exe");
        ASSERT_FALSE(original.empty());
        Support::WriteFileBytes(exe, original);
    }

    // Publishes a release whose launcher entry holds these bytes, under the mirror folder.
    void PublishLauncher(const std::wstring& mirrorFolder, const std::string& bytes) {
        FileEntry launcher = Support::PublishObject(mirrorFolder, L"Orvane.exe", bytes, true);
        launcher.kind = 's';
        const FileEntry data = Support::PublishObject(mirrorFolder, L"data.bin", "data", false);
        Support::WriteManifest(mirrorFolder, {data, launcher}, "release\t3\n");
    }

    std::string Run(const std::wstring& mirrorFolder, const std::wstring& passArgs = {}) {
        ::SetEnvironmentVariableW(L"ORV_PROBE_OUT", (folder / L"probe").c_str());
        Support::ChildProcess p = Support::StartProcess(
            exe, L"run " + Support::HttpBase() + mirrorFolder + L"/ " + passArgs, folder.Path());
        ::SetEnvironmentVariableW(L"ORV_PROBE_OUT", nullptr);
        EXPECT_EQ(p.WaitExit(60s), 0U);
        return ReadFileOrEmpty(folder / L"probe.first");
    }
    std::string LogText() { return ReadFileOrEmpty(folder / L".orvane\\launcher.log"); }
    static std::string Narrow(const std::wstring& text) { return WideToUtf8(text); }

    Support::TempFolder folder;
    std::wstring exe = folder / L"Probe.exe";
    std::string original;
};

TEST_F(SelfUpdating, NewerLauncherReplacesTheRunningOneAndStartsItWithUpdated) {
    const std::string next = original + "appended release bytes";
    PublishLauncher(L"su_replace", next);
    EXPECT_EQ(Run(L"su_replace", L"--auto"), "restarted phase 8");
    ASSERT_TRUE(Support::WaitUntil([&] { return Exists(folder / L"probe.successor"); }, 60s));
    EXPECT_EQ(ReadFileOrEmpty(folder / L"probe.successor"), "\"" + Narrow(exe) + "\" --updated --auto");
    EXPECT_EQ(ReadFileOrEmpty(exe), next);
    EXPECT_EQ(ReadFileOrEmpty(exe + L".old"), original);
    EXPECT_FALSE(Exists(exe + L".new"));
    EXPECT_NE(LogText().find(" Updating the launcher...\r\n"), std::string::npos);
    EXPECT_NE(LogText().find(" self-update: restarting " + Narrow(exe) + "\r\n"), std::string::npos);
}

TEST_F(SelfUpdating, WithoutPassedArgumentsTheSuccessorStillGetsTheSpace) {
    PublishLauncher(L"su_plain", original + "x");
    EXPECT_EQ(Run(L"su_plain"), "restarted phase 8");
    ASSERT_TRUE(Support::WaitUntil([&] { return Exists(folder / L"probe.successor"); }, 60s));
    EXPECT_EQ(ReadFileOrEmpty(folder / L"probe.successor"), "\"" + Narrow(exe) + "\" --updated ");
}

TEST_F(SelfUpdating, CurrentLauncherIsKept) {
    PublishLauncher(L"su_same", original);
    EXPECT_EQ(Run(L"su_same"), "kept phase 0");
    EXPECT_EQ(ReadFileOrEmpty(exe), original);
    EXPECT_EQ(LogText().find("self-update"), std::string::npos);
}

TEST_F(SelfUpdating, ReleaseWithoutALauncherEntryChangesNothing) {
    const FileEntry data = Support::PublishObject(L"su_none", L"data.bin", "data", false);
    Support::WriteManifest(L"su_none", {data});
    EXPECT_EQ(Run(L"su_none"), "kept phase 0");
    EXPECT_FALSE(Exists(exe + L".new"));
    EXPECT_FALSE(Exists(exe + L".old"));
}

TEST_F(SelfUpdating, SuccessorThatCannotStartIsRolledBack) {
    // Verified bytes that are no program: the swap succeeds, the start fails.
    const std::string notAProgram = Support::SampleBytes(5000, 77);
    PublishLauncher(L"su_broken", notAProgram);
    EXPECT_EQ(Run(L"su_broken"), "kept phase 2");
    EXPECT_EQ(ReadFileOrEmpty(exe), original);
    EXPECT_EQ(ReadFileOrEmpty(exe + L".new"), notAProgram);
    EXPECT_FALSE(Exists(exe + L".old"));
    EXPECT_NE(LogText().find(" CreateProcess " + Narrow(exe) + ": "), std::string::npos);
    EXPECT_FALSE(Exists(folder / L"probe.successor"));
}

} // namespace
} // namespace Orv
