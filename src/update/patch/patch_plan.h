#pragma once
#include "update/download_group.h"
#include "update/manifest.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

// Patch updates: a file published in chunks (manifest row "c") whose path holds an older version is
// rebuilt from the chunks of that version and the chunks it lacks, which are downloaded alone.
namespace Orv {

// One chunk of the new file and where its bytes come from.
struct PatchChunk {
    std::string sha256;
    uint64_t size = 0;
    std::optional<uint64_t> oldOffset; // where the older file holds it; else it is downloaded
};

struct PatchPlan {
    size_t group = 0;               // the download group it rebuilds
    std::wstring oldPath;           // the older version
    std::vector<PatchChunk> chunks; // in file order
    std::vector<FileEntry> fetch;   // the distinct chunks to download (FileEntry::chunk)
    size_t reused = 0;              // chunks of the list taken from the older file
    uint64_t fetchBytes = 0;        // bytes of their objects
    uint64_t fetchSize = 0;         // their bytes once downloaded into the download folder
};

// Where a downloaded and verified chunk waits in the download folder: "<sha256>.chunk".
std::wstring ChunkFilePath(const std::wstring& downloadFolder, const std::string& sha256);

struct PatchSources {
    const Manifest& manifest;
    const std::vector<std::wstring>& mirrors;
    int mirrorIndex = 0;
    const std::wstring& gameFolder;
    const std::wstring& downloadFolder;
};

// Plans a patch for every group whose file has a chunk list and one of whose paths holds a file: fetches
// the list (checked against its sha256 and size), cuts the older file with the same rule while hashing
// its chunks, and keeps the chunks it lacks to download, except those an earlier run downloaded
// already. Works on `threads` threads and writes one log line per planned file; a file that cannot be
// planned (list missing on every mirror or bad, older file unreadable) is logged and left to the
// whole-object download.
std::vector<PatchPlan> PlanPatches(const PatchSources& sources, const std::vector<DownloadGroup>& groups,
                                   unsigned threads, std::stop_token stopToken);

} // namespace Orv
