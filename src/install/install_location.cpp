#include "install/install_location.h"

#include "core/com_ptr.h"
#include "core/handles.h"
#include "core/paths.h"
#include "core/text.h"
#include "install/folder_cleanup.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cwctype>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace Orv {
namespace {

std::wstring ResolveKnownFolder(const KNOWNFOLDERID& id, DWORD flags) {
    CoTaskMemory<wchar_t> path;
    if (FAILED(::SHGetKnownFolderPath(id, flags, nullptr, path.Put())) || path.Get() == nullptr) {
        return {};
    }
    return path.Get();
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring EarlierInstallLocation() {
    RegKey key;
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kEarlierInstallerKey, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return {};
    }
    key.Reset(opened);
    wchar_t buffer[260] = {};
    DWORD size = sizeof buffer;
    if (::RegGetValueW(key.Get(), nullptr, L"InstallLocation", RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    return buffer;
}

// The 64-bit Program Files folder on 64-bit Windows, which a 32-bit program cannot resolve as a known
// folder: there both Program Files identifiers give the x86 folder. The system names it in the
// environment of every process; empty where it does not (32-bit Windows).
std::wstring NativeProgramFiles() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"ProgramW6432", buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Position after the path component that starts at the position (separators skipped first).
size_t SkipComponent(const std::wstring& path, size_t at) {
    while (at < path.size() && IsSeparator(path[at])) {
        ++at;
    }
    while (at < path.size() && !IsSeparator(path[at])) {
        ++at;
    }
    return at;
}

bool HasComponentFrom(const std::wstring& path, size_t at) {
    while (at < path.size() && IsSeparator(path[at])) {
        ++at;
    }
    return at < path.size();
}

// A drive letter, colon and separator, or a share "\\server\share", followed by at least one more
// path component.
bool IsAbsoluteBelowRoot(const std::wstring& path) {
    if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && IsSeparator(path[2])) {
        return HasComponentFrom(path, 3);
    }
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        const size_t server = SkipComponent(path, 2);
        const size_t share = SkipComponent(path, server);
        return server > 2 && share > server + 1 && HasComponentFrom(path, share);
    }
    return false;
}

} // namespace

std::wstring KnownFolderPath(const KNOWNFOLDERID& id) {
    return ResolveKnownFolder(id, KF_FLAG_CREATE);
}

std::wstring UserProgramsFolder() {
    std::wstring folder = KnownFolderPath(FOLDERID_UserProgramFiles);
    if (folder.empty()) {
        const std::wstring local = KnownFolderPath(FOLDERID_LocalAppData);
        if (!local.empty()) {
            folder = JoinPath(local, L"Programs");
        }
    }
    return folder;
}

std::wstring DefaultInstallFolder() {
    const std::wstring perUser = JoinPath(UserProgramsFolder(), kProductFolderName);
    for (const std::wstring& candidate : {std::wstring(kConventionalFolder), perUser}) {
        if (IsInstallFolder(candidate)) {
            return candidate;
        }
    }
    const std::wstring earlier = EarlierInstallLocation();
    if (!earlier.empty() && IsInstallFolder(earlier)) {
        return earlier;
    }
    return perUser;
}

bool IsProtectedFolder(const std::wstring& folder) {
    const auto startsWith = [&](const std::wstring& prefix) {
        return !prefix.empty() && folder.size() >= prefix.size() &&
               EqualNoCase(folder.substr(0, prefix.size()), prefix);
    };
    for (const KNOWNFOLDERID* id : {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86, &FOLDERID_Windows}) {
        if (startsWith(ResolveKnownFolder(*id, 0))) {
            return true;
        }
    }
    return startsWith(NativeProgramFiles());
}

std::wstring InstallFolderForPick(const std::wstring& picked) {
    if (IsInstallFolder(picked) || IsEmptyFolder(picked)) {
        return picked;
    }
    return JoinPath(picked, kProductFolderName);
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error) && !error) {
        return true;
    }
    return EqualNoCase(a, b);
}

bool IsAcceptableInstallFolder(const std::wstring& folder) {
    return IsAbsoluteBelowRoot(folder) && !IsProtectedFolder(folder);
}

std::wstring InstallFolderRefusal() {
    return Pick(
        L"Cannot install here. Choose a folder outside Program Files / Windows (e.g. C:\\Games\\Orvane).",
        L"Bu klasöre kurulamaz. Program Files / Windows dışında bir klasör seçin (ör. C:\\Games\\Orvane).");
}

} // namespace Orv
