#include "update/download_workers.h"

#include "core/file_io.h"
#include "core/paths.h"
#include "core/text.h"
#include "core/log.h"
#include "update/object_stage.h"
#include "update/patch/patch_assembly.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <filesystem>
#include <fmt/xchar.h>
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

enum class TaskKind { Whole, Chunk, Rebuild };

// One piece of work: a group's whole object, a chunk that patches lack, or the rebuild of a patch
// that lacks none.
struct DownloadTask {
    TaskKind kind;
    size_t index;   // the group, the chunk, or the patch
    uint64_t bytes; // to transfer, for the order
};

struct ChunkTask {
    const FileEntry* entry;      // the chunk (FileEntry::chunk)
    std::vector<size_t> patches; // the patches that need it
};

struct PatchState {
    std::atomic<size_t> pending{0}; // chunks not yet downloaded or given up
    std::atomic<bool> failed{false};
    std::stop_source stop; // ends the patch's other chunk downloads once one failed
};

// The work of one download phase, built before the workers start; only the states change.
struct Work {
    std::vector<DownloadTask> tasks;
    std::vector<ChunkTask> chunks;
    std::unique_ptr<PatchState[]> states;
};

const std::vector<PatchPlan>& PatchesOf(const DownloadPhase& phase) {
    static const std::vector<PatchPlan> none;
    return phase.patches != nullptr ? *phase.patches : none;
}

Work BuildWork(const DownloadPhase& phase) {
    Work work;
    const std::vector<PatchPlan>& patches = PatchesOf(phase);
    std::vector<bool> patched(phase.groups.size(), false);
    work.states = std::make_unique<PatchState[]>(patches.size());
    std::unordered_map<std::string, size_t> chunkBySha;
    for (size_t p = 0; p < patches.size(); ++p) {
        patched[patches[p].group] = true;
        for (const FileEntry& chunk : patches[p].fetch) {
            const auto [found, isNew] = chunkBySha.try_emplace(chunk.sha256, work.chunks.size());
            if (isNew) {
                work.chunks.push_back({&chunk, {}});
            }
            work.chunks[found->second].patches.push_back(p);
            work.states[p].pending.fetch_add(1);
        }
        if (patches[p].fetch.empty()) {
            work.tasks.push_back({TaskKind::Rebuild, p, 0});
        }
    }
    for (size_t g = 0; g < phase.groups.size(); ++g) {
        if (!patched[g]) {
            work.tasks.push_back({TaskKind::Whole, g, phase.groups[g].entries.front()->zsize});
        }
    }
    for (size_t c = 0; c < work.chunks.size(); ++c) {
        work.tasks.push_back({TaskKind::Chunk, c, work.chunks[c].entry->zsize});
    }
    std::stable_sort(work.tasks.begin(), work.tasks.end(),
                     [](const DownloadTask& a, const DownloadTask& b) { return a.bytes > b.bytes; });
    return work;
}

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

// Rebuilds the patch's file once all its chunks are in, or, when a chunk or the rebuild failed,
// downloads the whole object instead.
Outcome<Ok> FinishPatch(DownloadPhase& phase, Work& work, Slot& slot, size_t p) {
    const PatchPlan& plan = PatchesOf(phase)[p];
    const DownloadGroup& group = phase.groups[plan.group];
    const FileEntry& first = *group.entries.front();
    if (phase.workersStop.stop_requested()) {
        return Failure(CancelledText());
    }
    std::wstring reason = L"a chunk could not be downloaded";
    if (!work.states[p].failed.load()) {
        Outcome<Ok> rebuilt = InSlot(phase.progress, slot, first.path, 0, [&] {
            Outcome<Ok> result =
                AssemblePatch(plan, first, JoinPath(phase.gameFolder, first.path),
                              phase.downloader.DownloadFolder(), phase.workersStop.get_token());
            return result ? CopyToTheOthers(phase, group) : result;
        });
        if (rebuilt) {
            Remember(phase, group);
            return rebuilt;
        }
        reason = rebuilt.message;
    }
    if (phase.workersStop.stop_requested()) {
        return Failure(CancelledText());
    }
    Log(fmt::format(L"patch {}: {}; downloading the whole file", first.path, reason));
    phase.progress.bytesTotal.fetch_add(first.zsize);
    return PlaceWhole(phase, slot, group);
}

// Downloads one chunk that patches lack; the worker that ends a patch's last chunk finishes the patch.
Outcome<Ok> FetchChunk(DownloadPhase& phase, Work& work, Slot& slot, size_t c) {
    const ChunkTask& task = work.chunks[c];
    bool wanted = false;
    for (const size_t p : task.patches) {
        wanted = wanted || !work.states[p].failed.load();
    }
    if (wanted) {
        // A chunk of one patch stops with it; a chunk that several need stops only with the phase.
        const std::stop_token stop = task.patches.size() == 1 ? work.states[task.patches[0]].stop.get_token()
                                                              : phase.workersStop.get_token();
        const FileEntry& chunk = *task.entry;
        const Outcome<Ok> fetched = InSlot(phase.progress, slot, chunk.path, chunk.zsize, [&] {
            return phase.downloader.Get(chunk, ChunkFilePath(phase.downloader.DownloadFolder(), chunk.sha256),
                                        &slot, stop);
        });
        if (!fetched) {
            for (const size_t p : task.patches) {
                work.states[p].failed.store(true);
                work.states[p].stop.request_stop();
            }
        }
    }
    for (const size_t p : task.patches) {
        if (work.states[p].pending.fetch_sub(1) == 1) {
            if (auto finished = FinishPatch(phase, work, slot, p); !finished) {
                return finished;
            }
        }
    }
    return Success();
}

void DownloadWorker(size_t number, DownloadPhase& phase, Work& work, std::stop_token outerStop) {
    std::stop_callback forward(outerStop, [&phase] { phase.workersStop.request_stop(); });
    Slot& slot = phase.progress.slots[number];
    for (;;) {
        const size_t index = phase.next.fetch_add(1);
        if (index >= work.tasks.size() || phase.workersStop.stop_requested()) {
            return;
        }
        const DownloadTask& task = work.tasks[index];
        Outcome<Ok> result = Success();
        switch (task.kind) {
        case TaskKind::Whole:
            result = PlaceWhole(phase, slot, phase.groups[task.index]);
            break;
        case TaskKind::Chunk:
            result = FetchChunk(phase, work, slot, task.index);
            break;
        case TaskKind::Rebuild:
            result = FinishPatch(phase, work, slot, task.index);
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
    Work work = BuildWork(phase);
    {
        // The phase's stop ends every patch's chunk downloads too.
        using Forward = std::stop_callback<std::function<void()>>;
        std::vector<std::unique_ptr<Forward>> forwards;
        for (size_t p = 0; p < PatchesOf(phase).size(); ++p) {
            forwards.push_back(std::make_unique<Forward>(
                phase.workersStop.get_token(),
                std::function<void()>([&work, p] { work.states[p].stop.request_stop(); })));
        }
        std::vector<std::jthread> workers;
        workers.reserve(kDownloadWorkers);
        for (size_t i = 0; i < kDownloadWorkers; ++i) {
            workers.emplace_back(
                [&phase, &work, i, outerStop] { DownloadWorker(i, phase, work, outerStop); });
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
