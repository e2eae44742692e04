// Downloader::Get against the test mirrors: resume, ranges, retries over mirrors, placement.
#include "core/log.h"
#include "core/text.h"
#include "support/object_fixture.h"
#include "support/mirror_env.h"
#include "support/mirror_test.h"
#include "support/test_folder.h"
#include "update/downloader.h"
#include "update/update_progress.h"

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

class DownloaderTest : public Support::MirrorTest {
protected:
    void SetUp() override {
        MirrorTest::SetUp();
        OpenLog(game / L"launcher.log");
    }

    Outcome<Ok> Get(const FileEntry& entry, const std::vector<std::wstring>& mirrors, int index = 0,
                    std::stop_token stop = {}) {
        downloader.emplace(game.Path(), mirrors, index, progress);
        return downloader->Get(entry, game / entry.path, &slot, stop);
    }
    std::wstring Part(const FileEntry& entry) {
        Downloader d(game.Path(), {}, 0, progress);
        return d.PartPath(entry);
    }
    bool LogHas(const std::string& text) {
        return ReadFileOrEmpty(game / L"launcher.log").find(text) != std::string::npos;
    }
    static std::string Narrow(const std::wstring& text) { return WideToUtf8(text); }

    TempFolder game;
    UpdateProgress progress;
    Slot slot;
    std::optional<Downloader> downloader;
};

TEST_F(DownloaderTest, PartFileIsNamedByTheObjectInsideTheDownloadFolder) {
    FileEntry entry;
    entry.sha256 = std::string(64, 'c');
    entry.compressed = true;
    EXPECT_EQ(Part(entry), game / (L".orvane\\download\\" + std::wstring(64, L'c') + L".z.part"));
    entry.compressed = false;
    EXPECT_EQ(Part(entry), game / (L".orvane\\download\\" + std::wstring(64, L'c') + L".part"));
}

TEST_F(DownloaderTest, CompressedObjectIsFetchedVerifiedAndPlaced) {
    const std::string content = SampleBytes(200000, 1, true);
    const FileEntry entry = PublishObject(L"dl_plain", L"data\\maps\\one.dat", content, true);
    const auto result = Get(entry, {Support::HttpBase() + L"dl_plain/"});
    ASSERT_TRUE(result.ok()) << Narrow(result.message);
    EXPECT_EQ(ReadFileOrEmpty(game / L"data\\maps\\one.dat"), content);
    EXPECT_FALSE(Support::Exists(Part(entry)));
    EXPECT_FALSE(Support::Exists(game / L"data\\maps\\one.dat.ovnew"));
    EXPECT_EQ(progress.bytesDone.load(), entry.zsize);
    EXPECT_EQ(slot.received.load(), entry.zsize);
}

TEST_F(DownloaderTest, PartialFileIsResumedWithARangeRequest) {
    const std::string content = SampleBytes(1000, 2);
    const FileEntry entry = PublishObject(L"dl_resume", L"resume.bin", content, false);
    Support::WriteFileBytes(Part(entry), content.substr(0, 300));
    const auto result = Get(entry, {FaultBase() + L"dl_resume/"});
    ASSERT_TRUE(result.ok()) << Narrow(result.message);
    const auto requests = Support::FaultRequests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].range, "bytes=300-");
    EXPECT_EQ(requests[0].status, 206);
    EXPECT_TRUE(LogHas(" resume resume.bin at 300 of 1000\r\n"));
    EXPECT_EQ(ReadFileOrEmpty(game / L"resume.bin"), content);
    EXPECT_EQ(progress.bytesDone.load(), 1000U);
}

TEST_F(DownloaderTest, ServerIgnoringTheRangeRestartsTheFileAndTheProgress) {
    const std::string content = SampleBytes(1000, 3);
    const FileEntry entry = PublishObject(L"dl_norange", L"norange.bin", content, false);
    Support::WriteFileBytes(Part(entry), content.substr(0, 300));
    Support::SetFaultRules(R"({"/dl_norange/objects/)" + entry.sha256.substr(0, 2) + "/" + entry.sha256 +
                           R"(": {"ignore_range": true}})");
    const auto result = Get(entry, {FaultBase() + L"dl_norange/"});
    ASSERT_TRUE(result.ok()) << Narrow(result.message);
    EXPECT_EQ(ReadFileOrEmpty(game / L"norange.bin"), content);
    EXPECT_EQ(progress.bytesDone.load(), 1000U);
}

