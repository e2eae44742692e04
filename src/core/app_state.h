#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <thread>

namespace Orv {

enum class LauncherMode : int32_t { Setup = 0, Launcher = 1 };

// The launcher's own version text.
inline constexpr const wchar_t* kLauncherVersion = L"1.0.0";

// Exit codes of the process.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitNoInstallation = 2;
inline constexpr int kExitAlreadyRunning = 3;

// Process-wide application state. Written on the main thread before the update thread exists.
struct AppState {
    HINSTANCE instance = nullptr;
    LauncherMode mode = LauncherMode::Launcher;
    std::wstring gameFolder;
    bool autoMode = false;
    bool repairMode = false;
    bool afterSelfUpdate = false;
    bool noSelfUpdate = false;
    int32_t exitCode = kExitOk;
    std::string gameLanguage;
    bool gameLanguageUnsaved = false;
    std::jthread updateThread;
};

AppState& App();

} // namespace Orv
