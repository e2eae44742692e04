#pragma once
#include <windows.h>

#include "lang/language_list.h"
#include "ui/link_label.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Orv {

// Colours of the window (RGB).
namespace Colour {
inline constexpr COLORREF Background = RGB(14, 18, 26);
inline constexpr COLORREF Panel = RGB(24, 30, 42);
inline constexpr COLORREF Accent = RGB(232, 168, 56);
inline constexpr COLORREF AccentPressed = RGB(200, 140, 40);
inline constexpr COLORREF Secondary = RGB(36, 44, 60);
inline constexpr COLORREF SecondaryPressed = RGB(44, 54, 72);
inline constexpr COLORREF SecondaryBorder = RGB(64, 76, 98);
inline constexpr COLORREF Disabled = RGB(52, 60, 76);
inline constexpr COLORREF Text = RGB(226, 232, 240);
inline constexpr COLORREF Muted = RGB(140, 152, 170);
inline constexpr COLORREF PrimaryText = RGB(20, 8, 8);
inline constexpr COLORREF Error = RGB(248, 113, 113);
inline constexpr COLORREF Success = RGB(110, 231, 160);
} // namespace Colour

// Control ids (labels and progress bars have id 0).
enum ControlId : int {
    IdPlay = 100,
    IdRepair = 101,
    IdGameFolder = 102,
    IdBrowse = 103,
    IdInstall = 104,
    IdInstallFolder = 105,
    IdDesktopShortcut = 106,
    IdLanguage = 107,
    IdDetails = 108,
    IdPause = 109,
    IdNotes = 110,
};

inline constexpr const wchar_t* kWindowClass = L"OrvaneLauncher";
inline constexpr const wchar_t* kWindowTitle = L"Orvane";
inline constexpr int kClientWidth = 760;
inline constexpr int kClientHeight = 456;
inline constexpr UINT_PTR kRefreshTimer = 1;
inline constexpr UINT kRefreshMilliseconds = 100;

inline constexpr int kRows = 4;

// The column of the status line, the bars, the detail line and the notes, on the 96-dpi grid.
inline constexpr int kColumnLeft = 30;
inline constexpr int kColumnWidth = 700;

// Memory of the transfer speed estimate.
struct SpeedSampler {
    uint64_t lastBytes = 0;      // bytesDone at the last sample
    uint64_t lastSampleTick = 0; // GetTickCount64 of the last sample; 0: none yet
    double speed = 0.0;          // smoothed, bytes per second
};

// Process-wide window state; fonts and brushes are created once and never freed.
struct UiState {
    HWND mainWindow = nullptr;
    double scale = 1.0;
    HFONT titleFont = nullptr;
    HFONT textFont = nullptr;
    HFONT smallFont = nullptr;
    HFONT linkFont = nullptr; // the small font, underlined: a link under the mouse
    HFONT bigFont = nullptr;
    HBRUSH backgroundBrush = nullptr;
    HBRUSH panelBrush = nullptr;

    // Launcher mode.
    HWND versionLabel = nullptr;
    HWND statusLabel = nullptr;
    HWND mainBar = nullptr;
    HWND detailLabel = nullptr;
    HWND pauseLink = nullptr;
    HWND detailTip = nullptr; // the tooltip of the log's path after a failure
    LinkLook detailLook;      // the detail line is a link to the log after a failure
    LinkLook pauseLook;
    HWND rowLabels[kRows] = {};
    HWND rowBars[kRows] = {};
    HWND repairButton = nullptr;
    HWND folderButton = nullptr;
    HWND playButton = nullptr;
    HWND languageLabel = nullptr;
    HWND languageBox = nullptr;
    HWND notesView = nullptr; // the release's notes, shown once a run has ended well

    // Setup mode.
    HWND folderEdit = nullptr;
    HWND browseButton = nullptr;
    HWND shortcutCheck = nullptr;
    HWND installButton = nullptr;

    // The game's language list.
    std::vector<LanguageEntry> languages;

    // Memory of the progress display.
    bool failureShown = false;
    bool paused = false;        // the player paused the run; it has been asked to stop
    std::wstring laidOutFor;    // the status and detail texts and the link the places were last fitted to
    uint32_t downloadShown = 0; // the download bar's highest position in this run, in thousandths
    SpeedSampler sampler;
};

UiState& Ui();

// length x scale + 0.5, truncated toward zero: the one rounding of every length of the window.
int ScaleBy(int length, double scale);
// ScaleBy at the window's scale.
int Scale(int length);

// "Segoe UI" at the given 96-dpi character height and weight, at a scale or at the window's.
HFONT MakeFontAt(int size, int weight, double scale, bool underline = false);
HFONT MakeFont(int size, int weight, bool underline = false);

// The text font's size and weight: the status line's font.
inline constexpr int kTextFontSize = 16;
// The small font's size: the detail line's font, among others.
inline constexpr int kSmallFontSize = 13;

// The fonts and the two brushes, in the order title, text, small, link, big; background, panel.
void CreateFontsAndBrushes();

} // namespace Orv
