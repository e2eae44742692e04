#pragma once

namespace Orv {

// Starts an update run on its own thread unless one is in progress.
void StartUpdate(bool repair);

// Starts the game's launch program with the release's server value and closes the window.
void LaunchGame();

} // namespace Orv
