#include "ui/main_window.h"

#include "core/app_state.h"
#include "core/text.h"
#include "ui/main_controls.h"
#include "ui/setup_window.h"
#include "ui/ui_state.h"
#include "ui/update_start.h"

namespace Orv {
namespace {

void DrawTextLine(HDC dc, const wchar_t* text, int left, int top, int right, int bottom) {
    RECT box{Scale(left), Scale(top), Scale(right), Scale(bottom)};
    ::DrawTextW(dc, text, -1, &box, DT_SINGLELINE | DT_LEFT | DT_TOP);
}

void PaintHeader(HWND window) {
    const UiState& ui = Ui();
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(window, &paint);
    RECT client{};
    ::GetClientRect(window, &client);
    ::FillRect(dc, &client, ui.backgroundBrush);

    RECT band{0, 0, client.right, Scale(90)};
    ::FillRect(dc, &band, ui.panelBrush);
    RECT line{0, Scale(90), client.right, Scale(92)};
    HBRUSH accent = ::CreateSolidBrush(Colour::Accent);
    ::FillRect(dc, &line, accent);
    ::DeleteObject(accent);

    ::SetBkMode(dc, TRANSPARENT);
    HGDIOBJ previousFont = ::SelectObject(dc, ui.titleFont);
    ::SetTextColor(dc, Colour::Text);
    DrawTextLine(dc, L"ORVANE", 30, 14, 500, 60);

    ::SelectObject(dc, ui.smallFont);
    ::SetTextColor(dc, Colour::Accent);
    const wchar_t* subtitle = App().mode == LauncherMode::Launcher
                                  ? Pick(L"CLOSED BETA  ·  LAUNCHER", L"KAPALI BETA  ·  LAUNCHER")
                                  : Pick(L"SETUP", L"KURULUM");
    DrawTextLine(dc, subtitle, 32, 58, 500, 80);

    ::SelectObject(dc, previousFont);
    ::EndPaint(window, &paint);
}

LRESULT ControlColour(HDC dc, HWND control) {
    const UiState& ui = Ui();
    ::SetBkMode(dc, TRANSPARENT);
    const bool versionLine = control == ui.versionLabel && control != nullptr;
    ::SetBkColor(dc, versionLine ? Colour::Panel : Colour::Background);
    const bool bright = (control == ui.statusLabel || control == ui.shortcutCheck) && control != nullptr;
    ::SetTextColor(dc, bright ? Colour::Text : Colour::Muted);
    return reinterpret_cast<LRESULT>(versionLine ? ui.panelBrush : ui.backgroundBrush);
}

LRESULT OnCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (LOWORD(wParam)) {
    case IdPlay:
        OnPlayPressed();
        return 0;
    case IdRepair:
        StartUpdate(true);
        return 0;
    case IdGameFolder:
        ::ShellExecuteW(Ui().mainWindow, L"open", App().gameFolder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return 0;
    case IdBrowse:
        BrowseForFolder();
        return 0;
    case IdInstall:
        OnInstallPressed();
        return 0;
    case IdLanguage:
        if (HIWORD(wParam) == CBN_SELCHANGE) {
            OnLanguageSelected();
        }
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        return OnCommand(window, message, wParam, lParam);
    case WM_TIMER:
        if (App().mode == LauncherMode::Launcher) {
            RefreshProgress();
        }
        return 0;
    case WM_CLOSE:
        if (ConfirmClose()) {
            ::DestroyWindow(window);
        }
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(App().exitCode);
        return 0;
    case WM_PAINT:
        PaintHeader(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        ::SetTextColor(reinterpret_cast<HDC>(wParam), Colour::Text);
        ::SetBkColor(reinterpret_cast<HDC>(wParam), Colour::Panel);
        return reinterpret_cast<LRESULT>(Ui().panelBrush);
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return ControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace Orv
