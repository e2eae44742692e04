#include "core/log.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>

namespace Orv {
namespace {

using Support::ReadFileOrEmpty;
using Support::TempFolder;
using Support::WriteFileBytes;

std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

class LogFile : public ::testing::Test {
protected:
    std::wstring LogPath() const { return folder / L".orvane\\launcher.log"; }
    std::wstring OldPath() const { return folder / L".orvane\\launcher.log.old"; }
    TempFolder folder;
};

TEST_F(LogFile, LineLayoutIsLocalTimeTextAndCrLf) {
    OpenLog(LogPath());
    Log(L"launcher 1.0.0 start in C:\\Games");
    const std::string bytes = ReadFileOrEmpty(LogPath());
    const std::regex layout(
        R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} launcher 1\.0\.0 start in C:\\Games\r\n$)");
    EXPECT_TRUE(std::regex_match(bytes, layout)) << bytes;
}

TEST_F(LogFile, TurkishTextIsWrittenAsUtf8) {
    OpenLog(LogPath());
    Log(L"\u0130ndiriliyor: 3 dosya");
    const std::string bytes = ReadFileOrEmpty(LogPath());
    EXPECT_NE(bytes.find("\xC4\xB0ndiriliyor: 3 dosya\r\n"), std::string::npos);
}

TEST_F(LogFile, ExactlyFourMebibytesIsKept) {
    WriteFileBytes(LogPath(), std::string(4194304, 'a'));
    WriteFileBytes(OldPath(), "older");
    OpenLog(LogPath());
    Log(L"next");
    EXPECT_EQ(ReadFileOrEmpty(LogPath()).size(), 4194304U + 26U);
    EXPECT_EQ(ReadFileOrEmpty(OldPath()), "older");
}

TEST_F(LogFile, OneByteMoreIsRotatedReplacingTheOlderFile) {
    WriteFileBytes(LogPath(), std::string(4194305, 'a'));
    WriteFileBytes(OldPath(), "older");
    OpenLog(LogPath());
    Log(L"next");
    EXPECT_EQ(ReadFileOrEmpty(OldPath()).size(), 4194305U);
    const auto lines = Lines(ReadFileOrEmpty(LogPath()));
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].substr(20), "next");
}

TEST_F(LogFile, EarlierContentIsKeptWhenAppending) {
    WriteFileBytes(LogPath(), "earlier\r\n");
    OpenLog(LogPath());
    Log(L"later");
    const auto lines = Lines(ReadFileOrEmpty(LogPath()));
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0], "earlier");
    EXPECT_EQ(lines[1].substr(20), "later");
}

TEST_F(LogFile, LogThatCannotBeRotatedIsAppendedTo) {
    WriteFileBytes(LogPath(), std::string(4194305, 'a'));
    // A non-empty directory in the way of the rotated name makes the rename fail.
    WriteFileBytes(OldPath() + L"\\keep.txt", "x");
    OpenLog(LogPath());
    Log(L"appended");
    const std::string bytes = ReadFileOrEmpty(LogPath());
    EXPECT_EQ(bytes.size(), 4194305U + 30U);
    EXPECT_EQ(bytes.substr(bytes.size() - 10), "appended\r\n");
}

TEST_F(LogFile, UnopenableLogIsSilentlySkipped) {
    // A directory where the log file should be: the open fails, logging goes on without a file.
    Support::MakeDirectories(LogPath());
    OpenLog(LogPath());
    Log(L"nowhere");
    EXPECT_TRUE(Support::Exists(LogPath()));
    EXPECT_EQ(ReadFileOrEmpty(LogPath()), "");
}

TEST_F(LogFile, MissingDataFolderIsCreated) {
    OpenLog(folder / L"a\\b\\.orvane\\launcher.log");
    Log(L"deep");
    EXPECT_NE(ReadFileOrEmpty(folder / L"a\\b\\.orvane\\launcher.log").find("deep\r\n"), std::string::npos);
}

TEST_F(LogFile, TwoThreadsWriteWholeLines) {
    OpenLog(LogPath());
    constexpr int kLines = 400;
    auto writer = [](wchar_t tag) {
        const std::wstring text = std::wstring(L"thread ") + tag + L" " + std::wstring(180, tag);
        for (int i = 0; i < kLines; ++i) {
            Log(text);
        }
    };
    {
        std::jthread a(writer, L'a');
        std::jthread b(writer, L'b');
    }
    const auto lines = Lines(ReadFileOrEmpty(LogPath()));
    ASSERT_EQ(lines.size(), 2U * kLines);
    const std::string lineA = "thread a " + std::string(180, 'a');
    const std::string lineB = "thread b " + std::string(180, 'b');
    int countA = 0;
    for (const auto& line : lines) {
        ASSERT_EQ(line.size(), 20U + lineA.size());
        const std::string text = line.substr(20);
        ASSERT_TRUE(text == lineA || text == lineB) << line;
        countA += text == lineA ? 1 : 0;
    }
    EXPECT_EQ(countA, kLines);
}

} // namespace
} // namespace Orv
