#include "update/object_stage.h"

#include "core/paths.h"
#include "core/file_io.h"
#include "core/handles.h"
#include "core/held_files.h"
#include "core/text.h"
#include "update/sha256.h"
#include "update/staging_stream.h"
#include "update/worker_buffers.h"

#include <windows.h>

#include <filesystem>
#include <fmt/xchar.h>
#include <span>
#include <vector>

namespace Orv {
namespace {

constexpr size_t kInputBuffer = 65536;

Outcome<Ok> Fatal(uint32_t code, const std::wstring& path) {
    return Failure(std::wstring(1, kFatalMarker) + WriteErrorText(code, path));
}

Outcome<Ok> Stopped() {
    return Failure(std::wstring(1, kFatalMarker) + CancelledText());
}

uint64_t SizeOnDisk(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

Outcome<Ok> InflateToStaging(const FileEntry& entry, const std::wstring& partPath,
                             const std::wstring& destPath, std::stop_token stopToken) {
    FileHandle input(::CreateFileW(LongPath(partPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!input) {
        return Fatal(::GetLastError(), partPath);
    }
    StagingStream stream(entry, destPath);
    std::vector<unsigned char> fresh;
    std::vector<unsigned char>& in = BufferOf(&WorkerBuffers::inflateIn, fresh, kInputBuffer);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(input.Get(), in.data(), static_cast<DWORD>(in.size()), &read, nullptr) || read == 0 ||
            !stream.Feed({in.data(), read}, stopToken)) {
            break;
        }
    }
    input.Reset();
    return stream.Finish(stopToken);
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
    if (entry.compressed) {
        return InflateToStaging(entry, partPath, destPath, stopToken);
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
    if (const DWORD error = MoveIntoPlace(partPath, destPath, stopToken); error != ERROR_SUCCESS) {
        return Fatal(error, destPath);
    }
    return Success();
}

Outcome<Ok> StageBytes(const FileEntry& entry, std::span<const char> object, const std::wstring& destPath,
                       std::stop_token stopToken) {
    if (!entry.compressed &&
        (object.size() != entry.size || Sha256Hex({object.data(), object.size()}) != entry.sha256)) {
        // A stored object is verified before any file is made.
        return stopToken.stop_requested() ? Stopped() : Failure(CorruptObjectText());
    }
    StagingStream stream(entry, destPath);
    stream.Feed({reinterpret_cast<const unsigned char*>(object.data()), object.size()}, stopToken);
    return stream.Finish(stopToken);
}

unsigned long MoveIntoPlace(const std::wstring& source, const std::wstring& destPath,
                            std::stop_token stopToken) {
    constexpr DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    const auto move = [&] {
        return ::MoveFileExW(LongPath(source).c_str(), LongPath(destPath).c_str(), flags);
    };
    const auto attempt = [&]() -> unsigned long {
        if (move()) {
            return ERROR_SUCCESS;
        }
        DWORD error = ::GetLastError();
        if (error == ERROR_PATH_NOT_FOUND) {
            // The destination's folder is made only when it is missing.
            EnsureFolder(ParentFolder(destPath));
            if (move()) {
                return ERROR_SUCCESS;
            }
            error = ::GetLastError();
        }
        if (error != ERROR_ACCESS_DENIED) {
            return error;
        }
        // A read-only destination: its attribute is cleared, and the move tried again.
        ::SetFileAttributesW(LongPath(destPath).c_str(), FILE_ATTRIBUTE_NORMAL);
        return move() ? ERROR_SUCCESS : ::GetLastError();
    };
    // A folder in the file's place is no program's passing hold: it fails at once.
    if (const unsigned long error = attempt(); error == ERROR_SUCCESS || IsDirectory(destPath)) {
        return error;
    }
    return RetryWhileHeld(destPath, attempt, stopToken);
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
