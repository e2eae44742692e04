#include "update/downloader.h"

#include "core/handles.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "partners/download_server.h"
#include "update/file_cache.h"
#include "update/http_client.h"
#include "update/object_stage.h"

#include <windows.h>

#include <filesystem>
#include <fmt/xchar.h>

namespace Orv {
namespace {

constexpr int kAttempts = 5;
constexpr unsigned kPauseStepMs = 100;

} // namespace

// What one Get call keeps between its steps.
struct Downloader::Transfer {
    UpdateProgress& progress;
    Slot* slot;
    uint64_t reported = 0;

    // Publishes that n object bytes are in the .part file; the difference may be negative.
    void Report(uint64_t n) {
        progress.bytesDone.fetch_add(n - reported);
        reported = n;
        if (slot != nullptr) {
            slot->received.store(n);
        }
    }
};

namespace {

// Waits the pause in 100 ms steps; false when a stop was requested meanwhile.
bool Pause(unsigned milliseconds, std::stop_token stopToken) {
    for (unsigned waited = 0; waited < milliseconds; waited += kPauseStepMs) {
        if (stopToken.stop_requested()) {
            return false;
        }
        ::Sleep(kPauseStepMs);
    }
    return true;
}

bool Truncate(HANDLE file, uint64_t offset) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

} // namespace

unsigned RetryPauseMs(int attempt) {
    return 1000U << (attempt - 1);
}

Downloader::Downloader(const std::wstring& gameFolder, const std::vector<std::wstring>& mirrors,
                       int mirrorIndex, UpdateProgress& progress)
    : downloadFolder_(JoinPath(JoinPath(gameFolder, kDataFolderName), L"download")), mirrors_(&mirrors),
      mirrorIndex_(mirrorIndex), progress_(&progress) {
    std::error_code ignored;
    std::filesystem::create_directories(downloadFolder_, ignored);
}

std::wstring Downloader::PartPath(const FileEntry& entry) const {
    return JoinPath(downloadFolder_, Utf8ToWide(entry.sha256) + ObjectSuffix(entry) + L".part");
}

const wchar_t* ObjectSuffix(const FileEntry& entry) {
    switch (entry.object) {
    case ObjectKind::Chunk:
        return DownloadServer::kChunkSuffix;
    case ObjectKind::ChunkList:
        return DownloadServer::kChunkListSuffix;
    case ObjectKind::File:
        break;
    }
    return entry.compressed ? DownloadServer::kCompressedSuffix : L"";
}

Outcome<Ok> Downloader::Get(const FileEntry& entry, const std::wstring& destPath, Slot* slot,
                            std::stop_token stopToken) const {
    const std::wstring part = PartPath(entry);
    Transfer transfer{*progress_, slot};
    // The bytes of a failed Get leave the progress; a .part that stays is counted again by the Get that
    // resumes it.
    Outcome<Ok> result = Fetch(entry, destPath, part, transfer, stopToken);
    if (!result) {
        transfer.Report(0);
    }
    return result;
}

Outcome<Ok> Downloader::Fetch(const FileEntry& entry, const std::wstring& destPath, const std::wstring& part,
                              Transfer& transfer, std::stop_token stopToken) const {
    std::wstring lastMessage;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (stopToken.stop_requested()) {
            return Failure(CancelledText());
        }
        if (attempt > 0 && !Pause(RetryPauseMs(attempt), stopToken)) {
            continue;
        }
        const std::wstring& mirror =
            (*mirrors_)[static_cast<size_t>(mirrorIndex_ + attempt) % mirrors_->size()];

        uint64_t offset = StatFile(part).size;
        if (offset > entry.zsize) {
            ::DeleteFileW(part.c_str());
            offset = 0;
        }
        transfer.Report(offset);
        if (offset > 0 && offset < entry.zsize) {
            Log(fmt::format(L"resume {} at {} of {}", entry.path, offset, entry.zsize));
        }

        bool complete = offset == entry.zsize;
        if (!complete) {
            FileHandle file(::CreateFileW(part.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file || !Truncate(file.Get(), offset)) {
                return Failure(WriteErrorText(::GetLastError(), part));
            }
            DWORD writeError = 0;
            const auto sink = [&](std::span<const char> chunk) {
                DWORD written = 0;
                if (!::WriteFile(file.Get(), chunk.data(), static_cast<DWORD>(chunk.size()), &written,
                                 nullptr)) {
                    writeError = ::GetLastError();
                    return false;
                }
                if (written != chunk.size()) {
                    // A full disk may take part of a write and report success.
                    writeError = ERROR_DISK_FULL;
                    return false;
                }
                transfer.Report(transfer.reported + chunk.size());
                return true;
            };
            const auto onStatus = [&](unsigned long status) {
                if (status == 200 && offset > 0) {
                    Truncate(file.Get(), 0);
                    transfer.Report(0);
                }
            };
            // No answer may grow the .part beyond the object's size.
            const HttpResult result =
                HttpGet(DownloadServer::ObjectUrl(mirror, entry.sha256, ObjectSuffix(entry)), false, offset,
                        {entry.zsize, 0}, sink, stopToken, onStatus);
            file.Reset();

            if (writeError != 0) {
                return Failure(WriteErrorText(writeError, part));
            }
            if (result.status == 416 || result.overLimit) {
                ::DeleteFileW(part.c_str());
                transfer.Report(0);
            }
            if (result.overLimit) {
                lastMessage = CorruptObjectText();
                Log(fmt::format(L"get {} from {} failed (attempt {}): longer than the object's {} bytes",
                                entry.path, mirror, attempt + 1, entry.zsize));
            } else if (result.error == 0 && (result.status == 200 || result.status == 206)) {
                const uint64_t size = StatFile(part).size;
                complete = size == entry.zsize;
                if (!complete) {
                    lastMessage = Pick(L"The download was interrupted.", L"İndirme yarıda kesildi.");
                    Log(fmt::format(L"get {}: {} ({} of {}), retry", entry.path,
                                    size < entry.zsize ? L"short" : L"long", size, entry.zsize));
                }
            } else {
                lastMessage = HttpErrorText(result);
                Log(fmt::format(L"get {} from {} failed (attempt {}): {}", entry.path, mirror, attempt + 1,
                                lastMessage));
                if (result.error == ERROR_CANCELLED && stopToken.stop_requested()) {
                    return Failure(lastMessage);
                }
            }
        }
        if (!complete) {
            continue;
        }

        if (entry.zsize == 0 && !IsRegularFile(part)) {
            // An empty object needs no request, but staging reads it from its .part.
            FileHandle empty(::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!empty) {
                return Failure(WriteErrorText(::GetLastError(), part));
            }
        }
        const Outcome<Ok> staged = StageObject(entry, part, destPath, stopToken);
        if (staged) {
            ::DeleteFileW(part.c_str());
            return staged;
        }
        if (stopToken.stop_requested()) {
            // The object may be whole: the next run stages it again without a request.
            return Failure(CancelledText());
        }
        lastMessage = staged.message;
        Log(fmt::format(L"place {}: {}", entry.path, lastMessage));
        if (!lastMessage.empty() && lastMessage.front() == kFatalMarker) {
            return Failure(lastMessage.substr(1));
        }
        ::DeleteFileW(part.c_str());
        transfer.Report(0);
    }
    return Failure(fmt::format(L"{}: {}", entry.path, lastMessage));
}

} // namespace Orv
