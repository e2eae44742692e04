#include "update/http_client.h"

#include "core/handles.h"
#include "core/text.h"
#include "partners/download_server.h"
#include "update/worker_buffers.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <fmt/xchar.h>
#include <vector>
#include <winhttp.h>

namespace Orv {
namespace {

constexpr DWORD kBufferSize = 65536;
constexpr DWORD kCancelled = ERROR_CANCELLED;
constexpr DWORD kResolveTimeoutMs = 15000;
constexpr DWORD kConnectTimeoutMs = 15000;
constexpr DWORD kSendTimeoutMs = 30000;
constexpr DWORD kReceiveTimeoutMs = 30000;
// A slow body is handed to the sink at least this often, so its progress shows.
constexpr uint64_t kHandOnMs = 1000;

HINTERNET CreateSession() {
    const std::wstring agent = DownloadServer::UserAgent();
    HINTERNET session = ::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session == nullptr) {
        session = ::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0);
    }
    if (session == nullptr) {
        return nullptr;
    }
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!::WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        ::WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
    }
    ::WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);
    DWORD connections = 16;
    ::WinHttpSetOption(session, WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof connections);
    return session;
}

HttpResult Failed(DWORD error) {
    return HttpResult{0, error, 0};
}

// Whether the response names a content encoding: its body may then be decoded on the way, and its
// Content-Length counts the encoded bytes.
bool HasContentEncoding(HINTERNET request) {
    wchar_t text[64] = {};
    DWORD size = sizeof text;
    return ::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_ENCODING, WINHTTP_HEADER_NAME_BY_INDEX, text,
                                 &size, WINHTTP_NO_HEADER_INDEX) ||
           ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

uint64_t ContentLength(HINTERNET request) {
    wchar_t text[64] = {};
    DWORD size = sizeof text;
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text,
                               &size, WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    uint64_t value = 0;
    for (const wchar_t* p = text; *p >= L'0' && *p <= L'9'; ++p) {
        value = value * 10 + static_cast<uint64_t>(*p - L'0');
    }
    return value;
}

// The clock of one request: its deadline, and the pace of its body once the answer has begun (the
// body must grow by kPaceBytes within every kPaceWindowMs after the last time it did).
class TransferClock {
public:
    explicit TransferClock(uint32_t deadlineMs) : start_(::GetTickCount64()), deadlineMs_(deadlineMs) {}

    void BodyBegins() {
        paceStart_ = ::GetTickCount64();
        paceBytes_ = 0;
    }

    // Whether the transfer may go on now that its body holds `received` bytes.
    bool Keeps(uint64_t received) {
        const uint64_t now = ::GetTickCount64();
        if (received - paceBytes_ >= kPaceBytes) {
            paceStart_ = now;
            paceBytes_ = received;
        } else if (now - paceStart_ >= kPaceWindowMs) {
            return false;
        }
        return !PastDeadline(now);
    }

    // Whether the pace window or the deadline has run out: a wait that the system ended then is this
    // rule's time-out, whatever error the system gives it.
    bool RanOut() const {
        const uint64_t now = ::GetTickCount64();
        return now - paceStart_ >= kPaceWindowMs || PastDeadline(now);
    }

    bool PastDeadline(uint64_t now = ::GetTickCount64()) const {
        return deadlineMs_ != 0 && now - start_ >= deadlineMs_;
    }

    // How long the next wait for the server may last, in whole seconds: the receive time-out, or less
    // when the pace window or the deadline ends sooner.
    DWORD NextWait() const {
        const uint64_t now = ::GetTickCount64();
        uint64_t wait = kReceiveTimeoutMs;
        const uint64_t paceEnd = paceStart_ + kPaceWindowMs;
        wait = std::min(wait, paceEnd > now ? paceEnd - now : 1);
        if (deadlineMs_ != 0) {
            const uint64_t end = start_ + deadlineMs_;
            wait = std::min(wait, end > now ? end - now : 1);
        }
        return static_cast<DWORD>((wait + 999) / 1000 * 1000);
    }

private:
    uint64_t start_;
    uint32_t deadlineMs_;
    uint64_t paceStart_ = 0;
    uint64_t paceBytes_ = 0;
};

