// What the launcher window looks like on the screen, and the launcher replacing itself.
#include "launcher_window.h"

#include "core/handles.h"
#include "core/text.h"
#include "support/mirror_helpers.h"
#include "ui/status_layout.h"
#include "ui/ui_state.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::WindowView;

class WindowLook : public Support::LauncherWindow {
protected:
    // Starts the launcher with --auto, which ends once it has started its successor, and waits until
    // the successor has ended too; returns the successor's part of the log.
    std::string RunUntilTheSuccessorEnds() {
        Support::ChildProcess& first = Start(L"--auto");
        EXPECT_EQ(first.WaitExit(Support::kRunLimit), 0U) << LogText();
        const std::string restarted = "start in " + WideToUtf8(game.Path()) + " (after self-update)\r\n";
        EXPECT_TRUE(Support::WaitUntil(
            [&] {
                const std::string log = LogText();
                const size_t at = log.find(restarted);
                return at != std::string::npos && log.find("exit ", at) != std::string::npos;
            },
            Support::kRunLimit))
            << LogText();
        const std::string log = LogText();
        const size_t at = log.find(restarted);
        return at == std::string::npos ? std::string() : log.substr(at);
    }
};

TEST_F(WindowLook, ColoursOfTheWindowAndOfPlayDuringAndAfterTheRun) {
    if (::GetDpiForSystem() != 96) {
        GTEST_SKIP() << "the colour positions are those of 96 dpi";
    }
    AddDataFiles(1, 4000000, 0);
    Publish(1);
    UseSlowMirror();
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForView(
        window, [](const WindowView& v) { return v.status.rfind(L"Downloading: ", 0) == 0; },
        Support::kRunLimit));
    // PLAY's face, clear of its text and its rounded corners.
    const auto playFace = [&] { return Support::ScreenPixel(window, 545, 380); };
    EXPECT_TRUE(Support::WaitUntil([&] { return playFace() == Colour::Disabled; }, 10s));
    EXPECT_TRUE(Support::WaitForPixel(window, 10, 300, Colour::Background, 10s));
    EXPECT_TRUE(Support::WaitForPixel(window, 10, 45, Colour::Panel, 10s));
    EXPECT_TRUE(Support::WaitForPixel(window, 740, 85, Colour::Panel, 10s));
    EXPECT_TRUE(Support::WaitForPixel(window, 10, 90, Colour::Accent, 10s));
    EXPECT_TRUE(Support::WaitForPixel(window, 400, 91, Colour::Accent, 10s));
    EXPECT_TRUE(Support::WaitForPixel(window, 10, 92, Colour::Background, 10s));

    ASSERT_TRUE(WaitForDone(window));
    EXPECT_TRUE(Support::WaitUntil([&] { return playFace() == Colour::Accent; }, 10s));
    // Repair is a secondary button: its own face colour.
    EXPECT_TRUE(Support::WaitForPixel(window, 40, 388, Colour::Secondary, 10s));
}

TEST_F(WindowLook, NewerLauncherReplacesItselfAndTheSuccessorFinishesTheRun) {
    Support::TempFolder next(L"orvnext");
    std::string newer = Support::ReadFileOrEmpty(exe);
    ASSERT_FALSE(newer.empty());
    newer += "appended by the next release";
    Support::WriteFileBytes(next / L"Orvane.exe", newer);
    Publish(2, {L"--launcher", next / L"Orvane.exe"});

    const std::string successor = RunUntilTheSuccessorEnds();
    EXPECT_NE(successor.find("Have fun!"), std::string::npos) << LogText();
    EXPECT_NE(successor.find("exit 0\r\n"), std::string::npos) << LogText();
    EXPECT_EQ(Support::ReadFileOrEmpty(exe), newer);
    EXPECT_TRUE(Support::WaitUntil([&] { return !Support::Exists(exe + L".old"); }, 10s));
}

// Mirrors that disagree on the launcher: the first serves one launcher once, then fails; the second
// serves another. The successor of the one self-update goes on with the update as it is.
TEST_F(WindowLook, MirrorsThatDisagreeOnTheLauncherReplaceItOncePerStart) {
    const std::string original = Support::ReadFileOrEmpty(exe);
    ASSERT_FALSE(original.empty());
    Support::TempFolder launchers(L"orvnext");
    Support::WriteFileBytes(launchers / L"first\\Orvane.exe", original + "the first mirror's launcher");
    Support::WriteFileBytes(launchers / L"second\\Orvane.exe", original + "the second mirror's launcher");
    Publish(2, {L"--launcher", launchers / L"first\\Orvane.exe"});
    MatchVersionFile(3);
    const auto second = Support::RunPublish(source.Path(), MirrorPath() + L"-second", 3,
                                            {L"--launcher", launchers / L"second\\Orvane.exe"});
    ASSERT_EQ(second.exitCode, 0U) << second.output;
    Support::SetFaultRules("{\"/" + WideToUtf8(mirrorName) +
                           "/manifest.txt\": {\"status\": 503, \"from_request\": 2}}");
    Support::WriteFileBytes(game / L".orvane\\mirrors.txt",
                            WideToUtf8(Support::FaultBase() + mirrorName + L"/\n" + Support::HttpBase() +
                                       mirrorName + L"-second/\n"));

    EXPECT_NE(RunUntilTheSuccessorEnds().find("Update complete. Have fun!"), std::string::npos) << LogText();
    const std::string log = LogText();
    EXPECT_EQ(log.find("self-update: restarting"), log.rfind("self-update: restarting")) << log;
    EXPECT_TRUE(Support::ReadFileOrEmpty(exe) == original + "the first mirror's launcher");
    Support::EndProcessesRunningFrom(game.Path());
}

