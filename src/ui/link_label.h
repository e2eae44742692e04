#pragma once
#include <windows.h>

#include <string>

namespace Orv {

// Whether a static control acts as a link now, and whether the mouse is over it.
struct LinkLook {
    bool on = false;
    bool hovered = false;
};

// Lets a static control with SS_NOTIFY act as a link while look.on: a hand cursor over it and its text
// underlined while the mouse is there. Clicks reach the parent as STN_CLICKED whether it is on or not.
// The look lives as long as the control.
void MakeLink(HWND label, LinkLook& look);

// Turns the link on or off; off, the text is drawn as a plain label again.
void SetLinkOn(HWND label, LinkLook& look, bool on);

// A tooltip for the control, shown while it is active; null when the system refuses it.
HWND AddTooltip(HWND control, const std::wstring& text);

// The tooltip's new text, and whether it shows at all.
void SetTooltip(HWND tooltip, HWND control, const std::wstring& text, bool active);

} // namespace Orv
