#include "install/uninstall.h"

#include "core/app_state.h"
#include "core/file_io.h"
#include "core/handles.h"
#include "core/held_files.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "install/folder_cleanup.h"
#include "install/install_location.h"
#include "install/process_launch.h"
#include "install/registration.h"
#include "install/shortcut.h"
#include "partners/game_client.h"
#include "update/manifest.h"
#include "update/trust/release_floor.h"

#include <windows.h>

#include <knownfolders.h>

#include <fmt/xchar.h>

namespace Orv {
namespace {

constexpr const wchar_t* kBoxTitle = L"Orvane";
constexpr const wchar_t* kManifestCopyName = L"manifest.txt";
constexpr const wchar_t* kTemporaryCopyName = L"Orvane_uninstall.exe";
constexpr DWORD kFirstProcessWaitMs = 15000;

constexpr const wchar_t* kLauncherName = L"Orvane.exe";

// The launcher's and the game client's own files that no manifest lists, relative to the folder.
std::vector<std::wstring> FixedFiles() {
    const std::wstring launcher = kLauncherName;
    return {GameClient::kOptionFile,
            GameClient::kSetupInfoFile,
            JoinPath(GameClient::kLanguageFolder, GameClient::kLanguageFile),
            launcher,
            launcher + L".old",
            launcher + L".new"};
}

void ShowBox(const wchar_t* text, UINT icon) {
    ::MessageBoxW(nullptr, text, kBoxTitle, MB_OK | icon);
}

// The user's temporary folder, with its trailing separator; empty when the system cannot give it.
std::wstring TemporaryFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return std::wstring(buffer, length);
}

void WaitForProcessEnd(uint32_t pid) {
    KernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (process) {
        ::WaitForSingleObject(process.Get(), kFirstProcessWaitMs);
    }
}

// The relative paths of every file the manifest copy lists; none when it does not parse.
std::vector<std::wstring> ListedFiles(std::string manifestText) {
    std::vector<std::wstring> paths;
    Outcome<Manifest> manifest = ParseManifest(std::move(manifestText));
    if (manifest) {
        for (const FileEntry& entry : manifest.value->files) {
            paths.push_back(entry.path);
        }
    }
    return paths;
}

// Deletes the desktop and Start menu shortcuts that start this installation's launcher.
void RemoveShortcuts(const std::wstring& folder) {
    const std::wstring launcher = JoinPath(folder, kLauncherName);
    for (const KNOWNFOLDERID* known : {&FOLDERID_Desktop, &FOLDERID_Programs}) {
        const std::wstring shortcut = ShortcutPath(*known);
        if (!shortcut.empty() && SamePath(ReadShortcutTarget(shortcut), launcher)) {
            ::DeleteFileW(LongPath(shortcut).c_str());
        }
    }
}

// Has the command interpreter delete this executable once the process has had time to end.
void ScheduleSelfDeletion() {
    const std::wstring command =
        fmt::format(L"/c ping -n 3 127.0.0.1 >nul & del /f /q \"{}\"", ExecutablePath());
    wchar_t comSpec[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"ComSpec", comSpec, MAX_PATH);
    if (length >= MAX_PATH) {
        comSpec[0] = L'\0';
    }
    std::wstring commandLine = fmt::format(L"\"{}\" {}", comSpec, command);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    if (::CreateProcessW(comSpec, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                         nullptr, &startup, &info)) {
        KernelHandle process(info.hProcess);
        KernelHandle thread(info.hThread);
    }
}

// The temporary copy's command: remove the folder once this process has ended.
std::wstring HandOverArguments(const std::wstring& folder, uint32_t pid, bool quiet) {
    return fmt::format(L"--uninstall-run \"{}\" --pid {}{}", folder, pid, quiet ? L" --quiet" : L"");
}

} // namespace

