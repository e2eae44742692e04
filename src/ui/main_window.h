#pragma once
#include <windows.h>

namespace Orv {

// The window procedure of the one top-level window, in launcher and setup mode.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace Orv
