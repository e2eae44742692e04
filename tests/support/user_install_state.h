#pragma once
#include <windows.h>

#include <string>

namespace Orv::Support {

// "Orvane.lnk" on the user's desktop and in the Start menu programs folder, found independently of
// the launcher's own code.
std::wstring DesktopShortcut();
std::wstring StartMenuShortcut();

// What an installation leaves in the user's profile: "Orvane.lnk" on the desktop and in the Start menu
// programs folder, and the uninstall entry. Made empty while the object lives; afterwards what the
// test made is removed and shortcuts that were there before are put back.
class UserInstallState {
public:
    UserInstallState();
    ~UserInstallState();
    UserInstallState(const UserInstallState&) = delete;
    UserInstallState& operator=(const UserInstallState&) = delete;

    const std::wstring& DesktopShortcut() const { return desktop_.path; }
    const std::wstring& StartMenuShortcut() const { return startMenu_.path; }

private:
    struct SavedFile {
        std::wstring path;
        bool existed = false;
        std::string bytes;
    };
    static SavedFile Take(const std::wstring& path);
    static void Restore(const SavedFile& saved);

    SavedFile desktop_;
    SavedFile startMenu_;
};

} // namespace Orv::Support
