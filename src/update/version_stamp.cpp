#include "update/version_stamp.h"

#include "core/file_io.h"
#include "core/handles.h"
#include "core/log.h"
#include "core/text.h"
#include "partners/game_client.h"

#include <windows.h>

#include <fmt/xchar.h>
#include <string_view>

namespace Orv {
namespace {

bool IsGap(char c) {
    return c == ' ' || c == '\t';
}

// Position and length of the value of the first qualifying key line; nothing when there is none.
bool FindValue(const std::string& text, size_t& start, size_t& length) {
    const std::string_view key = GameClient::kClientVersionKey;
    size_t from = 0;
    for (;;) {
        const size_t match = text.find(key, from);
        if (match == std::string::npos) {
            return false;
        }
        if (match != 0 && text[match - 1] != '\n') {
            from = match + key.size();
            continue;
        }
        const size_t after = match + key.size();
        if (after >= text.size() || !IsGap(text[after])) {
            from = after;
            continue;
        }
        start = after;
        while (start < text.size() && IsGap(text[start])) {
            ++start;
        }
        size_t end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n' && !IsGap(text[end])) {
            ++end;
        }
        length = end - start;
        return true;
    }
}

// Writes the whole text beside the file and moves it over, so the file is never left cut short.
void ReplaceFile(const std::wstring& path, const std::string& text) {
    const std::wstring temporary = path + L".tmp";
    {
        FileHandle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            return;
        }
        DWORD written = 0;
        if (!::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size()) {
            file.Reset();
            ::DeleteFileW(temporary.c_str());
            return;
        }
    }
    if (!::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(temporary.c_str());
    }
}

} // namespace

void StampClientVersion(const std::wstring& path, const std::wstring& version) {
    if (version.empty()) {
        return;
    }
    auto text = ReadFileBytes(path);
    if (!text) {
        return;
    }
    const std::string newValue = WideToUtf8(version);
    size_t start = 0;
    size_t length = 0;
    if (!FindValue(*text, start, length)) {
        return;
    }
    const std::string oldValue = text->substr(start, length);
    if (oldValue == newValue) {
        return;
    }
    Log(fmt::format(L"VersionInfo.ver ClientVersion {} -> {}", Utf8ToWide(oldValue), version));
    text->replace(start, length, newValue);
    ReplaceFile(path, *text);
}

} // namespace Orv
