#include "lang/language_list.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

namespace Orv {

// Readable failure output for entry lists.
void PrintTo(const LanguageEntry& entry, std::ostream* out) {
    *out << '(' << entry.code << ", " << ::testing::PrintToString(entry.nativeName) << ')';
}

bool operator==(const LanguageEntry& a, const LanguageEntry& b) {
    return a.code == b.code && a.nativeName == b.nativeName;
}

namespace {

using Support::MakeDirectories;
using Support::TempFolder;
using Support::WriteFileBytes;

using Entries = std::vector<LanguageEntry>;

const Entries kEnglishOnly = {{"en", L"English"}};

TEST(ParseLanguages, EnabledInnermostObjectsInFileOrder) {
    const char* json = R"({
  "default": "en",
  "languages": [
    {"code": "en", "nativeName": "English", "enabled": true},
    {"code": "de", "nativeName": "Deutsch", "enabled": true},
    {"code": "tr", "nativeName": "Türkçe", "enabled": true}
  ],
  "code": "outer",
  "nativeName": "Outer",
  "enabled": true
})";
    // The outer object holds the list, so it is never an entry even with a code and "enabled": true.
    EXPECT_EQ(ParseLanguages(json), (Entries{{"en", L"English"}, {"de", L"Deutsch"}, {"tr", L"Türkçe"}}));
}

TEST(ParseLanguages, OnlyEnabledTrueIsOffered) {
    const char* json = R"([
    {"code": "en", "nativeName": "English", "enabled": true},
    {"code": "fr", "nativeName": "Français"},
    {"code": "es", "nativeName": "Español", "enabled": false},
    {"code": "it", "nativeName": "Italiano", "enabled": "true"},
    {"code": "pl", "nativeName": "Polski", "enabled":true}
])";
    EXPECT_EQ(ParseLanguages(json), (Entries{{"en", L"English"}, {"pl", L"Polski"}}));
}

TEST(ParseLanguages, NameIsTheCodeWhenMissing) {
    EXPECT_EQ(ParseLanguages(R"([{"code": "pt-BR", "enabled": true}])"), (Entries{{"pt-BR", L"pt-BR"}}));
}

TEST(ParseLanguages, FirstCodeInAnObjectWins) {
    EXPECT_EQ(ParseLanguages(R"([{"code": "de", "nativeName": "Deutsch", "code": "fr", "enabled": true}])"),
              (Entries{{"de", L"Deutsch"}}));
    // A "code" without a quoted, non-empty value is passed over for the next one.
    EXPECT_EQ(ParseLanguages(R"([{"code": "", "code": 5, "code" : "fr", "enabled": true}])"),
              (Entries{{"fr", L"fr"}}));
}

TEST(ParseLanguages, LongValuesAndDeepNestingAreRead) {
    const std::string note(40000, 'n');
    EXPECT_EQ(ParseLanguages(R"([{"code": "tr", "note": ")" + note +
                             R"(", "nativeName": "Türkçe", "enabled": true}])"),
              (Entries{{"tr", L"Türkçe"}}));
    std::string deep;
    for (int level = 0; level < 100000; ++level) {
        deep += R"({"next": )";
    }
    deep += R"({"code": "de", "enabled": true})" + std::string(100000, '}');
    EXPECT_EQ(ParseLanguages(deep), (Entries{{"de", L"de"}}));
}

TEST(ParseLanguages, DuplicatesAreKept) {
    const char* json = R"([
    {"code": "tr", "nativeName": "Türkçe", "enabled": true},
    {"code": "tr", "nativeName": "Turkish", "enabled": true}
])";
    EXPECT_EQ(ParseLanguages(json), (Entries{{"tr", L"Türkçe"}, {"tr", L"Turkish"}}));
}

TEST(ParseLanguages, EscapesStayAsWrittenAndUtf8IsDecoded) {
    // In the raw literal the escape is six characters of the file, as a JSON writer would leave it.
    const char* json = R"([
    {"code": "fr", "nativeName": "Fran\u00e7ais", "enabled": true},
    {"code": "tr", "nativeName": "Türkçe", "enabled": true}
])";
    EXPECT_EQ(ParseLanguages(json), (Entries{{"fr", L"Fran\\u00e7ais"}, {"tr", L"T\u00fcrk\u00e7e"}}));
}

