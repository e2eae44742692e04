#pragma once
#include "core/outcome.h"
#include "update/download_group.h"
#include "update/downloader.h"
#include "update/file_cache.h"
#include "update/manifest.h"
#include "update/pack/pack_plan.h"
#include "update/patch/patch_plan.h"
#include "update/update_progress.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace Orv {

// What the twelve download workers of one run share.
struct DownloadPhase {
    const std::vector<DownloadGroup>& groups;
    std::stop_source workersStop;
    const Downloader& downloader;
    const std::wstring& gameFolder;
    FileCache& cache;
    UpdateProgress& progress;
    std::mutex failureMutex;
    std::optional<std::wstring> firstFailure;
    // Groups that may be rebuilt from the chunks of their older version, and the bytes the chunk files of
    // their patches may take on the disk in all.
    std::vector<PatchCandidate> candidates;
    uint64_t chunkRoom = 0;
    // Called once every candidate is planned (not when there is none).
    std::function<void()> onPlanned;
    // The run's pack index (null: every object comes loose), and the pieces of packs in which the objects
    // of groups come (an item's id is its group); those groups are not downloaded whole. The chunks of
    // patches come from packs too, planned as the patches are.
    const PackIndex* packs = nullptr;
    std::vector<PackPiece> pieces;
};

// Groups the entries by sha256 (first sight creates the group) and orders the groups by the zsize
// of their first entry, largest first.
std::vector<DownloadGroup> GroupDownloads(const std::vector<const FileEntry*>& downloads);

// Runs kDownloadWorkers workers and waits for them; returns the first failure. The work is, first, the
// planning of every candidate's patch, then the whole object of every other group, largest first, then
// the pieces of packs (an object that no mirror's pack delivers comes loose); a plan
// adds the chunks its patch lacks (each chunk once, whichever patches need it), and the worker that
// settles a patch's last chunk rebuilds its file. A patch whose chunk path fails (its list or a chunk
// cannot be fetched or verified, the rebuilt file is not the listed one, the older file cannot be read)
// or that does not pay falls back to the whole object. A worker takes work until none is left, a stop is
// requested, or its own work fails (which stops all the others).
//
// The progress counts each transfer once: bytesTotal starts as the run set it (the whole objects that
// are not candidates) and follows the plans: a list or chunk joins it when it is fetched, a chunk that
// is given up leaves it, and a fallback adds the whole object. A piece counts its range's bytes; what
// never came of it leaves the total, and the objects that then come loose join it.
std::optional<std::wstring> RunDownloads(DownloadPhase& phase, std::stop_token outerStop);

// Makes destPath a copy of the already placed sourcePath, through its staging file and one move.
Outcome<Ok> CopyPlace(const std::wstring& sourcePath, const std::wstring& destPath);

} // namespace Orv
