#include "registry.h"

#include "core/handles.h"

#include <windows.h>

namespace Orv::Support {

bool UserKeyExists(const wchar_t* path) {
    HKEY opened = nullptr;
    const bool exists = ::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &opened) == ERROR_SUCCESS;
    const RegKey key(exists ? opened : nullptr);
    return exists;
}

std::optional<std::wstring> UserString(const wchar_t* path, const wchar_t* name) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer;
    if (::RegGetValueW(HKEY_CURRENT_USER, path, name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(buffer);
}

} // namespace Orv::Support
