#include "orvanectl/update_command.h"

#include "core/handles.h"
#include "core/instance_lock.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "orvanectl/console.h"
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

// Ctrl+C and Ctrl+Break ask the run to stop; the handler runs on a thread of its own.
std::stop_source* runStop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if ((type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) && runStop != nullptr) {
        runStop->request_stop();
        return TRUE;
    }
    return FALSE;
}

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

// Prints a progress line for the phase, with the speed measured since the previous line.
class ProgressPrinter {
public:
    explicit ProgressPrinter(UpdateProgress& progress) : progress_(progress) {}

    void Tick(Phase phase) {
        const uint64_t now = ::GetTickCount64();
        if (phase != lastPhase_) {
            PrintLine(fmt::format(L"phase: {}", PhaseName(phase)));
            lastPhase_ = phase;
        }
        if (now - lastLine_ < kLineEveryMs) {
            return;
        }
        const uint64_t bytes = progress_.bytesDone.load();
        const double seconds = lastLine_ == 0 ? 0.0 : static_cast<double>(now - lastLine_) / 1000.0;
        const uint64_t speed =
            seconds > 0 && bytes > lastBytes_ ? static_cast<uint64_t>((bytes - lastBytes_) / seconds) : 0;
        lastLine_ = now;
        lastBytes_ = bytes;
        if (phase == Phase::Checking) {
            PrintLine(fmt::format(L"checked {} / {} files", progress_.checkDone.load(),
                                  progress_.checkTotal.load()));
        } else if (phase == Phase::Downloading) {
            PrintLine(fmt::format(L"{} / {}  ·  {}/s  ·  {} / {} files", SizeText(bytes),
                                  SizeText(progress_.bytesTotal.load()), SizeText(speed),
                                  progress_.filesDone.load(), progress_.filesTotal.load()));
        }
    }

private:
    UpdateProgress& progress_;
    Phase lastPhase_ = Phase::Idle;
    uint64_t lastLine_ = 0;
    uint64_t lastBytes_ = 0;
};

} // namespace

int RunUpdateCommand(const std::wstring& gameFolderArgument, bool repair) {
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
    std::stop_source stop;
    runStop = &stop;
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    std::atomic<bool> ended{false};
    UpdateParams params{gameFolder, repair, false, L""};
    std::jthread run([&](std::stop_token) {
        UpdateRun(params, progress, stop.get_token());
        ended.store(true);
    });
    ProgressPrinter printer(progress);
    while (!ended.load()) {
        printer.Tick(progress.phase.load());
        ::Sleep(kPollMs);
    }
    run.join();
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    runStop = nullptr;

    const Phase phase = progress.phase.load();
    printer.Tick(phase);
    std::wstring status;
    {
        std::lock_guard guard(progress.lock);
        status = progress.statusText;
    }
    if (stop.stop_requested() && phase != Phase::Done) {
        PrintErrorLine(L"update cancelled");
        return 1;
    }
    if (phase == Phase::Done) {
        PrintLine(status);
        return 0;
    }
    PrintErrorLine(status);
    return 1;
}

} // namespace Orv::Publisher
