#include "ui/main_controls.h"

#include "core/app_state.h"
#include "ui/ui_state.h"

namespace Orv {

HWND CreateControl(const wchar_t* className, const wchar_t* text, DWORD style, int x, int y, int width,
                   int height, int id, HFONT font) {
    HWND control = ::CreateWindowExW(
        0, className, text, style | WS_CHILD | WS_VISIBLE, Scale(x), Scale(y), Scale(width), Scale(height),
        Ui().mainWindow, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), App().instance, nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font != nullptr ? font : Ui().textFont),
                   TRUE);
    return control;
}

// The controls, the language list and the progress display arrive with the window's own work.
void CreateMainControls() {}

void FillLanguageList() {}

void OnLanguageSelected() {}

void RefreshProgress() {}

} // namespace Orv
