// The launcher window through whole update runs: what it shows, its buttons, closing, --auto.
#include "launcher_window.h"

#include "core/text.h"
#include "partners/game_client.h"
#include "support/mirror_helpers.h"
#include "ui/ui_state.h"

#include <gtest/gtest.h>

#include <regex>
#include <utility>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::WindowView;

constexpr const char* kDoneText = "Update complete. Have fun!";

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string Narrow(const std::wstring& text) {
    return WideToUtf8(text);
}

bool SameMoment(const WindowView& a, const WindowView& b) {
    return a.status == b.status && a.detail == b.detail && a.rows == b.rows &&
           a.rowBarsShown == b.rowBarsShown && a.play == b.play && a.playEnabled == b.playEnabled &&
           a.repairEnabled == b.repairEnabled;
}

class LauncherRun : public Support::LauncherWindow {
protected:
    // Every distinct view until the run has ended well.
    std::vector<WindowView> WatchRun(HWND window) {
        std::vector<WindowView> views;
        WaitForView(
            window,
            [&](const WindowView& v) {
                // The controls are read one after the other: keep only views that a second read
                // confirms, so no view mixes two moments of the run.
                if (!SameMoment(v, Look(window))) {
                    return false;
                }
                if (views.empty() || v.status != views.back().status || v.detail != views.back().detail ||
                    v.rows != views.back().rows || v.playEnabled != views.back().playEnabled) {
                    views.push_back(v);
                }
                return v.playEnabled && v.play == L"PLAY";
            },
            Support::kRunLimit);
        return views;
    }
};

TEST_F(LauncherRun, ShowsTheRunAsItHappensAndEndsWithPlayEnabled) {
    AddDataFiles(6, 1500000, 300000);
    Publish(3);
    UseSlowMirror();
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    const std::vector<WindowView> views = WatchRun(window);
    ASSERT_FALSE(views.empty());

    // The status line passes through the run's steps in order.
    std::vector<std::wstring> statuses;
    for (const WindowView& v : views) {
        if (statuses.empty() || statuses.back() != v.status) {
            statuses.push_back(v.status);
        }
    }
    const auto at = [&](const std::wstring& prefix) {
        return std::find_if(statuses.begin(), statuses.end(),
                            [&](const std::wstring& s) { return StartsWith(s, prefix); }) -
               statuses.begin();
    };
    const auto downloading = at(L"Downloading: ");
    ASSERT_LT(downloading, static_cast<long>(statuses.size())) << "no download seen";
    EXPECT_LT(downloading, at(Utf8ToWide(kDoneText)));
    EXPECT_EQ(statuses.back(), Utf8ToWide(kDoneText));

    const std::wregex downloadDetail(LR"(\d+(\.\d+)? (B|KB|MB) / \d+(\.\d+)? MB  ·  \d+(\.\d+)? (B|KB|MB)/s)"
                                     LR"(( · left ~(\d+ s|\d+ min|\d+ h \d+ min))?  ·  \d+ / \d+ files)");
    const std::wregex checkDetail(LR"(\d+ / \d+ files)");
    const std::wregex row(LR"(data\\extra\\part(\d)\.bin  \((\d+\.\d) MB, %(\d+)\))");
    bool detailSeen = false;
    bool rowsSeen = false;
    for (const WindowView& v : views) {
        if (StartsWith(v.status, L"Downloading: ")) {
            // Nothing to press while files arrive.
            EXPECT_FALSE(v.playEnabled);
            EXPECT_FALSE(v.repairEnabled);
            if (!v.detail.empty()) {
                detailSeen = true;
                EXPECT_TRUE(std::regex_match(v.detail, downloadDetail)) << Narrow(v.detail);
            }
            // The busiest downloads, largest first; the largest file is the last to finish.
            std::wsmatch match;
            if (!v.rows[0].empty()) {
                rowsSeen = true;
                ASSERT_TRUE(std::regex_match(v.rows[0], match, row)) << Narrow(v.rows[0]);
                EXPECT_EQ(match[1].str(), L"5");
            }
            double previous = 1e9;
            for (size_t i = 0; i < v.rows.size(); ++i) {
                EXPECT_EQ(v.rowBarsShown[i], !v.rows[i].empty());
                if (v.rows[i].empty() || !std::regex_match(v.rows[i], match, row)) {
                    continue;
                }
                const double size = std::stod(match[2].str());
                EXPECT_LE(size, previous) << Narrow(v.rows[i]);
                previous = size;
            }
        } else if (StartsWith(v.status, L"Checking files")) {
            EXPECT_TRUE(v.detail.empty() || std::regex_match(v.detail, checkDetail)) << Narrow(v.detail);
        }
    }
    EXPECT_TRUE(detailSeen);
    EXPECT_TRUE(rowsSeen);

    const WindowView& end = views.back();
    EXPECT_EQ(end.version, L"Version 7.1.3  ·  release 3");
    EXPECT_EQ(end.detail, L"");
    for (size_t i = 0; i < end.rows.size(); ++i) {
        EXPECT_EQ(end.rows[i], L"");
        EXPECT_FALSE(end.rowBarsShown[i]);
    }
    EXPECT_TRUE(end.repairEnabled);
}

