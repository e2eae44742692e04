#pragma once
#include <string_view>

namespace Orv::Publisher {

// Writes the text and a line end to standard output (or standard error): through WriteConsoleW when
// it is a console, else as UTF-8 bytes. A text of several lines ("\n" between them) is written as
// such. Safe to call from any thread; lines never mix.
void PrintLine(std::wstring_view text);
void PrintErrorLine(std::wstring_view text);

// With --quiet only errors and the final summary line are printed: PrintNote drops its lines.
void SetQuiet(bool quiet);
// With --json standard output holds the JSON object alone: notes go to standard error.
void SetNotesToErrors(bool toErrors);
// Progress lines and notes: printed unless quiet.
void PrintNote(std::wstring_view text);

// A failure of the command: every line of the message but the last as it is (each names one
// problem), then "<command> failed: <last line>", on standard error.
void PrintFailure(std::wstring_view command, std::wstring_view message);

} // namespace Orv::Publisher
