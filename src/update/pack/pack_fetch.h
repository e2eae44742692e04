#pragma once
#include "core/outcome.h"
#include "update/downloader.h"
#include "update/manifest.h"
#include "update/pack/pack_plan.h"
#include "update/update_progress.h"

#include <cstddef>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace Orv {

// What one object of a piece must become, and where it goes.
struct PieceObject {
    const FileEntry* entry = nullptr; // verified against; its path is shown and logged
    std::wstring destPath;
};

struct PieceTargets {
    // The object of an item (by its id).
    std::function<PieceObject(size_t id)> objectOf;
    // Called once the item's object is verified and in place; a failure ends the piece and the run.
    std::function<Outcome<Ok>(size_t id)> placed;
};

struct PieceResult {
    // A failure ends the run with its message: a file could not be written or moved, or a stop.
    Outcome<Ok> outcome = Success();
    // The items whose objects no mirror's pack delivered: they are to be fetched loose.
    std::vector<size_t> loose;
};

// Fetches the piece's range of the pack and places each of its objects as it streams in: inflated,
// verified and moved into place exactly like a loose object. An answer that breaks off, is refused, or
// holds an object that does not verify keeps every object already placed; the rest of the range is asked
// again, of the next mirror, with the attempts and pauses of an object. The progress counts the bytes of
// the range once as they arrive (a range asked again is not counted twice) and leaves out the bytes
// that never came; the slot shows the object being fetched and the range's bytes.
PieceResult FetchPackPiece(const PackFile& pack, const PackPiece& piece, const PieceTargets& targets,
                           const Downloader& downloader, Slot* slot, std::stop_token stopToken);

} // namespace Orv
