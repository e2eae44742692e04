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
    std::optional<int32_t> floorRelease; // the lowest release that may be applied
};

// The trust of a run: the key and, with a key, the floor: the higher of the release of the game
// folder's copy of the last manifest applied (.orvane\manifest.txt) and the folder's release floor
// (update/release_floor.h). A source that is missing counts for nothing; one that cannot be read or
// parsed counts for nothing either, with a log line that says so.
ReleaseTrust TrustForRun(const std::string& publicKey, const std::wstring& gameFolder);

// After a release has been applied in full, or its launcher has replaced the running one: with a key,
// the folder's floor rises to that release (it never goes down). Without a key nothing is kept, since
// an unsigned release may name any number.
void KeepReleaseFloor(const std::string& publicKey, const std::wstring& gameFolder, int32_t release);

// Why a signed manifest is refused before it is parsed: its text is not signed by the key.
std::optional<std::wstring> SignatureRefusal(std::string_view text, const ReleaseTrust& trust);

// Why the parsed manifest is refused: it has expired, or its release is older than the floor.
std::optional<std::wstring> ReleaseRefusal(const Manifest& manifest, const ReleaseTrust& trust);

// A UTC time "YYYY-MM-DDTHH:MM:SSZ" as 100-nanosecond units since 1601; nothing for any other text.
std::optional<uint64_t> ParseUtcTime(std::wstring_view text);

} // namespace Orv
