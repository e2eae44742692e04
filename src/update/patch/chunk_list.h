#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The chunk list of a file published in chunks: the object "<list sha256>.l", text with one line per
// chunk in file order: the chunk's sha256, a tab, its size, a tab, the size of its object
// "<chunk sha256>.c" (a zlib stream of the chunk), a line feed.
namespace Orv {

struct ChunkListEntry {
    std::string sha256; // of the chunk's bytes, 64 lower-case hex digits
    uint64_t size = 0;  // of the chunk
    uint64_t zsize = 0; // of its object
};

// The list's text.
std::string ChunkListText(const std::vector<ChunkListEntry>& chunks);

// The chunks of a list for a file of `fileSize` bytes; nothing unless every line parses, every chunk
// is from 1 byte to the largest chunk size long, its object at most twice that, there are no more
// chunks than the file can hold at the smallest chunk size, and the sizes add up to the file's size.
std::optional<std::vector<ChunkListEntry>> ParseChunkList(std::string_view text, uint64_t fileSize);

// The largest list text a file of `fileSize` bytes can have: the cap applied before one is fetched.
uint64_t ChunkListLimit(uint64_t fileSize);

} // namespace Orv
