#pragma once
#include <windows.h>

#include <string>

namespace Orv {

// Opens the text file in the player's editor: the shell's program for its kind, or Notepad from the
// system folder when the shell has none. Says so in a message box when neither starts.
void OpenInTextEditor(HWND owner, const std::wstring& path);

} // namespace Orv
