#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace Orv {

// One language the game offers.
struct LanguageEntry {
    std::string code;        // written to lang.ini, compared byte for byte
    std::wstring nativeName; // shown in the list
};

// The enabled languages of a languages.json text, in file order; the innermost objects are the
// entries. Never empty: when nothing is offered the one entry is ("en", "English").
std::vector<LanguageEntry> ParseLanguages(std::string_view json);

// ParseLanguages of lang\languages.json under the game folder (a missing file reads as empty).
std::vector<LanguageEntry> LoadLanguages(const std::wstring& gameFolder);

// Whether lang\languages.json exists under the game folder.
bool LanguagesFilePresent(const std::wstring& gameFolder);

} // namespace Orv