TEST_F(DownloaderTest, CompletePartSkipsTheRequest) {
    const std::string content = SampleBytes(5000, 4, true);
    const FileEntry entry = PublishObject(L"dl_complete", L"complete.bin", content, true);
    Support::WriteFileBytes(Part(entry), Support::Deflate(content));
    const auto result = Get(entry, {FaultBase() + L"dl_complete/"});
    ASSERT_TRUE(result.ok()) << Narrow(result.message);
    EXPECT_TRUE(Support::FaultRequests().empty());
    EXPECT_EQ(ReadFileOrEmpty(game / L"complete.bin"), content);
}

TEST_F(DownloaderTest, PartLongerThanTheObjectIsDiscarded) {
    const std::string content = SampleBytes(1000, 5);
    const FileEntry entry = PublishObject(L"dl_long", L"long.bin", content, false);
    Support::WriteFileBytes(Part(entry), std::string(1500, 'x'));
    const auto result = Get(entry, {FaultBase() + L"dl_long/"});
    ASSERT_TRUE(result.ok()) << Narrow(result.message);
    const auto requests = Support::FaultRequests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].range, "-");
    EXPECT_EQ(ReadFileOrEmpty(game / L"long.bin"), content);
}

TEST_F(DownloaderTest, StaleRangeAnswered416IsRestartedWholeOnTheNextMirror) {
    const std::string content = SampleBytes(1000, 6);
    const FileEntry entry = PublishObject(L"dl_416", L"stale.bin", content, false);
    Support::WriteFileBytes(Part(entry), content.substr(0, 300));
    const std::string object = "/objects/" + entry.sha256.substr(0, 2) + "/" + entry.sha256;
    Support::SetFaultRules(R"({"/dl_416a)" + object + R"(": {"status": 416}})");
    // Both mirror folders serve the same object; the first answers 416.
    PublishObject(L"dl_416a", L"stale.bin", content, false);
    PublishObject(L"dl_416b", L"stale.bin", content, false);
    const auto result = Get(entry, {FaultBase() + L"dl_416a/", FaultBase() + L"dl_416b/"});
    ASSERT_TRUE(result.ok()) << Narrow(result.message);
    const auto requests = Support::FaultRequests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[0].path, "/dl_416a" + object);
    EXPECT_EQ(requests[0].range, "bytes=300-");
    EXPECT_EQ(requests[1].path, "/dl_416b" + object);
    EXPECT_EQ(requests[1].range, "-");
    EXPECT_TRUE(
        LogHas(" get stale.bin from " + Narrow(FaultBase()) + "dl_416a/ failed (attempt 1): HTTP 416\r\n"));
    EXPECT_EQ(ReadFileOrEmpty(game / L"stale.bin"), content);
}

TEST_F(DownloaderTest, DroppedTransferIsResumedWhereItStopped) {
    const std::string content = SampleBytes(300000, 7);
    const FileEntry entry = PublishObject(L"dl_drop", L"drop.bin", content, false);
    Support::SetFaultRules(R"({"/dl_drop/objects/)" + entry.sha256.substr(0, 2) + "/" + entry.sha256 +
                           R"(": {"drop_after": 1000, "drop_times": 1}})");
    const auto result = Get(entry, {FaultBase() + L"dl_drop/"});
    ASSERT_TRUE(result.ok()) << Narrow(result.message);
    const auto requests = Support::FaultRequests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[1].range, "bytes=1000-");
    EXPECT_EQ(ReadFileOrEmpty(game / L"drop.bin"), content);
    EXPECT_EQ(progress.bytesDone.load(), 300000U);
}

