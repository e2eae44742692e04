#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace Orv {

// Reads a whole file as bytes; nothing when it cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::wstring& path);

// Replaces the file's whole content in one step: the bytes go to "<path>.tmp", which is then moved
// over the file, so the file is never left cut short. False (and the old file kept) on failure.
bool ReplaceFileBytes(const std::wstring& path, std::string_view bytes);

} // namespace Orv
