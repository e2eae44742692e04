// The real Orvane.exe, started as a separate process and watched from here.
#include "core/instance_lock.h"
#include "support/observer.h"
#include "support/process.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

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
        for (auto* p : started) {
            p->Kill();
        }
    }

    ChildProcess Start(const std::wstring& args = {}) {
        ChildProcess p = Support::StartProcess(exe, args, folder.Path());
        EXPECT_TRUE(p.Started());
        return p;
    }
    void Track(ChildProcess& p) { started.push_back(&p); }

    HWND WaitForWindow(const ChildProcess& p) {
        HWND window = nullptr;
        WaitUntil([&] { return (window = FindLauncherWindow(p.Id())) != nullptr || !p.Running(); },
                  kWindowLimit);
        return window;
    }

    std::string LogText() const { return ReadFileOrEmpty(folder / L".orvane\\launcher.log"); }
    bool LogHas(const std::string& text) const { return LogText().find(text) != std::string::npos; }
    std::string StartLine() const { return " launcher 1.0.0 start in " + Narrow(folder.Path()); }

    static std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

    // Closes the window as the user would and returns the exit code.
    std::optional<DWORD> CloseAndWait(const ChildProcess& p, HWND window) {
        Support::CloseWindow(window);
        return p.WaitExit(kExitLimit);
    }

    TempFolder folder;
    std::wstring exe;
    std::vector<ChildProcess*> started;
};

TEST_F(Launcher, InstallationFolderStartsInLauncherModeAndLogsStartAndExit) {
    Support::MakeDirectories(folder / L".orvane");
    ChildProcess p = Start();
    Track(p);
    HWND window = WaitForWindow(p);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(LogHas(StartLine() + "\r\n")) << LogText();
    EXPECT_EQ(CloseAndWait(p, window), 0U);
    const std::string log = LogText();
    ASSERT_GE(log.size(), 8U);
    EXPECT_EQ(log.substr(log.size() - 8), "exit 0\r\n");
}

TEST_F(Launcher, WindowIsTheFixedSizeOrvaneWindowCentredOnTheScreen) {
    Support::MakeDirectories(folder / L".orvane");
    ChildProcess p = Start();
    Track(p);
    HWND window = WaitForWindow(p);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Support::ControlText(window), L"Orvane");
    RECT client{};
    ::GetClientRect(window, &client);
    const UINT dpi = ::GetDpiForWindow(window);
    EXPECT_EQ(client.right, static_cast<LONG>(760 * (dpi / 96.0) + 0.5));
    EXPECT_EQ(client.bottom, static_cast<LONG>(456 * (dpi / 96.0) + 0.5));
    const LONG style = ::GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN),
              WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN);
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
    RECT frame{};
    ::GetWindowRect(window, &frame);
    const int expectedX = (::GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2;
    EXPECT_NEAR(frame.left, expectedX, 1);
    EXPECT_EQ(CloseAndWait(p, window), 0U);
}

TEST_F(Launcher, AutoModeStartsMinimised) {
    Support::MakeDirectories(folder / L".orvane");
    ChildProcess p = Start(L"--auto");
    Track(p);
    HWND window = WaitForWindow(p);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return ::IsIconic(window) != FALSE; }, 5s));
    EXPECT_EQ(CloseAndWait(p, window), 0U);
}

TEST_F(Launcher, ObserverHelperSeesAndClosesTheWindow) {
    Support::MakeDirectories(folder / L".orvane");
    ChildProcess p = Start();
    Track(p);
    ASSERT_NE(WaitForWindow(p), nullptr);
    const std::wstring observer = Support::BinaryFolder() + L"\\orvobserve.exe";
    const std::wstring out = folder / L"observed.txt";
    const std::wstring pid = std::to_wstring(p.Id());
    ChildProcess find = Support::StartProcess(observer, L"--out \"" + out + L"\" --pid " + pid + L" find");
    EXPECT_EQ(find.WaitExit(kExitLimit), 0U);
    EXPECT_FALSE(ReadFileOrEmpty(out).empty());
    ChildProcess missing = Support::StartProcess(observer, L"mutex Local\\OrvaneNoSuchMutex");
    EXPECT_EQ(missing.WaitExit(kExitLimit), 1U);
    const std::wstring lock = L"mutex " + InstanceLockName(folder.Path());
    ChildProcess present = Support::StartProcess(observer, lock);
    EXPECT_EQ(present.WaitExit(kExitLimit), 0U);
    ChildProcess close = Support::StartProcess(observer, L"--pid " + pid + L" close");
    EXPECT_EQ(close.WaitExit(kExitLimit), 0U);
    EXPECT_EQ(p.WaitExit(kExitLimit), 0U);
}

