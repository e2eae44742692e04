#include "ui/status_layout.h"

#include "ui/paint_scope.h"
#include "ui/ui_state.h"

#include <algorithm>

namespace Orv {
namespace {

// The design's places on the 96-dpi grid.
constexpr int kStatusTop = 112;
constexpr int kStatusHeight = 44;
constexpr int kBarTop = 168;
constexpr int kBarHeight = 16;
constexpr int kDetailTop = 190;
constexpr int kDetailHeight = 20;
// The language label, the highest of the controls at the bottom.
constexpr int kBottomControlsTop = 372;

RECT Box(double scale, int top, int height, int shift) {
    const int y = ScaleBy(top, scale) + shift;
    return {ScaleBy(kColumnLeft, scale), y, ScaleBy(kColumnLeft, scale) + ScaleBy(kColumnWidth, scale),
            y + ScaleBy(height, scale)};
}

RECT PlaceOf(HWND control) {
    RECT box{};
    ::GetWindowRect(control, &box);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(control), reinterpret_cast<POINT*>(&box), 2);
    return box;
}

std::wstring TextOf(HWND control) {
    wchar_t text[1024];
    const int length = ::GetWindowTextW(control, text, 1024);
    return std::wstring(text, static_cast<size_t>(length));
}

void MoveTo(HWND control, const RECT& box) {
    const RECT now = PlaceOf(control);
    if (!::EqualRect(&box, &now)) {
        ::MoveWindow(control, box.left, box.top, box.right - box.left, box.bottom - box.top, TRUE);
    }
}

} // namespace

SIZE WrappedTextSize(HDC dc, HFONT font, const std::wstring& text, int width) {
    SelectionScope selected(dc, font);
    RECT box{0, 0, width, 0};
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, kStatusTextFormat | DT_CALCRECT);
    return {box.right - box.left, box.bottom - box.top};
}

int StatusWidth(double scale) {
    return ScaleBy(kColumnWidth, scale);
}

StatusLayout LayoutForStatus(double scale, int textHeight, int detailHeight) {
    const int designed = ScaleBy(kStatusHeight, scale);
    const int shift = std::max(0, textHeight - designed);
    StatusLayout layout{Box(scale, kStatusTop, kStatusHeight, 0), Box(scale, kBarTop, kBarHeight, shift),
                        Box(scale, kDetailTop, kDetailHeight, shift)};
    layout.status.bottom += shift;
    layout.pauseLink = layout.detail;
    layout.pauseLink.left = layout.detail.right - ScaleBy(kPauseLinkWidth, scale);
    layout.detail.bottom += std::max(0, detailHeight - ScaleBy(kDetailHeight, scale));
    return layout;
}

int StatusRoomBottom(double scale) {
    return ScaleBy(kBottomControlsTop, scale);
}

void FitStatusLabel() {
    UiState& ui = Ui();
    if (ui.statusLabel == nullptr) {
        return;
    }
    const std::wstring status = TextOf(ui.statusLabel);
    const std::wstring detailText = TextOf(ui.detailLabel);
    const bool linkShown = ui.pauseLink != nullptr && ::IsWindowVisible(ui.pauseLink);
    // The window asks on every refresh; the texts are measured only when they or the link have changed.
    std::wstring laidOutFor = status + L'\0' + detailText + (linkShown ? L"\0link" : L"");
    if (laidOutFor == ui.laidOutFor) {
        return;
    }
    ui.laidOutFor = std::move(laidOutFor);
    WindowDcScope dc(ui.statusLabel);
    const SIZE size = WrappedTextSize(dc.Dc(), ui.textFont, status, StatusWidth(ui.scale));
    const int detailWidth = StatusWidth(ui.scale) - (linkShown ? ScaleBy(kPauseLinkWidth, ui.scale) : 0);
    const SIZE detail = WrappedTextSize(dc.Dc(), ui.smallFont, detailText, detailWidth);
    StatusLayout layout = LayoutForStatus(ui.scale, size.cy, detail.cy);
    layout.detail.right = layout.detail.left + detailWidth;
    MoveTo(ui.statusLabel, layout.status);
    MoveTo(ui.mainBar, layout.mainBar);
    MoveTo(ui.detailLabel, layout.detail);
    if (ui.pauseLink != nullptr) {
        MoveTo(ui.pauseLink, layout.pauseLink);
    }
}

} // namespace Orv
