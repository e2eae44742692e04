#pragma once
#include "core/outcome.h"
#include "orvanectl/progress.h"
#include "orvanectl/release_manifest.h"
#include "update/manifest.h"
#include "update/patch/chunk_list.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The packs a publish writes: the release's small objects and chunks, back to back in
// "packs\<2 hex>\<sha256>.pack" files of at most kPackMax bytes, and the pack index
// "packs\<2 hex>\<sha256 of its text>.index" that the manifest's row "p" names.
namespace Orv::Publisher {

// One object to pack: its loose object's name ("<sha256>", "<sha256>.z" or "<sha256>.c") and size.
struct PackItem {
    std::string name;
    uint64_t length = 0;
};

// The objects of the release that go into packs, in the order a fresh install needs them: every
// distinct file object of 1 byte to kPackObjectMax in the manifest's row order, except those that
// only the launcher's own rows (kind "s") name, then every distinct chunk object of the lists in
// their order, each list in its order.
std::vector<PackItem> PackItems(std::vector<ReleaseRow> rows,
                                const std::vector<std::vector<ChunkListEntry>>& chunkLists);

struct PackSummary {
    std::optional<PackIndexRow> index; // the row "p"; nothing when there was nothing to pack
    size_t objects = 0;                // packed
    size_t packs = 0;                  // named in the index
    size_t reused = 0;                 // objects that stay where the packs of the current release hold them
    size_t written = 0;                // packs the mirror did not hold yet
    uint64_t writtenBytes = 0;         // their bytes
};

// Packs the items, whose loose objects the mirror holds already. An object that a pack of the
// mirror's current release holds (as its manifest's index places it, the pack there with its listed
// size) with the same length stays there; the others go into new packs, copied from their loose
// objects, each written under a temporary name and renamed to the SHA-256 of its bytes. Then writes
// the index object. A pack or index the mirror holds already is never written again; one of that name
// that does not hold what its name says (damaged) fails the publish. Progress and notes go to `say`.
Outcome<PackSummary> WritePacks(const std::wstring& mirrorRoot, const std::vector<PackItem>& items,
                                const LineSink& say);

} // namespace Orv::Publisher
