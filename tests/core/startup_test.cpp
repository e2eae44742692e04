// The real Orvane.exe, started as a separate process and watched from here.
#include "core/instance_lock.h"
#include "support/observer.h"
#include "support/process.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <deque>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::ChildProcess;
using Support::Exists;
using Support::FindLauncherWindow;
using Support::ReadFileOrEmpty;
using Support::TempFolder;
using Support::WaitUntil;

constexpr auto kWindowLimit = 60s;
constexpr auto kExitLimit = 30s;

class Launcher : public ::testing::Test {
protected:
    // A game folder holding a copy of the launcher.
    void SetUp() override {
        exe = folder / L"Orvane.exe";
        ASSERT_TRUE(::CopyFileW((Support::BinaryFolder() + L"\\Orvane.exe").c_str(), exe.c_str(), FALSE));
    }
    void TearDown() override {
        for (auto& p : started) {
            p.Kill();
        }
    }

    // Starts the launcher in the game folder; the fixture ends it at the latest when the test ends.
    ChildProcess& Start(const std::wstring& args = {}) {
        started.push_back(Support::StartProcess(exe, args, folder.Path()));
        EXPECT_TRUE(started.back().Started()) << started.back().StartProblem();
        return started.back();
    }

    HWND WaitForWindow(const ChildProcess& p) {
        HWND window = nullptr;
        WaitUntil([&] { return (window = FindLauncherWindow(p.Id())) != nullptr || !p.Running(); },
                  kWindowLimit);
        return window;
    }

    // Starts the launcher and waits for its window.
    struct Running {
        ChildProcess* process;
        HWND window;
    };
    Running Open(const std::wstring& args = {}) {
        ChildProcess& p = Start(args);
        return {&p, WaitForWindow(p)};
    }

    void MakeInstallation() { Support::MakeDirectories(folder / L".orvane"); }

    std::string LogText() const { return ReadFileOrEmpty(folder / L".orvane\\launcher.log"); }
    bool LogHas(const std::string& text) const { return LogText().find(text) != std::string::npos; }
    std::string StartLine() const { return " launcher 1.0.0 start in " + Narrow(folder.Path()); }

    static std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

    // Closes the window as the user would and returns the exit code.
    static std::optional<DWORD> CloseAndWait(const Running& r) {
        Support::CloseWindow(r.window);
        return r.process->WaitExit(kExitLimit);
    }

    TempFolder folder;
    std::wstring exe;
    std::deque<ChildProcess> started;
};

TEST_F(Launcher, InstallationFolderStartsInLauncherModeAndLogsStartAndExit) {
    MakeInstallation();
    const Running r = Open();
    ASSERT_NE(r.window, nullptr);
    EXPECT_TRUE(LogHas(StartLine() + "\r\n")) << LogText();
    EXPECT_EQ(CloseAndWait(r), 0U);
    const std::string log = LogText();
    ASSERT_GE(log.size(), 8U);
    EXPECT_EQ(log.substr(log.size() - 8), "exit 0\r\n");
}

TEST_F(Launcher, WindowIsTheFixedSizeOrvaneWindowCentredOnTheScreen) {
    MakeInstallation();
    const Running r = Open();
    ASSERT_NE(r.window, nullptr);
    EXPECT_EQ(Support::ControlText(r.window), L"Orvane");
    RECT client{};
    ::GetClientRect(r.window, &client);
    const double scale = ::GetDpiForWindow(r.window) / 96.0;
    EXPECT_EQ(client.right, static_cast<LONG>(760 * scale + 0.5));
    EXPECT_EQ(client.bottom, static_cast<LONG>(456 * scale + 0.5));
    const LONG style = ::GetWindowLongW(r.window, GWL_STYLE);
    constexpr LONG wanted = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    EXPECT_EQ(style & wanted, wanted);
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
    RECT frame{};
    ::GetWindowRect(r.window, &frame);
    EXPECT_NEAR(frame.left, (::GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2, 1);
    EXPECT_NEAR(frame.top, (::GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2, 1);
    EXPECT_EQ(CloseAndWait(r), 0U);
}

TEST_F(Launcher, AutoModeStartsMinimised) {
    MakeInstallation();
    const Running r = Open(L"--auto");
    ASSERT_NE(r.window, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return ::IsIconic(r.window) != FALSE; }, 5s));
    EXPECT_EQ(CloseAndWait(r), 0U);
}

