#include "update/download_workers.h"

#include "core/file_io.h"
#include "core/paths.h"
#include "core/text.h"
#include "core/log.h"
#include "update/object_stage.h"
#include "update/patch/patch_assembly.h"
#include "update/worker_buffers.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fmt/xchar.h>
#include <functional>
#include <thread>
#include <unordered_map>

namespace Orv {

std::vector<DownloadGroup> GroupDownloads(const std::vector<const FileEntry*>& downloads) {
    std::vector<DownloadGroup> groups;
    std::unordered_map<std::string, size_t> byHash;
    for (const FileEntry* entry : downloads) {
        const auto [found, isNew] = byHash.try_emplace(entry->sha256, groups.size());
        if (isNew) {
            groups.emplace_back();
        }
        groups[found->second].entries.push_back(entry);
    }
    std::sort(groups.begin(), groups.end(), [](const DownloadGroup& a, const DownloadGroup& b) {
        return a.entries.front()->zsize > b.entries.front()->zsize;
    });
    return groups;
}

namespace {

enum class TaskKind { Plan, Whole, Chunk, Rebuild };

// One piece of work: a candidate's planning, a group's whole object, a chunk that patches lack, or the
// rebuild of a patch whose chunks are all settled.
struct DownloadTask {
    TaskKind kind;
    size_t index; // the candidate, the group, the chunk or the patch
};

enum class ChunkState { Waiting, Done, Failed, Unwanted };

struct ChunkTask {
    FileEntry entry;             // the chunk (ObjectKind::Chunk)
    std::vector<size_t> patches; // the patches that wait for it
    ChunkState state = ChunkState::Waiting;
};

struct Patch {
    PatchPlan plan;
    size_t pending = 0;    // chunks not yet settled
    bool failed = false;   // one of its chunks could not be fetched
    std::stop_source stop; // ends the patch's other chunk downloads once one failed
    std::optional<std::stop_callback<std::function<void()>>> forward; // the phase's stop ends them too
};

// The work of one download phase. Plans add work while it runs; everything below `mutex` is guarded by
// it, and `ready` wakes the workers that wait for work while plans are still being made.
struct Work {
    explicit Work(DownloadPhase& phase) : phase(phase), chunkRoom(phase.chunkRoom) {}

    DownloadPhase& phase;
    std::mutex mutex;
    std::condition_variable_any ready;
    std::deque<DownloadTask> queue;
    size_t planning = 0; // plans not finished: they may add work
    std::deque<Patch> patches;
    std::deque<ChunkTask> chunks;
    std::unordered_map<std::string, size_t> chunkBySha;
    uint64_t chunkRoom;

    void AddTotal(int64_t bytes) { phase.progress.bytesTotal.fetch_add(static_cast<uint64_t>(bytes)); }

    // Under the lock: the task is done next (front) or after what is queued.
    void Push(DownloadTask task, bool front) {
        if (front) {
            queue.push_front(task);
        } else {
            queue.push_back(task);
        }
        ready.notify_one();
    }

    // The next task; nothing when the work is done or the phase stops.
    std::optional<DownloadTask> Pop() {
        std::unique_lock lock(mutex);
        const std::stop_token stop = phase.workersStop.get_token();
        ready.wait(lock, stop, [&] { return !queue.empty() || planning == 0; });
        if (stop.stop_requested() || queue.empty()) {
            return std::nullopt;
        }
        const DownloadTask task = queue.front();
        queue.pop_front();
        return task;
    }
};

// Shows the file in the worker's slot while `bring` runs.
Outcome<Ok> InSlot(UpdateProgress& progress, Slot& slot, const std::wstring& name, uint64_t total,
                   const std::function<Outcome<Ok>()>& bring) {
    {
        std::lock_guard guard(progress.lock);
        slot.name = name;
    }
    slot.total.store(total);
    slot.received.store(0);
    slot.active.exchange(true);
    Outcome<Ok> result = bring();
    slot.active.exchange(false);
    return result;
}

// Copies the group's placed first file to its other paths.
Outcome<Ok> CopyToTheOthers(const DownloadPhase& phase, const DownloadGroup& group) {
    const std::wstring firstPath = JoinPath(phase.gameFolder, group.entries.front()->path);
    for (size_t i = 1; i < group.entries.size(); ++i) {
        if (auto copied = CopyPlace(firstPath, JoinPath(phase.gameFolder, group.entries[i]->path)); !copied) {
            return copied;
        }
    }
    return Success();
}

void Remember(DownloadPhase& phase, const DownloadGroup& group) {
    for (const FileEntry* entry : group.entries) {
        phase.cache.Remember(*entry, StatFile(JoinPath(phase.gameFolder, entry->path)), entry->sha256);
        phase.progress.filesDone.fetch_add(1);
    }
}

// The group's whole object, placed at every path of the group and remembered.
Outcome<Ok> PlaceWhole(DownloadPhase& phase, Slot& slot, const DownloadGroup& group) {
    const FileEntry& first = *group.entries.front();
    Outcome<Ok> placed = InSlot(phase.progress, slot, first.path, first.zsize, [&] {
        const std::wstring firstPath = JoinPath(phase.gameFolder, first.path);
        Outcome<Ok> result = phase.downloader.Get(first, firstPath, &slot, phase.workersStop.get_token());
        return result ? CopyToTheOthers(phase, group) : result;
    });
    if (placed) {
        Remember(phase, group);
    }
    return placed;
}

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
            work.AddTotal(static_cast<int64_t>(task.entry.zsize));
            work.Push({TaskKind::Chunk, found->second}, true);
            break;
        case ChunkState::Waiting:
            break;
        }
        task.patches.push_back(p);
        ++patch.pending;
    }
    if (patch.pending == 0) {
        work.Push({TaskKind::Rebuild, p}, true);
    }
}

