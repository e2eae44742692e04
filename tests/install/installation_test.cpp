// Installing into real folders of the test prefix, with its real shortcuts and registry.
#include "support/registry.h"
#include "core/com_ptr.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "install/installation.h"
#include "install/registration.h"
#include "support/process.h"
#include "support/test_folder.h"
#include "support/user_install_state.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <algorithm>
#include <optional>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::Exists;
using Support::ReadFileOrEmpty;
using Support::TempFolder;

// What a shell link holds.
struct ShortcutFacts {
    std::wstring target;
    std::wstring workingFolder;
    std::wstring iconPath;
    int iconIndex = -1;
    std::wstring description;
};

std::optional<ShortcutFacts> ReadShortcut(const std::wstring& path) {
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.PutVoid())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid())) ||
        FAILED(file->Load(path.c_str(), STGM_READ))) {
        return std::nullopt;
    }
    ShortcutFacts facts;
    wchar_t text[MAX_PATH] = {};
    link->GetPath(text, MAX_PATH, nullptr, 0);
    facts.target = text;
    text[0] = L'\0';
    link->GetWorkingDirectory(text, MAX_PATH);
    facts.workingFolder = text;
    text[0] = L'\0';
    link->GetIconLocation(text, MAX_PATH, &facts.iconIndex);
    facts.iconPath = text;
    text[0] = L'\0';
    link->GetDescription(text, MAX_PATH);
    facts.description = text;
    return facts;
}

DWORD UninstallValueCount() {
    HKEY raw = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) {
        return 0;
    }
    const RegKey key(raw);
    DWORD values = 0;
    ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr);
    return values;
}

