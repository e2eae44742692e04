#pragma once
#include <windows.h>

#include <shtypes.h>

#include <string>

namespace Orv {

inline constexpr const wchar_t* kShortcutName = L"Orvane.lnk";

// "Orvane.lnk" in the known folder; empty when the folder is unknown.
std::wstring ShortcutPath(const KNOWNFOLDERID& folder);

// A shell link to the executable: started in its folder, with its first icon and the description
// "Orvane". Replaces an existing file. Needs COM on the calling thread.
bool CreateShortcut(const std::wstring& shortcutPath, const std::wstring& target);

// The target path stored in a shell link; empty when it cannot be read.
std::wstring ReadShortcutTarget(const std::wstring& shortcutPath);

} // namespace Orv
