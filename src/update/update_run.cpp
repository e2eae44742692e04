#include "update/update_run.h"

#include "core/held_files.h"
#include "core/file_io.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "install/folder_cleanup.h"
#include "install/registration.h"
#include "partners/game_client.h"
#include "update/download_workers.h"
#include "update/downloader.h"
#include "update/file_cache.h"
#include "update/file_check.h"
#include "update/mirrors.h"
#include "update/object_stage.h"
#include "update/pack/pack_source.h"
#include "update/release_notes.h"
#include "update/patch/patch_plan.h"
#include "update/run_texts.h"
#include "update/trust/release_trust.h"
#include "update/self_update.h"
#include "update/version_stamp.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <unordered_set>
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
    RemoveTree(downloader.DownloadFolder());
    // Every file of the release is verified by now, the notes file among them.
    Outcome<std::wstring> notes = ReleaseNotes(manifest, params.gameFolder);
    if (!notes) {
        Log(notes.message);
    }
    {
        std::lock_guard guard(progress.lock);
        progress.notes = notes ? std::move(*notes.value) : std::wstring();
    }
    SetStatus(progress, DoneText(downloaded));
    progress.phase.store(Phase::Done);
}

// The groups that may be patched.
std::vector<bool> Candidates(const DownloadPhase& phase) {
    std::vector<bool> candidate(phase.groups.size(), false);
    for (const PatchCandidate& c : phase.candidates) {
        candidate[c.group] = true;
    }
    return candidate;
}

// The bytes the phase starts with: the whole objects of the groups that are not candidates, less those that
// come in pieces of packs, and the pieces' ranges.
uint64_t WholeBytes(const DownloadPhase& phase) {
    std::vector<bool> counted = Candidates(phase);
    uint64_t bytes = 0;
    for (const PackPiece& piece : phase.pieces) {
        bytes += piece.Length();
        for (const PieceItem& item : piece.items) {
            counted[item.id] = true;
        }
    }
    for (size_t g = 0; g < phase.groups.size(); ++g) {
        bytes += counted[g] ? 0 : phase.groups[g].entries.front()->zsize;
    }
    return bytes;
}

// A run that was ended during a rebuild leaves the staging file beside the file it rebuilt.
void RemoveStaleStaging(const DownloadPhase& phase) {
    for (const PatchCandidate& c : phase.candidates) {
        for (const FileEntry* entry : phase.groups[c.group].entries) {
            DeleteFileWhenFree(StagingPath(JoinPath(phase.gameFolder, entry->path)));
        }
    }
}

} // namespace

uint64_t SpaceNeeded(uint64_t listBytes, uint64_t largestObject) {
    return listBytes + largestObject + kDiskReserve;
}

