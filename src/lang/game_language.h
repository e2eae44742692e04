#pragma once
#include <string>

namespace Orv {

// The code of the "[Language]" section's first "Code=" line of lang\lang.ini; empty when none.
std::string ReadGameLanguage(const std::wstring& gameFolder);

// Writes "[Language]\r\nCode=<code>\r\n" to lang\lang.ini through a temporary file and one move,
// and logs the change. False when the file could not be written or moved.
bool WriteGameLanguage(const std::wstring& gameFolder, const std::string& code);

// The launcher speaks Turkish exactly when the code is "tr".
void SetUiLanguageFromCode(const std::string& code);

} // namespace Orv
