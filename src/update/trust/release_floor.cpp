#include "update/trust/release_floor.h"

#include "core/handles.h"
#include "core/log.h"
#include "core/text.h"

#include <windows.h>

#include <fmt/xchar.h>

namespace Orv {
namespace {

// A path function that fills a buffer and tells the size it needs: the result, or nothing.
template <class Call>
std::optional<std::wstring> AskPath(Call call) {
    const DWORD needed = call(nullptr, 0);
    if (needed == 0) {
        return std::nullopt;
    }
    std::wstring path(needed, L'\0');
    const DWORD length = call(path.data(), needed);
    if (length == 0 || length >= needed) {
        return std::nullopt;
    }
    path.resize(length);
    return path;
}

// The same name for every spelling of the folder: full, long, upper-case, without a final separator.
std::wstring ValueName(const std::wstring& gameFolder) {
    std::wstring name = AskPath([&](wchar_t* out, DWORD size) {
                            return ::GetFullPathNameW(gameFolder.c_str(), size, out, nullptr);
                        }).value_or(gameFolder);
    if (auto longName =
            AskPath([&](wchar_t* out, DWORD size) { return ::GetLongPathNameW(name.c_str(), out, size); })) {
        name = std::move(*longName);
    }
    while (name.size() > 3 && (name.back() == L'\\' || name.back() == L'/')) {
        name.pop_back();
    }
    ::CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    return name;
}

// The value, or nothing; `error` is the registry's code (ERROR_FILE_NOT_FOUND when there is none).
std::optional<int32_t> ReadValue(const std::wstring& name, LSTATUS& error) {
    DWORD value = 0;
    DWORD size = sizeof value;
    error = ::RegGetValueW(HKEY_CURRENT_USER, kReleaseFloorKey, name.c_str(), RRF_RT_REG_DWORD, nullptr,
                           &value, &size);
    if (error != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

bool IsEmptyKey(const wchar_t* path) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return false;
    }
    const RegKey key(opened);
    DWORD subkeys = 0;
    DWORD values = 0;
    return ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                              nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

} // namespace

std::optional<int32_t> ReadReleaseFloor(const std::wstring& gameFolder) {
    const std::wstring name = ValueName(gameFolder);
    LSTATUS error = ERROR_SUCCESS;
    auto floor = ReadValue(name, error);
    if (!floor && error != ERROR_FILE_NOT_FOUND) {
        Log(fmt::format(L"release floor: HKCU\\{} \"{}\" cannot be read: {}; not counted", kReleaseFloorKey,
                        name, ErrorText(static_cast<uint32_t>(error))));
    }
    return floor;
}

void RaiseReleaseFloor(const std::wstring& gameFolder, int32_t release) {
    const std::wstring name = ValueName(gameFolder);
    LSTATUS error = ERROR_SUCCESS;
    if (const auto floor = ReadValue(name, error); floor && *floor >= release) {
        return;
    }
    HKEY created = nullptr;
    error = ::RegCreateKeyExW(HKEY_CURRENT_USER, kReleaseFloorKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE, nullptr, &created, nullptr);
    if (error != ERROR_SUCCESS) {
        Log(fmt::format(L"release floor: HKCU\\{} cannot be created: {}", kReleaseFloorKey,
                        ErrorText(static_cast<uint32_t>(error))));
        return;
    }
    const RegKey key(created);
    const DWORD value = static_cast<DWORD>(release);
    error = ::RegSetValueExW(key.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                             sizeof value);
    if (error != ERROR_SUCCESS) {
        Log(fmt::format(L"release floor: \"{}\" cannot be written: {}", name,
                        ErrorText(static_cast<uint32_t>(error))));
    }
}

void RemoveReleaseFloor(const std::wstring& gameFolder) {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kReleaseFloorKey, ValueName(gameFolder).c_str());
    if (IsEmptyKey(kReleaseFloorKey)) {
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kReleaseFloorKey);
    }
    if (IsEmptyKey(kLauncherKey)) {
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kLauncherKey);
    }
}

} // namespace Orv
