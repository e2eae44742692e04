#pragma once
#include <cstdint>
#include <string>

namespace Orv {

// 32-bit FNV-1a over the UTF-16 code units of the text, low byte first.
uint32_t Fnv1a(const std::wstring& text);

// "Local\OrvaneLauncher_" followed by the decimal hash of the launcher folder's path text.
std::wstring InstanceLockName(const std::wstring& folder);

} // namespace Orv
