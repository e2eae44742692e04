#include "orvanectl/object_store.h"

#include "core/paths.h"
#include "core/text.h"
#include "orvanectl/file_system.h"
#include "orvanectl/zlib_stream.h"
#include "partners/download_server.h"
#include "update/sha256.h"

#include <fmt/xchar.h>
#include <zlib.h>

#include <vector>

namespace Orv::Publisher {
namespace {

constexpr size_t kReadChunk = 1048576;

const wchar_t* const kStopped = L"Stopped";

std::wstring Changed(const std::wstring& path) {
    return fmt::format(L"\"{}\" changed while it was being published; publish again", path);
}

// Reads the file to its end, handing every piece to `use` (which returns false to stop early).
Outcome<Ok> ReadPieces(InputFile& input, std::stop_token stop, const ByteProgress& progress,
                       const std::function<Outcome<bool>(const unsigned char*, size_t)>& use) {
    std::vector<unsigned char> buffer(kReadChunk);
    for (;;) {
        if (stop.stop_requested()) {
            return Failure(kStopped);
        }
        auto read = input.Read(buffer.data(), buffer.size());
        if (!read) {
            return Failure(read.message);
        }
        if (progress) {
            progress(*read.value);
        }
        auto more = use(buffer.data(), *read.value);
        if (!more) {
            return Failure(more.message);
        }
        if (*read.value == 0 || !*more.value) {
            return Success();
        }
    }
}

// Copies the file as it is; the file must still have the digest.
Outcome<StoredObject> WriteStored(const std::wstring& mirrorRoot, const std::wstring& path,
                                  const ContentDigest& digest, std::stop_token stop,
                                  const ByteProgress& progress) {
    auto input = InputFile::Open(path);
    if (!input) {
        return Outcome<StoredObject>::Failure(input.message);
    }
    auto output = OutputFile::CreateBeside(ObjectFilePath(mirrorRoot, digest.sha256, false));
    if (!output) {
        return Outcome<StoredObject>::Failure(output.message);
    }
    Sha256 hash;
    auto copied = ReadPieces(*input.value, stop, progress,
                             [&](const unsigned char* data, size_t length) -> Outcome<bool> {
                                 hash.Update(data, length);
                                 if (auto written = output.value->Write(data, length); !written) {
                                     return Outcome<bool>::Failure(written.message);
                                 }
                                 return Outcome<bool>::Success(true);
                             });
    if (!copied) {
        return Outcome<StoredObject>::Failure(copied.message);
    }
    if (output.value->Written() != digest.size || hash.Finish() != digest.sha256) {
        return Outcome<StoredObject>::Failure(Changed(path));
    }
    if (auto committed = output.value->Commit(false); !committed) {
        return Outcome<StoredObject>::Failure(committed.message);
    }
    return Outcome<StoredObject>::Success({false, digest.size});
}

// Compresses the file; nothing when the stream would not be smaller than the file.
Outcome<std::optional<StoredObject>> WriteCompressed(const std::wstring& mirrorRoot, const std::wstring& path,
                                                     const ContentDigest& digest, std::stop_token stop,
                                                     const ByteProgress& progress) {
    using Result = Outcome<std::optional<StoredObject>>;
    auto input = InputFile::Open(path);
    if (!input) {
        return Result::Failure(input.message);
    }
    auto output = OutputFile::CreateBeside(ObjectFilePath(mirrorRoot, digest.sha256, true));
    if (!output) {
        return Result::Failure(output.message);
    }
    DeflateStream deflate(Z_BEST_COMPRESSION);
    if (!deflate.Valid()) {
        return Result::Failure(L"zlib could not start");
    }
    Sha256 hash;
    uint64_t read = 0;
    std::wstring writeFailure;
    const ByteSink sink = [&](const unsigned char* data, size_t length) {
        if (auto written = output.value->Write(data, length); !written) {
            writeFailure = written.message;
            return false;
        }
        return true;
    };
    bool larger = false;
    auto compressed = ReadPieces(
        *input.value, stop, progress, [&](const unsigned char* data, size_t length) -> Outcome<bool> {
            hash.Update(data, length);
            read += length;
            if (!deflate.Push(data, length, length == 0, sink)) {
                return Outcome<bool>::Failure(writeFailure.empty() ? L"zlib failed" : writeFailure);
            }
            // The stream only grows: once it is as large as the file it has lost.
            larger = deflate.TotalOut() >= digest.size;
            return Outcome<bool>::Success(!larger);
        });
    if (!compressed) {
        return Result::Failure(compressed.message);
    }
    if (larger) {
        return Result::Success(std::nullopt);
    }
    if (read != digest.size || hash.Finish() != digest.sha256) {
        return Result::Failure(Changed(path));
    }
    bool existed = false;
    if (auto committed = output.value->Commit(false, &existed); !committed) {
        return Result::Failure(committed.message);
    }
    if (existed) {
        const auto zsize = RegularFileSize(ObjectFilePath(mirrorRoot, digest.sha256, true));
        return Result::Success(StoredObject{true, zsize.value_or(0)});
    }
    return Result::Success(StoredObject{true, deflate.TotalOut()});
}

} // namespace

std::wstring ObjectsFolder(const std::wstring& mirrorRoot) {
    return JoinPath(mirrorRoot, L"objects");
}

std::wstring ObjectFilePath(const std::wstring& mirrorRoot, const std::string& sha256, bool compressed) {
    return SuffixedObjectPath(mirrorRoot, sha256, compressed ? DownloadServer::kCompressedSuffix : L"");
}

std::wstring SuffixedObjectPath(const std::wstring& mirrorRoot, const std::string& sha256,
                                const wchar_t* suffix) {
    const std::wstring hash = Utf8ToWide(sha256);
    return fmt::format(L"{}\\{}\\{}{}", ObjectsFolder(mirrorRoot), hash.substr(0, 2), hash, suffix);
}

std::wstring ObjectName(const std::string& sha256, bool compressed) {
    const std::wstring hash = Utf8ToWide(sha256);
    return fmt::format(L"objects/{}/{}{}", hash.substr(0, 2), hash, compressed ? L".z" : L"");
}

std::optional<StoredObject> FindObject(const std::wstring& mirrorRoot, const std::string& sha256) {
    for (const bool compressed : {true, false}) {
        if (const auto size = RegularFileSize(ObjectFilePath(mirrorRoot, sha256, compressed))) {
            return StoredObject{compressed, *size};
        }
    }
    return std::nullopt;
}

Outcome<ContentDigest> DigestFile(const std::wstring& path, std::stop_token stop,
                                  const ByteProgress& progress) {
    auto input = InputFile::Open(path);
    if (!input) {
        return Outcome<ContentDigest>::Failure(input.message);
    }
    Sha256 hash;
    uint64_t size = 0;
    auto read = ReadPieces(*input.value, stop, progress, [&](const unsigned char* data, size_t length) {
        size += length;
        return hash.Update(data, length) ? Outcome<bool>::Success(true)
                                         : Outcome<bool>::Failure(L"The system's SHA-256 failed");
    });
    if (!read) {
        return Outcome<ContentDigest>::Failure(read.message);
    }
    auto digest = hash.Finish();
    if (!digest) {
        return Outcome<ContentDigest>::Failure(L"The system's SHA-256 failed");
    }
    return Outcome<ContentDigest>::Success({std::move(*digest), size});
}

Outcome<StoredObject> WriteObject(const std::wstring& mirrorRoot, const std::wstring& path,
                                  const ContentDigest& digest, std::stop_token stop,
                                  const ByteProgress& progress) {
    const std::wstring folder = ParentFolder(ObjectFilePath(mirrorRoot, digest.sha256, false));
    if (auto made = MakeFolders(folder); !made) {
        return Outcome<StoredObject>::Failure(made.message);
    }
    // A file that does not compress is read twice; progress counts each byte once.
    uint64_t position = 0;
    uint64_t counted = 0;
    const ByteProgress once = [&](uint64_t length) {
        position += length;
        if (position > counted && progress) {
            progress(position - counted);
            counted = position;
        }
    };
    if (digest.size > 0) {
        auto compressed = WriteCompressed(mirrorRoot, path, digest, stop, once);
        if (!compressed) {
            return Outcome<StoredObject>::Failure(compressed.message);
        }
        if (*compressed.value) {
            return Outcome<StoredObject>::Success(**compressed.value);
        }
    }
    position = 0;
    return WriteStored(mirrorRoot, path, digest, stop, once);
}

} // namespace Orv::Publisher
