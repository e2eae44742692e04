#include "core/log.h"
#include "lang/game_language.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <regex>
#include <vector>

namespace Orv {
namespace {

using Support::Exists;
using Support::MakeDirectories;
using Support::ReadFileOrEmpty;
using Support::TempFolder;
using Support::WriteFileBytes;

class GameLanguageWrite : public ::testing::Test {
protected:
    void SetUp() override { OpenLog(logs / L"launcher.log"); }
    // An empty path opens nothing and closes the log, so its folder can be removed.
    void TearDown() override { OpenLog(L""); }

    std::wstring IniPath() const { return game / L"lang\\lang.ini"; }
    std::wstring TmpPath() const { return game / L"lang\\lang.ini.tmp"; }

    // The log's lines without their "YYYY-MM-DD hh:mm:ss " stamps, each checked for that layout.
    std::vector<std::string> LogTexts() const {
        const std::string bytes = ReadFileOrEmpty(logs / L"launcher.log");
        const std::regex stamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} )");
        std::vector<std::string> texts;
        size_t start = 0;
        while (start < bytes.size()) {
            size_t end = bytes.find("\r\n", start);
            if (end == std::string::npos) {
                ADD_FAILURE() << "unterminated log line: " << bytes.substr(start);
                end = bytes.size();
            }
            const std::string line = bytes.substr(start, end - start);
            EXPECT_TRUE(std::regex_search(line, stamp)) << line;
            texts.push_back(line.size() >= 20 ? line.substr(20) : line);
            start = end + 2;
        }
        return texts;
    }

    TempFolder game{L"orvgame"};
    TempFolder logs{L"orvlog"};
};

TEST_F(GameLanguageWrite, CreatesTheFolderAndWritesTheSection) {
    ASSERT_FALSE(Exists(game / L"lang"));
    EXPECT_TRUE(WriteGameLanguage(game.Path(), "tr"));
    const std::string bytes = ReadFileOrEmpty(IniPath());
    EXPECT_EQ(bytes, "[Language]\r\nCode=tr\r\n");
    EXPECT_EQ(bytes.size(), 21U);
    EXPECT_FALSE(Exists(TmpPath()));
    EXPECT_EQ(LogTexts(), std::vector<std::string>{"game language -> tr"});
}

TEST_F(GameLanguageWrite, ReplacesTheWholeOldFile) {
    WriteFileBytes(IniPath(), "[Language]\r\nCode=de\r\n[Other]\r\nKeep=1\r\n; a much longer old file\r\n");
    EXPECT_TRUE(WriteGameLanguage(game.Path(), "en"));
    EXPECT_EQ(ReadFileOrEmpty(IniPath()), "[Language]\r\nCode=en\r\n");
    EXPECT_FALSE(Exists(TmpPath()));
    EXPECT_EQ(LogTexts(), std::vector<std::string>{"game language -> en"});
}

TEST_F(GameLanguageWrite, WhatIsWrittenIsReadBack) {
    for (const std::string code : {"tr", "pt-BR", "zh_Hans", "en"}) {
        ASSERT_TRUE(WriteGameLanguage(game.Path(), code)) << code;
        EXPECT_EQ(ReadGameLanguage(game.Path()), code);
    }
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{"game language -> tr", "game language -> pt-BR",
                                                    "game language -> zh_Hans", "game language -> en"}));
}

TEST_F(GameLanguageWrite, TargetThatCannotBeReplacedIsLoggedAsFailed) {
    // A directory with content in the file's place: the move over it fails.
    WriteFileBytes(IniPath() + L"\\keep.txt", "x");
    EXPECT_FALSE(WriteGameLanguage(game.Path(), "tr"));
    EXPECT_EQ(ReadFileOrEmpty(IniPath() + L"\\keep.txt"), "x");
    EXPECT_FALSE(Exists(TmpPath()));
    EXPECT_EQ(LogTexts(), std::vector<std::string>{"game language -> tr (write failed)"});
    EXPECT_EQ(ReadGameLanguage(game.Path()), "");
}

TEST_F(GameLanguageWrite, UnwritableTemporaryLeavesTheOldFileAndLogsNothing) {
    const std::string old = "[Language]\r\nCode=de\r\n";
    WriteFileBytes(IniPath(), old);
    MakeDirectories(TmpPath());
    EXPECT_FALSE(WriteGameLanguage(game.Path(), "tr"));
    EXPECT_EQ(ReadFileOrEmpty(IniPath()), old);
    EXPECT_EQ(ReadGameLanguage(game.Path()), "de");
    EXPECT_TRUE(LogTexts().empty());
}

TEST_F(GameLanguageWrite, LangFolderThatIsAFileFailsWithoutALogLine) {
    WriteFileBytes(game / L"lang", "not a folder");
    EXPECT_FALSE(WriteGameLanguage(game.Path(), "tr"));
    EXPECT_EQ(ReadFileOrEmpty(game / L"lang"), "not a folder");
    EXPECT_TRUE(LogTexts().empty());
}

} // namespace
} // namespace Orv
