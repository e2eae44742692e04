#pragma once
// The work of one download phase, which the workers share, and the kinds of work they do: whole objects
// (download_workers.cpp), patches and their chunks (patch/patch_tasks.cpp), pieces of packs
// (pack/pack_tasks.cpp).
#include "core/outcome.h"
#include "update/download_workers.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <vector>

namespace Orv {

enum class TaskKind { Plan, Whole, Chunk, Rebuild, Piece };

// One piece of work: a candidate's planning, a group's whole object, a chunk that patches lack, the
// rebuild of a patch whose chunks are all settled, or a piece of a pack.
struct DownloadTask {
    TaskKind kind;
    size_t index; // the candidate, the group, the chunk, the patch or the piece
};

enum class ChunkState { Waiting, Done, Failed, Unwanted };

struct ChunkTask {
    FileEntry entry;             // the chunk (ObjectKind::Chunk)
    std::vector<size_t> patches; // the patches that wait for it
    ChunkState state = ChunkState::Waiting;
};

struct Patch {
    PatchPlan plan;
    size_t pending = 0;    // chunks not yet settled
    bool failed = false;   // one of its chunks could not be fetched
    std::stop_source stop; // ends the patch's other chunk downloads once one failed
    std::optional<std::stop_callback<std::function<void()>>> forward; // the phase's stop ends them too
};

// The work of one download phase. Plans add work while it runs; everything below `mutex` is guarded by
// it, and `ready` wakes the workers that wait for work while plans are still being made.
struct Work {
    explicit Work(DownloadPhase& phase)
        : phase(phase), chunkRoom(phase.chunkRoom), pieces(phase.pieces.begin(), phase.pieces.end()) {}

    DownloadPhase& phase;
    std::mutex mutex;
    std::condition_variable_any ready;
    std::deque<DownloadTask> queue;
    size_t planning = 0; // plans not finished: they may add work
    std::deque<Patch> patches;
    std::deque<ChunkTask> chunks;
    std::unordered_map<std::string, size_t> chunkBySha;
    uint64_t chunkRoom;
    // The pieces of packs: the phase's (whose items are groups), then those of chunks, whose items are
    // numbered from ChunkItemBase() on.
    std::deque<PackPiece> pieces;

    size_t ChunkItemBase() const { return phase.groups.size(); }
    void AddTotal(int64_t bytes) { phase.progress.bytesTotal.fetch_add(static_cast<uint64_t>(bytes)); }
    // Under the lock: the task is done next (front) or after what is queued.
    void Push(DownloadTask task, bool front);
    // The next task; nothing when the work is done or the phase stops.
    std::optional<DownloadTask> Pop();
};

// Shows the file in the worker's slot while `bring` runs.
Outcome<Ok> InSlot(UpdateProgress& progress, Slot& slot, const std::wstring& name, uint64_t total,
                   const std::function<Outcome<Ok>()>& bring);

// Copies the group's placed first file to its other paths.
Outcome<Ok> CopyToTheOthers(const DownloadPhase& phase, const DownloadGroup& group);

// Records every path of the placed group in the file cache and the progress.
void Remember(DownloadPhase& phase, const DownloadGroup& group);

// The group's whole object, placed at every path of the group and remembered.
Outcome<Ok> PlaceWhole(DownloadPhase& phase, Slot& slot, const DownloadGroup& group);

// Patches (patch/patch_tasks.cpp).
Outcome<Ok> PlanCandidate(Work& work, Slot& slot, size_t candidate);
Outcome<Ok> FetchChunk(Work& work, Slot& slot, size_t chunk);
Outcome<Ok> Rebuild(Work& work, Slot& slot, size_t patch);
// Settles a chunk: fetched (its file waits in the download folder), or given up (wanted: a patch needed
// it). The patches whose last chunk it was are rebuilt next.
void SettleChunk(Work& work, size_t chunk, bool fetched, bool wanted);

// Packs (pack/pack_tasks.cpp). Under the lock: the chunks come from pieces of packs where the index
// places them, the others alone; their bytes join the total.
void QueueChunks(Work& work, const std::vector<size_t>& chunks);
Outcome<Ok> FetchPiece(Work& work, Slot& slot, size_t piece);

} // namespace Orv
