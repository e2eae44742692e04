#pragma once
#include <string_view>

namespace Orv::Publisher {

// Writes the text and a line end to standard output (or standard error): through WriteConsoleW when
// it is a console, else as UTF-8 bytes. Safe to call from any thread; lines never mix.
void PrintLine(std::wstring_view text);
void PrintErrorLine(std::wstring_view text);

} // namespace Orv::Publisher
