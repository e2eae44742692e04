// The real Orvane.exe started from a folder that holds no installation: the setup window and the
// silent installation, watched from here.
#include "core/text.h"
#include "install/install_location.h"
#include "install/shortcut.h"
#include "support/observer.h"
#include "support/process.h"
#include "support/test_folder.h"
#include "support/user_install_state.h"
#include "ui/ui_state.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>

#include <deque>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::ChildProcess;
using Support::Exists;
using Support::ReadFileOrEmpty;
using Support::TempFolder;
using Support::WaitUntil;

constexpr auto kWindowLimit = 60s;
constexpr auto kExitLimit = 30s;

constexpr const wchar_t* kRefusal =
    L"Cannot install here. Choose a folder outside Program Files / Windows (e.g. C:\\Games\\Orvane).";

bool SameText(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

class Setup : public ::testing::Test {
protected:
    void SetUp() override {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        exe = home / L"Orvane.exe";
        ASSERT_TRUE(::CopyFileW((Support::BinaryFolder() + L"\\Orvane.exe").c_str(), exe.c_str(), FALSE));
    }
    void TearDown() override {
        for (const auto& process : started) {
            process.Kill();
        }
        // Installed launchers that the setup started.
        Support::EndProcessesRunningFrom(target.Path());
        ::CoUninitialize();
    }

    ChildProcess& Start(const std::wstring& args = {}) {
        started.push_back(Support::StartProcess(exe, args, home.Path()));
        EXPECT_TRUE(started.back().Started()) << started.back().StartProblem();
        return started.back();
    }

    // The setup window of the process once it is shown with all its controls; null when it did not
    // appear.
    static HWND WaitForWindow(const ChildProcess& process) {
        HWND window = nullptr;
        WaitUntil(
            [&] {
                window = Support::FindLauncherWindow(process.Id());
                return (window != nullptr && ::IsWindowVisible(window)) || !process.Running();
            },
            kWindowLimit);
        return window;
    }

    // The message box the process shows; null when none appeared.
    static HWND WaitForBox(const ChildProcess& process) {
        HWND box = nullptr;
        WaitUntil(
            [&] { return (box = Support::FindMessageBox(process.Id())) != nullptr || !process.Running(); },
            kWindowLimit);
        return box;
    }

    static void TypeFolder(HWND window, const std::wstring& folder) {
        ::SendMessageW(::GetDlgItem(window, IdInstallFolder), WM_SETTEXT, 0,
                       reinterpret_cast<LPARAM>(folder.c_str()));
    }

    std::wstring Quoted(const std::wstring& text) const { return L"\"" + text + L"\""; }

    Support::UserInstallState userState;
    TempFolder home{L"orvsetup"};    // where the downloaded launcher lies: no installation
    TempFolder target{L"orvtarget"}; // install folders are made in here
    std::wstring exe;
    std::deque<ChildProcess> started;
};

TEST_F(Setup, SilentInstallPutsTheLauncherThereWithOnlyTheStartMenuShortcutAndStartsNothing) {
    const std::wstring folder = target / L"Games\\Orvane";
    EXPECT_EQ(Start(L"--install " + Quoted(folder) + L" --no-desktop").WaitExit(kExitLimit), 0U);
    EXPECT_EQ(ReadFileOrEmpty(folder + L"\\Orvane.exe"), ReadFileOrEmpty(exe));
    EXPECT_TRUE(Exists(folder + L"\\.orvane"));
    EXPECT_TRUE(SameText(ReadShortcutTarget(userState.StartMenuShortcut()), folder + L"\\Orvane.exe"));
    EXPECT_FALSE(Exists(userState.DesktopShortcut()));
    EXPECT_TRUE(Support::ProcessesRunningFrom(target.Path()).empty());
    EXPECT_FALSE(Exists(home / L".orvane"));
}

TEST_F(Setup, SilentInstallIntoARefusedFolderWarnsWithoutOwnerAndEndsWithZero) {
    ChildProcess& setup = Start(L"--install Games\\Orvane");
    HWND box = WaitForBox(setup);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Support::MessageBoxText(box), kRefusal);
    EXPECT_EQ(Support::ControlText(box), L"Orvane");
    EXPECT_EQ(::GetWindow(box, GW_OWNER), nullptr);
    Support::AnswerMessageBox(box, IDOK);
    EXPECT_EQ(setup.WaitExit(kExitLimit), 0U);
    EXPECT_FALSE(Exists(home / L"Games"));
    EXPECT_FALSE(Exists(userState.StartMenuShortcut()));
}

