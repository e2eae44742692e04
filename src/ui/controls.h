#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

namespace Orv {

// Bars run from 0 to this position.
inline constexpr int kBarRange = 1000;

// A child control of the main window; geometry on the 96-dpi grid, font defaults to the text font.
HWND CreateControl(const wchar_t* className, const wchar_t* text, DWORD style, int x, int y, int width,
                   int height, int id, HFONT font = nullptr);

// Draws the control without a visual style, so that the window's colours apply to it.
void TurnOffVisualStyle(HWND control);

// A themeless progress bar in the window's colours, range 0 to kBarRange.
HWND CreateProgressBar(int x, int y, int width, int height);

// done x kBarRange / total, capped at kBarRange; 0 when total is 0.
int BarPosition(uint64_t done, uint64_t total);

// Moves the bar only when its position changes.
void SetProgress(HWND bar, uint64_t done, uint64_t total);

// Replaces the control's text (and repaints it) only when the text differs; true when it did.
bool SetTextIfChanged(HWND control, const std::wstring& text);

} // namespace Orv
