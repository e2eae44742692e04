// What orvanectl tells an operator: words for error codes, the game paths behind a bad object, what a
// repair repaired, --quiet and --json, progress with speed and time left, and how Ctrl+C stops it.
#include "orvanectl/json_text.h"
#include "orvanectl/progress.h"
#include "support/mirror_env.h"
#include "support/mirror_helpers.h"
#include "support/object_fixture.h"
#include "support/process.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

namespace Orv {
namespace {

using Support::ReadFileOrEmpty;
using Support::RunOrvanectl;
using Support::RunResult;
using Support::TempFolder;
using Support::Utf8;
using Support::WriteFileBytes;
using namespace std::chrono_literals;

TEST(Progress, LinesTellTheSpeedAndTheTimeLeft) {
    EXPECT_EQ(Publisher::RateText(2097152, 10485760, 2000), L", 1.0 MB/s, 8 s left");
    EXPECT_EQ(Publisher::RateText(10485760, 10485760, 4000), L", 2.5 MB/s");
    EXPECT_EQ(Publisher::RateText(0, 10485760, 4000), L"");
    EXPECT_EQ(Publisher::DurationText(125), L"2 min 05 s");
    EXPECT_EQ(Publisher::DurationText(7320), L"2 h 02 min");
}

TEST(VerifyOutput, ABadObjectIsNamedWithTheGamePathsThatUseItAndJsonSumsUp) {
    TempFolder root;
    for (int i = 1; i <= 5; ++i) {
        WriteFileBytes(root / (L"game\\copy" + std::to_wstring(i) + L".txt"), "the same content");
    }
    WriteFileBytes(root / L"game\\other.txt", "other content");
    ASSERT_EQ(Support::RunPublish(root / L"game", root / L"mirror", 1, {L"--no-packs"}).exitCode, 0U);
    const RunResult good = RunOrvanectl({L"verify", root / L"mirror", L"--json", L"-q"});
    EXPECT_EQ(good.exitCode, 0U);
    EXPECT_EQ(
        good.output,
        "{\"command\":\"verify\",\"ok\":true,\"mirror\":" + Utf8(Publisher::JsonString(root / L"mirror")) +
            ",\"release\":1,\"files\":6,\"objects\":2,\"bytes\":29,\"chunks\":0,\"packs\":0,"
            "\"signature\":\"none\",\"problems\":[]}\r\n");

    const Manifest manifest = Support::ReadManifest(root / L"mirror");
    ASSERT_TRUE(::DeleteFileW(
        Support::ObjectPath(root / L"mirror", Support::EntryOf(manifest, L"copy1.txt")).c_str()));
    const RunResult bad = RunOrvanectl({L"verify", root / L"mirror", L"--json"});
    EXPECT_EQ(bad.exitCode, 1U);
    EXPECT_NE(bad.output.find(": missing (used by \"copy1.txt\", \"copy2.txt\", \"copy3.txt\" and 2 more)"),
              std::string::npos)
        << bad.output;
    EXPECT_NE(bad.output.find("{\"command\":\"verify\",\"ok\":false,"), std::string::npos) << bad.output;
    EXPECT_EQ(bad.output.find("other.txt"), std::string::npos) << bad.output;
}

class UpdateOutput : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(Support::MirrorRoot().empty()); }
    void Publish(const std::wstring& name) {
        WriteFileBytes(source / L"Engine.exe", Support::SampleBytes(70000, 5));
        WriteFileBytes(source / L"data\\a.dat", Support::SampleBytes(90000, 6, true));
        WriteFileBytes(source / L"data\\b.dat", Support::SampleBytes(20000, 7, true));
        const auto published = Support::RunPublish(source.Path(), Support::MirrorRoot() + L"\\" + name, 1);
        ASSERT_EQ(published.exitCode, 0U) << published.output;
    }
    TempFolder source;
    TempFolder game;
};

TEST_F(UpdateOutput, ARepairListsWhatItRepairedAndQuietAndJsonSumUp) {
    Publish(L"cli_repair");
    WriteFileBytes(game / L".orvane\\mirrors.txt", Utf8(Support::HttpBase()) + "cli_repair/\n");
    ASSERT_EQ(RunOrvanectl({L"update", game.Path()}).exitCode, 0U);
    const RunResult quiet = RunOrvanectl({L"update", game.Path(), L"--quiet"});
    EXPECT_EQ(quiet.exitCode, 0U);
    EXPECT_EQ(quiet.output, "The game is up to date. Have fun!\r\n");

    WriteFileBytes(game / L"data\\a.dat", "damaged");
    ASSERT_TRUE(::DeleteFileW((game / L"Engine.exe").c_str()));
    const RunResult repair = RunOrvanectl({L"update", game.Path(), L"--repair"});
    EXPECT_EQ(repair.exitCode, 0U) << repair.output;
    EXPECT_NE(repair.output.find("repaired Engine.exe\r\nrepaired data\\a.dat\r\nrepaired 2 files\r\n"
                                 "Update complete. Have fun!\r\n"),
              std::string::npos)
        << repair.output;

    WriteFileBytes(game / L"data\\b.dat", "damaged");
    const RunResult json = RunOrvanectl({L"update", game.Path(), L"--repair", L"--json", L"-q"});
    EXPECT_EQ(json.exitCode, 0U);
    EXPECT_EQ(
        json.output,
        "{\"command\":\"update\",\"ok\":true,\"repair\":true,\"stopped\":false,\"folder\":" +
            Utf8(Publisher::JsonString(game.Path())) +
            ",\"release\":1,\"clientVersion\":\"7.1.1\",\"files\":3,\"downloaded\":1,\"bytes\":" +
            std::to_string(Support::EntryOf(Support::ReadManifest(Support::MirrorRoot() + L"\\cli_repair"),
                                            L"data\\b.dat")
                               .zsize) +
            ",\"status\":\"Update complete. Have fun!\",\"paths\":[\"data\\\\b.dat\"],"
            "\"problems\":[]}\r\n");
}

