#include "core/log.h"
#include "support/test_folder.h"
#include "update/version_stamp.h"

#include <gtest/gtest.h>

namespace Orv {
namespace {

using Support::ReadFileOrEmpty;
using Support::WriteFileBytes;

class VersionStamp : public ::testing::Test {
protected:
    void SetUp() override { OpenLog(folder / L"launcher.log"); }
    std::string Stamp(const std::string& before, const std::wstring& version) {
        WriteFileBytes(file, before);
        StampClientVersion(file, version);
        return ReadFileOrEmpty(file);
    }
    std::string LogText() { return ReadFileOrEmpty(folder / L"launcher.log"); }

    Support::TempFolder folder;
    std::wstring file = folder / L"VersionInfo.ver";
};

TEST_F(VersionStamp, ReplacesOnlyTheValueAndKeepsLineEnds) {
    EXPECT_EQ(Stamp("Region = EU\r\nClientVersion 1.2.3\r\n", L"1.2.4"),
              "Region = EU\r\nClientVersion 1.2.4\r\n");
    EXPECT_NE(LogText().find(" VersionInfo.ver ClientVersion 1.2.3 -> 1.2.4\r\n"), std::string::npos);
}

TEST_F(VersionStamp, TheVersionReadIsTheValueTheStampReplaces) {
    EXPECT_EQ(ClientVersionIn("Region EU\r\nClientVersion\t 1.2.3 beta\r\nClientVersion 9\r\n"), "1.2.3");
    EXPECT_EQ(ClientVersionIn("XClientVersion 1\nClientVersions 2\n"), std::nullopt);
    EXPECT_EQ(ClientVersionIn("ClientVersion \r\n"), "");
}

TEST_F(VersionStamp, SameValueWritesNothingAndLogsNothing) {
    WriteFileBytes(file, "ClientVersion 1.2.4\r\n");
    StampClientVersion(file, L"1.2.4");
    EXPECT_EQ(LogText(), "");
    EXPECT_FALSE(Support::Exists(file + L".tmp"));
}

TEST_F(VersionStamp, VersionHoldingABlankLeavesTheFileAsItIs) {
    const std::string before = "Region EU\r\nClientVersion 4.1\r\n";
    WriteFileBytes(file, before);
    for (int run = 0; run < 3; ++run) {
        StampClientVersion(file, L"4.2 beta");
    }
    EXPECT_EQ(ReadFileOrEmpty(file), before);
    EXPECT_NE(LogText().find("client version \"4.2 beta\" holds a blank or a line break, not stamped\r\n"),
              std::string::npos);
}

TEST_F(VersionStamp, KeyWithoutASpaceOrTabIsNotAKeyLine) {
    EXPECT_EQ(Stamp("ClientVersion=1.0\n", L"2.0"), "ClientVersion=1.0\n");
    EXPECT_EQ(LogText(), "");
}

TEST_F(VersionStamp, KeyInsideAWordIsSkippedForTheLineThatStartsWithIt) {
    EXPECT_EQ(Stamp("OldClientVersion 5\nClientVersion 6\n", L"7"), "OldClientVersion 5\nClientVersion 7\n");
}

TEST_F(VersionStamp, ByteOrderMarkHidesTheKey) {
    EXPECT_EQ(Stamp("\xEF\xBB\xBF"
                    "ClientVersion 1\n",
                    L"2"),
              "\xEF\xBB\xBF"
              "ClientVersion 1\n");
}

TEST_F(VersionStamp, TabsAndATrailingCommentSurvive) {
    EXPECT_EQ(Stamp("ClientVersion\t\t7 # build\n", L"8"), "ClientVersion\t\t8 # build\n");
}

TEST_F(VersionStamp, OnlyTheFirstKeyLineChangesAndTheFileMayGrowOrShrink) {
    EXPECT_EQ(Stamp("ClientVersion 1\nClientVersion 1\n", L"10.20.30"),
              "ClientVersion 10.20.30\nClientVersion 1\n");
    EXPECT_EQ(Stamp("ClientVersion 10.20.30", L"9"), "ClientVersion 9");
}

TEST_F(VersionStamp, EmptyValueIsReplacedToo) {
    EXPECT_EQ(Stamp("ClientVersion \nX", L"3"), "ClientVersion 3\nX");
}

TEST_F(VersionStamp, MissingFileIsNotCreatedAndEmptyVersionChangesNothing) {
    StampClientVersion(file, L"1.0");
    EXPECT_FALSE(Support::Exists(file));
    EXPECT_EQ(Stamp("ClientVersion 1\n", L""), "ClientVersion 1\n");
    EXPECT_EQ(Stamp("Nothing here\n", L"2"), "Nothing here\n");
    EXPECT_EQ(LogText(), "");
}

} // namespace
} // namespace Orv
