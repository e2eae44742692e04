// The removal run in this process, on real folders, shortcuts and the registry of the test prefix.
#include "core/log.h"
#include "core/text.h"
#include "install/registration.h"
#include "install/shortcut.h"
#include "install/uninstall.h"
#include "update/trust/release_floor.h"
#include "support/process.h"
#include "support/registry.h"
#include "support/user_install_state.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>

#include <initializer_list>
#include <regex>

namespace Orv {
namespace {

using Support::Exists;
using Support::TempFolder;

constexpr const wchar_t* kGameKey = L"Software\\Halvex\\Kelvaro";
constexpr const wchar_t* kConfigurationKey = L"Software\\Halvex\\Kelvaro\\Configuration";

void WriteKeys(const std::wstring& folder) {
    Register(folder, L"1.0.0");
    SetPreServerAddress(L"127.0.0.1:7000");
}

// A manifest of format 1 listing the paths, as the update run keeps it.
std::string ManifestOf(std::initializer_list<const char*> paths) {
    std::string text = "format\t1\nrelease\t4\n";
    for (const char* path : paths) {
        text += "f\t" + std::string(64, 'a') + "\t1\t1\t-\t-\t" + path + "\n";
    }
    return text;
}

// A file opened without delete sharing, so it cannot be deleted while the object lives.
class HeldOpen {
public:
    explicit HeldOpen(const std::wstring& path)
        : handle_(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr)) {}
    ~HeldOpen() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
    }
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;
    bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

class Removal : public ::testing::Test {
protected:
    void SetUp() override {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        OpenLog(logs / L"launcher.log");
        ClearKeys();
    }
    void TearDown() override {
        ClearKeys();
        ::CoUninitialize();
    }
    static void ClearKeys() {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kGameKey);
    }

    std::wstring At(const std::wstring& relative) const { return game / relative; }
    void Add(std::initializer_list<const wchar_t*> relatives) const {
        for (const wchar_t* relative : relatives) {
            Support::WriteFileBytes(At(relative), "bytes");
        }
    }
    void WriteManifestCopy(const std::string& text) const {
        Support::WriteFileBytes(At(L".orvane\\manifest.txt"), text);
    }
    // The number of files the "uninstalled" line of the log reports for the game folder; -1 without it.
    int LoggedCount() const {
        const std::string log = Support::ReadFileOrEmpty(logs / L"launcher.log");
        const std::wstring folder = game.Path();
        const std::string prefix = " uninstalled " + std::string(folder.begin(), folder.end()) + " (";
        const size_t at = log.find(prefix);
        if (at == std::string::npos) {
            return -1;
        }
        std::smatch match;
        const std::string rest = log.substr(at + prefix.size());
        if (!std::regex_search(rest, match, std::regex(R"(^(\d+) files\)\r\n)"))) {
            return -1;
        }
        return std::stoi(match[1]);
    }

    TempFolder logs{L"orvlog"};
    TempFolder game{L"orvgame"};
    TempFolder other{L"orvother"};
    Support::UserInstallState userState;
};

TEST_F(Removal, ListedFilesAndTheLaunchersOwnGoWhileTheUsersFilesStay) {
    WriteManifestCopy(ManifestOf(
        {"Engine.exe", "data/items.txt", "data/maps/harbor.map", "lang/en/strings.txt", "Orvane.exe"}));
    Add({L"Engine.exe", L"data\\items.txt", L"data\\maps\\harbor.map", L"lang\\en\\strings.txt",
         L"Orvane.exe"});
    // Staging leftovers, the launcher's and the client's unlisted files, and the data folder's content.
    Add({L"data\\items.txt.ovnew", L"data\\maps\\harbor.map.ovnew", L"option.sys", L"setupinfo.ver",
         L"lang\\lang.ini", L"Orvane.exe.old", L"Orvane.exe.new", L".orvane\\launcher.log",
         L".orvane\\download\\ab\\part.ovnew", L".orvane\\mirrors.txt"});
    // Dumps and logs at the top go; with other case, deeper down or as folders they stay.
    Add({L"crash.dmp.txt", L"crash.dmp", L"client.log", L"GAME.LOG", L"Report.DMP", L"logs\\game.log",
         L"old.log\\keep.txt"});
    // The user's own files, one of them in a folder the manifest uses.
    Add({L"notes.txt", L"screens\\shot1.png", L"data\\mods\\mine.txt"});

    EXPECT_EQ(UninstallRun(game.Path(), 0, true), 0);

    for (const wchar_t* gone :
         {L"Engine.exe", L"data\\items.txt", L"data\\maps\\harbor.map", L"lang\\en\\strings.txt",
          L"Orvane.exe", L"data\\items.txt.ovnew", L"data\\maps\\harbor.map.ovnew", L"option.sys",
          L"setupinfo.ver", L"lang\\lang.ini", L"Orvane.exe.old", L"Orvane.exe.new", L".orvane",
          L"crash.dmp.txt", L"crash.dmp", L"client.log", L"data\\maps", L"lang"}) {
        EXPECT_FALSE(Exists(At(gone))) << WideToUtf8(gone);
    }
    for (const wchar_t* kept : {L"GAME.LOG", L"Report.DMP", L"logs\\game.log", L"old.log\\keep.txt",
                                L"notes.txt", L"screens\\shot1.png", L"data\\mods\\mine.txt"}) {
        EXPECT_TRUE(Exists(At(kept))) << WideToUtf8(kept);
    }
    EXPECT_EQ(LoggedCount(), 5);
}

