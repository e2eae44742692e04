#include "lang/game_language.h"

#include "core/file_io.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/text.h"
#include "partners/game_client.h"

#include <filesystem>
#include <string_view>
#include <system_error>

namespace Orv {

namespace {

std::wstring LanguageFolder(const std::wstring& gameFolder) {
    return JoinPath(gameFolder, GameClient::kLanguageFolder);
}

} // namespace

std::string ReadGameLanguage(const std::wstring& gameFolder) {
    const auto bytes = ReadFileBytes(JoinPath(LanguageFolder(gameFolder), GameClient::kLanguageFile));
    if (!bytes) {
        return {};
    }
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    constexpr std::string_view key = "Code=";
    bool inSection = false;
    size_t position = 0;
    while (position < bytes->size()) {
        size_t end = bytes->find('\n', position);
        if (end == std::string::npos) {
            end = bytes->size();
        }
        std::string_view line(bytes->data() + position, end - position);
        position = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.remove_suffix(1);
        }
        if (line.starts_with(bom)) {
            line.remove_prefix(bom.size());
        }
        if (line.starts_with('[')) {
            inSection = line == "[Language]";
        } else if (inSection && line.starts_with(key)) {
            return std::string(line.substr(key.size()));
        }
    }
    return {};
}

bool WriteGameLanguage(const std::wstring& gameFolder, const std::string& code) {
    const std::wstring folder = LanguageFolder(gameFolder);
    EnsureFolder(folder);
    const ReplaceStatus status = ReplaceFileContent(JoinPath(folder, GameClient::kLanguageFile),
                                                    "[Language]\r\nCode=" + code + "\r\n");
    if (status == ReplaceStatus::NotWritten) {
        return false;
    }
    const bool ok = status == ReplaceStatus::Replaced;
    Log(L"game language -> " + Utf8ToWide(code) + (ok ? L"" : L" (write failed)"));
    return ok;
}

void SetUiLanguageFromCode(const std::string& code) {
    SetTurkish(code == "tr");
}

} // namespace Orv
