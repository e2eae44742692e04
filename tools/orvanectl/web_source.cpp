#include "orvanectl/web_source.h"

#include "orvanectl/file_system.h"
#include "partners/download_server.h"
#include "update/http_client.h"
#include "update/mirrors.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <span>

namespace Orv::Publisher {
namespace {

bool StartsWithIgnoringCase(const std::wstring& text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && CompareIgnoringCase(text.substr(0, prefix.size()), prefix) == 0;
}

// What a launcher would find wrong with the answer to a request for the file, before its length: an
// encoding that changes its bytes, an HTML page in its place, more bytes than listed, or a status
// other than `good`.
std::optional<std::wstring> AnswerProblem(const ListedFile& file, const HttpResult& result,
                                          const ResponseHeaders& headers, uint32_t good,
                                          std::stop_token stop) {
    // An answer cut off for being too long has no status left, but its headers have come.
    const bool answered = result.status == 200 || result.status == 206 || result.overLimit;
    if (!headers.contentEncoding.empty() && answered) {
        return fmt::format(L"is sent with \"Content-Encoding: {}\": a launcher, which asks without decoding, "
                           L"gets other bytes than the file",
                           headers.contentEncoding);
    }
    if (answered && result.status != 206 && StartsWithIgnoringCase(headers.contentType, L"text/html")) {
        return fmt::format(
            L"is an HTML page (HTTP 200, \"Content-Type: {}\", {} bytes), not the file of {} bytes",
            headers.contentType, result.contentLength, file.size);
    }
    if (result.overLimit) {
        return fmt::format(L"is larger than the {} bytes {} says (Content-Length: {})", file.size,
                           file.listedBy, result.contentLength);
    }
    if (result.status != good || result.error != 0) {
        return HttpProblemText(result, stop);
    }
    return std::nullopt;
}

} // namespace

std::wstring HttpProblemText(const HttpResult& result, std::stop_token stop) {
    if (result.status == 404) {
        return L"missing (HTTP 404)";
    }
    if (result.status != 0) {
        return fmt::format(L"answered HTTP {}", result.status);
    }
    if (stop.stop_requested()) {
        return L"not checked";
    }
    return HttpErrorText(result);
}

bool IsWebAddress(const std::wstring& text) {
    return StartsWithIgnoringCase(text, L"http://") || StartsWithIgnoringCase(text, L"https://");
}

WebSource::WebSource(std::wstring baseUrl) : base_(std::move(baseUrl)) {
    if (base_.empty() || base_.back() != L'/') {
        base_.push_back(L'/');
    }
}

Outcome<std::string> WebSource::ReadManifest(std::stop_token stop) const {
    return FetchManifest(::GetTickCount64(), stop);
}

Outcome<std::string> WebSource::FetchManifest(uint64_t tick, std::stop_token stop) const {
    std::string body;
    const BodySink sink = [&body](std::span<const char> piece) {
        body.append(piece.data(), piece.size());
        return true;
    };
    // The launcher's request: uncached, its size cap and its deadline.
    const std::wstring url = DownloadServer::ManifestUrl(base_, tick);
    const TransferLimits limits{DownloadServer::kManifestLimit - 1, kManifestDeadlineMs};
    const HttpResult result = HttpGet(url, true, 0, limits, sink, stop);
    if (result.overLimit) {
        return Outcome<std::string>::Failure(
            fmt::format(L"{}: is larger than the {} bytes a launcher takes", url, limits.maxBytes));
    }
    if (result.status != 200 || result.error != 0) {
        return Outcome<std::string>::Failure(fmt::format(L"{}: {}", url, HttpProblemText(result, stop)));
    }
    return Outcome<std::string>::Success(std::move(body));
}

std::optional<std::wstring> WebSource::Read(const ListedFile& file, const ByteSink& sink,
                                            std::stop_token stop, const ByteProgress& progress) const {
    uint64_t received = 0;
    bool wanted = true;
    const BodySink body = [&](std::span<const char> piece) {
        received += piece.size();
        if (progress) {
            progress(piece.size());
        }
        if (wanted) {
            wanted = sink(reinterpret_cast<const unsigned char*>(piece.data()), piece.size());
        }
        return true;
    };
    ResponseHeaders headers;
    const HttpResult result =
        HttpGet(NameOf(file.name), false, 0, TransferLimits{file.size, 0}, body, stop, {}, &headers);
    if (auto problem = AnswerProblem(file, result, headers, 200, stop)) {
        return problem;
    }
    if (received != file.size) {
        return fmt::format(L"is {} bytes, {} says {}", received, file.listedBy, file.size);
    }
    return std::nullopt;
}

std::optional<std::wstring> WebSource::Probe(const ListedFile& file, std::stop_token stop) const {
    const std::wstring url = NameOf(file.name);
    ResponseHeaders headers;
    const TransferLimits limits{file.size, kManifestDeadlineMs};
    const HttpResult head = HttpHead(url, limits, stop, &headers);
    if (head.status != 405 && head.status != 501) {
        if (auto problem = AnswerProblem(file, head, headers, 200, stop)) {
            return problem;
        }
        if (head.contentLength != file.size) {
            return fmt::format(L"is {} bytes (Content-Length), {} says {}", head.contentLength, file.listedBy,
                               file.size);
        }
        return std::nullopt;
    }
    if (file.size == 0) {
        return Read(file, [](const unsigned char*, size_t) { return true; }, stop, {});
    }
    // The server refuses HEAD: its first byte tells the size in the Content-Range.
    const HttpResult first = HttpGetRange(
        url, ByteRange{0, 0, file.size}, [](std::span<const char>) { return true; }, stop, &headers);
    if (first.badRange) {
        return fmt::format(L"answers the range \"bytes=0-0\" with \"Content-Range: {}\", {} says {} bytes",
                           headers.contentRange, file.listedBy, file.size);
    }
    if (first.status == 200 && first.error == 0 && first.contentLength != file.size) {
        return fmt::format(L"is {} bytes (Content-Length), {} says {}", first.contentLength, file.listedBy,
                           file.size);
    }
    const uint32_t good = first.status == 200 ? 200 : 206;
    return AnswerProblem(file, first, headers, good, stop);
}

} // namespace Orv::Publisher
