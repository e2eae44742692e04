#include "update/patch/chunk_list.h"

#include "core/text.h"

#include "update/patch/chunker.h"
#include "update/sha256.h"

#include <fmt/format.h>

namespace Orv {
namespace {

// "<64 hex>\t<size>\t<object size>\n": 64 + 1 + 7 + 1 + 7 + 1 for the largest chunk and object.
constexpr uint64_t kLongestLine = 81;

std::optional<uint64_t> ReadSize(std::string_view text, uint64_t most) {
    const auto value = ReadPlainDecimal(text, most);
    return value && *value > 0 ? value : std::nullopt;
}

uint64_t MostChunks(uint64_t fileSize) {
    return fileSize / kChunkMin + 1;
}

} // namespace

std::string ChunkListText(const std::vector<ChunkListEntry>& chunks) {
    std::string text;
    for (const ChunkListEntry& chunk : chunks) {
        text += fmt::format("{}\t{}\t{}\n", chunk.sha256, chunk.size, chunk.zsize);
    }
    return text;
}

uint64_t ChunkListLimit(uint64_t fileSize) {
    return MostChunks(fileSize) * kLongestLine;
}

std::optional<std::vector<ChunkListEntry>> ParseChunkList(std::string_view text, uint64_t fileSize) {
    if (text.size() > ChunkListLimit(fileSize)) {
        return std::nullopt;
    }
    std::vector<ChunkListEntry> chunks;
    uint64_t total = 0;
    size_t position = 0;
    while (position < text.size()) {
        const size_t end = text.find('\n', position);
        if (end == std::string_view::npos || chunks.size() >= MostChunks(fileSize)) {
            return std::nullopt;
        }
        const std::string_view line = text.substr(position, end - position);
        position = end + 1;
        const size_t tab1 = line.find('\t');
        const size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string_view::npos || !IsSha256Hex(line.substr(0, tab1))) {
            return std::nullopt;
        }
        const auto size = ReadSize(line.substr(tab1 + 1, tab2 - tab1 - 1), kChunkMax);
        const auto zsize = ReadSize(line.substr(tab2 + 1), 2 * kChunkMax);
        if (!size || !zsize) {
            return std::nullopt;
        }
        total += *size;
        chunks.push_back({std::string(line.substr(0, tab1)), *size, *zsize});
    }
    if (total != fileSize || chunks.empty()) {
        return std::nullopt;
    }
    return chunks;
}

} // namespace Orv
