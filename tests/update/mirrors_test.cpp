#include "core/build_settings.h"
#include "core/log.h"
#include "core/text.h"
#include "support/mirror_env.h"
#include "support/test_folder.h"
#include "update/mirrors.h"

#include <gtest/gtest.h>

namespace Orv {
namespace {

using Support::MirrorRoot;
using Support::TempFolder;

const std::string kValid = "format\t1\nrelease\t42\nf\t" + std::string(64, 'a') + "\t1\t1\t-\t-\ta.txt\n" +
                           "f\t" + std::string(64, 'b') + "\t2\t2\t-\t-\tb.txt\n";

class MirrorList : public ::testing::Test {
protected:
    void WriteList(const std::string& text) {
        Support::WriteFileBytes(folder / L".orvane\\mirrors.txt", text);
    }
    TempFolder folder;
};

TEST_F(MirrorList, MissingFileGivesTheBuiltInPair) {
    EXPECT_EQ(ReadMirrors(folder.Path()),
              (std::vector<std::wstring>{BuildSettings::kPrimaryMirror, BuildSettings::kFallbackMirror}));
}

TEST_F(MirrorList, OnlyCommentsAndBlankLinesBehaveLikeAMissingFile) {
    WriteList("# mirrors\n\n   \r\n#http://x/\n");
    EXPECT_EQ(ReadMirrors(folder.Path()).size(), 2U);
    EXPECT_EQ(ReadMirrors(folder.Path())[0], BuildSettings::kPrimaryMirror);
}

TEST_F(MirrorList, LinesAreTrimmedAtTheEndGivenASlashAndKeptInOrder) {
    WriteList("http://b.example/live \r\n  # indented is a "
              "mirror\nhttp://a.example/x/\nhttps://\xC3\xA7.example/r \r \r");
    EXPECT_EQ(ReadMirrors(folder.Path()),
              (std::vector<std::wstring>{L"http://b.example/live/", L"  # indented is a mirror/",
                                         L"http://a.example/x/", L"https://ç.example/r/"}));
}

// FetchManifest against the test mirrors; the log goes to a file of the test's own.
class ManifestFetch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(MirrorRoot().empty());
        englishBefore = IsTurkish();
        SetTurkish(false);
        OpenLog(logPath);
        Support::ClearFaultRules();
        Support::WriteFileBytes(MirrorRoot() + L"\\fetch\\good\\manifest.txt", kValid);
        Support::WriteFileBytes(MirrorRoot() + L"\\fetch\\format2\\manifest.txt",
                                "format\t2\n" + kValid.substr(9));
    }
    void TearDown() override {
        Support::ClearFaultRules();
        SetTurkish(englishBefore);
    }
    std::vector<std::string> LogTexts() const {
        std::vector<std::string> texts;
        const std::string bytes = Support::ReadFileOrEmpty(logPath);
        size_t start = 0;
        while (start < bytes.size()) {
            const size_t end = bytes.find("\r\n", start);
            texts.push_back(bytes.substr(start + 20, end - start - 20));
            start = end + 2;
        }
        return texts;
    }
    static std::string Narrow(const std::wstring& text) { return WideToUtf8(text); }

    TempFolder folder;
    std::wstring logPath = folder / L"launcher.log";
    bool englishBefore = false;
};

TEST_F(ManifestFetch, NotFoundOnTheFirstMirrorThenTheSecondDelivers) {
    const std::wstring missing = Support::HttpBase() + L"fetch/missing/";
    const std::wstring good = Support::HttpBase() + L"fetch/good/";
    int index = -1;
    const auto result = FetchManifest({missing, good}, {}, {}, index);
    ASSERT_TRUE(result.ok()) << Narrow(result.message);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(result.value->release, 42);
    EXPECT_EQ(result.value->text, kValid);
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                              "manifest " + Narrow(missing) +
                                  ": File not found on the server (404). An update may be in progress, try "
                                  "again in a few minutes.",
                              "manifest " + Narrow(good) + ": release 42, 2 files"}));
}

TEST_F(ManifestFetch, ANewerFormatIsSkippedLikeAnUnreachableMirror) {
    int index = -1;
    const auto result = FetchManifest(
        {Support::HttpsBase() + L"fetch/format2/", Support::HttpsBase() + L"fetch/good/"}, {}, {}, index);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(index, 1);
    EXPECT_NE(LogTexts().at(0).find(": Could not read the file list (format 2)"), std::string::npos);
}

TEST_F(ManifestFetch, EveryRequestAsksForAFreshCopyWithATick) {
    Support::ClearFaultRequests();
    int index = -1;
    ASSERT_TRUE(FetchManifest({Support::FaultBase() + L"fetch/good/"}, {}, {}, index).ok());
    const auto requests = Support::FaultRequests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].path, "/fetch/good/manifest.txt");
    EXPECT_EQ(requests[0].query.substr(0, 2), "t=");
    EXPECT_GT(std::stoull(requests[0].query.substr(2)), 0ULL);
    EXPECT_EQ(requests[0].cacheControl, "no-cache");
}

TEST_F(ManifestFetch, OnlyStatus200Counts) {
    Support::SetFaultRules(R"({"/fetch/partial/manifest.txt": {"status": 206}})");
    int index = -1;
    const auto result = FetchManifest({Support::FaultBase() + L"fetch/partial/"}, {}, {}, index);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.message, L"HTTP 206");
    EXPECT_EQ(index, -1);
}

TEST_F(ManifestFetch, ABodyOf64MiBIsCancelledAndTheNextMirrorAsked) {
    Support::WriteFileBytes(MirrorRoot() + L"\\fetch\\huge\\manifest.txt",
                            kValid + std::string(67108864, '#'));
    int index = -1;
    const auto result = FetchManifest(
        {Support::HttpBase() + L"fetch/huge/", Support::HttpBase() + L"fetch/good/"}, {}, {}, index);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(index, 1);
    EXPECT_EQ(LogTexts().at(0), "manifest " + Narrow(Support::HttpBase()) + "fetch/huge/: Cancelled.");
}

TEST_F(ManifestFetch, WhenEveryMirrorFailsTheLastMessageIsReturned) {
    int index = 7;
    const auto result =
        FetchManifest({Support::HttpBase() + L"fetch/format2/", L"http://127.0.0.1:9/"}, {}, {}, index);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.message,
              L"Could not connect to the download server. Check your connection or firewall.");
    EXPECT_EQ(index, 7);
    EXPECT_EQ(LogTexts().size(), 2U);
}

TEST_F(ManifestFetch, NoMirrorAtAll) {
    int index = 0;
    const auto result = FetchManifest({}, {}, {}, index);
    EXPECT_EQ(result.message, L"No download server.");
}

TEST_F(ManifestFetch, AStopRequestStillAsksEveryMirrorAndReturnsTheCancellation) {
    std::stop_source stop;
    stop.request_stop();
    int index = -1;
    const auto result =
        FetchManifest({Support::HttpBase() + L"fetch/good/", Support::HttpBase() + L"fetch/good/"}, {},
                      stop.get_token(), index);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.message, L"Cancelled.");
    EXPECT_EQ(LogTexts().size(), 2U);
}

} // namespace
} // namespace Orv
