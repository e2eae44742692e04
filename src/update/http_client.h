#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <stop_token>
#include <string>

namespace Orv {

// Outcome of one GET. A complete 200/206 gives that status and error 0; any other status gives that
// status and error 0 (its body is not read); a failure before or during the transfer gives status 0
// and a Win32 or WinHTTP error code (1223 when cancelled).
struct HttpResult {
    uint32_t status = 0;
    uint32_t error = 0;
    uint64_t contentLength = 0;
    // The body would have passed the transfer's size (or its Content-Length announced more): the
    // transfer ended before those bytes reached the sink, with error 1223 as for a refusing sink.
    bool overLimit = false;
    // A range request was answered 206 with another Content-Range than the range asked for (the body was
    // not read).
    bool badRange = false;
};

// No mirror is trusted to be honest or fast. Once the answer has begun, a body that grows by less than
// kPaceBytes in any kPaceWindowMs fails as timed out (error 12002), and so does a transfer that is
// still running when its deadline has passed.
inline constexpr uint64_t kPaceBytes = 4096;
inline constexpr uint32_t kPaceWindowMs = 30000;

// What one transfer may take.
struct TransferLimits {
    // The most bytes the whole resource may hold: a 200 body may hold that many, a 206 body that many
    // less the range start.
    uint64_t maxBytes = 0;
    // When not 0, the time the whole request may take, from its start, in milliseconds.
    uint32_t deadlineMs = 0;
};

// Receives the body chunk by chunk; returning false stops the transfer (reported as cancelled).
using BodySink = std::function<bool(std::span<const char>)>;

// Called once before the first body byte, only for status 200 or 206.
using StatusCallback = std::function<void(unsigned long)>;

// Headers of an answer that the update itself does not look at, for callers that check a mirror: filled,
// when asked for, for every answer that has a status (empty when the answer has no such header).
struct ResponseHeaders {
    std::wstring contentEncoding;
    std::wstring contentType;
    std::wstring contentRange;
};

// The process's one WinHTTP session, created on first use (null when it could not be created).
void* HttpSession();

// GETs the URL and streams its body into the sink. With noCache the request asks for an uncached
// answer and lets WinHTTP decode gzip/deflate; with rangeStart > 0 it asks for the bytes from there.
// The sink never receives more than the limits allow, and the pace rule above applies to every body.
HttpResult HttpGet(const std::wstring& url, bool noCache, uint64_t rangeStart, const TransferLimits& limits,
                   const BodySink& sink, std::stop_token stopToken, const StatusCallback& onStatus = {},
                   ResponseHeaders* headers = nullptr);

// Bytes `first` to `last` (inclusive) of a resource of `size` bytes.
struct ByteRange {
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t size = 0;
};

// GETs the range with one single-range request ("Range: bytes=first-last"). A 206 must say
// "Content-Range: bytes first-last/size" (or ".../*") and carry at most the range's bytes; a 200 (a server
// that ignores ranges) may carry at most `size` bytes, of which those before the range are skipped, and
// the transfer ends after the range's last byte. The sink receives only bytes of the range, in order;
// the pace rule applies as for HttpGet.
HttpResult HttpGetRange(const std::wstring& url, const ByteRange& range, const BodySink& sink,
                        std::stop_token stopToken, ResponseHeaders* headers = nullptr);

// Asks for the URL's headers only (HEAD): the status and Content-Length of the answer; the limits'
// deadline applies.
HttpResult HttpHead(const std::wstring& url, const TransferLimits& limits, std::stop_token stopToken,
                    ResponseHeaders* headers = nullptr);

// The user-facing message for a result the caller treats as failed.
std::wstring HttpErrorText(const HttpResult& result);

} // namespace Orv
