// Whole update runs against nginx and the fault server, with releases made by orvanectl publish.
#include "update_run_fixture.h"

#include "core/build_settings.h"
#include "install/uninstall.h"
#include "support/process.h"
#include "support/registry.h"

#include <filesystem>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::Exists;
using Support::ReadFileOrEmpty;
using Support::WriteFileBytes;

TEST_F(UpdateRunTest, FreshInstallPlacesEveryFileStampsRegistersAndCleansUp) {
    Publish(12);
    UseMirror(Support::HttpBase());
    ExpectPhases(Run(),
                 {Phase::Starting, Phase::Checking, Phase::Downloading, Phase::Finishing, Phase::Done});
    ExpectLogInOrder({"Getting version information...", "Checking files...",
                      "Downloading: 6 files (" + WideToUtf8(SizeText(progress.bytesTotal.load())) + ")",
                      "VersionInfo.ver ClientVersion 0.0.1 -> 7.1.12", "Update complete. Have fun!"});
    ExpectGameMatchesSource();
    EXPECT_EQ(ReadFileOrEmpty(game / L"VersionInfo.ver"), "Region EU\r\nClientVersion 7.1.12\r\n");
    EXPECT_EQ(Status(), L"Update complete. Have fun!");
    EXPECT_TRUE(LogHas("Getting version information..."));
    EXPECT_TRUE(
        LogHas("manifest " + WideToUtf8(Support::HttpBase() + mirrorName) + "/: release 12, 6 files"));
    EXPECT_TRUE(LogHas("Checking files..."));
    EXPECT_TRUE(LogHas("check: 6 of 6 files to download (" + WideToUtf8(SizeText(1105000 + 33 + 7)) + ")"));
    EXPECT_TRUE(LogHas("VersionInfo.ver ClientVersion 0.0.1 -> 7.1.12"));
    EXPECT_TRUE(LogHas("Update complete. Have fun!"));
    EXPECT_EQ(progress.filesTotal.load(), 6U);
    EXPECT_EQ(progress.filesDone.load(), 6U);
    EXPECT_EQ(progress.bytesDone.load(), progress.bytesTotal.load());
    EXPECT_EQ(progress.release, 12);
    EXPECT_EQ(progress.clientVersion, L"7.1.12");
    EXPECT_EQ(progress.launch, L"Updater.exe");
    EXPECT_EQ(progress.server, L"10.0.0.7:4000");

    EXPECT_EQ(ReadFileOrEmpty(game / L".orvane\\manifest.txt"),
              ReadFileOrEmpty(MirrorPath() + L"\\manifest.txt"));
    EXPECT_FALSE(Exists(game / L".orvane\\download"));
    EXPECT_EQ(Support::UserString(kUninstallKey, L"DisplayVersion"), L"7.1.12");
    EXPECT_EQ(Support::UserString(kUninstallKey, L"InstallLocation"), game.Path());
    EXPECT_EQ(Support::UserString(L"Software\\Halvex\\Kelvaro\\Configuration", L"PreServerIPAddress"),
              L"10.0.0.7:4000");
    const std::string cache = ReadFileOrEmpty(game / L".orvane\\filecache.txt");
    EXPECT_NE(cache.find(" data\\maps\\north.map\n"), std::string::npos);
    EXPECT_NE(cache.find(" lang\\tr\\söz.txt\n"), std::string::npos);
}

TEST_F(UpdateRunTest, SecondRunFindsEverythingUpToDateWithoutAnObjectRequest) {
    Publish(3);
    UseMirror(Support::FaultBase());
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    Support::ClearFaultRequests();
    ExpectPhases(Run(), {Phase::Starting, Phase::Checking, Phase::Finishing, Phase::Done});
    EXPECT_TRUE(LogHas("check: 0 of 6 files to download (0 B)"));
    EXPECT_EQ(Status(), L"The game is up to date. Have fun!");
    EXPECT_EQ(ObjectRequests(), 0U);
    EXPECT_EQ(progress.filesTotal.load(), 0U);
    EXPECT_EQ(progress.bytesTotal.load(), 0U);
}

