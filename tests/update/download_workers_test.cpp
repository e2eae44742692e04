// The twelve download workers over real mirrors: groups of identical files, copies, first failure.
#include "core/log.h"
#include "core/text.h"
#include "support/object_fixture.h"
#include "support/mirror_env.h"
#include "support/mirror_test.h"
#include "support/test_folder.h"
#include "update/download_workers.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::FaultBase;
using Support::PublishObject;
using Support::ReadFileOrEmpty;
using Support::SampleBytes;
using Support::TempFolder;

class DownloadWorkers : public Support::MirrorTest {
protected:
    void SetUp() override {
        MirrorTest::SetUp();
        OpenLog(game / L"launcher.log");
    }

    // Runs the workers over the entries as the update run would, from mirror folder `folder`.
    std::optional<std::wstring> Run(const std::wstring& folder, std::stop_token outer = {}) {
        mirrors = {FaultBase() + folder + L"/"};
        downloader.emplace(game.Path(), mirrors, 0, progress);
        std::vector<const FileEntry*> list;
        for (const auto& e : entries) {
            list.push_back(&e);
        }
        groups = GroupDownloads(list);
        phase.emplace(groups, *downloader, game.Path(), cache, progress);
        return RunDownloads(*phase, outer);
    }
    std::string SlowRule(const FileEntry& e, const std::wstring& folder) {
        return "\"/" + WideToUtf8(folder) + "/objects/" + e.sha256.substr(0, 2) + "/" + e.sha256 +
               (e.compressed ? ".z" : "") + "\": {\"delay_ms\": 500, \"chunk\": 16384}";
    }

    struct Phase : DownloadPhase {
        Phase(const std::vector<DownloadGroup>& g, const Downloader& d, const std::wstring& folder,
              FileCache& c, UpdateProgress& p)
            : DownloadPhase{g, {}, d, folder, c, p, {}, {}, {}, 0, {}, {}, {}} {}
    };

    TempFolder game;
    UpdateProgress progress;
    FileCache cache{game / L"filecache.txt"};
    std::vector<FileEntry> entries;
    std::vector<std::wstring> mirrors;
    std::optional<Downloader> downloader;
    std::vector<DownloadGroup> groups;
    std::optional<Phase> phase;
};

TEST_F(DownloadWorkers, IdenticalFilesAreFetchedOnceAndCopied) {
    const std::string content = SampleBytes(50000, 21, true);
    entries.push_back(PublishObject(L"dw_dup", L"a\\one.dat", content, true));
    entries.push_back(PublishObject(L"dw_dup", L"b\\two.dat", content, true));
    entries.push_back(PublishObject(L"dw_dup", L"c\\d\\three.dat", content, true));
    EXPECT_FALSE(Run(L"dw_dup").has_value());
    EXPECT_EQ(Support::FaultRequests().size(), 1U);
    for (const auto& e : entries) {
        EXPECT_EQ(ReadFileOrEmpty(game / e.path), content);
        EXPECT_TRUE(cache.IsKnownGood(e, StatFile(game / e.path), e.sha256)) << WideToUtf8(e.path);
    }
    EXPECT_EQ(progress.filesDone.load(), 3U);
    EXPECT_FALSE(Support::Exists(game / L"b\\two.dat.ovnew"));
}

TEST_F(DownloadWorkers, GroupsAreOrderedLargestObjectFirst) {
    entries.push_back(PublishObject(L"dw_order", L"small", SampleBytes(10, 1), false));
    entries.push_back(PublishObject(L"dw_order", L"large", SampleBytes(3000, 2), false));
    entries.push_back(PublishObject(L"dw_order", L"middle", SampleBytes(200, 3), false));
    entries.push_back(PublishObject(L"dw_order", L"large copy", SampleBytes(3000, 2), false));
    std::vector<const FileEntry*> list;
    for (const auto& e : entries) {
        list.push_back(&e);
    }
    const auto grouped = GroupDownloads(list);
    ASSERT_EQ(grouped.size(), 3U);
    EXPECT_EQ(grouped[0].entries.size(), 2U);
    EXPECT_EQ(grouped[0].entries[0]->path, L"large");
    EXPECT_EQ(grouped[0].entries[1]->path, L"large copy");
    EXPECT_EQ(grouped[1].entries[0]->path, L"middle");
    EXPECT_EQ(grouped[2].entries[0]->path, L"small");
}

