// HttpGet against the real mirrors started by the test script: nginx over http and https, and the
// fault-injecting server for what nginx does not do.
#include "core/text.h"
#include "support/mirror_env.h"
#include "support/test_folder.h"
#include "update/http_client.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <winhttp.h>

namespace Orv {
namespace {

using Support::FaultBase;
using Support::MirrorRoot;

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return bytes;
}

// What one request delivered, in the order it happened.
struct Received {
    std::string body;
    std::vector<std::string> events;
    HttpResult result;
};

constexpr TransferLimits kAnySize{UINT64_MAX, 0};

Received Get(const std::wstring& url, bool noCache = false, uint64_t rangeStart = 0,
             std::stop_token stop = {}, TransferLimits limits = kAnySize) {
    Received r;
    r.result = HttpGet(
        url, noCache, rangeStart, limits,
        [&](std::span<const char> chunk) {
            if (r.body.empty()) {
                r.events.push_back("first byte");
            }
            r.body.append(chunk.data(), chunk.size());
            return true;
        },
        stop, [&](unsigned long status) { r.events.push_back("status " + std::to_string(status)); });
    return r;
}

class HttpGetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(MirrorRoot().empty());
        englishBefore = IsTurkish();
        SetTurkish(false);
        Support::ClearFaultRules();
        Support::ClearFaultRequests();
        Support::WriteFileBytes(MirrorRoot() + L"\\http\\data.bin", data);
    }
    void TearDown() override {
        Support::ClearFaultRules();
        SetTurkish(englishBefore);
    }
    const std::string data = Pattern(1000);
    bool englishBefore = false;
};

TEST_F(HttpGetTest, WholeBodyOverHttpAndHttpsWithTheStatusBeforeTheFirstByte) {
    for (const std::wstring& base : {Support::HttpBase(), Support::HttpsBase()}) {
        const Received r = Get(base + L"http/data.bin");
        EXPECT_EQ(r.result.status, 200U) << WideToUtf8(base) << " error " << r.result.error;
        EXPECT_EQ(r.result.error, 0U);
        EXPECT_EQ(r.result.contentLength, 1000U);
        EXPECT_EQ(r.body, data);
        EXPECT_EQ(r.events, (std::vector<std::string>{"status 200", "first byte"}));
    }
}

TEST_F(HttpGetTest, RangeFromAnOffsetGives206AndTheRest) {
    for (const std::wstring& base : {Support::HttpBase(), Support::HttpsBase()}) {
        const Received r = Get(base + L"http/data.bin", false, 300);
        EXPECT_EQ(r.result.status, 206U);
        EXPECT_EQ(r.body, data.substr(300));
        EXPECT_EQ(r.events.front(), "status 206");
    }
}

TEST_F(HttpGetTest, RangePastTheEndGives416WithoutBodyOrCallback) {
    const Received r = Get(Support::HttpBase() + L"http/data.bin", false, 1000);
    EXPECT_EQ(r.result.status, 416U);
    EXPECT_EQ(r.result.error, 0U);
    EXPECT_TRUE(r.body.empty());
    EXPECT_TRUE(r.events.empty());
    EXPECT_EQ(HttpErrorText(r.result), L"HTTP 416");
}

TEST_F(HttpGetTest, ServerIgnoringTheRangeAnnounces200BeforeTheWholeBody) {
    Support::SetFaultRules(R"({"/http/data.bin": {"ignore_range": true}})");
    const Received r = Get(FaultBase() + L"http/data.bin", false, 300);
    EXPECT_EQ(r.result.status, 200U);
    EXPECT_EQ(r.events, (std::vector<std::string>{"status 200", "first byte"}));
    EXPECT_EQ(r.body, data);
}

TEST_F(HttpGetTest, StatusMessages) {
    const Received missing = Get(Support::HttpBase() + L"http/none.bin");
    EXPECT_EQ(missing.result.status, 404U);
    EXPECT_TRUE(missing.events.empty());
    EXPECT_EQ(
        HttpErrorText(missing.result),
        L"File not found on the server (404). An update may be in progress, try again in a few minutes.");
    Support::SetFaultRules(
        R"({"/s/403": {"status": 403}, "/s/500": {"status": 500}, "/s/503": {"status": 503}})");
    EXPECT_EQ(HttpErrorText(Get(FaultBase() + L"s/403").result), L"HTTP 403");
    EXPECT_EQ(HttpErrorText(Get(FaultBase() + L"s/500").result),
              L"The download server is not responding. (HTTP 500)");
    const Received unavailable = Get(FaultBase() + L"s/503");
    EXPECT_EQ(unavailable.result.status, 503U);
    EXPECT_EQ(HttpErrorText(unavailable.result), L"The download server is not responding. (HTTP 503)");
    SetTurkish(true);
    EXPECT_EQ(HttpErrorText(unavailable.result), L"İndirme sunucusu şu an yanıt vermiyor. (HTTP 503)");
}

TEST_F(HttpGetTest, ConnectionRefused) {
    // Port 9 (discard) has no listener on this machine.
    const Received r = Get(L"http://127.0.0.1:9/manifest.txt");
    EXPECT_EQ(r.result.status, 0U);
    EXPECT_EQ(r.result.error, static_cast<uint32_t>(ERROR_WINHTTP_CANNOT_CONNECT));
    EXPECT_EQ(HttpErrorText(r.result),
              L"Could not connect to the download server. Check your connection or firewall.");
}

