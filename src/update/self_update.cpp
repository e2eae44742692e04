#include "update/self_update.h"

#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "install/process_launch.h"
#include "update/trust/release_trust.h"
#include "update/sha256.h"

#include <windows.h>

namespace Orv {
namespace {

constexpr int kMoveBackTries = 5;
constexpr DWORD kMoveBackPauseMs = 200;

bool Rename(const std::wstring& from, const std::wstring& to) {
    return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// Puts the previous launcher back at exe. A launcher must stand there whatever happens: the move is
// tried a few times, and when it keeps failing the previous launcher is copied back instead.
void RestoreLauncher(const std::wstring& exe, const std::wstring& old) {
    for (int attempt = 0; attempt < kMoveBackTries; ++attempt) {
        if (Rename(old, exe)) {
            return;
        }
        ::Sleep(kMoveBackPauseMs);
    }
    if (!::CopyFileW(old.c_str(), exe.c_str(), FALSE)) {
        Log(L"self-update: cannot restore the launcher: " + ErrorText(::GetLastError()));
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
    SetStatus(progress, Pick(L"Updating the launcher...", L"Launcher güncelleniyor..."));
    progress.bytesTotal.store(entry->zsize);

    const std::wstring fresh = exe + L".new";
    const std::wstring old = exe + L".old";
    const Outcome<Ok> fetched = downloader.Get(*entry, fresh, nullptr, stopToken);
    if (!fetched) {
        Log(L"self-update download failed: " + fetched.message);
        return false;
    }
    ::DeleteFileW(old.c_str());
    if (!Rename(exe, old)) {
        Log(L"self-update: cannot move the running exe: " + ErrorText(::GetLastError()));
        ::DeleteFileW(fresh.c_str());
        return false;
    }
    if (!Rename(fresh, exe)) {
        Log(L"self-update: cannot place the new exe: " + ErrorText(::GetLastError()));
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
