#pragma once
#include <windows.h>

#include <string>

namespace Orv {

inline constexpr const wchar_t* kUninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OrvaneLauncher";

// Writes the entry in the system's list of installed applications (current user). Silent on failure.
void Register(const std::wstring& folder, const std::wstring& version);

// Writes the game's pre-login server address; nothing for an empty address. Silent on failure.
void SetPreServerAddress(const std::wstring& address);

// One REG_SZ value with its terminating zero; the result is ignored.
void SetStringValue(HKEY key, const wchar_t* name, const std::wstring& text);

} // namespace Orv
