#include "update/pack/pack_plan.h"

#include "update/patch/patch_plan.h"

#include <algorithm>

namespace Orv {
namespace {

// A file that may be patched is counted as this many chunks: its list is not known yet.
constexpr size_t kChunksPerPatchGuess = 8;

uint64_t Weight(const PieceItem& item) {
    return item.spot.length + kPieceObjectWeight;
}

// The wants each pack holds, in offset order; the others go to `loose`.
std::vector<std::vector<PieceItem>> ByPack(const PackIndex& index, const std::vector<PackWant>& wants,
                                           std::vector<size_t>& loose) {
    std::vector<std::vector<PieceItem>> byPack(index.packs.size());
    for (const PackWant& want : wants) {
        const auto found = index.objects.find(want.name);
        if (found == index.objects.end() || found->second.length != want.length) {
            loose.push_back(want.id);
            continue;
        }
        byPack[found->second.pack].push_back({want.id, found->second});
    }
    for (std::vector<PieceItem>& items : byPack) {
        std::sort(items.begin(), items.end(),
                  [](const PieceItem& a, const PieceItem& b) { return a.spot.offset < b.spot.offset; });
    }
    return byPack;
}

// Runs of the pack's items joined across gaps of up to `gap` bytes.
std::vector<std::vector<PieceItem>> Runs(const std::vector<PieceItem>& items, uint64_t gap) {
    std::vector<std::vector<PieceItem>> runs;
    for (const PieceItem& item : items) {
        if (runs.empty() ||
            item.spot.offset - (runs.back().back().spot.offset + runs.back().back().spot.length) > gap) {
            runs.emplace_back();
        }
        runs.back().push_back(item);
    }
    return runs;
}

PackPiece PieceOf(std::vector<PieceItem> items) {
    PackPiece piece;
    piece.pack = items.front().spot.pack;
    piece.first = items.front().spot.offset;
    piece.last = items.back().spot.offset + items.back().spot.length - 1;
    piece.items = std::move(items);
    return piece;
}

} // namespace

PackPlan PlanPackPieces(const PackIndex& index, const std::vector<PackWant>& wants, size_t workers) {
    PackPlan plan;
    std::vector<std::vector<PieceItem>> runs;
    uint64_t weight = 0;
    const auto byPack = ByPack(index, wants, plan.loose);
    for (size_t p = 0; p < byPack.size(); ++p) {
        uint64_t needed = 0;
        for (const PieceItem& item : byPack[p]) {
            needed += item.spot.length;
        }
        const bool most = needed > index.packs[p].size / 2;
        for (std::vector<PieceItem>& run : Runs(byPack[p], most ? UINT64_MAX : kPackGapJoin)) {
            if (run.size() == 1) {
                plan.loose.push_back(run.front().id);
                continue;
            }
            for (const PieceItem& item : run) {
                weight += Weight(item);
            }
            runs.push_back(std::move(run));
        }
    }
    const uint64_t target =
        std::clamp<uint64_t>(weight / std::max<size_t>(1, workers * kPiecesPerWorker), kPieceMin, kPieceMax);
    for (const std::vector<PieceItem>& run : runs) {
        std::vector<PieceItem> items;
        uint64_t pieceWeight = 0;
        for (const PieceItem& item : run) {
            items.push_back(item);
            pieceWeight += Weight(item);
            if (pieceWeight >= target) {
                plan.pieces.push_back(PieceOf(std::move(items)));
                items.clear();
                pieceWeight = 0;
            }
        }
        if (!items.empty()) {
            plan.pieces.push_back(PieceOf(std::move(items)));
        }
    }
    return plan;
}

std::vector<PackWant> GroupWants(const std::vector<DownloadGroup>& groups, const std::vector<bool>& skip) {
    std::vector<PackWant> wants;
    for (size_t g = 0; g < groups.size(); ++g) {
        const FileEntry& first = *groups[g].entries.front();
        if (!skip[g] && first.kind != kKindLauncher && first.zsize > 0) {
            wants.push_back({PackObjectName(first), first.zsize, g});
        }
    }
    return wants;
}

bool IndexPays(uint64_t indexBytes, size_t objects) {
    return objects >= 2 && indexBytes < (objects - 1) * kPatchRequestCost;
}

size_t PackableObjects(const std::vector<DownloadGroup>& groups, size_t patchCandidates) {
    size_t objects = patchCandidates * kChunksPerPatchGuess;
    for (const DownloadGroup& group : groups) {
        const FileEntry& first = *group.entries.front();
        objects += first.kind != kKindLauncher && first.zsize > 0 && first.zsize <= kPackObjectMax ? 1 : 0;
    }
    return objects;
}

} // namespace Orv
