#pragma once
#include <string>

namespace Orv {

// The launcher-mode controls, in tab order; PLAY and Repair start disabled.
void CreateMainControls();

// The tooltip of the log's path after a failure, in the UI language.
std::wstring LogLinkTip();

} // namespace Orv
