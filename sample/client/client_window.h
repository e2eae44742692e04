#pragma once
#include <windows.h>

#include <optional>
#include <string>

// What the two sample client programs share: their argument text, their own folder, small files
// and a window that shows one block of text.
namespace Orv::Sample {

// The command line after the program path and the spaces or tabs that follow it, as it is.
std::wstring ArgumentText();

// The folder of the running executable, without a trailing separator.
std::wstring OwnFolder();

// A whole small file; nothing when it cannot be read.
std::optional<std::string> ReadSmallFile(const std::wstring& path);

std::wstring Utf8ToWide(const std::string& text);

// Opens a top-level window of the class with the title and one STATIC child control that holds the
// text, and runs its message loop until the window is closed. Returns the exit code.
int RunTextWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title,
                  const std::wstring& text, int showCommand);

} // namespace Orv::Sample