TEST_F(Setup, SilentInstallThatFailsShowsTheReasonAndEndsWithOne) {
    const std::wstring folder = Support::MissingDrive() + L"\\Games\\Orvane";
    ChildProcess& setup = Start(L"--install " + Quoted(folder));
    HWND box = WaitForBox(setup);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Support::MessageBoxText(box).rfind(L"Cannot create the folder:\n" + folder + L"\n", 0), 0U);
    EXPECT_EQ(::GetWindow(box, GW_OWNER), nullptr);
    Support::AnswerMessageBox(box, IDOK);
    EXPECT_EQ(setup.WaitExit(kExitLimit), 1U);
    EXPECT_FALSE(Exists(userState.StartMenuShortcut()));
}

TEST_F(Setup, WindowProposesTheDefaultFolderAndOffersTheDesktopShortcut) {
    ChildProcess& setup = Start();
    HWND window = WaitForWindow(setup);
    ASSERT_NE(window, nullptr);
    const auto controls = Support::ListControls(window);
    ASSERT_EQ(controls.size(), 7U);
    const std::vector<std::pair<std::wstring, int>> wanted = {{L"Static", 0},
                                                              {L"Static", 0},
                                                              {L"Edit", IdInstallFolder},
                                                              {L"Button", IdBrowse},
                                                              {L"Button", IdDesktopShortcut},
                                                              {L"Static", 0},
                                                              {L"Button", IdInstall}};
    for (size_t i = 0; i < wanted.size(); ++i) {
        EXPECT_TRUE(SameText(controls[i].className, wanted[i].first)) << i;
        EXPECT_EQ(controls[i].id, wanted[i].second) << i;
    }
    EXPECT_EQ(controls[0].text, L"Orvane setup. The launcher is installed into this folder and downloads the "
                                L"game (about 5.3 GB).");
    EXPECT_EQ(controls[1].text, L"Install folder");
    EXPECT_EQ(controls[2].text, DefaultInstallFolder());
    EXPECT_EQ(controls[3].text, L"Browse...");
    EXPECT_EQ(controls[4].text, L"Create a desktop shortcut");
    EXPECT_EQ(controls[5].text, L"No administrator rights needed. To remove: Settings > Apps > Orvane.");
    EXPECT_EQ(controls[6].text, L"INSTALL");

    HWND check = ::GetDlgItem(window, IdDesktopShortcut);
    EXPECT_EQ(::SendMessageW(check, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(::GetWindowLongW(check, GWL_STYLE) & BS_TYPEMASK, BS_AUTOCHECKBOX);
    // The edit box draws its border itself and takes the border bit away.
    EXPECT_NE(::GetWindowLongW(::GetDlgItem(window, IdInstallFolder), GWL_STYLE) & ES_AUTOHSCROLL, 0);
    for (const int id : {IdBrowse, IdInstall}) {
        EXPECT_EQ(::GetWindowLongW(::GetDlgItem(window, id), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW) << id;
    }

    // INSTALL at its place; closing asks nothing, installs nothing and ends with 0.
    RECT button{};
    ::GetWindowRect(::GetDlgItem(window, IdInstall), &button);
    ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&button), 2);
    const double scale = ::GetDpiForWindow(window) / 96.0;
    const auto scaled = [&](int length) { return static_cast<LONG>(length * scale + 0.5); };
    EXPECT_EQ(button.left, scaled(530));
    EXPECT_EQ(button.top, scaled(374));
    EXPECT_EQ(button.right - button.left, scaled(200));
    EXPECT_EQ(button.bottom - button.top, scaled(56));
    Support::CloseWindow(window);
    EXPECT_EQ(setup.WaitExit(kExitLimit), 0U);
    EXPECT_FALSE(Exists(home / L".orvane"));
    EXPECT_FALSE(Exists(userState.StartMenuShortcut()));
}

TEST_F(Setup, ControlsShowTheWindowColours) {
    ChildProcess& setup = Start();
    HWND window = WaitForWindow(setup);
    ASSERT_NE(window, nullptr);
    if (::GetDpiForWindow(window) != 96) {
        GTEST_SKIP() << "the colour positions are those of 96 dpi";
    }
    // Inside the edit box, right of its text; inside the check box, right of its caption.
    EXPECT_TRUE(Support::WaitForPixel(window, 600, 224, Colour::Panel, 10s));
    EXPECT_TRUE(Support::WaitForPixel(window, 420, 264, Colour::Background, 10s));
    EXPECT_TRUE(Support::WaitForPixel(window, 10, 300, Colour::Background, 10s));
    Support::CloseWindow(window);
    EXPECT_EQ(setup.WaitExit(kExitLimit), 0U);
}

TEST_F(Setup, InstallFromTheWindowStartsTheInstalledLauncherAndEndsWithZero) {
    const std::wstring folder = target / L"New Games\\Orvane";
    ChildProcess& setup = Start();
    HWND window = WaitForWindow(setup);
    ASSERT_NE(window, nullptr);
    TypeFolder(window, folder);
    ASSERT_TRUE(Support::ClickControl(window, IdInstall));
    EXPECT_EQ(setup.WaitExit(kExitLimit), 0U);

    const std::wstring installed = folder + L"\\Orvane.exe";
    EXPECT_EQ(ReadFileOrEmpty(installed), ReadFileOrEmpty(exe));
    EXPECT_TRUE(SameText(ReadShortcutTarget(userState.DesktopShortcut()), installed));
    EXPECT_TRUE(SameText(ReadShortcutTarget(userState.StartMenuShortcut()), installed));

    // The installed copy runs in launcher mode from its folder.
    HWND launcher = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const DWORD pid : Support::ProcessesRunningFrom(folder)) {
                if ((launcher = Support::FindLauncherWindow(pid)) != nullptr) {
                    return true;
                }
            }
            return false;
        },
        kWindowLimit));
    const std::wstring log = folder + L"\\.orvane\\launcher.log";
    EXPECT_TRUE(WaitUntil(
        [&] {
            return ReadFileOrEmpty(log).find(" launcher 1.0.0 start in " + WideToUtf8(folder)) !=
                   std::string::npos;
        },
        10s))
        << ReadFileOrEmpty(log);
}

