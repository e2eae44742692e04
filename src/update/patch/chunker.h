#pragma once
#include "core/outcome.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <stop_token>
#include <string>
#include <unordered_map>

// Content-defined chunks of large files. A rolling gear hash is fed byte by byte from the chunk's
// 64 KiB point on; a cut follows the first byte at which the hash's top 18 bits are zero before
// 256 KiB, else the first at which its top 15 bits are zero, else 1 MiB. Boundaries follow the
// content, so an insertion moves only the boundaries near it. docs/release-format.md has the rule
// in full, with test vectors.
namespace Orv {

inline constexpr size_t kChunkMin = 64 * 1024;
inline constexpr size_t kChunkNormal = 256 * 1024;
inline constexpr size_t kChunkMax = 1024 * 1024;
// Files of at least this size are published in chunks as well.
inline constexpr uint64_t kChunkedFileMin = 4 * 1024 * 1024;

// The gear table: 256 values of SplitMix64 from the seed 0x4F7276616E65.
const uint64_t* GearTable();

// The length of the chunk that starts at data[0]. `length` is what is left of the file from there, or
// at least kChunkMax bytes of it (the cut never looks further).
size_t ChunkLength(const unsigned char* data, size_t length);

// One chunk of a file: its place and its bytes (valid during the call only).
using ChunkVisitor = std::function<bool(uint64_t offset, std::span<const unsigned char> bytes)>;

// Reads the file from its start and hands every chunk to the visitor in order, reading in large
// pieces. Fails with a message naming the file when it cannot be read, when a stop is requested
// ("Cancelled."), or when the visitor returns false (then with an empty message).
// `readSize` bounds each read (from kChunkMax + 1 up; tests use odd sizes).
Outcome<Ok> CutFile(const std::wstring& path, std::stop_token stopToken, const ChunkVisitor& visit,
                    size_t readSize = 8 * kChunkMax);

// The chunks a file holds: each chunk's sha256 and the offset of its first place.
using FileChunks = std::unordered_map<std::string, uint64_t>;

// Cuts the file and hashes its chunks in one read: the chunks, and, when `whole` is not null, the
// SHA-256 of the whole file into it. `onRead` (may be empty) hears how far the read has come.
Outcome<FileChunks> HashChunks(const std::wstring& path, std::stop_token stopToken, std::string* whole,
                               const std::function<void(uint64_t)>& onRead = {});

} // namespace Orv
