#pragma once
#include <string>

namespace Orv {

inline constexpr const wchar_t* kDataFolderName = L".orvane";
inline constexpr const wchar_t* kLogFileName = L"launcher.log";

// Full path of the running executable.
std::wstring ExecutablePath();

// The path without its last component (and the separators before it).
std::wstring ParentFolder(const std::wstring& path);

// a + "\" + b, without doubling a separator that a already ends with.
std::wstring JoinPath(const std::wstring& a, const std::wstring& b);

// True when the folder holds a ".orvane" directory or an "Engine.exe" file.
bool IsInstallFolder(const std::wstring& folder);

bool IsDirectory(const std::wstring& path);
bool IsRegularFile(const std::wstring& path);

} // namespace Orv
