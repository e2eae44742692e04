#pragma once
#include <string>

namespace Orv::Publisher {

// Brings the game folder to the current release without a window (never replaces the launcher):
// prints the phases, a progress line about once a second, and the final status. 0 when the run
// ended done, 1 otherwise (failed, cancelled with Ctrl+C, or another launcher holds the folder).
int RunUpdateCommand(const std::wstring& gameFolder, bool repair);

} // namespace Orv::Publisher
