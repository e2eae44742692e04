// Patch updates against the test mirrors: a changed large file rebuilt from the chunks on disk.
#include "patch_fixture.h"

#include "support/process.h"

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::ReadFileOrEmpty;
using Support::WriteFileBytes;

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
    // What the run counts is what was transferred: the chunk list and the chunk objects.
    EXPECT_EQ(progress.bytesTotal.load(), fetched);
    EXPECT_EQ(progress.bytesDone.load(), fetched);
    EXPECT_NE(LogText().find("patch data\\archive"), std::string::npos) << LogText();
    ExpectTheRelease();
}

TEST_F(PatchUpdate, TheChunksAPatchLacksComeInRangesOfAPack) {
    EditAndPublish(3, 2);
    const std::string folder = WideToUtf8(mirrorName);
    const size_t chunks = Support::NginxRequests(folder, ".c");
    const size_t packs = Support::NginxRequests(folder, ".pack");
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    EXPECT_EQ(Support::NginxRequests(folder, ".c"), chunks);
    EXPECT_GT(Support::NginxRequests(folder, ".pack"), packs);
    ExpectTheRelease();
}

TEST_F(PatchUpdate, WithoutChunkObjectsTheFileComesWhole) {
    publishOptions = {L"--no-packs"};
    EditAndPublish(3, 2);
    for (const std::wstring& chunk : MirrorObjects(L".c")) {
        std::filesystem::remove(chunk);
    }
    Run();
    ASSERT_EQ(progress.phase.load(), Phase::Done) << WideToUtf8(Status());
    EXPECT_NE(
        LogText().find("patch data\\archive copy.pak: a chunk could not be downloaded; downloading the whole "
                       "file"),
        std::string::npos)
        << LogText();
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
    EXPECT_NE(
        LogText().find(
            ": its chunk list: data\\archive copy.pak: Downloaded file is corrupt (verification failed), "
            "downloading again.; downloading the whole file"),
        std::string::npos)
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
        ASSERT_TRUE(update.Started()) << update.StartProblem();
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