// Lets the request wait at most `milliseconds` for each step; a deadline shorter than a step's usual
// time-out shortens that step.
void LimitWaits(HINTERNET request, DWORD milliseconds) {
    ::WinHttpSetTimeouts(request, std::min(kResolveTimeoutMs, milliseconds),
                         std::min(kConnectTimeoutMs, milliseconds), std::min(kSendTimeoutMs, milliseconds),
                         std::min(kReceiveTimeoutMs, milliseconds));
}

std::wstring HeaderText(HINTERNET request, DWORD query) {
    wchar_t text[128] = {};
    DWORD size = sizeof text;
    if (!::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        return {};
    }
    return text;
}

// The most body bytes the answer may carry.
uint64_t BodyLimit(const TransferLimits& limits, DWORD status, uint64_t rangeStart) {
    if (status != 206) {
        return limits.maxBytes;
    }
    return limits.maxBytes > rangeStart ? limits.maxBytes - rangeStart : 0;
}

HttpResult OverLimit(const HttpResult& answer) {
    HttpResult result{0, kCancelled, answer.contentLength};
    result.overLimit = true;
    return result;
}

// How the body of one answer is taken: the most it may hold, and after how many bytes the transfer has
// what it needs (the rest is not read).
struct BodyRule {
    uint64_t limit = 0;
    uint64_t enough = UINT64_MAX;
};

// Decides, once the status of a 200 or 206 answer is known, how its body is taken; nothing leaves the
// body unread, with the result as the decision left it.
using BodyDecision = std::function<std::optional<BodyRule>(HINTERNET request, HttpResult& result)>;