// Fetches the candidate's chunk list and plans its patch; the plan's work joins the queue, or the whole
// object when the patch cannot help.
Outcome<Ok> Plan(Work& work, Slot& slot, size_t c) {
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
    ChunkTask& task = work.chunks[k];
    bool wanted = false;
    std::stop_token stop = phase.workersStop.get_token();
    {
        std::lock_guard guard(work.mutex);
        for (const size_t p : task.patches) {
            wanted = wanted || !work.patches[p].failed;
        }
        // A chunk of one patch stops with it; a chunk that several need stops only with the phase.
        if (task.patches.size() == 1) {
            stop = work.patches[task.patches[0]].stop.get_token();
        }
    }
    bool fetched = false;
    if (wanted) {
        const FileEntry& chunk = task.entry;
        fetched = InSlot(phase.progress, slot, chunk.path, chunk.zsize, [&] {
                      return phase.downloader.Get(
                          chunk, ChunkFilePath(phase.downloader.DownloadFolder(), chunk.sha256), &slot, stop);
                  }).ok();
    }
    std::vector<size_t> failedPatches;
    {
        std::lock_guard guard(work.mutex);
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
    if (!fetched && phase.workersStop.stop_requested()) {
        return Failure(CancelledText());
    }
    return Success();
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

void DownloadWorker(size_t number, Work& work, std::stop_token outerStop) {
    DownloadPhase& phase = work.phase;
    std::stop_callback forward(outerStop, [&phase] { phase.workersStop.request_stop(); });
    WorkerBuffers buffers;
    const WorkerBuffersScope keep(buffers);
    Slot& slot = phase.progress.slots[number];
    while (const std::optional<DownloadTask> task = work.Pop()) {
        Outcome<Ok> result = Success();
        switch (task->kind) {
        case TaskKind::Plan:
            result = Plan(work, slot, task->index);
            {
                std::unique_lock lock(work.mutex);
                if (--work.planning == 0) {
                    work.ready.notify_all();
                    lock.unlock();
                    if (phase.onPlanned) {
                        phase.onPlanned();
                    }
                }
            }
            break;
        case TaskKind::Whole:
            result = PlaceWhole(phase, slot, phase.groups[task->index]);
            break;
        case TaskKind::Chunk:
            result = FetchChunk(work, slot, task->index);
            break;
        case TaskKind::Rebuild:
            result = Rebuild(work, slot, task->index);
            break;
        }
        if (!result) {
            std::lock_guard guard(phase.failureMutex);
            if (!phase.firstFailure) {
                phase.firstFailure = result.message;
            }
            phase.workersStop.request_stop();
            return;
        }
    }
}

} // namespace

std::optional<std::wstring> RunDownloads(DownloadPhase& phase, std::stop_token outerStop) {
    Work work(phase);
    std::vector<bool> planned(phase.groups.size(), false);
    for (size_t c = 0; c < phase.candidates.size(); ++c) {
        planned[phase.candidates[c].group] = true;
        work.queue.push_back({TaskKind::Plan, c});
    }
    work.planning = phase.candidates.size();
    for (size_t g = 0; g < phase.groups.size(); ++g) {
        if (!planned[g]) {
            work.queue.push_back({TaskKind::Whole, g});
        }
    }
    {
        std::vector<std::jthread> workers;
        workers.reserve(kDownloadWorkers);
        for (size_t i = 0; i < kDownloadWorkers; ++i) {
            workers.emplace_back([&work, i, outerStop] { DownloadWorker(i, work, outerStop); });
        }
    }
    std::lock_guard guard(phase.failureMutex);
    return phase.firstFailure;
}

Outcome<Ok> CopyPlace(const std::wstring& sourcePath, const std::wstring& destPath) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(destPath).parent_path(), ignored);
    const std::wstring staging = StagingPath(destPath);
    DWORD error = ERROR_SUCCESS;
    if (!::CopyFileW(sourcePath.c_str(), staging.c_str(), FALSE)) {
        error = ::GetLastError();
    } else if (error = FlushFileData(staging); error == ERROR_SUCCESS) {
        ::SetFileAttributesW(destPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!::MoveFileExW(staging.c_str(), destPath.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            error = ::GetLastError();
        }
    }
    if (error != ERROR_SUCCESS) {
        ::DeleteFileW(staging.c_str());
        return Failure(fmt::format(L"{}: {}", FileNameOf(destPath), ErrorText(error)));
    }
    return Success();
}

} // namespace Orv
