#include "install/installation.h"

#include "core/held_files.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "install/install_location.h"
#include "install/registration.h"
#include "install/shortcut.h"

#include <windows.h>

#include <knownfolders.h>

#include <fmt/xchar.h>

namespace Orv {
namespace {

// Creates the folder and every missing folder above it; the system's error code of the first
// failure, or ERROR_SUCCESS.
DWORD CreateFolderTree(const std::wstring& folder) {
    if (IsDirectory(folder)) {
        return ERROR_SUCCESS;
    }
    const std::wstring parent = ParentFolder(folder);
    if (!parent.empty() && parent != folder && !IsDirectory(parent)) {
        if (const DWORD error = CreateFolderTree(parent); error != ERROR_SUCCESS) {
            return error;
        }
    }
    if (::CreateDirectoryW(LongPath(folder).c_str(), nullptr)) {
        return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    // Another program may have made it meanwhile; a file of that name is still in the way.
    return error == ERROR_ALREADY_EXISTS && IsDirectory(folder) ? ERROR_SUCCESS : error;
}

// Copies the file beside the target as "<target>.new" and moves that over the target in one step, so
// an existing target is either kept whole or replaced whole. The system's error code, or ERROR_SUCCESS.
DWORD CopyThroughNewFile(const std::wstring& source, const std::wstring& target) {
    const std::wstring staged = target + L".new";
    if (const DWORD error = CopyFileWhenFree(source, staged); error != ERROR_SUCCESS) {
        return error;
    }
    // The copy of a downloaded setup program carries the download's mark (its Zone.Identifier stream),
    // which would have Windows ask before every start; the installed launcher is the player's own.
    ::DeleteFileW(LongPath(staged + L":Zone.Identifier").c_str());
    return MoveFileWhenFree(staged, target, MOVEFILE_REPLACE_EXISTING);
}

void CreateShortcutIn(const KNOWNFOLDERID& folder, const std::wstring& target) {
    const std::wstring shortcut = ShortcutPath(folder);
    if (!shortcut.empty()) {
        CreateShortcut(shortcut, target);
    }
}

} // namespace

InstallResult Install(const std::wstring& folder, bool desktopShortcut) {
    if (const DWORD error = CreateFolderTree(JoinPath(folder, kDataFolderName)); error != ERROR_SUCCESS) {
        return {false,
                fmt::format(L"{}\n{}\n{}", Pick(L"Cannot create the folder:", L"Klasör oluşturulamadı:"),
                            folder, ErrorText(error))};
    }
    const std::wstring source = ExecutablePath();
    const std::wstring target = JoinPath(folder, kInstalledExeName);
    if (!SamePath(source, target)) {
        if (const DWORD error = CopyThroughNewFile(source, target); error != ERROR_SUCCESS) {
            return {false,
                    fmt::format(L"{}\n{}", Pick(L"Cannot copy the launcher:", L"Launcher kopyalanamadı:"),
                                ErrorText(error))};
        }
    }
    // A shortcut that cannot be made does not fail the installation.
    if (desktopShortcut) {
        CreateShortcutIn(FOLDERID_Desktop, target);
    }
    CreateShortcutIn(FOLDERID_Programs, target);
    Register(folder, L"");
    Log(L"installed to " + folder);
    return {true, {}};
}

} // namespace Orv
