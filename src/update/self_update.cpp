#include "update/self_update.h"

#include "core/held_files.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "install/process_launch.h"
#include "update/run_texts.h"
#include "update/trust/release_trust.h"
#include "update/sha256.h"

#include <windows.h>

namespace Orv {
namespace {

// The system's error code, 0 when the file was moved.
DWORD Rename(const std::wstring& from, const std::wstring& to) {
    return MoveFileWhenFree(from, to, MOVEFILE_REPLACE_EXISTING);
}

// Puts the previous launcher back at exe. A launcher must stand there whatever happens: the move is
// tried a few times, and when it keeps failing the previous launcher is copied back instead.
void RestoreLauncher(const std::wstring& exe, const std::wstring& old) {
    if (Rename(old, exe) == ERROR_SUCCESS) {
        return;
    }
    if (const DWORD error = CopyFileWhenFree(old, exe); error != ERROR_SUCCESS) {
        Log(L"self-update: cannot restore the launcher: " + ErrorText(error));
    }
}

} // namespace

bool SelfUpdate(const Manifest& manifest, const UpdateParams& params, const Downloader& downloader,
                UpdateProgress& progress, std::stop_token stopToken) {
    const FileEntry* entry = nullptr;
    for (const FileEntry& file : manifest.files) {
        if (file.kind == kKindLauncher) {
            entry = &file;
            break;
        }
    }
    if (entry == nullptr) {
        return false;
    }
    const std::wstring exe = ExecutablePath();
    const auto digest = Sha256OfFile(exe, stopToken);
    if (!digest || *digest == entry->sha256) {
        return false;
    }
    progress.phase.store(Phase::SelfUpdating);
    SetStatus(progress, SelfUpdatingText());
    progress.bytesTotal.store(entry->zsize);

    const std::wstring fresh = exe + L".new";
    const std::wstring old = exe + L".old";
    const Outcome<Ok> fetched = downloader.Get(*entry, fresh, nullptr, stopToken);
    if (!fetched) {
        Log(L"self-update download failed: " + fetched.message);
        return false;
    }
    DeleteFileWhenFree(old, stopToken);
    if (const DWORD error = Rename(exe, old); error != ERROR_SUCCESS) {
        Log(L"self-update: cannot move the running exe: " + ErrorText(error));
        DeleteFileWhenFree(fresh);
        return false;
    }
    if (const DWORD error = Rename(fresh, exe); error != ERROR_SUCCESS) {
        Log(L"self-update: cannot place the new exe: " + ErrorText(error));
        RestoreLauncher(exe, old);
        return false;
    }
    Log(L"self-update: restarting " + exe);
    if (!LaunchProcess(exe, L"--updated " + params.passArgs, params.gameFolder)) {
        Rename(exe, fresh);
        RestoreLauncher(exe, old);
        return false;
    }
    // The successor waits for this process to end, so it reads the raised floor.
    KeepReleaseFloor(params.releaseKey, params.gameFolder, manifest.release);
    progress.phase.store(Phase::Restarting);
    return true;
}

} // namespace Orv