TEST_F(UpdateRunTest, NewReleaseFetchesOnlyTheChangedObject) {
    Publish(1);
    UseMirror(Support::FaultBase());
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    WriteFileBytes(source / L"data\\maps\\south.map", Support::SampleBytes(6000, 9, true));
    Publish(2);
    Support::ClearFaultRequests();
    Run();
    EXPECT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    EXPECT_EQ(ObjectRequests(), 1U);
    EXPECT_TRUE(LogHas("check: 1 of 6 files to download (" + WideToUtf8(SizeText(6000)) + ")"));
    ExpectGameMatchesSource();
}

TEST_F(UpdateRunTest, RepairRehashesEverythingAndFindsWhatTheCacheHid) {
    Publish(4);
    UseMirror(Support::HttpBase());
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done);
    // Same size and last-write time, other content: only hashing can tell.
    const std::wstring map = game / L"data\\maps\\south.map";
    WIN32_FILE_ATTRIBUTE_DATA before{};
    ::GetFileAttributesExW(map.c_str(), GetFileExInfoStandard, &before);
    std::string damaged = ReadFileOrEmpty(map);
    damaged[100] ^= 0x55;
    WriteFileBytes(map, damaged);
    HANDLE file = ::CreateFileW(map.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ::SetFileTime(file, nullptr, nullptr, &before.ftLastWriteTime);
    ::CloseHandle(file);

    Run();
    EXPECT_TRUE(LogHas("check: 0 of 6 files to download (0 B)"));
    EXPECT_EQ(ReadFileOrEmpty(map), damaged);

    const auto phases = Run(true);
    EXPECT_EQ(progress.phase.load(), Phase::Done);
    EXPECT_TRUE(LogHas("Verifying all files (repair)..."));
    EXPECT_TRUE(LogHas("check: 1 of 6 files to download (" + WideToUtf8(SizeText(5000)) + ")"));
    EXPECT_EQ(ReadFileOrEmpty(map), ReadFileOrEmpty(source / L"data\\maps\\south.map"));
}

TEST_F(UpdateRunTest, FilesSharingAHashAreOneDownloadButEveryPathCounts) {
    // north.map and its copy share a hash; add two more copies of south.map.
    WriteFileBytes(source / L"extra\\south 1.map", Support::SampleBytes(5000, 3, true));
    WriteFileBytes(source / L"extra\\south 2.map", Support::SampleBytes(5000, 3, true));
    std::filesystem::remove(source / L"Engine.exe");
    std::filesystem::remove(source / L"lang\\tr\\söz.txt");
    std::filesystem::remove(source / L"data\\copy of north.map");
    std::filesystem::remove(source / L"data\\maps\\north.map");
    Publish(5);
    // VersionInfo.ver is present already (it is kept locally); the four maps are missing.
    WriteFileBytes(game / L"VersionInfo.ver", "ClientVersion 7.1.5\r\n");
    UseMirror(Support::FaultBase());
    Run();
    EXPECT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    EXPECT_EQ(progress.filesTotal.load(), 3U);
    EXPECT_EQ(ObjectRequests(), 1U);
    const Manifest manifest = Support::ReadManifest(MirrorPath());
    const uint64_t object = Support::EntryOf(manifest, L"data\\maps\\south.map").zsize;
    EXPECT_EQ(progress.bytesTotal.load(), object);
    EXPECT_TRUE(LogHas("Downloading: 3 files (" + WideToUtf8(SizeText(object)) + ")"));
}

TEST_F(UpdateRunTest, UnreachableMirrorsFailWithTheLastReason) {
    WriteFileBytes(game / L".orvane\\mirrors.txt", "http://127.0.0.1:9/live/\n");
    ExpectPhases(Run(), {Phase::Starting, Phase::Failed});
    EXPECT_EQ(Status(),
              L"Cannot reach the update server.\nCould not connect to the download server. Check your "
              L"connection or firewall.");
    EXPECT_FALSE(Exists(game / L".orvane\\manifest.txt"));
}

