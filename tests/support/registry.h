#pragma once
#include <optional>
#include <string>

namespace Orv::Support {

// Whether the key exists under HKEY_CURRENT_USER.
bool UserKeyExists(const wchar_t* path);

// A REG_SZ value under HKEY_CURRENT_USER; nothing when the key or value is missing or of another type.
std::optional<std::wstring> UserString(const wchar_t* path, const wchar_t* name);

} // namespace Orv::Support
