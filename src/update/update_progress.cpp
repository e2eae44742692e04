#include "update/update_progress.h"

#include "core/log.h"

#include <algorithm>

namespace Orv {
namespace {

UpdateProgress progressRecord;

} // namespace

uint32_t ShownDownloadPermille(uint64_t done, uint64_t total, uint32_t shownBefore) {
    // done x 1000 wraps only for done above 2^64 / 1000 bytes, far beyond any release.
    const uint64_t now = total == 0 ? 0 : std::min<uint64_t>(done * 1000 / total, 1000);
    return std::max(shownBefore, static_cast<uint32_t>(now));
}

UpdateProgress& Progress() {
    return progressRecord;
}

void SetStatus(UpdateProgress& progress, const std::wstring& text, bool log) {
    if (log) {
        Log(text);
    }
    std::lock_guard guard(progress.lock);
    progress.statusText = text;
}

void EndStoppedRun(UpdateProgress& progress) {
    const Phase phase = progress.phase.load();
    if (phase != Phase::Done && phase != Phase::Failed && phase != Phase::Restarting) {
        progress.phase.store(Phase::Stopped);
    }
}

void Fail(UpdateProgress& progress, const std::wstring& text) {
    SetStatus(progress, text, true);
    progress.phase.store(Phase::Failed);
}

} // namespace Orv
