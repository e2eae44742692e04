#pragma once
#include "core/outcome.h"
#include "update/download_group.h"
#include "update/downloader.h"
#include "update/file_cache.h"
#include "update/manifest.h"
#include "update/patch/patch_plan.h"
#include "update/update_progress.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace Orv {

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
    // Groups rebuilt from the chunks of their older version (each names its group); may be null.
    const std::vector<PatchPlan>* patches = nullptr;
};

// Groups the entries by sha256 (first sight creates the group) and orders the groups by the zsize
// of their first entry, largest first.
std::vector<DownloadGroup> GroupDownloads(const std::vector<const FileEntry*>& downloads);

// Runs kDownloadWorkers workers over the groups and waits for them; returns the first failure. The
// work is the whole object of every group without a patch, largest first, and every chunk the patches
// lack (each chunk once); the worker that brings the last chunk of a patch rebuilds its file. A patch
// whose chunk cannot be downloaded, or whose file cannot be rebuilt, falls back to the whole object.
// A worker takes work until none is left, a stop is requested, or its own work fails (which stops all
// the others).
std::optional<std::wstring> RunDownloads(DownloadPhase& phase, std::stop_token outerStop);

// Makes destPath a copy of the already placed sourcePath, through its staging file and one move.
Outcome<Ok> CopyPlace(const std::wstring& sourcePath, const std::wstring& destPath);

} // namespace Orv
