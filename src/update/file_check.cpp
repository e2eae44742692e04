#include "update/file_check.h"

#include "core/paths.h"
#include "update/sha256.h"
#include "update/worker_buffers.h"

#include <algorithm>
#include <thread>

namespace Orv {

bool NeedsDownload(const FileEntry& entry, const std::wstring& gameFolder, FileCache& cache,
                   std::stop_token stopToken, CheckCut* cut, size_t index) {
    if (entry.kind == kKindLauncher) {
        return false;
    }
    const FileStat stat = StatFile(JoinPath(gameFolder, entry.path));
    if (!stat.exists) {
        return true;
    }
    if (entry.kind == kKindKeep) {
        return false;
    }
    if (stat.size != entry.size) {
        return true;
    }
    if (cache.IsKnownGood(entry, stat, entry.sha256)) {
        return false;
    }
    const std::wstring path = JoinPath(gameFolder, entry.path);
    if (cut != nullptr && cut->chunked.contains(entry.sha256)) {
        std::string digest;
        auto chunks = HashChunks(path, stopToken, &digest);
        if (!chunks || digest != entry.sha256) {
            if (chunks) {
                cut->found[index] = std::move(*chunks.value);
            }
            return true;
        }
        cache.Remember(entry, stat, digest);
        return false;
    }
    const auto digest = Sha256OfFile(path, stopToken);
    if (!digest || *digest != entry.sha256) {
        return true;
    }
    cache.Remember(entry, stat, *digest);
    return false;
}

void CheckWorker(CheckWork work) {
    WorkerBuffers buffers;
    const WorkerBuffersScope keep(buffers);
    for (uint32_t i = work.next.fetch_add(1); i < work.files.size(); i = work.next.fetch_add(1)) {
        if (work.stopToken.stop_requested()) {
            return;
        }
        if (NeedsDownload(work.files[i], work.gameFolder, work.cache, work.stopToken, work.cut, i)) {
            work.needs[i] = 1;
        }
        work.progress.checkDone.fetch_add(1);
    }
}

unsigned CheckPoolSize(unsigned hardwareThreads) {
    return std::clamp(hardwareThreads, 2U, 8U);
}

void RunCheck(const std::vector<FileEntry>& files, std::vector<uint8_t>& needs, FileCache& cache,
              const std::wstring& gameFolder, std::stop_token stopToken, UpdateProgress& progress,
              CheckCut* cut) {
    std::atomic<uint32_t> next{0};
    const unsigned count = CheckPoolSize(std::thread::hardware_concurrency());
    std::vector<std::jthread> workers;
    workers.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        workers.emplace_back(CheckWorker,
                             CheckWork{files, needs, next, cache, gameFolder, stopToken, progress, cut});
    }
    for (auto& worker : workers) {
        worker.join();
    }
}

} // namespace Orv
