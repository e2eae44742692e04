#include "lang/game_language.h"

#include "core/file_io.h"
#include "core/paths.h"
#include "core/text.h"
#include "partners/game_client.h"

#include <string_view>

namespace Orv {

std::string ReadGameLanguage(const std::wstring& gameFolder) {
    const std::wstring path =
        JoinPath(JoinPath(gameFolder, GameClient::kLanguageFolder), GameClient::kLanguageFile);
    const auto bytes = ReadFileBytes(path);
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

void SetUiLanguageFromCode(const std::string& code) {
    SetTurkish(code == "tr");
}

} // namespace Orv
