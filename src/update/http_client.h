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
};

// Receives the body chunk by chunk; returning false stops the transfer (reported as cancelled).
using BodySink = std::function<bool(std::span<const char>)>;

// Called once before the first body byte, only for status 200 or 206.
using StatusCallback = std::function<void(unsigned long)>;

// The process's one WinHTTP session, created on first use (null when it could not be created).
void* HttpSession();

// GETs the URL and streams its body into the sink. With noCache the request asks for an uncached
// answer and lets WinHTTP decode gzip/deflate; with rangeStart > 0 it asks for the bytes from there.
HttpResult HttpGet(const std::wstring& url, bool noCache, uint64_t rangeStart, const BodySink& sink,
                   std::stop_token stopToken, const StatusCallback& onStatus = {});

// The user-facing message for a result the caller treats as failed.
std::wstring HttpErrorText(const HttpResult& result);

} // namespace Orv
