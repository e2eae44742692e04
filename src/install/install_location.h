#pragma once
#include <windows.h>

#include <shtypes.h>

#include <string>

namespace Orv {

// The conventional install folder, first candidate of the default.
inline constexpr const wchar_t* kConventionalFolder = L"C:\\Games\\Orvane";
inline constexpr const wchar_t* kProductFolderName = L"Orvane";
// Where an earlier installer recorded the game's folder ("InstallLocation").
inline constexpr const wchar_t* kEarlierInstallerKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane_is1";

// The system's path of a known folder, created when missing; empty when the system cannot give it.
std::wstring KnownFolderPath(const KNOWNFOLDERID& id);

// The per-user programs folder. Where the system has no such known folder, the Programs folder
// under the local application data folder, which is where Windows puts it.
std::wstring UserProgramsFolder();

// The folder the setup window proposes: an existing installation at a known place, else the
// per-user programs folder joined with "Orvane".
std::wstring DefaultInstallFolder();

// True when the folder text starts with Program Files, Program Files (x86) or Windows (any case); for
// a 32-bit launcher on 64-bit Windows that includes the 64-bit Program Files.
bool IsProtectedFolder(const std::wstring& folder);

// The install folder offered for a folder picked in the folder picker: the folder itself when it is
// empty or already an installation, else its subfolder "Orvane". A folder that cannot be read counts
// as not empty.
std::wstring InstallFolderForPick(const std::wstring& picked);

// Both name the same file-system object, or the texts are equal without regard to case.
bool SamePath(const std::wstring& a, const std::wstring& b);

// Whether a chosen install folder may be used: not empty, absolute, not a bare root, not protected.
bool IsAcceptableInstallFolder(const std::wstring& folder);

// The message shown when a folder is refused.
std::wstring InstallFolderRefusal();

} // namespace Orv