std::optional<uint64_t> FileIdentity(const std::wstring& path) {
    const FileHandle file(::CreateFileW(path.c_str(), 0,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !::GetFileInformationByHandle(file.Get(), &info)) {
        return std::nullopt;
    }
    return (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// The shell may store a path in another letter case.
bool SameText(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

size_t LineCount(const std::wstring& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), L'\n')) + 1;
}

std::string Utf8(const std::wstring& text) {
    return WideToUtf8(text);
}

class Installing : public ::testing::Test {
protected:
    void SetUp() override {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        SetTurkish(false);
        OpenLog(logFolder / L"launcher.log");
    }
    void TearDown() override { ::CoUninitialize(); }

    std::string LogText() const { return ReadFileOrEmpty(logFolder / L"launcher.log"); }

    Support::UserInstallState userState;
    TempFolder logFolder{L"orvlog"};
    TempFolder home{L"orvhome"};
};

// The child run: installs into the folder it runs from, as a launcher copied there under its own name.
TEST(InstallChild, InstallsIntoTheFolderItRunsFrom) {
    const wchar_t* out = _wgetenv(L"ORV_INSTALL_RESULT");
    if (out == nullptr) {
        GTEST_SKIP() << "only runs as a child";
    }
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const InstallResult result = Install(ParentFolder(ExecutablePath()), false);
    Support::WriteFileBytes(out, result.ok ? "ok" : Utf8(result.message));
}

TEST_F(Installing, NewFolderGetsTheLauncherDataFolderStartMenuShortcutAndEntry) {
    const std::wstring folder = home / L"Games\\Orvane Beta";
    const InstallResult result = Install(folder, false);
    ASSERT_TRUE(result.ok) << Utf8(result.message);
    EXPECT_TRUE(result.message.empty());

    const std::wstring exe = folder + L"\\Orvane.exe";
    EXPECT_EQ(ReadFileOrEmpty(exe), ReadFileOrEmpty(ExecutablePath()));
    EXPECT_FALSE(Exists(exe + L".new"));
    EXPECT_TRUE(IsDirectory(folder + L"\\.orvane"));

    const auto shortcut = ReadShortcut(userState.StartMenuShortcut());
    ASSERT_TRUE(shortcut.has_value());
    EXPECT_TRUE(SameText(shortcut->target, exe));
    EXPECT_TRUE(SameText(shortcut->workingFolder, folder));
    EXPECT_TRUE(SameText(shortcut->iconPath, exe));
    EXPECT_EQ(shortcut->iconIndex, 0);
    EXPECT_EQ(shortcut->description, L"Orvane");
    EXPECT_FALSE(Exists(userState.DesktopShortcut()));

    EXPECT_EQ(UninstallValueCount(), 10U);
    EXPECT_EQ(Support::UserString(kUninstallKey, L"InstallLocation"), folder);
    EXPECT_FALSE(Support::UserString(kUninstallKey, L"DisplayVersion").has_value());
    EXPECT_NE(LogText().find(" installed to " + Utf8(folder) + "\r\n"), std::string::npos) << LogText();
}

TEST_F(Installing, WithTheDesktopOptionBothShortcutsStartTheInstalledLauncher) {
    const std::wstring folder = home / L"Orvane";
    ASSERT_TRUE(Install(folder, true).ok);
    for (const std::wstring& path : {userState.DesktopShortcut(), userState.StartMenuShortcut()}) {
        const auto shortcut = ReadShortcut(path);
        ASSERT_TRUE(shortcut.has_value()) << Utf8(path);
        EXPECT_TRUE(SameText(shortcut->target, folder + L"\\Orvane.exe"));
        EXPECT_TRUE(SameText(shortcut->workingFolder, folder));
        EXPECT_EQ(shortcut->description, L"Orvane");
    }
}

TEST_F(Installing, OverAnEarlierInstallationTheLauncherIsReplacedAndAStaleCopyConsumed) {
    const std::wstring folder = home.Path();
    Support::WriteFileBytes(folder + L"\\Orvane.exe", "previous launcher");
    Support::WriteFileBytes(folder + L"\\Orvane.exe.new", "left by an earlier attempt");
    Support::WriteFileBytes(folder + L"\\.orvane\\filecache.txt", "kept");
    ASSERT_TRUE(Install(folder, false).ok);
    EXPECT_EQ(ReadFileOrEmpty(folder + L"\\Orvane.exe"), ReadFileOrEmpty(ExecutablePath()));
    EXPECT_FALSE(Exists(folder + L"\\Orvane.exe.new"));
    EXPECT_EQ(ReadFileOrEmpty(folder + L"\\.orvane\\filecache.txt"), "kept");
}

TEST_F(Installing, IntoTheFolderTheLauncherRunsFromNothingIsCopied) {
    const std::wstring exe = home / L"Orvane.exe";
    ASSERT_TRUE(::CopyFileW(ExecutablePath().c_str(), exe.c_str(), FALSE));
    const auto identity = FileIdentity(exe);
    ASSERT_TRUE(identity.has_value());
    const std::wstring result = home / L"result.txt";
    ::SetEnvironmentVariableW(L"ORV_INSTALL_RESULT", result.c_str());
    Support::ChildProcess child = Support::StartProcess(exe, L"--gtest_filter=InstallChild.*", home.Path());
    ::SetEnvironmentVariableW(L"ORV_INSTALL_RESULT", nullptr);
    ASSERT_TRUE(child.Started()) << child.StartProblem();
    EXPECT_EQ(child.WaitExit(60s), 0U);
    EXPECT_EQ(ReadFileOrEmpty(result), "ok");
    EXPECT_EQ(FileIdentity(exe), identity);
    EXPECT_FALSE(Exists(exe + L".new"));
    EXPECT_TRUE(IsDirectory(home / L".orvane"));
    const auto shortcut = ReadShortcut(userState.StartMenuShortcut());
    ASSERT_TRUE(shortcut.has_value());
    EXPECT_TRUE(SameText(shortcut->target, exe));
    EXPECT_EQ(Support::UserString(kUninstallKey, L"InstallLocation"), home.Path());
}

TEST_F(Installing, FolderOnADriveThatDoesNotExistFailsWithThreeLinesAndLeavesNothing) {
    const std::wstring drive = Support::MissingDrive();
    ASSERT_FALSE(drive.empty());
    const std::wstring folder = drive + L"\\Games\\Orvane";
    const InstallResult result = Install(folder, true);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message.rfind(L"Cannot create the folder:\n" + folder + L"\n", 0), 0U)
        << Utf8(result.message);
    EXPECT_EQ(LineCount(result.message), 3U);
    EXPECT_NE(result.message.back(), L'\n');
    EXPECT_FALSE(Exists(userState.StartMenuShortcut()));
    EXPECT_FALSE(Exists(userState.DesktopShortcut()));
    EXPECT_EQ(UninstallValueCount(), 0U);
    EXPECT_EQ(LogText().find("installed to"), std::string::npos);

    SetTurkish(true);
    const InstallResult turkish = Install(folder, false);
    SetTurkish(false);
    EXPECT_EQ(turkish.message.rfind(L"Klasör oluşturulamadı:\n" + folder + L"\n", 0), 0U);
}

TEST_F(Installing, AFileNamedLikeTheDataFolderStopsTheInstallation) {
    Support::WriteFileBytes(home / L".orvane", "in the way");
    const InstallResult result = Install(home.Path(), false);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message.rfind(L"Cannot create the folder:\n" + home.Path() + L"\n", 0), 0U)
        << Utf8(result.message);
    EXPECT_FALSE(Exists(home / L"Orvane.exe"));
    EXPECT_EQ(UninstallValueCount(), 0U);
}

TEST_F(Installing, LauncherHeldOpenInTheTargetFailsTheCopyAndStaysWhole) {
    const std::wstring exe = home / L"Orvane.exe";
    Support::WriteFileBytes(exe, "running launcher");
    // Open like a running program's image: others may read it, nobody may delete or replace it.
    FileHandle held(
        ::CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.Valid());
    const InstallResult result = Install(home.Path(), true);
    held.Reset();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message.rfind(L"Cannot copy the launcher:\n", 0), 0U) << Utf8(result.message);
    EXPECT_EQ(LineCount(result.message), 2U);
    EXPECT_EQ(ReadFileOrEmpty(exe), "running launcher");
    EXPECT_TRUE(IsDirectory(home / L".orvane"));
    EXPECT_FALSE(Exists(userState.StartMenuShortcut()));
    EXPECT_FALSE(Exists(userState.DesktopShortcut()));
    EXPECT_EQ(UninstallValueCount(), 0U);
}

} // namespace
} // namespace Orv
