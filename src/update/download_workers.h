#pragma once
#include "core/outcome.h"
#include "update/downloader.h"
#include "update/file_cache.h"
#include "update/manifest.h"
#include "update/update_progress.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace Orv {

// Entries with one sha256: the first is downloaded, the others receive copies.
struct DownloadGroup {
    std::vector<const FileEntry*> entries;
};

// What the twelve download workers of one run share.
struct DownloadPhase {
    const std::vector<DownloadGroup>& groups;
    std::atomic<size_t> next{0};
    std::stop_source workersStop;
    const Downloader& downloader;
    const std::wstring& gameFolder;
    FileCache& cache;
    UpdateProgress& progress;
    std::mutex failureMutex;
    std::optional<std::wstring> firstFailure;
};

// Groups the entries by sha256 (first sight creates the group) and orders the groups by the zsize
// of their first entry, largest first.
std::vector<DownloadGroup> GroupDownloads(const std::vector<const FileEntry*>& downloads);

// The body of worker `number` (its slot index): takes groups until none is left, a stop is
// requested, or its own group fails (which stops all the others).
void DownloadWorker(size_t number, DownloadPhase& phase, std::stop_token outerStop);

// Runs kDownloadWorkers workers over the groups and waits for them; returns the first failure.
std::optional<std::wstring> RunDownloads(DownloadPhase& phase, std::stop_token outerStop);

// Makes destPath a copy of the already placed sourcePath, through its staging file and one move.
Outcome<Ok> CopyPlace(const std::wstring& sourcePath, const std::wstring& destPath);

} // namespace Orv