TEST_F(Removal, NothingOfTheUsersLeftRemovesTheFolderItsShortcutsAndBothKeys) {
    WriteManifestCopy(ManifestOf({"Engine.exe", "data/maps/harbor.map"}));
    Add({L"Engine.exe", L"data\\maps\\harbor.map", L"Orvane.exe", L"game.log"});
    Add({L".orvane\\launcher.log"});
    const std::wstring launcher = At(L"Orvane.exe");
    Support::WriteFileBytes(other / L"Orvane.exe", "another installation");
    ASSERT_TRUE(CreateShortcut(Support::DesktopShortcut(), launcher));
    ASSERT_TRUE(CreateShortcut(Support::StartMenuShortcut(), other / L"Orvane.exe"));
    WriteKeys(game.Path());
    RaiseReleaseFloor(game.Path(), 9);
    ASSERT_TRUE(Support::UserKeyExists(kUninstallKey));
    ASSERT_TRUE(Support::UserKeyExists(kConfigurationKey));

    EXPECT_EQ(UninstallRun(game.Path(), 0, true), 0);
    EXPECT_FALSE(ReadReleaseFloor(game.Path()));

    EXPECT_FALSE(Exists(game.Path()));
    EXPECT_FALSE(Exists(Support::DesktopShortcut()));
    ASSERT_TRUE(Exists(Support::StartMenuShortcut()));
    EXPECT_EQ(ReadShortcutTarget(Support::StartMenuShortcut()), other / L"Orvane.exe");
    EXPECT_FALSE(Support::UserKeyExists(kUninstallKey));
    EXPECT_FALSE(Support::UserKeyExists(kGameKey));
    EXPECT_EQ(LoggedCount(), 2);
}

TEST_F(Removal, AFileThatStaysHeldIsLeftWithTheLauncherTheManifestCopyAndTheEntry) {
    WriteManifestCopy(ManifestOf({"here.txt", "gone-already.txt", "busy/held.txt", "Orvane.exe"}));
    Add({L"here.txt", L"busy\\held.txt", L"Orvane.exe"});
    WriteKeys(game.Path());
    const HeldOpen held(At(L"busy\\held.txt"));
    ASSERT_TRUE(held.Held());

    EXPECT_EQ(UninstallRun(game.Path(), 0, true), 0);

    EXPECT_FALSE(Exists(At(L"here.txt")));
    EXPECT_TRUE(Exists(At(L"busy\\held.txt")));
    // What an uninstall run again needs to find and remove what was left.
    EXPECT_TRUE(Exists(At(L"Orvane.exe")));
    EXPECT_TRUE(Exists(At(L".orvane\\manifest.txt")));
    EXPECT_TRUE(Support::UserKeyExists(kUninstallKey));
    EXPECT_EQ(LoggedCount(), 1);
}

TEST_F(Removal, FilesThatAScannerHoldsForMomentsGoAllTheSame) {
    WriteManifestCopy(ManifestOf({"Engine.exe", "data/items.txt", "Orvane.exe"}));
    Add({L"Engine.exe", L"data\\items.txt", L"Orvane.exe", L"option.sys"});
    WriteKeys(game.Path());
    Support::ChildProcess holder = Support::HoldFilesForMoments(
        {At(L"Engine.exe"), At(L"data\\items.txt"), At(L"Orvane.exe"), At(L"option.sys")}, 400, 100, 4000);

    EXPECT_EQ(UninstallRun(game.Path(), 0, true), 0);
    holder.WaitExit(std::chrono::seconds(30));

    EXPECT_FALSE(Exists(game.Path()));
    EXPECT_FALSE(Support::UserKeyExists(kUninstallKey));
    EXPECT_EQ(LoggedCount(), 3);
}

