#include "update/patch/patch_plan.h"

#include "core/file_io.h"
#include "core/paths.h"
#include "core/text.h"
#include "update/file_cache.h"
#include "update/patch/chunker.h"
#include "update/sha256.h"

#include <fmt/xchar.h>
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

// A chunk an earlier run downloaded into the download folder and that is still whole.
bool HasChunkFile(const std::wstring& downloadFolder, const ChunkListEntry& chunk,
                  std::stop_token stopToken) {
    const std::wstring path = ChunkFilePath(downloadFolder, chunk.sha256);
    const FileStat stat = StatFile(path);
    return stat.exists && stat.size == chunk.size && Sha256OfFile(path, stopToken) == chunk.sha256;
}

} // namespace

std::wstring ChunkFilePath(const std::wstring& downloadFolder, const std::string& sha256) {
    return JoinPath(downloadFolder, Utf8ToWide(sha256) + L".chunk");
}

std::wstring ChunkListPath(const std::wstring& downloadFolder, const std::string& sha256) {
    return JoinPath(downloadFolder, Utf8ToWide(sha256) + L".l");
}

std::vector<PatchCandidate> PatchCandidates(const Manifest& manifest,
                                            const std::vector<DownloadGroup>& groups,
                                            const std::wstring& gameFolder,
                                            const std::vector<std::optional<FileChunks>>& cut) {
    std::vector<PatchCandidate> candidates;
    for (size_t g = 0; g < groups.size(); ++g) {
        const ChunkedFile* row = ChunkRowOf(manifest, groups[g].entries.front()->sha256);
        if (row == nullptr) {
            continue;
        }
        // The first path of the group that holds a file with content is the older version.
        for (const FileEntry* entry : groups[g].entries) {
            const std::wstring path = JoinPath(gameFolder, entry->path);
            if (const FileStat stat = StatFile(path); stat.exists && stat.size > 0) {
                const size_t index = static_cast<size_t>(entry - manifest.files.data());
                const FileChunks* older = index < cut.size() && cut[index] ? &*cut[index] : nullptr;
                candidates.push_back({g, row, path, older});
                break;
            }
        }
    }
    return candidates;
}

uint64_t PatchCost(const PatchPlan& plan, uint64_t listSize) {
    return plan.fetchBytes + listSize + kPatchRequestCost * (plan.fetch.size() + 1);
}

Outcome<std::vector<ChunkListEntry>> FetchChunkList(const PatchCandidate& candidate, const FileEntry& entry,
                                                    const Downloader& downloader, Slot* slot,
                                                    std::stop_token stopToken, bool* transferred) {
    using Result = Outcome<std::vector<ChunkListEntry>>;
    const ChunkedFile& row = *candidate.row;
    if (row.listSize > ChunkListLimit(entry.size)) {
        return Result::Failure(fmt::format(L"its chunk list is listed as {} bytes, too large", row.listSize));
    }
    FileEntry list;
    list.path = entry.path;
    list.sha256 = row.listSha256;
    list.size = row.listSize;
    list.zsize = row.listSize;
    list.object = ObjectKind::ChunkList;
    const std::wstring path = ChunkListPath(downloader.DownloadFolder(), row.listSha256);
    *transferred = false;
    if (StatFile(path).size != row.listSize || Sha256OfFile(path, stopToken) != row.listSha256) {
        if (auto fetched = downloader.Get(list, path, slot, stopToken); !fetched) {
            return Result::Failure(fmt::format(L"its chunk list: {}", fetched.message));
        }
        *transferred = true;
    }
    auto text = ReadFileBytes(path);
    auto chunks = text ? ParseChunkList(*text, entry.size) : std::nullopt;
    if (!chunks) {
        return Result::Failure(L"its chunk list does not describe the file");
    }
    return Result::Success(std::move(*chunks));
}

Outcome<PatchPlan> PlanPatch(const PatchCandidate& candidate, const FileEntry& entry,
                             const std::vector<ChunkListEntry>& list, const std::wstring& downloadFolder,
                             const std::function<void(uint64_t)>& onRead, std::stop_token stopToken) {
    using Result = Outcome<PatchPlan>;
    std::optional<FileChunks> cut;
    if (candidate.older == nullptr) {
        auto read = HashChunks(candidate.oldPath, stopToken, nullptr, onRead);
        if (!read) {
            return Result::Failure(fmt::format(L"the older file cannot be read: {}", read.message));
        }
        cut = std::move(*read.value);
    }
    const FileChunks& older = candidate.older != nullptr ? *candidate.older : *cut;
    PatchPlan plan;
    plan.group = candidate.group;
    plan.oldPath = candidate.oldPath;
    std::unordered_set<std::string> planned;
    for (const ChunkListEntry& chunk : list) {
        PatchChunk& placed = plan.chunks.emplace_back(PatchChunk{chunk.sha256, chunk.size, std::nullopt});
        if (const auto found = older.find(chunk.sha256); found != older.end()) {
            placed.oldOffset = found->second;
            ++plan.reused;
            continue;
        }
        if (!planned.insert(chunk.sha256).second || HasChunkFile(downloadFolder, chunk, stopToken)) {
            continue;
        }
        FileEntry fetch;
        fetch.path = entry.path;
        fetch.sha256 = chunk.sha256;
        fetch.size = chunk.size;
        fetch.zsize = chunk.zsize;
        fetch.compressed = true;
        fetch.object = ObjectKind::Chunk;
        plan.fetch.push_back(std::move(fetch));
        plan.fetchBytes += chunk.zsize;
        plan.fetchSize += chunk.size;
    }
    if (stopToken.stop_requested()) {
        return Result::Failure(CancelledText());
    }
    // Many small requests or most of the file new: the whole object is cheaper.
    if (const uint64_t cost = PatchCost(plan, candidate.row->listSize);
        cost * 100 >= entry.zsize * kPatchWorthPercent) {
        return Result::Failure(fmt::format(
            L"a patch would cost {} ({} chunks to fetch), {}% of the whole {}", SizeText(cost),
            plan.fetch.size(), cost * 100 / std::max<uint64_t>(entry.zsize, 1), SizeText(entry.zsize)));
    }
    return Result::Success(std::move(plan));
}

} // namespace Orv
