#include "update/version_stamp.h"

#include "core/file_io.h"
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

} // namespace

std::optional<std::string> ClientVersionIn(const std::string& text) {
    size_t start = 0;
    size_t length = 0;
    if (!FindValue(text, start, length)) {
        return std::nullopt;
    }
    return text.substr(start, length);
}

void StampClientVersion(const std::wstring& path, const std::wstring& version) {
    if (version.empty()) {
        return;
    }
    // The game reads the value up to the first blank, and the value found on the next run ends
    // there too: a version holding one would be written again at every run.
    if (version.find_first_of(L" \t\r\n") != std::wstring::npos) {
        Log(fmt::format(L"VersionInfo.ver: client version \"{}\" holds a blank or a line break, not stamped",
                        version));
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
    // The game reads this file: it is never left cut short.
    ReplaceFileBytes(path, *text);
}

} // namespace Orv
