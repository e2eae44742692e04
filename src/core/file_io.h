#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace Orv {

// Reads a whole file as bytes; nothing when it cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::wstring& path);

// Makes the file's data durable on the disk (FlushFileBuffers), so that a move of the file that
// the system journals never stands over data that is still only in memory. Returns the system's
// error code, ERROR_SUCCESS (0) when the data is on the disk.
unsigned long FlushFileData(const std::wstring& path);

enum class ReplaceStatus { Replaced, NotWritten, NotMoved };

// Replaces the file's whole content in one step: the bytes go to "<path>.tmp", which is then moved
// over the file, so the file is never left cut short. On failure the old file is kept and the
// temporary removed.
ReplaceStatus ReplaceFileContent(const std::wstring& path, std::string_view bytes);

inline bool ReplaceFileBytes(const std::wstring& path, std::string_view bytes) {
    return ReplaceFileContent(path, bytes) == ReplaceStatus::Replaced;
}

} // namespace Orv