TEST_F(UpdateRunTest, NewerManifestFormatIsNotApplied) {
    WriteFileBytes(MirrorPath() + L"\\manifest.txt",
                   "format\t2\nf\t" + std::string(64, 'a') + "\t1\t1\t-\t-\tx\n");
    UseMirror(Support::HttpBase());
    Run();
    EXPECT_EQ(progress.phase.load(), Phase::Failed);
    EXPECT_EQ(Status(), L"Cannot reach the update server.\nCould not read the file list (format 2)");
}

TEST_F(UpdateRunTest, SignedReleasesAreTakenWithoutAKeyAsBeforeAndWithTheKeyOnlyWhenNotOlder) {
    Publish(6, {L"--sign", Support::PublisherKeyFile(), L"--valid-days", L"2"});
    UseMirror(Support::HttpBase());
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    ExpectGameMatchesSource();

    releaseKey = Support::kPublisherKey;
    WriteFileBytes(source / L"data\\maps\\south.map", Support::SampleBytes(7000, 11, true));
    Publish(8, {L"--sign", Support::PublisherKeyFile()});
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    ExpectGameMatchesSource();

    // A signed release older than the one applied last is refused, and nothing in the folder changes.
    const std::string installed = ReadFileOrEmpty(game / L"data\\maps\\south.map");
    WriteFileBytes(source / L"data\\maps\\south.map", Support::SampleBytes(9000, 12, true));
    // A mirror that never moves back cannot serve it (publish refuses), so another mirror does.
    PublishTo(mirrorName + L"-older", 7, {L"--sign", Support::PublisherKeyFile()});
    WriteFileBytes(game / L".orvane\\mirrors.txt",
                   WideToUtf8(Support::HttpBase() + mirrorName) + "-older/\n");
    Run();
    EXPECT_EQ(progress.phase.load(), Phase::Failed);
    EXPECT_EQ(Status(), L"Cannot reach the update server.\nThe release is older than the installed one.");
    EXPECT_TRUE(LogHas("manifest " + WideToUtf8(Support::HttpBase() + mirrorName) +
                       "-older/: release 7: The release is older than the installed one."));
    EXPECT_EQ(ReadFileOrEmpty(game / L"data\\maps\\south.map"), installed);
    EXPECT_EQ(Support::ReadManifest(game / L".orvane").release, 8);
}

TEST_F(UpdateRunTest, WithAKeyAnUnsignedReleaseTouchesNothing) {
    releaseKey = Support::kPublisherKey;
    Publish(2);
    UseMirror(Support::FaultBase());
    ExpectPhases(Run(), {Phase::Starting, Phase::Failed});
    EXPECT_EQ(Status(), L"Cannot reach the update server.\nThe release is not signed by the publisher.");
    EXPECT_EQ(ObjectRequests(), 0U);
    EXPECT_EQ(Support::FilesBelow(game.Path()),
              (std::vector<std::wstring>{L".orvane/launcher.log", L".orvane/mirrors.txt"}));
}

TEST_F(UpdateRunTest, HashFieldThatStepsOutOfTheGameFolderIsRefused) {
    // The .part of a row is download\<hash>.part: three steps up from there is beside the game folder.
    const std::wstring beside = std::filesystem::path(game.Path()).parent_path().wstring();
    for (const std::string steps : {"..\\..\\..\\", "../../../"}) {
        std::string hash = steps + "victim_" + WideToUtf8(mirrorName);
        hash.resize(64, '_');
        const std::wstring victim = beside + L"\\" + Utf8ToWide(hash.substr(steps.size())) + L".part";
        WriteFileBytes(victim, "the player's own file");
        WriteFileBytes(MirrorPath() + L"\\manifest.txt", "format\t1\nf\t" + hash + "\t4\t4\t-\t-\tx.bin\n");
        UseMirror(Support::FaultBase());
        Support::ClearFaultRequests();
        Run();
        EXPECT_EQ(Status(), L"Cannot reach the update server.\nCould not read the file list (f)");
        EXPECT_EQ(ObjectRequests(), 0U);
        EXPECT_EQ(ReadFileOrEmpty(victim), "the player's own file");
        std::filesystem::remove(victim);
    }
}

