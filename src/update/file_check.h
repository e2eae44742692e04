#pragma once
#include "update/file_cache.h"
#include "update/manifest.h"
#include "update/patch/chunker.h"
#include "update/update_progress.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_set>
#include <vector>

namespace Orv {

// For the patch planning: the files published in chunks (their sha256), and, per manifest entry, the
// chunks of the file on disk when the check read it (it then reads it once, for both).
struct CheckCut {
    const std::unordered_set<std::string>& chunked;
    std::vector<std::optional<FileChunks>>& found;
};

// What the check workers share: entries are handed out one at a time through `next`; a worker
// writes needs[i] = 1 for an entry it took that must be downloaded.
struct CheckWork {
    const std::vector<FileEntry>& files;
    std::vector<uint8_t>& needs;
    std::atomic<uint32_t>& next;
    FileCache& cache;
    const std::wstring& gameFolder;
    std::stop_token stopToken;
    UpdateProgress& progress;
    CheckCut* cut = nullptr;
};

// Whether one entry's file must be downloaded (missing, other size, or another hash). With a cut, a
// file published in chunks that has to be hashed is cut as well, and its chunks are kept at `index`.
bool NeedsDownload(const FileEntry& entry, const std::wstring& gameFolder, FileCache& cache,
                   std::stop_token stopToken, CheckCut* cut = nullptr, size_t index = 0);

// The body of one check thread.
void CheckWorker(CheckWork work);

// Hardware threads clamped to 2..8 (2 when unknown).
unsigned CheckPoolSize(unsigned hardwareThreads);

// Runs the whole check on a pool of CheckPoolSize threads and waits for them.
void RunCheck(const std::vector<FileEntry>& files, std::vector<uint8_t>& needs, FileCache& cache,
              const std::wstring& gameFolder, std::stop_token stopToken, UpdateProgress& progress,
              CheckCut* cut = nullptr);

} // namespace Orv
