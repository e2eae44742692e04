#pragma once
#include <cstdint>
#include <string>

namespace Orv {

// "--uninstall": asks (unless quiet), copies the launcher to the temporary folder as
// "Orvane_uninstall.exe" and starts that copy on the folder. Returns 1 when the user declines, 0 once
// the copy has started, otherwise the result of UninstallRun in this process.
int Uninstall(const std::wstring& folder, bool quiet);

// "--uninstall-run": waits for the process (when pid is not 0), then removes the game files listed by
// the folder's manifest copy, the launcher's own files, its data folder, shortcuts and registry keys,
// leaving the user's files. Returns 2 when the folder has no manifest copy (nothing is touched), else 0.
int UninstallRun(const std::wstring& folder, uint32_t pid, bool quiet);

} // namespace Orv
