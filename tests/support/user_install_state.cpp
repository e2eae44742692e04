#include "user_install_state.h"

#include "test_folder.h"

#include <knownfolders.h>
#include <shlobj.h>

namespace Orv::Support {
namespace {

constexpr const wchar_t* kUninstallEntry =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OrvaneLauncher";

std::wstring ShortcutIn(const KNOWNFOLDERID& id) {
    wchar_t* folder = nullptr;
    std::wstring path;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &folder)) && folder != nullptr) {
        path = std::wstring(folder) + L"\\Orvane.lnk";
    }
    ::CoTaskMemFree(folder);
    return path;
}

} // namespace

std::wstring DesktopShortcut() {
    return ShortcutIn(FOLDERID_Desktop);
}

std::wstring StartMenuShortcut() {
    return ShortcutIn(FOLDERID_Programs);
}

UserInstallState::UserInstallState()
    // The free functions: the members of the same names read the fields being made here.
    : desktop_(Take(Support::DesktopShortcut())), startMenu_(Take(Support::StartMenuShortcut())) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallEntry);
}

UserInstallState::~UserInstallState() {
    Restore(desktop_);
    Restore(startMenu_);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallEntry);
}

UserInstallState::SavedFile UserInstallState::Take(const std::wstring& path) {
    SavedFile saved{path, !path.empty() && Exists(path), {}};
    if (saved.existed) {
        saved.bytes = ReadFileOrEmpty(path);
        ::DeleteFileW(path.c_str());
    }
    return saved;
}

void UserInstallState::Restore(const SavedFile& saved) {
    if (saved.path.empty()) {
        return;
    }
    ::DeleteFileW(saved.path.c_str());
    if (saved.existed) {
        WriteFileBytes(saved.path, saved.bytes);
    }
}

} // namespace Orv::Support
