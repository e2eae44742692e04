// orvanectl verify <url> and orvanectl pull against the test mirrors: nginx, and the fault server for
// what mirrors and CDNs get wrong. Run as processes on real folders.
#include "core/text.h"
#include "support/mirror_env.h"
#include "support/mirror_helpers.h"
#include "support/mirror_test.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace Orv {
namespace {

using Support::ReadFileOrEmpty;
using Support::RunOrvanectl;
using Support::RunResult;
using Support::Utf8;
using Support::WriteFileBytes;

// A release with small files (in packs), one stored object and one file published in chunks.
void WriteGame(const std::wstring& game, int release) {
    for (int i = 0; i < 12; ++i) {
        WriteFileBytes(game + L"\\text\\" + std::to_wstring(i) + L".txt",
                       std::string(3000 + i + release, static_cast<char>('a' + i)));
    }
    WriteFileBytes(game + L"\\noise.bin", Support::RandomBytes(200000, 3));
    WriteFileBytes(game + L"\\archive.pak", Support::RandomBytes(5 * 1024 * 1024, 4));
}

// Publishes release N of WriteGame into <mirror root>\<name>.
void PublishInto(const std::wstring& name, int release) {
    Support::TempFolder game;
    WriteGame(game.Path(), release);
    const RunResult run = Support::RunPublish(game.Path(), Support::MirrorRoot() + L"\\" + name, release);
    ASSERT_EQ(run.exitCode, 0U) << run.output;
}

bool Has(const RunResult& run, const std::string& text) {
    return run.output.find(text) != std::string::npos;
}

class WebVerify : public Support::MirrorTest {
protected:
    static void SetUpTestSuite() {
        std::filesystem::remove_all(Support::MirrorRoot() + L"\\webverify");
        PublishInto(L"webverify", 1);
    }
    static RunResult Verify(const std::wstring& base, const std::vector<std::wstring>& extra = {}) {
        std::vector<std::wstring> args{L"verify", base + L"webverify/"};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunOrvanectl(args);
    }
    // The path below the server of the stored object (noise.bin).
    static std::string StoredPath() {
        const Manifest manifest = Support::ReadManifest(Support::MirrorRoot() + L"\\webverify");
        const FileEntry& entry = Support::EntryOf(manifest, L"noise.bin");
        return "/webverify/objects/" + entry.sha256.substr(0, 2) + "/" + entry.sha256;
    }
};

TEST_F(WebVerify, GoodMirrorPassesOverHttpAndHttpsAndQuick) {
    const RunResult full = Verify(Support::HttpBase());
    EXPECT_EQ(full.exitCode, 0U) << full.output;
    EXPECT_TRUE(Has(full, "1 files in ") && Has(full, " packs, all good")) << full.output;
    EXPECT_FALSE(Has(full, "warning")) << full.output;
    const RunResult quick = Verify(Support::HttpsBase(), {L"--quick"});
    EXPECT_EQ(quick.exitCode, 0U) << quick.output;
    EXPECT_TRUE(Has(quick, "presence and sizes only")) << quick.output;
}

TEST_F(WebVerify, EachFaultOfAnObjectFailsNamingItsUrl) {
    const std::string url = Utf8(Support::FaultBase()) + StoredPath().substr(1);
    const std::pair<std::string, std::string> faults[] = {
        {R"({"html": true})", "is an HTML page"},
        {R"({"truncate": 1000})", "is 1000 bytes, the manifest says 200000"},
        {R"({"flip_at": 777})", "holds content with SHA-256"},
        {R"({"status": 404})", "missing (HTTP 404)"},
        {R"({"status": 403})", "answered HTTP 403"},
        {R"({"gzip": true})", "is sent with \"Content-Encoding: gzip\""},
    };
    for (const auto& [rule, reason] : faults) {
        Support::SetFaultRules("{\"" + StoredPath() + "\": " + rule + "}");
        const RunResult run = Verify(Support::FaultBase());
        EXPECT_EQ(run.exitCode, 1U) << rule << run.output;
        EXPECT_TRUE(Has(run, "bad: " + url + ": " + reason)) << rule << run.output;
    }
    Support::SetFaultRules(R"({"/webverify/manifest.txt": {"from_request": 2, "truncate": 100}})");
    const RunResult stale = Verify(Support::FaultBase());
    EXPECT_EQ(stale.exitCode, 1U) << stale.output;
    EXPECT_TRUE(Has(stale, "manifest.txt?t=") && Has(stale, "different manifests")) << stale.output;
}

TEST_F(WebVerify, RangesAnsweredWholeAreAWarning) {
    Support::SetFaultRules(R"({"*": {"ignore_range": true}})");
    const RunResult run = Verify(Support::FaultBase());
    EXPECT_EQ(run.exitCode, 0U) << run.output;
    EXPECT_TRUE(Has(run, "/objects/") && Has(run, ".pack: answers a range request with 200")) << run.output;
}

TEST_F(WebVerify, QuickTakesTheFirstByteWhereHeadIsRefusedAndFindsAMissingObject) {
    const RunResult good = Verify(Support::FaultBase(), {L"--quick"});
    EXPECT_EQ(good.exitCode, 0U) << good.output;
    size_t firstBytes = 0;
    for (const Support::RequestRecord& request : Support::FaultRequests()) {
        firstBytes += request.range == "bytes=0-0";
    }
    EXPECT_GT(firstBytes, 12U);

    Support::SetFaultRules("{\"" + StoredPath() + "\": {\"status\": 404}}");
    const RunResult missing = Verify(Support::FaultBase(), {L"--quick"});
    EXPECT_EQ(missing.exitCode, 1U) << missing.output;
    EXPECT_TRUE(Has(missing, Utf8(Support::FaultBase()) + StoredPath().substr(1) + ": missing"))
        << missing.output;
}

TEST_F(WebVerify, UnsignedManifestFailsWithAKey) {
    const RunResult run = Verify(Support::HttpBase(), {L"--key", Utf8ToWide(Support::kPublisherKey)});
    EXPECT_EQ(run.exitCode, 1U) << run.output;
    EXPECT_TRUE(Has(run, "signature: does not hold")) << run.output;
}

class Pull : public Support::MirrorTest {
protected:
    static void SetUpTestSuite() {
        for (const wchar_t* name : {L"pull_src", L"pull_dst", L"pull_cut", L"pull_keyed"}) {
            std::filesystem::remove_all(Support::MirrorRoot() + L"\\" + name);
        }
        PublishInto(L"pull_src", 1);
    }
    static RunResult PullInto(const std::wstring& base, const std::wstring& name,
                              const std::vector<std::wstring>& extra = {}) {
        std::vector<std::wstring> args{L"pull", base + L"pull_src/", Support::MirrorRoot() + L"\\" + name};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunOrvanectl(args);
    }
    static uint64_t BytesBelow(const std::wstring& folder, const std::vector<std::wstring>& names) {
        uint64_t bytes = 0;
        for (const std::wstring& name : names) {
            bytes += std::filesystem::file_size(folder + L"\\" + name);
        }
        return bytes;
    }
};

TEST_F(Pull, PulledFolderInstallsTheGameAndTheNextReleaseFetchesOnlyItsNewContent) {
    const std::wstring source = Support::MirrorRoot() + L"\\pull_src";
    const std::wstring pulled = Support::MirrorRoot() + L"\\pull_dst";
    const RunResult first = PullInto(Support::HttpBase(), L"pull_dst");
    ASSERT_EQ(first.exitCode, 0U) << first.output;
    EXPECT_EQ(ReadFileOrEmpty(pulled + L"\\manifest.txt"), ReadFileOrEmpty(source + L"\\manifest.txt"));

    Support::TempFolder game;
    WriteFileBytes(game / L".orvane\\mirrors.txt", Utf8(Support::HttpBase()) + "pull_dst/\n");
    const RunResult update = RunOrvanectl({L"update", game.Path()});
    EXPECT_EQ(update.exitCode, 0U) << update.output;
    EXPECT_EQ(ReadFileOrEmpty(game / L"archive.pak"), Support::RandomBytes(5 * 1024 * 1024, 4));

    const std::vector<std::wstring> before = Support::FilesBelow(source);
    PublishInto(L"pull_src", 2);
    std::vector<std::wstring> added;
    for (const std::wstring& name : Support::FilesBelow(source)) {
        if (!std::binary_search(before.begin(), before.end(), name) && name != L"manifest.txt") {
            added.push_back(name);
        }
    }
    const uint64_t served = Support::NginxObjectBytes("pull_src");
    const RunResult next = PullInto(Support::HttpBase(), L"pull_dst");
    ASSERT_EQ(next.exitCode, 0U) << next.output;
    EXPECT_LE(Support::NginxObjectBytes("pull_src") - served, BytesBelow(source, added)) << next.output;
    EXPECT_TRUE(Has(next, "pulled release 2")) << next.output;

    const Manifest manifest = Support::ReadManifest(pulled);
    const std::wstring damaged = Support::ObjectPath(pulled, Support::EntryOf(manifest, L"noise.bin"));
    const std::string good = ReadFileOrEmpty(damaged);
    std::string bad = good;
    bad[4000] ^= 0x01;
    WriteFileBytes(damaged, bad);
    const RunResult repaired = PullInto(Support::HttpBase(), L"pull_dst");
    EXPECT_EQ(repaired.exitCode, 0U) << repaired.output;
    EXPECT_TRUE(Has(repaired, "fetching it again")) << repaired.output;
    EXPECT_EQ(ReadFileOrEmpty(damaged), good);
}

TEST_F(Pull, InterruptedPullCompletesWithoutFetchingAVerifiedFileTwice) {
    Support::SetFaultRules(R"({"*": {"status": 503, "from_request": 8}})");
    const RunResult cut = PullInto(Support::FaultBase(), L"pull_cut");
    EXPECT_EQ(cut.exitCode, 1U) << cut.output;
    EXPECT_FALSE(Support::Exists(Support::MirrorRoot() + L"\\pull_cut\\manifest.txt"));
    std::set<std::string> kept;
    for (const Support::RequestRecord& request : Support::FaultRequests()) {
        if (request.status == 200 && request.path.find("/manifest.txt") == std::string::npos) {
            kept.insert(request.path);
        }
    }
    EXPECT_GE(kept.size(), 3U);

    Support::ClearFaultRules();
    Support::ClearFaultRequests();
    const RunResult again = PullInto(Support::FaultBase(), L"pull_cut");
    EXPECT_EQ(again.exitCode, 0U) << again.output;
    for (const Support::RequestRecord& request : Support::FaultRequests()) {
        EXPECT_FALSE(kept.contains(request.path)) << request.path;
    }
    EXPECT_EQ(ReadFileOrEmpty(Support::MirrorRoot() + L"\\pull_cut\\manifest.txt"),
              ReadFileOrEmpty(Support::MirrorRoot() + L"\\pull_src\\manifest.txt"));
}

TEST_F(Pull, RefusedManifestAndUnwritableFolderFetchNothing) {
    const size_t objects = Support::NginxRequests("pull_src", "/objects/");
    const RunResult refused =
        PullInto(Support::HttpBase(), L"pull_keyed", {L"--key", Utf8ToWide(Support::kPublisherKey)});
    EXPECT_EQ(refused.exitCode, 1U) << refused.output;
    EXPECT_TRUE(Has(refused, "is refused")) << refused.output;
    EXPECT_EQ(Support::NginxRequests("pull_src", "/objects/"), objects);
    EXPECT_FALSE(Support::Exists(Support::MirrorRoot() + L"\\pull_keyed\\objects"));

    Support::TempFolder root;
    WriteFileBytes(root / L"file", "not a folder");
    const RunResult unwritable = RunOrvanectl({L"pull", Support::HttpBase() + L"pull_src/", root / L"file"});
    EXPECT_EQ(unwritable.exitCode, 1U) << unwritable.output;
    EXPECT_TRUE(Has(unwritable, "pull failed: ")) << unwritable.output;
    EXPECT_EQ(Support::NginxRequests("pull_src", "/objects/"), objects);
}

} // namespace
} // namespace Orv
