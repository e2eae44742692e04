#include "ui/main_window.h"

#include "core/app_state.h"
#include "core/handles.h"
#include "core/paths.h"
#include "core/text.h"
#include "ui/button_paint.h"
#include "ui/language_box.h"
#include "ui/paint_scope.h"
#include "ui/pause_control.h"
#include "ui/progress_display.h"
#include "ui/setup_window.h"
#include "ui/text_editor.h"
#include "ui/ui_state.h"
#include "ui/update_start.h"
#include "update/update_progress.h"

#include <shellapi.h>

namespace Orv {
namespace {

void DrawTextLine(HDC dc, const wchar_t* text, int left, int top, int right, int bottom) {
    RECT box{Scale(left), Scale(top), Scale(right), Scale(bottom)};
    ::DrawTextW(dc, text, -1, &box, DT_SINGLELINE | DT_LEFT | DT_TOP);
}

bool IsLauncherMode() {
    return App().mode == LauncherMode::Launcher;
}

void PaintHeader(HWND window) {
    const UiState& ui = Ui();
    PaintScope paint(window);
    HDC dc = paint.Dc();
    RECT client{};
    ::GetClientRect(window, &client);
    ::FillRect(dc, &client, ui.backgroundBrush);

    RECT band{0, 0, client.right, Scale(90)};
    ::FillRect(dc, &band, ui.panelBrush);
    RECT line{0, Scale(90), client.right, Scale(92)};
    {
        GdiObject accent(::CreateSolidBrush(Colour::Accent));
        ::FillRect(dc, &line, static_cast<HBRUSH>(accent.Get()));
    }

    ::SetBkMode(dc, TRANSPARENT);
    SelectionScope fontScope(dc, ui.titleFont);
    ::SetTextColor(dc, Colour::Text);
    DrawTextLine(dc, L"ORVANE", 30, 14, 500, 60);

    ::SelectObject(dc, ui.smallFont);
    ::SetTextColor(dc, Colour::Accent);
    const wchar_t* subtitle = IsLauncherMode()
                                  ? Pick(L"CLOSED BETA  ·  LAUNCHER", L"KAPALI BETA  ·  LAUNCHER")
                                  : Pick(L"SETUP", L"KURULUM");
    DrawTextLine(dc, subtitle, 32, 58, 500, 80);
}

COLORREF StatusColour() {
    if (IsLauncherMode()) {
        switch (Progress().phase.load()) {
        case Phase::Failed:
            return Colour::Error;
        case Phase::Done:
            return Colour::Success;
        default:
            break;
        }
    }
    return Colour::Text;
}

LRESULT ControlColour(HDC dc, HWND control) {
    const UiState& ui = Ui();
    ::SetBkMode(dc, TRANSPARENT);
    const bool versionLine = control == ui.versionLabel && control != nullptr;
    ::SetBkColor(dc, versionLine ? Colour::Panel : Colour::Background);
    COLORREF text = Colour::Muted;
    if (control != nullptr && control == ui.statusLabel) {
        text = StatusColour();
    } else if (control != nullptr && control == ui.pauseLink) {
        text = Colour::Accent;
    } else if (control != nullptr && control == ui.shortcutCheck) {
        text = Colour::Text;
    } else if (control != nullptr && control == ui.notesView) {
        // An edit control draws its text over what is there when it scrolls: it fills behind it.
        ::SetBkMode(dc, OPAQUE);
        text = Colour::Text;
    }
    ::SetTextColor(dc, text);
    return reinterpret_cast<LRESULT>(versionLine ? ui.panelBrush : ui.backgroundBrush);
}

void OnPlayPressed() {
    switch (Progress().phase.load()) {
    case Phase::Failed:
        StartUpdate(false);
        break;
    case Phase::Done:
        LaunchGame();
        break;
    default:
        break;
    }
}

// Closing while files are checked or downloaded asks first; the run resumes next time.
bool ConfirmClose() {
    if (!IsLauncherMode()) {
        return true;
    }
    const Phase phase = Progress().phase.load();
    if ((phase != Phase::Checking && phase != Phase::Downloading) || Ui().paused) {
        return true;
    }
    return ::MessageBoxW(Ui().mainWindow,
                         Pick(L"The update is running. If you close, it resumes next time. Close?",
                              L"Güncelleme sürüyor. Kapatırsanız bir sonraki açılışta kaldığı yerden devam "
                              L"eder. Kapatılsın mı?"),
                         kWindowTitle, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void OnTimer() {
    if (!IsLauncherMode()) {
        return;
    }
    RefreshProgress();
    const Phase phase = Progress().phase.load();
    if (phase == Phase::Done || phase == Phase::Failed) {
        // The status line's colour follows the phase.
        ::InvalidateRect(Ui().statusLabel, nullptr, TRUE);
    }
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
    case IdDetails:
        // After a failure the detail line is the log's path.
        if (HIWORD(wParam) == STN_CLICKED && Ui().failureShown) {
            OpenInTextEditor(Ui().mainWindow, LogFilePath(App().gameFolder));
        }
        return 0;
    case IdPause:
        if (HIWORD(wParam) == STN_CLICKED) {
            OnPauseLinkPressed();
        }
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
        OnTimer();
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
    case WM_DRAWITEM:
        DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
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
