// The real Orvane.exe removing an installation: the first process hands over to its temporary copy,
// which removes the game and then itself. Watched from here through the folder, the shortcuts, the
// registry and the message boxes.
#include "launcher_window.h"

#include "core/handles.h"
#include "core/text.h"
#include "install/registration.h"
#include "install/shortcut.h"
#include "support/mirror_helpers.h"
#include "support/registry.h"
#include "support/user_install_state.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>
#include <tlhelp32.h>

namespace Orv {
namespace {

using Support::Exists;

constexpr const wchar_t* kGameKey = L"Software\\Halvex\\Kelvaro";
constexpr const wchar_t* kConfigurationKey = L"Software\\Halvex\\Kelvaro\\Configuration";

std::wstring TemporaryCopy() {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp) + L"Orvane_uninstall.exe";
}

// Ids of the running processes of the temporary copy.
std::vector<DWORD> TemporaryCopyProcesses() {
    std::vector<DWORD> ids;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return ids;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (::lstrcmpiW(entry.szExeFile, L"Orvane_uninstall.exe") == 0) {
            ids.push_back(entry.th32ProcessID);
        }
    }
    ::CloseHandle(snapshot);
    return ids;
}

// What an installation is made of on disk, in its shortcuts and in the registry.
struct InstallState {
    std::vector<std::wstring> files;
    bool startMenuShortcut = false;
    bool uninstallKey = false;
    bool gameKey = false;
    bool operator==(const InstallState&) const = default;
};

class Uninstalling : public Support::LauncherWindow {
protected:
    void SetUp() override {
        LauncherWindow::SetUp();
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        // A copy left by an earlier run would hide whether this one deletes itself.
        ::DeleteFileW(TemporaryCopy().c_str());
    }
    void TearDown() override {
        ::CoUninitialize();
        LauncherWindow::TearDown();
    }

    void AddUserFiles(std::initializer_list<const wchar_t*> relatives) const {
        for (const wchar_t* relative : relatives) {
            Support::WriteFileBytes(game / relative, "the user's");
        }
    }
    // A manifest copy as an update leaves it, listing files that exist, and the marks of an
    // installation: a Start menu shortcut and both registry keys.
    void MakeInstalled() const {
        Support::WriteFileBytes(game / L"Engine.exe", "engine");
        Support::WriteFileBytes(game / L"data\\items.txt", "items");
        Support::WriteFileBytes(game / L".orvane\\manifest.txt",
                                "format\t1\nf\t" + std::string(64, 'a') + "\t6\t6\t-\t-\tEngine.exe\nf\t" +
                                    std::string(64, 'b') + "\t5\t5\t-\t-\tdata/items.txt\n");
        ASSERT_TRUE(CreateShortcut(Support::StartMenuShortcut(), exe));
        Register(game.Path(), L"1.0.0");
        SetPreServerAddress(L"127.0.0.1:7000");
    }
    InstallState State() const {
        return {Support::FilesBelow(game.Path()), Exists(Support::StartMenuShortcut()),
                Support::UserKeyExists(kUninstallKey), Support::UserKeyExists(kGameKey)};
    }
    // Waits until the temporary copy has done its work (the registry keys go after the files) and ended.
    bool WaitForRemoval() const {
        return Support::WaitUntil(
            [] {
                return !Support::UserKeyExists(kUninstallKey) && !Support::UserKeyExists(kGameKey) &&
                       TemporaryCopyProcesses().empty();
            },
            Support::kRunLimit);
    }

    // Starts the uninstall, answers its question with yes and waits for the message that the temporary
    // copy shows at the end; null when a step does not come.
    HWND AgreeAndWaitForTheLastMessage() {
        Support::ChildProcess& first = Start(L"--uninstall");
        HWND question = nullptr;
        if (!Support::WaitUntil([&] { return (question = Support::FindMessageBox(first.Id())) != nullptr; },
                                Support::kWindowLimit) ||
            !Support::AnswerMessageBox(question, IDYES)) {
            return nullptr;
        }
        EXPECT_EQ(first.WaitExit(Support::kExitLimit), 0U);
        HWND done = nullptr;
        Support::WaitUntil(
            [&] {
                for (DWORD pid : TemporaryCopyProcesses()) {
                    if ((done = Support::FindMessageBox(pid)) != nullptr) {
                        return true;
                    }
                }
                return false;
            },
            Support::kRunLimit);
        return done;
    }

    Support::UserInstallState userState;
    Support::TempFolder other{L"orvother"};
};