TEST(ParseLanguages, WhitespaceAroundColonsIsAllowed) {
    const char* json = "[{\"code\" :\t\"ja\" ,\r\n \"nativeName\"\n:  \"日本語\", \"enabled\"  :\r\n true }]";
    EXPECT_EQ(ParseLanguages(json), (Entries{{"ja", L"\u65e5\u672c\u8a9e"}}));
}

TEST(ParseLanguages, KeyNamesAreCaseSensitive) {
    // "Enabled" does not enable, "Code" is no code, "NativeName" is no name.
    const char* json = R"([
    {"code": "de", "nativeName": "Deutsch", "Enabled": true},
    {"Code": "fr", "nativeName": "Français", "enabled": true},
    {"code": "nl", "NativeName": "Nederlands", "enabled": true}
])";
    EXPECT_EQ(ParseLanguages(json), (Entries{{"nl", L"nl"}}));
}

TEST(ParseLanguages, NothingOfferedGivesEnglish) {
    EXPECT_EQ(ParseLanguages(""), kEnglishOnly);
    EXPECT_EQ(ParseLanguages("not json at all"), kEnglishOnly);
    EXPECT_EQ(ParseLanguages(R"({"languages": []})"), kEnglishOnly);
    EXPECT_EQ(ParseLanguages(R"([{"code": "tr", "nativeName": "Türkçe", "enabled": false}])"), kEnglishOnly);
    // The fallback is offered only when nothing else is: one enabled language replaces it.
    EXPECT_EQ(ParseLanguages(R"([{"code": "tr", "nativeName": "TR", "enabled": true}])"),
              (Entries{{"tr", L"TR"}}));
}

class LanguagesFile : public ::testing::Test {
protected:
    std::wstring JsonPath() const { return folder / L"lang\\languages.json"; }
    TempFolder folder;
};

TEST_F(LanguagesFile, IsReadFromTheLangFolder) {
    WriteFileBytes(JsonPath(), "\xEF\xBB\xBF{\"languages\": [\r\n"
                               "  {\"code\": \"en\", \"nativeName\": \"English\", \"enabled\": true},\r\n"
                               "  {\"code\": \"tr\", \"nativeName\": \"T\xC3\xBCrk\xC3\xA7"
                               "e\", \"enabled\": true}\r\n"
                               "]}\r\n");
    EXPECT_TRUE(LanguagesFilePresent(folder.Path()));
    EXPECT_EQ(LoadLanguages(folder.Path()), (Entries{{"en", L"English"}, {"tr", L"Türkçe"}}));
}

TEST_F(LanguagesFile, MissingFileGivesEnglish) {
    EXPECT_FALSE(LanguagesFilePresent(folder.Path()));
    EXPECT_EQ(LoadLanguages(folder.Path()), kEnglishOnly);

    // A file of that name elsewhere in the game folder is not the list.
    WriteFileBytes(folder / L"languages.json", R"([{"code": "tr", "enabled": true}])");
    EXPECT_FALSE(LanguagesFilePresent(folder.Path()));
    EXPECT_EQ(LoadLanguages(folder.Path()), kEnglishOnly);
}

TEST_F(LanguagesFile, DirectoryInItsPlaceIsNoFile) {
    MakeDirectories(JsonPath());
    EXPECT_FALSE(LanguagesFilePresent(folder.Path()));
    EXPECT_EQ(LoadLanguages(folder.Path()), kEnglishOnly);
}

TEST_F(LanguagesFile, EmptyFileIsPresentAndGivesEnglish) {
    WriteFileBytes(JsonPath(), "");
    EXPECT_TRUE(LanguagesFilePresent(folder.Path()));
    EXPECT_EQ(LoadLanguages(folder.Path()), kEnglishOnly);
}

} // namespace
} // namespace Orv
