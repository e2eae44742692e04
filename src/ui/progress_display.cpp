#include "ui/progress_display.h"

#include "core/app_state.h"
#include "core/paths.h"
#include "core/text.h"
#include "ui/controls.h"
#include "ui/language_box.h"
#include "ui/main_controls.h"
#include "ui/pause_control.h"
#include "ui/notes_view.h"
#include "ui/status_layout.h"
#include "update/run_texts.h"

#include <algorithm>
#include <array>
#include <fmt/xchar.h>

namespace Orv {
namespace {

constexpr uint64_t kSampleMilliseconds = 1000;

std::wstring FilesWord() {
    return Pick(L"files", L"dosya");
}

void ShowRows(UpdateProgress& progress, Phase phase) {
    UiState& ui = Ui();
    std::vector<SlotView> busiest;
    if (phase == Phase::Downloading) {
        busiest = BusiestSlots(progress);
    }
    busiest.resize(std::min(busiest.size(), static_cast<size_t>(kRows)));
    std::array<std::wstring, kRows> names;
    {
        std::lock_guard guard(progress.lock);
        for (size_t row = 0; row < busiest.size(); ++row) {
            names[row] = progress.slots[busiest[row].index].name;
        }
    }
    for (size_t row = 0; row < kRows; ++row) {
        if (row >= busiest.size()) {
            SetTextIfChanged(ui.rowLabels[row], L"");
            // A long status line pushes the detail line over the empty rows.
            ::ShowWindow(ui.rowLabels[row], SW_HIDE);
            ::ShowWindow(ui.rowBars[row], SW_HIDE);
            continue;
        }
        const SlotView& slot = busiest[row];
        SetTextIfChanged(ui.rowLabels[row], RowText(names[row], slot.total, slot.received));
        SetProgress(ui.rowBars[row], slot.received, slot.total);
        ::ShowWindow(ui.rowLabels[row], SW_SHOWNA);
        ::ShowWindow(ui.rowBars[row], SW_SHOWNA);
    }
}

void EndGoodRun() {
    UiState& ui = Ui();
    UpdateProgress& progress = Progress();
    std::wstring notes;
    {
        std::lock_guard guard(progress.lock);
        notes = progress.notes;
    }
    ShowNotes(notes);
    FillLanguageList();
    ::EnableWindow(ui.playButton, TRUE);
    ::EnableWindow(ui.repairButton, TRUE);
    if (App().autoMode) {
        App().exitCode = kExitOk;
        ::DestroyWindow(ui.mainWindow);
    }
}

void EndFailedRun() {
    UiState& ui = Ui();
    ui.failureShown = true;
    SetTextIfChanged(ui.playButton, Pick(L"RETRY", L"TEKRAR DENE"));
    ::EnableWindow(ui.playButton, TRUE);
    ::EnableWindow(ui.repairButton, TRUE);
    const std::wstring log = LogFilePath(App().gameFolder);
    SetTextIfChanged(ui.detailLabel, LogLinkText(log));
    // The path opens the log.
    SetLinkOn(ui.detailLabel, ui.detailLook, true);
    SetTooltip(ui.detailTip, ui.detailLabel, LogLinkTip(), true);
    ::InvalidateRect(ui.statusLabel, nullptr, TRUE);
    if (App().autoMode) {
        App().exitCode = kExitFailed;
        ::DestroyWindow(ui.mainWindow);
    }
}

} // namespace

std::wstring TimeLeftText(uint64_t remaining, double speed) {
    if (speed < 1.0) {
        return {};
    }
    const auto seconds = static_cast<uint64_t>(static_cast<double>(remaining) / speed);
    const wchar_t* left = Pick(L"left", L"kalan");
    const wchar_t* minutes = Pick(L"min", L"dk");
    if (seconds < 60) {
        return fmt::format(L" · {} ~{} {}", left, seconds + 1, Pick(L"s", L"sn"));
    }
    if (seconds < 3600) {
        return fmt::format(L" · {} ~{} {}", left, (seconds + 59) / 60, minutes);
    }
    return fmt::format(L" · {} ~{} {} {} {}", left, seconds / 3600, Pick(L"h", L"sa"), (seconds % 3600) / 60,
                       minutes);
}

void SampleSpeed(SpeedSampler& sampler, uint64_t bytesDone, uint64_t now) {
    if (sampler.lastSampleTick == 0) {
        sampler.lastBytes = bytesDone;
        sampler.lastSampleTick = now;
        return;
    }
    if (now - sampler.lastSampleTick < kSampleMilliseconds) {
        return;
    }
    const uint64_t delta = bytesDone > sampler.lastBytes ? bytesDone - sampler.lastBytes : 0;
    const double instant =
        static_cast<double>(delta) * 1000.0 / static_cast<double>(now - sampler.lastSampleTick);
    sampler.speed = sampler.speed != 0.0 ? 0.7 * sampler.speed + 0.3 * instant : instant;
    sampler.lastBytes = bytesDone;
    sampler.lastSampleTick = now;
}

std::wstring VersionLineText(const std::wstring& clientVersion, int32_t release) {
    if (release == 0) {
        return {};
    }
    return fmt::format(L"{} {}  ·  {} {}", Pick(L"Version", L"Sürüm"), clientVersion,
                       Pick(L"release", L"yayın"), release);
}

std::wstring LogLinkText(const std::wstring& logPath) {
    return fmt::format(L"{} {}", Pick(L"Details:", L"Ayrıntılar:"), logPath);
}

std::wstring CheckDetailText(uint64_t done, uint64_t total) {
    return fmt::format(L"{} / {} {}", done, total, FilesWord());
}

std::wstring DownloadDetailText(uint64_t bytesDone, uint64_t bytesTotal, double speed, uint64_t filesDone,
                                uint64_t filesTotal) {
    const uint64_t remaining = bytesTotal > bytesDone ? bytesTotal - bytesDone : 0;
    return fmt::format(L"{} / {}  ·  {}/s{}  ·  {} / {} {}", SizeText(bytesDone), SizeText(bytesTotal),
                       SizeText(static_cast<uint64_t>(speed)), TimeLeftText(remaining, speed), filesDone,
                       filesTotal, FilesWord());
}

std::wstring RowText(const std::wstring& name, uint64_t total, uint64_t received) {
    const uint64_t percent = total == 0 ? 100 : received * 100 / total;
    return fmt::format(L"{}  ({}, %{})", name, SizeText(total), percent);
}

std::vector<SlotView> BusiestSlots(const UpdateProgress& progress) {
    std::vector<SlotView> active;
    for (size_t index = 0; index < progress.slots.size(); ++index) {
        const Slot& slot = progress.slots[index];
        if (slot.active.load()) {
            active.push_back({index, slot.total.load(), slot.received.load()});
        }
    }
    std::stable_sort(active.begin(), active.end(),
                     [](const SlotView& a, const SlotView& b) { return a.total > b.total; });
    return active;
}

void ResetProgressDisplay() {
    UiState& ui = Ui();
    ui.failureShown = false;
    ui.paused = false;
    SetLinkOn(ui.detailLabel, ui.detailLook, false);
    SetTooltip(ui.detailTip, ui.detailLabel, LogLinkTip(), false);
    ui.downloadShown = 0;
    ui.sampler = SpeedSampler{};
}

void RefreshProgress() {
    UiState& ui = Ui();
    UpdateProgress& progress = Progress();
    const Phase phase = progress.phase.load();
    std::wstring status;
    std::wstring clientVersion;
    int32_t release = 0;
    {
        std::lock_guard guard(progress.lock);
        status = ShowsPaused(phase) ? PausedText() : progress.statusText;
        clientVersion = progress.clientVersion;
        release = progress.release;
    }
    SetTextIfChanged(ui.statusLabel, status);
    SetTextIfChanged(ui.versionLabel, VersionLineText(clientVersion, release));

    switch (phase) {
    case Phase::Restarting:
        ::DestroyWindow(ui.mainWindow);
        return;
    case Phase::Checking:
        // A self-update's transfer comes before the check; the download that follows starts afresh.
        ui.downloadShown = 0;
        SetProgress(ui.mainBar, progress.checkDone.load(), progress.checkTotal.load());
        SetTextIfChanged(ui.detailLabel,
                         CheckDetailText(progress.checkDone.load(), progress.checkTotal.load()));
        break;
    case Phase::Downloading:
    case Phase::SelfUpdating:
    case Phase::Stopped: {
        const uint64_t bytesDone = progress.bytesDone.load();
        const uint64_t bytesTotal = progress.bytesTotal.load();
        if (ShowsPaused(phase)) {
            SetTextIfChanged(ui.detailLabel,
                             PausedDetailText(bytesDone, bytesTotal, progress.filesDone.load(),
                                              progress.filesTotal.load()));
            break;
        }
        SampleSpeed(ui.sampler, bytesDone, ::GetTickCount64());
        // The bar never goes back within a run.
        ui.downloadShown = ShownDownloadPermille(bytesDone, bytesTotal, ui.downloadShown);
        SetProgress(ui.mainBar, ui.downloadShown, 1000);
        SetTextIfChanged(ui.detailLabel,
                         DownloadDetailText(bytesDone, bytesTotal, ui.sampler.speed,
                                            progress.filesDone.load(), progress.filesTotal.load()));
        break;
    }
    case Phase::Done:
        SetProgress(ui.mainBar, 1, 1);
        SetTextIfChanged(ui.detailLabel, L"");
        break;
    default:
        break;
    }
    ShowRows(progress, ShowsPaused(phase) ? Phase::Stopped : phase);
    RefreshPauseLink(phase);

    if (phase == Phase::Done && !::IsWindowEnabled(ui.playButton)) {
        EndGoodRun();
    } else if (phase == Phase::Failed && !ui.failureShown) {
        EndFailedRun();
    }
    // Long texts take room from the rows below them.
    FitStatusLabel();
}

void RefreshLabels() {
    UiState& ui = Ui();
    const Phase phase = Progress().phase.load();
    SetTextIfChanged(ui.repairButton, Pick(L"Repair", L"Onar"));
    SetTextIfChanged(ui.folderButton, Pick(L"Game folder", L"Oyun klasörü"));
    SetTextIfChanged(ui.playButton,
                     phase == Phase::Failed ? Pick(L"RETRY", L"TEKRAR DENE") : Pick(L"PLAY", L"BAŞLAT"));
    SetTextIfChanged(ui.languageLabel, Pick(L"Game language", L"Oyun dili"));
    SetTooltip(ui.detailTip, ui.detailLabel, LogLinkTip(), ui.detailLook.on);
    if (phase == Phase::Done) {
        UpdateProgress& progress = Progress();
        std::lock_guard guard(progress.lock);
        progress.statusText = Pick(L"The game is up to date. Have fun!", L"Oyun güncel. İyi eğlenceler!");
    }
    ::InvalidateRect(ui.mainWindow, nullptr, TRUE);
}

} // namespace Orv