TEST_F(HttpGetTest, UnresolvableHost) {
    const Received r = Get(L"http://no-such-host.invalid/manifest.txt");
    EXPECT_EQ(r.result.status, 0U);
    EXPECT_EQ(r.result.error, static_cast<uint32_t>(ERROR_WINHTTP_NAME_NOT_RESOLVED));
    EXPECT_EQ(HttpErrorText(r.result), L"Could not resolve the server name. Check your internet connection.");
}

TEST_F(HttpGetTest, MalformedUrlFailsWithTheCrackError) {
    const Received r = Get(L"not a url");
    EXPECT_EQ(r.result.status, 0U);
    EXPECT_NE(r.result.error, 0U);
}

TEST_F(HttpGetTest, StopRequestedWhileTheBodyStreamsEndsAfterTheChunkAsCancelled) {
    Support::WriteFileBytes(MirrorRoot() + L"\\http\\slow.bin", Pattern(1 << 20));
    Support::SetFaultRules(R"({"/http/slow.bin": {"delay_ms": 100, "chunk": 65536}})");
    std::stop_source stop;
    size_t received = 0;
    const HttpResult result = HttpGet(
        FaultBase() + L"http/slow.bin", false, 0, kAnySize,
        [&](std::span<const char> chunk) {
            received += chunk.size();
            stop.request_stop();
            return true;
        },
        stop.get_token());
    EXPECT_EQ(result.status, 0U);
    EXPECT_EQ(result.error, static_cast<uint32_t>(ERROR_CANCELLED));
    EXPECT_LT(received, size_t{1} << 20);
    EXPECT_EQ(HttpErrorText(result), L"Cancelled.");
}

TEST_F(HttpGetTest, SinkRefusingEndsTheRequestAsCancelled) {
    const HttpResult result = HttpGet(Support::HttpBase() + L"http/data.bin", false, 0, kAnySize,
                                      [](std::span<const char>) { return false; }, {});
    EXPECT_EQ(result.error, static_cast<uint32_t>(ERROR_CANCELLED));
}

TEST_F(HttpGetTest, DroppedConnectionIsAFailureNotAShortSuccess) {
    Support::WriteFileBytes(MirrorRoot() + L"\\http\\big.bin", Pattern(600000));
    Support::SetFaultRules(R"({"/http/big.bin": {"drop_after": 1000, "drop_times": 1}})");
    const Received first = Get(FaultBase() + L"http/big.bin");
    EXPECT_EQ(first.result.status, 0U);
    EXPECT_NE(first.result.error, 0U);
    const Received second = Get(FaultBase() + L"http/big.bin");
    EXPECT_EQ(second.result.status, 200U);
    EXPECT_EQ(second.body.size(), 600000U);
}

TEST_F(HttpGetTest, ABodyBeyondTheResourcesSizeEndsBeforeTheSinkGetsIt) {
    const std::wstring url = Support::HttpBase() + L"http/data.bin";
    EXPECT_EQ(Get(url, false, 0, {}, {1000, 0}).body, data);
    EXPECT_EQ(Get(url, false, 300, {}, {1000, 0}).body, data.substr(300));
    for (const uint64_t range : {0U, 300U}) {
        const Received cut = Get(url, false, range, {}, {999, 0});
        EXPECT_TRUE(cut.result.overLimit);
        EXPECT_EQ(cut.result.error, static_cast<uint32_t>(ERROR_CANCELLED));
        EXPECT_TRUE(cut.body.empty());
    }
    // Without a length the body is cut where it passes the size.
    Support::SetFaultRules(R"({"/http/data.bin": {"no_length": true, "endless": true}})");
    const Received endless = Get(FaultBase() + L"http/data.bin", false, 0, {}, {1000, 0});
    EXPECT_TRUE(endless.result.overLimit);
    EXPECT_LE(endless.body.size(), 1000U);
}

TEST_F(HttpGetTest, RequestHeadersCarryTheUserAgentAndNothingExtraByDefault) {
    Get(FaultBase() + L"http/data.bin?t=5");
    Get(FaultBase() + L"http/data.bin", true);
    Get(FaultBase() + L"http/data.bin", false, 300);
    const auto requests = Support::FaultRequests();
    ASSERT_EQ(requests.size(), 3U);
    for (const auto& r : requests) {
        EXPECT_EQ(r.path, "/http/data.bin");
        EXPECT_EQ(r.userAgent, "OrvaneLauncher/1.0.0");
    }
    EXPECT_EQ(requests[0].query, "t=5");
    EXPECT_EQ(requests[0].range, "-");
    EXPECT_EQ(requests[0].cacheControl, "-");
    EXPECT_EQ(requests[1].cacheControl, "no-cache");
    EXPECT_EQ(requests[1].range, "-");
    EXPECT_EQ(requests[2].range, "bytes=300-");
    EXPECT_EQ(requests[2].cacheControl, "-");
    EXPECT_EQ(requests[2].status, 206);
}

} // namespace
} // namespace Orv
