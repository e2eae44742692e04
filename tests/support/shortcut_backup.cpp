#include "shortcut_backup.h"

#include "test_folder.h"

#include <windows.h>

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

namespace Orv::Support {
namespace {

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

ShortcutBackup::ShortcutBackup() {
    for (const std::wstring& path : {DesktopShortcut(), StartMenuShortcut()}) {
        Saved entry{path, std::nullopt};
        if (Exists(path)) {
            entry.bytes = ReadFileOrEmpty(path);
        }
        saved_.push_back(std::move(entry));
    }
}

ShortcutBackup::~ShortcutBackup() {
    for (const Saved& entry : saved_) {
        if (entry.bytes) {
            WriteFileBytes(entry.path, *entry.bytes);
        } else {
            ::DeleteFileW(entry.path.c_str());
        }
    }
}

} // namespace Orv::Support
