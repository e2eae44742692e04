// What a patch update counts and shows, and when it falls back to the whole object and when it does not.
#include "patch_fixture.h"

#include "partners/download_server.h"
#include "update/object_stage.h"
#include "update/patch/chunker.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <set>
#include <thread>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::ReadFileOrEmpty;
using Support::WriteFileBytes;

// What the progress did during one run, as the window would have shown it.
struct Readings {
    bool doneAboveTotal = false; // ever more bytes done than in the total
    uint32_t last = 0;           // the share shown once the downloads ended, in thousandths
};

class PatchProgress : public PatchUpdate {
protected:
    // Runs the update while sampling the download's counters as the window does.
    Readings SampledRun(std::stop_token stop = {}) {
        Readings readings;
        std::atomic<bool> ended{false};
        uint32_t shown = 0;
        std::jthread sampler([&] {
            while (!ended.load()) {
                if (progress.phase.load() == Phase::Downloading) {
                    const uint64_t total = progress.bytesTotal.load();
                    const uint64_t done = progress.bytesDone.load();
                    readings.doneAboveTotal = readings.doneAboveTotal || done > total;
                    shown = ShownDownloadPermille(done, total, shown);
                }
                std::this_thread::yield();
            }
        });
        Run(stop);
        ended.store(true);
        sampler.join();
        readings.last = ShownDownloadPermille(progress.bytesDone.load(), progress.bytesTotal.load(), 0);
        return readings;
    }
    // The fault server's requests for objects with the suffix, by path.
    std::map<std::string, int> Requests(const std::string& suffix) const {
        std::map<std::string, int> found;
        for (const auto& request : Support::FaultRequests()) {
            if (request.path.find("/objects/") != std::string::npos && request.path.ends_with(suffix)) {
                ++found[request.path];
            }
        }
        return found;
    }
    std::string ObjectUrlPath(const FileEntry& entry) const {
        return "/" + WideToUtf8(mirrorName) + "/objects/" +
               DownloadServer::ObjectRelativePath(entry.sha256, entry.compressed);
    }
    const FileEntry& ArchiveEntry() {
        release = Support::ReadManifest(MirrorPath());
        return Support::EntryOf(release, L"data\\archive.pak");
    }
    // The chunks of a file of the game folder.
    FileChunks ChunksOf(const std::wstring& path) const {
        Outcome<FileChunks> chunks = HashChunks(game / path, {}, nullptr);
        EXPECT_TRUE(chunks.ok()) << WideToUtf8(chunks.message);
        return chunks ? *chunks.value : FileChunks{};
    }
    Manifest release;
};

TEST_F(PatchProgress, AChunkThatTwoFilesNeedIsFetchedAndCountedOnce) {
    publishOptions = {L"--no-packs"};
    std::string other = Support::RandomBytes(kArchiveSize, 32);
    WriteFileBytes(source / L"data\\other.pak", other);
    Publish(2);
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    const FileChunks oldArchive = ChunksOf(L"data\\archive.pak");
    const FileChunks oldOther = ChunksOf(L"data\\other.pak");
    // The same 2 MiB go into the middle of both files: the chunks inside them are the same.
    const std::string shared = Support::RandomBytes(2 << 20, 33);
    archive.insert(kArchiveSize / 2, shared);
    other.insert(kArchiveSize / 3, shared);
    WriteFileBytes(source / L"data\\other.pak", other);
    WriteSource();
    Publish(3);
    UseMirror(Support::FaultBase());
    Support::ClearFaultRequests();
    const Readings readings = SampledRun();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    EXPECT_FALSE(readings.doneAboveTotal);
    EXPECT_EQ(readings.last, 1000U);
    // What each file lacks of its older self; some chunks both lack. Each was asked for once.
    std::set<std::string> lacked;
    size_t lackedByBoth = 0;
    for (const auto& [sha256, offset] : ChunksOf(L"data\\archive.pak")) {
        if (!oldArchive.contains(sha256)) {
            lacked.insert(sha256);
        }
    }
    for (const auto& [sha256, offset] : ChunksOf(L"data\\other.pak")) {
        if (!oldOther.contains(sha256)) {
            lackedByBoth += lacked.contains(sha256) ? 1 : 0;
            lacked.insert(sha256);
        }
    }
    EXPECT_GT(lackedByBoth, 0U);
    const auto chunks = Requests(".c");
    EXPECT_EQ(chunks.size(), lacked.size()) << LogText();
    for (const auto& [path, count] : chunks) {
        EXPECT_EQ(count, 1) << path;
    }
    EXPECT_EQ(ReadFileOrEmpty(game / L"data\\other.pak") == other, true);
    ExpectTheRelease();
}

