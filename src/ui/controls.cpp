#include "ui/controls.h"

#include "core/app_state.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <uxtheme.h>

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

HWND CreateProgressBar(int x, int y, int width, int height) {
    HWND bar = CreateControl(PROGRESS_CLASSW, L"", 0, x, y, width, height, 0);
    // Without a visual style the bar takes the colours below.
    TurnOffVisualStyle(bar);
    ::SendMessageW(bar, PBM_SETBARCOLOR, 0, Colour::Accent);
    ::SendMessageW(bar, PBM_SETBKCOLOR, 0, Colour::Panel);
    ::SendMessageW(bar, PBM_SETRANGE32, 0, kBarRange);
    return bar;
}

void TurnOffVisualStyle(HWND control) {
    // Empty names switch the theme off on Windows; Wine refuses them, and a name that matches no
    // theme does the same there.
    if (FAILED(::SetWindowTheme(control, L"", L""))) {
        ::SetWindowTheme(control, L" ", L" ");
    }
}

int BarPosition(uint64_t done, uint64_t total) {
    if (total == 0) {
        return 0;
    }
    // done x 1000 wraps only for done above 2^64 / 1000 bytes, far beyond any file or release.
    const uint64_t position = done * kBarRange / total;
    return position > kBarRange ? kBarRange : static_cast<int>(position);
}

void SetProgress(HWND bar, uint64_t done, uint64_t total) {
    const int position = BarPosition(done, total);
    if (::SendMessageW(bar, PBM_GETPOS, 0, 0) != position) {
        ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    }
}

bool SetTextIfChanged(HWND control, const std::wstring& text) {
    wchar_t current[1024];
    const int length = ::GetWindowTextW(control, current, 1024);
    if (static_cast<size_t>(length) == text.size() && text.compare(0, text.size(), current, length) == 0) {
        return false;
    }
    ::SetWindowTextW(control, text.c_str());
    ::InvalidateRect(control, nullptr, TRUE);
    return true;
}

} // namespace Orv
