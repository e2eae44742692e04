#include "core/file_io.h"
#include "core/instance_lock.h"
#include "core/paths.h"
#include "lang/game_language.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace Orv {
namespace {

using Support::TempFolder;
using Support::WriteFileBytes;

TEST(InstanceLock, NameHashesThePathTextAsItStands) {
    EXPECT_EQ(InstanceLockName(L"C:\\Games"), L"Local\\OrvaneLauncher_497890645");
    EXPECT_EQ(InstanceLockName(L"C:\\games"), L"Local\\OrvaneLauncher_2065408053");
    EXPECT_EQ(Fnv1a(L""), 2166136261U);
}

TEST(InstanceLock, HighBytesOfNonAsciiUnitsCount) {
    EXPECT_NE(Fnv1a(L"C:\\Oyunlar\\\u0130"), Fnv1a(L"C:\\Oyunlar\\0"));
}

TEST(InstallFolder, DataFolderDirectoryMarksAnInstallation) {
    TempFolder folder;
    EXPECT_FALSE(IsInstallFolder(folder.Path()));
    Support::MakeDirectories(folder / L".orvane");
    EXPECT_TRUE(IsInstallFolder(folder.Path()));
}

TEST(InstallFolder, DataFolderThatIsAFileDoesNot) {
    TempFolder folder;
    WriteFileBytes(folder / L".orvane", "x");
    EXPECT_FALSE(IsInstallFolder(folder.Path()));
}

TEST(InstallFolder, EngineExeFileMarksAnInstallationButADirectoryDoesNot) {
    TempFolder folder;
    Support::MakeDirectories(folder / L"Engine.exe");
    EXPECT_FALSE(IsInstallFolder(folder.Path()));
    TempFolder other;
    WriteFileBytes(other / L"Engine.exe", "MZ");
    EXPECT_TRUE(IsInstallFolder(other.Path()));
}

TEST(InstallFolder, EmptyOrMissingFolderIsNone) {
    EXPECT_FALSE(IsInstallFolder(L""));
    EXPECT_FALSE(IsInstallFolder(L"Q:\\does\\not\\exist"));
}

TEST(Paths, ParentFolderDropsTheLastComponentAndItsSeparators) {
    EXPECT_EQ(ParentFolder(L"D:\\Games\\Orvane\\Orvane.exe"), L"D:\\Games\\Orvane");
    EXPECT_EQ(ParentFolder(L"D:\\Games\\\\Orvane.exe"), L"D:\\Games");
    EXPECT_EQ(ParentFolder(L"C:\\Orvane.exe"), L"C:\\");
    EXPECT_EQ(JoinPath(L"C:\\", L"a"), L"C:\\a");
    EXPECT_EQ(JoinPath(L"C:\\g", L".orvane"), L"C:\\g\\.orvane");
}

TEST(Paths, FileSystemCallsGetTheFullNormalisedExtendedLengthPath) {
    EXPECT_EQ(LongPath(L"C:\\Games\\Orvane\\data\\x.bin"), L"\\\\?\\C:\\Games\\Orvane\\data\\x.bin");
    EXPECT_EQ(LongPath(L"C:/Games/./Orvane/data/../ui/x.txt"), L"\\\\?\\C:\\Games\\Orvane\\ui\\x.txt");
    EXPECT_EQ(LongPath(L"\\\\server\\share\\Games\\x.bin"), L"\\\\?\\UNC\\server\\share\\Games\\x.bin");
    EXPECT_EQ(LongPath(L"\\\\?\\C:\\already\\..\\as it is"), L"\\\\?\\C:\\already\\..\\as it is");
    wchar_t current[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_EQ(LongPath(L"relative.txt"), LongPath(JoinPath(current, L"relative.txt")));
    const std::wstring deep = L"C:\\" + std::wstring(300, L'd') + L"\\file.txt";
    EXPECT_EQ(LongPath(deep), L"\\\\?\\" + deep);
}

TEST(Paths, FoldersAndFilesBeyond260CharactersAreMade) {
    TempFolder folder;
    std::wstring deep = folder.Path();
    while (deep.size() < 400) {
        deep = JoinPath(deep, L"a folder with a rather long name");
    }
    ASSERT_EQ(EnsureFolder(deep), 0U);
    EXPECT_TRUE(IsDirectory(deep));
    const std::wstring file = JoinPath(deep, L"settings.ini");
    ASSERT_TRUE(ReplaceFileBytes(file, "[video]\n"));
    EXPECT_EQ(ReadFileBytes(file), std::optional<std::string>("[video]\n"));
    EXPECT_TRUE(IsRegularFile(file));
}

TEST(Paths, ExecutablePathIsThisProgram) {
    const std::wstring path = ExecutablePath();
    EXPECT_EQ(path.substr(path.size() - 14), L"core_tests.exe");
    EXPECT_TRUE(IsRegularFile(path));
}

class GameLanguageFile : public ::testing::Test {
protected:
    void Write(const std::string& bytes) { WriteFileBytes(folder / L"lang\\lang.ini", bytes); }
    std::string Read() { return ReadGameLanguage(folder.Path()); }
    TempFolder folder;
};

TEST_F(GameLanguageFile, MissingFileGivesNoCode) {
    EXPECT_EQ(Read(), "");
}

TEST_F(GameLanguageFile, ReadsTheLanguageSection) {
    Write("[Language]\r\nCode=tr\r\n");
    EXPECT_EQ(Read(), "tr");
}

TEST_F(GameLanguageFile, ByteOrderMarkCrLfAndTrailingSpacesAreTolerated) {
    Write("\xEF\xBB\xBF[Language]  \r\r\nCode=de  \r\n");
    EXPECT_EQ(Read(), "de");
}

TEST_F(GameLanguageFile, KeyIsCaseSensitive) {
    Write("[Language]\ncode=tr\n");
    EXPECT_EQ(Read(), "");
}

TEST_F(GameLanguageFile, CodeOutsideTheSectionIsIgnoredAndTheFirstInsideWins) {
    Write("Code=xx\n[Other]\nCode=yy\n[Language]\nName=z\nCode= en\nCode=tr\n");
    EXPECT_EQ(Read(), " en");
}

TEST_F(GameLanguageFile, EmptyCodeIsEmpty) {
    Write("[Language]\nCode=\n");
    EXPECT_EQ(Read(), "");
}

} // namespace
} // namespace Orv
