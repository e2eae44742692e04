#pragma once
#include "core/outcome.h"
#include "update/download_group.h"
#include "update/downloader.h"
#include "update/manifest.h"
#include "update/patch/chunk_list.h"
#include "update/patch/chunker.h"
#include "update/update_progress.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <vector>

// Patch updates: a file published in chunks (manifest row "c") whose path holds an older version is
// rebuilt from the chunks of that version and the chunks it lacks, which are downloaded alone.
namespace Orv {

// A patch pays only when its cost, the bytes of the chunks it lacks and of its list plus
// kPatchRequestCost for every request, is below kPatchWorthPercent of the whole object's bytes.
inline constexpr uint64_t kPatchRequestCost = 64 * 1024;
inline constexpr uint64_t kPatchWorthPercent = 70;

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
    std::vector<FileEntry> fetch;   // the distinct chunks to download (ObjectKind::Chunk)
    size_t reused = 0;              // chunks of the list taken from the older file
    uint64_t fetchBytes = 0;        // bytes of their objects
    uint64_t fetchSize = 0;         // their bytes once downloaded into the download folder
};

// A group that may be patched: it has a chunk list, and one of its paths holds a file.
struct PatchCandidate {
    size_t group = 0;
    const ChunkedFile* row = nullptr;
    std::wstring oldPath;
    const FileChunks* older = nullptr; // the older file's chunks when the check cut it already
};

// Where a downloaded and verified chunk waits in the download folder: "<sha256>.chunk"; and a chunk
// list: "<sha256>.l".
std::wstring ChunkFilePath(const std::wstring& downloadFolder, const std::string& sha256);
std::wstring ChunkListPath(const std::wstring& downloadFolder, const std::string& sha256);

// The groups that may be patched, in group order. `cut` holds, per manifest entry, the chunks the check
// found in its file (or nothing).
std::vector<PatchCandidate> PatchCandidates(const Manifest& manifest,
                                            const std::vector<DownloadGroup>& groups,
                                            const std::wstring& gameFolder,
                                            const std::vector<std::optional<FileChunks>>& cut);

// What a patch costs on the wire, as the rule above counts it.
uint64_t PatchCost(const PatchPlan& plan, uint64_t listSize);

// The candidate's chunk list, fetched like an object (attempts, mirrors, resume) into the download
// folder unless an earlier run left it there; its chunks, checked against the file's size. The slot
// (may be null) shows the transfer; `transferred` tells whether the list came over the wire. The failure
// is the reason, for the log.
Outcome<std::vector<ChunkListEntry>> FetchChunkList(const PatchCandidate& candidate, const FileEntry& entry,
                                                    const Downloader& downloader, Slot* slot,
                                                    std::stop_token stopToken, bool* transferred);

// Plans the candidate from its chunk list: cuts the older file (unless the check did) while hashing its
// chunks, reporting the bytes read to `onRead`, and keeps the chunks it lacks to download, except those an
// earlier run downloaded already. Fails, with the reason for the log, when the older file cannot be read
// or the patch does not pay.
Outcome<PatchPlan> PlanPatch(const PatchCandidate& candidate, const FileEntry& entry,
                             const std::vector<ChunkListEntry>& list, const std::wstring& downloadFolder,
                             const std::function<void(uint64_t)>& onRead, std::stop_token stopToken);

} // namespace Orv
