#pragma once
#include "update/download_group.h"
#include "update/pack/pack_index.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Which objects of a run come from which pack, in which ranges.
namespace Orv {

// Needed objects less than this far apart in a pack are fetched in one range, the bytes between them
// included; the same estimate of what one request costs as the patch rule's.
inline constexpr uint64_t kPackGapJoin = 64 * 1024;
// A range is cut, at object boundaries, into pieces that the workers fetch at once: about two for each
// worker, each weighing (its bytes and kPieceObjectWeight for each object, the cost of making its file)
// from kPieceMin to kPieceMax.
inline constexpr uint64_t kPieceObjectWeight = 4096;
inline constexpr uint64_t kPieceMin = 64 * 1024;
inline constexpr uint64_t kPieceMax = 4 * 1024 * 1024;
inline constexpr size_t kPiecesPerWorker = 2;

// An object the run needs: its name as packs know it, the length its entry (or chunk list) gives, and
// the caller's number for it.
struct PackWant {
    std::string name;
    uint64_t length = 0;
    size_t id = 0;
};

struct PieceItem {
    size_t id = 0;
    PackSpot spot;
};

// One single range of a pack, from its first object's start to its last object's end, and the needed
// objects in it in offset order.
struct PackPiece {
    uint32_t pack = 0;
    uint64_t first = 0;
    uint64_t last = 0; // inclusive
    std::vector<PieceItem> items;

    uint64_t Length() const { return last - first + 1; }
};

struct PackPlan {
    std::vector<PackPiece> pieces; // in pack order, then offset order
    std::vector<size_t> loose;     // the wants no pack holds with their length, or that stand alone
};

// Plans the wants: per pack, runs of needed objects joined across gaps of up to kPackGapJoin (across
// every gap when more than half of the pack is needed), cut into pieces for `workers` workers. A run of
// one object is fetched loose: a range gains nothing over the object itself.
PackPlan PlanPackPieces(const PackIndex& index, const std::vector<PackWant>& wants, size_t workers);

// What packs may hold of the groups' objects: a want for every group not skipped, by its first entry (the
// launcher's own object always comes loose). The want's id is the group's position.
std::vector<PackWant> GroupWants(const std::vector<DownloadGroup>& groups, const std::vector<bool>& skip);

// Whether fetching an index object of `indexBytes` pays for `objects` objects that packs may hold: it costs
// less than the requests it may save.
bool IndexPays(uint64_t indexBytes, size_t objects);

// How many of the groups' objects packs may hold (files of up to kPackObjectMax bytes, not the launcher's
// own), counting each file that may be patched as a few chunks.
size_t PackableObjects(const std::vector<DownloadGroup>& groups, size_t patchCandidates);

} // namespace Orv