TEST_F(LauncherRun, FailedRunOffersRetryAndTheLogAndRetryStartsAPlainRun) {
    HWND window = Open(); // nothing published yet
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForView(
        window, [](const WindowView& v) { return v.playEnabled; }, Support::kRunLimit));
    // Read again: the controls of one view are read one after the other while the run ends.
    const WindowView view = Look(window);
    EXPECT_EQ(view.play, L"RETRY");
    EXPECT_TRUE(view.repairEnabled);
    EXPECT_TRUE(StartsWith(view.status, L"Cannot reach the update server.")) << Narrow(view.status);
    EXPECT_EQ(view.detail, L"Details: " + LogPath());

    Publish(4);
    ASSERT_TRUE(Support::ClickControl(window, IdPlay));
    ASSERT_TRUE(WaitForDone(window));
    const std::string log = LogText();
    const size_t retry = log.rfind("Getting version information...");
    ASSERT_NE(retry, std::string::npos);
    EXPECT_NE(log.find("Checking files...", retry), std::string::npos) << log;
    EXPECT_EQ(log.find("(repair)", retry), std::string::npos) << log;
    EXPECT_TRUE(Support::Exists(game / L"Updater.exe"));
}

TEST_F(LauncherRun, RepairStartsARepairRun) {
    Publish(5);
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForDone(window));
    // A damaged file of the right size: only a repair run looks inside.
    const std::wstring damaged = game / GameClient::kDefaultLaunch;
    std::string bytes = Support::ReadFileOrEmpty(damaged);
    ASSERT_FALSE(bytes.empty());
    bytes[bytes.size() / 2] ^= 0x5A;
    Support::WriteFileBytes(damaged, bytes);

    ASSERT_TRUE(Support::ClickControl(window, IdRepair));
    ASSERT_TRUE(
        Support::WaitUntil([&] { return LogHas("Verifying all files (repair)..."); }, Support::kRunLimit));
    ASSERT_TRUE(Support::WaitUntil(
        [&] {
            return LogHas("Verifying all files (repair)...") &&
                   LogText().rfind(kDoneText) > LogText().rfind("(repair)");
        },
        Support::kRunLimit))
        << LogText();
    EXPECT_TRUE(WaitForDone(window));
    EXPECT_EQ(Support::Sha256Hex(Support::ReadFileOrEmpty(damaged)),
              Support::Sha256Hex(Support::ReadFileOrEmpty(source / GameClient::kDefaultLaunch)));
}

TEST_F(LauncherRun, AutoModeEndsWithZeroWhenDoneAndOneWhenFailed) {
    Publish(6);
    Support::ChildProcess& good = Start(L"--auto");
    EXPECT_EQ(good.WaitExit(Support::kRunLimit), 0U) << LogText();
    EXPECT_TRUE(LogHas("exit 0\r\n"));

    UseMirror(Support::HttpBase() + L"missing_"); // a mirror that has no release
    Support::ChildProcess& bad = Start(L"--auto");
    EXPECT_EQ(bad.WaitExit(Support::kRunLimit), 1U) << LogText();
    EXPECT_TRUE(LogHas("exit 1\r\n"));
}

