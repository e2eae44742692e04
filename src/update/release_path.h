#pragma once
#include <string_view>

// The paths a release may name: relative to the game folder, with backslashes, and each naming one
// ordinary file inside it, the same file on every Windows system.
namespace Orv {

// True when the path is refused: empty; beginning with "\" (roots, UNC and device paths); holding ":"
// (drive letters, streams), ".." anywhere, a character below U+0020 (NUL included) or one of the
// characters Windows refuses in names (< > " | ? *); with an empty
// component, or one ending in "." or " " (Windows strips those, so two rows could name one file); with
// a component that is a device name ("CON", "PRN", "AUX", "NUL", "COM1"-"COM9", "LPT1"-"LPT9",
// "CONIN$", "CONOUT$", any case, with or without an extension); or inside the launcher's own data
// folder ".orvane".
bool IsRefusedPath(std::wstring_view path);

} // namespace Orv
