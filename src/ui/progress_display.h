#pragma once
#include "ui/ui_state.h"
#include "update/update_progress.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Orv {

// One refresh of the progress display, on every timer tick in launcher mode.
void RefreshProgress();

// Re-labels the launcher controls in the current UI language.
void RefreshLabels();

// Forgets the previous run: failure display and speed estimate.
void ResetProgressDisplay();

// " · left ~N unit" for the remaining bytes at the speed; empty below 1 byte per second.
std::wstring TimeLeftText(uint64_t remaining, double speed);

// Takes a speed sample at the tick count: at most one per second, smoothed 0.7 / 0.3.
void SampleSpeed(SpeedSampler& sampler, uint64_t bytesDone, uint64_t now);

// "Version 1.0.3  ·  release 42"; empty for release 0.
std::wstring VersionLineText(const std::wstring& clientVersion, int32_t release);

// "Details: <log path>": the detail line after a failure, a link to the log.
std::wstring LogLinkText(const std::wstring& logPath);

// "120 / 5000 files".
std::wstring CheckDetailText(uint64_t done, uint64_t total);

// "1.25 GB / 5.30 GB  ·  2.3 MB/s · left ~31 min  ·  12 / 340 files".
std::wstring DownloadDetailText(uint64_t bytesDone, uint64_t bytesTotal, double speed, uint64_t filesDone,
                                uint64_t filesTotal);

// "<name>  (120 MB, %45)".
std::wstring RowText(const std::wstring& name, uint64_t total, uint64_t received);

// One active slot as it was read at one moment.
struct SlotView {
    size_t index = 0;
    uint64_t total = 0;
    uint64_t received = 0;
};

// One reading of the active slots, largest total first; equal totals keep slot order. Workers keep
// writing the slots, so the order is that of this reading.
std::vector<SlotView> BusiestSlots(const UpdateProgress& progress);

} // namespace Orv
