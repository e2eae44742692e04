#include "ui/link_label.h"

#include "core/app_state.h"
#include "ui/ui_state.h"

#include <commctrl.h>

namespace Orv {
namespace {

constexpr UINT_PTR kLinkSubclass = 1;

void SetHovered(HWND label, LinkLook& look, bool hovered) {
    if (look.hovered == hovered) {
        return;
    }
    look.hovered = hovered;
    const HFONT font = hovered ? Ui().linkFont : Ui().smallFont;
    ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

LRESULT CALLBACK LinkProc(HWND label, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                          DWORD_PTR data) {
    auto& look = *reinterpret_cast<LinkLook*>(data);
    switch (message) {
    case WM_SETCURSOR:
        if (look.on) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    case WM_MOUSEMOVE:
        if (look.on && !look.hovered) {
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, label, 0};
            ::TrackMouseEvent(&track);
            SetHovered(label, look, true);
        }
        break;
    case WM_MOUSELEAVE:
        SetHovered(label, look, false);
        break;
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(label, LinkProc, id);
        break;
    default:
        break;
    }
    return ::DefSubclassProc(label, message, wParam, lParam);
}

TTTOOLINFOW ToolFor(HWND control, const std::wstring& text) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = ::GetParent(control);
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    return tool;
}

} // namespace

void MakeLink(HWND label, LinkLook& look) {
    ::SetWindowSubclass(label, LinkProc, kLinkSubclass, reinterpret_cast<DWORD_PTR>(&look));
}

void SetLinkOn(HWND label, LinkLook& look, bool on) {
    look.on = on;
    if (!on) {
        SetHovered(label, look, false);
    }
}

HWND AddTooltip(HWND control, const std::wstring& text) {
    // The tooltip belongs to the main window and goes with it.
    HWND tooltip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                     ::GetParent(control), nullptr, App().instance, nullptr);
    if (tooltip == nullptr) {
        return nullptr;
    }
    TTTOOLINFOW tool = ToolFor(control, text);
    ::SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    return tooltip;
}

void SetTooltip(HWND tooltip, HWND control, const std::wstring& text, bool active) {
    if (tooltip == nullptr) {
        return;
    }
    TTTOOLINFOW tool = ToolFor(control, text);
    ::SendMessageW(tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    ::SendMessageW(tooltip, TTM_ACTIVATE, active ? TRUE : FALSE, 0);
}

} // namespace Orv
