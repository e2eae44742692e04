#pragma once

namespace Orv {

// Starts an update run on its own thread unless one is in progress.
void StartUpdate(bool repair);

// PLAY (or RETRY) pressed.
void OnPlayPressed();

// Whether closing the window may go ahead (asks while files are checked or downloaded).
bool ConfirmClose();

} // namespace Orv
