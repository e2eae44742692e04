#include "lang/language_list.h"

#include "core/file_io.h"
#include "core/paths.h"
#include "core/text.h"
#include "partners/game_client.h"

#include <optional>

namespace Orv {
namespace {

// The file is scanned, not parsed as JSON: an entry is an innermost "{...}" span, and inside it
// "code", "nativeName" and "enabled" are found by their key text. Every scan here is linear and
// keeps no stack, so a file of any size or nesting is read in one pass.

// White space as the C locale knows it.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

size_t SkipBlanks(std::string_view text, size_t at) {
    while (at < text.size() && IsBlank(text[at])) {
        ++at;
    }
    return at;
}

// Where the value of key starts at: after the key's text, blanks, a colon and blanks. npos when
// the text there is not of that shape.
size_t ValueStart(std::string_view object, size_t at, std::string_view key) {
    at = SkipBlanks(object, at + key.size());
    if (at >= object.size() || object[at] != ':') {
        return std::string_view::npos;
    }
    return SkipBlanks(object, at + 1);
}

// The first occurrence of key followed by a quoted, non-empty value without quotes in it; the value
// is taken as it stands.
std::optional<std::string_view> QuotedValue(std::string_view object, std::string_view key) {
    for (size_t match = object.find(key); match != std::string_view::npos;
         match = object.find(key, match + 1)) {
        const size_t value = ValueStart(object, match, key);
        if (value >= object.size() || object[value] != '"') {
            continue;
        }
        const size_t close = object.find('"', value + 1);
        if (close != std::string_view::npos && close > value + 1) {
            return object.substr(value + 1, close - value - 1);
        }
    }
    return std::nullopt;
}

// Whether key occurs followed by the literal true.
bool HasTrue(std::string_view object, std::string_view key) {
    for (size_t match = object.find(key); match != std::string_view::npos;
         match = object.find(key, match + 1)) {
        const size_t value = ValueStart(object, match, key);
        if (value != std::string_view::npos && object.substr(value, 4) == "true") {
            return true;
        }
    }
    return false;
}

std::wstring LanguagesPath(const std::wstring& gameFolder) {
    return JoinPath(JoinPath(gameFolder, GameClient::kLanguageFolder), GameClient::kLanguagesFile);
}

} // namespace

std::vector<LanguageEntry> ParseLanguages(std::string_view json) {
    std::vector<LanguageEntry> entries;
    size_t open = std::string_view::npos;
    for (size_t at = json.find_first_of("{}"); at != std::string_view::npos;
         at = json.find_first_of("{}", at + 1)) {
        if (json[at] == '{') {
            open = at;
            continue;
        }
        if (open == std::string_view::npos) {
            continue;
        }
        const std::string_view object = json.substr(open, at + 1 - open);
        open = std::string_view::npos;
        if (!HasTrue(object, R"("enabled")")) {
            continue;
        }
        const auto code = QuotedValue(object, R"("code")");
        if (!code) {
            continue;
        }
        const auto name = QuotedValue(object, R"("nativeName")");
        entries.push_back({std::string(*code), Utf8ToWide(name.value_or(*code))});
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
