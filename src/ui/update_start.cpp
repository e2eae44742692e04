#include "ui/update_start.h"

#include "core/app_state.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "install/process_launch.h"
#include "partners/game_client.h"
#include "ui/controls.h"
#include "ui/notes_view.h"
#include "ui/progress_display.h"
#include "ui/ui_state.h"
#include "update/update_run.h"

#include <exception>

namespace Orv {
namespace {

// The window cannot go on without its run: when the system refuses the thread, say so and end.
[[noreturn]] void ThreadNotCreated() {
    Log(L"update thread could not be created");
    ::MessageBoxW(nullptr,
                  Pick(L"The update could not be started. Please restart the launcher.",
                       L"Güncelleme başlatılamadı. Lütfen başlatıcıyı yeniden açın."),
                  kWindowTitle, MB_OK | MB_ICONERROR);
    ::ExitProcess(static_cast<UINT>(kExitFailed));
}

} // namespace

void StartUpdate(bool repair) {
    AppState& app = App();
    UiState& ui = Ui();
    UpdateProgress& progress = Progress();
    if (app.updateThread.joinable()) {
        const Phase phase = progress.phase.load();
        if (phase != Phase::Done && phase != Phase::Failed && phase != Phase::Stopped) {
            return;
        }
        app.updateThread.join();
    }
    ResetProgressDisplay();
    HideNotes();
    ::EnableWindow(ui.playButton, FALSE);
    ::EnableWindow(ui.repairButton, FALSE);
    SetTextIfChanged(ui.playButton, Pick(L"PLAY", L"BAŞLAT"));

    // At most one self-update per start: the successor goes on with the launcher it is, so mirrors that
    // disagree on the launcher cannot restart it for ever.
    const bool selfUpdate = !app.noSelfUpdate && !app.afterSelfUpdate;
    UpdateParams params{app.gameFolder, repair, selfUpdate, app.autoMode ? L"--auto" : L""};
    progress.phase.exchange(Phase::Starting);
    // A thread the system refuses surfaces as an exception that nothing handles; while the thread
    // is created that ends in ThreadNotCreated.
    const std::terminate_handler previous = std::set_terminate(ThreadNotCreated);
    app.updateThread = std::jthread([params = std::move(params)](std::stop_token stopToken) mutable {
        UpdateRun(std::move(params), Progress(), stopToken);
        if (stopToken.stop_requested()) {
            EndStoppedRun(Progress());
        }
    });
    std::set_terminate(previous);
}

void LaunchGame() {
    AppState& app = App();
    UpdateProgress& progress = Progress();
    std::wstring launch;
    std::wstring server;
    {
        std::lock_guard guard(progress.lock);
        launch = progress.launch;
        server = progress.server;
    }
    // The handle is closed at once: the box below may stay open for long, and the updater's mutex
    // must not outlive the updater because of it.
    const bool updaterOpen =
        KernelHandle(::OpenMutexW(SYNCHRONIZE, FALSE, GameClient::kUpdaterMutex)).Valid();
    if (updaterOpen) {
        ::MessageBoxW(Ui().mainWindow,
                      Pick(L"The game's login window (Updater) is already open. Close it first.",
                           L"Oyunun giriş penceresi (Updater) zaten açık. Önce onu kapatın."),
                      kWindowTitle, MB_OK | MB_ICONINFORMATION);
        return;
    }
    const std::wstring executable = JoinPath(app.gameFolder, launch);
    if (!LaunchProcess(executable, server, app.gameFolder)) {
        const std::wstring message =
            std::wstring(Pick(L"Could not start the game:", L"Oyun başlatılamadı:")) + L"\n" + executable;
        ::MessageBoxW(Ui().mainWindow, message.c_str(), kWindowTitle, MB_OK | MB_ICONERROR);
        return;
    }
    Log(L"started " + executable + L" " + server);
    ::DestroyWindow(Ui().mainWindow);
}

} // namespace Orv
