// The game language list of the launcher window: lang.ini, languages.json and the launcher's texts.
#include "launcher_window.h"

#include "ui/ui_state.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::WindowView;

class LanguageList : public Support::LauncherWindow {
protected:
    std::wstring LangIni() const { return game / L"lang\\lang.ini"; }
};

TEST_F(LanguageList, FirstFinishedRunSavesTheDefaultLanguage) {
    Publish(1);
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForDone(window));
    ASSERT_TRUE(Support::WaitUntil([&] { return Support::Exists(LangIni()); }, 10s));
    EXPECT_EQ(Support::ReadFileOrEmpty(LangIni()), "[Language]\r\nCode=en\r\n");
    EXPECT_FALSE(Support::Exists(LangIni() + L".tmp"));
    const WindowView view = Look(window);
    EXPECT_EQ(view.language, L"English");
    EXPECT_TRUE(view.languageEnabled);
    EXPECT_EQ(Support::ListEntryCount(window, IdLanguage), 2);
}

TEST_F(LanguageList, PickingTurkishSwitchesTheLauncherAtOnce) {
    Publish(2);
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForDone(window));
    const RECT subtitle{32, 58, 300, 80};
    const uint64_t englishHeader = Support::ScreenAreaHash(window, subtitle);

    ASSERT_TRUE(Support::SelectListEntry(window, IdLanguage, 1));
    EXPECT_TRUE(WaitForView(
        window, [](const WindowView& v) { return v.languageLabel == L"Oyun dili"; }, 10s));
    const WindowView view = Look(window);
    EXPECT_EQ(view.play, L"BAŞLAT");
    EXPECT_EQ(view.repair, L"Onar");
    EXPECT_EQ(view.folder, L"Oyun klasörü");
    EXPECT_EQ(view.languageLabel, L"Oyun dili");
    EXPECT_EQ(view.language, L"Türkçe");
    // The run had said "Update complete"; after a finished run the new language says the game is ready.
    EXPECT_TRUE(WaitForView(
        window, [](const WindowView& v) { return v.status == L"Oyun güncel. İyi eğlenceler!"; }, 10s));
    EXPECT_TRUE(
        Support::WaitUntil([&] { return Support::ScreenAreaHash(window, subtitle) != englishHeader; }, 10s));
    EXPECT_EQ(Support::ReadFileOrEmpty(LangIni()), "[Language]\r\nCode=tr\r\n");
    EXPECT_TRUE(LogHas("game language -> tr\r\n"));

    // The game then starts in Turkish as well.
    ASSERT_TRUE(Support::ClickControl(window, IdPlay));
    const std::wstring shown = Support::SampleClientText();
    EXPECT_NE(shown.find(L"Language: tr"), std::wstring::npos);
}

TEST_F(LanguageList, UnknownCodeShowsEnglishWithoutRewritingTheFile) {
    Publish(3);
    Support::WriteFileBytes(LangIni(), "[Language]\r\nCode=de\r\n");
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForDone(window));
    const WindowView view = Look(window);
    EXPECT_EQ(view.language, L"English");
    EXPECT_EQ(view.repair, L"Repair");
    EXPECT_EQ(Support::ReadFileOrEmpty(LangIni()), "[Language]\r\nCode=de\r\n");
    EXPECT_FALSE(LogHas("game language ->"));
}

TEST_F(LanguageList, WithoutALanguagesFileOnlyEnglishIsOfferedAndNothingIsWritten) {
    std::filesystem::remove(source / L"lang\\languages.json");
    Publish(4);
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForDone(window));
    const WindowView view = Look(window);
    EXPECT_EQ(view.language, L"English");
    EXPECT_FALSE(view.languageEnabled);
    EXPECT_EQ(Support::ListEntryCount(window, IdLanguage), 1);
    EXPECT_FALSE(Support::Exists(LangIni()));
}

TEST_F(LanguageList, LongAndLargeLanguageFilesAreReadAtStartAndAfterTheRun) {
    const std::string languages = R"([
    {"code": "en", "nativeName": "English", "enabled": true, "note": ")" +
                                  std::string(40000, 'n') + R"("},
    {"code": "tr", "nativeName": "Türkçe", "enabled": true}
])";
    // Over 2 MiB of objects nested in one another around the same two languages.
    std::string nested = "[" + languages + ",";
    size_t depth = 0;
    for (; nested.size() < (2u << 20); ++depth) {
        nested += R"({"group": {"code": "xx", "nativeName": "Off", "enabled": false}, "more": )";
    }
    nested += "[]" + std::string(depth, '}') + "]";
    int release = 5;
    for (const std::string& file : {languages, nested}) {
        // In the game folder for the start, and in the release for the list after the run.
        Support::WriteFileBytes(source / L"lang\\languages.json", file);
        Support::WriteFileBytes(game / L"lang\\languages.json", file);
        Publish(release++);
        Support::ChildProcess& launcher = Start();
        HWND window = WaitForWindow(launcher);
        ASSERT_NE(window, nullptr) << LogText();
        ASSERT_TRUE(WaitForDone(window));
        EXPECT_EQ(Support::ListEntryCount(window, IdLanguage), 2);
        EXPECT_EQ(Look(window).language, L"English");
        ASSERT_TRUE(Support::CloseWindow(window));
        EXPECT_EQ(launcher.WaitExit(Support::kExitLimit), 0U);
    }
}

} // namespace
} // namespace Orv
