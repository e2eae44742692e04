#include "update/mirrors.h"

#include "core/build_settings.h"
#include "core/file_io.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "partners/download_server.h"
#include "update/http_client.h"
#include "update/run_texts.h"

#include <windows.h>

#include <fmt/xchar.h>
#include <string_view>

namespace Orv {

std::vector<std::wstring> ReadMirrors(const std::wstring& gameFolder) {
    std::vector<std::wstring> mirrors;
    const auto bytes = ReadFileBytes(JoinPath(JoinPath(gameFolder, kDataFolderName), L"mirrors.txt"));
    const std::string_view text = bytes ? std::string_view(*bytes) : std::string_view{};
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find('\n', position);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string line(text.substr(position, end - position));
        position = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.back() != '/') {
            line.push_back('/');
        }
        mirrors.push_back(Utf8ToWide(line));
    }
    if (mirrors.empty()) {
        mirrors = {BuildSettings::kPrimaryMirror, BuildSettings::kFallbackMirror};
    }
    return mirrors;
}

Outcome<Manifest> FetchManifest(const std::vector<std::wstring>& mirrors, const ReleaseTrust& trust,
                                std::stop_token stopToken, int& mirrorIndex) {
    std::wstring lastMessage = NoServerText();
    for (size_t i = 0; i < mirrors.size(); ++i) {
        const std::wstring& base = mirrors[i];
        std::string body;
        const auto sink = [&body](std::span<const char> chunk) {
            body.append(chunk.data(), chunk.size());
            return true;
        };
        // A body that reaches the limit ends as cancelled, and so does a mirror that takes too long.
        const TransferLimits limits{DownloadServer::kManifestLimit - 1, kManifestDeadlineMs};
        const HttpResult result =
            HttpGet(DownloadServer::ManifestUrl(base, ::GetTickCount64()), true, 0, limits, sink, stopToken);
        if (result.status != 200 || result.error != 0) {
            lastMessage = HttpErrorText(result);
            Log(fmt::format(L"manifest {}: {}", base, lastMessage));
            continue;
        }
        if (auto refused = SignatureRefusal(body, trust)) {
            lastMessage = std::move(*refused);
            Log(fmt::format(L"manifest {}: {}", base, lastMessage));
            continue;
        }
        auto parsed = ParseManifest(std::move(body));
        if (!parsed) {
            lastMessage = parsed.message;
            Log(fmt::format(L"manifest {}: {}", base, lastMessage));
            continue;
        }
        if (auto refused = ReleaseRefusal(*parsed.value, trust)) {
            lastMessage = std::move(*refused);
            Log(fmt::format(L"manifest {}: release {}: {}", base, parsed.value->release, lastMessage));
            continue;
        }
        mirrorIndex = static_cast<int>(i);
        Log(fmt::format(L"manifest {}: release {}, {} files", base, parsed.value->release,
                        parsed.value->files.size()));
        return parsed;
    }
    return Outcome<Manifest>::Failure(lastMessage);
}

} // namespace Orv