TEST_F(Setup, RefusedFolderInTheWindowWarnsAndTheWindowStaysOpen) {
    ChildProcess& setup = Start();
    HWND window = WaitForWindow(setup);
    ASSERT_NE(window, nullptr);
    TypeFolder(window, L"C:\\");
    ASSERT_TRUE(Support::ClickControl(window, IdInstall));
    HWND box = WaitForBox(setup);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Support::MessageBoxText(box), kRefusal);
    EXPECT_EQ(::GetWindow(box, GW_OWNER), window);
    Support::AnswerMessageBox(box, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return Support::FindMessageBox(setup.Id()) == nullptr; }, kWindowLimit));
    EXPECT_TRUE(setup.Running());
    EXPECT_EQ(Support::FindLauncherWindow(setup.Id()), window);
    EXPECT_FALSE(Exists(userState.StartMenuShortcut()));
    Support::CloseWindow(window);
    EXPECT_EQ(setup.WaitExit(kExitLimit), 0U);
}

TEST_F(Setup, FailedInstallFromTheWindowKeepsTheWindowAndEndsWithOne) {
    const std::wstring folder = Support::MissingDrive() + L"\\Orvane";
    ChildProcess& setup = Start();
    HWND window = WaitForWindow(setup);
    ASSERT_NE(window, nullptr);
    TypeFolder(window, folder);
    ASSERT_TRUE(Support::ClickControl(window, IdInstall));
    HWND box = WaitForBox(setup);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Support::MessageBoxText(box).rfind(L"Cannot create the folder:\n" + folder + L"\n", 0), 0U);
    EXPECT_EQ(::GetWindow(box, GW_OWNER), window);
    Support::AnswerMessageBox(box, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return Support::FindMessageBox(setup.Id()) == nullptr; }, kWindowLimit));
    EXPECT_EQ(Support::FindLauncherWindow(setup.Id()), window);
    Support::CloseWindow(window);
    EXPECT_EQ(setup.WaitExit(kExitLimit), 1U);
}

} // namespace
} // namespace Orv
