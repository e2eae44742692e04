#pragma once
#include "orvanectl/mirror_source.h"
#include "update/http_client.h"

#include <cstdint>
#include <string>

namespace Orv::Publisher {

// Files a WebSource reads at once: as many as the launcher's download workers.
inline constexpr unsigned kWebWorkers = 12;

// Whether the argument names a mirror on the web ("http://..." or "https://...", any letter case).
bool IsWebAddress(const std::wstring& text);

// What is wrong with an answer that did not deliver a file: "missing (HTTP 404)", "answered HTTP 403", or
// why the transfer failed.
std::wstring HttpProblemText(const HttpResult& result, std::stop_token stop);

// A mirror read over HTTP with the launcher's own client, so every transfer keeps the launcher's caps:
// no file may pass the size the release lists, the pace rule holds, and the manifest has the
// launcher's deadline. Files are asked without decoding, as the launcher asks for objects.
class WebSource final : public MirrorSource {
public:
    // The base URL; a "/" is added when it does not end in one.
    explicit WebSource(std::wstring baseUrl);

    const std::wstring& Where() const override { return base_; }
    std::wstring NameOf(const std::wstring& name) const override { return base_ + name; }
    unsigned Workers() const override { return kWebWorkers; }
    // Asked as the launcher asks: with "?t=" and the tick count.
    Outcome<std::string> ReadManifest(std::stop_token stop) const override;
    // The whole answer is read to learn its length, also after the sink has stopped taking it. An answer
    // with a Content-Encoding, or an HTML page instead of the file, is a problem.
    std::optional<std::wstring> Read(const ListedFile& file, const ByteSink& sink, std::stop_token stop,
                                     const ByteProgress& progress) const override;
    // HEAD, or where the server refuses HEAD (405, 501), the first byte as a range: its Content-Range
    // gives the size.
    std::optional<std::wstring> Probe(const ListedFile& file, std::stop_token stop) const override;

    // manifest.txt with "?t=<tick>"; the failure names the URL.
    Outcome<std::string> FetchManifest(uint64_t tick, std::stop_token stop) const;

private:
    std::wstring base_;
};

} // namespace Orv::Publisher
