// Patch updates against the test mirrors: a changed large file rebuilt from the chunks on disk.
#include "core/log.h"
#include "core/text.h"
#include "support/mirror_env.h"
#include "support/mirror_helpers.h"
#include "support/mirror_test.h"
#include "support/process.h"
#include "support/test_folder.h"
#include "update/update_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>
#include <random>
#include <set>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::ReadFileOrEmpty;
using Support::WriteFileBytes;

constexpr size_t kArchiveSize = 24 * 1024 * 1024;

class PatchUpdate : public Support::MirrorTest {
protected:
    void SetUp() override {
        MirrorTest::SetUp();
        mirrorName = L"patch_" + std::to_wstring(::GetTickCount64());
        archive = Support::RandomBytes(kArchiveSize, 31);
        WriteSource();
        WriteFileBytes(source / L"readme.txt", readme);
        Publish(1);
        UseMirror(Support::HttpBase());
        Run();
        ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    }
    // The archive twice: a second path with the same content is a copy of the first.
    void WriteSource() {
        WriteFileBytes(source / L"data\\archive.pak", archive);
        WriteFileBytes(source / L"data\\archive copy.pak", archive);
    }
    // Rewrites `count` scattered 4 KiB regions of the archive and publishes the next release.
    void EditAndPublish(int count, int release) {
        std::mt19937 random(static_cast<unsigned>(release));
        for (int i = 0; i < count; ++i) {
            const size_t at = random() % (archive.size() - 4096);
            archive.replace(at, 4096, Support::RandomBytes(4096, random()));
        }
        WriteSource();
        Publish(release);
    }
    void Publish(int release) {
        const auto published = Support::RunPublish(source.Path(), MirrorPath(), release);
        ASSERT_EQ(published.exitCode, 0U) << published.output;
    }
    std::wstring MirrorPath() const { return Support::MirrorRoot() + L"\\" + mirrorName; }
    // The mirror's objects with the suffix (".c" chunks, ".l" chunk lists).
    std::vector<std::wstring> MirrorObjects(const wchar_t* suffix) const {
        std::vector<std::wstring> found;
        for (const auto& item : std::filesystem::recursive_directory_iterator(MirrorPath())) {
            if (item.path().extension() == suffix) {
                found.push_back(item.path().wstring());
            }
        }
        return found;
    }
    void UseMirror(const std::wstring& base) {
        WriteFileBytes(game / L".orvane\\mirrors.txt", WideToUtf8(base + mirrorName) + "/\n");
    }
    void Run() {
        OpenLog(game / L".orvane\\launcher.log");
        UpdateRun(UpdateParams{game.Path(), false, false, L""}, progress, {});
    }
    std::wstring Status() {
        std::lock_guard guard(progress.lock);
        return progress.statusText;
    }
    std::string LogText() const { return ReadFileOrEmpty(game / L".orvane\\launcher.log"); }
    // Every file is the release's, and no staging or download file is left.
    void ExpectTheRelease() {
        EXPECT_EQ(ReadFileOrEmpty(game / L"data\\archive.pak"), archive);
        EXPECT_EQ(ReadFileOrEmpty(game / L"data\\archive copy.pak"), archive);
        EXPECT_EQ(ReadFileOrEmpty(game / L"readme.txt"), readme);
        for (const std::wstring& path : Support::FilesBelow(game.Path())) {
            EXPECT_FALSE(path.ends_with(L".ovnew")) << WideToUtf8(path);
        }
        EXPECT_FALSE(Support::Exists(game / L".orvane\\download"));
    }

    std::wstring mirrorName;
    std::string archive;
    std::string readme = "read me\n";
    Support::TempFolder source;
    Support::TempFolder game;
    UpdateProgress progress;
};

TEST_F(PatchUpdate, ScatteredEditsFetchOnlyTheChunksTheOlderFileLacks) {
    EditAndPublish(3, 2);
    const uint64_t before = Support::NginxObjectBytes(WideToUtf8(mirrorName));
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    const uint64_t fetched = Support::NginxObjectBytes(WideToUtf8(mirrorName)) - before;
    const Manifest release = Support::ReadManifest(MirrorPath());
    const uint64_t whole = Support::EntryOf(release, L"data\\archive.pak").zsize;
    EXPECT_GT(fetched, 0U);
    EXPECT_LE(fetched, whole / 10);
    // What the run counts is what was transferred: its chunk objects, after the chunk list.
    ASSERT_EQ(release.chunkedFiles.size(), 1U);
    EXPECT_EQ(progress.bytesTotal.load() + release.chunkedFiles[0].listSize, fetched);
    EXPECT_NE(LogText().find("patch data\\archive"), std::string::npos) << LogText();
    ExpectTheRelease();
}

TEST_F(PatchUpdate, WithoutChunkObjectsTheFileComesWhole) {
    EditAndPublish(3, 2);
    for (const std::wstring& chunk : MirrorObjects(L".c")) {
        std::filesystem::remove(chunk);
    }
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    EXPECT_NE(LogText().find("; downloading the whole file"), std::string::npos) << LogText();
    ExpectTheRelease();
}

TEST_F(PatchUpdate, AChunkListThatIsNotTheListedOneIsNotUsed) {
    EditAndPublish(3, 2);
    for (const std::wstring& path : MirrorObjects(L".l")) {
        std::string list = ReadFileOrEmpty(path);
        list[10] = list[10] == 'a' ? 'b' : 'a';
        WriteFileBytes(path, list);
    }
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    EXPECT_NE(LogText().find(": not the listed content; downloading the whole file"), std::string::npos)
        << LogText();
    ExpectTheRelease();
}

