#pragma once
#include <windows.h>

namespace Orv {

// A child control of the main window; geometry on the 96-dpi grid, font defaults to the text font.
HWND CreateControl(const wchar_t* className, const wchar_t* text, DWORD style, int x, int y, int width,
                   int height, int id, HFONT font = nullptr);

// The launcher-mode controls.
void CreateMainControls();

// The game language list (launcher mode).
void FillLanguageList();
void OnLanguageSelected();

// One refresh of the progress display, on every timer tick in launcher mode.
void RefreshProgress();

} // namespace Orv
