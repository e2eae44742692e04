#include "core/startup.h"

#include "core/app_state.h"
#include "core/command_line.h"
#include "core/dll_search.h"
#include "core/handles.h"
#include "core/instance_lock.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "install/uninstall.h"
#include "lang/game_language.h"
#include "ui/language_box.h"
#include "ui/main_controls.h"
#include "ui/main_window.h"
#include "ui/setup_window.h"
#include "ui/ui_state.h"
#include "ui/update_start.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <pthread.h>

namespace Orv {
namespace {

constexpr DWORD kUpdatedLockWaitMs = 15000;
constexpr DWORD kShutdownWaitMs = 5000;
constexpr int kOldExeRounds = 20;
constexpr DWORD kOldExePauseMs = 250;

// Held for the life of the process; the system releases them when the process ends.
KernelHandle instanceLock;
SystemDlls systemDlls;

void TakeGameLanguage() {
    AppState& app = App();
    app.gameLanguage = ReadGameLanguage(app.gameFolder);
    app.gameLanguageUnsaved = app.gameLanguage.empty();
    if (app.gameLanguage.empty()) {
        app.gameLanguage = IsTurkish() ? "tr" : "en";
    }
    SetUiLanguageFromCode(app.gameLanguage);
}

// A self-update leaves the previous executable beside the new one.
void RemoveOldExecutable(const std::wstring& exePath) {
    const std::wstring old = exePath + L".old";
    for (int round = 0; round < kOldExeRounds; ++round) {
        if (::GetFileAttributesW(LongPath(old).c_str()) == INVALID_FILE_ATTRIBUTES) {
            return;
        }
        if (!::DeleteFileW(LongPath(old).c_str())) {
            ::Sleep(kOldExePauseMs);
        }
    }
}

void SetUpDpi() {
    ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_SYSTEM_AWARE);
    Ui().scale = ::GetDpiForSystem() / 96.0;
}

void CreateMainWindow(int showCommand) {
    AppState& app = App();
    UiState& ui = Ui();
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = app.instance;
    windowClass.hIcon = ::LoadIconW(app.instance, MAKEINTRESOURCEW(1));
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = ui.backgroundBrush;
    windowClass.lpszClassName = kWindowClass;
    ::RegisterClassExW(&windowClass);

    constexpr DWORD style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
    ::AdjustWindowRect(&frame, style, FALSE);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    ui.mainWindow = ::CreateWindowExW(0, kWindowClass, kWindowTitle, style, x, y, width, height, nullptr,
                                      nullptr, app.instance, nullptr);

    if (app.mode == LauncherMode::Launcher) {
        CreateMainControls();
        FillLanguageList();
    } else {
        CreateSetupControls();
    }
    ::ShowWindow(ui.mainWindow, app.autoMode ? SW_SHOWMINNOACTIVE : showCommand);
    ::UpdateWindow(ui.mainWindow);
    ::SetTimer(ui.mainWindow, kRefreshTimer, kRefreshMilliseconds, nullptr);
}

void RunMessageLoop() {
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!::IsDialogMessageW(Ui().mainWindow, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
}

[[noreturn]] void EndProcess() {
    AppState& app = App();
    if (app.updateThread.joinable()) {
        app.updateThread.request_stop();
        ::WaitForSingleObject(pthread_gethandle(app.updateThread.native_handle()), kShutdownWaitMs);
    }
    Log(L"exit " + std::to_wstring(app.exitCode));
    ::ExitProcess(static_cast<UINT>(app.exitCode));
}

} // namespace

int Startup(HINSTANCE instance, int showCommand) {
    // The process entry has limited where DLLs come from; before anything else can ask for the update
    // engine's DLLs by name, they are taken from System32.
    Outcome<SystemDlls> dlls = LoadSystemDlls();
    if (!dlls) {
        ::MessageBoxW(nullptr, dlls.message.c_str(), kWindowTitle, MB_OK | MB_ICONERROR);
        return kExitFailed;
    }
    systemDlls = std::move(*dlls.value);
    const Arguments args = ProcessArguments();
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    AppState& app = App();
    app.instance = instance;
    const std::wstring exePath = ExecutablePath();
    const std::wstring launcherFolder = ParentFolder(exePath);

    const StartRequest request = ParseStartRequest(args);
    switch (request.kind) {
    case StartKind::UninstallRun:
        return UninstallRun(request.folder, request.pid, request.quiet);
    case StartKind::Uninstall:
        return Uninstall(launcherFolder, request.quiet);
    case StartKind::Install:
        RunInstallation(request.folder, request.desktop, false);
        return app.exitCode;
    case StartKind::Normal:
        break;
    }

    app.mode = IsInstallFolder(launcherFolder) ? LauncherMode::Launcher : LauncherMode::Setup;
    app.gameFolder = launcherFolder;
    app.autoMode = request.autoMode;
    app.repairMode = request.repair;
    app.afterSelfUpdate = request.updated;
    app.noSelfUpdate = request.noSelfUpdate;

    const std::wstring lockName = InstanceLockName(launcherFolder);
    instanceLock.Reset(::CreateMutexW(nullptr, FALSE, lockName.c_str()));

    if (app.mode == LauncherMode::Launcher) {
        if (instanceLock) {
            const DWORD wait =
                ::WaitForSingleObject(instanceLock.Get(), app.afterSelfUpdate ? kUpdatedLockWaitMs : 0);
            if (wait == WAIT_TIMEOUT) {
                if (HWND running = ::FindWindowW(kWindowClass, nullptr)) {
                    ::SetForegroundWindow(running);
                }
                return kExitAlreadyRunning;
            }
        }
        TakeGameLanguage();
        OpenLog(LogFilePath(app.gameFolder));
        Log(std::wstring(L"launcher ") + kLauncherVersion + L" start in " + launcherFolder +
            (app.afterSelfUpdate ? L" (after self-update)" : L""));
        RemoveOldExecutable(exePath);
    }

    SetUpDpi();
    INITCOMMONCONTROLSEX controls{sizeof controls,
                                  ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    CreateFontsAndBrushes();
    CreateMainWindow(showCommand);
    if (app.mode == LauncherMode::Launcher) {
        StartUpdate(app.repairMode);
    }
    RunMessageLoop();
    EndProcess();
}

} // namespace Orv