int Uninstall(const std::wstring& folder, bool quiet) {
    if (!quiet && ::MessageBoxW(nullptr,
                                Pick(L"Remove Orvane and the downloaded game files?",
                                     L"Orvane ve indirilen oyun dosyaları silinsin mi?"),
                                kBoxTitle, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return kExitFailed;
    }
    const std::wstring temporary = TemporaryFolder();
    const std::wstring copy = JoinPath(temporary, kTemporaryCopyName);
    if (temporary.empty() ||
        !::CopyFileW(LongPath(ExecutablePath()).c_str(), LongPath(copy).c_str(), FALSE)) {
        return UninstallRun(folder, 0, quiet);
    }
    // A copy that does not start removes nothing: the removal then happens here, as without a copy.
    if (!LaunchProcess(copy, HandOverArguments(folder, ::GetCurrentProcessId(), quiet), temporary)) {
        return UninstallRun(folder, 0, quiet);
    }
    return kExitOk;
}

int UninstallRun(const std::wstring& folder, uint32_t pid, bool quiet) {
    if (pid != 0) {
        WaitForProcessEnd(pid);
    }
    const std::wstring dataFolder = JoinPath(folder, kDataFolderName);
    std::optional<std::string> manifestText = ReadFileBytes(JoinPath(dataFolder, kManifestCopyName));
    if (!manifestText) {
        if (!quiet) {
            ShowBox(Pick(L"No launcher install found in this folder.",
                         L"Bu klasörde launcher kurulumu bulunamadı."),
                    MB_ICONWARNING);
        }
        return kExitNoInstallation;
    }

    // Named by the folder's long path, which is known only while the folder is there.
    RemoveReleaseFloor(folder);
    // The launcher's own file goes last, and only with every game file: while some are left, the
    // uninstall entry must still start an uninstall that finds them.
    const std::wstring launcher = JoinPath(folder, kLauncherName);
    std::vector<std::wstring> listed = ListedFiles(std::move(*manifestText));
    const bool launcherListed = std::erase_if(listed, [&](const std::wstring& relative) {
                                    return SamePath(JoinPath(folder, relative), launcher);
                                }) > 0;
    const bool launcherThere = ::GetFileAttributesW(LongPath(launcher).c_str()) != INVALID_FILE_ATTRIBUTES;
    ListedRemoval removal = RemoveListedFiles(folder, listed);
    std::vector<std::wstring> fixed;
    for (const std::wstring& name : FixedFiles()) {
        if (name != kLauncherName || removal.left.empty()) {
            fixed.push_back(JoinPath(folder, name));
        }
    }
    for (const std::wstring& path : DeleteFilesWhenFree(fixed).left) {
        if (SamePath(path, launcher)) {
            removal.left.push_back(path);
        }
    }
    if (launcherListed && launcherThere &&
        ::GetFileAttributesW(LongPath(launcher).c_str()) == INVALID_FILE_ATTRIBUTES) {
        ++removal.removedFiles;
    }
    RemoveTopLevelLeftovers(folder);
    const bool complete = removal.left.empty();
    // What is left is found again by the next uninstall through the manifest copy.
    RemoveTree(dataFolder, complete ? std::wstring() : JoinPath(dataFolder, kManifestCopyName));
    PruneFolders(removal.folders);
    const bool kept = !IsEmptyFolder(folder);
    if (!kept) {
        RemoveFolderWhenFree(folder);
    }

    RemoveShortcuts(folder);
    if (complete) {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
    }
    ::RegDeleteTreeW(HKEY_CURRENT_USER, GameClient::kRegistryRoot);

    if (!quiet) {
        ShowBox(!complete
                    ? Pick(L"Orvane was removed, but some game files are in use and were left. Close the "
                           L"game and uninstall again.",
                           L"Orvane kaldırıldı, ancak bazı oyun dosyaları kullanımda olduğu için silinemedi. "
                           L"Oyunu kapatıp kaldırmayı yeniden çalıştırın.")
                : kept ? Pick(L"Orvane was removed. Files you added to the folder were kept.",
                              L"Orvane kaldırıldı. Klasörde size ait dosyalar kaldı, onlara dokunulmadı.")
                       : Pick(L"Orvane was removed.", L"Orvane kaldırıldı."),
                complete ? MB_ICONINFORMATION : MB_ICONWARNING);
    }
    if (!complete) {
        Log(fmt::format(L"uninstall: {} files in use were left", removal.left.size()));
    }
    if (pid != 0) {
        ScheduleSelfDeletion();
    }
    Log(fmt::format(L"uninstalled {} ({} files)", folder, removal.removedFiles));
    return kExitOk;
}

} // namespace Orv
