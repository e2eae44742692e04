#pragma once
#include "core/outcome.h"
#include "orvanectl/progress.h"

#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

namespace Orv::Publisher {

// The name the launcher has in every release.
inline constexpr const wchar_t* kLauncherName = L"Orvane.exe";

struct PublishRequest {
    std::wstring gameFolder;
    std::wstring mirrorRoot;
    int32_t release = 0;
    std::wstring clientVersion;     // empty: the one the release's VersionInfo.ver holds
    std::wstring server;            // optional
    std::wstring launch;            // optional
    std::wstring notes;             // --notes: a file of the release, relative to the game folder; optional
    std::wstring launcherFile;      // published as "Orvane.exe"; when empty, the game folder's own one is
    std::vector<std::wstring> keep; // --keep patterns (see glob.h)
    std::wstring signingKeyFile;    // --sign: the private key file; empty: the release is not signed
    int32_t validDays = 0; // --valid-days: the signed release expires so many days after now; 0: never
    bool packs = true;     // false with --no-packs: no packs, no pack index, no row "p"
    bool force = false;    // --force: other content may replace the release of the same number
};

struct PublishSummary {
    int32_t release = 0;
    std::wstring mirrorRoot; // absolute
    size_t files = 0;
    uint64_t fileBytes = 0;
    size_t objects = 0; // distinct contents
    size_t written = 0;
    uint64_t writtenBytes = 0; // bytes of the objects written
    size_t reused = 0;
    size_t chunkedFiles = 0;        // distinct contents of at least 4 MiB, also published in chunks
    size_t chunksWritten = 0;       // chunk objects the mirror did not hold yet
    uint64_t chunkBytesWritten = 0; // their bytes
    size_t packedObjects = 0;       // objects the pack index places in packs
    size_t packs = 0;               // packs the index names
    size_t packsWritten = 0;        // packs the mirror did not hold yet
    uint64_t packBytesWritten = 0;  // their bytes
};

// Publishes the game folder as a release into the mirror: hashes every file, writes the object of every
// content the mirror lacks, publishes every content of at least 4 MiB in chunks as well (the chunk
// objects the mirror lacks and the chunk list), unless `packs` is off packs the small objects and the
// chunks (pack_store.h), and writes manifest.txt last, in one rename. Everything below
// the game folder is published except its launcher data folder ".orvane" at the top and the mirror root when
// it lies inside. Progress and notes go to `say`. On failure manifest.txt is left as it was. A stop request
// of `cancel` stops the workers and fails the publish before manifest.txt is written.
Outcome<PublishSummary> Publish(const PublishRequest& request, const LineSink& say,
                                std::stop_token cancel = {});

// One line that sums the publish up.
std::wstring SummaryText(const PublishSummary& summary);

} // namespace Orv::Publisher
