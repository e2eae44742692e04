#include "install/process_launch.h"

#include "core/handles.h"
#include "core/log.h"
#include "core/text.h"

#include <windows.h>

#include <fmt/xchar.h>
#include <vector>

namespace Orv {

bool LaunchProcess(const std::wstring& executable, const std::wstring& arguments,
                   const std::wstring& workingFolder) {
    const std::wstring commandLine = fmt::format(L"\"{}\" {}", executable, arguments);
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(executable.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &info)) {
        const DWORD error = ::GetLastError();
        Log(fmt::format(L"CreateProcess {}: {}", executable, ErrorText(error)));
        return false;
    }
    // Closed in reverse order of declaration: the thread first, then the process.
    KernelHandle process(info.hProcess);
    KernelHandle thread(info.hThread);
    return true;
}

} // namespace Orv
