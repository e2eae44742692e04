#include "update/downloader.h"

#include "core/handles.h"
#include "core/held_files.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "partners/download_server.h"
#include "update/file_cache.h"
#include "update/http_client.h"
#include "update/object_stage.h"
#include "update/run_texts.h"
#include "update/worker_buffers.h"

#include <windows.h>

#include <filesystem>
#include <fmt/xchar.h>
#include <unordered_set>

namespace Orv {
namespace {

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

bool Truncate(HANDLE file, uint64_t offset) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

// The names of the files the download folder holds.
std::unordered_set<std::wstring> NamesIn(const std::wstring& folder) {
    std::unordered_set<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const FindHandle find(::FindFirstFileW(JoinPath(LongPath(folder), L"*").c_str(), &found));
    if (find) {
        do {
            names.insert(found.cFileName);
        } while (::FindNextFileW(find.Get(), &found));
    }
    return names;
}

} // namespace

unsigned RetryPauseMs(int attempt) {
    return 1000U << (attempt - 1);
}

bool PauseBeforeAttempt(int attempt, std::stop_token stopToken) {
    for (unsigned waited = 0; waited < RetryPauseMs(attempt); waited += kPauseStepMs) {
        if (stopToken.stop_requested()) {
            return false;
        }
        ::Sleep(kPauseStepMs);
    }
    return true;
}

const std::wstring& Downloader::MirrorFor(int attempt) const {
    return (*mirrors_)[static_cast<size_t>(mirrorIndex_ + attempt) % mirrors_->size()];
}

Downloader::Downloader(const std::wstring& gameFolder, const std::vector<std::wstring>& mirrors,
                       int mirrorIndex, UpdateProgress& progress)
    : downloadFolder_(JoinPath(JoinPath(gameFolder, kDataFolderName), L"download")), mirrors_(&mirrors),
      mirrorIndex_(mirrorIndex), progress_(&progress) {
    EnsureFolder(downloadFolder_);
    partsAtStart_ = NamesIn(downloadFolder_);
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
    case ObjectKind::PackIndex:
        return DownloadServer::kPackIndexSuffix;
    case ObjectKind::File:
        break;
    }
    return entry.compressed ? DownloadServer::kCompressedSuffix : L"";
}

std::wstring ObjectUrlOf(const std::wstring& mirror, const FileEntry& entry) {
    if (entry.object == ObjectKind::PackIndex) {
        return DownloadServer::PackUrl(mirror, entry.sha256, DownloadServer::kPackIndexSuffix);
    }
    return DownloadServer::ObjectUrl(mirror, entry.sha256, ObjectSuffix(entry));
}

Outcome<Ok> Downloader::Get(const FileEntry& entry, const std::wstring& destPath, Slot* slot,
                            std::stop_token stopToken) const {
    const std::wstring part = PartPath(entry);
    Transfer transfer{*progress_, slot};
    // A small object comes into memory and goes straight to its staging file: a .part gains nothing
    // when a dropped transfer simply starts again. One that an earlier run left a .part of resumes it.
    const bool inMemory = entry.zsize <= kInMemoryObjectMax && !partsAtStart_.contains(FileNameOf(part));
    std::wstring lastMessage;
    Outcome<Ok> result = Failure(L"");
    for (int attempt = 0;; ++attempt) {
        if (attempt == kDownloadAttempts) {
            result = Failure(fmt::format(L"{}: {}", entry.path, lastMessage));
            break;
        }
        if (stopToken.stop_requested()) {
            result = Failure(CancelledText());
            break;
        }
        if (attempt > 0 && !PauseBeforeAttempt(attempt, stopToken)) {
            continue;
        }
        const std::wstring& mirror = MirrorFor(attempt);
        const Attempt tried = inMemory
                                  ? TryInMemory(entry, destPath, mirror, attempt, transfer, stopToken)
                                  : TryWithPart(entry, destPath, part, mirror, attempt, transfer, stopToken);
        if (tried.end == Attempt::End::Placed) {
            return Success();
        }
        if (tried.end == Attempt::End::Give) {
            result = Failure(tried.message);
            break;
        }
        lastMessage = tried.message;
    }
    // The bytes of a failed Get leave the progress; a .part that stays is counted again by the Get that
    // resumes it.
    transfer.Report(0);
    return result;
}

// After an attempt that brought the whole object: what its staging came to.
Downloader::Attempt Downloader::Staged(const FileEntry& entry, const Outcome<Ok>& staged,
                                       std::stop_token stopToken) const {
    if (staged) {
        return {Attempt::End::Placed, {}};
    }
    if (stopToken.stop_requested()) {
        // The object may be whole: the next run stages it again without a request.
        return {Attempt::End::Give, CancelledText()};
    }
    Log(fmt::format(L"place {}: {}", entry.path, staged.message));
    if (!staged.message.empty() && staged.message.front() == kFatalMarker) {
        return {Attempt::End::Give, staged.message.substr(1)};
    }
    return {Attempt::End::Retry, staged.message};
}