void UpdateRun(UpdateParams params, UpdateProgress& progress, std::stop_token stopToken) {
    const std::wstring dataFolder = JoinPath(params.gameFolder, kDataFolderName);
    EnsureFolder(dataFolder);

    ResetCounters(progress);
    {
        std::lock_guard guard(progress.lock);
        progress.toDownload.clear();
        progress.notes.clear();
    }
    progress.phase.store(Phase::Starting);
    SetStatus(progress, GettingVersionText());

    const std::vector<std::wstring> mirrors = ReadMirrors(params.gameFolder);
    int mirrorIndex = 0;
    Outcome<Manifest> fetched =
        FetchManifest(mirrors, TrustForRun(params.releaseKey, params.gameFolder), stopToken, mirrorIndex);
    if (!fetched) {
        Fail(progress, UnreachableText(fetched.message));
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
    SetStatus(progress, CheckingText(params.repair));
    FileCache cache(JoinPath(dataFolder, L"filecache.txt"));
    if (!params.repair) {
        cache.Load();
    }
    std::vector<uint8_t> needs(manifest.files.size(), 0);
    progress.checkTotal.store(manifest.files.size());
    // The check cuts the older versions of files published in chunks as it hashes them, for the patches;
    // a repair trusts nothing on disk and downloads whole objects.
    std::unordered_set<std::string> chunked;
    for (const ChunkedFile& row : manifest.chunkedFiles) {
        chunked.insert(row.sha256);
    }
    std::vector<std::optional<FileChunks>> found(manifest.files.size());
    CheckCut cut{chunked, found};
    RunCheck(manifest.files, needs, cache, params.gameFolder, stopToken, progress,
             params.repair ? nullptr : &cut);
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
    {
        std::lock_guard guard(progress.lock);
        progress.toDownload.clear();
        for (const FileEntry* entry : downloads) {
            progress.toDownload.push_back(entry->path);
        }
    }
    Log(fmt::format(L"check: {} of {} files to download ({})", downloads.size(), manifest.files.size(),
                    SizeText(listBytes)));
    if (downloads.empty()) {
        Finish(params, progress, manifest, dataFolder, downloader, false);
        return;
    }

    // Files whose older version is on disk may be rebuilt from its chunks and the ones it lacks; they are
    // planned while the whole objects download.
    const std::vector<DownloadGroup> groups = GroupDownloads(downloads);
    DownloadPhase phase{groups, {}, downloader, params.gameFolder, cache, progress, {}, {}, {}, 0,
                        {},     {}, {}};
    if (!params.repair) {
        phase.candidates = PatchCandidates(manifest, groups, params.gameFolder, found);
        RemoveStaleStaging(phase);
    }
    // Any group may come whole: a patch that fails falls back to its object.
    uint64_t largestObject = 0;
    for (const DownloadGroup& group : groups) {
        largestObject = std::max(largestObject, group.entries.front()->zsize);
    }
    ULARGE_INTEGER available{};
    phase.chunkRoom = UINT64_MAX;
    if (::GetDiskFreeSpaceExW(LongPath(params.gameFolder).c_str(), &available, nullptr, nullptr)) {
        const uint64_t needed = SpaceNeeded(listBytes, largestObject);
        if (available.QuadPart < needed) {
            Fail(progress, NoSpaceText(needed, available.QuadPart));
            return;
        }
        // What the patches' chunk files may take: a patch whose chunks do not fit comes whole.
        phase.chunkRoom = available.QuadPart - needed;
    }

    progress.filesTotal.store(downloads.size());
    const uint64_t wholeBytes = WholeBytes(phase);
    progress.bytesTotal.store(wholeBytes);
    progress.bytesDone.store(0);
    progress.phase.store(Phase::Downloading);
    // The line is shown again only when what it says has changed (one thread at a time shows it).
    std::wstring shown;
    const auto showDownloading = [&] {
        std::wstring text = DownloadingText(downloads.size(), progress.bytesTotal.load());
        if (text != shown) {
            shown = text;
            SetStatus(progress, std::move(text));
        }
    };
    showDownloading();
    // Small objects and chunks come in pieces of packs when the objects are many enough to pay for the index.
    const std::optional<PackIndex> packs =
        LoadPackIndex(manifest, PackableObjects(groups, phase.candidates.size()), downloader, stopToken);
    if (packs) {
        phase.packs = &*packs;
        phase.pieces = PlanPackPieces(*packs, GroupWants(groups, Candidates(phase)), kDownloadWorkers).pieces;
        progress.bytesTotal.fetch_add(WholeBytes(phase) - wholeBytes);
        showDownloading();
    }
    // Once the patches are planned, the line names what they fetch too.
    phase.onPlanned = showDownloading;
    const std::optional<std::wstring> failure = RunDownloads(phase, stopToken);
    cache.Save();
    if (stopToken.stop_requested()) {
        return;
    }
    if (failure) {
        Fail(progress, IncompleteText(*failure));
        return;
    }
    Finish(params, progress, manifest, dataFolder, downloader, true);
}

} // namespace Orv
