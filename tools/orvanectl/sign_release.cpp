#include "orvanectl/sign_release.h"

#include "core/paths.h"
#include "orvanectl/file_system.h"
#include "orvanectl/signing_key.h"
#include "partners/download_server.h"
#include "update/manifest.h"
#include "update/trust/release_signature.h"

#include <fmt/xchar.h>

namespace Orv::Publisher {

Outcome<SignSummary> SignMirror(const std::wstring& mirrorRoot, const std::wstring& privateKeyFile) {
    using Result = Outcome<SignSummary>;
    auto key = ReadSigningKey(privateKeyFile);
    if (!key) {
        return Result::Failure(key.message);
    }
    auto root = AbsolutePath(mirrorRoot);
    if (!root) {
        return Result::Failure(root.message);
    }
    const std::wstring manifestPath = JoinPath(*root.value, DownloadServer::kManifestName);
    auto text = ReadWholeFile(manifestPath, DownloadServer::kManifestLimit);
    if (!text) {
        return Result::Failure(text.message);
    }
    auto parsed = ParseManifest(std::string(UnsignedPart(*text.value)));
    if (!parsed) {
        return Result::Failure(
            fmt::format(L"The launcher would not read {}: {}", manifestPath, parsed.message));
    }
    auto signedText = SignManifestText(*text.value, *key.value);
    if (!signedText) {
        return Result::Failure(signedText.message);
    }
    if (signedText.value->size() > DownloadServer::kManifestLimit) {
        return Result::Failure(
            fmt::format(L"The signed {} would be too large for the launcher", manifestPath));
    }
    if (auto replaced = ReplaceFileContents(manifestPath, *signedText.value); !replaced) {
        return Result::Failure(replaced.message);
    }
    return Result::Success(
        SignSummary{*root.value, parsed.value->release, FindSignatureLine(*text.value).has_value()});
}

} // namespace Orv::Publisher
