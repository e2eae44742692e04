#include "core/log.h"

#include "core/handles.h"
#include "core/paths.h"
#include "core/text.h"

#include <windows.h>

#include <filesystem>
#include <fmt/format.h>
#include <mutex>

namespace Orv {
namespace {

// Both live until the process ends; ExitProcess never runs their destructors.
std::mutex logMutex;
FileHandle logFile;

std::string FormatLine(const SYSTEMTIME& t, std::wstring_view text) {
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02} {}\r\n", t.wYear, t.wMonth, t.wDay, t.wHour,
                       t.wMinute, t.wSecond, WideToUtf8(text));
}

} // namespace

void OpenLog(const std::wstring& path) {
    std::lock_guard lock(logMutex);
    EnsureFolder(ParentFolder(path));

    // A file above the limit, or one whose size cannot be read, is kept as the one older log.
    if (IsRegularFile(path)) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const bool sizeKnown =
            ::GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data) != 0;
        const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (!sizeKnown || size > kLogRotateSize) {
            const std::wstring old = path + L".old";
            ::MoveFileExW(LongPath(path).c_str(), LongPath(old).c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
        }
    }
    logFile.Reset(::CreateFileW(LongPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void Log(std::wstring_view text) {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const std::string line = FormatLine(now, text);

    std::lock_guard lock(logMutex);
    if (logFile) {
        DWORD written = 0;
        // Append mode: every write goes to the end and reaches the system before Log returns.
        ::WriteFile(logFile.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    ::OutputDebugStringA(line.c_str());
}

} // namespace Orv
