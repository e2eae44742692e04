#include "core/file_io.h"

#include "core/paths.h"
#include "core/held_files.h"
#include "core/handles.h"

#include <windows.h>

namespace Orv {

std::optional<std::string> ReadFileBytes(const std::wstring& path) {
    FileHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) {
            return std::nullopt;
        }
        if (read == 0) {
            return bytes;
        }
        bytes.append(buffer, read);
    }
}

unsigned long FlushFileData(const std::wstring& path) {
    FileHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return ::GetLastError();
    }
    return ::FlushFileBuffers(file.Get()) ? ERROR_SUCCESS : ::GetLastError();
}

ReplaceStatus ReplaceFileContent(const std::wstring& path, std::string_view bytes) {
    const std::wstring temporary = path + L".tmp";
    {
        FileHandle file(::CreateFileW(LongPath(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            return ReplaceStatus::NotWritten;
        }
        DWORD written = 0;
        if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size() || !::FlushFileBuffers(file.Get())) {
            file.Reset();
            DeleteFileWhenFree(temporary);
            return ReplaceStatus::NotWritten;
        }
    }
    if (MoveFileWhenFree(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
        ERROR_SUCCESS) {
        DeleteFileWhenFree(temporary);
        return ReplaceStatus::NotMoved;
    }
    return ReplaceStatus::Replaced;
}

} // namespace Orv
