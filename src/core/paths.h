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

// The launcher's log in the game folder's data folder.
std::wstring LogFilePath(const std::wstring& gameFolder);

// True when the folder holds a ".orvane" directory or an "Engine.exe" file.
bool IsInstallFolder(const std::wstring& folder);

bool IsDirectory(const std::wstring& path);
bool IsRegularFile(const std::wstring& path);

// The path as the file-system calls take it: made full and normalised (GetFullPathNameW: the current
// folder for a relative path, "." and ".." resolved, "/" as "\"), in the extended-length form
// ("\\?\C:\..." or "\\?\UNC\server\share\..."), so that Windows takes paths beyond 260 characters. A path
// that is already extended, or a device path, stays as it is. Only the calls get it: the paths that are
// shown, logged or written into files stay as they were.
std::wstring LongPath(const std::wstring& path);

// Makes the folder and every missing folder above it; the system's error code, 0 when it exists.
unsigned long EnsureFolder(const std::wstring& path);

} // namespace Orv
