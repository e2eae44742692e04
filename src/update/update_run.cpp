#include "update/update_run.h"

#include "core/file_io.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "install/registration.h"
#include "partners/game_client.h"
#include "update/download_workers.h"
#include "update/downloader.h"
#include "update/file_cache.h"
#include "update/file_check.h"
#include "update/mirrors.h"
#include "update/patch/patch_plan.h"
#include "update/trust/release_trust.h"
#include "update/self_update.h"
#include "update/version_stamp.h"

#include <windows.h>

#include <filesystem>
#include <thread>
#include <fmt/xchar.h>

namespace Orv {
namespace {

void ResetCounters(UpdateProgress& progress) {
    progress.filesTotal.store(0);
    progress.filesDone.store(0);
    progress.bytesTotal.store(0);
    progress.bytesDone.store(0);
    progress.checkTotal.store(0);
    progress.checkDone.store(0);
}

void Finish(const UpdateParams& params, UpdateProgress& progress, const Manifest& manifest,
            const std::wstring& dataFolder, const Downloader& downloader, bool downloaded) {
    progress.phase.store(Phase::Finishing);
    StampClientVersion(JoinPath(params.gameFolder, GameClient::kVersionFile), manifest.clientVersion);
    if (!manifest.server.empty()) {
        SetPreServerAddress(manifest.server);
    }
    // Uninstallation reads this copy later: a cut copy would make it miss files.
    ReplaceFileBytes(JoinPath(dataFolder, L"manifest.txt"), manifest.text);
    KeepReleaseFloor(params.releaseKey, params.gameFolder, manifest.release);
    Register(params.gameFolder, manifest.clientVersion);
    std::error_code ignored;
    std::filesystem::remove_all(downloader.DownloadFolder(), ignored);
    SetStatus(progress, downloaded
                            ? Pick(L"Update complete. Have fun!", L"Güncelleme tamamlandı. İyi eğlenceler!")
                            : Pick(L"The game is up to date. Have fun!", L"Oyun güncel. İyi eğlenceler!"));
    progress.phase.store(Phase::Done);
}

} // namespace

uint64_t SpaceNeeded(uint64_t listBytes, uint64_t largestObject) {
    return listBytes + largestObject + kDiskReserve;
}

void UpdateRun(UpdateParams params, UpdateProgress& progress, std::stop_token stopToken) {
    const std::wstring dataFolder = JoinPath(params.gameFolder, kDataFolderName);
    std::error_code ignored;
    std::filesystem::create_directories(dataFolder, ignored);

    ResetCounters(progress);
    progress.phase.store(Phase::Starting);
    SetStatus(progress, Pick(L"Getting version information...", L"Sürüm bilgisi alınıyor..."));

    const std::vector<std::wstring> mirrors = ReadMirrors(params.gameFolder);
    int mirrorIndex = 0;
    Outcome<Manifest> fetched =
        FetchManifest(mirrors, TrustForRun(params.releaseKey, params.gameFolder), stopToken, mirrorIndex);
    if (!fetched) {
        Fail(progress,
             fmt::format(L"{}\n{}",
                         Pick(L"Cannot reach the update server.", L"Güncelleme sunucusuna ulaşılamadı."),
                         fetched.message));
        return;
    }
    const Manifest& manifest = *fetched.value;
    if (manifest.badChunkRows > 0) {
        Log(fmt::format(L"manifest: {} chunk rows that do not parse are ignored", manifest.badChunkRows));
    }
    std::wstring launch = GameClient::kDefaultLaunch;
    if (!manifest.launch.empty()) {
        // PLAY starts only a program of the release.
        if (const auto problem = LaunchProblem(manifest)) {
            Log(fmt::format(L"manifest: launch {} is ignored ({}); PLAY starts {}",
                            PrintablePath(manifest.launch), *problem, launch));
        } else {
            launch = manifest.launch;
        }
    }
    {
        std::lock_guard guard(progress.lock);
        progress.release = manifest.release;
        progress.clientVersion = manifest.clientVersion;
        progress.server = manifest.server;
        progress.launch = std::move(launch);
    }

    const Downloader downloader(params.gameFolder, mirrors, mirrorIndex, progress);
    if (params.selfUpdate && SelfUpdate(manifest, params, downloader, progress, stopToken)) {
        return;
    }

    progress.phase.store(Phase::Checking);
    SetStatus(progress, params.repair ? Pick(L"Verifying all files (repair)...",
                                             L"Tüm dosyalar doğrulanıyor (onarım)...")
                                      : Pick(L"Checking files...", L"Dosyalar kontrol ediliyor..."));
    FileCache cache(JoinPath(dataFolder, L"filecache.txt"));
    if (!params.repair) {
        cache.Load();
    }
    std::vector<uint8_t> needs(manifest.files.size(), 0);
    progress.checkTotal.store(manifest.files.size());
    RunCheck(manifest.files, needs, cache, params.gameFolder, stopToken, progress);
    if (stopToken.stop_requested()) {
        return;
    }

    std::vector<const FileEntry*> downloads;
    uint64_t listBytes = 0;
    for (size_t i = 0; i < manifest.files.size(); ++i) {
        if (needs[i] != 0) {
            downloads.push_back(&manifest.files[i]);
            listBytes += manifest.files[i].size;
        }
    }
    cache.Save();
    Log(fmt::format(L"check: {} of {} files to download ({})", downloads.size(), manifest.files.size(),
                    SizeText(listBytes)));
    if (downloads.empty()) {
        Finish(params, progress, manifest, dataFolder, downloader, false);
        return;
    }

    // Files whose older version is on disk are rebuilt from its chunks and the ones it lacks; a repair
    // trusts nothing on disk and downloads whole objects.
    const std::vector<DownloadGroup> groups = GroupDownloads(downloads);
    std::vector<PatchPlan> patches;
    if (!params.repair) {
        patches =
            PlanPatches({manifest, mirrors, mirrorIndex, params.gameFolder, downloader.DownloadFolder()},
                        groups, CheckPoolSize(std::thread::hardware_concurrency()), stopToken);
        if (stopToken.stop_requested()) {
            return;
        }
    }
    std::vector<const PatchPlan*> planOf(groups.size(), nullptr);
    for (const PatchPlan& plan : patches) {
        planOf[plan.group] = &plan;
    }
    // What is really transferred, and what waits in the download folder besides the staging files.
    uint64_t bytesTotal = 0;
    uint64_t largestObject = 0;
    uint64_t chunkBytes = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
        const FileEntry& first = *groups[g].entries.front();
        if (planOf[g] != nullptr) {
            bytesTotal += planOf[g]->fetchBytes;
            chunkBytes += planOf[g]->fetchSize;
        } else {
            bytesTotal += first.zsize;
            largestObject = std::max(largestObject, first.zsize);
        }
    }