TEST_F(DownloaderTest, ASmallObjectComesIntoMemoryAndADroppedOneStartsAgain) {
    const std::string content = SampleBytes(200000, 17);
    const FileEntry entry = PublishObject(L"dl_small", L"small.bin", content, false);
    Support::SetFaultRules(R"({"/dl_small/objects/)" + entry.sha256.substr(0, 2) + "/" + entry.sha256 +
                           R"(": {"drop_after": 150000, "drop_times": 1, "delay_ms": 20, "chunk": 8192}})");
    const Support::LargestFileWatch watch({Part(entry)});
    const auto result = Get(entry, {FaultBase() + L"dl_small/"});
    ASSERT_TRUE(result.ok()) << Narrow(result.message);
    const auto requests = Support::FaultRequests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[1].range, "-");
    EXPECT_EQ(watch.Largest(), 0U);
    EXPECT_FALSE(Support::Exists(Part(entry)));
    EXPECT_EQ(ReadFileOrEmpty(game / L"small.bin"), content);
    EXPECT_EQ(progress.bytesDone.load(), entry.zsize);
}

TEST_F(DownloaderTest, EmptyObjectIsPlacedWithoutARequest) {
    const FileEntry entry = PublishObject(L"dl_empty", L"logs\\empty.txt", "", false);
    ASSERT_EQ(entry.zsize, 0U);
    const auto result = Get(entry, {FaultBase() + L"dl_empty/"});
    ASSERT_TRUE(result.ok()) << Narrow(result.message);
    EXPECT_TRUE(Support::FaultRequests().empty());
    EXPECT_TRUE(Support::Exists(game / L"logs\\empty.txt"));
    EXPECT_EQ(ReadFileOrEmpty(game / L"logs\\empty.txt"), "");
    EXPECT_FALSE(Support::Exists(Part(entry)));
}

TEST_F(DownloaderTest, FailingAttemptsMoveAcrossTheMirrorsAndEndWithThePathAndTheLastMessage) {
    const std::string content = SampleBytes(100, 8);
    FileEntry entry = PublishObject(L"dl_rot0", L"rotate.bin", content, false);
    PublishObject(L"dl_rot1", L"rotate.bin", content, false);
    const std::string object = "/objects/" + entry.sha256.substr(0, 2) + "/" + entry.sha256;
    Support::SetFaultRules(R"({"/dl_rot0)" + object + R"(": {"status": 500}, "/dl_rot1)" + object +
                           R"(": {"status": 500}})");
    const auto result = Get(entry, {FaultBase() + L"dl_rot0/", FaultBase() + L"dl_rot1/"}, 1);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.message, L"rotate.bin: The download server is not responding. (HTTP 500)");
    const auto requests = Support::FaultRequests();
    ASSERT_EQ(requests.size(), 5U);
    const char* expected[] = {"/dl_rot1", "/dl_rot0", "/dl_rot1", "/dl_rot0", "/dl_rot1"};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(requests[i].path, expected[i] + object);
    }
    EXPECT_TRUE(LogHas("failed (attempt 5): The download server is not responding. (HTTP 500)\r\n"));
}

TEST_F(DownloaderTest, UpperCaseManifestHashNeverVerifies) {
    const std::string content = SampleBytes(2000, 9, true);
    FileEntry entry;
    entry.path = L"upper.bin";
    entry.size = content.size();
    entry.sha256 = Support::Sha256Hex(content);
    for (char& c : entry.sha256) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    entry.compressed = true;
    const std::string object = Support::Deflate(content);
    entry.zsize = object.size();
    // The server keeps the object under the name the manifest spells in capitals.
    Support::WriteFileBytes(Support::MirrorRoot() + L"\\dl_upper\\objects\\" +
                                Utf8ToWide(entry.sha256.substr(0, 2)) + L"\\" + Utf8ToWide(entry.sha256) +
                                L".z",
                            object);
    const auto result = Get(entry, {Support::HttpBase() + L"dl_upper/"});
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.message,
              L"upper.bin: Downloaded file is corrupt (verification failed), downloading again.");
    EXPECT_FALSE(Support::Exists(game / L"upper.bin"));
    EXPECT_FALSE(Support::Exists(Part(entry)));
    EXPECT_EQ(progress.bytesDone.load(), 0U);
}

