#include "update/patch/patch_assembly.h"

#include "core/paths.h"
#include "core/held_files.h"
#include "core/handles.h"
#include "core/text.h"
#include "update/patch/chunker.h"
#include "update/object_stage.h"
#include "update/sha256.h"

#include <windows.h>

#include <filesystem>
#include <fmt/xchar.h>
#include <vector>

namespace Orv {
namespace {

FileHandle OpenForReading(const std::wstring& path) {
    return FileHandle(::CreateFileW(LongPath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// Reads exactly `length` bytes from the file's current position: the system's error code, with
// ERROR_HANDLE_EOF for a file that ends before them.
DWORD ReadExactly(HANDLE file, unsigned char* buffer, size_t length) {
    while (length > 0) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer, static_cast<DWORD>(length), &read, nullptr)) {
            return ::GetLastError();
        }
        if (read == 0) {
            return ERROR_HANDLE_EOF;
        }
        buffer += read;
        length -= read;
    }
    return ERROR_SUCCESS;
}

// Reads one chunk's bytes into the buffer; the failure is the reason.
Outcome<Ok> ReadChunk(const PatchChunk& chunk, HANDLE oldFile, const std::wstring& downloadFolder,
                      unsigned char* buffer) {
    if (chunk.oldOffset) {
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(*chunk.oldOffset);
        const DWORD error = ::SetFilePointerEx(oldFile, position, nullptr, FILE_BEGIN)
                                ? ReadExactly(oldFile, buffer, chunk.size)
                                : ::GetLastError();
        if (error != ERROR_SUCCESS) {
            return Failure(
                fmt::format(L"the older file cannot be read at {}: {}", *chunk.oldOffset, ErrorText(error)));
        }
        return Success();
    }
    const FileHandle file = OpenForReading(ChunkFilePath(downloadFolder, chunk.sha256));
    const DWORD error = file ? ReadExactly(file.Get(), buffer, chunk.size) : ::GetLastError();
    if (error != ERROR_SUCCESS) {
        return Failure(
            fmt::format(L"the chunk {} cannot be read: {}", Utf8ToWide(chunk.sha256), ErrorText(error)));
    }
    return Success();
}

// Writing or moving the rebuilt file failed: the whole object would meet the same, so the message is the
// one its placement gives, behind the fatal marker.
Outcome<Ok> PlacementFailure(DWORD error, const std::wstring& path) {
    return Failure(std::wstring(1, kFatalMarker) + WriteErrorText(error, path));
}

} // namespace

Outcome<Ok> AssemblePatch(const PatchPlan& plan, const FileEntry& entry, const std::wstring& destPath,
                          const std::wstring& downloadFolder, std::stop_token stopToken) {
    EnsureFolder(ParentFolder(destPath));
    const std::wstring staging = StagingPath(destPath);
    Sha256 hash;
    uint64_t written = 0;
    {
        FileHandle oldFile = OpenForReading(plan.oldPath);
        if (!oldFile) {
            const DWORD error = ::GetLastError();
            // A file that another program holds cannot be replaced by the whole object either.
            if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
                return PlacementFailure(error, plan.oldPath);
            }
            return Failure(fmt::format(L"the older file cannot be opened: {}", ErrorText(error)));
        }
        FileHandle output(::CreateFileW(LongPath(staging).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!output) {
            return PlacementFailure(::GetLastError(), staging);
        }
        std::vector<unsigned char> buffer(kChunkMax);
        Outcome<Ok> result = Success();
        for (const PatchChunk& chunk : plan.chunks) {
            if (stopToken.stop_requested()) {
                result = Failure(std::wstring(1, kFatalMarker) + CancelledText());
                break;
            }
            if (chunk.size > buffer.size()) {
                result = Failure(L"a chunk is larger than the largest chunk size");
                break;
            }
            if (result = ReadChunk(chunk, oldFile.Get(), downloadFolder, buffer.data()); !result) {
                break;
            }
            DWORD done = 0;
            if (!::WriteFile(output.Get(), buffer.data(), static_cast<DWORD>(chunk.size), &done, nullptr)) {
                result = PlacementFailure(::GetLastError(), staging);
                break;
            }
            if (done != chunk.size) {
                // A full disk may take part of a write and report success.
                result = PlacementFailure(ERROR_DISK_FULL, staging);
                break;
            }
            hash.Update(buffer.data(), chunk.size);
            written += chunk.size;
        }
        if (result && !::FlushFileBuffers(output.Get())) {
            result = PlacementFailure(::GetLastError(), staging);
        }
        if (!result) {
            output.Reset();
            DeleteFileWhenFree(staging, stopToken);
            return result;
        }
    }
    if (written != entry.size || hash.Finish() != entry.sha256) {
        DeleteFileWhenFree(staging, stopToken);
        return Failure(L"the rebuilt file is not the listed file");
    }
    if (const DWORD error = MoveIntoPlace(staging, destPath, stopToken); error != ERROR_SUCCESS) {
        DeleteFileWhenFree(staging, stopToken);
        return PlacementFailure(error, destPath);
    }
    return Success();
}

} // namespace Orv
