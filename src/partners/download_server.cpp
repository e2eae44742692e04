#include "partners/download_server.h"

#include "core/app_state.h"
#include "core/text.h"

#include <fmt/xchar.h>

namespace Orv::DownloadServer {

std::wstring UserAgent() {
    return fmt::format(L"OrvaneLauncher/{}", kLauncherVersion);
}

std::wstring ManifestUrl(const std::wstring& baseUrl, uint64_t tick) {
    return fmt::format(L"{}manifest.txt?t={}", baseUrl, tick);
}

std::wstring ObjectUrl(const std::wstring& baseUrl, const std::string& sha256, bool compressed) {
    return ObjectUrl(baseUrl, sha256, compressed ? kCompressedSuffix : L"");
}

std::wstring ObjectUrl(const std::wstring& baseUrl, const std::string& sha256, const wchar_t* suffix) {
    const std::wstring hash = Utf8ToWide(sha256);
    return fmt::format(L"{}objects/{}/{}{}", baseUrl, hash.substr(0, 2), hash, suffix);
}

std::wstring PackUrl(const std::wstring& baseUrl, const std::string& sha256, const wchar_t* suffix) {
    const std::wstring hash = Utf8ToWide(sha256);
    return fmt::format(L"{}packs/{}/{}{}", baseUrl, hash.substr(0, 2), hash, suffix);
}

std::string ObjectRelativePath(const std::string& sha256, bool compressed) {
    return sha256.substr(0, 2) + "/" + sha256 + (compressed ? kCompressedSuffixUtf8 : "");
}

} // namespace Orv::DownloadServer
