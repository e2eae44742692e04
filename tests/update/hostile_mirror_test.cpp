// Whole runs against mirrors that nobody vouches for: too slow, moving the folder back, naming paths
// or programs outside the release.
#include "update_run_fixture.h"

#include "partners/download_server.h"

#include <map>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::ReadFileOrEmpty;
using Support::WriteFileBytes;

constexpr const char* kTrickle = R"({"delay_ms": 1000, "chunk": 32})";

class HostileMirror : public UpdateRunTest {
protected:
    // The fault server first, nginx second, both over the test's mirror folder.
    void UseTrickleThenNginx() {
        WriteFileBytes(game / L".orvane\\mirrors.txt", WideToUtf8(Support::FaultBase() + mirrorName + L"/\n" +
                                                                  Support::HttpBase() + mirrorName) +
                                                           "/\n");
    }
    std::string UrlPath(const std::string& relative) const {
        return "/" + WideToUtf8(mirrorName) + "/" + relative;
    }
    // Every file of the game folder with its content, but the launcher's log.
    std::map<std::wstring, std::string> GameFiles() const {
        std::map<std::wstring, std::string> files;
        for (const std::wstring& path : Support::FilesBelow(game.Path())) {
            if (path != L".orvane/launcher.log") {
                files[path] = ReadFileOrEmpty(game / path);
            }
        }
        return files;
    }
};

TEST_F(HostileMirror, AMirrorTricklingTheManifestIsLeftForTheNextOne) {
    for (int i = 0; i < 12; ++i) {
        WriteFileBytes(source / (L"data\\ui\\piece " + std::to_wstring(i) + L".txt"),
                       "piece " + std::to_string(i));
    }
    Publish(3);
    // More than the trickle brings in the 30 seconds it is given.
    ASSERT_GT(ReadFileOrEmpty(MirrorPath() + L"\\manifest.txt").size(), 1500U);
    Support::SetFaultRules("{\"" + UrlPath("manifest.txt") + "\": " + kTrickle + "}");
    UseTrickleThenNginx();
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status()) << LogText();
    EXPECT_TRUE(
        LogHas("manifest " + WideToUtf8(Support::FaultBase() + mirrorName) + "/: The connection timed out."));
    EXPECT_TRUE(
        LogHas("manifest " + WideToUtf8(Support::HttpBase() + mirrorName) + "/: release 3, 18 files"));
    ExpectGameMatchesSource();
}

TEST_F(HostileMirror, AnObjectTrickledByOneMirrorComesFromTheNext) {
    Publish(3, {L"--no-packs"});
    const Manifest release = Support::ReadManifest(MirrorPath());
    const FileEntry& engine = Support::EntryOf(release, L"Engine.exe");
    const std::string object =
        UrlPath("objects/" + DownloadServer::ObjectRelativePath(engine.sha256, engine.compressed));
    Support::SetFaultRules("{\"" + object + "\": " + kTrickle + "}");
    UseTrickleThenNginx();
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status()) << LogText();
    EXPECT_TRUE(LogHas("get Engine.exe from " + WideToUtf8(Support::FaultBase() + mirrorName) +
                       "/ failed (attempt 1): The connection timed out."));
    size_t trickled = 0;
    for (const auto& request : Support::FaultRequests()) {
        trickled += request.path == object ? 1 : 0;
    }
    EXPECT_EQ(trickled, 1U);
    ExpectGameMatchesSource();
}

TEST_F(HostileMirror, WithAKeyTheFloorOutlivesALostOrSpoiledManifestCopy) {
    releaseKey = Support::kPublisherKey;
    Publish(5, {L"--sign", Support::PublisherKeyFile()});
    UseMirror(Support::HttpBase());
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    WriteFileBytes(source / L"Engine.exe", Support::SampleBytes(300000, 40));
    PublishTo(mirrorName + L"-older", 4, {L"--sign", Support::PublisherKeyFile()});
    WriteFileBytes(game / L".orvane\\mirrors.txt",
                   WideToUtf8(Support::HttpBase() + mirrorName) + "-older/\n");
    const std::wstring copy = game / L".orvane\\manifest.txt";
    for (const bool lost : {true, false}) {
        SCOPED_TRACE(lost ? "copy deleted" : "copy spoiled");
        if (lost) {
            ::DeleteFileW(copy.c_str());
        } else {
            WriteFileBytes(copy, "not a manifest");
        }
        const auto before = GameFiles();
        Run();
        EXPECT_EQ(progress.phase.load(), Phase::Failed);
        EXPECT_EQ(Status(), L"Cannot reach the update server.\nThe release is older than the installed one.");
        EXPECT_EQ(GameFiles(), before);
    }
}

TEST_F(HostileMirror, APlayProgramOutsideTheReleaseIsIgnored) {
    Publish(3, {L"--launch", L"data/../../evil.exe"});
    UseMirror(Support::HttpBase());
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    EXPECT_EQ(progress.launch, L"Updater.exe");
    EXPECT_TRUE(LogHas("manifest: launch data/../../evil.exe is ignored (not a path inside the game folder); "
                       "PLAY starts Updater.exe"));
    Publish(4, {L"--launch", L"bin/other.exe"});
    Run();
    EXPECT_EQ(progress.launch, L"Updater.exe");
    EXPECT_TRUE(LogHas(
        "manifest: launch bin/other.exe is ignored (no file of the release); PLAY starts Updater.exe"));
    Publish(5, {L"--launch", L"engine.EXE"});
    Run();
    EXPECT_EQ(progress.launch, L"engine.EXE");
}

TEST_F(HostileMirror, APathWindowsWouldReadOtherwiseWritesNothing) {
    const FileEntry good = Support::PublishObject(mirrorName, L"data\\x.bin", "the file", false);
    for (const std::wstring& bad : {std::wstring(L"data\\x.bin\0.txt", 15), std::wstring(L"CON.txt"),
                                    std::wstring(L".orvane\\mirrors.txt")}) {
        FileEntry refused = good;
        refused.path = bad;
        Support::WriteManifest(mirrorName, {good, refused});
        UseMirror(Support::FaultBase());
        Support::ClearFaultRequests();
        Run();
        EXPECT_EQ(progress.phase.load(), Phase::Failed);
        EXPECT_EQ(ObjectRequests(), 0U);
        EXPECT_EQ(Support::FilesBelow(game.Path()),
                  (std::vector<std::wstring>{L".orvane/launcher.log", L".orvane/mirrors.txt"}));
    }
}

} // namespace
} // namespace Orv
