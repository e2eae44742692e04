#include "orvanectl/chunk_store.h"

#include "core/paths.h"
#include "core/text.h"
#include "orvanectl/file_system.h"
#include "orvanectl/work_queue.h"
#include "partners/download_server.h"
#include "update/patch/chunk_list.h"
#include "update/patch/chunker.h"
#include "update/sha256.h"

#include <fmt/xchar.h>
#include <zlib.h>

#include <vector>

namespace Orv::Publisher {
namespace {

struct CutChunk {
    ChunkListEntry entry;
    uint64_t offset = 0;
};

std::wstring Changed(const std::wstring& path) {
    return fmt::format(L"\"{}\" changed while it was being published; publish again", path);
}

// A zlib stream of the bytes: the smallest of best compression and stored blocks.
std::optional<std::string> Compress(const unsigned char* bytes, size_t length) {
    std::string stream(compressBound(static_cast<uLong>(length)), '\0');
    for (const int level : {Z_BEST_COMPRESSION, Z_NO_COMPRESSION}) {
        uLongf size = static_cast<uLongf>(stream.size());
        if (compress2(reinterpret_cast<Bytef*>(stream.data()), &size, bytes, static_cast<uLong>(length),
                      level) != Z_OK) {
            return std::nullopt;
        }
        if (size < length || level == Z_NO_COMPRESSION) {
            stream.resize(size);
            return stream;
        }
    }
    return std::nullopt;
}

// Writes the bytes as a new object file unless the mirror holds one already; true when written.
Outcome<bool> WriteNew(const std::wstring& target, std::string_view bytes) {
    if (RegularFileSize(target)) {
        return Outcome<bool>::Success(false);
    }
    if (auto made = MakeFolders(ParentFolder(target)); !made) {
        return Outcome<bool>::Failure(made.message);
    }
    auto output = OutputFile::CreateBeside(target);
    if (!output) {
        return Outcome<bool>::Failure(output.message);
    }
    if (auto written = output.value->Write(bytes.data(), bytes.size()); !written) {
        return Outcome<bool>::Failure(written.message);
    }
    bool existed = false;
    if (auto committed = output.value->Commit(false, &existed); !committed) {
        return Outcome<bool>::Failure(committed.message);
    }
    return Outcome<bool>::Success(!existed);
}

} // namespace

Outcome<ChunkedObject> WriteChunks(const std::wstring& mirrorRoot, const std::wstring& path,
                                   const ContentDigest& digest, unsigned workers, std::stop_token stop) {
    using Result = Outcome<ChunkedObject>;
    // One pass cuts and hashes; the file's own hash shows that it did not change since it was digested.
    std::vector<CutChunk> chunks;
    Sha256 whole;
    auto cut = CutFile(SystemPath(path), stop, [&](uint64_t offset, std::span<const unsigned char> bytes) {
        const std::string_view chunk(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        whole.Update(chunk.data(), chunk.size());
        chunks.push_back({{Sha256Hex(chunk).value_or(""), chunk.size(), 0}, offset});
        return true;
    });
    if (!cut) {
        return Result::Failure(cut.message);
    }
    uint64_t size = 0;
    for (const CutChunk& chunk : chunks) {
        size += chunk.entry.size;
    }
    if (size != digest.size || whole.Finish() != digest.sha256) {
        return Result::Failure(Changed(path));
    }

    ChunkedObject result;
    result.chunks = chunks.size();
    std::vector<uint8_t> written(chunks.size(), 0);
    auto stored = RunOnWorkers(chunks.size(), workers, [&](size_t index, std::stop_token) -> Outcome<Ok> {
        CutChunk& chunk = chunks[index];
        const std::wstring target =
            SuffixedObjectPath(mirrorRoot, chunk.entry.sha256, DownloadServer::kChunkSuffix);
        if (const auto existing = RegularFileSize(target)) {
            chunk.entry.zsize = *existing;
            return Success();
        }
        auto input = InputFile::Open(path);
        if (!input) {
            return Failure(input.message);
        }
        std::vector<unsigned char> bytes(chunk.entry.size);
        if (auto moved = input.value->Seek(chunk.offset); !moved) {
            return Failure(moved.message);
        }
        for (size_t filled = 0; filled < bytes.size();) {
            auto read = input.value->Read(bytes.data() + filled, bytes.size() - filled);
            if (!read) {
                return Failure(read.message);
            }
            if (*read.value == 0) {
                return Failure(Changed(path));
            }
            filled += *read.value;
        }
        const auto stream = Compress(bytes.data(), bytes.size());
        if (Sha256Hex({reinterpret_cast<const char*>(bytes.data()), bytes.size()}) != chunk.entry.sha256 ||
            !stream) {
            return Failure(stream ? Changed(path) : L"zlib failed");
        }
        auto made = WriteNew(target, *stream);
        if (!made) {
            return Failure(made.message);
        }
        chunk.entry.zsize = *made.value ? stream->size() : RegularFileSize(target).value_or(0);
        written[index] = *made.value ? 1 : 0;
        return Success();
    });
    if (!stored) {
        return Result::Failure(stored.message);
    }
    std::vector<ChunkListEntry> list;
    for (size_t i = 0; i < chunks.size(); ++i) {
        list.push_back(chunks[i].entry);
        if (written[i] != 0) {
            ++result.written;
            result.writtenBytes += chunks[i].entry.zsize;
        }
    }
    const std::string text = ChunkListText(list);
    result.listSha256 = Sha256Hex(text).value_or("");
    result.listSize = text.size();
    if (auto made = WriteNew(
            SuffixedObjectPath(mirrorRoot, result.listSha256, DownloadServer::kChunkListSuffix), text);
        !made) {
        return Result::Failure(made.message);
    }
    result.list = std::move(list);
    return Result::Success(std::move(result));
}

} // namespace Orv::Publisher
