#pragma once
#include "core/outcome.h"
#include "orvanectl/object_store.h"
#include "update/patch/chunk_list.h"

#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

// The chunks of a file published in chunks, in a mirror: "objects\<2 hex>\<chunk sha256>.c", a zlib
// stream of each distinct chunk, and "objects\<2 hex>\<list sha256>.l", the file's chunk list.
namespace Orv::Publisher {

struct ChunkedObject {
    std::string listSha256;
    uint64_t listSize = 0;
    size_t chunks = 0;                // in the list
    size_t written = 0;               // chunk objects the mirror did not hold yet
    uint64_t writtenBytes = 0;        // their bytes
    std::vector<ChunkListEntry> list; // the chunks in file order, with the sizes of their objects
};

// Cuts the file into content-defined chunks, writes the object of every chunk the mirror lacks (on
// `workers` threads) and the chunk list when the mirror lacks it. The file must still have the digest.
Outcome<ChunkedObject> WriteChunks(const std::wstring& mirrorRoot, const std::wstring& path,
                                   const ContentDigest& digest, unsigned workers, std::stop_token stop);

} // namespace Orv::Publisher