// A request that did not bring the object: the message for the log and, for a stop, the end.
Downloader::Attempt Downloader::Failed(const FileEntry& entry, const HttpResult& result,
                                       const std::wstring& mirror, int attempt,
                                       std::stop_token stopToken) const {
    if (result.overLimit) {
        Log(fmt::format(L"get {} from {} failed (attempt {}): longer than the object's {} bytes", entry.path,
                        mirror, attempt + 1, entry.zsize));
        return {Attempt::End::Retry, CorruptObjectText()};
    }
    const std::wstring message = HttpErrorText(result);
    Log(fmt::format(L"get {} from {} failed (attempt {}): {}", entry.path, mirror, attempt + 1, message));
    if (result.error == ERROR_CANCELLED && stopToken.stop_requested()) {
        return {Attempt::End::Give, message};
    }
    return {Attempt::End::Retry, message};
}

Downloader::Attempt Downloader::TryInMemory(const FileEntry& entry, const std::wstring& destPath,
                                            const std::wstring& mirror, int attempt, Transfer& transfer,
                                            std::stop_token stopToken) const {
    std::string fresh;
    std::string& body = BufferOf(&WorkerBuffers::object, fresh, 0);
    body.clear();
    transfer.Report(0);
    if (entry.zsize > 0) {
        const auto sink = [&](std::span<const char> chunk) {
            body.append(chunk.data(), chunk.size());
            transfer.Report(body.size());
            return true;
        };
        const HttpResult result =
            HttpGet(ObjectUrlOf(mirror, entry), false, 0, {entry.zsize, 0}, sink, stopToken);
        if (result.error != 0 || result.status != 200) {
            transfer.Report(0);
            return Failed(entry, result, mirror, attempt, stopToken);
        }
        if (body.size() != entry.zsize) {
            Log(fmt::format(L"get {}: short ({} of {}), retry", entry.path, body.size(), entry.zsize));
            transfer.Report(0);
            return {Attempt::End::Retry, InterruptedText()};
        }
    }
    const Attempt staged = Staged(entry, StageBytes(entry, body, destPath, stopToken), stopToken);
    if (staged.end == Attempt::End::Retry) {
        transfer.Report(0);
    }
    return staged;
}

Downloader::Attempt Downloader::TryWithPart(const FileEntry& entry, const std::wstring& destPath,
                                            const std::wstring& part, const std::wstring& mirror, int attempt,
                                            Transfer& transfer, std::stop_token stopToken) const {
    uint64_t offset = StatFile(part).size;
    if (offset > entry.zsize) {
        DeleteFileWhenFree(part, stopToken);
        offset = 0;
    }
    transfer.Report(offset);
    if (offset > 0 && offset < entry.zsize) {
        Log(fmt::format(L"resume {} at {} of {}", entry.path, offset, entry.zsize));
    }
    if (offset < entry.zsize) {
        FileHandle file(::CreateFileW(LongPath(part).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !Truncate(file.Get(), offset)) {
            return {Attempt::End::Give, WriteErrorText(::GetLastError(), part)};
        }
        DWORD writeError = 0;
        const auto sink = [&](std::span<const char> chunk) {
            DWORD written = 0;
            if (!::WriteFile(file.Get(), chunk.data(), static_cast<DWORD>(chunk.size()), &written, nullptr)) {
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
            HttpGet(ObjectUrlOf(mirror, entry), false, offset, {entry.zsize, 0}, sink, stopToken, onStatus);
        file.Reset();
        if (writeError != 0) {
            return {Attempt::End::Give, WriteErrorText(writeError, part)};
        }
        if (result.status == 416 || result.overLimit) {
            DeleteFileWhenFree(part, stopToken);
            transfer.Report(0);
        }
        if (result.error != 0 || (result.status != 200 && result.status != 206)) {
            return Failed(entry, result, mirror, attempt, stopToken);
        }
        const uint64_t size = StatFile(part).size;
        if (size != entry.zsize) {
            Log(fmt::format(L"get {}: {} ({} of {}), retry", entry.path,
                            size < entry.zsize ? L"short" : L"long", size, entry.zsize));
            return {Attempt::End::Retry, InterruptedText()};
        }
    }
    if (entry.zsize == 0 && !IsRegularFile(part)) {
        // An empty object needs no request, but staging reads it from its .part.
        FileHandle empty(::CreateFileW(LongPath(part).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!empty) {
            return {Attempt::End::Give, WriteErrorText(::GetLastError(), part)};
        }
    }
    const Attempt staged = Staged(entry, StageObject(entry, part, destPath, stopToken), stopToken);
    if (staged.end == Attempt::End::Placed) {
        DeleteFileWhenFree(part, stopToken);
    } else if (staged.end == Attempt::End::Retry) {
        DeleteFileWhenFree(part, stopToken);
        transfer.Report(0);
    }
    return staged;
}

} // namespace Orv