// One request (GET, or HEAD): sends it with the extra headers and, for a 200 or 206 answer, streams the body
// into the sink by the decided rule. onStatus is called once before the first body byte.
HttpResult Exchange(const wchar_t* verb, const std::wstring& url, bool noCache,
                    const std::wstring& rangeHeader, uint32_t deadlineMs, const BodyDecision& decide,
                    const BodySink& sink, std::stop_token stopToken, const StatusCallback& onStatus,
                    ResponseHeaders* headers) {
    TransferClock clock(deadlineMs);
    wchar_t host[256] = {};
    wchar_t path[2048] = {};
    wchar_t extra[1024] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = 1024;
    if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        return Failed(::GetLastError());
    }

    HINTERNET session = static_cast<HINTERNET>(HttpSession());
    if (session == nullptr) {
        return Failed(::GetLastError());
    }
    WinHttpHandle connection(::WinHttpConnect(session, host, parts.nPort, 0));
    if (!connection) {
        return Failed(::GetLastError());
    }
    const std::wstring object = std::wstring(path) + extra;
    const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    WinHttpHandle request(::WinHttpOpenRequest(connection.Get(), verb, object.c_str(), nullptr,
                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, secure));
    if (!request) {
        return Failed(::GetLastError());
    }
    if (deadlineMs != 0) {
        LimitWaits(request.Get(), deadlineMs);
    }

    std::wstring extraHeaders;
    if (noCache) {
        // Refused by some WinHTTP implementations; the body then arrives as the server sends it.
        DWORD decompression = WINHTTP_DECOMPRESSION_FLAG_GZIP | WINHTTP_DECOMPRESSION_FLAG_DEFLATE;
        ::WinHttpSetOption(request.Get(), WINHTTP_OPTION_DECOMPRESSION, &decompression, sizeof decompression);
        extraHeaders += L"Cache-Control: no-cache\r\n";
    }
    if (!rangeHeader.empty()) {
        extraHeaders += L"Range: " + rangeHeader + L"\r\n";
    }
    if (!::WinHttpSendRequest(
            request.Get(), extraHeaders.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : extraHeaders.c_str(),
            extraHeaders.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        return Failed(::GetLastError());
    }
    if (!::WinHttpReceiveResponse(request.Get(), nullptr)) {
        return Failed(::GetLastError());
    }
    if (clock.PastDeadline()) {
        return Failed(ERROR_WINHTTP_TIMEOUT);
    }

    HttpResult result;
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    ::WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    result.status = status;
    result.contentLength = ContentLength(request.Get());
    if (headers != nullptr) {
        headers->contentEncoding = HeaderText(request.Get(), WINHTTP_QUERY_CONTENT_ENCODING);
        headers->contentType = HeaderText(request.Get(), WINHTTP_QUERY_CONTENT_TYPE);
        headers->contentRange = HeaderText(request.Get(), WINHTTP_QUERY_CONTENT_RANGE);
    }
    if (status != 200 && status != 206) {
        return result;
    }
    const std::optional<BodyRule> rule = decide(request.Get(), result);
    if (!rule) {
        return result;
    }
    // A connection that closes early can look like the end of the body; a body shorter than its
    // Content-Length is a dropped connection, as the system reports it elsewhere. A decoded body is
    // longer than the Content-Length, which counts the encoded bytes.
    const bool encoded = HasContentEncoding(request.Get());
    const uint64_t limit = rule->limit;
    if (!encoded && result.contentLength > limit) {
        return OverLimit(result);
    }
    if (onStatus) {
        onStatus(status);
    }
    const uint64_t expected = encoded ? 0 : std::min(result.contentLength, rule->enough);
    uint64_t received = 0;
    std::vector<char> fresh;
    std::vector<char>& buffer = BufferOf(&WorkerBuffers::http, fresh, kBufferSize);
    clock.BodyBegins();
    DWORD wait = kReceiveTimeoutMs;
    for (bool ended = false; !ended;) {
        // Each read takes what has arrived (a read of more waits until it is all there), so the pace
        // and the stop are seen however slowly the body comes; the sink still gets whole buffers, or
        // what came within a second.
        size_t filled = 0;
        const uint64_t handed = ::GetTickCount64();
        while (filled < buffer.size() && !ended) {
            if (stopToken.stop_requested()) {
                return Failed(kCancelled);
            }
            if (received == rule->enough) {
                ended = true;
                break;
            }
            // The system's own time-out ends a wait that lasts too long; it is shortened when the pace
            // window or the deadline ends sooner.
            if (const DWORD next = clock.NextWait(); next != wait) {
                wait = next;
                LimitWaits(request.Get(), wait);
            }
            DWORD available = 0;
            DWORD read = 0;
            const size_t room =
                static_cast<size_t>(std::min<uint64_t>(buffer.size() - filled, rule->enough - received));
            if (!::WinHttpQueryDataAvailable(request.Get(), &available) ||
                (available > 0 &&
                 !::WinHttpReadData(request.Get(), buffer.data() + filled,
                                    static_cast<DWORD>(std::min<size_t>(available, room)), &read))) {
                const DWORD error = ::GetLastError();
                return Failed(clock.RanOut() ? static_cast<DWORD>(ERROR_WINHTTP_TIMEOUT) : error);
            }
            if (read == 0) {
                ended = true;
                break;
            }
            if (read > limit - received) {
                return OverLimit(result);
            }
            received += read;
            filled += read;
            if (!clock.Keeps(received)) {
                return Failed(ERROR_WINHTTP_TIMEOUT);
            }
            if (::GetTickCount64() - handed >= kHandOnMs) {
                break;
            }
        }
        if (filled > 0 && !sink(std::span<const char>(buffer.data(), filled))) {
            return Failed(kCancelled);
        }
    }
    return received < expected ? Failed(ERROR_WINHTTP_CONNECTION_ERROR) : result;
}

} // namespace

void* HttpSession() {
    static HINTERNET session = CreateSession();
    return session;
}

