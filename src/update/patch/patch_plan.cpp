#include "update/patch/patch_plan.h"

#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "partners/download_server.h"
#include "update/patch/chunk_list.h"
#include "update/patch/chunker.h"
#include "update/file_cache.h"
#include "update/http_client.h"
#include "update/sha256.h"

#include <atomic>
#include <fmt/xchar.h>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace Orv {
namespace {

const ChunkedFile* ChunkRowOf(const Manifest& manifest, const std::string& sha256) {
    for (const ChunkedFile& row : manifest.chunkedFiles) {
        if (row.sha256 == sha256) {
            return &row;
        }
    }
    return nullptr;
}

// The first path of the group that holds a file with content: the older version.
std::wstring OlderVersion(const DownloadGroup& group, const std::wstring& gameFolder) {
    for (const FileEntry* entry : group.entries) {
        const std::wstring path = JoinPath(gameFolder, entry->path);
        if (const FileStat stat = StatFile(path); stat.exists && stat.size > 0) {
            return path;
        }
    }
    return {};
}

// The chunk list from the first mirror that serves it whole and unchanged, starting with the
// manifest's mirror; the failure is the reason for the log.
Outcome<std::vector<ChunkListEntry>> FetchChunkList(const PatchSources& sources, const ChunkedFile& row,
                                                    uint64_t fileSize, std::stop_token stopToken) {
    using Result = Outcome<std::vector<ChunkListEntry>>;
    if (row.listSize > ChunkListLimit(fileSize)) {
        return Result::Failure(fmt::format(L"its chunk list is listed as {} bytes, too large", row.listSize));
    }
    std::wstring reason = L"no mirror";
    for (size_t i = 0; i < sources.mirrors.size(); ++i) {
        const std::wstring& mirror =
            sources.mirrors[(static_cast<size_t>(sources.mirrorIndex) + i) % sources.mirrors.size()];
        std::string text;
        const auto sink = [&](std::span<const char> piece) {
            text.append(piece.data(), piece.size());
            return true;
        };
        const HttpResult result =
            HttpGet(DownloadServer::ObjectUrl(mirror, row.listSha256, DownloadServer::kChunkListSuffix),
                    false, 0, {row.listSize, 0}, sink, stopToken);
        if (stopToken.stop_requested()) {
            return Result::Failure(HttpErrorText(result));
        }
        if (result.status != 200 || result.error != 0) {
            reason = fmt::format(L"chunk list from {}: {}", mirror,
                                 result.overLimit ? L"longer than listed" : HttpErrorText(result));
            continue;
        }
        if (text.size() != row.listSize || Sha256Hex(text) != row.listSha256) {
            reason = fmt::format(L"chunk list from {}: not the listed content", mirror);
            continue;
        }
        auto chunks = ParseChunkList(text, fileSize);
        if (!chunks) {
            return Result::Failure(L"its chunk list does not describe the file");
        }
        return Result::Success(std::move(*chunks));
    }
    return Result::Failure(reason);
}

// A chunk an earlier run downloaded into the download folder and that is still whole.
bool HasChunkFile(const std::wstring& downloadFolder, const ChunkListEntry& chunk,
                  std::stop_token stopToken) {
    const std::wstring path = ChunkFilePath(downloadFolder, chunk.sha256);
    const FileStat stat = StatFile(path);
    return stat.exists && stat.size == chunk.size && Sha256OfFile(path, stopToken) == chunk.sha256;
}

Outcome<PatchPlan> PlanOne(const PatchSources& sources, const DownloadGroup& group, size_t index,
                           const ChunkedFile& row, const std::wstring& oldPath, std::stop_token stopToken) {
    using Result = Outcome<PatchPlan>;
    const FileEntry& entry = *group.entries.front();
    auto list = FetchChunkList(sources, row, entry.size, stopToken);
    if (!list) {
        return Result::Failure(list.message);
    }
    std::unordered_map<std::string, uint64_t> oldChunks; // sha256: first offset
    auto cut = CutFile(oldPath, stopToken, [&](uint64_t offset, std::span<const unsigned char> bytes) {
        if (auto digest = Sha256Hex({reinterpret_cast<const char*>(bytes.data()), bytes.size()})) {
            oldChunks.try_emplace(std::move(*digest), offset);
        }
        return true;
    });
    if (!cut) {
        return Result::Failure(fmt::format(L"the older file cannot be read: {}", cut.message));
    }
    PatchPlan plan;
    plan.group = index;
    plan.oldPath = oldPath;
    std::unordered_set<std::string> planned;
    for (const ChunkListEntry& chunk : *list.value) {
        PatchChunk& placed = plan.chunks.emplace_back(PatchChunk{chunk.sha256, chunk.size, std::nullopt});
        if (const auto found = oldChunks.find(chunk.sha256); found != oldChunks.end()) {
            placed.oldOffset = found->second;
            ++plan.reused;
            continue;
        }
        if (!planned.insert(chunk.sha256).second || HasChunkFile(sources.downloadFolder, chunk, stopToken)) {
            continue;
        }
        FileEntry fetch;
        fetch.path = entry.path;
        fetch.sha256 = chunk.sha256;
        fetch.size = chunk.size;
        fetch.zsize = chunk.zsize;
        fetch.compressed = true;
        fetch.chunk = true;
        plan.fetch.push_back(std::move(fetch));
        plan.fetchBytes += chunk.zsize;
        plan.fetchSize += chunk.size;
    }
    return Result::Success(std::move(plan));
}

} // namespace

