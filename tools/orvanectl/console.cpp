#include "orvanectl/console.h"

#include "core/text.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <atomic>
#include <mutex>
#include <string>

namespace Orv::Publisher {
namespace {

std::atomic<bool> quietOutput{false};
std::atomic<bool> notesToErrors{false};

std::mutex& OutputLock() {
    static std::mutex lock;
    return lock;
}

void WriteLine(DWORD which, std::wstring_view text) {
    const HANDLE handle = ::GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    std::wstring line;
    for (const wchar_t c : text) {
        if (c == L'\n' && (line.empty() || line.back() != L'\r')) {
            line += L'\r';
        }
        line += c;
    }
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

void SetQuiet(bool quiet) {
    quietOutput.store(quiet);
}

void SetNotesToErrors(bool toErrors) {
    notesToErrors.store(toErrors);
}

void PrintNote(std::wstring_view text) {
    if (!quietOutput.load()) {
        WriteLine(notesToErrors.load() ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, text);
    }
}

void PrintFailure(std::wstring_view command, std::wstring_view message) {
    const size_t last = message.rfind(L'\n');
    if (last != std::wstring_view::npos) {
        WriteLine(STD_ERROR_HANDLE, message.substr(0, last));
    }
    const std::wstring_view summary = last == std::wstring_view::npos ? message : message.substr(last + 1);
    WriteLine(STD_ERROR_HANDLE, fmt::format(L"{} failed: {}", command, summary));
}

} // namespace Orv::Publisher