HttpResult HttpGet(const std::wstring& url, bool noCache, uint64_t rangeStart, const TransferLimits& limits,
                   const BodySink& sink, std::stop_token stopToken, const StatusCallback& onStatus,
                   ResponseHeaders* headers) {
    const std::wstring range = rangeStart > 0 ? fmt::format(L"bytes={}-", rangeStart) : std::wstring();
    const BodyDecision decide = [&](HINTERNET, HttpResult& result) {
        return std::optional<BodyRule>(BodyRule{BodyLimit(limits, result.status, rangeStart)});
    };
    return Exchange(L"GET", url, noCache, range, limits.deadlineMs, decide, sink, stopToken, onStatus,
                    headers);
}

HttpResult HttpGetRange(const std::wstring& url, const ByteRange& range, const BodySink& sink,
                        std::stop_token stopToken, ResponseHeaders* headers) {
    const uint64_t length = range.last - range.first + 1;
    uint64_t skip = 0;
    const BodyDecision decide = [&](HINTERNET request, HttpResult& result) -> std::optional<BodyRule> {
        if (result.status == 200) {
            // The whole resource: read up to the range's end.
            skip = range.first;
            return BodyRule{range.size, range.last + 1};
        }
        const std::wstring said = HeaderText(request, WINHTTP_QUERY_CONTENT_RANGE);
        const std::wstring asked = fmt::format(L"bytes {}-{}/", range.first, range.last);
        if (said != asked + std::to_wstring(range.size) && said != asked + L"*") {
            result.badRange = true;
            return std::nullopt;
        }
        return BodyRule{length, length};
    };
    const BodySink skipping = [&](std::span<const char> piece) {
        const size_t dropped = static_cast<size_t>(std::min<uint64_t>(skip, piece.size()));
        skip -= dropped;
        return dropped == piece.size() || sink(piece.subspan(dropped));
    };
    return Exchange(L"GET", url, false, fmt::format(L"bytes={}-{}", range.first, range.last), 0, decide,
                    skipping, stopToken, {}, headers);
}

HttpResult HttpHead(const std::wstring& url, const TransferLimits& limits, std::stop_token stopToken,
                    ResponseHeaders* headers) {
    // An answer to HEAD has no body.
    const BodyDecision decide = [](HINTERNET, HttpResult&) { return std::optional<BodyRule>(); };
    return Exchange(L"HEAD", url, false, {}, limits.deadlineMs, decide, {}, stopToken, {}, headers);
}

std::wstring HttpErrorText(const HttpResult& result) {
    if (result.status == 404) {
        return Pick(
            L"File not found on the server (404). An update may be in progress, try again in a few minutes.",
            L"Dosya sunucuda yok (404). Güncelleme yayınlanıyor olabilir, birkaç dakika "
            L"sonra tekrar deneyin.");
    }
    if (result.status >= 500) {
        return fmt::format(
            L"{} (HTTP {})",
            Pick(L"The download server is not responding.", L"İndirme sunucusu şu an yanıt vermiyor."),
            result.status);
    }
    if (result.status != 0) {
        return fmt::format(L"HTTP {}", result.status);
    }
    switch (result.error) {
    case ERROR_CANCELLED:
        return CancelledText();
    case ERROR_WINHTTP_TIMEOUT:
        return Pick(L"The connection timed out.", L"Bağlantı zaman aşımına uğradı.");
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return Pick(L"Could not resolve the server name. Check your internet connection.",
                    L"Sunucu adı çözülemedi. İnternet bağlantınızı kontrol "
                    L"edin.");
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
        return Pick(L"Could not connect to the download server. Check your connection or firewall.",
                    L"İndirme sunucusuna bağlanılamadı. İnternet bağlantınızı "
                    L"veya güvenlik duvarını kontrol edin.");
    case ERROR_WINHTTP_SECURE_FAILURE:
        return Pick(L"Secure connection failed (certificate/TLS). Check your computer's clock.",
                    L"Güvenli bağlantı kurulamadı (sertifika/TLS). Bilgisayarın saatini "
                    L"kontrol edin.");
    default:
        return ErrorText(result.error);
    }
}

} // namespace Orv
