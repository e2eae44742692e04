#pragma once
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

// On-access scanners, the search indexer and backup or sync agents open freshly written and
// about-to-change files for a moment, often without delete sharing: a move onto such a file, or a delete
// or copy of it, is refused (sharing or lock violation, access denied) until they let go. The file
// operations below try again then, with growing pauses, for about kHeldFileWaitMs in all (ending early
// when a stop is requested), and log one line when they had to wait. A file that stays held (a running
// game) fails as it would have at once, only later.
namespace Orv {

inline constexpr uint32_t kHeldFileWaitMs = 5000;

// Whether the system's error code may mean that another program holds the file for now.
bool IsHeldError(unsigned long code);

// Runs the operation (it returns the system's error code, 0 when it is done) until it is done, fails
// otherwise, the time is up or a stop is requested; returns its last code. `path` names the file in the
// log line.
unsigned long RetryWhileHeld(const std::wstring& path, const std::function<unsigned long()>& operation,
                             std::stop_token stopToken = {});

// MoveFileExW, DeleteFileW and CopyFileW (overwriting) that wait while the file is held; the system's
// error code, 0 when done.
unsigned long MoveFileWhenFree(const std::wstring& from, const std::wstring& to, unsigned long flags,
                               std::stop_token stopToken = {});
unsigned long DeleteFileWhenFree(const std::wstring& path, std::stop_token stopToken = {});
unsigned long CopyFileWhenFree(const std::wstring& from, const std::wstring& to,
                               std::stop_token stopToken = {});

struct FileDeletion {
    size_t deleted = 0;             // files that were there and went
    std::vector<std::wstring> left; // files that are there still
};

// Deletes the files; the ones that are held are tried again together, for about kHeldFileWaitMs in all.
FileDeletion DeleteFilesWhenFree(const std::vector<std::wstring>& paths);

// RemoveDirectoryW that waits while the folder is held; the system's error code, 0 when done.
unsigned long RemoveFolderWhenFree(const std::wstring& path);

} // namespace Orv
