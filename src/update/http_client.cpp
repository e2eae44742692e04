#include "update/http_client.h"

#include "core/handles.h"
#include "core/text.h"
#include "partners/download_server.h"

#include <windows.h>

#include <fmt/xchar.h>
#include <vector>
#include <winhttp.h>

namespace Orv {
namespace {

struct WinHttpTraits {
    using Value = HINTERNET;
    static Value Invalid() { return nullptr; }
    static void Close(Value v) { ::WinHttpCloseHandle(v); }
};
using WinHttpHandle = UniqueHandle<WinHttpTraits>;

constexpr DWORD kBufferSize = 262144;
constexpr DWORD kCancelled = ERROR_CANCELLED;

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
    ::WinHttpSetTimeouts(session, 15000, 15000, 30000, 30000);
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

} // namespace

void* HttpSession() {
    static HINTERNET session = CreateSession();
    return session;
}

HttpResult HttpGet(const std::wstring& url, bool noCache, uint64_t rangeStart, const BodySink& sink,
                   std::stop_token stopToken, const StatusCallback& onStatus) {
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
    WinHttpHandle request(::WinHttpOpenRequest(connection.Get(), L"GET", object.c_str(), nullptr,
                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, secure));
    if (!request) {
        return Failed(::GetLastError());
    }

    std::wstring headers;
    if (noCache) {
        // Refused by some WinHTTP implementations; the body then arrives as the server sends it.
        DWORD decompression = WINHTTP_DECOMPRESSION_FLAG_GZIP | WINHTTP_DECOMPRESSION_FLAG_DEFLATE;
        ::WinHttpSetOption(request.Get(), WINHTTP_OPTION_DECOMPRESSION, &decompression, sizeof decompression);
        headers += L"Cache-Control: no-cache\r\n";
    }
    if (rangeStart > 0) {
        headers += fmt::format(L"Range: bytes={}-\r\n", rangeStart);
    }
    if (!::WinHttpSendRequest(
            request.Get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
            headers.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        return Failed(::GetLastError());
    }
    if (!::WinHttpReceiveResponse(request.Get(), nullptr)) {
        return Failed(::GetLastError());
    }

    HttpResult result;
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    ::WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
    result.status = status;
    result.contentLength = ContentLength(request.Get());
    if (status != 200 && status != 206) {
        return result;
    }
    if (onStatus) {
        onStatus(status);
    }
    // A connection that closes early can look like the end of the body; a body shorter than its
    // Content-Length is a dropped connection, as the system reports it elsewhere.
    const uint64_t expected = HasContentEncoding(request.Get()) ? 0 : result.contentLength;
    uint64_t received = 0;
    std::vector<char> buffer(kBufferSize);
    for (;;) {
        if (stopToken.stop_requested()) {
            return Failed(kCancelled);
        }
        DWORD read = 0;
        if (!::WinHttpReadData(request.Get(), buffer.data(), kBufferSize, &read)) {
            return Failed(::GetLastError());
        }
        if (read == 0) {
            return received < expected ? Failed(ERROR_WINHTTP_CONNECTION_ERROR) : result;
        }
        received += read;
        if (!sink(std::span<const char>(buffer.data(), read))) {
            return Failed(kCancelled);
        }
    }
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
