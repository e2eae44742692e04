#pragma once
#include "update/manifest.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Orv {

// What a manifest must satisfy before the launcher applies it. With an empty key every manifest that
// parses is taken, as launchers without a key always did.
struct ReleaseTrust {
    std::string publicKey;               // base64 of the publisher's P-256 key (X || Y), or empty
    std::optional<int32_t> floorRelease; // the release of the last manifest applied in full
};

// The trust of a run: the key and, with a key, the release of the game folder's copy of the last
// manifest applied (dataFolder\manifest.txt). A copy that is missing gives no floor; one that cannot
// be read or parsed gives none either, with a log line that says so.
ReleaseTrust TrustForRun(const std::string& publicKey, const std::wstring& dataFolder);

// Why a signed manifest is refused before it is parsed: its text is not signed by the key.
std::optional<std::wstring> SignatureRefusal(std::string_view text, const ReleaseTrust& trust);

// Why the parsed manifest is refused: it has expired, or its release is older than the floor.
std::optional<std::wstring> ReleaseRefusal(const Manifest& manifest, const ReleaseTrust& trust);

// A UTC time "YYYY-MM-DDTHH:MM:SSZ" as 100-nanosecond units since 1601; nothing for any other text.
std::optional<uint64_t> ParseUtcTime(std::wstring_view text);

} // namespace Orv