TEST_F(UpdateRunTest, AMissingObjectFailsTheRunButKeepsWhatWasPlaced) {
    Publish(6, {L"--no-packs"});
    const Manifest manifest = Support::ReadManifest(MirrorPath());
    const FileEntry& lost = Support::EntryOf(manifest, L"Engine.exe");
    std::filesystem::remove(Support::ObjectPath(MirrorPath(), lost));
    UseMirror(Support::HttpBase());
    Run();
    EXPECT_EQ(progress.phase.load(), Phase::Failed);
    EXPECT_EQ(Status(),
              L"The update could not be completed.\nEngine.exe: File not found on the server (404). An "
              L"update may be in progress, try again in a few minutes.");
    EXPECT_FALSE(Exists(game / L".orvane\\manifest.txt"));
    EXPECT_FALSE(Support::UserString(kUninstallKey, L"DisplayVersion").has_value());
    // Files placed before the failure are remembered, so the next run does not fetch them again.
    const std::string cache = ReadFileOrEmpty(game / L".orvane\\filecache.txt");
    EXPECT_NE(cache.find(" data\\maps\\north.map\n"), std::string::npos);
}

TEST_F(UpdateRunTest, ManifestWithoutServerLeavesTheAddressAlone) {
    const auto published =
        Support::RunPublish(source.Path(), MirrorPath(), 7, {L"--keep", L"VersionInfo.ver"});
    ASSERT_EQ(published.exitCode, 0U) << published.output;
    SetPreServerAddress(L"192.0.2.1:1");
    UseMirror(Support::HttpBase());
    Run();
    EXPECT_EQ(progress.phase.load(), Phase::Done);
    EXPECT_EQ(Support::UserString(L"Software\\Halvex\\Kelvaro\\Configuration", L"PreServerIPAddress"),
              L"192.0.2.1:1");
}

TEST_F(UpdateRunTest, FilesThatAScannerHoldsForMomentsAreReplacedAllTheSame) {
    Publish(1);
    UseMirror(Support::HttpBase());
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    // Every file but the client version changes; the copy of north.map is placed by a copy.
    WriteFileBytes(source / L"Engine.exe", Support::SampleBytes(300000, 21));
    WriteFileBytes(source / L"data\\maps\\north.map", Support::SampleBytes(400000, 22, true));
    WriteFileBytes(source / L"data\\copy of north.map", Support::SampleBytes(400000, 22, true));
    WriteFileBytes(source / L"data\\maps\\south.map", Support::SampleBytes(5000, 23, true));
    WriteFileBytes(source / L"lang\\tr\\söz.txt", "selam");
    Publish(2);
    Support::ChildProcess holder = Support::HoldFilesForMoments(
        {game / L"Engine.exe", game / L"data\\maps\\north.map", game / L"data\\copy of north.map",
         game / L"data\\maps\\south.map", game / L"lang\\tr\\söz.txt", game / L".orvane\\filecache.txt",
         game / L".orvane\\manifest.txt"},
        400, 100, 4000);
    Run();
    holder.WaitExit(30s);
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status()) << LogText();
    ExpectGameMatchesSource();
    EXPECT_EQ(ReadFileOrEmpty(game / L".orvane\\manifest.txt"),
              ReadFileOrEmpty(MirrorPath() + L"\\manifest.txt"));
    EXPECT_NE(LogText().find("held by another program, free after"), std::string::npos) << LogText();
}

