// The two links of the launcher window, used from a second process as a player would: the log's path after
// a failure, and Pause / Resume while files download.
#include "launcher_window.h"

#include "core/handles.h"
#include "core/text.h"
#include "support/mirror_helpers.h"
#include "ui/ui_state.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <numeric>

using namespace std::chrono_literals;

namespace Orv {
namespace {

using Support::WindowView;

class WindowLinks : public Support::LauncherWindow {};

bool IsObject(const std::string& path) {
    return path.find("/objects/") != std::string::npos;
}

// What the fault server has sent of each object, by URL path, in answers that have ended.
std::map<std::string, uint64_t> ObjectBytesSent(size_t* answers = nullptr) {
    std::map<std::string, uint64_t> sent;
    size_t count = 0;
    for (const Support::SentRecord& answer : Support::FaultAnswersSent()) {
        if (IsObject(answer.path)) {
            sent[answer.path] += answer.bytes;
            ++count;
        }
    }
    if (answers != nullptr) {
        *answers = count;
    }
    return sent;
}

// The sizes of the .part files of the download folder, by object name (the last part of its URL).
std::map<std::string, uint64_t> PartSizes(const std::wstring& gameFolder) {
    std::map<std::string, uint64_t> parts;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(gameFolder + L"\\.orvane\\download", error)) {
        if (entry.path().extension() == L".part") {
            parts[WideToUtf8(entry.path().stem().wstring())] = entry.file_size(error);
        }
    }
    return parts;
}

std::string LastPart(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

size_t ObjectRequests() {
    const std::vector<Support::RequestRecord> requests = Support::FaultRequests();
    return static_cast<size_t>(std::count_if(requests.begin(), requests.end(),
                                             [](const auto& request) { return IsObject(request.path); }));
}

TEST_F(WindowLinks, TheLogsPathOpensTheLogInATextEditorAfterAFailure) {
    Support::WriteFileBytes(game / L".orvane\\mirrors.txt", "http://127.0.0.1:1/orvane/\n");
    Support::ChildProcess& launcher = Start();
    HWND window = WaitForWindow(launcher);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForView(
        window, [](const WindowView& v) { return v.playEnabled; }, Support::kRunLimit));
    EXPECT_EQ(Look(window).detail, L"Details: " + LogPath());

    // Under the mouse the path is underlined: the label looks different until the mouse leaves.
    RECT label{};
    ::GetClientRect(::GetDlgItem(window, IdDetails), &label);
    ::MapWindowPoints(::GetDlgItem(window, IdDetails), window, reinterpret_cast<POINT*>(&label), 2);
    const uint64_t plain = Support::ScreenAreaHash(window, label);
    ASSERT_TRUE(Support::PointAt(window, IdDetails));
    EXPECT_TRUE(Support::WaitUntil([&] { return Support::ScreenAreaHash(window, label) != plain; }, 10s));
    ASSERT_TRUE(Support::PointAt(window, IdPlay));
    EXPECT_TRUE(Support::WaitUntil([&] { return Support::ScreenAreaHash(window, label) == plain; }, 10s));

    ASSERT_TRUE(Support::ClickLabel(window, IdDetails));
    HWND editor = nullptr;
    DWORD editorId = 0;
    ASSERT_TRUE(Support::WaitUntil(
        [&] { return (editor = Support::FindWindowTitled(L"launcher.log", &editorId)) != nullptr; },
        Support::kWindowLimit));
    EXPECT_NE(editorId, launcher.Id());
    KernelHandle editorProcess(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, editorId));
    ::TerminateProcess(editorProcess.Get(), 0);
    ::WaitForSingleObject(editorProcess.Get(), 10000);
    ASSERT_TRUE(Support::CloseWindow(window));
    EXPECT_TRUE(launcher.WaitExit(Support::kExitLimit).has_value());
}

TEST_F(WindowLinks, PauseStopsEveryTransferAndResumeFetchesAgainOnlyWhatWasInFlight) {
    AddDataFiles(4, 3000000, 1000000);
    Publish(12);
    UseSlowMirror();
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    // Every object is well on its way.
    const auto wellUnderWay = [&](const WindowView& v) {
        const std::map<std::string, uint64_t> parts = PartSizes(game.Path());
        return v.pauseLink == L"Pause" && parts.size() == 4 &&
               std::all_of(parts.begin(), parts.end(),
                           [](const auto& part) { return part.second >= 131072; });
    };
    ASSERT_TRUE(WaitForView(window, wellUnderWay, Support::kRunLimit));

    ASSERT_TRUE(Support::ClickLabel(window, IdPause));
    WindowView paused;
    ASSERT_TRUE(WaitForView(
        window, [](const WindowView& v) { return v.pauseLink == L"Resume"; }, Support::kRunLimit, &paused));
    EXPECT_EQ(paused.status, L"Update paused.");
    EXPECT_FALSE(paused.playEnabled);
    EXPECT_FALSE(paused.repairEnabled);
    // Every answer ends short of its object: the launcher closed the connections.
    const size_t requestsAtPause = ObjectRequests();
    const size_t allRequestsAtPause = Support::FaultRequests().size();
    size_t ended = 0;
    ASSERT_TRUE(Support::WaitUntil([&] { return ObjectBytesSent(&ended), ended >= requestsAtPause; },
                                   Support::kRunLimit));
    std::map<std::string, uint64_t> objectSize;
    for (const auto& [path, bytes] : ObjectBytesSent()) {
        std::wstring file = Utf8ToWide(path.substr(path.find("/objects/"))); // below the mirror's folder
        std::replace(file.begin(), file.end(), L'/', L'\\');
        objectSize[path] = Support::ReadFileOrEmpty(MirrorPath() + file).size();
        EXPECT_LT(bytes, objectSize[path]) << path;
    }
    ASSERT_EQ(objectSize.size(), 4U);
    // Nothing has been asked for since, and what arrived stays.
    EXPECT_EQ(ObjectRequests(), requestsAtPause);
    const std::map<std::string, uint64_t> parts = PartSizes(game.Path());
    ASSERT_EQ(parts.size(), 4U);

    ASSERT_TRUE(Support::ClickLabel(window, IdPause));
    ASSERT_TRUE(WaitForDone(window));
    EXPECT_TRUE(LogHas("update paused")) << LogText();
    // The new run asks for each object from where its .part ends.
    const std::vector<Support::RequestRecord> requests = Support::FaultRequests();
    for (size_t i = allRequestsAtPause; i < requests.size(); ++i) {
        if (IsObject(requests[i].path)) {
            // An object the paused run had not begun comes whole.
            const auto part = parts.find(LastPart(requests[i].path));
            const std::string range =
                part == parts.end() ? "-" : "bytes=" + std::to_string(part->second) + "-";
            EXPECT_EQ(requests[i].range, range) << requests[i].path;
        }
    }
    uint64_t fetchedAgain = 0;
    const std::map<std::string, uint64_t> sent = ObjectBytesSent();
    for (const auto& [path, size] : objectSize) {
        ASSERT_GE(sent.at(path), size) << path;
        fetchedAgain += sent.at(path) - size;
    }
    // What was on its way when the connections closed: a few of the server's 32 KiB pieces each.
    EXPECT_LE(fetchedAgain, requestsAtPause * 512 * 1024);
    RecordProperty("fetchedAgain", std::to_string(fetchedAgain));
    ASSERT_TRUE(Support::CloseWindow(window));
    EXPECT_TRUE(started.back().WaitExit(Support::kExitLimit).has_value());
}

} // namespace
} // namespace Orv
