// Every status line of the launcher window, in both languages at the four usual scales, laid out as the
// window lays it out and measured in the window's font: none is cut.
#include "core/handles.h"
#include "core/text.h"
#include "ui/paint_scope.h"
#include "ui/pause_control.h"
#include "ui/progress_display.h"
#include "ui/status_layout.h"
#include "ui/ui_state.h"
#include "update/http_client.h"
#include "update/manifest.h"
#include "update/object_stage.h"
#include "update/run_texts.h"
#include "update/trust/release_trust.h"

#include <gtest/gtest.h>
#include <fmt/format.h>
#include <winhttp.h>

#include <vector>

namespace Orv {
namespace {

const wchar_t* const kGameFolder = L"C:\\Users\\Oyuncu\\AppData\\Local\\Programs\\Orvane Online";
const wchar_t* const kPart =
    L"C:\\Users\\Oyuncu\\AppData\\Local\\Programs\\Orvane Online\\.orvane\\download\\"
    L"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08.part";

// Why a transfer fails, as the HTTP client says it.
std::vector<std::wstring> TransferReasons() {
    std::vector<std::wstring> reasons;
    for (uint32_t status : {404U, 503U, 403U}) {
        reasons.push_back(HttpErrorText({status}));
    }
    for (const uint32_t error : std::initializer_list<uint32_t>{
             ERROR_CANCELLED, ERROR_WINHTTP_TIMEOUT, ERROR_WINHTTP_NAME_NOT_RESOLVED,
             ERROR_WINHTTP_CANNOT_CONNECT, ERROR_WINHTTP_SECURE_FAILURE,
             ERROR_WINHTTP_INVALID_SERVER_RESPONSE}) {
        reasons.push_back(HttpErrorText({0, error}));
    }
    return reasons;
}

// Every status line the window shows, in the UI language of the moment.
std::vector<std::wstring> StatusLines() {
    std::vector<std::wstring> lines = {PreparingText(),    GettingVersionText(),
                                       SelfUpdatingText(), CheckingText(false),
                                       CheckingText(true), DownloadingText(123456, 5690000000000ULL),
                                       DoneText(true),     DoneText(false),
                                       PausedText(),       NoSpaceText(5690000000000ULL, 1230000000000ULL)};
    std::vector<std::wstring> unreachable = TransferReasons();
    unreachable.push_back(NoServerText());
    const ReleaseTrust trust{"AAAA", 7};
    unreachable.push_back(*SignatureRefusal("release 1\n", trust));
    Manifest manifest;
    manifest.release = 3;
    unreachable.push_back(*ReleaseRefusal(manifest, trust));
    manifest.release = 9;
    manifest.expires = L"unreadable";
    unreachable.push_back(*ReleaseRefusal(manifest, trust));
    manifest.expires = L"2001-01-01T00:00:00Z";
    unreachable.push_back(*ReleaseRefusal(manifest, trust));
    unreachable.push_back(ParseManifest("").message);
    unreachable.push_back(ParseManifest("format 99\n").message);
    for (const std::wstring& reason : unreachable) {
        lines.push_back(UnreachableText(reason));
    }

    std::vector<std::wstring> incomplete = {CorruptObjectText(), InterruptedText(), CancelledText()};
    for (const std::wstring& reason : TransferReasons()) {
        incomplete.push_back(L"Data\\Maps\\kuzey_ormani_gece.map: " + reason);
    }
    for (uint32_t error :
         {ERROR_DISK_FULL, ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, ERROR_FILE_CORRUPT}) {
        incomplete.push_back(WriteErrorText(error, kPart));
        incomplete.push_back(WriteErrorText(error, std::wstring(kGameFolder) + L"\\Data\\Maps\\kuzey.map"));
    }
    for (const std::wstring& reason : incomplete) {
        lines.push_back(IncompleteText(reason));
    }
    return lines;
}

// Every status line, then every detail line under the tallest status line: the log's path in a deep game
// folder after a failure, and the longest download lines while the Pause link takes the end of the line.
TEST(StatusLayout, EveryStatusAndDetailLineFitsAtEveryScaleInBothLanguages) {
    const std::wstring deepLog = std::wstring(kGameFolder) +
                                 L"\\Kurulumlar\\Orvane Online Kapali Beta Sunucusu" +
                                 L"\\Yedek Kurulum Klasoru Ikinci Disk\\.orvane\\launcher.log";
    const uint64_t huge = 5690000000000ULL;
    WindowDcScope screen(nullptr);
    for (const int dpi : {96, 120, 144, 192}) {
        const double scale = dpi / 96.0;
        GdiObject font(MakeFontAt(kTextFontSize, FW_NORMAL, scale));
        GdiObject small(MakeFontAt(kSmallFontSize, FW_NORMAL, scale));
        const StatusLayout designed = LayoutForStatus(scale, 0);
        for (const bool turkish : {false, true}) {
            SetTurkish(turkish);
            int tallest = 0;
            for (const std::wstring& line : StatusLines()) {
                const SIZE size =
                    WrappedTextSize(screen.Dc(), static_cast<HFONT>(font.Get()), line, StatusWidth(scale));
                tallest = std::max<int>(tallest, size.cy);
                const StatusLayout layout = LayoutForStatus(scale, size.cy);
                const std::string where = fmt::format("{} dpi: {}", dpi, WideToUtf8(line));
                EXPECT_LE(size.cx, layout.status.right - layout.status.left) << where;
                EXPECT_LE(size.cy, layout.status.bottom - layout.status.top) << where;
                EXPECT_LE(layout.status.bottom, layout.mainBar.top) << where;
                EXPECT_LE(layout.mainBar.bottom, layout.detail.top) << where;
                EXPECT_LE(layout.detail.bottom, StatusRoomBottom(scale)) << where;
                if (size.cy <= designed.status.bottom - designed.status.top) {
                    EXPECT_TRUE(EqualRect(&layout.mainBar, &designed.mainBar)) << where;
                }
            }
            const std::pair<std::wstring, bool> details[]{
                {LogLinkText(deepLog), false},
                {CheckDetailText(123455, 123456), false},
                {DownloadDetailText(huge - 1, huge, 123456789.0, 123455, 123456), true},
                {PausedDetailText(huge - 1, huge, 123455, 123456), true}};
            for (const auto& [line, linkShown] : details) {
                const int width = StatusWidth(scale) - (linkShown ? ScaleBy(kPauseLinkWidth, scale) : 0);
                const SIZE size = WrappedTextSize(screen.Dc(), static_cast<HFONT>(small.Get()), line, width);
                const StatusLayout layout = LayoutForStatus(scale, tallest, size.cy);
                const std::string where = fmt::format("{} dpi: {}", dpi, WideToUtf8(line));
                EXPECT_LE(size.cx, width) << where;
                EXPECT_LE(size.cy, layout.detail.bottom - layout.detail.top) << where;
                EXPECT_LE(layout.detail.bottom, StatusRoomBottom(scale)) << where;
            }
        }
    }
    SetTurkish(false);
}

TEST(StatusLayout, IsTheDesignsWhileTheTextFitsTwoLines) {
    const StatusLayout at144 = LayoutForStatus(1.5, 66);
    EXPECT_EQ(at144.status.left, 45);
    EXPECT_EQ(at144.status.top, 168);
    EXPECT_EQ(at144.status.bottom, 234);
    EXPECT_EQ(at144.mainBar.top, 252);
    EXPECT_EQ(at144.detail.top, 285);
    const StatusLayout grown = LayoutForStatus(1.5, 100);
    EXPECT_EQ(grown.status.bottom, 268);
    EXPECT_EQ(grown.mainBar.top, 286);
    EXPECT_EQ(grown.detail.bottom, 349);
}

} // namespace
} // namespace Orv