    ULARGE_INTEGER available{};
    if (::GetDiskFreeSpaceExW(params.gameFolder.c_str(), &available, nullptr, nullptr)) {
        const uint64_t needed = SpaceNeeded(listBytes + chunkBytes, largestObject);
        if (available.QuadPart < needed) {
            Fail(progress,
                 fmt::format(L"{} {} {}, {} {}.", Pick(L"Not enough disk space:", L"Diskte yeterli yer yok:"),
                             SizeText(needed), Pick(L"needed", L"gerekli"), SizeText(available.QuadPart),
                             Pick(L"free", L"boş")));
            return;
        }
    }

    progress.filesTotal.store(downloads.size());
    progress.bytesTotal.store(bytesTotal);
    progress.bytesDone.store(0);
    progress.phase.store(Phase::Downloading);
    SetStatus(progress, fmt::format(L"{} {} {} ({})", Pick(L"Downloading:", L"İndiriliyor:"),
                                    downloads.size(), Pick(L"files", L"dosya"), SizeText(bytesTotal)));

    DownloadPhase phase{groups, {0}, {}, downloader, params.gameFolder, cache, progress, {}, {}, &patches};
    const std::optional<std::wstring> failure = RunDownloads(phase, stopToken);
    cache.Save();
    if (stopToken.stop_requested()) {
        return;
    }
    if (failure) {
        Fail(progress,
             fmt::format(L"{}\n{}", Pick(L"The update could not be completed.", L"Güncelleme tamamlanamadı."),
                         *failure));
        return;
    }
    Finish(params, progress, manifest, dataFolder, downloader, true);
}

} // namespace Orv