// The status line of a run that cannot reach its server, in each language: the real window's label holds
// the whole text in its font, and the bar, the detail line and the controls below keep clear of it.
TEST_F(WindowLook, TheFailureOfAnUnreachableServerIsReadableWholeInBothLanguages) {
    Support::WriteFileBytes(game / L".orvane\\mirrors.txt", "http://127.0.0.1:1/orvane/\n");
    for (const bool turkish : {true, false}) {
        Support::WriteFileBytes(game / L"lang\\lang.ini",
                                turkish ? "[Language]\r\nCode=tr\r\n" : "[Language]\r\nCode=en\r\n");
        HWND window = Open();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(WaitForView(
            window, [](const WindowView& v) { return v.playEnabled; }, Support::kRunLimit));
        const std::vector<Support::ControlInfo> controls = Support::ListControls(window);
        ASSERT_EQ(controls.size(), 19U);
        const Support::ControlInfo& status = controls[1];
        EXPECT_EQ(status.text.substr(0, status.text.find(L'\n') + 1),
                  turkish ? L"Güncelleme sunucusuna ulaşılamadı.\n" : L"Cannot reach the update server.\n");

        const double scale = ::GetDpiForWindow(window) / 96.0;
        const RECT label = status.place;
        GdiObject font(::CreateFontW(-static_cast<int>(16 * scale + 0.5), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                     FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                     CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI"));
        HDC dc = ::GetDC(nullptr);
        HGDIOBJ previous = ::SelectObject(dc, font.Get());
        RECT text{0, 0, label.right - label.left, 0};
        ::DrawTextW(dc, status.text.c_str(), -1, &text, kStatusTextFormat | DT_CALCRECT);
        ::SelectObject(dc, previous);
        ::ReleaseDC(nullptr, dc);
        EXPECT_LE(text.right, label.right - label.left) << WideToUtf8(status.text);
        EXPECT_LE(text.bottom, label.bottom - label.top) << WideToUtf8(status.text);
        if (turkish) { // three lines: the label has grown past its design's two
            EXPECT_GT(label.bottom - label.top, static_cast<int>(44 * scale + 0.5));
        }
        // Below the label: the bar, the detail line, then the language label and the buttons.
        EXPECT_LE(label.bottom, controls[2].place.top);
        EXPECT_LE(controls[2].place.bottom, controls[3].place.top);
        EXPECT_LE(controls[3].place.bottom, controls[15].place.top);
        EXPECT_EQ(controls[3].text, (turkish ? L"Ayrıntılar: " : L"Details: ") + LogPath());
        EXPECT_EQ(label.left, static_cast<int>(30 * scale + 0.5));
        EXPECT_EQ(label.top, static_cast<int>(112 * scale + 0.5));
        ASSERT_TRUE(Support::CloseWindow(window));
        EXPECT_TRUE(started.back().WaitExit(Support::kExitLimit).has_value());
    }
}

// The release's notes take the room of the download rows once the run has ended well; a run of a release
// without notes leaves none.
TEST_F(WindowLook, TheReleaseNotesShowBelowTheDetailLineAfterTheRun) {
    Support::WriteFileBytes(source / L"notes.txt", "Release 1\nNew: the harbour map\nFixed: İ ı ş ğ\n");
    Publish(1, {L"--notes", L"notes.txt"});
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForDone(window));
    WindowView view;
    EXPECT_TRUE(WaitForView(
        window, [](const WindowView& v) { return v.notesShown; }, 10s, &view));
    EXPECT_EQ(view.notes, L"Release 1\r\nNew: the harbour map\r\nFixed: İ ı ş ğ\r\n");
    const std::vector<Support::ControlInfo> controls = Support::ListControls(window);
    ASSERT_EQ(controls.size(), 19U);
    const Support::ControlInfo& notes = controls[17];
    EXPECT_EQ(notes.id, IdNotes);
    // Between the detail line and the language label, as wide as the lines above it.
    EXPECT_GE(notes.place.top, controls[3].place.bottom);
    EXPECT_LE(notes.place.bottom, controls[15].place.top);
    EXPECT_EQ(notes.place.left, controls[3].place.left);
    EXPECT_EQ(notes.place.right, controls[3].place.right);
    // A click puts the keyboard in the notes; Tab takes it on to the next control, as from any other.
    const auto focus = [&] {
        GUITHREADINFO info{sizeof info, 0, {}, {}, {}, {}, {}, {}, {}};
        return ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus
                                                                                      : nullptr;
    };
    ::PostMessageW(notes.handle, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    ::PostMessageW(notes.handle, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(Support::WaitUntil([&] { return focus() == notes.handle; }, 10s));
    ::PostMessageW(notes.handle, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_TRUE(Support::WaitUntil([&] { return focus() == controls[16].handle; }, 10s));

    Publish(2);
    ASSERT_TRUE(Support::ClickControl(window, IdRepair));
    EXPECT_TRUE(WaitForView(
        window, [](const WindowView& v) { return v.playEnabled && v.version.ends_with(L"release 2"); },
        Support::kRunLimit, &view));
    EXPECT_FALSE(view.notesShown);
    EXPECT_EQ(view.notes, L"");
}

} // namespace
} // namespace Orv
