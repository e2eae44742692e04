#include "update/update_progress.h"

#include "core/log.h"

namespace Orv {
namespace {

UpdateProgress progressRecord;

} // namespace

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

void Fail(UpdateProgress& progress, const std::wstring& text) {
    SetStatus(progress, text, true);
    progress.phase.store(Phase::Failed);
}

} // namespace Orv