TEST_F(Uninstalling, QuietRemovalAfterAnUpdateTakesTheGameAndLeavesTheUsersFiles) {
    Publish(1);
    Support::ChildProcess& update = Start(L"--auto");
    ASSERT_EQ(update.WaitExit(Support::kRunLimit), 0U) << LogText();
    const Manifest manifest = Support::ReadManifest(MirrorPath());
    ASSERT_TRUE(Exists(game / L".orvane\\manifest.txt"));
    ASSERT_TRUE(Support::UserKeyExists(kUninstallKey));
    ASSERT_TRUE(Support::UserKeyExists(kConfigurationKey));
    AddUserFiles({L"notes.txt", L"screens\\shot1.png", L"crash.dmp.txt", L"game.log", L"logs\\game.log",
                  L"Server.LOG"});
    ASSERT_TRUE(CreateShortcut(Support::StartMenuShortcut(), exe));
    Support::WriteFileBytes(other / L"Orvane.exe", "another installation");
    ASSERT_TRUE(CreateShortcut(Support::DesktopShortcut(), other / L"Orvane.exe"));

    Support::ChildProcess& first = Start(L"--uninstall --quiet");
    EXPECT_EQ(first.WaitExit(Support::kExitLimit), 0U);
    ASSERT_TRUE(WaitForRemoval());

    for (const FileEntry& entry : manifest.files) {
        EXPECT_FALSE(Exists(game / entry.path)) << WideToUtf8(entry.path);
    }
    for (const wchar_t* gone : {L"Orvane.exe", L".orvane", L"lang\\lang.ini", L"crash.dmp.txt", L"game.log",
                                L"data\\maps", L"data", L"lang"}) {
        EXPECT_FALSE(Exists(game / gone)) << WideToUtf8(gone);
    }
    for (const wchar_t* kept : {L"notes.txt", L"screens\\shot1.png", L"logs\\game.log", L"Server.LOG"}) {
        EXPECT_TRUE(Exists(game / kept)) << WideToUtf8(kept);
    }
    EXPECT_FALSE(Exists(Support::StartMenuShortcut()));
    EXPECT_TRUE(Exists(Support::DesktopShortcut()));
    EXPECT_EQ(ReadShortcutTarget(Support::DesktopShortcut()), other / L"Orvane.exe");
    // The temporary copy has the command interpreter delete it once it has ended.
    EXPECT_TRUE(Support::WaitUntil([] { return !Exists(TemporaryCopy()); }, Support::kExitLimit));
}

TEST_F(Uninstalling, FolderWithoutAManifestCopyIsLeftAsItIs) {
    MakeInstalled();
    ::DeleteFileW((game / L".orvane\\manifest.txt").c_str());
    AddUserFiles({L"game.log"});
    const InstallState before = State();

    Support::ChildProcess& run = Start(L"--uninstall-run \"" + game.Path() + L"\" --quiet");
    EXPECT_EQ(run.WaitExit(Support::kExitLimit), 2U);

    EXPECT_TRUE(State() == before);
    EXPECT_TRUE(Exists(exe));
    EXPECT_TRUE(Support::UserKeyExists(kConfigurationKey));
}

TEST_F(Uninstalling, DecliningTheQuestionLeavesEverything) {
    MakeInstalled();
    const InstallState before = State();

    Support::ChildProcess& first = Start(L"--uninstall");
    HWND box = nullptr;
    ASSERT_TRUE(Support::WaitUntil([&] { return (box = Support::FindMessageBox(first.Id())) != nullptr; },
                                   Support::kWindowLimit));
    EXPECT_EQ(Support::MessageBoxText(box), L"Remove Orvane and the downloaded game files?");
    ASSERT_TRUE(Support::AnswerMessageBox(box, IDNO));
    EXPECT_EQ(first.WaitExit(Support::kExitLimit), 1U);

    EXPECT_TRUE(State() == before);
    EXPECT_TRUE(Exists(exe));
    EXPECT_FALSE(Exists(TemporaryCopy()));
}

TEST_F(Uninstalling, AgreeingRemovesAndTellsThatTheUsersFilesWereKept) {
    MakeInstalled();
    AddUserFiles({L"notes.txt"});

    const HWND done = AgreeAndWaitForTheLastMessage();
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(Support::MessageBoxText(done), L"Orvane was removed. Files you added to the folder were kept.");
    EXPECT_FALSE(Exists(game / L"Engine.exe"));
    EXPECT_FALSE(Exists(exe));
    EXPECT_TRUE(Exists(game / L"notes.txt"));
    ASSERT_TRUE(Support::AnswerMessageBox(done, IDOK));
    EXPECT_TRUE(WaitForRemoval());
}

TEST_F(Uninstalling, AGameFileStillInUseIsLeftAndTheMessageSaysSo) {
    MakeInstalled();
    // The game still runs: its program cannot be deleted while the uninstall waits.
    FileHandle running(::CreateFileW((game / L"Engine.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(running.Valid());

    const HWND done = AgreeAndWaitForTheLastMessage();
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(Support::MessageBoxText(done),
              L"Orvane was removed, but some game files are in use and were left. "
              L"Close the game and uninstall again.");
    ASSERT_TRUE(Support::AnswerMessageBox(done, IDOK));
    EXPECT_TRUE(Support::WaitUntil([] { return TemporaryCopyProcesses().empty(); }, Support::kRunLimit));
    EXPECT_FALSE(Exists(game / L"data\\items.txt"));
    // The entry still starts an uninstall that finds what was left.
    EXPECT_TRUE(Exists(exe));
    EXPECT_TRUE(Exists(game / L".orvane\\manifest.txt"));
    EXPECT_TRUE(Support::UserKeyExists(kUninstallKey));
    running.Reset();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
}

} // namespace
} // namespace Orv
