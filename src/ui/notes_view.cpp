#include "ui/notes_view.h"

#include "ui/controls.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <uxtheme.h>

namespace Orv {
namespace {

// The free room between the detail line and the controls at the bottom, on the 96-dpi grid.
constexpr int kTop = 222;
constexpr int kHeight = 140;
constexpr int kRightMargin = 8;

// The window's keyboard order stays as it is: Tab, Enter and Esc go to the dialog manager, which
// also does not select the whole text when Tab reaches the notes; the arrow and page keys scroll them.
LRESULT CALLBACK NotesProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(edit, NotesProc, id);
    }
    const LRESULT result = ::DefSubclassProc(edit, message, wParam, lParam);
    if (message == WM_GETDLGCODE) {
        return result & ~static_cast<LRESULT>(DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_HASSETSEL);
    }
    return result;
}

} // namespace

void CreateNotesView() {
    UiState& ui = Ui();
    ui.notesView =
        CreateControl(L"EDIT", L"", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP,
                      kColumnLeft, kTop, kColumnWidth, kHeight, IdNotes, ui.smallFont);
    ::ShowWindow(ui.notesView, SW_HIDE);
    // The text starts where the lines above it start.
    ::SendMessageW(ui.notesView, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN,
                   MAKELONG(0, Scale(kRightMargin)));
    // A dark scroll bar where the system has one.
    ::SetWindowTheme(ui.notesView, L"DarkMode_Explorer", nullptr);
    ::SetWindowSubclass(ui.notesView, NotesProc, 1, 0);
}

void ShowNotes(const std::wstring& text) {
    HWND notes = Ui().notesView;
    if (text.empty()) {
        HideNotes();
        return;
    }
    ::SetWindowTextW(notes, text.c_str());
    ::SendMessageW(notes, EM_SETSEL, 0, 0);
    ::SendMessageW(notes, EM_SCROLLCARET, 0, 0);
    ::ShowWindow(notes, SW_SHOWNA);
}

void HideNotes() {
    HWND notes = Ui().notesView;
    ::ShowWindow(notes, SW_HIDE);
    ::SetWindowTextW(notes, L"");
}

} // namespace Orv
