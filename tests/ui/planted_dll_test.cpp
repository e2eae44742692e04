// DLLs planted beside the programs under the names of system DLLs they use: a winhttp.dll and a
// bcrypt.dll in a browser's download folder beside the setup program, in a game folder beside the
// launcher, and beside orvanectl. CTest runs these tests with Wine told to take those two DLLs from the
// program's folder first (WINEDLLOVERRIDES "winhttp,bcrypt=n,b"), as Windows does. A planted DLL leaves
// "<its path>.loaded" when it is loaded (tests/support/planted_dll.cpp).
#include "launcher_window.h"

#include "core/handles.h"
#include "support/mirror_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>

namespace Orv {
namespace {

using Support::BinaryFolder;
using Support::ChildProcess;
using Support::TempFolder;

constexpr const wchar_t* kPlanted[] = {L"winhttp.dll", L"bcrypt.dll"};

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

std::string Names(const std::vector<std::wstring>& names) {
    std::string text;
    for (const std::wstring& name : names) {
        text += Support::Utf8(name) + " ";
    }
    return text;
}

// Puts the planted DLLs and a copy of the program into the folder.
void Plant(const std::wstring& folder, const std::wstring& program) {
    for (const wchar_t* dll : kPlanted) {
        const std::wstring planted = BinaryFolder() + L"\\..\\planted\\" + dll;
        ASSERT_TRUE(::CopyFileW(planted.c_str(), (folder + L"\\" + dll).c_str(), FALSE))
            << Support::Utf8(planted);
    }
    const std::wstring built = BinaryFolder() + L"\\" + program;
    ASSERT_TRUE(::CopyFileW(built.c_str(), (folder + L"\\" + program).c_str(), FALSE))
        << Support::Utf8(built);
}

// The markers the planted DLLs in the folder left, in lower case and sorted ("winhttp.dll.loaded").
std::vector<std::wstring> Markers(const std::wstring& folder) {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW entry{};
    FindHandle search(::FindFirstFileW((folder + L"\\*.loaded").c_str(), &entry));
    for (bool more = search.Valid(); more; more = ::FindNextFileW(search.Get(), &entry) != FALSE) {
        found.push_back(Lower(entry.cFileName));
    }
    std::sort(found.begin(), found.end());
    return found;
}

TEST(PlantedDlls, AreLoadedByAProgramThatImportsThemStatically) {
    const TempFolder downloads(L"orvdownloads");
    Plant(downloads.Path(), L"orvstaticimports.exe");
    ChildProcess program = Support::StartProcess(downloads / L"orvstaticimports.exe", L"", downloads.Path());
    ASSERT_TRUE(program.Started()) << program.StartProblem();
    EXPECT_EQ(program.WaitExit(Support::kExitLimit), 0U);
    EXPECT_EQ(Markers(downloads.Path()),
              (std::vector<std::wstring>{L"bcrypt.dll.loaded", L"winhttp.dll.loaded"}))
        << "the planted DLLs must be loaded here, or the other tests show nothing: is WINEDLLOVERRIDES "
           "\"winhttp,bcrypt=n,b\" set (CTest sets it)?";
}

TEST(PlantedDlls, AreNotLoadedBySetupFromADownloadFolder) {
    const TempFolder downloads(L"orvdownloads");
    Plant(downloads.Path(), L"Orvane.exe");
    ChildProcess setup = Support::StartProcess(downloads / L"Orvane.exe", L"", downloads.Path());
    ASSERT_TRUE(setup.Started()) << setup.StartProblem();
    HWND window = nullptr;
    Support::WaitUntil(
        [&] { return (window = Support::FindLauncherWindow(setup.Id())) != nullptr || !setup.Running(); },
        Support::kWindowLimit);
    ASSERT_NE(window, nullptr) << "no setup window";
    EXPECT_EQ(Markers(downloads.Path()), std::vector<std::wstring>{}) << Names(Markers(downloads.Path()));
    Support::CloseWindow(window);
    EXPECT_EQ(setup.WaitExit(Support::kExitLimit), 0U);
    EXPECT_EQ(Markers(downloads.Path()), std::vector<std::wstring>{}) << Names(Markers(downloads.Path()));
}

class PlantedDllsInGame : public Support::LauncherWindow {};

TEST_F(PlantedDllsInGame, AreNotLoadedByTheLauncherThatUpdatesTheGame) {
    Publish(1);
    Plant(game.Path(), L"Orvane.exe");
    const HWND window = Open();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForDone(window)) << LogText();
    EXPECT_TRUE(Support::Exists(game / L"Engine.exe"));
    EXPECT_TRUE(Support::Exists(game / L"winhttp.dll"));
    EXPECT_EQ(Markers(game.Path()), std::vector<std::wstring>{}) << Names(Markers(game.Path()));
    Support::CloseWindow(window);
    EXPECT_EQ(started.back().WaitExit(Support::kExitLimit), 0U);
}

TEST_F(PlantedDllsInGame, AreNotLoadedByOrvanectlThatUpdatesTheGame) {
    Publish(1);
    const TempFolder tools(L"orvtools");
    Plant(tools.Path(), L"orvanectl.exe");
    const std::wstring output = tools / L"output.txt";
    ChildProcess update = Support::StartProcess(tools / L"orvanectl.exe", L"update \"" + game.Path() + L"\"",
                                                tools.Path(), output);
    ASSERT_TRUE(update.Started()) << update.StartProblem();
    const auto code = update.WaitExit(Support::kRunLimit);
    update.Kill();
    EXPECT_EQ(code, 0U) << Support::ReadFileOrEmpty(output);
    EXPECT_TRUE(Support::Exists(game / L"Engine.exe"));
    EXPECT_EQ(Markers(tools.Path()), std::vector<std::wstring>{}) << Names(Markers(tools.Path()));
}

} // namespace
} // namespace Orv
