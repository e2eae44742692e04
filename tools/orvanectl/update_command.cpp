#include "orvanectl/update_command.h"

#include "core/handles.h"
#include "core/instance_lock.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "orvanectl/console.h"
#include "orvanectl/interrupt.h"
#include "orvanectl/json_text.h"
#include "orvanectl/progress.h"
#include "update/manifest.h"
#include "update/update_progress.h"
#include "update/update_run.h"

#include <windows.h>

#include <atomic>
#include <fmt/xchar.h>
#include <stop_token>
#include <thread>
#include <vector>

namespace Orv::Publisher {
namespace {

constexpr DWORD kPollMs = 100;
constexpr uint64_t kLineEveryMs = 1000;

// A repair names the files it repaired, up to a screenful.
constexpr size_t kListedRepairs = 20;

const wchar_t* PhaseName(Phase phase) {
    switch (phase) {
    case Phase::Idle:
        return L"idle";
    case Phase::Starting:
        return L"starting";
    case Phase::SelfUpdating:
        return L"updating the launcher";
    case Phase::Checking:
        return L"checking";
    case Phase::Downloading:
        return L"downloading";
    case Phase::Finishing:
        return L"finishing";
    case Phase::Done:
        return L"done";
    case Phase::Failed:
        return L"failed";
    case Phase::Restarting:
        return L"restarting";
    case Phase::Stopped:
        return L"stopped";
    }
    return L"?";
}

std::wstring FullPath(const std::wstring& path) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0 || length >= buffer.size()) {
        return path;
    }
    std::wstring full(buffer.data(), length);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) {
        full.pop_back();
    }
    return full;
}

// Prints a progress line for the phase: bytes, the speed since the download began and the time left.
class ProgressPrinter {
public:
    explicit ProgressPrinter(UpdateProgress& progress) : progress_(progress) {}

    void Tick(Phase phase) {
        const uint64_t now = ::GetTickCount64();
        if (phase != lastPhase_) {
            PrintNote(fmt::format(L"phase: {}", PhaseName(phase)));
            lastPhase_ = phase;
            phaseStart_ = now;
        }
        if (now - lastLine_ < kLineEveryMs) {
            return;
        }
        lastLine_ = now;
        if (phase == Phase::Checking) {
            PrintNote(fmt::format(L"checked {} / {} files", progress_.checkDone.load(),
                                  progress_.checkTotal.load()));
        } else if (phase == Phase::Downloading) {
            const uint64_t bytes = progress_.bytesDone.load();
            const uint64_t total = progress_.bytesTotal.load();
            PrintNote(fmt::format(L"{} / {}{}  ·  {} / {} files", SizeText(bytes), SizeText(total),
                                  RateText(bytes, total, now - phaseStart_), progress_.filesDone.load(),
                                  progress_.filesTotal.load()));
        }
    }

private:
    UpdateProgress& progress_;
    Phase lastPhase_ = Phase::Idle;
    uint64_t phaseStart_ = 0;
    uint64_t lastLine_ = 0;
};

// What the run left, read once it has ended.
struct RunEnd {
    Phase phase = Phase::Idle;
    std::wstring status;
    int32_t release = 0;
    std::wstring clientVersion;
    std::vector<std::wstring> downloaded;
};

RunEnd ReadEnd(UpdateProgress& progress) {
    std::lock_guard guard(progress.lock);
    return {progress.phase.load(), progress.statusText, progress.release, progress.clientVersion,
            progress.toDownload};
}

void PrintRepaired(const std::vector<std::wstring>& paths) {
    for (size_t i = 0; i < paths.size() && i < kListedRepairs; ++i) {
        PrintNote(fmt::format(L"repaired {}", PrintablePath(paths[i])));
    }
    if (paths.size() > kListedRepairs) {
        PrintNote(fmt::format(L"... and {} more files", paths.size() - kListedRepairs));
    }
    PrintNote(fmt::format(L"repaired {} {}", paths.size(), paths.size() == 1 ? L"file" : L"files"));
}

std::wstring JsonSummary(const std::wstring& gameFolder, const RunEnd& end, const UpdateProgress& progress,
                         bool repair, bool stopped) {
    const bool ok = end.phase == Phase::Done;
    std::vector<std::wstring> paths;
    for (const std::wstring& path : end.downloaded) {
        paths.push_back(PrintablePath(path));
    }
    JsonObject json;
    json.Text("command", L"update")
        .Flag("ok", ok)
        .Flag("repair", repair)
        .Flag("stopped", stopped)
        .Text("folder", gameFolder)
        .Number("release", end.release)
        .Text("clientVersion", end.clientVersion)
        .Number("files", static_cast<int64_t>(progress.checkTotal.load()))
        .Number("downloaded", ok ? static_cast<int64_t>(end.downloaded.size()) : 0)
        .Number("bytes", static_cast<int64_t>(progress.bytesDone.load()))
        .Text("status", end.status)
        .Texts("paths", ok ? paths : std::vector<std::wstring>{})
        .Texts("problems", ok ? std::vector<std::wstring>{} : std::vector<std::wstring>{end.status});
    return json.Line();
}

} // namespace

int RunUpdateCommand(const std::wstring& gameFolderArgument, bool repair, const CommonOptions& common) {
    const std::wstring gameFolder = FullPath(gameFolderArgument);
    if (!IsDirectory(gameFolder)) {
        PrintErrorLine(fmt::format(L"update failed: {} is not a folder", gameFolder));
        return 1;
    }
    // The same lock as the launcher's: one update per game folder at a time.
    KernelHandle lock(::CreateMutexW(nullptr, FALSE, InstanceLockName(gameFolder).c_str()));
    if (lock && ::WaitForSingleObject(lock.Get(), 0) == WAIT_TIMEOUT) {
        PrintErrorLine(fmt::format(L"update failed: a launcher is running for {}", gameFolder));
        return 1;
    }
    OpenLog(JoinPath(JoinPath(gameFolder, kDataFolderName), kLogFileName));
    Log(fmt::format(L"orvanectl update{} in {}", repair ? L" --repair" : L"", gameFolder));

    UpdateProgress& progress = Progress();
    // Ctrl+C stops the engine through its stop token: it places only verified files, each in one move, and
    // keeps what it downloaded for the next run.
    const InterruptScope interrupt;
    std::atomic<bool> ended{false};
    UpdateParams params{gameFolder, repair, false, L""};
    std::jthread run([&](std::stop_token) {
        UpdateRun(params, progress, interrupt.Token());
        ended.store(true);
    });
    ProgressPrinter printer(progress);
    while (!ended.load()) {
        printer.Tick(progress.phase.load());
        ::Sleep(kPollMs);
    }
    run.join();
    printer.Tick(progress.phase.load());

    const RunEnd end = ReadEnd(progress);
    const bool stopped = interrupt.Interrupted() && end.phase != Phase::Done;
    if (stopped) {
        Log(L"orvanectl update: stopped by Ctrl+C");
        PrintErrorLine(L"update stopped by Ctrl+C; the next run resumes the downloads");
    } else if (end.phase != Phase::Done) {
        PrintErrorLine(end.status);
    } else if (repair && !end.downloaded.empty()) {
        PrintRepaired(end.downloaded);
    }
    if (common.json) {
        PrintLine(JsonSummary(gameFolder, end, progress, repair, stopped));
    } else if (end.phase == Phase::Done) {
        PrintLine(end.status);
    }
    return stopped ? kExitInterrupted : end.phase == Phase::Done ? 0 : 1;
}

} // namespace Orv::Publisher
