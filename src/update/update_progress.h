#pragma once
#include "core/build_settings.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace Orv {

// Phases of an update run.
enum class Phase : int32_t {
    Idle = 0,
    Starting = 1,
    SelfUpdating = 2,
    Checking = 3,
    Downloading = 4,
    Finishing = 5,
    Done = 6,
    Failed = 7,
    Restarting = 8,
    Stopped = 9, // the run was asked to stop and has ended; what it downloaded in part stays
};

// One download worker's current file.
struct Slot {
    std::wstring name;                 // manifest path; under UpdateProgress::lock
    std::atomic<uint64_t> total{0};    // object size, set before the slot becomes active
    std::atomic<uint64_t> received{0}; // object bytes in the .part file
    std::atomic<bool> active{false};
};

inline constexpr size_t kDownloadWorkers = 12;

// Where the update engine and the window meet; the window polls it.
struct UpdateProgress {
    std::atomic<Phase> phase{Phase::Idle};
    std::atomic<uint64_t> checkTotal{0};
    std::atomic<uint64_t> checkDone{0};
    std::atomic<uint64_t> bytesTotal{0};
    std::atomic<uint64_t> bytesDone{0};
    std::atomic<uint64_t> filesTotal{0};
    std::atomic<uint64_t> filesDone{0};
    std::array<Slot, kDownloadWorkers> slots;

    std::mutex lock; // guards the strings below, release and every Slot::name
    std::wstring statusText;
    int32_t release = 0;
    std::wstring clientVersion;
    std::wstring server;
    std::wstring launch;
    // The manifest paths of the files the check found to need a download (missing, changed or, in a
    // repair, damaged); set once the check has ended.
    std::vector<std::wstring> toDownload;
    // The release's notes with CR LF line ends, set as the run ends with Done; empty: none to show.
    std::wstring notes;
};

// Counters shared by many threads must be whole 64-bit values on a 32-bit target as well.
static_assert(std::atomic<uint64_t>::is_always_lock_free);

// What one update run is given, by value.
struct UpdateParams {
    std::wstring gameFolder;
    bool repair = false;
    bool selfUpdate = true;
    std::wstring passArgs; // "--auto" or empty, handed to a restarted launcher
    // The publisher's public key that every manifest must be signed with; empty: none needed.
    std::string releaseKey = BuildSettings::kReleaseKey;
};

// The share of the download to show, in thousandths: done of total, but never less than what was shown
// before within the run (the total grows when a patch falls back to its whole object, and a failed
// attempt takes its bytes back).
uint32_t ShownDownloadPermille(uint64_t done, uint64_t total, uint32_t shownBefore);

// The one process-wide record.
UpdateProgress& Progress();

// The run has ended after it was asked to stop: Stopped, unless it had already come to an end of its own
// (Done, Failed, or Restarting into the new launcher).
void EndStoppedRun(UpdateProgress& progress);

// Logs the text (when asked), then replaces the status line.
void SetStatus(UpdateProgress& progress, const std::wstring& text, bool log = true);

// SetStatus, then the phase Failed.
void Fail(UpdateProgress& progress, const std::wstring& text);

} // namespace Orv
