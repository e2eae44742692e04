#pragma once
#include "core/outcome.h"
#include "update/manifest.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Packs: the small objects and the chunks of a release, also stored back to back in a few large files of
// the mirror, "packs/<2 hex>/<sha256>.pack", so that a launcher fetches many of them with one range
// request. The pack index, "packs/<2 hex>/<sha256>.index" (a zlib stream of text, named by the SHA-256
// of the text, which the manifest's row "p" names with its size), tells where each object lies:
//
//   format<TAB>1
//   pack<TAB><sha256 of the pack><TAB><size of the pack>
//   <object name><TAB><offset in that pack><TAB><length>
//   ...
//
// An object row belongs to the pack row above it. The object name is the loose object's file name:
// "<sha256>" (a file stored as it is), "<sha256>.z" (a file as a zlib stream) or "<sha256>.c" (a chunk).
// The bytes at that place are exactly the loose object's bytes.
namespace Orv {

// A pack the publisher writes holds at most this many bytes (CDNs refuse objects from 20,000,000 bytes
// on), and file objects of up to kPackObjectMax bytes go into packs; chunks always do.
inline constexpr uint64_t kPackMax = 16 * 1024 * 1024;
inline constexpr uint64_t kPackObjectMax = 1024 * 1024;
// What a launcher takes: an index that names a larger pack, or whose text is larger, is refused.
inline constexpr uint64_t kPackLimit = 64 * 1024 * 1024;
inline constexpr uint64_t kPackIndexLimit = 64 * 1024 * 1024;

struct PackFile {
    std::string sha256; // of the pack's bytes, 64 lower-case hex digits
    uint64_t size = 0;
};

// Where an object lies: the pack (its position in PackIndex::packs) and the bytes in it.
struct PackSpot {
    uint32_t pack = 0;
    uint64_t offset = 0;
    uint64_t length = 0;
};

struct PackEntry {
    std::string name; // the object's name, "<sha256>[.z|.c]"
    PackSpot spot;
};

struct PackIndex {
    std::vector<PackFile> packs;
    std::unordered_map<std::string, PackSpot> objects; // by object name
};

// The name by which packs and the index know the entry's object.
std::string PackObjectName(const FileEntry& entry);

// Whether the name is one an index may hold: 64 lower-case hex digits, then nothing, ".z" or ".c".
bool IsPackObjectName(std::string_view name);

// The index, or why it is refused: a line that does not parse, no "format 1" first, an object row
// before any pack row, a pack listed twice or larger than kPackLimit, an object listed twice, of 0
// bytes, outside its pack, or overlapping another object of its pack.
Outcome<PackIndex> ParsePackIndex(std::string_view text);

// The index text of the packs and the entries (each pack's entries in offset order; packs in order).
std::string PackIndexText(const std::vector<PackFile>& packs, std::vector<PackEntry> entries);

} // namespace Orv
