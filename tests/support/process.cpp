#include "process.h"

#include "core/handles.h"
#include "test_folder.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <cwctype>
#include <utility>
#include <vector>

namespace Orv::Support {

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), id_(std::exchange(other.id_, 0)),
      startProblem_(std::move(other.startProblem_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        if (process_ != nullptr) {
            ::CloseHandle(process_);
        }
        process_ = std::exchange(other.process_, nullptr);
        id_ = std::exchange(other.id_, 0);
        startProblem_ = std::move(other.startProblem_);
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    if (process_ != nullptr) {
        ::CloseHandle(process_);
    }
}

std::optional<DWORD> ChildProcess::WaitExit(std::chrono::milliseconds limit) const {
    if (process_ == nullptr ||
        ::WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    return code;
}

bool ChildProcess::Running() const {
    return process_ != nullptr && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

void ChildProcess::Kill() const {
    if (Running()) {
        ::TerminateProcess(process_, 99);
        ::WaitForSingleObject(process_, 5000);
    }
}

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return text;
}

std::wstring ImagePath(DWORD pid) {
    KernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
        return {};
    }
    wchar_t path[4096] = {};
    DWORD length = 4096;
    if (!::QueryFullProcessImageNameW(process.Get(), 0, path, &length)) {
        return {};
    }
    return std::wstring(path, length);
}

std::string Failed(const char* call, DWORD error) {
    return std::string(call) + " failed with error " + std::to_string(error);
}

} // namespace

std::vector<DWORD> ProcessesRunningFrom(const std::wstring& folder) {
    std::vector<DWORD> found;
    std::wstring prefix = Lower(folder);
    if (prefix.empty() || prefix.back() != L'\\') {
        prefix += L'\\';
    }
    FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return found;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
         more = ::Process32NextW(snapshot.Get(), &entry)) {
        if (Lower(ImagePath(entry.th32ProcessID)).rfind(prefix, 0) == 0) {
            found.push_back(entry.th32ProcessID);
        }
    }
    return found;
}

void EndProcessesRunningFrom(const std::wstring& folder) {
    for (const DWORD pid : ProcessesRunningFrom(folder)) {
        KernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        if (process) {
            ::TerminateProcess(process.Get(), 99);
            ::WaitForSingleObject(process.Get(), 10000);
        }
    }
}

ChildProcess StartProcess(const std::wstring& exe, const std::wstring& arguments,
                          const std::wstring& workingFolder, const std::wstring& outputFile,
                          DWORD creationFlags) {
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    FileHandle output;
    FileHandle input;
    if (!outputFile.empty()) {
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        output.Reset(::CreateFileW(outputFile.c_str(), GENERIC_WRITE, share, &inherited, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!output) {
            return ChildProcess(Failed("creating the output file", ::GetLastError()));
        }
        input.Reset(::CreateFileW(L"NUL", GENERIC_READ, share, &inherited, OPEN_EXISTING, 0, nullptr));
        if (!input) {
            return ChildProcess(Failed("opening NUL", ::GetLastError()));
        }
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input.Get();
        startup.hStdOutput = output.Get();
        startup.hStdError = output.Get();
    }
    // Under a loaded Wine a start fails now and then and works when asked again: asked for up to 10 s.
    PROCESS_INFORMATION info{};
    DWORD error = 0;
    const bool started = WaitUntil(
        [&] {
            if (::CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, output ? TRUE : FALSE,
                                 creationFlags, nullptr,
                                 workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &info)) {
                return true;
            }
            error = ::GetLastError();
            return false;
        },
        std::chrono::seconds(10));
    if (!started) {
        return ChildProcess(Failed("CreateProcessW", error));
    }
    ::CloseHandle(info.hThread);
    return ChildProcess(info.hProcess, info.dwProcessId);
}

ChildProcess HoldFilesForMoments(const std::vector<std::wstring>& paths, unsigned heldMs, unsigned freeMs,
                                 unsigned totalMs) {
    TempFolder markers(L"orvhold");
    const std::wstring ready = markers / L"ready";
    std::wstring arguments = std::to_wstring(heldMs) + L" " + std::to_wstring(freeMs) + L" " +
                             std::to_wstring(totalMs) + L" \"" + ready + L"\"";
    for (const std::wstring& path : paths) {
        arguments += L" \"" + path + L"\"";
    }
    ChildProcess holder = StartProcess(BinaryFolder() + L"\\orvhold.exe", arguments);
    EXPECT_TRUE(holder.Started()) << holder.StartProblem();
    EXPECT_TRUE(WaitUntil([&] { return Exists(ready) || !holder.Running(); }, std::chrono::seconds(30)));
    return holder;
}

} // namespace Orv::Support
