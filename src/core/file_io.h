#pragma once
#include <optional>
#include <string>

namespace Orv {

// Reads a whole file as bytes; nothing when it cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::wstring& path);

} // namespace Orv
