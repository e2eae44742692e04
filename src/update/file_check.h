#pragma once
#include "update/file_cache.h"
#include "update/manifest.h"
#include "update/update_progress.h"

#include <atomic>
#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

namespace Orv {

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
};

// Whether one entry's file must be downloaded (missing, other size, or another hash).
bool NeedsDownload(const FileEntry& entry, const std::wstring& gameFolder, FileCache& cache,
                   std::stop_token stopToken);

// The body of one check thread.
void CheckWorker(CheckWork work);

// Hardware threads clamped to 2..8 (2 when unknown).
unsigned CheckPoolSize(unsigned hardwareThreads);

// Runs the whole check on a pool of CheckPoolSize threads and waits for them.
void RunCheck(const std::vector<FileEntry>& files, std::vector<uint8_t>& needs, FileCache& cache,
              const std::wstring& gameFolder, std::stop_token stopToken, UpdateProgress& progress);

} // namespace Orv