TEST_F(UpdateRunTest, AReleasePathOf250CharactersInstallsIntoADeepFolderAndIsUninstalled) {
    std::wstring longPath;
    while (longPath.size() < 200) {
        longPath += L"a folder of the game's data\\";
    }
    longPath += std::wstring(250 - longPath.size() - 4, L'x') + L".dat";
    ASSERT_EQ(longPath.size(), 250U);
    WriteFileBytes(source / longPath, "far down");
    Publish(1);
    // A game folder of some 130 characters, as a player's profile and a library folder make it.
    const std::wstring deep =
        game / L"Users\\a player with a long name\\Games\\Library of many games\\Orvane";
    WriteFileBytes(deep + L"\\.orvane\\mirrors.txt", WideToUtf8(Support::HttpBase() + mirrorName) + "/\n");
    OpenLog(deep + L"\\.orvane\\launcher.log");
    UpdateRun(UpdateParams{deep, false, false, L""}, progress, {});
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    ASSERT_GT(deep.size() + 1 + longPath.size(), 260U);
    EXPECT_EQ(ReadFileOrEmpty(deep + L"\\" + longPath), "far down");
    OpenLog(game / L"uninstall.log");
    EXPECT_EQ(UninstallRun(deep, 0, true), 0);
    EXPECT_FALSE(Exists(deep + L"\\" + longPath));
}

TEST_F(UpdateRunTest, StopDuringTheDownloadsEndsQuietlyAndKeepsThePartialObjects) {
    WriteFileBytes(source / L"big.bin", Support::SampleBytes(3 << 20, 11));
    Publish(8);
    const Manifest manifest = Support::ReadManifest(MirrorPath());
    const FileEntry& big = Support::EntryOf(manifest, L"big.bin");
    Support::SetFaultRules("{\"/" + WideToUtf8(mirrorName) + "/objects/" + big.sha256.substr(0, 2) + "/" +
                           big.sha256 + "\": {\"delay_ms\": 200, \"chunk\": 65536}}");
    UseMirror(Support::FaultBase());
    const std::wstring part = game / (L".orvane\\download\\" + Utf8ToWide(big.sha256) + L".part");
    std::stop_source stop;
    std::jthread stopper([&] {
        Support::WaitUntil(
            [&] {
                std::error_code missing;
                return std::filesystem::file_size(part, missing) > 0 && !missing;
            },
            60s);
        stop.request_stop();
    });
    Run(false, stop.get_token());
    EXPECT_EQ(progress.phase.load(), Phase::Downloading);
    EXPECT_NE(Status(), L"Cancelled.");
    EXPECT_FALSE(Exists(game / L".orvane\\manifest.txt"));
    EXPECT_TRUE(Exists(part));
}

TEST_F(UpdateRunTest, StopDuringTheCheckEndsQuietly) {
    WriteFileBytes(source / L"huge.pak", Support::SampleBytes(96 << 20, 12, true));
    Publish(9);
    // The right size with other content: the check has to hash it all.
    WriteFileBytes(game / L"huge.pak", std::string(96 << 20, 'x'));
    UseMirror(Support::HttpBase());
    std::stop_source stop;
    std::jthread stopper([&] {
        Support::WaitUntil([&] { return progress.phase.load() == Phase::Checking; }, 60s);
        stop.request_stop();
    });
    Run(false, stop.get_token());
    EXPECT_EQ(progress.phase.load(), Phase::Checking);
    EXPECT_EQ(Status(), L"Checking files...");
    EXPECT_EQ(LogText().find("check:"), std::string::npos);
    EXPECT_FALSE(Exists(game / L".orvane\\filecache.txt"));
}

TEST_F(UpdateRunTest, StopBeforeTheManifestArrivesIsReportedAsCancelled) {
    std::stop_source stop;
    stop.request_stop();
    Publish(11);
    UseMirror(Support::HttpBase());
    Run(false, stop.get_token());
    EXPECT_EQ(progress.phase.load(), Phase::Failed);
    EXPECT_EQ(Status(), L"Cannot reach the update server.\nCancelled.");
}

