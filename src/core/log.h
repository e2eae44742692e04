#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace Orv {

// Rotates (above 4 MiB) and opens the log file for appending. Never fails visibly.
void OpenLog(const std::wstring& path);

// Writes one line "YYYY-MM-DD hh:mm:ss text\r\n" to the log (when open) and to the debugger output.
void Log(std::wstring_view text);

// The largest log that is kept as it is when the log is opened.
inline constexpr uint64_t kLogRotateSize = 4194304;

} // namespace Orv
