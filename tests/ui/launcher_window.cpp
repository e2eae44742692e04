#include "launcher_window.h"

#include "core/text.h"
#include "install/registration.h"
#include "support/mirror_helpers.h"

#include <atomic>
#include <filesystem>

namespace Orv::Support {
namespace {

std::atomic<int> counter{0};

// Child controls in creation order: version, status, bar, detail, four rows of label and bar,
// Repair, Game folder, PLAY, language label, language list, the release's notes, the Pause link.
constexpr size_t kControls = 19;
constexpr size_t kFirstRow = 4;

BOOL CALLBACK CollectSampleClient(HWND window, LPARAM param) {
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    if (std::wstring(className) == L"OrvaneSampleUpdater") {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        reinterpret_cast<std::vector<std::pair<HWND, DWORD>>*>(param)->emplace_back(window, pid);
    }
    return TRUE;
}

} // namespace

std::vector<std::pair<HWND, DWORD>> SampleClientWindows() {
    std::vector<std::pair<HWND, DWORD>> found;
    ::EnumWindows(CollectSampleClient, reinterpret_cast<LPARAM>(&found));
    return found;
}

void EndSampleClients() {
    for (const auto& [window, pid] : SampleClientWindows()) {
        if (HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
            ::TerminateProcess(process, 0);
            ::WaitForSingleObject(process, 10000);
            ::CloseHandle(process);
        }
    }
}

std::wstring SampleClientText() {
    std::wstring shown;
    WaitUntil(
        [&] {
            const auto clients = SampleClientWindows();
            const auto controls =
                clients.empty() ? std::vector<ControlInfo>() : ListControls(clients.front().first);
            shown = controls.empty() ? L"" : controls.front().text;
            return !shown.empty();
        },
        kWindowLimit);
    return shown;
}

void LauncherWindow::SetUp() {
    MirrorTest::SetUp();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Halvex\\Kelvaro");
    mirrorName = L"win_" + std::to_wstring(::GetTickCount64()) + L"_" + std::to_wstring(counter.fetch_add(1));
    std::error_code error;
    std::filesystem::copy(SampleRelease(), source.Path(), std::filesystem::copy_options::recursive, error);
    ASSERT_FALSE(error) << "sample release " << Utf8(SampleRelease()) << ": " << error.message();
    exe = game / L"Orvane.exe";
    ASSERT_TRUE(::CopyFileW((BinaryFolder() + L"\\Orvane.exe").c_str(), exe.c_str(), FALSE));
    MakeDirectories(game / L".orvane");
    UseMirror(HttpBase());
}

void LauncherWindow::TearDown() {
    for (auto& process : started) {
        process.Kill();
        process.WaitExit(std::chrono::seconds(10));
    }
    EndSampleClients();
    MirrorTest::TearDown();
}

std::wstring LauncherWindow::SampleRelease() const {
    return BinaryFolder() + L"\\..\\sample-release";
}

std::wstring LauncherWindow::MirrorPath() const {
    return MirrorRoot() + L"\\" + mirrorName;
}

void LauncherWindow::MatchVersionFile(int release) {
    std::string text = ReadFileOrEmpty(source / L"VersionInfo.ver");
    const size_t key = text.find("ClientVersion ");
    ASSERT_NE(key, std::string::npos) << text;
    const size_t start = key + 14;
    text.replace(start, text.find_first_of("\r\n", start) - start, "7.1." + std::to_string(release));
    WriteFileBytes(source / L"VersionInfo.ver", text);
}

void LauncherWindow::Publish(int release, std::vector<std::wstring> extra) {
    MatchVersionFile(release);
    extra.insert(extra.end(), {L"--server", L"127.0.0.1:7000"});
    const auto published = RunPublish(source.Path(), MirrorPath(), release, extra);
    ASSERT_EQ(published.exitCode, 0U) << published.output;
}

void LauncherWindow::UseMirror(const std::wstring& base) {
    WriteFileBytes(game / L".orvane\\mirrors.txt", WideToUtf8(base + mirrorName) + "/\n");
}

void LauncherWindow::UseSlowMirror() {
    SetFaultRules(R"({"*": {"delay_ms": 100, "chunk": 32768}})");
    UseMirror(FaultBase());
}

void LauncherWindow::AddDataFiles(int count, size_t smallest, size_t step) {
    for (int i = 0; i < count; ++i) {
        WriteFileBytes(source / (L"data\\extra\\part" + std::to_wstring(i) + L".bin"),
                       RandomBytes(smallest + step * static_cast<size_t>(i), 100 + static_cast<unsigned>(i)));
    }
}

ChildProcess& LauncherWindow::Start(const std::wstring& args) {
    started.push_back(StartProcess(exe, args, game.Path()));
    EXPECT_TRUE(started.back().Started()) << started.back().StartProblem();
    return started.back();
}

HWND LauncherWindow::WaitForWindow(const ChildProcess& process) const {
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindLauncherWindow(process.Id())) != nullptr || !process.Running(); },
              kWindowLimit);
    return window;
}

HWND LauncherWindow::Open(const std::wstring& args) {
    return WaitForWindow(Start(args));
}

WindowView LauncherWindow::Look(HWND window) const {
    WindowView view;
    const std::vector<ControlInfo> controls = ListControls(window);
    if (controls.size() != kControls) {
        return view;
    }
    view.version = controls[0].text;
    view.status = controls[1].text;
    view.detail = controls[3].text;
    for (size_t row = 0; row < 4; ++row) {
        view.rows.push_back(controls[kFirstRow + 2 * row].text);
        view.rowBarsShown.push_back(controls[kFirstRow + 2 * row + 1].visible);
    }
    view.repair = controls[12].text;
    view.repairEnabled = controls[12].enabled;
    view.folder = controls[13].text;
    view.play = controls[14].text;
    view.playEnabled = controls[14].enabled;
    view.languageLabel = controls[15].text;
    view.language = controls[16].text;
    view.languageEnabled = controls[16].enabled;
    view.notes = controls[17].text;
    view.notesShown = controls[17].visible;
    view.pauseLink = controls[18].visible ? controls[18].text : L"";
    view.complete = true;
    return view;
}

bool LauncherWindow::WaitForView(HWND window, const std::function<bool(const WindowView&)>& condition,
                                 std::chrono::milliseconds limit, WindowView* last) const {
    WindowView view;
    const bool held = WaitUntil(
        [&] {
            view = Look(window);
            return view.complete && condition(view);
        },
        limit);
    if (last != nullptr) {
        *last = view;
    }
    return held;
}

bool LauncherWindow::WaitForDone(HWND window) const {
    return WaitForView(
        window, [](const WindowView& v) { return v.playEnabled && v.play == L"PLAY"; }, kRunLimit);
}

std::string LauncherWindow::LogText() const {
    return ReadFileOrEmpty(LogPath());
}

bool LauncherWindow::LogHas(const std::string& text) const {
    return LogText().find(text) != std::string::npos;
}

} // namespace Orv::Support
