#include "update/download_workers.h"

#include "core/held_files.h"
#include "core/file_io.h"
#include "core/paths.h"
#include "core/text.h"
#include "update/download_work.h"
#include "update/object_stage.h"
#include "update/worker_buffers.h"

#include <windows.h>

#include <algorithm>
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

void Work::Push(DownloadTask task, bool front) {
    if (front) {
        queue.push_front(task);
    } else {
        queue.push_back(task);
    }
    ready.notify_one();
}

std::optional<DownloadTask> Work::Pop() {
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

namespace {

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
            result = PlanCandidate(work, slot, task->index);
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
        case TaskKind::Piece:
            result = FetchPiece(work, slot, task->index);
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
    for (const PackPiece& piece : phase.pieces) {
        for (const PieceItem& item : piece.items) {
            planned[item.id] = true;
        }
    }
    for (size_t g = 0; g < phase.groups.size(); ++g) {
        if (!planned[g]) {
            work.queue.push_back({TaskKind::Whole, g});
        }
    }
    for (size_t p = 0; p < phase.pieces.size(); ++p) {
        work.queue.push_back({TaskKind::Piece, p});
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
    EnsureFolder(ParentFolder(destPath));
    const std::wstring staging = StagingPath(destPath);
    DWORD error = CopyFileWhenFree(sourcePath, staging);
    if (error == ERROR_SUCCESS && (error = FlushFileData(staging)) == ERROR_SUCCESS) {
        error = RetryWhileHeld(destPath, [&] {
            ::SetFileAttributesW(LongPath(destPath).c_str(), FILE_ATTRIBUTE_NORMAL);
            return ::MoveFileExW(LongPath(staging).c_str(), LongPath(destPath).c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                       ? ERROR_SUCCESS
                       : ::GetLastError();
        });
    }
    if (error != ERROR_SUCCESS) {
        DeleteFileWhenFree(staging);
        return Failure(fmt::format(L"{}: {}", FileNameOf(destPath), ErrorText(error)));
    }
    return Success();
}

} // namespace Orv
