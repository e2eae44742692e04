#include "update/download_work.h"

#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "update/file_cache.h"
#include "update/object_stage.h"
#include "update/patch/patch_assembly.h"

#include <fmt/xchar.h>

// The work of patches in the download phase: planning each candidate, fetching the chunks patches lack
// (each once), and rebuilding each file once its chunks are settled.
namespace Orv {
namespace {

// A patch that cannot help: the group's whole object is downloaded instead, and joins the total.
Outcome<Ok> FallBack(Work& work, Slot& slot, const DownloadGroup& group, const std::wstring& reason) {
    if (work.phase.workersStop.stop_requested()) {
        return Failure(CancelledText());
    }
    const FileEntry& first = *group.entries.front();
    Log(fmt::format(L"patch {}: {}; downloading the whole file", first.path, reason));
    work.AddTotal(static_cast<int64_t>(first.zsize));
    return PlaceWhole(work.phase, slot, group);
}

// Under the lock: the patch's chunks join the work (each chunk once), or its rebuild when it lacks none.
void QueuePatch(Work& work, PatchPlan plan) {
    const size_t p = work.patches.size();
    Patch& patch = work.patches.emplace_back();
    patch.plan = std::move(plan);
    patch.forward.emplace(work.phase.workersStop.get_token(),
                          std::function<void()>([&patch] { patch.stop.request_stop(); }));
    std::vector<size_t> fetch;
    for (const FileEntry& chunk : patch.plan.fetch) {
        const auto [found, isNew] = work.chunkBySha.try_emplace(chunk.sha256, work.chunks.size());
        if (isNew) {
            work.chunks.push_back({chunk, {}, ChunkState::Unwanted});
        }
        ChunkTask& task = work.chunks[found->second];
        switch (task.state) {
        case ChunkState::Done:
            continue;
        case ChunkState::Failed:
            patch.failed = true;
            continue;
        case ChunkState::Unwanted:
            // New, or given up by patches that failed before: fetched for this one.
            task.state = ChunkState::Waiting;
            task.patches.clear();
            fetch.push_back(found->second);
            break;
        case ChunkState::Waiting:
            break;
        }
        task.patches.push_back(p);
        ++patch.pending;
    }
    QueueChunks(work, fetch);
    if (patch.pending == 0) {
        work.Push({TaskKind::Rebuild, p}, true);
    }
}

// Fetches the candidate's chunk list and plans its patch; the plan's work joins the queue, or the whole
// object when the patch cannot help.
} // namespace

Outcome<Ok> PlanCandidate(Work& work, Slot& slot, size_t c) {
    DownloadPhase& phase = work.phase;
    const PatchCandidate& candidate = phase.candidates[c];
    const DownloadGroup& group = phase.groups[candidate.group];
    const FileEntry& first = *group.entries.front();
    const std::stop_token stop = phase.workersStop.get_token();
    const uint64_t listSize = candidate.row->listSize;
    work.AddTotal(static_cast<int64_t>(listSize));
    bool fetched = false;
    Outcome<std::vector<ChunkListEntry>> list = Outcome<std::vector<ChunkListEntry>>::Failure(L"");
    InSlot(phase.progress, slot, first.path, listSize, [&] {
        list = FetchChunkList(candidate, first, phase.downloader, &slot, stop, &fetched);
        return Success();
    });
    if (!fetched) {
        work.AddTotal(-static_cast<int64_t>(listSize));
    }
    Outcome<PatchPlan> plan = Outcome<PatchPlan>::Failure(list.message);
    if (list) {
        const uint64_t oldSize = StatFile(candidate.oldPath).size;
        InSlot(phase.progress, slot, first.path, oldSize, [&] {
            plan = PlanPatch(
                candidate, first, *list.value, phase.downloader.DownloadFolder(),
                [&slot](uint64_t read) { slot.received.store(read); }, stop);
            return Success();
        });
    }
    if (stop.stop_requested()) {
        return Failure(CancelledText());
    }
    if (plan) {
        std::lock_guard guard(work.mutex);
        if (plan.value->fetchSize > work.chunkRoom) {
            plan = Outcome<PatchPlan>::Failure(L"its chunks do not fit on the disk");
        } else {
            work.chunkRoom -= plan.value->fetchSize;
            Log(fmt::format(L"patch {}: {} of {} chunks on disk, {} to fetch ({})", first.path,
                            plan.value->reused, plan.value->chunks.size(), plan.value->fetch.size(),
                            SizeText(plan.value->fetchBytes)));
            QueuePatch(work, std::move(*plan.value));
            return Success();
        }
    }
    return FallBack(work, slot, group, plan.message);
}

// Downloads one chunk that patches lack; the patches whose last chunk this was are rebuilt next.
Outcome<Ok> FetchChunk(Work& work, Slot& slot, size_t k) {
    DownloadPhase& phase = work.phase;
    const ChunkTask* task = nullptr;
    bool wanted = false;
    std::stop_token stop = phase.workersStop.get_token();
    {
        std::lock_guard guard(work.mutex);
        task = &work.chunks[k];
        for (const size_t p : task->patches) {
            wanted = wanted || !work.patches[p].failed;
        }
        // A chunk of one patch stops with it; a chunk that several need stops only with the phase.
        if (task->patches.size() == 1) {
            stop = work.patches[task->patches[0]].stop.get_token();
        }
    }
    bool fetched = false;
    if (wanted) {
        const FileEntry& chunk = task->entry;
        fetched = InSlot(phase.progress, slot, chunk.path, chunk.zsize, [&] {
                      return phase.downloader.Get(
                          chunk, ChunkFilePath(phase.downloader.DownloadFolder(), chunk.sha256), &slot, stop);
                  }).ok();
    }
    SettleChunk(work, k, fetched, wanted);
    if (!fetched && phase.workersStop.stop_requested()) {
        return Failure(CancelledText());
    }
    return Success();
}

void SettleChunk(Work& work, size_t k, bool fetched, bool wanted) {
    std::vector<size_t> failedPatches;
    {
        std::lock_guard guard(work.mutex);
        ChunkTask& task = work.chunks[k];
        task.state = fetched ? ChunkState::Done : wanted ? ChunkState::Failed : ChunkState::Unwanted;
        if (!fetched) {
            // Given up: it leaves the total (a failed Get has taken its bytes back already).
            work.AddTotal(-static_cast<int64_t>(task.entry.zsize));
        }
        for (const size_t p : task.patches) {
            Patch& patch = work.patches[p];
            if (!fetched && wanted && !patch.failed) {
                patch.failed = true;
                failedPatches.push_back(p);
            }
            if (--patch.pending == 0) {
                work.Push({TaskKind::Rebuild, p}, true);
            }
        }
    }
    for (const size_t p : failedPatches) {
        work.patches[p].stop.request_stop();
    }
}

// Rebuilds the patch's file once all its chunks are settled, or downloads the whole object when the
// chunk path failed.
Outcome<Ok> Rebuild(Work& work, Slot& slot, size_t p) {
    DownloadPhase& phase = work.phase;
    Patch& patch = work.patches[p];
    const DownloadGroup& group = phase.groups[patch.plan.group];
    const FileEntry& first = *group.entries.front();
    if (phase.workersStop.stop_requested()) {
        return Failure(CancelledText());
    }
    bool failed = false;
    {
        std::lock_guard guard(work.mutex);
        failed = patch.failed;
    }
    if (failed) {
        return FallBack(work, slot, group, L"a chunk could not be downloaded");
    }
    Outcome<Ok> rebuilt = InSlot(phase.progress, slot, first.path, 0, [&] {
        return AssemblePatch(patch.plan, first, JoinPath(phase.gameFolder, first.path),
                             phase.downloader.DownloadFolder(), phase.workersStop.get_token());
    });
    if (rebuilt) {
        // A copy that fails fails as it does after a whole object.
        Outcome<Ok> copied = CopyToTheOthers(phase, group);
        if (copied) {
            Remember(phase, group);
        }
        return copied;
    }
    if (!rebuilt.message.empty() && rebuilt.message.front() == kFatalMarker) {
        // Writing or moving the file failed, as it would for the whole object.
        return Failure(rebuilt.message.substr(1));
    }
    return FallBack(work, slot, group, rebuilt.message);
}

} // namespace Orv
