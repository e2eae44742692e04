#pragma once
#include <windows.h>

#include <string>

namespace Orv {

// How the status label draws its text: wrapped at words, and inside a word wider than the line (a file
// path), as a left-aligned static control with SS_EDITCONTROL wraps it.
inline constexpr UINT kStatusTextFormat = DT_LEFT | DT_WORDBREAK | DT_EXPANDTABS | DT_EDITCONTROL;

// The Pause link's width on the 96-dpi grid, at the right end of the detail line.
inline constexpr int kPauseLinkWidth = 100;

// Where the status line, the main bar and the detail line sit, in pixels of the window's client area.
struct StatusLayout {
    RECT status{};
    RECT mainBar{};
    RECT detail{};
    RECT pauseLink{}; // the right end of the detail line's row
};

// The size a text takes in the font when it wraps at the width as the status label wraps it.
SIZE WrappedTextSize(HDC dc, HFONT font, const std::wstring& text, int width);

// The status line's width in pixels at the scale.
int StatusWidth(double scale);

// The places at the scale for a status text and a detail line of the given heights: the design's places while
// the status text fits the label's two lines and the detail its one; otherwise the label grows downward by
// what the text needs and the bar and the detail line move down by as much, and the detail line grows
// downward by what its text needs, into the room the download rows leave. The Pause link keeps to the detail
// line's first line.
StatusLayout LayoutForStatus(double scale, int textHeight, int detailHeight = 0);

// The lowest pixel row the detail line may reach at the scale: the top of the controls at the bottom.
int StatusRoomBottom(double scale);

// Measures the status label's and the detail line's texts in their fonts and moves the controls where
// LayoutForStatus puts them, when they are elsewhere; while the Pause link is shown, the detail line ends
// where the link begins.
void FitStatusLabel();

} // namespace Orv
