#include "ui/ui_state.h"

namespace Orv {
namespace {

UiState uiState;

} // namespace

UiState& Ui() {
    return uiState;
}

int ScaleBy(int length, double scale) {
    return static_cast<int>(length * scale + 0.5);
}

int Scale(int length) {
    return ScaleBy(length, uiState.scale);
}

HFONT MakeFontAt(int size, int weight, double scale, bool underline) {
    return ::CreateFontW(-ScaleBy(size, scale), 0, 0, 0, weight, FALSE, underline ? TRUE : FALSE, FALSE,
                         DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                         DEFAULT_PITCH, L"Segoe UI");
}

HFONT MakeFont(int size, int weight, bool underline) {
    return MakeFontAt(size, weight, uiState.scale, underline);
}

void CreateFontsAndBrushes() {
    uiState.titleFont = MakeFont(34, FW_BOLD);
    uiState.textFont = MakeFont(kTextFontSize, FW_NORMAL);
    uiState.smallFont = MakeFont(kSmallFontSize, FW_NORMAL);
    uiState.linkFont = MakeFont(kSmallFontSize, FW_NORMAL, true);
    uiState.bigFont = MakeFont(20, FW_BOLD);
    uiState.backgroundBrush = ::CreateSolidBrush(Colour::Background);
    uiState.panelBrush = ::CreateSolidBrush(Colour::Panel);
}

} // namespace Orv