TEST_F(PatchUpdate, AKilledPatchUpdateGoesOnWithTheChunksItHas) {
    EditAndPublish(16, 2);
    UseMirror(Support::FaultBase());
    Support::SetFaultRules(R"({"*": {"delay_ms": 150, "chunk": 16384}})");
    const std::wstring download = game / L".orvane\\download";
    const auto chunksDone = [&] {
        size_t count = 0;
        for (const std::wstring& path : Support::FilesBelow(download)) {
            count += path.ends_with(L".chunk") ? 1 : 0;
        }
        return count;
    };
    {
        Support::ChildProcess update =
            Support::StartProcess(Support::BinaryFolder() + L"\\orvanectl.exe",
                                  L"update \"" + game.Path() + L"\"", game.Path(), game / L"update.txt");
        ASSERT_TRUE(update.Started());
        ASSERT_TRUE(Support::WaitUntil([&] { return chunksDone() > 0; }, 120s));
        update.Kill();
        ASSERT_TRUE(update.WaitExit(30s));
    }
    const size_t kept = chunksDone();
    // The older file is still whole: nothing is written to it before the move.
    EXPECT_EQ(Support::Sha256Hex(ReadFileOrEmpty(game / L"data\\archive.pak")),
              Support::EntryOf(Support::ReadManifest(game / L".orvane"), L"data\\archive.pak").sha256);

    Support::ClearFaultRules();
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    // The planning lines of the two runs: the second fetches fewer chunks.
    std::vector<size_t> toFetch;
    const std::string log = LogText();
    for (size_t at = log.find("chunks on disk, "); at != std::string::npos;
         at = log.find("chunks on disk, ", at + 1)) {
        toFetch.push_back(std::stoul(log.substr(at + 16)));
    }
    ASSERT_EQ(toFetch.size(), 2U) << log;
    EXPECT_LE(toFetch[1] + kept, toFetch[0]) << log;
    ExpectTheRelease();
}

// A mirror whose answers do not end: with no length, or with one far beyond the object's.
class EndlessMirror : public PatchUpdate, public ::testing::WithParamInterface<const char*> {
protected:
    // The URL path of an object file of the mirror folder.
    std::string UrlPath(const std::wstring& object) const {
        std::string path = WideToUtf8(object.substr(Support::MirrorRoot().size()));
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }
};

TEST_P(EndlessMirror, AnswersThatDoNotEndAreCutAtTheObjectsSizeAndTheNextMirrorServes) {
    readme = "read me, release 2\n";
    WriteFileBytes(source / L"readme.txt", readme);
    EditAndPublish(3, 2);
    const Manifest release = Support::ReadManifest(MirrorPath());
    // The chunk list, every chunk and the one whole object this update fetches.
    std::vector<std::wstring> endless = MirrorObjects(L".l");
    const std::vector<std::wstring> chunks = MirrorObjects(L".c");
    endless.insert(endless.end(), chunks.begin(), chunks.end());
    endless.push_back(Support::ObjectPath(MirrorPath(), Support::EntryOf(release, L"readme.txt")));
    std::string rules = "{";
    for (const std::wstring& object : endless) {
        rules += (rules.size() > 1 ? ", \"" : "\"") + UrlPath(object) + "\": " + GetParam();
    }
    Support::SetFaultRules(rules + "}");
    WriteFileBytes(game / L".orvane\\mirrors.txt", WideToUtf8(Support::FaultBase() + mirrorName + L"/\n" +
                                                              Support::HttpBase() + mirrorName + L"/\n"));
    uint64_t ahead = 0; // the most the progress ever showed beyond its total
    std::atomic<bool> ended{false};
    {
        // Every file the download folder may hold for these objects.
        std::vector<std::wstring> downloads;
        for (const std::wstring& object : endless) {
            const std::wstring name = object.substr(object.find_last_of(L'\\') + 1);
            const std::wstring sha = name.substr(0, 64);
            for (const std::wstring& suffix : {name + L".part", sha + L".chunk"}) {
                downloads.push_back(game / (L".orvane\\download\\" + suffix));
            }
        }
        const Support::LargestFileWatch watch(downloads);
        std::jthread progressWatch([&] {
            while (!ended.load()) {
                const uint64_t total = progress.bytesTotal.load();
                const uint64_t done = progress.bytesDone.load();
                if (progress.phase.load() == Phase::Downloading && done > total) {
                    ahead = std::max(ahead, done - total);
                }
                std::this_thread::yield();
            }
        });
        Run();
        ended.store(true);
        // The largest object the update fetches is a chunk object, 2 MiB at the most.
        EXPECT_LE(watch.Largest(), 2U << 20);
    }
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status()) << LogText();
    EXPECT_EQ(ahead, 0U);
    // Every first attempt went to the endless mirror.
    std::set<std::string> asked;
    for (const auto& request : Support::FaultRequests()) {
        asked.insert(request.path);
    }
    ASSERT_EQ(release.chunkedFiles.size(), 1U);
    const std::string& list = release.chunkedFiles[0].listSha256;
    EXPECT_TRUE(
        asked.contains("/" + WideToUtf8(mirrorName) + "/objects/" + list.substr(0, 2) + "/" + list + ".l"));
    EXPECT_NE(LogText().find("get readme.txt from " + WideToUtf8(Support::FaultBase() + mirrorName) +
                             "/ failed (attempt 1): longer than the object's"),
              std::string::npos)
        << LogText();
    ExpectTheRelease();
}

INSTANTIATE_TEST_SUITE_P(Bodies, EndlessMirror,
                         ::testing::Values(R"({"endless": true, "no_length": true})",
                                           R"({"endless": true, "length": 8589934592})"));

} // namespace
} // namespace Orv
