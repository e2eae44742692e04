// Install folder checks against the known folders, files and registry of the test prefix.
#include "core/com_ptr.h"
#include "core/handles.h"
#include "core/paths.h"
#include "install/install_location.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <cwctype>
#include <filesystem>

namespace Orv {
namespace {

using Support::TempFolder;

std::wstring Known(const KNOWNFOLDERID& id) {
    CoTaskMemory<wchar_t> path;
    if (FAILED(::SHGetKnownFolderPath(id, 0, nullptr, path.Put())) || path.Get() == nullptr) {
        return {};
    }
    return path.Get();
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    return text;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return text;
}

TEST(InstallFolderRule, EmptyRelativeAndBareRootsAreRefused) {
    EXPECT_FALSE(IsAcceptableInstallFolder(L""));
    EXPECT_FALSE(IsAcceptableInstallFolder(L"Games\\Orvane"));
    EXPECT_FALSE(IsAcceptableInstallFolder(L"C:Games\\Orvane"));
    EXPECT_FALSE(IsAcceptableInstallFolder(L"C:\\"));
    EXPECT_FALSE(IsAcceptableInstallFolder(L"C:"));
    EXPECT_FALSE(IsAcceptableInstallFolder(L"\\\\server\\share"));
    EXPECT_FALSE(IsAcceptableInstallFolder(L"\\\\server\\share\\"));
    EXPECT_FALSE(IsAcceptableInstallFolder(L"\\\\server"));
}

TEST(InstallFolderRule, FoldersBelowARootOutsideTheSystemFoldersAreAccepted) {
    EXPECT_TRUE(IsAcceptableInstallFolder(L"C:\\Programs\\Orvane"));
    EXPECT_TRUE(IsAcceptableInstallFolder(L"D:\\Games"));
    EXPECT_TRUE(IsAcceptableInstallFolder(L"\\\\server\\share\\Orvane"));
}

TEST(InstallFolderRule, ProgramFilesAndWindowsAreRefusedInAnyLetterCase) {
    for (const KNOWNFOLDERID* id : {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86, &FOLDERID_Windows}) {
        const std::wstring known = Known(*id);
        ASSERT_FALSE(known.empty());
        for (const std::wstring& form :
             {known, known + L"\\Orvane", Upper(known) + L"\\Orvane", Lower(known) + L"\\Games\\Orvane"}) {
            EXPECT_TRUE(IsProtectedFolder(form)) << form;
            EXPECT_FALSE(IsAcceptableInstallFolder(form)) << form;
        }
    }
}

TEST(InstallFolderRule, ASiblingThatOnlyBeginsWithTheWindowsFolderNameIsRefusedToo) {
    const std::wstring windows = Known(FOLDERID_Windows);
    ASSERT_FALSE(windows.empty());
    EXPECT_FALSE(IsAcceptableInstallFolder(windows + L"2\\Games"));
}

// A 32-bit launcher on 64-bit Windows resolves both Program Files identifiers to the x86 folder; the
// 64-bit one is known from the environment variable the system sets for every process there.
TEST(InstallFolderRule, TheNativeProgramFilesFolderIsRefusedToo) {
    wchar_t saved[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"ProgramW6432", saved, MAX_PATH);
    ::SetEnvironmentVariableW(L"ProgramW6432", L"D:\\Native Programs");
    const bool refused = !IsAcceptableInstallFolder(L"d:\\native programs\\Orvane");
    const bool besideAccepted = IsAcceptableInstallFolder(L"D:\\Games\\Orvane");
    ::SetEnvironmentVariableW(L"ProgramW6432", nullptr);
    const bool withoutAccepted = IsAcceptableInstallFolder(L"D:\\Native Programs\\Orvane");
    ::SetEnvironmentVariableW(L"ProgramW6432", length > 0 && length < MAX_PATH ? saved : nullptr);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(besideAccepted);
    EXPECT_TRUE(withoutAccepted);
}

TEST(SamePath, FormsDifferingOnlyInCaseAreTheSame) {
    TempFolder folder;
    EXPECT_TRUE(SamePath(folder.Path(), Upper(folder.Path())));
    EXPECT_TRUE(SamePath(L"C:\\Nowhere\\Orvane.exe", L"c:\\NOWHERE\\orvane.EXE"));
    EXPECT_FALSE(SamePath(L"C:\\Nowhere\\Orvane.exe", L"C:\\Nowhere\\Orvane.exe.new"));
}

TEST(SamePath, TwoFilesWithTheSameContentAreNot) {
    TempFolder folder;
    Support::WriteFileBytes(folder / L"a.exe", "MZ");
    Support::WriteFileBytes(folder / L"b.exe", "MZ");
    EXPECT_FALSE(SamePath(folder / L"a.exe", folder / L"b.exe"));
}

TEST(SamePath, ShortNameAndLongNameOfOneFileAreTheSame) {
    TempFolder folder;
    const std::wstring longName = folder / L"Orvane Launcher Folder\\Orvane.exe";
    Support::WriteFileBytes(longName, "MZ");
    wchar_t shortName[MAX_PATH] = {};
    const DWORD length = ::GetShortPathNameW(longName.c_str(), shortName, MAX_PATH);
    const std::wstring shortPath(shortName, length < MAX_PATH ? length : 0);
    if (shortPath.empty() || Lower(shortPath) == Lower(longName)) {
        GTEST_SKIP() << "the system gives no short name here";
    }
    EXPECT_TRUE(SamePath(shortPath, longName));
}

TEST(PickedFolder, EmptyFolderOrInstallationIsTakenAsItIs) {
    TempFolder empty;
    EXPECT_EQ(InstallFolderForPick(empty.Path()), empty.Path());
    TempFolder installed;
    Support::MakeDirectories(installed / L".orvane");
    EXPECT_EQ(InstallFolderForPick(installed.Path()), installed.Path());
    TempFolder game;
    Support::WriteFileBytes(game / L"Engine.exe", "MZ");
    EXPECT_EQ(InstallFolderForPick(game.Path()), game.Path());
}

TEST(PickedFolder, FolderWithOtherEntriesOrUnreadableGetsTheOrvaneSubfolder) {
    TempFolder games;
    Support::WriteFileBytes(games / L"notes.txt", "x");
    EXPECT_EQ(InstallFolderForPick(games.Path()), games / L"Orvane");
    TempFolder withFolder;
    Support::MakeDirectories(withFolder / L"Other");
    EXPECT_EQ(InstallFolderForPick(withFolder.Path()), withFolder / L"Orvane");
    EXPECT_EQ(InstallFolderForPick(games / L"missing"), games / L"missing\\Orvane");
}

// The earlier installer's record, written for the test and removed afterwards.
class DefaultFolder : public ::testing::Test {
protected:
    void SetUp() override {
        if (IsInstallFolder(kConventionalFolder) || IsInstallFolder(PerUserFolder())) {
            GTEST_SKIP() << "the prefix holds an installation at a default place";
        }
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kEarlierInstallerKey);
    }
    void TearDown() override {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kEarlierInstallerKey);
        if (!madeFolder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(madeFolder, ignored);
        }
    }