TEST_F(Launcher, ObserverHelperSeesAndClosesTheWindow) {
    MakeInstallation();
    const Running r = Open();
    ASSERT_NE(r.window, nullptr);
    const std::wstring pid = std::to_wstring(r.process->Id());
    auto observe = [](const std::wstring& args) {
        const std::wstring observer = Support::BinaryFolder() + L"\\orvobserve.exe";
        return Support::StartProcess(observer, args).WaitExit(kExitLimit);
    };
    const std::wstring out = folder / L"observed.txt";
    EXPECT_EQ(observe(L"--out \"" + out + L"\" --pid " + pid + L" find"), 0U);
    EXPECT_FALSE(ReadFileOrEmpty(out).empty());
    EXPECT_EQ(observe(L"mutex Local\\OrvaneNoSuchMutex"), 1U);
    EXPECT_EQ(observe(L"mutex " + InstanceLockName(folder.Path())), 0U);
    EXPECT_EQ(observe(L"--pid " + pid + L" close"), 0U);
    EXPECT_EQ(r.process->WaitExit(kExitLimit), 0U);
}

TEST_F(Launcher, EngineExeAloneAlsoMeansLauncherMode) {
    Support::WriteFileBytes(folder / L"Engine.exe", "MZ");
    const Running r = Open();
    ASSERT_NE(r.window, nullptr);
    EXPECT_TRUE(LogHas(StartLine()));
    EXPECT_EQ(CloseAndWait(r), 0U);
}

TEST_F(Launcher, SecondLauncherForTheSameFolderExitsWithThree) {
    MakeInstallation();
    const Running first = Open();
    ASSERT_NE(first.window, nullptr);
    EXPECT_TRUE(Support::MutexExists(InstanceLockName(folder.Path())));
    EXPECT_EQ(Start().WaitExit(kExitLimit), 3U);
    EXPECT_TRUE(first.process->Running());
    EXPECT_EQ(CloseAndWait(first), 0U);
}

TEST_F(Launcher, AfterSelfUpdateTheSecondWaitsForTheFirstToEnd) {
    MakeInstallation();
    const Running first = Open();
    ASSERT_NE(first.window, nullptr);
    ChildProcess& second = Start(L"--updated");
    // Still waiting for the lock while the first launcher runs.
    EXPECT_FALSE(second.WaitExit(2s).has_value());
    EXPECT_FALSE(LogHas("(after self-update)"));

    EXPECT_EQ(CloseAndWait(first), 0U);
    const Running successor{&second, WaitForWindow(second)};
    ASSERT_NE(successor.window, nullptr);
    EXPECT_TRUE(LogHas(StartLine() + " (after self-update)\r\n")) << LogText();
    EXPECT_EQ(CloseAndWait(successor), 0U);
}

TEST_F(Launcher, OldExecutableBesideItIsRemovedAtStart) {
    MakeInstallation();
    Support::WriteFileBytes(exe + L".old", "previous launcher");
    const Running r = Open();
    ASSERT_NE(r.window, nullptr);
    EXPECT_FALSE(Exists(exe + L".old"));
    EXPECT_EQ(CloseAndWait(r), 0U);
}

TEST_F(Launcher, FolderWithoutInstallationShowsSetupWithoutLogOrLock) {
    const Running a = Open();
    const Running b = Open();
    ASSERT_NE(a.window, nullptr);
    ASSERT_NE(b.window, nullptr);
    EXPECT_NE(a.window, b.window);
    EXPECT_FALSE(Exists(folder / L".orvane"));
    EXPECT_EQ(CloseAndWait(a), 0U);
    EXPECT_EQ(CloseAndWait(b), 0U);
    EXPECT_FALSE(Exists(folder / L".orvane"));
}

TEST_F(Launcher, InstallAsTheOnlyArgumentFallsThroughToNormalStart) {
    const Running r = Open(L"--install");
    ASSERT_NE(r.window, nullptr);
    EXPECT_EQ(CloseAndWait(r), 0U);
}

TEST_F(Launcher, UnknownAndMisspelledOptionsAreIgnored) {
    MakeInstallation();
    const Running r = Open(L"-install C:\\x --install=C:\\y --bogus");
    ASSERT_NE(r.window, nullptr);
    EXPECT_TRUE(LogHas(StartLine() + "\r\n"));
    EXPECT_EQ(CloseAndWait(r), 0U);
}

TEST_F(Launcher, UnopenableLogDoesNotStopStartUp) {
    Support::MakeDirectories(folder / L".orvane\\launcher.log");
    const Running r = Open();
    ASSERT_NE(r.window, nullptr);
    EXPECT_EQ(CloseAndWait(r), 0U);
}

TEST_F(Launcher, DataFolderThatCannotBeCreatedDoesNotStopStartUp) {
    // Engine.exe makes it an installation; a file named .orvane blocks the data folder.
    Support::WriteFileBytes(folder / L"Engine.exe", "MZ");
    Support::WriteFileBytes(folder / L".orvane", "in the way");
    const Running r = Open();
    ASSERT_NE(r.window, nullptr);
    EXPECT_EQ(CloseAndWait(r), 0U);
    EXPECT_EQ(ReadFileOrEmpty(folder / L".orvane"), "in the way");
}

} // namespace
} // namespace Orv
