#include "ui/ui_state.h"

namespace Orv {
namespace {

UiState uiState;

} // namespace

UiState& Ui() {
    return uiState;
}

int Scale(int length) {
    return static_cast<int>(length * uiState.scale + 0.5);
}

HFONT MakeFont(int size, int weight) {
    return ::CreateFontW(-Scale(size), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                         L"Segoe UI");
}

void CreateFontsAndBrushes() {
    uiState.titleFont = MakeFont(34, FW_BOLD);
    uiState.textFont = MakeFont(16, FW_NORMAL);
    uiState.smallFont = MakeFont(13, FW_NORMAL);
    uiState.bigFont = MakeFont(20, FW_BOLD);
    uiState.backgroundBrush = ::CreateSolidBrush(Colour::Background);
    uiState.panelBrush = ::CreateSolidBrush(Colour::Panel);
}

} // namespace Orv
