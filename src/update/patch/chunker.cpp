#include "update/patch/chunker.h"

#include "core/paths.h"
#include "core/handles.h"
#include "core/text.h"
#include "update/sha256.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fmt/xchar.h>
#include <vector>

namespace Orv {
namespace {

constexpr uint64_t kGearSeed = 0x4F7276616E65; // "Orvane"
constexpr uint64_t kMaskSmall = ~uint64_t{0} << (64 - 18);
constexpr uint64_t kMaskLarge = ~uint64_t{0} << (64 - 15);
constexpr size_t kReadPiece = 8 * kChunkMax;

constexpr std::array<uint64_t, 256> MakeGear() {
    std::array<uint64_t, 256> table{};
    uint64_t state = kGearSeed;
    for (uint64_t& value : table) {
        state += 0x9E3779B97F4A7C15ULL;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        value = z ^ (z >> 31);
    }
    return table;
}

constexpr std::array<uint64_t, 256> kGear = MakeGear();

} // namespace

const uint64_t* GearTable() {
    return kGear.data();
}

size_t ChunkLength(const unsigned char* data, size_t length) {
    if (length <= kChunkMin) {
        return length;
    }
    const size_t end = length < kChunkMax ? length : kChunkMax;
    const size_t normal = end < kChunkNormal ? end : kChunkNormal;
    uint64_t hash = 0;
    size_t i = kChunkMin;
    for (; i < normal; ++i) {
        hash = (hash << 1) + kGear[data[i]];
        if ((hash & kMaskSmall) == 0) {
            return i + 1;
        }
    }
    for (; i < end; ++i) {
        hash = (hash << 1) + kGear[data[i]];
        if ((hash & kMaskLarge) == 0) {
            return i + 1;
        }
    }
    return end;
}

Outcome<Ok> CutFile(const std::wstring& path, std::stop_token stopToken, const ChunkVisitor& visit,
                    size_t readSize) {
    FileHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return Failure(fmt::format(L"{}: {}", path, ErrorText(::GetLastError())));
    }
    std::vector<unsigned char> buffer(kReadPiece);
    size_t filled = 0;
    size_t position = 0;
    uint64_t offset = 0;
    bool atEnd = false;
    for (;;) {
        // Keep at least a whole largest chunk ahead, or the rest of the file.
        if (!atEnd && filled - position < kChunkMax) {
            std::memmove(buffer.data(), buffer.data() + position, filled - position);
            filled -= position;
            position = 0;
            while (!atEnd && filled < buffer.size()) {
                if (stopToken.stop_requested()) {
                    return Failure(CancelledText());
                }
                DWORD read = 0;
                const size_t room = std::min(buffer.size() - filled, std::max(readSize, kChunkMax + 1));
                if (!::ReadFile(file.Get(), buffer.data() + filled, static_cast<DWORD>(room), &read,
                                nullptr)) {
                    return Failure(fmt::format(L"{}: {}", path, ErrorText(::GetLastError())));
                }
                atEnd = read == 0;
                filled += read;
            }
        }
        if (position == filled) {
            return Success();
        }
        const size_t length = ChunkLength(buffer.data() + position, filled - position);
        if (!visit(offset, std::span<const unsigned char>(buffer.data() + position, length))) {
            return Failure(L"");
        }
        position += length;
        offset += length;
    }
}

Outcome<FileChunks> HashChunks(const std::wstring& path, std::stop_token stopToken, std::string* whole,
                               const std::function<void(uint64_t)>& onRead) {
    FileChunks chunks;
    Sha256 all;
    auto cut = CutFile(path, stopToken, [&](uint64_t offset, std::span<const unsigned char> bytes) {
        if (auto digest = Sha256Hex({reinterpret_cast<const char*>(bytes.data()), bytes.size()})) {
            chunks.try_emplace(std::move(*digest), offset);
        }
        if (whole != nullptr) {
            all.Update(bytes.data(), bytes.size());
        }
        if (onRead) {
            onRead(offset + bytes.size());
        }
        return true;
    });
    if (!cut) {
        return Outcome<FileChunks>::Failure(cut.message);
    }
    if (whole != nullptr) {
        *whole = all.Finish().value_or(std::string());
    }
    return Outcome<FileChunks>::Success(std::move(chunks));
}

} // namespace Orv