TEST_F(Launcher, EngineExeAloneAlsoMeansLauncherMode) {
    Support::WriteFileBytes(folder / L"Engine.exe", "MZ");
    ChildProcess p = Start();
    Track(p);
    HWND window = WaitForWindow(p);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(LogHas(StartLine()));
    EXPECT_EQ(CloseAndWait(p, window), 0U);
}

TEST_F(Launcher, SecondLauncherForTheSameFolderExitsWithThree) {
    Support::MakeDirectories(folder / L".orvane");
    ChildProcess first = Start();
    Track(first);
    HWND window = WaitForWindow(first);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(Support::MutexExists(InstanceLockName(folder.Path())));

    ChildProcess second = Start();
    Track(second);
    EXPECT_EQ(second.WaitExit(kExitLimit), 3U);
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(CloseAndWait(first, window), 0U);
}

TEST_F(Launcher, AfterSelfUpdateTheSecondWaitsForTheFirstToEnd) {
    Support::MakeDirectories(folder / L".orvane");
    ChildProcess first = Start();
    Track(first);
    HWND window = WaitForWindow(first);
    ASSERT_NE(window, nullptr);

    ChildProcess second = Start(L"--updated");
    Track(second);
    // Still waiting for the lock while the first launcher runs.
    EXPECT_FALSE(second.WaitExit(2s).has_value());
    EXPECT_FALSE(LogHas("(after self-update)"));

    EXPECT_EQ(CloseAndWait(first, window), 0U);
    HWND secondWindow = WaitForWindow(second);
    ASSERT_NE(secondWindow, nullptr);
    EXPECT_TRUE(LogHas(StartLine() + " (after self-update)\r\n")) << LogText();
    EXPECT_EQ(CloseAndWait(second, secondWindow), 0U);
}

TEST_F(Launcher, OldExecutableBesideItIsRemovedAtStart) {
    Support::MakeDirectories(folder / L".orvane");
    Support::WriteFileBytes(exe + L".old", "previous launcher");
    ChildProcess p = Start();
    Track(p);
    HWND window = WaitForWindow(p);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(Exists(exe + L".old"));
    EXPECT_EQ(CloseAndWait(p, window), 0U);
}

TEST_F(Launcher, FolderWithoutInstallationShowsSetupWithoutLogOrLock) {
    ChildProcess first = Start();
    Track(first);
    ChildProcess second = Start();
    Track(second);
    HWND a = WaitForWindow(first);
    HWND b = WaitForWindow(second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_FALSE(Exists(folder / L".orvane"));
    EXPECT_EQ(CloseAndWait(first, a), 0U);
    EXPECT_EQ(CloseAndWait(second, b), 0U);
    EXPECT_FALSE(Exists(folder / L".orvane"));
}

TEST_F(Launcher, InstallAsTheOnlyArgumentFallsThroughToNormalStart) {
    ChildProcess p = Start(L"--install");
    Track(p);
    HWND window = WaitForWindow(p);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(CloseAndWait(p, window), 0U);
}

TEST_F(Launcher, UnknownAndMisspelledOptionsAreIgnored) {
    Support::MakeDirectories(folder / L".orvane");
    ChildProcess p = Start(L"-install C:\\x --install=C:\\y --bogus");
    Track(p);
    HWND window = WaitForWindow(p);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(LogHas(StartLine() + "\r\n"));
    EXPECT_EQ(CloseAndWait(p, window), 0U);
}

TEST_F(Launcher, UnopenableLogDoesNotStopStartUp) {
    Support::MakeDirectories(folder / L".orvane\\launcher.log");
    ChildProcess p = Start();
    Track(p);
    HWND window = WaitForWindow(p);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(CloseAndWait(p, window), 0U);
}

TEST_F(Launcher, DataFolderThatCannotBeCreatedDoesNotStopStartUp) {
    // Engine.exe makes it an installation; a file named .orvane blocks the data folder.
    Support::WriteFileBytes(folder / L"Engine.exe", "MZ");
    Support::WriteFileBytes(folder / L".orvane", "in the way");
    ChildProcess p = Start();
    Track(p);
    HWND window = WaitForWindow(p);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(CloseAndWait(p, window), 0U);
    EXPECT_EQ(ReadFileOrEmpty(folder / L".orvane"), "in the way");
}

TEST_F(Launcher, UninstallThatCannotRunDoesNotReportSuccess) {
    Support::MakeDirectories(folder / L".orvane");
    Support::WriteFileBytes(folder / L"game.dat", "keep");
    ChildProcess request = Start(L"--uninstall --quiet");
    EXPECT_NE(request.WaitExit(kExitLimit).value_or(0), 0U);
    ChildProcess run = Start(L"--uninstall-run \"" + folder.Path() + L"\" --quiet");
    EXPECT_NE(run.WaitExit(kExitLimit).value_or(0), 0U);
    EXPECT_EQ(ReadFileOrEmpty(folder / L"game.dat"), "keep");
    EXPECT_TRUE(Exists(folder / L".orvane"));
}

} // namespace
} // namespace Orv
