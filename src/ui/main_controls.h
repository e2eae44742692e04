#pragma once

namespace Orv {

// The launcher-mode controls, in tab order; PLAY and Repair start disabled.
void CreateMainControls();

} // namespace Orv
