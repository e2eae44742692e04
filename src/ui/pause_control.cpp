#include "ui/pause_control.h"

#include "core/app_state.h"
#include "core/log.h"
#include "core/text.h"
#include "ui/controls.h"
#include "ui/ui_state.h"
#include "ui/update_start.h"

#include <fmt/xchar.h>

namespace Orv {

void OnPauseLinkPressed() {
    UiState& ui = Ui();
    const Phase phase = Progress().phase.load();
    if (ui.paused) {
        if (phase == Phase::Stopped) {
            Log(L"update resumed");
            StartUpdate(false);
        }
        return;
    }
    if (phase != Phase::Downloading) {
        return;
    }
    ui.paused = true;
    Log(L"update paused");
    App().updateThread.request_stop();
}

bool ShowsPaused(Phase phase) {
    return Ui().paused && phase != Phase::Done && phase != Phase::Failed && phase != Phase::Restarting;
}

void RefreshPauseLink(Phase phase) {
    UiState& ui = Ui();
    std::wstring text;
    if (ShowsPaused(phase)) {
        // Resume is offered once the paused run has ended.
        if (phase == Phase::Stopped) {
            text = Pick(L"Resume", L"Devam et");
        }
    } else if (phase == Phase::Downloading) {
        text = Pick(L"Pause", L"Duraklat");
    }
    const bool shown = !text.empty();
    if (shown) {
        SetTextIfChanged(ui.pauseLink, text);
    }
    SetLinkOn(ui.pauseLink, ui.pauseLook, shown);
    // The window's next layout gives the link its room at the end of the detail line.
    if ((::IsWindowVisible(ui.pauseLink) != FALSE) != shown) {
        ::ShowWindow(ui.pauseLink, shown ? SW_SHOWNA : SW_HIDE);
    }
}

std::wstring PausedDetailText(uint64_t bytesDone, uint64_t bytesTotal, uint64_t filesDone,
                              uint64_t filesTotal) {
    return fmt::format(L"{} / {}  ·  {} / {} {}", SizeText(bytesDone), SizeText(bytesTotal), filesDone,
                       filesTotal, Pick(L"files", L"dosya"));
}

} // namespace Orv
