#pragma once
#include <string>

namespace Orv {

// The installed launcher's file name in the install folder.
inline constexpr const wchar_t* kInstalledExeName = L"Orvane.exe";

// The outcome of an installation; on failure the message is the whole text for the user.
struct InstallResult {
    bool ok = false;
    std::wstring message;
};

// Makes the folder the launcher's home: the folder and its data folder, a copy of the running launcher
// as Orvane.exe, the Start menu shortcut (and the desktop one when wanted), and the uninstall entry.
// Needs COM on the calling thread.
InstallResult Install(const std::wstring& folder, bool desktopShortcut);

} // namespace Orv
