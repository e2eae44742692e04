#pragma once
#include <string>

namespace Orv {

// The code of the "[Language]" section's first "Code=" line of lang\lang.ini; empty when none.
std::string ReadGameLanguage(const std::wstring& gameFolder);

// The launcher speaks Turkish exactly when the code is "tr".
void SetUiLanguageFromCode(const std::string& code);

} // namespace Orv
