#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace Orv::Support {

struct ControlInfo {
    int id = 0;
    std::wstring className;
    std::wstring text;
    bool enabled = false;
    bool visible = false;
};

// The top-level window of class "OrvaneLauncher"; of the given process when pid is not 0.
HWND FindLauncherWindow(DWORD pid = 0);

// The window's child controls in creation order.
std::vector<ControlInfo> ListControls(HWND window);

// A control's text, read through WM_GETTEXT (works across processes).
std::wstring ControlText(HWND control);

// Clicks the control with the id like a user would (nothing happens when it is disabled).
bool ClickControl(HWND window, int id);

// Asks the window to close, as the close box does.
bool CloseWindow(HWND window);

// Whether a named mutex exists.
bool MutexExists(const std::wstring& name);

} // namespace Orv::Support
