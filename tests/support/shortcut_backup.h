#pragma once
#include <optional>
#include <string>
#include <vector>

namespace Orv::Support {

// "Orvane.lnk" on the user's desktop and in the Start menu programs folder, found independently of
// the launcher's own code.
std::wstring DesktopShortcut();
std::wstring StartMenuShortcut();

// Keeps the bytes of both shortcuts as they are when made and puts them back (or removes the files that
// were not there) when it goes, so tests can make and remove shortcuts freely.
class ShortcutBackup {
public:
    ShortcutBackup();
    ~ShortcutBackup();
    ShortcutBackup(const ShortcutBackup&) = delete;
    ShortcutBackup& operator=(const ShortcutBackup&) = delete;

private:
    struct Saved {
        std::wstring path;
        std::optional<std::string> bytes;
    };
    std::vector<Saved> saved_;
};

} // namespace Orv::Support
