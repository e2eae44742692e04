#pragma once
// The real Orvane.exe in a game folder of its own, updating from the test mirrors, watched from here.
#include "support/mirror_test.h"
#include "support/observer.h"
#include "support/process.h"
#include "support/test_folder.h"

#include <chrono>
#include <deque>
#include <string>
#include <vector>

namespace Orv::Support {

inline constexpr std::chrono::seconds kWindowLimit{60};
inline constexpr std::chrono::seconds kRunLimit{120};
inline constexpr std::chrono::seconds kExitLimit{30};

// What the launcher window shows at one moment.
struct WindowView {
    std::wstring version;
    std::wstring status;
    std::wstring detail;
    std::vector<std::wstring> rows; // texts of the four download rows
    std::vector<bool> rowBarsShown; // whether each row's bar is shown
    std::wstring play;              // text of PLAY
    bool playEnabled = false;
    bool repairEnabled = false;
    std::wstring repair;
    std::wstring folder;
    std::wstring languageLabel;
    std::wstring language; // the selected language entry
    bool languageEnabled = false;
    std::wstring notes; // the release's notes as the notes control holds them
    bool notesShown = false;
    std::wstring pauseLink; // the text of the Pause link; empty while it is hidden
    bool complete = false;  // every control was there
};

class LauncherWindow : public MirrorTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Publishes the source folder (the sample release plus what the test adds) as the release.
    void Publish(int release, std::vector<std::wstring> extra = {});
    // Makes the source's VersionInfo.ver say the client version the release is published with
    // ("7.1.<release>"), as publish wants it; Publish does so itself.
    void MatchVersionFile(int release);
    // Points the game folder's mirror list at the mirror on the base URL.
    void UseMirror(const std::wstring& base);
    // The fault server, sending every object in small, slow pieces.
    void UseSlowMirror();
    // Data files of distinct sizes that do not compress, so that several downloads run at once.
    void AddDataFiles(int count, size_t smallest, size_t step);

    ChildProcess& Start(const std::wstring& args = {});
    HWND WaitForWindow(const ChildProcess& process) const;
    // Starts the launcher and waits for its window; null when it did not appear.
    HWND Open(const std::wstring& args = {});

    WindowView Look(HWND window) const;
    // Polls the window until the condition holds or the time is up; returns the last view.
    bool WaitForView(HWND window, const std::function<bool(const WindowView&)>& condition,
                     std::chrono::milliseconds limit, WindowView* last = nullptr) const;
    // Waits until the run has ended well (PLAY enabled and reading PLAY).
    bool WaitForDone(HWND window) const;

    std::string LogText() const;
    bool LogHas(const std::string& text) const;
    std::wstring LogPath() const { return game / L".orvane\\launcher.log"; }

    std::wstring MirrorPath() const;
    std::wstring SampleRelease() const;

    TempFolder source{L"orvsrc"};
    TempFolder game{L"orvgame"};
    std::wstring exe;
    std::wstring mirrorName;
    std::deque<ChildProcess> started;
};

// Every running sample client window ("OrvaneSampleUpdater") and its process id.
std::vector<std::pair<HWND, DWORD>> SampleClientWindows();
void EndSampleClients();

// The text the first sample client window shows, once it shows one; empty when none appears in time.
std::wstring SampleClientText();

} // namespace Orv::Support
