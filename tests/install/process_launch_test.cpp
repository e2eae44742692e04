// LaunchProcess with a real child: the test executable itself, asked to write its command line.
#include "core/log.h"
#include "install/process_launch.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::ReadFileOrEmpty;

std::wstring OwnPath() {
    wchar_t path[4096] = {};
    ::GetModuleFileNameW(nullptr, path, 4096);
    return path;
}

class Launching : public ::testing::Test {
protected:
    void SetUp() override { OpenLog(folder / L"launcher.log"); }
    Support::TempFolder folder;
};

// The child run: gtest's filter picks the one "test" that records the child's command line.
TEST(ChildRecorder, WritesItsCommandLineAndFolder) {
    const wchar_t* out = _wgetenv(L"ORV_RECORD_TO");
    if (out == nullptr) {
        GTEST_SKIP() << "only runs as a child";
    }
    wchar_t folder[4096] = {};
    ::GetCurrentDirectoryW(4096, folder);
    Support::WriteFileBytes(out, std::string());
    const std::wstring text = std::wstring(::GetCommandLineW()) + L"\n" + folder;
    std::string bytes(text.begin(), text.end());
    Support::WriteFileBytes(out, bytes);
}

TEST_F(Launching, StartsDetachedWithTheQuotedPathOneSpaceAndTheArgumentsInTheFolder) {
    const std::wstring record = folder / L"record.txt";
    ::SetEnvironmentVariableW(L"ORV_RECORD_TO", record.c_str());
    const std::wstring work = folder / L"work dir";
    Support::MakeDirectories(work);
    ASSERT_TRUE(LaunchProcess(OwnPath(), L"--gtest_filter=ChildRecorder.*", work));
    ::SetEnvironmentVariableW(L"ORV_RECORD_TO", nullptr);
    ASSERT_TRUE(
        Support::WaitUntil([&] { return ReadFileOrEmpty(record).find('\n') != std::string::npos; }, 30s));
    const std::string text = ReadFileOrEmpty(record);
    const std::wstring own = OwnPath();
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "\"" + std::string(own.begin(), own.end()) + "\" --gtest_filter=ChildRecorder.*");
    EXPECT_EQ(text.substr(text.find('\n') + 1), std::string(work.begin(), work.end()));
}

TEST_F(Launching, EmptyArgumentsLeaveOneTrailingSpace) {
    const std::wstring record = folder / L"record.txt";
    ::SetEnvironmentVariableW(L"ORV_RECORD_TO", record.c_str());
    // Without a filter the child would run every test; GTEST_FILTER picks the recorder instead.
    ::SetEnvironmentVariableW(L"GTEST_FILTER", L"ChildRecorder.*");
    ASSERT_TRUE(LaunchProcess(OwnPath(), L"", folder.Path()));
    ::SetEnvironmentVariableW(L"ORV_RECORD_TO", nullptr);
    ::SetEnvironmentVariableW(L"GTEST_FILTER", nullptr);
    ASSERT_TRUE(
        Support::WaitUntil([&] { return ReadFileOrEmpty(record).find('\n') != std::string::npos; }, 30s));
    const std::string text = ReadFileOrEmpty(record);
    const std::wstring own = OwnPath();
    EXPECT_EQ(text.substr(0, text.find('\n')), "\"" + std::string(own.begin(), own.end()) + "\" ");
}

TEST_F(Launching, MissingProgramFailsWithOneLogLine) {
    const std::wstring missing = folder / L"nowhere\\Updater.exe";
    EXPECT_FALSE(LaunchProcess(missing, L"x", folder.Path()));
    const std::string log = ReadFileOrEmpty(folder / L"launcher.log");
    const std::string expected = " CreateProcess " + std::string(missing.begin(), missing.end()) + ": ";
    ASSERT_NE(log.find(expected), std::string::npos) << log;
    EXPECT_EQ(log.find(expected, log.find(expected) + 1), std::string::npos);
    EXPECT_NE(log.find(")\r\n"), std::string::npos);
}

} // namespace
} // namespace Orv