TEST_F(UpdateOutput, AWinHttpErrorIsGivenInWords) {
    WriteFileBytes(game / L".orvane\\mirrors.txt", "ftp://127.0.0.1:9/\n");
    const RunResult run = RunOrvanectl({L"update", game.Path()});
    EXPECT_EQ(run.exitCode, 1U);
    EXPECT_NE(run.output.find("Cannot reach the update server.\r\nThe URL does not use a recognized protocol "
                              "(only http:// and https:// are). (#12006)"),
              std::string::npos)
        << run.output;
}

BOOL WINAPI IgnoreCtrlC(DWORD type) {
    return type == CTRL_C_EVENT ? TRUE : FALSE;
}

// A console of this test program's own, which it shares with the orvanectl it starts. Wine delivers
// console control events only on a console that AllocConsole made (the one a program started from a
// Unix shell has refuses them), and only Ctrl+C, to the sender's whole process group: so this program
// ignores Ctrl+C from now on, and orvanectl stays in its group. The standard handles stay where ctest put
// them.
bool OwnConsole() {
    static const bool made = [] {
        const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
        const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
        const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
        ::FreeConsole();
        const bool allocated = ::AllocConsole() != FALSE;
        ::SetConsoleCtrlHandler(IgnoreCtrlC, TRUE);
        ::SetStdHandle(STD_OUTPUT_HANDLE, output);
        ::SetStdHandle(STD_ERROR_HANDLE, error);
        ::SetStdHandle(STD_INPUT_HANDLE, input);
        return allocated;
    }();
    return made;
}

// orvanectl on this program's console, stopped with Ctrl+C once it shows a given text.
class Interrupted {
public:
    explicit Interrupted(const std::vector<std::wstring>& args)
        : console_(OwnConsole()),
          child_(Support::StartProcess(Support::BinaryFolder() + L"\\orvanectl.exe",
                                       Support::OrvanectlArguments(args), {}, output_ / L"output.txt")) {}
    // Waits until the output holds the text, then sends Ctrl+C; the exit code once it has ended.
    std::optional<DWORD> StopWhenShown(const std::string& text) {
        EXPECT_TRUE(console_) << ::GetLastError();
        EXPECT_TRUE(child_.Started()) << child_.StartProblem();
        EXPECT_TRUE(Support::WaitUntil([&] { return Output().find(text) != std::string::npos; }, 120s))
            << Output();
        EXPECT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << ::GetLastError();
        const auto code = child_.WaitExit(60s);
        if (!code) {
            child_.Kill();
        }
        return code;
    }
    std::string Output() const { return ReadFileOrEmpty(output_ / L"output.txt"); }

private:
    bool console_;
    TempFolder output_{L"orvout"};
    Support::ChildProcess child_;
};

TEST_F(UpdateOutput, CtrlCEndsAnUpdateWith130AndTheNextRunFinishesIt) {
    WriteFileBytes(source / L"big.pak", Support::RandomBytes(4 << 20, 9));
    Publish(L"cli_break");
    Support::SetFaultRules(R"({"*": {"delay_ms": 100, "chunk": 16384}})");
    WriteFileBytes(game / L".orvane\\mirrors.txt", Utf8(Support::FaultBase()) + "cli_break/\n");
    Interrupted update({L"update", game.Path()});
    EXPECT_EQ(update.StopWhenShown("phase: downloading"), 130U) << update.Output();
    Support::ClearFaultRules();
    EXPECT_NE(update.Output().find("update stopped by Ctrl+C"), std::string::npos) << update.Output();
    // A game file is the release's or not there at all.
    for (const wchar_t* path : {L"big.pak", L"Engine.exe", L"data\\a.dat", L"data\\b.dat"}) {
        if (Support::Exists(game / path)) {
            EXPECT_EQ(ReadFileOrEmpty(game / path), ReadFileOrEmpty(source / path)) << Utf8(path);
        }
    }
    EXPECT_EQ(RunOrvanectl({L"update", game.Path()}).exitCode, 0U);
    EXPECT_EQ(ReadFileOrEmpty(game / L"big.pak"), ReadFileOrEmpty(source / L"big.pak"));
}

TEST(Publish, CtrlCEndsAPublishWith130LeavingTheManifestAsItWas) {
    TempFolder root;
    WriteFileBytes(root / L"game\\small.txt", "small");
    ASSERT_EQ(Support::RunPublish(root / L"game", root / L"mirror", 1).exitCode, 0U);
    const std::string manifest = ReadFileOrEmpty(root / L"mirror\\manifest.txt");
    WriteFileBytes(root / L"game\\big.pak", Support::RandomBytes(96 << 20, 4));
    Interrupted publish(
        {L"publish", root / L"game", root / L"mirror", L"--release", L"2", L"--client-version", L"2"});
    EXPECT_EQ(publish.StopWhenShown("wrote "), 130U) << publish.Output();
    EXPECT_NE(publish.Output().find("publish stopped: stopped by Ctrl+C; manifest.txt is as it was"),
              std::string::npos)
        << publish.Output();
    EXPECT_EQ(ReadFileOrEmpty(root / L"mirror\\manifest.txt"), manifest);
    for (const std::wstring& file : Support::FilesBelow(root / L"mirror")) {
        EXPECT_FALSE(file.ends_with(L".tmp")) << Utf8(file);
    }
}

} // namespace
} // namespace Orv