TEST_F(DownloadWorkers, FewerGroupsThanWorkersLeaveTheOtherSlotsIdle) {
    entries.push_back(PublishObject(L"dw_few", L"x.bin", SampleBytes(1000, 4), false));
    entries.push_back(PublishObject(L"dw_few", L"y.bin", SampleBytes(2000, 5), false));
    EXPECT_FALSE(Run(L"dw_few").has_value());
    EXPECT_EQ(progress.filesDone.load(), 2U);
    for (const auto& slot : progress.slots) {
        EXPECT_FALSE(slot.active.load());
    }
    size_t used = 0;
    for (const auto& slot : progress.slots) {
        used += slot.total != 0 ? 1 : 0;
    }
    EXPECT_LE(used, 2U);
}

TEST_F(DownloadWorkers, AFailingGroupStopsTheOthersAndItsMessageIsKept) {
    std::string rules = "{";
    for (int i = 0; i < 4; ++i) {
        entries.push_back(
            PublishObject(L"dw_fail", L"slow" + std::to_wstring(i), SampleBytes(1 << 20, 30 + i), false));
        rules += (i ? ", " : "") + SlowRule(entries.back(), L"dw_fail");
    }
    Support::SetFaultRules(rules + "}");
    FileEntry missing = PublishObject(L"dw_elsewhere", L"missing.bin", SampleBytes(10, 40), false);
    entries.push_back(missing);
    const auto failure = Run(L"dw_fail");
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(*failure,
              L"missing.bin: File not found on the server (404). An update may be in progress, try again "
              L"in a few minutes.");
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(Support::Exists(game / (L"slow" + std::to_wstring(i))));
    }
    EXPECT_EQ(progress.filesDone.load(), 0U);
}

TEST_F(DownloadWorkers, StoppingTheRunCancelsEveryTransfer) {
    std::string rules = "{";
    for (int i = 0; i < 3; ++i) {
        entries.push_back(
            PublishObject(L"dw_stop", L"s" + std::to_wstring(i), SampleBytes(1 << 20, 50 + i), false));
        rules += (i ? ", " : "") + SlowRule(entries.back(), L"dw_stop");
    }
    Support::SetFaultRules(rules + "}");
    std::stop_source outer;
    std::jthread stopper([&] {
        // Every transfer under way before the stop.
        Support::WaitUntil(
            [&] {
                size_t receiving = 0;
                for (const auto& slot : progress.slots) {
                    receiving += slot.received.load() > 0 ? 1 : 0;
                }
                return receiving == 3;
            },
            20s);
        outer.request_stop();
    });
    const auto failure = Run(L"dw_stop", outer.get_token());
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(*failure, L"Cancelled.");
    EXPECT_EQ(progress.filesDone.load(), 0U);
    EXPECT_EQ(Support::FaultRequests().size(), 3U);
}

TEST_F(DownloadWorkers, ReadOnlyDuplicateIsReplaced) {
    const std::string content = SampleBytes(4000, 60, true);
    entries.push_back(PublishObject(L"dw_ro", L"first.dat", content, true));
    entries.push_back(PublishObject(L"dw_ro", L"second.dat", content, true));
    Support::WriteFileBytes(game / L"second.dat", "old content");
    ::SetFileAttributesW((game / L"second.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(Run(L"dw_ro").has_value());
    EXPECT_EQ(ReadFileOrEmpty(game / L"second.dat"), content);
}

TEST(CopyPlace, FailureNamesTheFileAndTheSystemReason) {
    TempFolder folder;
    const auto result = CopyPlace(folder / L"no-such-source", folder / L"sub\\target.dat");
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.message.substr(0, 12), L"target.dat: ");
    EXPECT_EQ(result.message.back(), L')');
    EXPECT_FALSE(Support::Exists(folder / L"sub\\target.dat.ovnew"));
}

} // namespace
} // namespace Orv
