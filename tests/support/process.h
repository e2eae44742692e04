#pragma once
#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Orv::Support {

// A started child process; the handle is closed with the object (the child is not killed).
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(HANDLE process, DWORD id) : process_(process), id_(id) {}
    // A process that could not be started, with the call that failed and its error.
    explicit ChildProcess(std::string startProblem) : startProblem_(std::move(startProblem)) {}
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    bool Started() const { return process_ != nullptr; }
    // Why the process did not start (empty when it did).
    const std::string& StartProblem() const { return startProblem_; }
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_; }
    // The exit code once the process has ended within the limit; nothing while it still runs.
    std::optional<DWORD> WaitExit(std::chrono::milliseconds limit) const;
    bool Running() const;
    void Kill() const;

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
    std::string startProblem_;
};

// Starts "exe" with the argument text, in the working folder (or the current one when empty). With an
// output file, the child's standard output and standard error go to that file (created anew) and its
// standard input is NUL. `creationFlags` are CreateProcessW's (CREATE_NEW_PROCESS_GROUP, ...).
ChildProcess StartProcess(const std::wstring& exe, const std::wstring& arguments,
                          const std::wstring& workingFolder = {}, const std::wstring& outputFile = {},
                          DWORD creationFlags = 0);

// orvhold, holding the files as a scanner does (no delete sharing) for heldMs, free for freeMs, in turn
// for totalMs; returns once they are held the first time (a child that did not start fails the test).
ChildProcess HoldFilesForMoments(const std::vector<std::wstring>& paths, unsigned heldMs, unsigned freeMs,
                                 unsigned totalMs);

// Ids of the running processes whose executable lies in the folder (or below it).
std::vector<DWORD> ProcessesRunningFrom(const std::wstring& folder);

// Ends every process whose executable lies in the folder and waits (bounded) until each has ended.
void EndProcessesRunningFrom(const std::wstring& folder);

} // namespace Orv::Support
