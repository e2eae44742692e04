#include "update/object_stage.h"

#include "core/file_io.h"
#include "core/handles.h"
#include "core/text.h"
#include "update/sha256.h"
#include "update/worker_buffers.h"

#include <windows.h>

#include <filesystem>
#include <fmt/xchar.h>
#include <span>
#include <vector>
#include <zlib.h>

namespace Orv {
namespace {

constexpr size_t kInputBuffer = 65536;
// Inflated bytes go to the staging file in pieces of this size.
constexpr size_t kOutputBuffer = 65536;

Outcome<Ok> Fatal(uint32_t code, const std::wstring& path) {
    return Failure(std::wstring(1, kFatalMarker) + WriteErrorText(code, path));
}

Outcome<Ok> Stopped() {
    return Failure(std::wstring(1, kFatalMarker) + CancelledText());
}

uint64_t SizeOnDisk(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Writes the bytes: the system's error when the write fails, the disk-full code when it reports
// success but writes less (a full disk may do that), ERROR_SUCCESS otherwise.
DWORD WriteAll(HANDLE file, const void* data, DWORD length) {
    DWORD written = 0;
    if (!::WriteFile(file, data, length, &written, nullptr)) {
        return ::GetLastError();
    }
    return written == length ? ERROR_SUCCESS : ERROR_DISK_FULL;
}

struct InflateResult {
    int lastResult = Z_OK;
    uint64_t count = 0;
    std::string digest;
    DWORD writeError = 0;
};

// One streaming pass: take the object piece by piece from `next` (an empty piece ends it), inflate,
// write to the staging file, count and hash. Stops early when the output would grow beyond the
// expected size, so a hostile stream cannot fill the disk.
template <class NextPiece>
InflateResult InflateInto(NextPiece next, HANDLE output, uint64_t expectedSize,
                          const std::stop_token& stopToken) {
    InflateResult result;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        result.lastResult = Z_STREAM_ERROR;
        return result;
    }
    Sha256 hash;
    std::vector<unsigned char> fresh;
    std::vector<unsigned char>& out = BufferOf(&WorkerBuffers::inflateOut, fresh, kOutputBuffer);
    bool stop = false;
    while (!stop && result.lastResult != Z_STREAM_END) {
        if (stopToken.stop_requested()) {
            break;
        }
        const std::span<const unsigned char> piece = next();
        if (piece.empty()) {
            break;
        }
        stream.next_in = const_cast<unsigned char*>(piece.data());
        stream.avail_in = static_cast<uInt>(piece.size());
        while (stream.avail_in > 0 && result.lastResult != Z_STREAM_END) {
            if (stopToken.stop_requested()) {
                stop = true;
                break;
            }
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            result.lastResult = inflate(&stream, Z_NO_FLUSH);
            if (result.lastResult != Z_OK && result.lastResult != Z_STREAM_END) {
                stop = true;
                break;
            }
            const DWORD produced = static_cast<DWORD>(out.size() - stream.avail_out);
            if (produced > expectedSize - result.count) {
                result.lastResult = Z_DATA_ERROR;
                stop = true;
                break;
            }
            if (produced > 0) {
                result.writeError = WriteAll(output, out.data(), produced);
                if (result.writeError != ERROR_SUCCESS) {
                    stop = true;
                    break;
                }
            }
            hash.Update(out.data(), produced);
            result.count += produced;
        }
    }
    inflateEnd(&stream);
    result.digest = hash.Finish().value_or(std::string());
    return result;
}

// The staging file, created anew; its folder is made only when it is missing, so a run does not ask
// for the folders of every file it places.
FileHandle CreateStaging(const std::wstring& staging) {
    const auto create = [&] {
        return FileHandle(::CreateFileW(staging.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    FileHandle file = create();
    if (!file && ::GetLastError() == ERROR_PATH_NOT_FOUND) {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(staging).parent_path(), ignored);
        file = create();
    }
    return file;
}

// The end of an inflation into the staging file: flushed and closed when good; removed otherwise.
Outcome<Ok> FinishStaging(const FileEntry& entry, FileHandle& output, const std::wstring& staging,
                          InflateResult& inflated, std::stop_token stopToken) {
    // The staged data reaches the disk before the move that puts it in place.
    if (inflated.writeError == 0 && inflated.lastResult == Z_STREAM_END && inflated.count == entry.size &&
        inflated.digest == entry.sha256 && !::FlushFileBuffers(output.Get())) {
        inflated.writeError = ::GetLastError();
    }
    output.Reset();
    if (inflated.writeError != 0) {
        ::DeleteFileW(staging.c_str());
        return Fatal(inflated.writeError, staging);
    }
    if (inflated.lastResult != Z_STREAM_END || inflated.count != entry.size ||
        inflated.digest != entry.sha256) {
        ::DeleteFileW(staging.c_str());
        return stopToken.stop_requested() ? Stopped() : Failure(CorruptObjectText());
    }
    return Success();
}

Outcome<Ok> InflateToStaging(const FileEntry& entry, const std::wstring& partPath,
                             const std::wstring& staging, std::stop_token stopToken) {
    FileHandle input(::CreateFileW(partPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!input) {
        return Fatal(::GetLastError(), partPath);
    }
    FileHandle output = CreateStaging(staging);
    if (!output) {
        return Fatal(::GetLastError(), staging);
    }
    std::vector<unsigned char> fresh;
    std::vector<unsigned char>& in = BufferOf(&WorkerBuffers::inflateIn, fresh, kInputBuffer);
    InflateResult inflated = InflateInto(
        [&]() -> std::span<const unsigned char> {
            DWORD read = 0;
            if (!::ReadFile(input.Get(), in.data(), static_cast<DWORD>(in.size()), &read, nullptr)) {
                return {};
            }
            return {in.data(), read};
        },
        output.Get(), entry.size, stopToken);
    input.Reset();
    return FinishStaging(entry, output, staging, inflated, stopToken);
}

// Moves the verified staging file over the destination, or removes it when that fails.
Outcome<Ok> PlaceStaging(const std::wstring& staging, const std::wstring& destPath) {
    if (const DWORD error = MoveIntoPlace(staging, destPath); error != ERROR_SUCCESS) {
        ::DeleteFileW(staging.c_str());
        return Fatal(error, destPath);
    }
    return Success();
}

} // namespace

std::wstring CorruptObjectText() {
    return Pick(L"Downloaded file is corrupt (verification failed), downloading again.",
                L"İndirilen dosya bozuk (doğrulama başarısız), yeniden indiriliyor.");
}

std::wstring StagingPath(const std::wstring& destPath) {
    return destPath + L".ovnew";
}

std::wstring FileNameOf(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

Outcome<Ok> StageObject(const FileEntry& entry, const std::wstring& partPath, const std::wstring& destPath,
                        std::stop_token stopToken) {
    const std::wstring staging = StagingPath(destPath);
    if (entry.compressed) {
        auto inflated = InflateToStaging(entry, partPath, staging, stopToken);
        return inflated ? PlaceStaging(staging, destPath) : inflated;
    }
    const auto digest = Sha256OfFile(partPath, stopToken);
    if (stopToken.stop_requested()) {
        return Stopped();
    }
    if (!digest || *digest != entry.sha256 || SizeOnDisk(partPath) != entry.size) {
        return Failure(CorruptObjectText());
    }
    if (const DWORD error = FlushFileData(partPath); error != ERROR_SUCCESS) {
        return Fatal(error, partPath);
    }
    // The .part itself is the file; it stays where it is when it cannot be moved.
    if (const DWORD error = MoveIntoPlace(partPath, destPath); error != ERROR_SUCCESS) {
        return Fatal(error, destPath);
    }
    return Success();
}

Outcome<Ok> StageBytes(const FileEntry& entry, std::span<const char> object, const std::wstring& destPath,
                       std::stop_token stopToken) {
    const std::wstring staging = StagingPath(destPath);
    const auto bytes =
        std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(object.data()), object.size());
    if (!entry.compressed &&
        (object.size() != entry.size || Sha256Hex({object.data(), object.size()}) != entry.sha256)) {
        return stopToken.stop_requested() ? Stopped() : Failure(CorruptObjectText());
    }
    FileHandle output = CreateStaging(staging);
    if (!output) {
        return Fatal(::GetLastError(), staging);
    }
    InflateResult staged;
    if (entry.compressed) {
        bool given = false;
        staged = InflateInto(
            [&]() -> std::span<const unsigned char> {
                const bool first = !given;
                given = true;
                return first ? bytes : std::span<const unsigned char>();
            },
            output.Get(), entry.size, stopToken);
    } else {
        // Verified above: written as it is.
        staged.lastResult = Z_STREAM_END;
        staged.count = object.size();
        staged.digest = entry.sha256;
        if (!object.empty()) {
            staged.writeError = WriteAll(output.Get(), object.data(), static_cast<DWORD>(object.size()));
        }
    }
    if (Outcome<Ok> finished = FinishStaging(entry, output, staging, staged, stopToken); !finished) {
        return finished;
    }
    return PlaceStaging(staging, destPath);
}

unsigned long MoveIntoPlace(const std::wstring& source, const std::wstring& destPath) {
    constexpr DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (::MoveFileExW(source.c_str(), destPath.c_str(), flags)) {
        return ERROR_SUCCESS;
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) {
        // The destination's folder is made only when it is missing.
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(destPath).parent_path(), ignored);
        if (::MoveFileExW(source.c_str(), destPath.c_str(), flags)) {
            return ERROR_SUCCESS;
        }
        error = ::GetLastError();
    }
    if (error != ERROR_ACCESS_DENIED) {
        return error;
    }
    ::SetFileAttributesW(destPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    return ::MoveFileExW(source.c_str(), destPath.c_str(), flags) ? ERROR_SUCCESS : ::GetLastError();
}

std::wstring WriteErrorText(uint32_t code, const std::wstring& path) {
    switch (code) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return Pick(L"The disk is full.", L"Diskte yer kalmadı.");
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return fmt::format(L"{} ({})",
                           Pick(L"File in use: close the game and try again.",
                                L"Dosya kullanımda: oyunu kapatıp tekrar deneyin."),
                           FileNameOf(path));
    case ERROR_ACCESS_DENIED:
        return fmt::format(
            L"{} ({})",
            Pick(L"Cannot write the file: close the game if it is running; antivirus or folder permissions "
                 L"may block "
                 L"it.",
                 L"Dosya yazılamadı: oyun açıksa kapatın; antivirüs ya da klasör izni engelliyor olabilir."),
            path);
    default:
        return fmt::format(L"{}: {}", FileNameOf(path), ErrorText(code));
    }
}

} // namespace Orv