    static std::wstring PerUserFolder() { return UserProgramsFolder() + L"\\Orvane"; }

    static void RecordEarlierInstallation(const std::wstring& folder, DWORD type = REG_SZ) {
        HKEY raw = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kEarlierInstallerKey, 0, nullptr, 0, KEY_WRITE,
                                    nullptr, &raw, nullptr),
                  ERROR_SUCCESS);
        const RegKey key(raw);
        ASSERT_EQ(::RegSetValueExW(key.Get(), L"InstallLocation", 0, type,
                                   reinterpret_cast<const BYTE*>(folder.c_str()),
                                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    TempFolder earlier;
    std::wstring madeFolder; // the outermost folder the test made outside its temporary folder
};

TEST_F(DefaultFolder, WithNothingInstalledItIsTheUserProgramsFolder) {
    EXPECT_EQ(DefaultInstallFolder(), PerUserFolder());
}

TEST_F(DefaultFolder, TheEarlierInstallersFolderWhenItHoldsTheGame) {
    Support::WriteFileBytes(earlier / L"Engine.exe", "MZ");
    RecordEarlierInstallation(earlier.Path());
    EXPECT_EQ(DefaultInstallFolder(), earlier.Path());
}

TEST_F(DefaultFolder, TheEarlierInstallersFolderIsIgnoredWithoutTheGameOrAsAnotherType) {
    RecordEarlierInstallation(earlier.Path());
    EXPECT_EQ(DefaultInstallFolder(), PerUserFolder());
    Support::WriteFileBytes(earlier / L"Engine.exe", "MZ");
    RecordEarlierInstallation(earlier.Path(), REG_MULTI_SZ);
    EXPECT_EQ(DefaultInstallFolder(), PerUserFolder());
}

TEST_F(DefaultFolder, TheConventionalFolderComesBeforeTheEarlierInstallersFolder) {
    if (Support::Exists(kConventionalFolder)) {
        GTEST_SKIP() << "C:\\Games\\Orvane exists in the prefix";
    }
    madeFolder = Support::Exists(L"C:\\Games") ? kConventionalFolder : L"C:\\Games";
    Support::WriteFileBytes(std::wstring(kConventionalFolder) + L"\\Engine.exe", "MZ");
    Support::WriteFileBytes(earlier / L"Engine.exe", "MZ");
    RecordEarlierInstallation(earlier.Path());
    EXPECT_EQ(DefaultInstallFolder(), kConventionalFolder);
}

} // namespace
} // namespace Orv
