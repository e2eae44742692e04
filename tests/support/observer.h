#pragma once
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace Orv::Support {

struct ControlInfo {
    int id = 0;
    std::wstring className;
    std::wstring text;
    bool enabled = false;
    bool visible = false;
    HWND handle = nullptr;
    RECT place{}; // in the parent's client area
};

// The top-level window of class "OrvaneLauncher"; of the given process when pid is not 0.
HWND FindLauncherWindow(DWORD pid = 0);

// The window's child controls in creation order.
std::vector<ControlInfo> ListControls(HWND window);

// A control's text, read through WM_GETTEXT (works across processes).
std::wstring ControlText(HWND control);

// Clicks the control with the id like a user would (nothing happens when it is disabled).
bool ClickControl(HWND window, int id);

// Clicks a label with the id as the mouse does, at its middle.
bool ClickLabel(HWND window, int id);

// Puts the mouse pointer over the middle of the control with the id.
bool PointAt(HWND window, int id);

// A visible top-level window whose title contains the text, and its process id.
HWND FindWindowTitled(const std::wstring& part, DWORD* pid = nullptr);

// Asks the window to close, as the close box does.
bool CloseWindow(HWND window);

// A visible message box (dialog class "#32770") of the process.
HWND FindMessageBox(DWORD pid);

// The message text of a message box.
std::wstring MessageBoxText(HWND box);

// Answers a message box with the button id (IDYES, IDNO, IDOK ...).
bool AnswerMessageBox(HWND box, int button);

// Selects the entry of a drop-down list like a user would: the selection moves and the window hears
// of the change.
bool SelectListEntry(HWND window, int id, int index);

// The number of entries of a drop-down list.
int ListEntryCount(HWND window, int id);

// The colour on the screen at a point of the window's client area.
COLORREF ScreenPixel(HWND window, int x, int y);

// Waits until the screen shows the colour at the point; false when the time is up first. A window
// that was just shown paints its parts one after another.
bool WaitForPixel(HWND window, int x, int y, COLORREF colour, std::chrono::milliseconds limit);

// A fingerprint of what the screen shows in a rectangle of the window's client area.
uint64_t ScreenAreaHash(HWND window, RECT area);

// Whether a named mutex exists.
bool MutexExists(const std::wstring& name);

} // namespace Orv::Support
