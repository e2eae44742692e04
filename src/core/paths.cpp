#include "core/paths.h"

#include "partners/game_client.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace Orv {
namespace {

DWORD Attributes(const std::wstring& path) {
    if (path.empty()) {
        return INVALID_FILE_ATTRIBUTES;
    }
    return ::GetFileAttributesW(LongPath(path).c_str());
}

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

} // namespace

std::wstring ExecutablePath() {
    std::vector<wchar_t> buffer(260);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring LongPath(const std::wstring& path) {
    if (path.empty() || path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) {
        return path;
    }
    std::wstring full(std::max<size_t>(path.size() + 1, MAX_PATH), L'\0');
    for (;;) {
        const DWORD length =
            ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            return path;
        }
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length);
    }
    if (full.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

unsigned long EnsureFolder(const std::wstring& path) {
    const std::wstring folder = LongPath(path);
    if (IsDirectory(folder)) {
        return ERROR_SUCCESS;
    }
    const std::wstring parent = ParentFolder(folder);
    // "\\?\C:" or "\\?\UNC\server": the root is not made here.
    if (!parent.empty() && parent.size() < folder.size() && parent.find(L'\\', 4) != std::wstring::npos) {
        if (const unsigned long error = EnsureFolder(parent); error != ERROR_SUCCESS) {
            return error;
        }
    }
    if (::CreateDirectoryW(folder.c_str(), nullptr)) {
        return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    // Another thread or program may have made it meanwhile.
    return IsDirectory(folder) ? ERROR_SUCCESS : error;
}

std::wstring ParentFolder(const std::wstring& path) {
    size_t end = path.size();
    while (end > 0 && !IsSeparator(path[end - 1])) {
        --end;
    }
    while (end > 0 && IsSeparator(path[end - 1])) {
        --end;
    }
    // Keep the separator of a drive root ("C:\").
    if (end == 2 && path.size() > 2 && path[1] == L':') {
        return path.substr(0, 3);
    }
    return path.substr(0, end);
}

std::wstring LogFilePath(const std::wstring& gameFolder) {
    return JoinPath(JoinPath(gameFolder, kDataFolderName), kLogFileName);
}

std::wstring JoinPath(const std::wstring& a, const std::wstring& b) {
    if (a.empty()) {
        return b;
    }
    if (IsSeparator(a.back())) {
        return a + b;
    }
    return a + L"\\" + b;
}

bool IsDirectory(const std::wstring& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsRegularFile(const std::wstring& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsInstallFolder(const std::wstring& folder) {
    if (folder.empty()) {
        return false;
    }
    if (IsDirectory(JoinPath(folder, kDataFolderName))) {
        return true;
    }
    return IsRegularFile(JoinPath(folder, GameClient::kEngineExe));
}

} // namespace Orv
