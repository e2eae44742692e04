// A player's whole way with the launcher: install, first download, play, uninstall.
#include "launcher_window.h"

#include "core/text.h"
#include "install/registration.h"
#include "install/shortcut.h"
#include "partners/game_client.h"
#include "support/mirror_helpers.h"
#include "support/registry.h"
#include "support/user_install_state.h"
#include "ui/ui_state.h"

#include <gtest/gtest.h>

#include <knownfolders.h>

using namespace std::chrono_literals;

namespace Orv {
namespace {

class PlayerJourney : public Support::LauncherWindow {
protected:
    // Shortcuts and the uninstall entry as the test found them, afterwards.
    Support::UserInstallState userState;
};

TEST_F(PlayerJourney, InstallDownloadPlayAndUninstallLeaveOnlyThePlayersFiles) {
    Publish(1);
    const Support::TempFolder home(L"orvhome");
    const std::wstring folder = home / L"Games\\Orvane";

    // The downloaded launcher installs itself without a window.
    Support::ChildProcess installer =
        Support::StartProcess(exe, L"--install \"" + folder + L"\" --no-desktop", home.Path());
    ASSERT_EQ(installer.WaitExit(Support::kExitLimit), 0U);
    const std::wstring installed = folder + L"\\Orvane.exe";
    ASSERT_TRUE(Support::Exists(installed));
    const std::wstring startMenu = ShortcutPath(FOLDERID_Programs);
    ASSERT_TRUE(Support::Exists(startMenu));

    // Its first start downloads the game.
    Support::WriteFileBytes(folder + L"\\.orvane\\mirrors.txt",
                            WideToUtf8(Support::HttpBase() + mirrorName) + "/\n");
    started.push_back(Support::StartProcess(installed, L"", folder));
    Support::ChildProcess& launcher = started.back();
    HWND window = WaitForWindow(launcher);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForDone(window));
    EXPECT_TRUE(Support::Exists(folder + L"\\Engine.exe"));

    // PLAY starts the game's own login program and closes the launcher.
    ASSERT_TRUE(Support::ClickControl(window, IdPlay));
    EXPECT_EQ(launcher.WaitExit(Support::kExitLimit), 0U);
    ASSERT_TRUE(
        Support::WaitUntil([] { return !Support::SampleClientWindows().empty(); }, Support::kWindowLimit));
    Support::EndSampleClients();

    // The player's own files, and what the game leaves at the top of its folder.
    Support::WriteFileBytes(folder + L"\\notes.txt", "my notes");
    Support::WriteFileBytes(folder + L"\\screens\\shot1.png", "picture");
    Support::WriteFileBytes(folder + L"\\crash.dmp.txt", "dump");

    Support::ChildProcess remover = Support::StartProcess(installed, L"--uninstall --quiet", folder);
    EXPECT_EQ(remover.WaitExit(Support::kExitLimit), 0U);
    // The removal goes on in a copy of the launcher; the shortcuts and keys go last.
    const auto allGone = [&] {
        return !Support::Exists(installed) && !Support::Exists(startMenu) &&
               !Support::UserKeyExists(kUninstallKey) && !Support::UserKeyExists(GameClient::kRegistryRoot);
    };
    EXPECT_TRUE(Support::WaitUntil(allGone, Support::kRunLimit));
    EXPECT_EQ(Support::FilesBelow(folder), (std::vector<std::wstring>{L"notes.txt", L"screens/shot1.png"}));
    EXPECT_FALSE(Support::Exists(startMenu));
    EXPECT_FALSE(Support::UserKeyExists(kUninstallKey));
    EXPECT_FALSE(Support::UserKeyExists(GameClient::kRegistryRoot));
}

} // namespace
} // namespace Orv
