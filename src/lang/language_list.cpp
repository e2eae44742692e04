#include "lang/language_list.h"

#include "core/file_io.h"
#include "core/paths.h"
#include "core/text.h"
#include "partners/game_client.h"

#include <regex>

namespace Orv {
namespace {

struct LanguagePatterns {
    std::regex object{R"(\{[^{}]*\})"};
    std::regex code{R"re("code"\s*:\s*"([^"]+)")re"};
    std::regex name{R"re("nativeName"\s*:\s*"([^"]+)")re"};
    std::regex enabled{R"re("enabled"\s*:\s*true)re"};
};

// Compiled once, on first use; the initialisation of a local static is thread-safe.
const LanguagePatterns& Patterns() {
    static const LanguagePatterns patterns;
    return patterns;
}

std::wstring LanguagesPath(const std::wstring& gameFolder) {
    return JoinPath(JoinPath(gameFolder, GameClient::kLanguageFolder), GameClient::kLanguagesFile);
}

} // namespace

std::vector<LanguageEntry> ParseLanguages(std::string_view json) {
    const LanguagePatterns& patterns = Patterns();
    std::vector<LanguageEntry> entries;
    using Iterator = std::regex_iterator<std::string_view::const_iterator>;
    for (Iterator it(json.begin(), json.end(), patterns.object), end; it != end; ++it) {
        const auto& object = (*it)[0];
        if (!std::regex_search(object.first, object.second, patterns.enabled)) {
            continue;
        }
        std::match_results<std::string_view::const_iterator> code;
        if (!std::regex_search(object.first, object.second, code, patterns.code)) {
            continue;
        }
        std::match_results<std::string_view::const_iterator> name;
        const bool named = std::regex_search(object.first, object.second, name, patterns.name);
        entries.push_back({code[1].str(), Utf8ToWide(named ? name[1].str() : code[1].str())});
    }
    if (entries.empty()) {
        entries.push_back({"en", L"English"});
    }
    return entries;
}

std::vector<LanguageEntry> LoadLanguages(const std::wstring& gameFolder) {
    return ParseLanguages(ReadFileBytes(LanguagesPath(gameFolder)).value_or(std::string()));
}

bool LanguagesFilePresent(const std::wstring& gameFolder) {
    return IsRegularFile(LanguagesPath(gameFolder));
}

} // namespace Orv
