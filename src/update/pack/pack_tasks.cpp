#include "update/download_work.h"

#include "core/paths.h"
#include "update/pack/pack_fetch.h"
#include "update/patch/patch_plan.h"

// The work of packs in the download phase: the pieces whose objects are the whole objects of groups or
// the chunks of patches, and the objects they do not deliver, which come loose.
namespace Orv {

void QueueChunks(Work& work, const std::vector<size_t>& chunks) {
    const size_t base = work.ChunkItemBase();
    std::vector<size_t> loose;
    if (work.phase.packs == nullptr) {
        loose = chunks;
    } else {
        std::vector<PackWant> wants;
        for (const size_t k : chunks) {
            const FileEntry& chunk = work.chunks[k].entry;
            wants.push_back({PackObjectName(chunk), chunk.zsize, base + k});
        }
        PackPlan plan = PlanPackPieces(*work.phase.packs, wants, kDownloadWorkers);
        for (const size_t id : plan.loose) {
            loose.push_back(id - base);
        }
        for (PackPiece& piece : plan.pieces) {
            work.AddTotal(static_cast<int64_t>(piece.Length()));
            work.pieces.push_back(std::move(piece));
            work.Push({TaskKind::Piece, work.pieces.size() - 1}, true);
        }
    }
    for (const size_t k : loose) {
        work.AddTotal(static_cast<int64_t>(work.chunks[k].entry.zsize));
        work.Push({TaskKind::Chunk, k}, true);
    }
}

Outcome<Ok> FetchPiece(Work& work, Slot& slot, size_t p) {
    DownloadPhase& phase = work.phase;
    const size_t base = work.ChunkItemBase();
    const PackPiece* piece = nullptr;
    {
        std::lock_guard guard(work.mutex);
        piece = &work.pieces[p];
    }
    PieceTargets targets;
    targets.objectOf = [&](size_t id) -> PieceObject {
        if (id < base) {
            const FileEntry& first = *phase.groups[id].entries.front();
            return {&first, JoinPath(phase.gameFolder, first.path)};
        }
        std::lock_guard guard(work.mutex);
        const FileEntry& chunk = work.chunks[id - base].entry;
        return {&chunk, ChunkFilePath(phase.downloader.DownloadFolder(), chunk.sha256)};
    };
    targets.placed = [&](size_t id) {
        if (id >= base) {
            SettleChunk(work, id - base, true, true);
            return Success();
        }
        const DownloadGroup& group = phase.groups[id];
        Outcome<Ok> copied = CopyToTheOthers(phase, group);
        if (copied) {
            Remember(phase, group);
        }
        return copied;
    };
    PieceResult result;
    const std::wstring firstName = targets.objectOf(piece->items.front().id).entry->path;
    InSlot(phase.progress, slot, firstName, piece->Length(), [&] {
        result = FetchPackPiece(phase.packs->packs[piece->pack], *piece, targets, phase.downloader, &slot,
                                phase.workersStop.get_token());
        return result.outcome;
    });
    if (!result.outcome) {
        return result.outcome;
    }
    std::lock_guard guard(work.mutex);
    for (const size_t id : result.loose) {
        if (id < base) {
            work.AddTotal(static_cast<int64_t>(phase.groups[id].entries.front()->zsize));
            work.Push({TaskKind::Whole, id}, true);
        } else {
            work.AddTotal(static_cast<int64_t>(work.chunks[id - base].entry.zsize));
            work.Push({TaskKind::Chunk, id - base}, true);
        }
    }
    return Success();
}

} // namespace Orv