TEST_F(UpdateRunTest, NotEnoughDiskSpaceFailsBeforeAnyDownload) {
    const std::wstring smallDisk = Support::SmallDisk();
    if (smallDisk.empty()) {
        GTEST_SKIP() << "no small disk: mounting a tmpfs is not permitted here";
    }
    Publish(10);
    const std::wstring folder = smallDisk + L"\\" + mirrorName;
    WriteFileBytes(folder + L"\\.orvane\\mirrors.txt", WideToUtf8(Support::HttpBase() + mirrorName) + "/\n");
    OpenLog(folder + L"\\.orvane\\launcher.log");
    UpdateRun(UpdateParams{folder, false, false, L""}, progress, {});
    EXPECT_EQ(progress.phase.load(), Phase::Failed);
    std::wstring status = Status();
    EXPECT_EQ(status.substr(0, 24), L"Not enough disk space: 2");
    EXPECT_NE(status.find(L" needed, "), std::wstring::npos);
    EXPECT_EQ(status.substr(status.size() - 6), L" free.");
    OpenLog(game / L".orvane\\launcher.log");
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

// On a file system of its own, free space is exact to the page: leave exactly what the run needs,
// then one page less.
class FreeSpace : public UpdateRunTest {
protected:
    // Runs the update in a folder on the space disk with `spare` bytes more than it needs free.
    Phase RunWithSpare(int64_t spare) {
        const std::wstring disk = Support::SpaceDisk();
        const std::wstring folder = disk + L"\\" + mirrorName;
        WriteFileBytes(folder + L"\\.orvane\\mirrors.txt",
                       WideToUtf8(Support::HttpBase() + mirrorName) + "/\n");
        // The log gets its one page now, so the lines of the run do not change the free space.
        WriteFileBytes(folder + L"\\.orvane\\launcher.log", "\r\n");
        OpenLog(folder + L"\\.orvane\\launcher.log");
        ULARGE_INTEGER free{};
        ::GetDiskFreeSpaceExW(disk.c_str(), &free, nullptr, nullptr);
        const uint64_t needed = SpaceNeeded(kPayload, kPayload);
        EXPECT_GE(free.QuadPart, needed);
        WriteFileBytes(disk + L"\\filler",
                       std::string(static_cast<size_t>(free.QuadPart - needed - spare), '\0'));
        UpdateRun(UpdateParams{folder, false, false, L""}, progress, {});
        const Phase phase = progress.phase.load();
        OpenLog(game / L".orvane\\launcher.log");
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        std::filesystem::remove(disk + L"\\filler", ignored);
        return phase;
    }
    void PublishPayload() {
        std::filesystem::remove_all(source.Path() + L"\\data");
        std::filesystem::remove_all(source.Path() + L"\\lang");
        std::filesystem::remove(source / L"Engine.exe");
        std::filesystem::remove(source / L"VersionInfo.ver");
        // One file that does not compress, a whole number of pages long: list and object are equal.
        WriteFileBytes(source / L"payload.bin", Support::SampleBytes(kPayload, 13));
        Publish(20);
    }
    static constexpr uint64_t kPayload = 16 * 4096;
};

TEST_F(FreeSpace, ExactlyEnoughPasses) {
    if (Support::SpaceDisk().empty()) {
        GTEST_SKIP() << "no space disk: mounting a tmpfs is not permitted here";
    }
    PublishPayload();
    EXPECT_EQ(RunWithSpare(0), Phase::Done) << WideToUtf8(Status());
}

TEST_F(FreeSpace, OnePageLessFails) {
    if (Support::SpaceDisk().empty()) {
        GTEST_SKIP() << "no space disk: mounting a tmpfs is not permitted here";
    }
    PublishPayload();
    EXPECT_EQ(RunWithSpare(-1), Phase::Failed);
    EXPECT_EQ(Status(), L"Not enough disk space: " + SizeText(SpaceNeeded(kPayload, kPayload)) +
                            L" needed, " + SizeText(SpaceNeeded(kPayload, kPayload) - 4096) + L" free.");
}

TEST(DiskSpace, NeedsTheFilesTheLargestObjectAndTheReserve) {
    EXPECT_EQ(SpaceNeeded(0, 0), 209715200U);
    EXPECT_EQ(SpaceNeeded(1000, 300), 209716500U);
}

} // namespace
} // namespace Orv