TEST_F(Removal, UnreadableManifestCopyKeepsTheGameFilesButRemovesTheLaunchersOwn) {
    // A newer format: the list cannot be trusted, so no game file is touched.
    WriteManifestCopy("format\t2\n" + ManifestOf({"Engine.exe", "data/items.txt"}).substr(9));
    Add({L"Engine.exe", L"data\\items.txt", L"Orvane.exe", L"option.sys", L"lang\\lang.ini",
         L".orvane\\launcher.log"});
    ASSERT_TRUE(CreateShortcut(Support::StartMenuShortcut(), At(L"Orvane.exe")));
    WriteKeys(game.Path());

    EXPECT_EQ(UninstallRun(game.Path(), 0, true), 0);

    EXPECT_TRUE(Exists(At(L"Engine.exe")));
    EXPECT_TRUE(Exists(At(L"data\\items.txt")));
    for (const wchar_t* gone : {L"Orvane.exe", L"option.sys", L"lang\\lang.ini", L".orvane"}) {
        EXPECT_FALSE(Exists(At(gone))) << WideToUtf8(gone);
    }
    EXPECT_FALSE(Exists(Support::StartMenuShortcut()));
    EXPECT_FALSE(Support::UserKeyExists(kUninstallKey));
    EXPECT_FALSE(Support::UserKeyExists(kGameKey));
    EXPECT_EQ(LoggedCount(), 0);
}

TEST_F(Removal, ManifestPathsLeadingOutOfTheFolderRemoveNothingOutside) {
    const std::wstring victim = other / L"victim.txt";
    const std::wstring otherName = other.Path().substr(other.Path().find_last_of(L'\\') + 1);
    const std::string climbing = "../" + WideToUtf8(otherName) + "/victim.txt";
    const std::string absolute = WideToUtf8(victim);
    for (const std::string& outside : {climbing, absolute}) {
        SCOPED_TRACE(outside);
        Support::WriteFileBytes(victim, "not the launcher's");
        WriteManifestCopy(ManifestOf({"Engine.exe", outside.c_str()}));
        Add({L"Engine.exe"});

        EXPECT_EQ(UninstallRun(game.Path(), 0, true), 0);

        EXPECT_TRUE(Exists(victim));
        EXPECT_TRUE(Exists(At(L"Engine.exe")));
    }
}

// The temporary copy is held open for writing, as a scanner might, so the system refuses to start it.
TEST_F(Removal, HandOverThatCannotStartRemovesInThisProcess) {
    WriteManifestCopy(ManifestOf({"Engine.exe", "data/items.txt"}));
    Add({L"Engine.exe", L"data\\items.txt", L"user.txt"});
    const TempFolder temporary(L"orvtmp");
    const std::wstring copy = temporary / L"Orvane_uninstall.exe";
    const HANDLE writer = ::CreateFileW(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    wchar_t savedTmp[MAX_PATH] = {};
    const bool hadTmp = ::GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH) > 0;
    ::SetEnvironmentVariableW(L"TMP", temporary.Path().c_str());
    // Should the copy start after all, it is this test program: it must run no test.
    ::SetEnvironmentVariableW(L"GTEST_FILTER", L"-*");

    const int result = Uninstall(game.Path(), true);

    ::SetEnvironmentVariableW(L"GTEST_FILTER", nullptr);
    ::SetEnvironmentVariableW(L"TMP", hadTmp ? savedTmp : nullptr);
    ::CloseHandle(writer);
    EXPECT_EQ(result, 0);
    const std::string log = Support::ReadFileOrEmpty(logs / L"launcher.log");
    EXPECT_NE(log.find(" CreateProcess " + WideToUtf8(copy) + ": "), std::string::npos) << log;
    EXPECT_FALSE(Exists(At(L"Engine.exe")));
    EXPECT_FALSE(Exists(At(L"data")));
    EXPECT_TRUE(Exists(At(L"user.txt")));
    EXPECT_EQ(LoggedCount(), 2);
}

} // namespace
} // namespace Orv
