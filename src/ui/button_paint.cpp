#include "ui/button_paint.h"

#include "core/handles.h"
#include "ui/paint_scope.h"
#include "ui/ui_state.h"

namespace Orv {
namespace {

// Buttons draw at most this many characters of their text.
constexpr int kButtonTextLimit = 63;

COLORREF FaceColour(bool primary, bool disabled, bool pressed) {
    if (disabled) {
        return Colour::Disabled;
    }
    if (primary) {
        return pressed ? Colour::AccentPressed : Colour::Accent;
    }
    return pressed ? Colour::SecondaryPressed : Colour::Secondary;
}

} // namespace

void DrawButton(const DRAWITEMSTRUCT& item) {
    const bool primary = item.CtlID == IdPlay || item.CtlID == IdInstall;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const COLORREF face = FaceColour(primary, disabled, pressed);
    HDC dc = item.hDC;
    RECT box = item.rcItem;
    // The corners outside the rounded face show the window background.
    ::FillRect(dc, &box, Ui().backgroundBrush);
    {
        GdiObject pen(::CreatePen(PS_SOLID, 1, !primary && !disabled ? Colour::SecondaryBorder : face));
        GdiObject brush(::CreateSolidBrush(face));
        SelectionScope penScope(dc, pen.Get());
        SelectionScope brushScope(dc, brush.Get());
        ::RoundRect(dc, box.left, box.top, box.right, box.bottom, Scale(10), Scale(10));
    }

    wchar_t text[kButtonTextLimit + 1];
    const int length = ::GetWindowTextW(item.hwndItem, text, kButtonTextLimit + 1);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, disabled ? Colour::Muted : (primary ? Colour::PrimaryText : Colour::Text));
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(::SendMessageW(item.hwndItem, WM_GETFONT, 0, 0));
    SelectionScope fontScope(dc, font);
    ::DrawTextW(dc, text, length, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

} // namespace Orv
