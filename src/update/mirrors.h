#pragma once
#include "core/outcome.h"
#include "update/manifest.h"
#include "update/trust/release_trust.h"

#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

namespace Orv {

// The time one mirror may take to deliver the manifest, in all.
inline constexpr uint32_t kManifestDeadlineMs = 60000;

// Base URLs ending in "/", from .orvane\mirrors.txt or else the built-in primary and fallback.
std::vector<std::wstring> ReadMirrors(const std::wstring& gameFolder);

// The manifest from the first mirror that serves a valid one that the trust accepts (a refused one
// counts as that mirror failing); mirrorIndex is set on success only.
Outcome<Manifest> FetchManifest(const std::vector<std::wstring>& mirrors, const ReleaseTrust& trust,
                                std::stop_token stopToken, int& mirrorIndex);

} // namespace Orv