std::wstring ChunkFilePath(const std::wstring& downloadFolder, const std::string& sha256) {
    return JoinPath(downloadFolder, Utf8ToWide(sha256) + L".chunk");
}

std::vector<PatchPlan> PlanPatches(const PatchSources& sources, const std::vector<DownloadGroup>& groups,
                                   unsigned threads, std::stop_token stopToken) {
    struct Candidate {
        size_t group;
        const ChunkedFile* row;
        std::wstring oldPath;
    };
    std::vector<Candidate> candidates;
    for (size_t i = 0; i < groups.size(); ++i) {
        const FileEntry& first = *groups[i].entries.front();
        if (const ChunkedFile* row = ChunkRowOf(sources.manifest, first.sha256)) {
            if (std::wstring oldPath = OlderVersion(groups[i], sources.gameFolder); !oldPath.empty()) {
                candidates.push_back({i, row, std::move(oldPath)});
            }
        }
    }
    std::vector<std::optional<PatchPlan>> planned(candidates.size());
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i = next.fetch_add(1); i < candidates.size(); i = next.fetch_add(1)) {
            const Candidate& candidate = candidates[i];
            const FileEntry& first = *groups[candidate.group].entries.front();
            auto plan = PlanOne(sources, groups[candidate.group], candidate.group, *candidate.row,
                                candidate.oldPath, stopToken);
            if (stopToken.stop_requested()) {
                return;
            }
            if (!plan) {
                Log(fmt::format(L"patch {}: {}; downloading the whole file", first.path, plan.message));
                continue;
            }
            Log(fmt::format(L"patch {}: {} of {} chunks on disk, {} to fetch ({})", first.path,
                            plan.value->reused, plan.value->chunks.size(), plan.value->fetch.size(),
                            SizeText(plan.value->fetchBytes)));
            planned[i] = std::move(*plan.value);
        }
    };
    {
        std::vector<std::jthread> pool;
        const size_t count = std::min<size_t>(std::max(threads, 1U), candidates.size());
        for (size_t i = 0; i < count; ++i) {
            pool.emplace_back(work);
        }
    }
    std::vector<PatchPlan> plans;
    for (auto& plan : planned) {
        if (plan) {
            plans.push_back(std::move(*plan));
        }
    }
    return plans;
}

} // namespace Orv
