#include "update/download_workers.h"

#include "core/file_io.h"
#include "core/paths.h"
#include "core/text.h"
#include "update/object_stage.h"

#include <windows.h>

#include <algorithm>
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

void DownloadWorker(size_t number, DownloadPhase& phase, std::stop_token outerStop) {
    std::stop_callback forward(outerStop, [&phase] { phase.workersStop.request_stop(); });
    Slot& slot = phase.progress.slots[number];
    for (;;) {
        const size_t index = phase.next.fetch_add(1);
        if (index >= phase.groups.size() || phase.workersStop.stop_requested()) {
            return;
        }
        const DownloadGroup& group = phase.groups[index];
        const FileEntry& first = *group.entries.front();
        {
            std::lock_guard guard(phase.progress.lock);
            slot.name = first.path;
        }
        slot.total.store(first.zsize);
        slot.received.store(0);
        slot.active.exchange(true);

        const std::wstring firstPath = JoinPath(phase.gameFolder, first.path);
        Outcome<Ok> result = phase.downloader.Get(first, firstPath, &slot, phase.workersStop.get_token());
        for (size_t i = 1; result && i < group.entries.size(); ++i) {
            result = CopyPlace(firstPath, JoinPath(phase.gameFolder, group.entries[i]->path));
        }
        slot.active.exchange(false);

        if (!result) {
            std::lock_guard guard(phase.failureMutex);
            if (!phase.firstFailure) {
                phase.firstFailure = result.message;
            }
            phase.workersStop.request_stop();
            return;
        }
        for (const FileEntry* entry : group.entries) {
            phase.cache.Remember(*entry, StatFile(JoinPath(phase.gameFolder, entry->path)), entry->sha256);
            phase.progress.filesDone.fetch_add(1);
        }
    }
}

std::optional<std::wstring> RunDownloads(DownloadPhase& phase, std::stop_token outerStop) {
    {
        std::vector<std::jthread> workers;
        workers.reserve(kDownloadWorkers);
        for (size_t i = 0; i < kDownloadWorkers; ++i) {
            workers.emplace_back([&phase, i, outerStop] { DownloadWorker(i, phase, outerStop); });
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
