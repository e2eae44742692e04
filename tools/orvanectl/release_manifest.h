#pragma once
#include "update/manifest.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Orv::Publisher {

// The keys of a release's manifest.txt.
struct ReleaseHeader {
    int32_t release = 0;
    std::wstring clientVersion;
    std::wstring server;  // left out when empty
    std::wstring launch;  // left out when empty
    std::wstring created; // UTC, ISO 8601
    std::wstring expires; // UTC, ISO 8601; left out when empty
    std::wstring notes;   // the release's notes file, "/" separators; left out when empty
};

// One file row of manifest.txt.
struct ReleaseRow {
    std::string path; // UTF-8, relative, "/" separators
    std::string sha256;
    uint64_t size = 0;
    uint64_t zsize = 0;
    bool compressed = false;
    char kind = '-';
};

// One chunk row of manifest.txt: the file's content is also published in chunks.
struct ReleaseChunkRow {
    std::string sha256; // of the file
    std::string listSha256;
    uint64_t listSize = 0;
};

// Sorts the rows into the order manifest.txt lists them: by the bytes of their paths.
void SortReleaseRows(std::vector<ReleaseRow>& rows);

// manifest.txt (format 1): "format", "release", "clientversion", "server", "launch" and "notes" when given,
// "launcher" (this code base's launcher version), "created", "expires" when given, then one "f" row
// per file in the order of the path bytes (SortReleaseRows), then one "c" row per chunk row in its
// order, then the "p" row of the pack index when given. UTF-8 with LF line ends.
std::string ManifestText(const ReleaseHeader& header, std::vector<ReleaseRow> rows,
                         const std::vector<ReleaseChunkRow>& chunkRows = {},
                         const std::optional<PackIndexRow>& packIndex = std::nullopt);

// The system time in UTC as 100-nanosecond units since 1601 (a FILETIME).
uint64_t UtcNow();
inline constexpr uint64_t kTimePerDay = 864000000000ULL;

// The time as "YYYY-MM-DDThh:mm:ssZ".
std::wstring UtcTimestamp(uint64_t time);

} // namespace Orv::Publisher