TEST_F(PatchProgress, AFallbackTakesTheChunksOutOfTheTotalAndTheRunEndsAtItsTotal) {
    publishOptions = {L"--no-packs"};
    EditAndPublish(3, 2);
    // Every chunk but one is served: the patch falls back once the missing one has failed.
    const std::vector<std::wstring> chunks = MirrorObjects(L".c");
    ASSERT_GT(chunks.size(), 2U);
    for (size_t i = 1; i < chunks.size(); ++i) {
        std::filesystem::remove(chunks[i]);
    }
    UseMirror(Support::FaultBase());
    const Readings readings = SampledRun();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    EXPECT_NE(LogText().find("a chunk could not be downloaded; downloading the whole file"),
              std::string::npos);
    EXPECT_FALSE(readings.doneAboveTotal);
    EXPECT_EQ(readings.last, 1000U);
    EXPECT_EQ(progress.bytesDone.load(), progress.bytesTotal.load());
    ExpectTheRelease();
}

TEST_F(PatchProgress, AFileThatCannotBePlacedIsNotDownloadedWholeToFailAgain) {
    EditAndPublish(3, 2);
    UseMirror(Support::FaultBase());
    // Rebuilt first (the rows are in path order), then copied to the other path.
    const std::wstring held = game / L"data\\archive copy.pak";
    HANDLE file =
        ::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    Run();
    ::CloseHandle(file);
    EXPECT_EQ(progress.phase.load(), Phase::Failed);
    // The placement's own message, as for a whole object (Windows says the file is in use, Wine that it
    // cannot be written).
    const std::wstring heading = L"The update could not be completed.\n";
    EXPECT_TRUE(Status() == heading + WriteErrorText(ERROR_SHARING_VIOLATION, held) ||
                Status() == heading + WriteErrorText(ERROR_ACCESS_DENIED, held))
        << WideToUtf8(Status());
    EXPECT_EQ(Requests("").count(ObjectUrlPath(ArchiveEntry())), 0U);
    EXPECT_EQ(LogText().find("downloading the whole file"), std::string::npos) << LogText();
}

TEST_F(PatchProgress, AnOlderFileChangedAfterPlanningIsNotUsedAndTheWholeObjectComes) {
    EditAndPublish(3, 2);
    UseMirror(Support::FaultBase());
    // The chunks come slowly; meanwhile the older file changes where the plan reuses it.
    Support::SetFaultRules(R"({"*": {"delay_ms": 300, "chunk": 65536}})");
    std::jthread changer([&](std::stop_token stop) {
        if (Support::WaitUntil(
                [&] { return stop.stop_requested() || LogText().find(" to fetch (") != std::string::npos; },
                120s) &&
            !stop.stop_requested()) {
            std::string older = ReadFileOrEmpty(game / L"data\\archive copy.pak");
            older.replace(0, 4096, Support::RandomBytes(4096, 77));
            WriteFileBytes(game / L"data\\archive copy.pak", older);
            Support::ClearFaultRules();
        }
    });
    Run();
    changer.request_stop();
    changer.join();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    EXPECT_NE(LogText().find("the rebuilt file is not the listed file; downloading the whole file"),
              std::string::npos)
        << LogText();
    ExpectTheRelease();
}

TEST_F(PatchProgress, AStopDuringTheRebuildLeavesTheOlderFileAndKeepsTheChunks) {
    EditAndPublish(3, 2);
    const Manifest installed = Support::ReadManifest(game / L".orvane");
    const FileEntry& before = Support::EntryOf(installed, L"data\\archive copy.pak");
    const std::wstring staging = game / L"data\\archive copy.pak.ovnew";
    std::stop_source stop;
    std::jthread stopper([&](std::stop_token ended) {
        while (!ended.stop_requested() && !Support::Exists(staging)) {
            std::this_thread::yield();
        }
        stop.request_stop();
    });
    Run(stop.get_token());
    stopper.request_stop();
    stopper.join();
    EXPECT_EQ(progress.phase.load(), Phase::Downloading);
    EXPECT_EQ(Support::Sha256Hex(ReadFileOrEmpty(game / L"data\\archive copy.pak")), before.sha256);
    EXPECT_FALSE(Support::Exists(staging));

    UseMirror(Support::FaultBase());
    Support::ClearFaultRequests();
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    EXPECT_TRUE(Requests(".c").empty());
    ExpectTheRelease();
}

TEST_F(PatchProgress, APatchThatCostsMoreThanTheObjectIsNotMade) {
    // A new large file whose name a one-byte leftover holds: nothing of it can be reused.
    const std::string fresh = Support::RandomBytes(8 << 20, 34);
    WriteFileBytes(source / L"data\\fresh.pak", fresh);
    Publish(2);
    WriteFileBytes(game / L"data\\fresh.pak", "x");
    UseMirror(Support::FaultBase());
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    EXPECT_NE(LogText().find("patch data\\fresh.pak: a patch would cost "), std::string::npos) << LogText();
    EXPECT_TRUE(Requests(".c").empty());
    const Manifest published = Support::ReadManifest(MirrorPath());
    const FileEntry& entry = Support::EntryOf(published, L"data\\fresh.pak");
    EXPECT_EQ(Requests("").count(ObjectUrlPath(entry)), 1U);
    EXPECT_EQ(ReadFileOrEmpty(game / L"data\\fresh.pak") == fresh, true);
}

} // namespace
} // namespace Orv