TEST_F(LauncherRun, ClosingDuringADownloadAsksFirst) {
    AddDataFiles(2, 3000000, 1000000);
    Publish(7);
    UseSlowMirror();
    Support::ChildProcess& launcher = Start();
    HWND window = WaitForWindow(launcher);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForView(
        window, [](const WindowView& v) { return StartsWith(v.status, L"Downloading: "); },
        Support::kRunLimit));

    ASSERT_TRUE(Support::CloseWindow(window));
    HWND box = nullptr;
    ASSERT_TRUE(Support::WaitUntil([&] { return (box = Support::FindMessageBox(launcher.Id())) != nullptr; },
                                   Support::kWindowLimit));
    EXPECT_EQ(Support::MessageBoxText(box),
              L"The update is running. If you close, it resumes next time. Close?");
    ASSERT_TRUE(Support::AnswerMessageBox(box, IDNO));
    ASSERT_TRUE(Support::WaitUntil([&] { return Support::FindMessageBox(launcher.Id()) == nullptr; }, 10s));
    EXPECT_TRUE(launcher.Running());
    EXPECT_NE(Support::FindLauncherWindow(launcher.Id()), nullptr);

    ASSERT_TRUE(Support::CloseWindow(window));
    ASSERT_TRUE(Support::WaitUntil([&] { return (box = Support::FindMessageBox(launcher.Id())) != nullptr; },
                                   Support::kWindowLimit));
    ASSERT_TRUE(Support::AnswerMessageBox(box, IDYES));
    EXPECT_EQ(launcher.WaitExit(Support::kExitLimit), 0U);
    EXPECT_FALSE(LogHas(kDoneText));
}

TEST_F(LauncherRun, PlayStartsTheGameWithTheServerValueAndCloses) {
    Publish(8);
    Support::ChildProcess& launcher = Start();
    HWND window = WaitForWindow(launcher);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForDone(window));
    ASSERT_TRUE(Support::ClickControl(window, IdPlay));
    EXPECT_EQ(launcher.WaitExit(Support::kExitLimit), 0U);

    const std::wstring shown = Support::SampleClientText();
    EXPECT_EQ(shown, L"Arguments: 127.0.0.1:7000\r\nClient version: 7.1.8\r\nLanguage: en");
    EXPECT_TRUE(LogHas("started " + Narrow(game / L"Updater.exe") + " 127.0.0.1:7000\r\n")) << LogText();
}

TEST_F(LauncherRun, PlayIsRefusedWhileTheGameUpdaterIsOpen) {
    Publish(9);
    HANDLE updater = ::CreateMutexW(nullptr, FALSE, GameClient::kUpdaterMutex);
    ASSERT_NE(updater, nullptr);
    Support::ChildProcess& launcher = Start();
    HWND window = WaitForWindow(launcher);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForDone(window));
    for (int press = 0; press < 2; ++press) {
        ASSERT_TRUE(Support::ClickControl(window, IdPlay));
        HWND box = nullptr;
        ASSERT_TRUE(
            Support::WaitUntil([&] { return (box = Support::FindMessageBox(launcher.Id())) != nullptr; },
                               Support::kWindowLimit));
        EXPECT_EQ(Support::MessageBoxText(box),
                  L"The game's login window (Updater) is already open. Close it first.");
        if (press == 1) {
            // The updater ends while the box is open: the launcher holds no handle that keeps its
            // mutex alive.
            ::CloseHandle(std::exchange(updater, nullptr));
            EXPECT_FALSE(Support::MutexExists(GameClient::kUpdaterMutex));
        }
        ASSERT_TRUE(Support::AnswerMessageBox(box, IDOK));
        ASSERT_TRUE(
            Support::WaitUntil([&] { return Support::FindMessageBox(launcher.Id()) == nullptr; }, 10s));
    }
    EXPECT_TRUE(launcher.Running());
    EXPECT_TRUE(Look(window).playEnabled);
    EXPECT_TRUE(Support::SampleClientWindows().empty());
    EXPECT_FALSE(LogHas("started "));
}

} // namespace
} // namespace Orv
