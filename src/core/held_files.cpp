#include "core/held_files.h"

#include "core/paths.h"
#include "core/log.h"

#include <windows.h>

#include <algorithm>
#include <fmt/xchar.h>

namespace Orv {
namespace {

constexpr DWORD kFirstPauseMs = 25;
constexpr DWORD kLongestPauseMs = 500;

// The pauses between tries: growing, and together about kHeldFileWaitMs. Calls `again` after each pause
// until it says the waiting is over; returns the milliseconds waited.
template <class Again>
uint32_t WaitAndTry(std::stop_token stopToken, Again again) {
    uint32_t waited = 0;
    for (DWORD pause = kFirstPauseMs; waited < kHeldFileWaitMs && !stopToken.stop_requested();
         pause = std::min<DWORD>(pause * 2, kLongestPauseMs)) {
        ::Sleep(pause);
        waited += pause;
        if (!again()) {
            break;
        }
    }
    return waited;
}

DWORD Done(BOOL succeeded) {
    return succeeded ? ERROR_SUCCESS : ::GetLastError();
}

} // namespace

bool IsHeldError(unsigned long code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED || code == ERROR_LOCK_VIOLATION;
}

unsigned long RetryWhileHeld(const std::wstring& path, const std::function<unsigned long()>& operation,
                             std::stop_token stopToken) {
    unsigned long code = operation();
    if (!IsHeldError(code)) {
        return code;
    }
    const uint32_t waited = WaitAndTry(stopToken, [&] {
        code = operation();
        return IsHeldError(code);
    });
    Log(code == ERROR_SUCCESS
            ? fmt::format(L"file {}: held by another program, free after {} ms", path, waited)
            : fmt::format(L"file {}: still held after {} ms", path, waited));
    return code;
}

unsigned long MoveFileWhenFree(const std::wstring& from, const std::wstring& to, unsigned long flags,
                               std::stop_token stopToken) {
    const auto move = [&] {
        return Done(::MoveFileExW(LongPath(from).c_str(), LongPath(to).c_str(), flags));
    };
    // A folder in the file's place is no program's passing hold: it fails at once.
    if (const DWORD error = move(); error == ERROR_SUCCESS || IsDirectory(to)) {
        return error;
    }
    return RetryWhileHeld(to, move, stopToken);
}

unsigned long DeleteFileWhenFree(const std::wstring& path, std::stop_token stopToken) {
    return RetryWhileHeld(
        path, [&] { return Done(::DeleteFileW(LongPath(path).c_str())); }, stopToken);
}

unsigned long CopyFileWhenFree(const std::wstring& from, const std::wstring& to, std::stop_token stopToken) {
    return RetryWhileHeld(
        to, [&] { return Done(::CopyFileW(LongPath(from).c_str(), LongPath(to).c_str(), FALSE)); },
        stopToken);
}

FileDeletion DeleteFilesWhenFree(const std::vector<std::wstring>& paths) {
    FileDeletion result;
    std::vector<std::wstring> held;
    // Deleted, or failed for another reason than being held (then it is left).
    const auto settled = [&](const std::wstring& path) {
        if (::DeleteFileW(LongPath(path).c_str())) {
            ++result.deleted;
            return true;
        }
        if (IsHeldError(::GetLastError())) {
            return false;
        }
        result.left.push_back(path);
        return true;
    };
    for (const std::wstring& path : paths) {
        if (!settled(path)) {
            held.push_back(path);
        }
    }
    if (!held.empty()) {
        const size_t heldAtFirst = held.size();
        const uint32_t waited = WaitAndTry({}, [&] {
            std::erase_if(held, settled);
            return !held.empty();
        });
        Log(fmt::format(L"files: {} held by other programs, {} still held after {} ms", heldAtFirst,
                        held.size(), waited));
        result.left.insert(result.left.end(), held.begin(), held.end());
    }
    // A file that was not there is not left.
    std::erase_if(result.left, [](const std::wstring& path) {
        return ::GetFileAttributesW(LongPath(path).c_str()) == INVALID_FILE_ATTRIBUTES;
    });
    return result;
}

unsigned long RemoveFolderWhenFree(const std::wstring& path) {
    return RetryWhileHeld(path, [&] { return Done(::RemoveDirectoryW(LongPath(path).c_str())); });
}

} // namespace Orv
