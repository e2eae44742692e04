// A real program replacing itself while it runs, restarted with "--updated" (orvprobe.exe).
#include "core/text.h"
#include "support/object_fixture.h"
#include "support/mirror_env.h"
#include "support/process.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

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
        return RunFrom(Support::HttpBase() + mirrorFolder + L"/", passArgs);
    }
    // The mirrors' base URLs are separated by "|".
    std::string RunFrom(const std::wstring& mirrors, const std::wstring& passArgs = {}) {
        ::SetEnvironmentVariableW(L"ORV_PROBE_OUT", (folder / L"probe").c_str());
        Support::ChildProcess p =
            Support::StartProcess(exe, L"run " + mirrors + L" " + passArgs, folder.Path());
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

class EndlessLauncherMirror : public SelfUpdating, public ::testing::WithParamInterface<const char*> {};

TEST_P(EndlessLauncherMirror, AnAnswerThatDoesNotEndIsCutAtTheObjectsSizeAndTheNextMirrorServes) {
    const std::string next = original + "appended release bytes";
    const std::wstring mirror = L"su_endless_" + std::to_wstring(::GetTickCount64());
    PublishLauncher(mirror, next);
    FileEntry launcher = Support::PublishObject(mirror, L"Orvane.exe", next, true);
    const std::string object =
        "/" + Narrow(mirror) + "/objects/" + launcher.sha256.substr(0, 2) + "/" + launcher.sha256 + ".z";
    Support::SetFaultRules("{\"" + object + "\": " + GetParam() + "}");
    const std::wstring part = folder / (L".orvane\\download\\" + Utf8ToWide(launcher.sha256) + L".z.part");
    {
        const Support::LargestFileWatch watch({part, exe + L".new"});
        EXPECT_EQ(RunFrom(Support::FaultBase() + mirror + L"/|" + Support::HttpBase() + mirror + L"/"),
                  "restarted phase 8");
        EXPECT_LE(watch.Largest(), std::max<uint64_t>(launcher.zsize, next.size()));
    }
    EXPECT_EQ(ReadFileOrEmpty(exe), next);
    EXPECT_NE(LogText().find("failed (attempt 1): longer than the object's"), std::string::npos) << LogText();
    Support::WaitUntil([&] { return Exists(folder / L"probe.successor"); }, 60s);
}

INSTANTIATE_TEST_SUITE_P(Bodies, EndlessLauncherMirror,
                         ::testing::Values(R"({"endless": true, "no_length": true})",
                                           R"({"endless": true, "length": 8589934592})"));

} // namespace
} // namespace Orv
