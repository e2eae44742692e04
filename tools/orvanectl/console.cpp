#include "orvanectl/console.h"

#include "core/text.h"

#include <windows.h>

#include <mutex>
#include <string>

namespace Orv::Publisher {
namespace {

std::mutex& OutputLock() {
    static std::mutex lock;
    return lock;
}

void WriteLine(DWORD which, std::wstring_view text) {
    const HANDLE handle = ::GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    std::wstring line(text);
    line += L"\r\n";
    const std::lock_guard lock(OutputLock());
    DWORD mode = 0;
    if (::GetConsoleMode(handle, &mode)) {
        DWORD written = 0;
        ::WriteConsoleW(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    const std::string bytes = WideToUtf8(line);
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                         nullptr) ||
            written == 0) {
            return;
        }
        done += written;
    }
}

} // namespace

void PrintLine(std::wstring_view text) {
    WriteLine(STD_OUTPUT_HANDLE, text);
}

void PrintErrorLine(std::wstring_view text) {
    WriteLine(STD_ERROR_HANDLE, text);
}

} // namespace Orv::Publisher