TEST_F(DownloaderTest, StopDuringTheTransferEndsAsCancelledAndKeepsThePart) {
    const std::string content = SampleBytes(2 << 20, 10);
    const FileEntry entry = PublishObject(L"dl_stop", L"stop.bin", content, false);
    Support::SetFaultRules(R"({"/dl_stop/objects/)" + entry.sha256.substr(0, 2) + "/" + entry.sha256 +
                           R"(": {"delay_ms": 200, "chunk": 65536}})");
    std::stop_source stop;
    std::jthread stopper([&] {
        Support::WaitUntil([&] { return slot.received.load() > 0; }, 20s);
        stop.request_stop();
    });
    const auto result = Get(entry, {FaultBase() + L"dl_stop/"}, 0, stop.get_token());
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.message, L"Cancelled.");
    EXPECT_TRUE(Support::Exists(Part(entry)));
    EXPECT_FALSE(Support::Exists(game / L"stop.bin"));
    EXPECT_EQ(Support::FaultRequests().size(), 1U);
}

TEST_F(DownloaderTest, StopWhileAFinishedObjectIsStagedKeepsItAndTheNextGetNeedsNoRequest) {
    // Large enough to take a while to inflate and hash, small as an object.
    const std::string content(256 << 20, 'z');
    const FileEntry entry = PublishObject(L"dl_stage_stop", L"big.dat", content, true);
    Support::WriteFileBytes(Part(entry), Support::Deflate(content));
    const std::wstring staging = game / L"big.dat.ovnew";
    std::stop_source stop;
    std::jthread stopper([&] {
        while (!Support::Exists(staging) && !Support::Exists(game / L"big.dat")) {
            std::this_thread::yield();
        }
        stop.request_stop();
    });
    const std::vector<std::wstring> mirrors{FaultBase() + L"dl_stage_stop/"};
    const auto stopped = Get(entry, mirrors, 0, stop.get_token());
    EXPECT_EQ(stopped.message, L"Cancelled.");
    EXPECT_EQ(Support::ReadFileOrEmpty(Part(entry)).size(), entry.zsize);
    EXPECT_FALSE(Support::Exists(staging));
    EXPECT_FALSE(LogHas("Downloaded file is corrupt"));

    const auto again = Get(entry, mirrors);
    ASSERT_TRUE(again.ok()) << Narrow(again.message);
    EXPECT_TRUE(Support::FaultRequests().empty());
    EXPECT_EQ(Support::ReadFileOrEmpty(game / L"big.dat") == content, true);
}

TEST_F(DownloaderTest, StopBeforeTheFirstAttemptMakesNoRequest) {
    const FileEntry entry = PublishObject(L"dl_stopped", L"x.bin", "abc", false);
    std::stop_source stop;
    stop.request_stop();
    const auto result = Get(entry, {FaultBase() + L"dl_stopped/"}, 0, stop.get_token());
    EXPECT_EQ(result.message, L"Cancelled.");
    EXPECT_TRUE(Support::FaultRequests().empty());
}

TEST_F(DownloaderTest, FullDiskEndsAtOnceWithoutRetry) {
    const std::wstring smallDisk = Support::SmallDisk();
    if (smallDisk.empty()) {
        GTEST_SKIP() << "no small disk: mounting a tmpfs is not permitted here";
    }
    const std::wstring gameOnSmallDisk = smallDisk + L"\\dl_full";
    const std::string content = SampleBytes(12 << 20, 11);
    const FileEntry entry = PublishObject(L"dl_full", L"full.bin", content, false);
    const std::vector<std::wstring> mirrors{FaultBase() + L"dl_full/"};
    downloader.emplace(gameOnSmallDisk, mirrors, 0, progress);
    const auto result = downloader->Get(entry, gameOnSmallDisk + L"\\full.bin", &slot, {});
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.message, L"The disk is full.");
    EXPECT_EQ(Support::FaultRequests().size(), 1U);
    ::DeleteFileW(downloader->PartPath(entry).c_str());
    downloader.reset();
}

TEST(RetryPause, DoublesFromOneSecond) {
    EXPECT_EQ(RetryPauseMs(1), 1000U);
    EXPECT_EQ(RetryPauseMs(2), 2000U);
    EXPECT_EQ(RetryPauseMs(3), 4000U);
    EXPECT_EQ(RetryPauseMs(4), 8000U);
}

} // namespace
} // namespace Orv
