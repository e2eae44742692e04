#pragma once
#include "orvanectl/command.h"

#include <string>

namespace Orv::Publisher {

// Brings the game folder to the current release without a window (never replaces the launcher):
// prints the phases, a progress line about once a second, what a repair repaired and the final status
// (with --json one JSON object instead). 0 when the run ended done, 130 when Ctrl+C or Ctrl+Break
// stopped it, 1 otherwise (failed, or another launcher holds the folder).
int RunUpdateCommand(const std::wstring& gameFolder, bool repair, const CommonOptions& common);

} // namespace Orv::Publisher
